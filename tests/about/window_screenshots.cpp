// Draws the program's windows into PNG files for the documentation. Run by
// tools/screenshots under Xvfb; a helper beside the tests, not a test and not
// part of the program.
//
//   window_screenshots about OUT.png    the About window
//   window_screenshots main OUT.png     the main window showing directions
//                                       between two addresses of the bundled
//                                       map (the directions service must be
//                                       listening at its usual address)
//   window_screenshots notice OUT.png   the same after a misspelt start address:
//                                       the service's notice and suggestion
//
// Exits 0 when the picture was written; 1 when the window did not reach the
// state to photograph within 30 seconds or the file could not be written.

#include "about/frm_about.h"
#include "app/toolkit.h"
#include "directions/main_form.h"
#include "directions/service_address.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <functional>

namespace {

constexpr int kPatienceMs = 30000;
constexpr int kPollMs = 100;

// Calls `ready` every few milliseconds until it returns true, then `act`; quits
// with status 1 when the patience runs out.
void whenReady(std::function<bool()> ready, std::function<void()> act)
{
    QElapsedTimer clock;
    clock.start();
    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setInterval(kPollMs);
    QObject::connect(timer, &QTimer::timeout, [=] {
        if (ready()) {
            timer->stop();
            act();
        } else if (clock.elapsed() > kPatienceMs) {
            std::fprintf(stderr, "the window did not get ready in time\n");
            QCoreApplication::exit(1);
        }
    });
    timer->start();
}

void save(QWidget& window, const QString& output)
{
    const bool written = window.grab().save(output);
    if (!written)
        std::fprintf(stderr, "could not write %s\n", qPrintable(output));
    QCoreApplication::exit(written ? 0 : 1);
}

int photographAbout(const QString& output)
{
    tw::about::frmAbout window([](const QUrl&) { return true; });
    window.show();
    QTimer::singleShot(500, &window, [&] { save(window, output); });
    return QApplication::exec();
}

// `misspelt`: the start address has a typo, and the picture shows the
// service's notice with its suggestion instead of the directions.
int photographMain(const QString& output, bool misspelt)
{
    // The search stores the addresses; keep them out of any real control.ini.
    QTemporaryDir settings;
    tw::app::setSettingsFolder(settings.path());
    tw::app::setMessageSink(
        [](const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });

    tw::directions::mainForm window(QString::fromLatin1(tw::directions::kServiceBaseAddress));
    window.show();
    auto* search = window.findChild<QPushButton*>(QStringLiteral("btn_Search"));
    auto* result = window.findChild<QPlainTextEdit*>(QStringLiteral("txtRip"));
    auto* notice = window.findChild<QWidget*>(QStringLiteral("txtNotice"));
    if (search == nullptr || result == nullptr || notice == nullptr)
        return 1;

    const auto fill = [&](const char* name, const char* text) {
        if (auto* field = window.findChild<QLineEdit*>(QString::fromLatin1(name)))
            field->setText(QString::fromLatin1(text));
    };
    whenReady([=] { return search->isVisible() && search->isEnabled(); },
        [=, &window] {
            fill("from_addr", misspelt ? "151 Milbrok Rd" : "151 Millbrook Road");
            fill("from_city", "Halverby");
            fill("from_state", "QZ");
            fill("from_zip", "58912");
            fill("dest_addr", "319 Alder Avenue");
            fill("dest_city", "Halverby");
            fill("dest_state", "QZ");
            fill("dest_zip", "58911");
            search->click();
            whenReady([=] { return (misspelt ? notice : result)->isVisible(); },
                [=, &window] {
                    // Let the text box lay out its new contents.
                    QTimer::singleShot(300, [=, &window] { save(window, output); });
                });
        });
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString mode = argc == 3 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode != QLatin1String("about") && mode != QLatin1String("main") && mode != QLatin1String("notice")) {
        std::fprintf(stderr, "usage: %s about|main|notice OUTPUT.png\n", argv[0]);
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[2]);
    if (mode == QLatin1String("about"))
        return photographAbout(output);
    return photographMain(output, mode == QLatin1String("notice"));
}
