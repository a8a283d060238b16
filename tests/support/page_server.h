#pragma once
// PageServer: a scripted HTTP server on the loopback interface for tests.
//
// Listens on 127.0.0.1 at an ephemeral port as soon as it is made, on the
// thread (and event loop) that made it. Each connection carries one request
// (HTTP/1.1, Content-Length bodies, "Connection: close" answers). A request is
// answered by the page set for its exact path (without the query), else by the
// handler, else with 404. Every request is recorded, in arrival order.
//
// A Response can be delayed (a QTimer, never a sleep) or can drop the
// connection without answering. A redirect is a Response with status 302 and a
// Location header.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <functional>

class QTcpServer;
class QTcpSocket;

namespace tw::test {

class PageServer : public QObject {
    Q_OBJECT

public:
    struct Request {
        QByteArray method;
        QByteArray target; // the request line's target, byte for byte
        QString path; // as sent, still percent-encoded, without the query
        QString query; // as sent, without the "?"
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;

        // The value of header `name` (any letter case), or empty.
        QByteArray header(const QByteArray& name) const;
    };

    struct Response {
        int status = 200;
        QByteArray contentType = "text/html; charset=utf-8";
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        int delayMs = 0;
        bool dropConnection = false;
    };

    // Listens on `port` (a free one when 0), e.g. the port a client has been
    // trying before anything listened there.
    explicit PageServer(QObject* parent = nullptr, quint16 port = 0);
    ~PageServer() override;

    // "http://127.0.0.1:PORT", no trailing slash.
    QString baseUrl() const;
    quint16 port() const;

    void setPage(const QString& path, const Response& r);
    void setHandler(std::function<Response(const Request&)> h);
    QList<Request> requests() const { return m_requests; }

    // Convenience: a 200 page with `html` as its body.
    static Response html(const QByteArray& html, const QByteArray& contentType = "text/html; charset=utf-8");
    // Convenience: a 302 to `location`.
    static Response redirect(const QByteArray& location);

signals:
    // Emitted when a request has been read in full (before it is answered).
    void requestReceived(const tw::test::PageServer::Request& request);
    // Emitted when the answer to a request for `path` has been written (or the
    // connection dropped, or the client went away before a delayed answer).
    void responseSent(const QString& path);

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Request& request);

    QTcpServer* m_server;
    QHash<QString, Response> m_pages;
    std::function<Response(const Request&)> m_handler;
    QList<Request> m_requests;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

} // namespace tw::test
