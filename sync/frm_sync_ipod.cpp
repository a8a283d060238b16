#include "frm_sync_ipod.h"

#include "device_detection.h"
#include "drive_list_box.h"
#include "note_writer.h"

#include "app/toolkit.h"
#include "settings/cinifile.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <exception>

namespace tw::sync {
namespace {

const QColor kDarkRed(192, 0, 0);
const QColor kGreen(0, 128, 0);

QFont tahoma()
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSizeF(8.25);
    return font;
}

QString exceptionText(const std::exception& error)
{
    return QStringLiteral("Syncing with the iPod failed: %1").arg(QString::fromLocal8Bit(error.what()));
}

// Runs one step of a handler whose steps each go ahead when an earlier one fails.
template <typename Step>
void skipOnFailure(Step step)
{
    try {
        step();
    } catch (...) {
        // The step is skipped; the handler goes on with the next one.
    }
}

} // namespace

frmSyncIpod::frmSyncIpod(std::function<QString()> readDirections, std::shared_ptr<const DriveTable> drives,
                         QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_readDirections(std::move(readDirections))
    , m_drives(std::move(drives))
{
    setObjectName(QStringLiteral("frmSyncIpod"));
    // A tool window keeps out of the task bar, but Qt would also leave it out of
    // the count of open windows and quit when the main window closes while this
    // one is still open; the application ends only with its last window.
    setAttribute(Qt::WA_QuitOnClose);
    setWindowTitle(QStringLiteral("Sync 2 iPod"));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    setFixedSize(app::px(3300), app::px(1395));

    // Created in tab order.
    m_cmdDetect = new QPushButton(QStringLiteral("Detect iPod"), this);
    m_cmdDetect->setObjectName(QStringLiteral("cmdDetect"));
    m_cmdDetect->setGeometry(app::twipsRect(120, 480, 1095, 315));
    m_cmdDetect->setFont(tahoma());
    m_cmdDetect->hide();

    m_chkAutoDrive = new QCheckBox(QStringLiteral("Detect At Startup"), this);
    m_chkAutoDrive->setObjectName(QStringLiteral("chkAutoDrive"));
    m_chkAutoDrive->setGeometry(app::twipsRect(120, 840, 1935, 255));
    m_chkAutoDrive->setFont(tahoma());
    m_chkAutoDrive->setAutoFillBackground(true);
    m_chkAutoDrive->hide();

    m_drvDrive = new DriveListBox(m_drives, this);
    m_drvDrive->setObjectName(QStringLiteral("drvDrive"));
    m_drvDrive->setGeometry(app::twipsRect(120, 120, 855, 315));
    m_drvDrive->setFont(tahoma());
    m_drvDrive->hide();

    m_lblDetect = new QLabel(this);
    m_lblDetect->setObjectName(QStringLiteral("lblDetect"));
    m_lblDetect->setGeometry(app::twipsRect(720, 120, 1935, 255));
    m_lblDetect->setFont(tahoma());
    m_lblDetect->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_lblDetect->setAutoFillBackground(true);
    QPalette grey = m_lblDetect->palette();
    grey.setColor(QPalette::WindowText, palette().color(QPalette::Disabled, QPalette::WindowText));
    m_lblDetect->setPalette(grey);

    m_btnResults = new QPushButton(this);
    m_btnResults->setObjectName(QStringLiteral("btnResults"));
    m_btnResults->setGeometry(app::twipsRect(720, 600, 1935, 495));

    connect(m_cmdDetect, &QPushButton::clicked, this, [this] { cmdDetect_Click(); });
    connect(m_chkAutoDrive, &QCheckBox::toggled, this, [this] { chkAutoDrive_Click(); });
    connect(m_drvDrive, &QComboBox::currentIndexChanged, this, [this] { drvDrive_Change(); });
    connect(m_btnResults, &QPushButton::clicked, this, [this] { btnResults_Click(); });
}

frmSyncIpod::~frmSyncIpod() = default;

void frmSyncIpod::setVisible(bool visible)
{
    if (visible && !m_loaded) {
        m_loaded = true;
        Form_Load();
    }
    QWidget::setVisible(visible);
}

QString frmSyncIpod::detectIpodDrive() { return sync::detectIpodDrive(*m_drives, m_ipodFound, &m_detected); }

bool frmSyncIpod::isDetectedDrive(const QString& drive) const
{
    return m_detected.isValid() && drive.compare(m_detected.drive, Qt::CaseInsensitive) == 0;
}

int16_t frmSyncIpod::detectIpodVersion(const QString& strDrive)
{
    return sync::detectIpodVersion(*m_drives, strDrive);
}

void frmSyncIpod::saveFiles(const QString& xPath, const QString& xVal, int16_t xVer)
{
    const NoteResult result = isDetectedDrive(xPath) ? sync::saveFiles(m_detected, xVal, xVer)
                                                     : sync::saveFiles(*m_drives, xPath, xVal, xVer);
    if (!result.message.isEmpty())
        app::showMessage(parentWidget(), result.message);
    m_btnResults->setText(result.caption);
}

void frmSyncIpod::Form_Load()
{
    try {
        m_drvDrive->refresh();
        const QString drive = detectIpodDrive();
        if (drive != u"0")
            m_drvDrive->setDrive(drive);
        // The version of the device found, wherever the letters have moved since.
        const int16_t version
            = isDetectedDrive(drive) ? sync::detectIpodVersion(m_detected) : detectIpodVersion(drive);
        if (m_ipodFound) {
            const QString text = m_readDirections ? m_readDirections() : QString();
            saveFiles(drive, text, version);
        } else {
            app::showMessage(parentWidget(), QStringLiteral("No iPod found. Closing interface."));
            showVersion(0);
            m_btnResults->setText(QStringLiteral("Close"));
        }
    } catch (const std::exception& error) {
        app::showMessage(parentWidget(), exceptionText(error));
        m_btnResults->setText(QStringLiteral("Close"));
    } catch (...) {
        app::showMessage(parentWidget(), QStringLiteral("Syncing with the iPod failed."));
        m_btnResults->setText(QStringLiteral("Close"));
    }
}

void frmSyncIpod::cmdDetect_Click()
{
    try {
        m_drvDrive->refresh();
        const QString drive = detectIpodDrive();
        if (drive != u"0")
            m_drvDrive->setDrive(drive);
    } catch (const std::exception& error) {
        app::showMessage(this, exceptionText(error));
    }
}

void frmSyncIpod::drvDrive_Change()
{
    if (m_chkAutoDrive->isChecked())
        return;
    try {
        showVersion(detectIpodVersion(m_drvDrive->drive()));
    } catch (const std::exception& error) {
        app::showMessage(this, exceptionText(error));
    }
}

void frmSyncIpod::chkAutoDrive_Click()
{
    if (m_chkAutoDrive->isChecked()) {
        skipOnFailure([this] { writeAutoDetect(QStringLiteral("1")); });
        skipOnFailure([this] {
            m_drvDrive->setEnabled(false);
            m_cmdDetect->setEnabled(false);
        });
        skipOnFailure([this] { m_lblDetect->setText(QString()); });
        int16_t version = 0;
        skipOnFailure([&] {
            version = detectIpodVersion(m_drvDrive->drive());
            showVersion(version);
        });
        skipOnFailure([&] { m_ipodFound = version != 0; });
        skipOnFailure([this] { cmdDetect_Click(); });
    } else {
        skipOnFailure([this] { writeAutoDetect(QStringLiteral("0")); });
        skipOnFailure([this] {
            m_drvDrive->setEnabled(true);
            m_cmdDetect->setEnabled(true);
        });
        skipOnFailure([this] { m_drvDrive->refresh(); });
        skipOnFailure([this] { drvDrive_Change(); });
    }
}

void frmSyncIpod::btnResults_Click() { close(); }

void frmSyncIpod::showVersion(int16_t version)
{
    QColor colour = kGreen;
    switch (version) {
    case 0:
        m_lblDetect->setText(QStringLiteral("iPod Not Found!"));
        colour = kDarkRed;
        break;
    case 1:
        m_lblDetect->setText(QStringLiteral("Version 1 iPod Found."));
        break;
    default:
        m_lblDetect->setText(QStringLiteral("Version 2+ iPod Found."));
        break;
    }
    QPalette palette = m_lblDetect->palette();
    palette.setColor(QPalette::WindowText, colour);
    m_lblDetect->setPalette(palette);
}

void frmSyncIpod::writeAutoDetect(const QString& value)
{
    if (!m_settings)
        m_settings = std::make_unique<cInifile>();
    m_settings->Path(app::controlIniPath());
    m_settings->Section(QStringLiteral("config"));
    m_settings->Key(QStringLiteral("autodetectipod"));
    m_settings->Value(value);
}

} // namespace tw::sync
