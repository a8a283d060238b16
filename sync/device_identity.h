#pragma once
// Which device a drive letter stood for when the iPod was found.
//
// Drive letters are handed out afresh at each look at the drive table, so a
// device mounted or unmounted meanwhile moves a letter to another drive. The
// sync therefore carries the identity of the device it detected (the folder its
// file system was mounted at and that file system's device number) from the
// scan to the write, and checks just before writing that the same file system
// is still there and still holds the SysInfo file.

#include <QString>

namespace tw::sync {

class DriveTable;

struct DeviceIdentity {
    QString drive;       // drive text at detection ("E:")
    QString root;        // the local folder its paths start from
    quint64 device = 0;  // the file system's device number (volume serial on Windows)

    // False when no drive was found (the drive text named none).
    bool isValid() const { return !root.isEmpty(); }
};

// The identity of the drive the drive text `drive` names now; not valid when it
// names no drive or its folder cannot be read.
DeviceIdentity identifyDrive(const DriveTable& drives, const QString& drive);

// The identity of the drive at `root`, named `drive`.
DeviceIdentity identifyRoot(const QString& drive, const QString& root);

// True when `identity` is valid, its folder is still the root of the same file
// system and that file system still holds the SysInfo file.
bool isStillAttached(const DeviceIdentity& identity);

} // namespace tw::sync
