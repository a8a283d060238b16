#include "drive_table.h"

#include "linux_drive_table.h"

namespace tw::sync {

DriveTable::~DriveTable() = default;

std::shared_ptr<const DriveTable> systemDriveTable()
{
    return std::make_shared<LinuxDriveTable>();
}

} // namespace tw::sync
