// Starts the application: its one start-up window is the main window.
#include <QApplication>
#include <QWidget>

#include "app/toolkit.h"
#include "app/version.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(tw::app::kApplicationTitle));
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(tw::app::kVersionMajor)
                                            .arg(tw::app::kVersionMinor)
                                            .arg(tw::app::kVersionRevision));
    QApplication::setOrganizationName(QStringLiteral("Tarnwickley"));

    // Placeholder window until the main window lands.
    QWidget window;
    window.setWindowTitle(QStringLiteral("Tarnwickley - Directions for the iPod"));
    window.setFixedSize(289, 420);
    window.show();
    return QApplication::exec();
}
