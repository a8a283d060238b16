#include "device_detection.h"

#include "device_identity.h"
#include "drive_path.h"
#include "drive_table.h"
#include "sysinfo.h"

#include <QFileInfo>

namespace tw::sync {
namespace {

bool isFile(const QString& path) { return !path.isEmpty() && QFileInfo(path).isFile(); }

// The version the SysInfo file at `path` gives; 0 when there is none.
int16_t versionAt(const QString& path)
{
    if (!isFile(path))
        return 0;
    QString item;
    if (!readFirstDataItem(path, item))
        return 2;  // the file is there, so a device is; see versionFromItem
    return versionFromItem(item);
}

} // namespace

QString detectIpodDrive(const DriveTable& drives, bool& ipodFound, DeviceIdentity* identity)
{
    if (identity)
        *identity = {};
    for (const Drive& drive : drives.drives()) {
        // Both tests are made for every drive; the file test first.
        const bool hasSysInfo = isFile(resolveUnderRoot(drive.root, kSysInfoPath));
        const bool removable = drive.type == kDriveRemovable;
        if (hasSysInfo && removable) {
            const QString text = QString(drive.letter.toUpper()) + u':';
            ipodFound = true;
            if (identity)
                *identity = identifyRoot(text, drive.root);
            return text;
        }
    }
    return QStringLiteral("0");
}

int16_t detectIpodVersion(const DriveTable& drives, const QString& strDrive)
{
    return versionAt(localPath(drives, QString(strDrive).append(QStringView(kSysInfoPath))));
}

int16_t detectIpodVersion(const DeviceIdentity& identity)
{
    if (!isStillAttached(identity))
        return 0;
    return versionAt(resolveUnderRoot(identity.root, kSysInfoPath));
}

} // namespace tw::sync
