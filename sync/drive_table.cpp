#include "drive_table.h"

#include "linux_drive_table.h"
#include "windows_drive_table.h"

namespace tw::sync {

DriveTable::~DriveTable() = default;

std::shared_ptr<const DriveTable> systemDriveTable()
{
#ifdef Q_OS_WIN
    return std::make_shared<WindowsDriveTable>();
#else
    return std::make_shared<LinuxDriveTable>();
#endif
}

} // namespace tw::sync
