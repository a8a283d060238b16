// End to end: the real directions service on the sample town, the real main
// window (offscreen) typing two addresses and pressing Search, the directions
// in txtRip, and the sync window writing them as the note on a fake iPod.

#include "app/toolkit.h"
#include "directions/main_form.h"
#include "sync/frm_sync_ipod.h"
#include "sync/drive_table.h"
#include "tests/support/temp_drives.h"

#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString kService = QStringLiteral(TW_BINARY_DIR "/service/tarnwickley-directions");
const QString kMap = QStringLiteral(TW_BINARY_DIR "/service/sample-town.osm.pbf");

bool isShown(const QPointer<QWidget>& window)
{
    const QWidget* shown = window.data();
    return shown != nullptr && shown->isVisible();
}

class EndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void directionsFromTheServiceReachTheDevice();
    void unknownAddressComesBackToTheFormForAnotherTry();

private:
    void startService(QString& base);
    template <typename T = QWidget> T* control(QWidget* window, const char* name) const
    {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        if (found == nullptr)
            qFatal("no control %s", name);
        return found;
    }
    void type(QWidget* window, const char* field, const QString& text);

    std::unique_ptr<QTemporaryDir> m_settings;
    std::unique_ptr<QProcess> m_service;
    QStringList m_messages;
};

void EndToEndTest::init()
{
    if (!QFile::exists(kService) || !QFile::exists(kMap))
        QSKIP("the service or its sample map has not been built");
    m_settings = std::make_unique<QTemporaryDir>();
    tw::app::setSettingsFolder(m_settings->path());
    m_messages.clear();
    tw::app::setMessageSink([this](const QString& text) { m_messages.append(text); });
}

void EndToEndTest::cleanup()
{
    if (m_service) {
        m_service->terminate(); // SIGTERM: the service stops cleanly
        QVERIFY(m_service->waitForFinished(10000));
        QCOMPARE(m_service->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_service->exitCode(), 0);
        m_service.reset();
    }
    tw::app::setMessageSink({});
    tw::app::setSettingsFolder(QString());
    m_settings.reset();
}

// Starts the service on a free loopback port and returns its base address
// once it says it is serving (empty when it did not start).
void EndToEndTest::startService(QString& base)
{
    m_service = std::make_unique<QProcess>();
    m_service->setProcessChannelMode(QProcess::SeparateChannels);
    m_service->start(kService, {QStringLiteral("--map"), kMap, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                QStringLiteral("--quiet")});
    const QRegularExpression serving(QStringLiteral("serving on (http://127\\.0\\.0\\.1:\\d+)/dd"));
    QString log;
    QRegularExpressionMatch match;
    const auto ready = [&] {
        log += QString::fromUtf8(m_service->readAllStandardError());
        match = serving.match(log);
        return match.hasMatch() || m_service->state() == QProcess::NotRunning;
    };
    QTRY_VERIFY_WITH_TIMEOUT(ready(), 30000);
    if (!match.hasMatch())
        qWarning("service log: %s", qPrintable(log));
    base = match.captured(1);
}

void EndToEndTest::type(QWidget* window, const char* field, const QString& text)
{
    auto* edit = control<QLineEdit>(window, field);
    edit->clear();
    QTest::keyClicks(edit, text);
}

void EndToEndTest::directionsFromTheServiceReachTheDevice()
{
    QString base;
    startService(base);
    QVERIFY2(!base.isEmpty(), "the service did not start");

    auto drives = std::make_shared<tw::test::TempDrives>();
    drives->addIpod(u'G', "buildID: 0x02308000 (2.3)\n");
    tw::directions::mainForm* form = nullptr;
    QPointer<QWidget> syncWindow;
    auto window = std::make_unique<tw::directions::mainForm>(base, [&]() -> QWidget* {
        syncWindow = new tw::sync::frmSyncIpod([&] { return form->directionsText(); }, drives);
        return syncWindow;
    });
    form = window.get();
    window->show();
    QTRY_VERIFY_WITH_TIMEOUT(control(form, "btn_Search")->isVisible(), 15000);

    type(form, "from_addr", QStringLiteral("151 millbrook rd"));
    type(form, "from_city", QStringLiteral("Halverby"));
    type(form, "from_state", QStringLiteral("QZ"));
    type(form, "from_zip", QStringLiteral("58912"));
    type(form, "dest_addr", QStringLiteral("319 Alder Avenue"));
    type(form, "dest_city", QStringLiteral("Halverby"));
    type(form, "dest_state", QStringLiteral("QZ"));
    type(form, "dest_zip", QStringLiteral(""));
    QTest::mouseClick(control<QPushButton>(form, "btn_Search"), Qt::LeftButton);

    auto* txtRip = control<QPlainTextEdit>(form, "txtRip");
    QTRY_VERIFY_WITH_TIMEOUT(txtRip->isVisible(), 15000);
    const QString directions = form->directionsText();
    QVERIFY2(directions.startsWith(QStringLiteral("1.Start at 151 Millbrook Rd heading ")), qPrintable(directions));
    QVERIFY(directions.contains(QStringLiteral("At the roundabout, take the 3rd exit onto S Main St")));
    QVERIFY2(directions.endsWith(QStringLiteral("Arrive at 319 Alder Ave, on the LEFT\r\n")), qPrintable(directions));
    QVERIFY(directions.toUtf8().size() < 4096);

    QTest::mouseClick(control<QPushButton>(form, "btn_sync"), Qt::LeftButton);
    QTRY_VERIFY(isShown(syncWindow));
    QFile note(drives->path(u'G', QStringLiteral("\\Notes\\Tarnwickley.txt")));
    QVERIFY(note.open(QIODevice::ReadOnly));
    const QByteArray bytes = note.readAll();
    QVERIFY2(bytes.contains("1.Start at 151 Millbrook Rd"), bytes.constData());
    QVERIFY(bytes.contains("Arrive at 319 Alder Ave"));
    QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join(QLatin1Char('\n'))));
    delete syncWindow.data();
}

void EndToEndTest::unknownAddressComesBackToTheFormForAnotherTry()
{
    QString base;
    startService(base);
    QVERIFY2(!base.isEmpty(), "the service did not start");
    auto window = std::make_unique<tw::directions::mainForm>(base);
    window->show();
    QTRY_VERIFY_WITH_TIMEOUT(control(window.get(), "btn_Search")->isVisible(), 15000);
    type(window.get(), "from_addr", QStringLiteral("151 Millbrok Road"));
    type(window.get(), "dest_addr", QStringLiteral("319 Alder Avenue"));
    auto* search = control<QPushButton>(window.get(), "btn_Search");
    QTest::mouseClick(search, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(search->text(), QStringLiteral("Search Again"), 15000);
    QTRY_VERIFY(search->isEnabled());
    QVERIFY(!control(window.get(), "txtRip")->isVisible());
}

} // namespace

QTEST_MAIN(EndToEndTest)
#include "end_to_end_test.moc"
