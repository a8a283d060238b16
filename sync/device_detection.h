#pragma once
// Finding the iPod among the drives and telling its device version.
//
// A device is a removable drive (type 1) that holds \iPod_Control\Device\SysInfo.
// Drive text is a letter and a colon ("E:"); "0" means no device. The version is
// 0 (no SysInfo on that drive), 1 (a version 1 device) or 2 (version 2 or later).

#include <QString>

#include <cstdint>

namespace tw::sync {

class DriveTable;
struct DeviceIdentity;

// The SysInfo file's path under a drive.
inline constexpr char16_t kSysInfoPath[] = u"\\iPod_Control\\Device\\SysInfo";

// Scans the drives in the table's order and returns the drive text of the first
// removable drive holding a SysInfo file, setting `ipodFound` to true; returns
// "0" and leaves `ipodFound` as it was when there is none. A drive without a
// medium or one that vanishes during the scan is skipped. When `identity` is
// given it receives the found device's identity (not valid when none is found),
// so that the write goes to that device whatever letters the drives have by then.
// Never fails.
QString detectIpodDrive(const DriveTable& drives, bool& ipodFound, DeviceIdentity* identity = nullptr);

// The device version of the drive named by `strDrive` (drive text, used as the
// prefix of the path): 0 when no SysInfo file is there (also for text that names
// no drive, such as "0"); otherwise the version its first data item gives
// (sysinfo.h), and 2 when the file is empty, unreadable or holds no digit where
// the version belongs. Never fails.
int16_t detectIpodVersion(const DriveTable& drives, const QString& strDrive);

// The device version of the detected device `identity`: 0 when it is no longer
// attached (isStillAttached), else as above.
int16_t detectIpodVersion(const DeviceIdentity& identity);

} // namespace tw::sync
