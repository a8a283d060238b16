#pragma once
// The drive table of a Windows machine: the logical drives with the type codes
// the system reports for them. Compiled only on Windows.

#include "drive_table.h"

#include <QtGlobal>

#ifdef Q_OS_WIN

namespace tw::sync {

class WindowsDriveTable final : public DriveTable {
public:
    // The logical drives A: to Z: that exist, each with root "X:/". Never fails.
    QList<Drive> drives() const override;
};

} // namespace tw::sync

#endif
