// Starts the application: its one start-up window is the main window. The sync
// and About windows are made by the main window when the user opens them.
#include <QApplication>
#include <QPointer>

#include "about/frm_about.h"
#include "app/toolkit.h"
#include "app/version.h"
#include "directions/main_form.h"
#include "resources/resources.h"
#include "sync/drive_table.h"
#include "sync/frm_sync_ipod.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
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

    tw::directions::mainForm window(
        QString::fromLatin1(tw::directions::kServiceBaseAddress), makeSyncWindow, makeAboutWindow);
    directionsWindow = &window;
    window.show();
    return QApplication::exec();
}
