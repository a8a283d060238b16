#pragma once
// The drive table of a Linux machine: the mounted file systems, given Windows
// drive letters.
//
// Which mounts become drives: every mount listed in mountinfo except pseudo file
// systems (proc, sysfs, cgroup, ...), mounts under /proc, /sys, /dev and /run (the
// system's own plumbing; /run/media, where desktops mount removable media, is
// kept), and further mounts of a device already listed (bind mounts; the mount
// of the file system's own root folder is the one kept).
//
// Type codes: 1 (removable) when the disk behind /sys/dev/block/MAJ:MIN (its
// parent disk, when that is a partition) says removable=1 or hangs off a USB or
// FireWire bus; 4 for iso9660 and udf or an srN device; 3 for nfs, cifs, smb3 and
// sshfs; 5 for tmpfs and ramfs; 2 for everything else.
//
// Letters: C: is "/"; the other drives take D: onward in order of their mount
// point. When there are more drives than letters, fixed and other drives give
// way so that removable drives are never crowded out past Z:.
//
// The mountinfo text and the /sys folder can be given, so that tests run this on
// real mountinfo text over a fake /sys tree.

#include "drive_table.h"

#include <QByteArrayView>

namespace tw::sync {

class LinuxDriveTable final : public DriveTable {
public:
    // Reads `mountinfoPath` afresh at each call of drives(); looks up block
    // devices under `sysRoot`.
    explicit LinuxDriveTable(QString mountinfoPath = QStringLiteral("/proc/self/mountinfo"),
                             QString sysRoot = QStringLiteral("/sys"));

    // The drives of the mount table; empty when it cannot be read.
    QList<Drive> drives() const override;

    // The drives of mountinfo `text`, with block devices looked up under `sysRoot`.
    static QList<Drive> drivesFromMountinfo(QByteArrayView text, const QString& sysRoot);

private:
    QString m_mountinfoPath;
    QString m_sysRoot;
};

} // namespace tw::sync
