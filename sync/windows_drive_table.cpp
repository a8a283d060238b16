#include "windows_drive_table.h"

#ifdef Q_OS_WIN

#include <windows.h>

namespace tw::sync {
namespace {

// GetDriveTypeW's answers as our type codes: "no root folder" counts as unknown.
int typeCode(UINT type)
{
    switch (type) {
    case DRIVE_REMOVABLE:
        return kDriveRemovable;
    case DRIVE_FIXED:
        return kDriveFixed;
    case DRIVE_REMOTE:
        return kDriveNetwork;
    case DRIVE_CDROM:
        return kDriveCdRom;
    case DRIVE_RAMDISK:
        return kDriveRamDisk;
    default:
        return kDriveUnknown;
    }
}

} // namespace

QList<Drive> WindowsDriveTable::drives() const
{
    QList<Drive> result;
    const DWORD mask = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if ((mask & (DWORD(1) << i)) == 0)
            continue;
        const QChar letter(char16_t(u'A' + i));
        const std::wstring root = QString(letter).append(QStringLiteral(":\\")).toStdWString();
        // Asking for the type never touches the medium, so an empty drive is listed too.
        result.append({letter, typeCode(GetDriveTypeW(root.c_str())), QString(letter) + QStringLiteral(":/")});
    }
    return result;
}

} // namespace tw::sync

#endif
