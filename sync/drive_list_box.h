#pragma once
// A drive list: a drop-down list of the machine's drives.
//
// A removable or CD-ROM drive reads as its letter and a colon ("e:"); any other
// drive also names its folder ("c: [/]"). Filling the list (refresh) never counts
// as a change of selection; selecting another drive from code does, and the
// change is signalled inside that call (currentIndexChanged).

#include "drive_table.h"

#include <QComboBox>

#include <memory>

namespace tw::sync {

class DriveListBox final : public QComboBox {
    Q_OBJECT
public:
    explicit DriveListBox(std::shared_ptr<const DriveTable> drives, QWidget* parent = nullptr);

    // Reads the drives again. The selected drive stays selected while it is there;
    // otherwise the first drive is selected. Raises no change.
    void refresh();

    // The selected drive's text, or an empty string when the list is empty.
    QString drive() const;

    // Selects the drive whose letter opens `driveText` (letter case ignored).
    // Returns false, changing nothing, when no listed drive has that letter.
    bool setDrive(const QString& driveText);

private:
    std::shared_ptr<const DriveTable> m_drives;
};

} // namespace tw::sync
