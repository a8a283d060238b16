// Start-up of the main window against a loopback directions service (run on
// demand):
//   build-x/bench/directions_startup_bench
//
// Each iteration starts a fresh process of this program in its window mode: it
// sets up the application exactly as the program does, shows mainForm pointed at
// a loopback server of this (parent) process that answers /dd with a form page,
// and reports the moment the window reaches its entry state (the address fields
// shown, "Search" enabled) together with its resident memory then. The time
// measured runs from starting the process to that report, so it covers loading
// the libraries, the toolkit's start, the page load and the window's own work.
#include "directions/main_form.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "app/toolkit.h"
#include "directions/web/web_browser.h"

#include <cstdio>
#include <cstring>

namespace {

const char kWindowMode[] = "--window-mode";

const QByteArray kFormPage
    = "<html><head><title>Directions</title></head><body>"
      "<form name=\"dd\" action=\"/dd_result\" method=\"get\">"
      "<input type=\"text\" name=\"addr\"><input type=\"text\" name=\"csz\">"
      "<input type=\"text\" name=\"taddr\"><input type=\"text\" name=\"tcsz\">"
      "<input type=\"submit\" name=\"getrte\" value=\"Get Directions\"></form></body></html>";

// Answers every request with the form page and closes the connection.
class TinyDirectionsServer : public QTcpServer {
public:
    TinyDirectionsServer()
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    if (!socket->readAll().contains("\r\n\r\n"))
                        return;
                    socket->write(
                        "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\n"
                        "Content-Length: "
                        + QByteArray::number(kFormPage.size()) + "\r\n\r\n" + kFormPage);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString baseAddress() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }
};

qint64 residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// The window process: the program's own start-up, then one line "entry <kB>".
int runWindow(int argc, char* argv[], const QString& baseAddress, const QString& settingsFolder)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwickley"));
    tw::app::setSettingsFolder(settingsFolder);
    tw::directions::mainForm form(baseAddress);
    auto* search = form.findChild<QPushButton*>(QStringLiteral("btn_Search"));
    // The window handles each page completion first (it connected first); this
    // looks at the state it left.
    auto* browser = form.findChild<tw::web::WebBrowser*>(QStringLiteral("WebBrowser1"));
    QObject::connect(browser, &tw::web::WebBrowser::documentComplete, &application, [&] {
        if (search->isVisible() && search->isEnabled()) {
            std::printf("entry %lld\n", static_cast<long long>(residentKilobytes()));
            std::fflush(stdout);
            QApplication::quit();
        }
    });
    form.show();
    return QApplication::exec();
}

void BM_StartToEntryState(benchmark::State& state, const char* self)
{
    TinyDirectionsServer server;
    QTemporaryDir settings;
    qint64 lastResident = 0;
    for (auto _ : state) {
        QProcess window;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        window.setProcessEnvironment(environment);
        QByteArray report;
        QEventLoop loop;
        QObject::connect(&window, &QProcess::readyReadStandardOutput, &loop, [&] {
            report += window.readAllStandardOutput();
            if (report.contains('\n'))
                loop.quit();
        });
        QObject::connect(&window, &QProcess::finished, &loop, &QEventLoop::quit);
        QElapsedTimer timer;
        timer.start();
        window.start(QString::fromLocal8Bit(self),
            { QString::fromLatin1(kWindowMode), server.baseAddress(), settings.path() });
        loop.exec();
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
        if (!report.startsWith("entry ")) {
            state.SkipWithError("the window never reached its entry state");
            break;
        }
        lastResident = report.mid(6).trimmed().toLongLong();
        window.waitForFinished();
    }
    state.counters["resident_MB"] = static_cast<double>(lastResident) / 1024.0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc >= 4 && std::strcmp(argv[1], kWindowMode) == 0)
        return runWindow(argc, argv, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));

    QCoreApplication application(argc, argv);
    const char* self = argv[0];
    benchmark::RegisterBenchmark(
        "BM_StartToEntryState", [self](benchmark::State& state) { BM_StartToEntryState(state, self); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(20);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
