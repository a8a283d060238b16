// The mountinfo parser and the drive table built from it, on arbitrary bytes.
// Whatever the text, C: is "/", letters ascend and stay within C: to Z:, and
// every root is an absolute path.
#include "sync/linux_drive_table.h"
#include "sync/mountinfo.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const tw::sync::MountEntry& entry : tw::sync::parseMountinfo(bytes)) {
        if (!entry.mountPoint.startsWith(u'/'))
            std::abort();
    }
    const QList<tw::sync::Drive> drives =
        tw::sync::LinuxDriveTable::drivesFromMountinfo(bytes, QStringLiteral("/nonexistent-sys"));
    if (drives.isEmpty() || drives.first().letter != u'C' || drives.first().root != u"/" || drives.size() > 24)
        std::abort();
    for (qsizetype i = 1; i < drives.size(); ++i) {
        if (drives[i].letter <= drives[i - 1].letter || drives[i].letter > u'Z' || !drives[i].root.startsWith(u'/'))
            std::abort();
    }
    return 0;
}
