// An install into an empty prefix puts the program, its menu entry, its icons
// and its AppStream description where a Linux desktop looks for them, with the
// version the program reports, and the installed files pass the validators.

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Outcome {
    int exitCode = -1;
    QString output;
};

Outcome run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Outcome outcome;
    if (!process.waitForStarted() || !process.waitForFinished(120000)) {
        outcome.output = QStringLiteral("could not run %1: %2").arg(program, process.errorString());
        return outcome;
    }
    outcome.output = QString::fromLocal8Bit(process.readAll());
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return outcome;
}

QString readText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace

class InstallTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_prefix.isValid());
        const Outcome install = run(QStringLiteral(TW_CMAKE_COMMAND),
            { QStringLiteral("--install"), QStringLiteral(TW_BINARY_DIR), QStringLiteral("--prefix"),
                m_prefix.path() });
        if (install.exitCode != 0) {
            // The message of a failed check is cut short; the cause is at the end.
            qWarning().noquote() << install.output.right(2000);
            QFAIL("cmake --install failed (is the whole project built?)");
        }
    }

    void programIsInstalledAndExecutable()
    {
        const QFileInfo program(file("bin/tarnwickley"));
        QVERIFY2(program.isFile(), qPrintable(program.filePath()));
        QVERIFY(program.isExecutable());
    }

    void desktopEntryStartsTheProgramWithItsIcon()
    {
        const QString entry = readText(file("share/applications/tarnwickley.desktop"));
        QVERIFY(!entry.isEmpty());
        for (const char* line :
            { "Name=Tarnwickley", "Exec=tarnwickley", "Icon=tarnwickley", "Type=Application" }) {
            QVERIFY2(entry.split(QLatin1Char('\n')).contains(QString::fromLatin1(line)), line);
        }
    }

    void iconsAreInTheHicolorThemeAtTheirNamedSizes_data()
    {
        QTest::addColumn<int>("size");
        for (const int size : { 16, 32, 48, 64, 128, 256 })
            QTest::addRow("%dx%d", size, size) << size;
    }
    void iconsAreInTheHicolorThemeAtTheirNamedSizes()
    {
        QFETCH(int, size);
        const QString path = file(QStringLiteral("share/icons/hicolor/%1x%1/apps/tarnwickley.png").arg(size));
        const QImage icon(path);
        QVERIFY2(!icon.isNull(), qPrintable(path));
        QCOMPARE(icon.size(), QSize(size, size));
        QVERIFY(icon.hasAlphaChannel());
    }

    void scalableIconIsInstalled()
    {
        const QString svg = readText(file("share/icons/hicolor/scalable/apps/tarnwickley.svg"));
        QVERIFY(svg.contains(QLatin1String("<svg")));
    }

    void metainfoNamesTheReleaseAndTheDesktopEntry()
    {
        const QString metainfo = readText(file("share/metainfo/org.example.tarnwickley.metainfo.xml"));
        QVERIFY(!metainfo.isEmpty());
        QVERIFY(metainfo.contains(QLatin1String("<release version=\"1.0.2\"")));
        QVERIFY(metainfo.contains(QLatin1String("1.00.0002")));
        QVERIFY(metainfo.contains(
            QLatin1String("<launchable type=\"desktop-id\">tarnwickley.desktop</launchable>")));
        QVERIFY(!metainfo.contains(QLatin1Char('@')));
    }

    void installedFilesPassTheValidators()
    {
        const QString desktopValidator
            = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        const QString appstream = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
        if (desktopValidator.isEmpty() || appstream.isEmpty())
            QSKIP("desktop-file-validate or appstreamcli is not installed");

        const Outcome desktop = run(desktopValidator, { file("share/applications/tarnwickley.desktop") });
        QVERIFY2(desktop.exitCode == 0 && desktop.output.trimmed().isEmpty(), qPrintable(desktop.output));
        // validate-tree also checks that the metainfo's launchable and icon
        // resolve to the installed desktop entry.
        const Outcome tree = run(
            appstream, { QStringLiteral("validate-tree"), QStringLiteral("--no-net"), m_prefix.path() });
        QVERIFY2(tree.exitCode == 0, qPrintable(tree.output));
    }

private:
    QString file(const QString& relative) const { return m_prefix.filePath(relative); }

    QTemporaryDir m_prefix;
};

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    InstallTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "install_test.moc"
