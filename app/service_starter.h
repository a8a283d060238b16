#pragma once
// ServiceStarter: makes sure a directions service answers at the application's
// base address, starting the one installed beside the application when nothing
// answers there.
//
// Contract:
// - A service that an application started listens on the base address and on a
//   lease socket (a Unix socket in the user's runtime folder, one per port). Each
//   application that uses such a service holds one connection to its lease
//   socket for its whole life; the service stops a few seconds after the last
//   connection closes (see service/server/lease_watch.h). So a second
//   application shares the running service, and closing (or killing) the last
//   application stops it.
// - A service that answers without a lease socket (the systemd user socket, a
//   service started by hand) is used as it is and never stopped.
// - Only a loopback base address is ever served by a started service.
// - ensureService() is quick (local connects only); it never waits for the map
//   to load. A started service says "ready" on the lease once it answers:
//   waitUntilReady() waits for that, bounded, so that the window's first page
//   request finds the service on the bundled map; with a large map to import
//   the window retries its page until the service answers.
// - When the lease ends while the application runs (the service crashed or
//   stopped just as this application joined it), the starter tries again a few
//   times, then gives up; the main window then keeps saying that the service
//   does not answer.
// - What it does is logged in the category "tarnwickley.startup" at info level
//   (QT_LOGGING_RULES="tarnwickley.startup.info=true"); the started service's
//   own messages go to logFilePath().

#include <QLocalSocket>
#include <QLoggingCategory>
#include <QObject>
#include <QString>
#include <QUrl>

class QTimer;

Q_DECLARE_LOGGING_CATEGORY(lcStartup)

namespace tw::app {

class ServiceStarter : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Joined, // holds a lease on a service an application started
        AnswersAlready, // something else answers at the base address
        Started, // started the service; the lease follows once it listens
        NotLocal, // the base address is not on this machine: nothing to do
        NoProgram, // nothing answers and no service program to start
        StartFailed, // the service program could not be started
    };

    // `serviceProgram` is the service to start (empty: none); `runtimeFolder`
    // holds the lease socket and the started service's log.
    ServiceStarter(
        QUrl baseAddress, QString serviceProgram, QString runtimeFolder, QObject* parent = nullptr);
    ~ServiceStarter() override;

    // Joins, finds or starts a service as the contract says and returns what it did.
    Outcome ensureService();

    // True while this application holds a lease.
    bool holdsLease() const;

    // After ensureService(): returns once the service holding this lease has
    // said it answers, or after `limitMs`, whichever comes first (at once when
    // no lease is held or pending). Runs the event loop meanwhile. Returns true
    // when the service answers.
    bool waitUntilReady(int limitMs);

    QString leaseSocketPath() const;
    QString logFilePath() const;

    // The service program installed beside the running application, or empty
    // when there is none (as in the build tree).
    static QString installedServiceProgram();

    // The folder for the lease socket and the log: the user's runtime folder.
    static QString defaultRuntimeFolder();

signals:
    // The lease was taken (the service started by this or another application).
    void leaseTaken();
    // The service holding this lease answers at the base address.
    void serviceReady();

private:
    bool tryLease();
    bool answersAtBaseAddress() const;
    bool startService();
    void retryLease();
    void leaseLost();
    void readLease();

    const QUrl m_baseAddress;
    const QString m_serviceProgram;
    const QString m_runtimeFolder;
    QLocalSocket m_lease;
    QTimer* m_leaseRetry = nullptr;
    qint64 m_startedPid = 0;
    int m_leaseAttemptsLeft = 0;
    int m_restartsLeft = 3;
    bool m_serviceReady = false;
};

} // namespace tw::app
