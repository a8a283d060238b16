// The SysInfo reader on arbitrary bytes: the first data item and the version
// taken from it. The item never exceeds the input and the version is 1 or 2.
#include "sync/sysinfo.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString item = tw::sync::firstDataItem(bytes);
    if (item.size() > bytes.size())
        std::abort();
    const int16_t version = tw::sync::versionFromItem(item);
    if (version != 1 && version != 2)
        std::abort();
    return 0;
}
