// Saves a picture of the About window, as a user's display draws it, into the
// file named by the first argument. Run by tools/screenshots under Xvfb; it is
// a helper for the documentation, not a test and not part of the program.

#include "about/frm_about.h"

#include <QApplication>
#include <QTimer>
#include <QUrl>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);

    tw::about::frmAbout window([](const QUrl&) { return true; });
    window.show();
    int status = 1;
    // Grab once the window has been laid out and painted by the event loop.
    QTimer::singleShot(500, &window, [&] {
        status = window.grab().save(output) ? 0 : 1;
        if (status != 0)
            std::fprintf(stderr, "could not write %s\n", argv[1]);
        app.quit();
    });
    app.exec();
    return status;
}
