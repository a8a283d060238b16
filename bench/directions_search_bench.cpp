// What the user waits for after pressing "Search" (run on demand):
//   build/bench/directions_search_bench [SEARCHES]      (default 2000)
//
// Starts the real directions service on the sample town (a child process on a
// free loopback port), shows the real main window (offscreen) pointed at it,
// and then, SEARCHES times: presses "Search" with one of two address pairs
// (so the fields change each time, as they do for a user), waits until the
// directions are in txtRip, and presses "Search Again" to get back to the entry
// (not timed). Prints p50, p90, p99 and the worst of
//   total  the click until the directions are shown
//   click  the click handler alone (the fields saved to control.ini, the form
//          filled and submitted)
// and what the rest (the service's answer, parsing, extraction) takes.
#include "app/toolkit.h"
#include "directions/main_form.h"
#include "directions/web/web_browser.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const QString kService = QStringLiteral(TW_BINARY_DIR "/service/tarnwickley-directions");
const QString kMap = QStringLiteral(TW_BINARY_DIR "/service/sample-town.osm.pbf");

struct AddressPair {
    const char* fields[8];
};
const AddressPair kPairs[] = {
    { { "151 Millbrook Rd", "Halverby", "QZ", "58912", "319 Alder Ave", "Halverby", "QZ", "" } },
    { { "319 Alder Ave", "Halverby", "QZ", "", "151 Millbrook Rd", "Halverby", "QZ", "58912" } },
};
const char* const kFieldNames[] = { "from_addr", "from_city", "from_state", "from_zip", "dest_addr",
    "dest_city", "dest_state", "dest_zip" };

// Runs the event loop until `done` holds, or for at most `limitMs`.
template <typename Done> bool waitUntil(tw::web::WebBrowser* browser, Done done, int limitMs = 10000)
{
    if (done())
        return true;
    QEventLoop loop;
    QObject::connect(browser, &tw::web::WebBrowser::documentComplete, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

void report(const char* name, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const auto at
        = [&](double q) { return ms[std::min(ms.size() - 1, static_cast<std::size_t>(q * ms.size()))]; };
    std::printf("%-6s p50 %6.3f ms   p90 %6.3f ms   p99 %6.3f ms   max %7.3f ms\n", name, at(0.5), at(0.9),
        at(0.99), ms.back());
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int searches = argc > 1 ? std::max(1, atoi(argv[1])) : 2000;

    QProcess service;
    service.start(kService,
        { QStringLiteral("--map"), kMap, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
            QStringLiteral("--quiet") });
    const QRegularExpression serving(QStringLiteral("serving on (http://127\\.0\\.0\\.1:\\d+)/dd"));
    QString log;
    QRegularExpressionMatch match;
    QElapsedTimer started;
    started.start();
    while (!match.hasMatch() && service.state() != QProcess::NotRunning && started.elapsed() < 60000) {
        service.waitForReadyRead(200);
        log += QString::fromUtf8(service.readAllStandardError());
        match = serving.match(log);
    }
    if (!match.hasMatch()) {
        std::fprintf(stderr, "the directions service did not start:\n%s\n", qPrintable(log));
        return 1;
    }

    QTemporaryDir settings;
    tw::app::setSettingsFolder(settings.path());
    tw::directions::mainForm form(match.captured(1));
    auto* search = form.findChild<QPushButton*>(QStringLiteral("btn_Search"));
    auto* again = form.findChild<QPushButton*>(QStringLiteral("btn_research"));
    auto* directions = form.findChild<QPlainTextEdit*>(QStringLiteral("txtRip"));
    auto* browser = form.findChild<tw::web::WebBrowser*>(QStringLiteral("WebBrowser1"));
    const auto atEntry = [&] { return !search->isHidden() && search->isEnabled(); };
    const auto atResult = [&] { return !directions->isHidden(); };
    form.show();
    if (!waitUntil(browser, atEntry)) {
        std::fprintf(stderr, "the window never reached its entry state\n");
        return 1;
    }

    std::vector<double> total;
    std::vector<double> click;
    std::vector<double> rest;
    for (int i = 0; i < searches; ++i) {
        const AddressPair& pair = kPairs[i % 2];
        for (int f = 0; f < 8; ++f)
            form.findChild<QLineEdit*>(QString::fromLatin1(kFieldNames[f]))
                ->setText(QString::fromUtf8(pair.fields[f]));
        QElapsedTimer timer;
        timer.start();
        search->click();
        const qint64 clicked = timer.nsecsElapsed();
        if (!waitUntil(browser, atResult)) {
            std::fprintf(stderr, "search %d showed no directions\n", i);
            return 1;
        }
        const qint64 shown = timer.nsecsElapsed();
        total.push_back(static_cast<double>(shown) / 1e6);
        click.push_back(static_cast<double>(clicked) / 1e6);
        rest.push_back(static_cast<double>(shown - clicked) / 1e6);
        again->click();
        if (!waitUntil(browser, atEntry)) {
            std::fprintf(stderr, "search %d: no entry state after Search Again\n", i);
            return 1;
        }
    }
    std::printf("%d searches, Search click to directions in txtRip, sample town:\n", searches);
    report("total", total);
    report("click", click);
    report("rest", rest);
    service.terminate();
    service.waitForFinished(10000);
    return 0;
}
