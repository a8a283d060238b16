#include "device_identity.h"

#include "device_detection.h"
#include "drive_path.h"
#include "drive_table.h"

#include <QFile>
#include <QFileInfo>

#include <optional>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace tw::sync {
namespace {

// The device number of the file system that holds the folder `path`.
std::optional<quint64> deviceNumber(const QString& path)
{
#ifdef Q_OS_WIN
    // "E:/" names the volume; its serial number tells one medium from another.
    const std::wstring root = QFileInfo(path).absoluteFilePath().left(3).replace(u'/', u'\\').toStdWString();
    DWORD serial = 0;
    if (!GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0))
        return std::nullopt;
    return quint64(serial);
#else
    struct stat info { };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return std::nullopt;
    return quint64(info.st_dev);
#endif
}

} // namespace

DeviceIdentity identifyRoot(const QString& drive, const QString& root)
{
    const std::optional<quint64> device = root.isEmpty() ? std::nullopt : deviceNumber(root);
    if (!device)
        return {};
    return { drive, root, *device };
}

DeviceIdentity identifyDrive(const DriveTable& drives, const QString& drive)
{
    const QString root = localPath(drives, drive);
    return identifyRoot(drive, root);
}

bool isStillAttached(const DeviceIdentity& identity)
{
    if (!identity.isValid())
        return false;
    const std::optional<quint64> device = deviceNumber(identity.root);
    return device && *device == identity.device
        && QFileInfo(resolveUnderRoot(identity.root, kSysInfoPath)).isFile();
}

} // namespace tw::sync
