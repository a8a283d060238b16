#pragma once
// The machine's drives, as the sync window sees them: each drive has a letter, a
// type code and the folder where its file system is mounted.
//
// The sync code names files on a drive as Windows does ("E:\iPod_Control\...");
// drive_path.h turns such a name into a local path under the drive's root. The
// table is an interface so that tests can hand in drives made of temporary
// folders (tests/support/temp_drives.h); systemDriveTable() is the real one.

#include <QChar>
#include <QList>
#include <QString>

#include <memory>

namespace tw::sync {

// Drive type codes.
enum DriveType : int {
    kDriveUnknown = 0,
    kDriveRemovable = 1,
    kDriveFixed = 2,
    kDriveNetwork = 3,
    kDriveCdRom = 4,
    kDriveRamDisk = 5,
};

struct Drive {
    QChar letter;  // upper case, 'A' to 'Z'
    int type = kDriveUnknown;
    QString root;  // the local folder the drive's paths start from
};

class DriveTable {
public:
    virtual ~DriveTable();

    // Every drive of the machine at the moment of the call, in ascending letter
    // order, one entry per letter. Never fails: what cannot be read is left out.
    virtual QList<Drive> drives() const = 0;
};

// The drive table of this machine (on Linux: the mounted file systems).
std::shared_ptr<const DriveTable> systemDriveTable();

} // namespace tw::sync
