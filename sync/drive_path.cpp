#include "drive_path.h"

#include "drive_table.h"

#include <QDir>
#include <QFileInfo>

namespace tw::sync {
namespace {

bool isSeparator(QChar c) { return c == u'\\' || c == u'/'; }

// The entry of `folder` named `name` without regard to letter case, or an empty
// string when there is none.
QString matchIgnoringCase(const QString& folder, const QString& name)
{
    const QDir dir(folder);
    const QStringList entries = dir.entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return {};
}

} // namespace

QString resolveUnderRoot(const QString& root, QStringView relative)
{
    if (root.isEmpty())
        return {};
    QString path = root;
    bool matching = true;  // false once a component matched nothing
    qsizetype start = 0;
    while (start <= relative.size()) {
        qsizetype end = start;
        while (end < relative.size() && !isSeparator(relative[end]))
            ++end;
        const QString name = relative.mid(start, end - start).toString();
        start = end + 1;
        if (name.isEmpty() || name == u".")
            continue;
        if (name == u"..")
            return {};
        if (!path.endsWith(u'/'))
            path += u'/';
        if (matching && !QFileInfo::exists(path + name)) {
            const QString match = matchIgnoringCase(path, name);
            if (!match.isEmpty()) {
                path += match;
                continue;
            }
            matching = false;
        }
        path += name;
    }
    return path;
}

QString localPath(const DriveTable& drives, const QString& drivePath)
{
    if (drivePath.size() < 2 || drivePath[1] != u':' || !drivePath[0].isLetter())
        return {};
    const QStringView rest = QStringView(drivePath).mid(2);
    if (!rest.isEmpty() && !isSeparator(rest[0]))
        return {};
    const QChar letter = drivePath[0].toUpper();
    for (const Drive& drive : drives.drives()) {
        if (drive.letter.toUpper() == letter)
            return resolveUnderRoot(drive.root, rest);
    }
    return {};
}

} // namespace tw::sync
