#pragma once
// frmSyncIpod, the "Sync 2 iPod" window: each opening is one sync.
//
// The window loads when it is first made visible, before it appears: it scans
// the drives for the iPod, reads the directions text once (through the function
// it was given) and writes the note, showing any message box first; then it
// comes up with the outcome in lblDetect and in the caption of btnResults, which
// closes it. The opener keeps one instance and destroys it on close, so the next
// opening loads afresh.
//
// The manual-detection panel (drvDrive, cmdDetect, chkAutoDrive) is created
// hidden. The drive list still takes part in the load; the button and the check
// box have handlers of their own that only update the status label, the panel's
// enabled state and the "autodetectipod" setting. No handler lets an exception
// escape into the event loop.

#include "device_identity.h"
#include "drive_table.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QPushButton;

namespace tw {
class cInifile;
}

namespace tw::sync {

class DriveListBox;

class frmSyncIpod : public QWidget {
    Q_OBJECT
public:
    frmSyncIpod(std::function<QString()> readDirections, std::shared_ptr<const DriveTable> drives,
                QWidget* parent = nullptr);
    ~frmSyncIpod() override;

    // The first call that makes the window visible runs the load step first.
    void setVisible(bool visible) override;

    // The drive text of the first device found, or "0"; sets ipodFound and
    // remembers which device it was.
    QString detectIpodDrive();
    // The device version (0, 1 or 2) of the drive `strDrive`.
    int16_t detectIpodVersion(const QString& strDrive);
    // Writes the note and sets btnResults' caption, showing at most one message.
    // The drive text the last scan returned stands for the device found then:
    // the note goes to it, or nowhere when it is gone.
    void saveFiles(const QString& xPath, const QString& xVal, int16_t xVer);

    bool ipodFound() const { return m_ipodFound; }

private:
    void Form_Load();
    void cmdDetect_Click();
    void chkAutoDrive_Click();
    void drvDrive_Change();
    void btnResults_Click();

    // Shows a device version in lblDetect: caption first, then colour.
    void showVersion(int16_t version);
    void writeAutoDetect(const QString& value);
    bool isDetectedDrive(const QString& drive) const;

    std::function<QString()> m_readDirections;
    std::shared_ptr<const DriveTable> m_drives;
    std::unique_ptr<cInifile> m_settings;
    bool m_loaded = false;
    bool m_ipodFound = false;
    DeviceIdentity m_detected;  // the device the last scan found

    QPushButton* m_cmdDetect = nullptr;
    QCheckBox* m_chkAutoDrive = nullptr;
    DriveListBox* m_drvDrive = nullptr;
    QLabel* m_lblDetect = nullptr;
    QPushButton* m_btnResults = nullptr;
};

} // namespace tw::sync
