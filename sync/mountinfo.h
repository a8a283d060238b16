#pragma once
// Reading the kernel's table of mounts (/proc/self/mountinfo).
//
// Each line reads "ID PARENT MAJ:MIN ROOT MOUNTPOINT OPTIONS [OPTIONAL...] - FSTYPE
// SOURCE SUPEROPTIONS". The kernel writes space, tab, newline and backslash
// inside a field as \040, \011, \012 and \134; the parser turns every such octal
// escape back into its byte. Lines that do not have this shape are skipped, so
// any bytes can be handed in.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace tw::sync {

struct MountEntry {
    int major = 0;
    int minor = 0;
    QString root;        // the folder of the file system that is mounted
    QString mountPoint;  // where it is mounted
    QString fsType;
    QString source;      // e.g. "/dev/sdb1", "server:/export"
};

// The field with its octal escapes (a backslash and three octal digits) turned
// back into bytes; a backslash not followed by three octal digits stays as it is.
QByteArray unescapeMountField(QByteArrayView field);

// The well-formed lines of `text`, in order. Never fails.
QList<MountEntry> parseMountinfo(QByteArrayView text);

} // namespace tw::sync
