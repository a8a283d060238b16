// Starts the application: its one start-up window is the main window. The sync
// and About windows are made by the main window when the user opens them.
//
// Before the main window loads, a directions service is made sure of (see
// app/service_starter.h). TARNWICKLEY_SERVICE_URL, when set to an http address,
// replaces the built-in base address (tests use it to stay off the usual port).
#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QUrl>

#include <cstdio>
#include <cstring>

#include "about/frm_about.h"
#include "app/service_starter.h"
#include "app/toolkit.h"
#include "app/version.h"
#include "directions/main_form.h"
#include "resources/resources.h"
#include "sync/drive_table.h"
#include "sync/frm_sync_ipod.h"

namespace {

constexpr char kUsage[] = "Usage: tarnwickley [--help] [--version]\n"
                          "\n"
                          "Driving directions for the iPod: type a start and a destination address,\n"
                          "get the driving steps from the directions service and copy them to an\n"
                          "iPod as the note \"Tarnwickley.txt\". The addresses are kept in\n"
                          "~/.config/Tarnwickley/Tarnwickley/control.ini.\n"
                          "\n"
                          "When nothing answers at the service's address (http://127.0.0.1:47800,\n"
                          "or TARNWICKLEY_SERVICE_URL), the application starts the tarnwickley-directions\n"
                          "installed beside it and shares it with other Tarnwickley windows; it stops\n"
                          "when the last of them closes.\n"
                          "\n"
                          "  --help     show this text\n"
                          "  --version  show the version\n"
                          "\n"
                          "Qt's own options (such as -platform) are accepted too.\n";

// Answers --help and --version before the toolkit starts, so both work without a
// display. Returns the exit code when the program is to end here, else -1.
int answerInformationOptions(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tarnwickley %d.%d.%d\n", tw::app::kVersionMajor, tw::app::kVersionMinor,
                tw::app::kVersionRevision);
            return 0;
        }
    }
    return -1;
}

QUrl serviceBaseAddress()
{
    const QString given = qEnvironmentVariable("TARNWICKLEY_SERVICE_URL");
    if (!given.isEmpty()) {
        const QUrl url(given, QUrl::StrictMode);
        if (url.isValid() && url.scheme() == QLatin1String("http") && !url.host().isEmpty())
            return url.adjusted(QUrl::StripTrailingSlash);
        qWarning().noquote() << "TARNWICKLEY_SERVICE_URL is not an http address; using the built-in one";
    }
    return QUrl(QString::fromLatin1(tw::directions::kServiceBaseAddress));
}

// Logs, once, how long the window took to reach its entry state (the "Search"
// button appears), in the start-up log category.
class EntryStateReport : public QObject {
public:
    explicit EntryStateReport(QWidget* searchButton)
        : QObject(searchButton)
    {
        m_sinceStart.start();
        searchButton->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            qCInfo(lcStartup) << "entry state after" << m_sinceStart.elapsed() << "ms";
            watched->removeEventFilter(this);
        }
        return false;
    }

private:
    QElapsedTimer m_sinceStart;
};

} // namespace

int main(int argc, char* argv[])
{
    if (const int code = answerInformationOptions(argc, argv); code >= 0)
        return code;
    QApplication application(argc, argv);
    if (argc > 1) {
        std::fprintf(stderr, "tarnwickley: unknown argument \"%s\"\n%s", argv[1], kUsage);
        return 2;
    }
    QApplication::setApplicationName(QString::fromLatin1(tw::app::kApplicationTitle));
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(tw::app::kVersionMajor)
                                            .arg(tw::app::kVersionMinor)
                                            .arg(tw::app::kVersionRevision));
    QApplication::setOrganizationName(QStringLiteral("Tarnwickley"));
    QApplication::setWindowIcon(tw::resources::applicationIcon());
    // Lets the desktop match the window to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("tarnwickley"));

    // The sync window reads the directions text when it loads; the main window
    // outlives it in practice, but the pointer guards the order of closing.
    QPointer<tw::directions::mainForm> directionsWindow;
    const auto makeSyncWindow = [&directionsWindow]() -> QWidget* {
        auto readDirections = [directionsWindow]() {
            return directionsWindow ? directionsWindow->directionsText() : QString();
        };
        return new tw::sync::frmSyncIpod(readDirections, tw::sync::systemDriveTable());
    };
    const auto makeAboutWindow = []() -> QWidget* { return new tw::about::frmAbout(); };

    const QUrl baseAddress = serviceBaseAddress();
    tw::app::ServiceStarter serviceStarter(baseAddress, tw::app::ServiceStarter::installedServiceProgram(),
        tw::app::ServiceStarter::defaultRuntimeFolder());
    // A service just started on the bundled map answers within a fraction of a
    // second: wait for it (bounded) so the window's first page request finds it.
    serviceStarter.ensureService();
    serviceStarter.waitUntilReady(3000);

    tw::directions::mainForm window(baseAddress.toString(), makeSyncWindow, makeAboutWindow);
    directionsWindow = &window;
    if (auto* search = window.findChild<QPushButton*>(QStringLiteral("btn_Search")))
        new EntryStateReport(search);
    window.show();
    return QApplication::exec();
}
