#include "sysinfo.h"

#include "settings/code_page.h"

#include <QFile>

namespace tw::sync {

QString firstDataItem(QByteArrayView bytes)
{
    qsizetype start = 0;
    while (start < bytes.size() && (bytes[start] == ' ' || bytes[start] == '\t'))
        ++start;
    qsizetype end = start;
    if (start < bytes.size() && bytes[start] == '"') {
        ++start;
        end = bytes.indexOf('"', start);
        if (end < 0)
            end = bytes.size();
    } else {
        while (end < bytes.size() && bytes[end] != ',' && bytes[end] != '\r')
            ++end;
    }
    return codepage::decode(bytes.data() + start, end - start);
}

bool readFirstDataItem(const QString& path, QString& item)
{
    item.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.read(kMaxSysInfoBytes);
    if (file.error() != QFileDevice::NoError)
        return false;
    item = firstDataItem(bytes);
    return true;
}

int16_t versionFromItem(QStringView item)
{
    // The build number entry reads "buildID: 0x02308000 (2.3)": the word, a colon
    // and a blank, ten hex characters, a blank and a parenthesis, then the version.
    constexpr qsizetype kDigitOffset = 21;
    const qsizetype word = item.indexOf(u"buildID", 0, Qt::CaseSensitive);
    // Without the word the 21st character (index 20) is taken, as a search that
    // finds nothing counts as position 0.
    const qsizetype index = word >= 0 ? word + kDigitOffset : kDigitOffset - 1;
    if (index < item.size() && item[index] == u'1')
        return 1;
    return 2;
}

} // namespace tw::sync
