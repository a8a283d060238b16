#include "mountinfo.h"

#include <QFile>

namespace tw::sync {
namespace {

bool isOctal(char c) { return c >= '0' && c <= '7'; }

QList<QByteArrayView> splitFields(QByteArrayView line)
{
    QList<QByteArrayView> fields;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == ' ') {
            if (i > start)
                fields.append(line.sliced(start, i - start));
            start = i + 1;
        }
    }
    return fields;
}

// "MAJ:MIN" as two numbers; false when the field has another form.
bool parseDevice(QByteArrayView field, int& major, int& minor)
{
    const qsizetype colon = field.indexOf(':');
    if (colon <= 0)
        return false;
    bool majorOk = false;
    bool minorOk = false;
    major = field.first(colon).toInt(&majorOk);
    minor = field.sliced(colon + 1).toInt(&minorOk);
    return majorOk && minorOk && major >= 0 && minor >= 0;
}

QString decodedField(QByteArrayView field) { return QFile::decodeName(unescapeMountField(field)); }

} // namespace

QByteArray unescapeMountField(QByteArrayView field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2])
            && isOctal(field[i + 3])) {
            const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value <= 0xFF) {
                out.append(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return out;
}

QList<MountEntry> parseMountinfo(QByteArrayView text)
{
    QList<MountEntry> entries;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        const QList<QByteArrayView> fields = splitFields(text.sliced(start, end - start));
        start = end + 1;

        // Six fixed fields, optional fields, the separator "-", then three more.
        qsizetype separator = -1;
        for (qsizetype i = 6; i < fields.size(); ++i) {
            if (fields[i] == "-") {
                separator = i;
                break;
            }
        }
        if (separator < 0 || separator + 2 >= fields.size())
            continue;
        MountEntry entry;
        if (!parseDevice(fields[2], entry.major, entry.minor))
            continue;
        entry.root = decodedField(fields[3]);
        entry.mountPoint = decodedField(fields[4]);
        entry.fsType = decodedField(fields[separator + 1]);
        entry.source = decodedField(fields[separator + 2]);
        if (!entry.mountPoint.startsWith(u'/'))
            continue;
        entries.append(entry);
    }
    return entries;
}

} // namespace tw::sync
