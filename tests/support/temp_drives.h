#pragma once
// A drive table made of temporary folders, for tests of the sync code.
//
// Each drive added gets a fresh folder as its root inside one QTemporaryDir,
// which is removed with the table. Files are placed on a drive by Windows-style
// paths ("\iPod_Control\Device\SysInfo"), creating the folders on the way. A
// drive can lose its medium (its folder is removed, the drive stays listed), as
// a device pulled out during a scan.

#include "sync/drive_table.h"

#include <QByteArray>
#include <QTemporaryDir>

namespace tw::test {

class TempDrives final : public tw::sync::DriveTable {
public:
    TempDrives();

    // Adds drive `letter` of type `type` with an empty folder as its root and
    // returns that folder. Drives are listed in ascending letter order.
    QString addDrive(QChar letter, int type);
    // Adds a removable drive holding a SysInfo file with `sysInfo`, and a Notes
    // folder when `notes` is true. Returns the drive's root.
    enum class Notes { Absent, Present };
    QString addIpod(QChar letter, const QByteArray& sysInfo, Notes notes = Notes::Present);

    // The local path of `relative` ("\a\b", taken literally) under the drive.
    QString path(QChar letter, const QString& relative) const;
    // Writes `bytes` to the file at `relative` on the drive, creating folders.
    // Returns its local path.
    QString writeFile(QChar letter, const QString& relative, const QByteArray& bytes);
    // Creates the folder `relative` on the drive and returns its local path.
    QString makeFolder(QChar letter, const QString& relative);
    // Removes the drive's folder and all in it; the drive stays in the table.
    void removeMedium(QChar letter);
    // Gives the drive `from` the letter `to`, as a drive mounted or unmounted
    // elsewhere moves the letters; its folder stays. `to` must be free.
    void moveDrive(QChar from, QChar to);
    // Unmounts the drive: it leaves the table and its folder is removed.
    void removeDrive(QChar letter);

    QList<tw::sync::Drive> drives() const override;

private:
    void sortByLetter();

    QTemporaryDir m_dir;
    QList<tw::sync::Drive> m_drives;
    int m_folders = 0;
};

} // namespace tw::test
