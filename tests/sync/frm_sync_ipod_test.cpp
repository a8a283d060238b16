// The sync window: its load step with and without a device, and the handlers of
// its hidden detection panel.
#include "sync/frm_sync_ipod.h"
#include "tests/support/temp_drives.h"

#include "app/toolkit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using tw::sync::frmSyncIpod;
using tw::test::TempDrives;

namespace {

const QByteArray kVersion1 = "buildID: 0x01008000 (1.0)\n";
const QByteArray kVersion2 = "buildID: 0x02308000 (2.3)\n";
const QColor kDarkRed(192, 0, 0);
const QColor kGreen(0, 128, 0);

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class SyncWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_messages.clear();
        m_window = nullptr;
        m_shownWhenMessaged.clear();
        tw::app::setMessageSink([this](const QString& text) {
            m_messages.append(text);
            m_shownWhenMessaged.append(m_window && m_window->isVisible());
        });
        m_settings = std::make_unique<QTemporaryDir>();
        tw::app::setSettingsFolder(m_settings->path());
        m_drives = std::make_shared<TempDrives>();
        m_drives->addDrive(u'C', tw::sync::kDriveFixed);
        m_reads = 0;
        m_onRead = nullptr;
    }

    void cleanup()
    {
        delete m_window;
        m_window = nullptr;
        tw::app::setMessageSink({});
        tw::app::setSettingsFolder(QString());
    }

    void writesTheNoteWhenADeviceIsThere()
    {
        m_drives->addIpod(u'E', kVersion2);
        open();
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(label()->text(), QStringLiteral("Version 2+ iPod Found."));
        QCOMPARE(label()->palette().color(QPalette::WindowText), kGreen);
        QCOMPARE(button()->text(), QStringLiteral("Sync Successful!"));
        QCOMPARE(m_reads, 1);
        QCOMPARE(readFile(m_drives->path(u'E', "\\Notes\\Tarnwickley.txt")),
                 QByteArray("<TITLE>Tarnwickley</TITLE>\r\n1. Start at Main St\r\n"));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Sync 2 iPod"));
        QCOMPARE(m_window->size(), QSize(220, 93));
        QVERIFY(m_window->isVisible());
    }

    void reportsAMissingDeviceBeforeTheWindowAppears()
    {
        m_drives->addDrive(u'E', tw::sync::kDriveRemovable);
        open();
        QCOMPARE(m_messages, QStringList{"No iPod found. Closing interface."});
        QCOMPARE(m_shownWhenMessaged, QList<bool>{false});
        QCOMPARE(label()->text(), QStringLiteral("iPod Not Found!"));
        QCOMPARE(label()->palette().color(QPalette::WindowText), kDarkRed);
        QCOMPARE(button()->text(), QStringLiteral("Close"));
        QCOMPARE(m_reads, 0);
        QVERIFY(m_window->isVisible());
    }

    void turnsAwayAVersion1Device()
    {
        m_drives->addIpod(u'E', kVersion1);
        open();
        QCOMPARE(m_messages, QStringList{"Pre Version 2 iPod support coming soon!"});
        QCOMPARE(label()->text(), QStringLiteral("Version 1 iPod Found."));
        QCOMPARE(label()->palette().color(QPalette::WindowText), kGreen);
        QCOMPARE(button()->text(), QStringLiteral("Close"));
        QVERIFY(!QFile::exists(m_drives->path(u'E', "\\Notes\\Tarnwickley.txt")));
    }

    void asksForTheNotesFolder()
    {
        m_drives->addIpod(u'E', kVersion2, TempDrives::Notes::Absent);
        open();
        QCOMPARE(m_messages,
                 QStringList{"Notes folder not found. Create Notes folder in your iPod root.. exiting"});
        QCOMPARE(label()->text(), QStringLiteral("Version 2+ iPod Found."));
        QCOMPARE(button()->text(), QStringLiteral("Close"));
        QVERIFY(!QFile::exists(m_drives->path(u'E', "\\Notes")));
    }

    void loadsOncePerOpeningAndClosesFromItsButton()
    {
        m_drives->addIpod(u'E', kVersion2);
        open();
        m_window->show();
        m_window->setVisible(true);
        QCOMPARE(m_reads, 1);
        button()->click();
        QVERIFY(!m_window->isVisible());
    }

    void hiddenPanelUpdatesTheLabelAndTheSetting()
    {
        m_drives->addIpod(u'E', kVersion1);
        m_drives->addIpod(u'F', kVersion2);
        open();
        const QString note = m_drives->path(u'F', "\\Notes\\Tarnwickley.txt");
        auto* drives = m_window->findChild<QComboBox*>("drvDrive");
        auto* detect = m_window->findChild<QPushButton*>("cmdDetect");
        auto* autoDetect = m_window->findChild<QCheckBox*>("chkAutoDrive");
        QVERIFY(drives && detect && autoDetect);
        QVERIFY(drives->isHidden() && detect->isHidden() && autoDetect->isHidden());

        // Choosing a drive shows its version; choosing the device's again does too.
        drives->setCurrentIndex(drives->findText("f:"));
        QCOMPARE(label()->text(), QStringLiteral("Version 2+ iPod Found."));
        drives->setCurrentIndex(0);
        QCOMPARE(label()->text(), QStringLiteral("iPod Not Found!"));
        QCOMPARE(label()->palette().color(QPalette::WindowText), kDarkRed);

        // "Detect iPod" selects the first device again; nothing is written.
        detect->click();
        QCOMPARE(drives->currentText(), QStringLiteral("e:"));
        QCOMPARE(label()->text(), QStringLiteral("Version 1 iPod Found."));

        // Checking the box stores 1, locks the panel and shows the selection's version.
        drives->setCurrentIndex(0);
        autoDetect->setChecked(true);
        QVERIFY(readFile(tw::app::controlIniPath()).contains("autodetectipod=1"));
        QVERIFY(!drives->isEnabled());
        QVERIFY(!detect->isEnabled());
        QCOMPARE(label()->text(), QStringLiteral("iPod Not Found!"));
        // The version test clears the flag; the detection that follows finds E: again.
        QVERIFY(m_window->ipodFound());
        // While it is checked, changing the drive leaves the label alone.
        drives->setCurrentIndex(drives->findText("f:"));
        QCOMPARE(label()->text(), QStringLiteral("iPod Not Found!"));

        // Unchecking stores 0, unlocks the panel and shows the selected drive.
        autoDetect->setChecked(false);
        QVERIFY(readFile(tw::app::controlIniPath()).contains("autodetectipod=0"));
        QVERIFY(drives->isEnabled());
        QVERIFY(detect->isEnabled());
        QCOMPARE(label()->text(), QStringLiteral("Version 2+ iPod Found."));

        QCOMPARE(m_messages, QStringList{"Pre Version 2 iPod support coming soon!"});
        QVERIFY(!QFile::exists(note));
        QCOMPARE(m_reads, 1);
    }

    // A drive mounted or unmounted between the scan and the write moves the
    // letters (they are handed out afresh at each look at the drives): the note
    // goes to the device found, or nowhere.
    void writesToTheDeviceFoundWhateverLetterItHasByThen()
    {
        m_drives->addIpod(u'E', kVersion2);
        m_onRead = [this] {
            // A stick with a Notes folder mounted meanwhile takes E:; the iPod is F: now.
            m_drives->moveDrive(u'E', u'F');
            m_drives->addDrive(u'E', tw::sync::kDriveRemovable);
            m_drives->makeFolder(u'E', "\\Notes");
        };
        open();
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(button()->text(), QStringLiteral("Sync Successful!"));
        QVERIFY(QFile::exists(m_drives->path(u'F', "\\Notes\\Tarnwickley.txt")));
        QVERIFY(!QFile::exists(m_drives->path(u'E', "\\Notes\\Tarnwickley.txt")));
    }

    void writesNothingWhenTheDeviceWasUnpluggedMeanwhile()
    {
        m_drives->addIpod(u'E', kVersion2);
        m_drives->addDrive(u'F', tw::sync::kDriveRemovable);
        m_drives->makeFolder(u'F', "\\Notes");
        m_onRead = [this] {
            // The iPod is unmounted; the stick moves up to E:.
            m_drives->removeDrive(u'E');
            m_drives->moveDrive(u'F', u'E');
        };
        open();
        QCOMPARE(m_messages, QStringList{"The iPod was disconnected. Nothing was written; connect it and sync again."});
        QCOMPARE(button()->text(), QStringLiteral("Close"));
        QVERIFY(!QFile::exists(m_drives->path(u'E', "\\Notes\\Tarnwickley.txt")));
    }

    void keepsTheApplicationRunningWhenTheMainWindowCloses()
    {
        m_drives->addIpod(u'E', kVersion2);
        QWidget mainWindow;
        mainWindow.show();
        open();
        // Close the other window from inside the event loop; the loop must then
        // still be running when the queued exit comes, not quit on its own.
        QMetaObject::invokeMethod(
            &mainWindow,
            [&mainWindow] {
                mainWindow.close();
                QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(7); }, Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
        QCOMPARE(QApplication::exec(), 7);
        QVERIFY(m_window->isVisible());
    }

private:
    void open()
    {
        m_window = new frmSyncIpod(
            [this] {
                ++m_reads;
                if (m_onRead)
                    m_onRead();
                return QStringLiteral("1. Start at Main St");
            },
            m_drives);
        m_window->show();
    }

    QLabel* label() const { return m_window->findChild<QLabel*>("lblDetect"); }
    QPushButton* button() const { return m_window->findChild<QPushButton*>("btnResults"); }

    std::shared_ptr<TempDrives> m_drives;
    std::unique_ptr<QTemporaryDir> m_settings;
    frmSyncIpod* m_window = nullptr;
    QStringList m_messages;
    QList<bool> m_shownWhenMessaged;
    int m_reads = 0;
    std::function<void()> m_onRead;  // runs when the window reads the directions
};

QTEST_MAIN(SyncWindowTest)
#include "frm_sync_ipod_test.moc"
