// The installed application, started alone with nothing at its service address,
// starts the directions service installed beside it and reaches the entry state;
// a second application shares that service, and the service stops once the last
// application has gone. The project is installed with DESTDIR into a temporary
// root under the prefix /usr, as the package lays it out, and the application
// runs on its own free port so other tests on the usual port are not disturbed.

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

bool answers(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), port);
    return probe.waitForConnected(500);
}

} // namespace

class InstalledStartTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        QProcess install;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DESTDIR"), m_root.path());
        install.setProcessEnvironment(environment);
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(QStringLiteral(TW_CMAKE_COMMAND),
            { QStringLiteral("--install"), QStringLiteral(TW_BINARY_DIR), QStringLiteral("--prefix"),
                QStringLiteral("/usr") });
        QVERIFY(install.waitForFinished(120000));
        QVERIFY2(install.exitCode() == 0, install.readAll().right(2000).constData());

        m_installedFiles = filesUnder(m_root.filePath(QStringLiteral("usr")));

        QTcpServer freePort;
        QVERIFY(freePort.listen(QHostAddress::LocalHost));
        m_port = freePort.serverPort();
        freePort.close();
        QVERIFY(!answers(m_port));
        for (const char* folder : { "run", "config", "cache", "home" })
            QVERIFY(QDir(m_root.path()).mkpath(QString::fromLatin1(folder)));
        QFile::setPermissions(
            m_root.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void programsAnswerHelpAndVersion_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("expected");
        for (const char* program : { "tarnwickley", "tarnwickley-directions" }) {
            QTest::addRow("%s --version", program)
                << program << "--version" << QStringLiteral("%1 1.0.2\n").arg(QLatin1String(program));
            QTest::addRow("%s --help", program)
                << program << "--help" << QStringLiteral("Usage: %1 ").arg(QLatin1String(program));
        }
    }
    void programsAnswerHelpAndVersion()
    {
        QFETCH(QString, program);
        QFETCH(QString, option);
        QFETCH(QString, expected);
        QProcess process;
        // No display: both options are answered before the toolkit starts.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        environment.remove(QStringLiteral("DISPLAY"));
        process.setProcessEnvironment(environment);
        process.start(installed(program), { option });
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        const QString output = QString::fromUtf8(process.readAllStandardOutput());
        QVERIFY2(output.startsWith(expected), qPrintable(output));
    }

    void aloneItStartsTheServiceAndReachesTheEntryStateWithinFiveSeconds()
    {
        QElapsedTimer sinceStart;
        sinceStart.start();
        startApplication(m_first);
        QTRY_VERIFY2_WITH_TIMEOUT(
            m_first.log.contains(QLatin1String("entry state after")), qPrintable(m_first.log), 5000);
        qInfo() << "entry state" << sinceStart.elapsed() << "ms after the start";
        QVERIFY(m_first.log.contains(QLatin1String("started the directions service")));
        const QRegularExpressionMatch pid
            = QRegularExpression(QStringLiteral("process (\\d+)")).match(m_first.log);
        QVERIFY(pid.hasMatch());
        m_servicePid = pid.captured(1).toLongLong();
    }

    void aSecondApplicationSharesItAndTheLastOneToCloseStopsIt()
    {
        if (m_servicePid == 0)
            QSKIP("the first application did not start a service");
        startApplication(m_second);
        QTRY_VERIFY2_WITH_TIMEOUT(
            m_second.log.contains(QLatin1String("entry state after")), qPrintable(m_second.log), 5000);
        QVERIFY2(
            m_second.log.contains(QLatin1String("sharing the directions service")), qPrintable(m_second.log));

        // The application that started the service goes first, killed outright.
        m_first.process.kill();
        QVERIFY(m_first.process.waitForFinished(5000));
        QVERIFY(answers(m_port));

        m_second.process.terminate();
        QVERIFY(m_second.process.waitForFinished(5000));
        // The service stops 5 s after its last lease closes.
        QTRY_VERIFY_WITH_TIMEOUT(::kill(static_cast<pid_t>(m_servicePid), 0) != 0, 10000);
        QVERIFY(!answers(m_port));
        QVERIFY(!QFileInfo::exists(
            m_root.filePath(QStringLiteral("run/tarnwickley-directions-%1.lease").arg(m_port))));
        m_servicePid = 0;
        // Nothing was written into the installed tree (no settings, no map cache).
        QCOMPARE(filesUnder(m_root.filePath(QStringLiteral("usr"))), m_installedFiles);
    }

    void cleanupTestCase()
    {
        for (Application* application : { &m_first, &m_second }) {
            application->process.kill();
            application->process.waitForFinished(5000);
        }
        if (m_servicePid > 0)
            ::kill(static_cast<pid_t>(m_servicePid), SIGTERM);
    }

private:
    struct Application {
        QProcess process;
        QString log;
    };

    static QStringList filesUnder(const QString& folder)
    {
        QStringList files;
        QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        files.sort();
        return files;
    }

    QString installed(const QString& program) const
    {
        return m_root.filePath(QStringLiteral("usr/bin/") + program);
    }

    void startApplication(Application& application)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const auto inRoot
            = [this](const char* folder) { return m_root.filePath(QString::fromLatin1(folder)); };
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(
            QStringLiteral("TARNWICKLEY_SERVICE_URL"), QStringLiteral("http://127.0.0.1:%1").arg(m_port));
        environment.insert(
            QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("tarnwickley.startup.info=true"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), inRoot("run"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), inRoot("config"));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), inRoot("cache"));
        environment.insert(QStringLiteral("HOME"), inRoot("home"));
        application.process.setProcessEnvironment(environment);
        connect(&application.process, &QProcess::readyReadStandardError, this, [&application] {
            application.log += QString::fromLocal8Bit(application.process.readAllStandardError());
        });
        application.process.start(installed(QStringLiteral("tarnwickley")), {});
        QVERIFY(application.process.waitForStarted());
    }

    QTemporaryDir m_root;
    quint16 m_port = 0;
    Application m_first;
    Application m_second;
    qint64 m_servicePid = 0;
    QStringList m_installedFiles;
};

QTEST_MAIN(InstalledStartTest)
#include "installed_start_test.moc"
