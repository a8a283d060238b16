#include "device_detection.h"

#include "drive_path.h"
#include "drive_table.h"
#include "sysinfo.h"

#include <QFileInfo>

namespace tw::sync {
namespace {

bool isFile(const QString& path) { return !path.isEmpty() && QFileInfo(path).isFile(); }

} // namespace

QString detectIpodDrive(const DriveTable& drives, bool& ipodFound)
{
    for (const Drive& drive : drives.drives()) {
        // Both tests are made for every drive; the file test first.
        const bool hasSysInfo = isFile(resolveUnderRoot(drive.root, kSysInfoPath));
        const bool removable = drive.type == kDriveRemovable;
        if (hasSysInfo && removable) {
            ipodFound = true;
            return QString(drive.letter.toUpper()) + u':';
        }
    }
    return QStringLiteral("0");
}

int16_t detectIpodVersion(const DriveTable& drives, const QString& strDrive)
{
    const QString path = localPath(drives, QString(strDrive).append(QStringView(kSysInfoPath)));
    if (!isFile(path))
        return 0;
    QString item;
    if (!readFirstDataItem(path, item))
        return 2;  // the file is there, so a device is; see versionFromItem
    return versionFromItem(item);
}

} // namespace tw::sync
