#include "app/service_starter.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTimer>

#include <csignal>

Q_LOGGING_CATEGORY(lcStartup, "tarnwickley.startup", QtWarningMsg)

namespace tw::app {

namespace {

constexpr int kDefaultPort = 80;
// How long a just-started service may take to open its lease socket: it does
// that before it loads the map, so this is only process start-up.
constexpr int kLeaseRetryMs = 100;
constexpr int kLeaseAttempts = 50;
// After a lost lease: long enough for a stopping service to have let go of the port.
constexpr int kRestartDelayMs = 1000;

bool isLoopback(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace

ServiceStarter::ServiceStarter(
    QUrl baseAddress, QString serviceProgram, QString runtimeFolder, QObject* parent)
    : QObject(parent)
    , m_baseAddress(std::move(baseAddress))
    , m_serviceProgram(std::move(serviceProgram))
    , m_runtimeFolder(std::move(runtimeFolder))
{
    m_leaseRetry = new QTimer(this);
    m_leaseRetry->setInterval(kLeaseRetryMs);
    connect(m_leaseRetry, &QTimer::timeout, this, &ServiceStarter::retryLease);
    connect(&m_lease, &QLocalSocket::disconnected, this, &ServiceStarter::leaseLost);
    connect(&m_lease, &QLocalSocket::readyRead, this, &ServiceStarter::readLease);
}

ServiceStarter::~ServiceStarter()
{
    // Closing the lease is all the service needs to know that this application is gone.
    m_lease.disconnect(this);
    m_lease.abort();
}

QString ServiceStarter::leaseSocketPath() const
{
    return QDir(m_runtimeFolder)
        .filePath(QStringLiteral("tarnwickley-directions-%1.lease").arg(m_baseAddress.port(kDefaultPort)));
}

QString ServiceStarter::logFilePath() const
{
    return QDir(m_runtimeFolder)
        .filePath(QStringLiteral("tarnwickley-directions-%1.log").arg(m_baseAddress.port(kDefaultPort)));
}

QString ServiceStarter::installedServiceProgram()
{
    const QFileInfo program(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tarnwickley-directions")));
    return program.isFile() && program.isExecutable() ? program.filePath() : QString();
}

QString ServiceStarter::defaultRuntimeFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

bool ServiceStarter::holdsLease() const
{
    return m_lease.state() == QLocalSocket::ConnectedState;
}

ServiceStarter::Outcome ServiceStarter::ensureService()
{
    if (holdsLease())
        return Outcome::Joined;
    if (m_baseAddress.scheme() != QLatin1String("http") || !isLoopback(m_baseAddress.host())) {
        qCInfo(lcStartup) << "the directions service" << m_baseAddress.toString() << "is not on this machine";
        return Outcome::NotLocal;
    }
    if (tryLease()) {
        qCInfo(lcStartup) << "sharing the directions service another application started";
        return Outcome::Joined;
    }
    if (answersAtBaseAddress()) {
        qCInfo(lcStartup) << "a directions service answers at" << m_baseAddress.toString();
        return Outcome::AnswersAlready;
    }
    if (m_serviceProgram.isEmpty()) {
        qCInfo(lcStartup) << "nothing answers at" << m_baseAddress.toString()
                          << "and no directions service is installed beside the application";
        return Outcome::NoProgram;
    }
    return startService() ? Outcome::Started : Outcome::StartFailed;
}

bool ServiceStarter::waitUntilReady(int limitMs)
{
    if (m_serviceReady)
        return true;
    if (!holdsLease() && !m_leaseRetry->isActive())
        return false;
    QEventLoop loop;
    connect(this, &ServiceStarter::serviceReady, &loop, &QEventLoop::quit);
    connect(&m_lease, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    loop.exec();
    return m_serviceReady;
}

void ServiceStarter::readLease()
{
    // The service sends one line, "ready", once it answers; nothing else.
    if (m_lease.readAll().contains("ready") && !m_serviceReady) {
        m_serviceReady = true;
        qCInfo(lcStartup) << "the directions service answers";
        emit serviceReady();
    }
}

bool ServiceStarter::tryLease()
{
    if (!QFileInfo::exists(leaseSocketPath()))
        return false;
    m_lease.abort();
    m_serviceReady = false;
    m_lease.connectToServer(leaseSocketPath(), QIODevice::ReadWrite);
    // A local connect succeeds or fails at once; the wait covers a busy backlog.
    if (!m_lease.waitForConnected(1000)) {
        m_lease.abort();
        return false;
    }
    m_leaseRetry->stop();
    emit leaseTaken();
    return true;
}

bool ServiceStarter::answersAtBaseAddress() const
{
    QTcpSocket probe;
    probe.connectToHost(m_baseAddress.host(), static_cast<quint16>(m_baseAddress.port(kDefaultPort)));
    // Loopback: a refusal is immediate; the limit only bounds a host name lookup.
    const bool answers = probe.waitForConnected(1000);
    probe.abort();
    return answers;
}

bool ServiceStarter::startService()
{
    QDir().mkpath(m_runtimeFolder);
    QString host = m_baseAddress.host();
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    QProcess process;
    process.setProgram(m_serviceProgram);
    process.setArguments(
        { QStringLiteral("--listen"), QStringLiteral("%1:%2").arg(host).arg(m_baseAddress.port(kDefaultPort)),
            QStringLiteral("--quiet"), QStringLiteral("--lease-socket"), leaseSocketPath() });
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(logFilePath(), QIODevice::Truncate);
    // The service must not keep a folder busy that the user may want to unmount.
    process.setWorkingDirectory(QDir::rootPath());
    if (!process.startDetached(&m_startedPid)) {
        qCWarning(lcStartup) << "cannot start the directions service" << m_serviceProgram << ":"
                             << process.errorString();
        return false;
    }
    qCInfo(lcStartup) << "started the directions service" << m_serviceProgram << "process" << m_startedPid
                      << "; its messages go to" << logFilePath();
    m_leaseAttemptsLeft = kLeaseAttempts;
    m_leaseRetry->start();
    return true;
}

void ServiceStarter::retryLease()
{
    if (tryLease()) {
        qCInfo(lcStartup) << "holding a lease on the directions service";
        return;
    }
    // The started service ended before it listened: another one won the race
    // for the lease socket (then it appears there soon) or it failed (see the log).
    const bool alive = m_startedPid > 0 && ::kill(static_cast<pid_t>(m_startedPid), 0) == 0;
    if (--m_leaseAttemptsLeft <= 0 || (!alive && !QFileInfo::exists(leaseSocketPath()))) {
        m_leaseRetry->stop();
        qCWarning(lcStartup) << "the directions service did not start; see" << logFilePath();
    }
}

void ServiceStarter::leaseLost()
{
    if (m_restartsLeft <= 0) {
        qCWarning(lcStartup) << "the directions service ended again; not starting it any more. See"
                             << logFilePath();
        return;
    }
    --m_restartsLeft;
    qCInfo(lcStartup) << "the directions service ended; looking for one again";
    QTimer::singleShot(kRestartDelayMs, this, [this] { ensureService(); });
}

} // namespace tw::app
