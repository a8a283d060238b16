#include "tests/support/page_server.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace tw::test {
namespace {

// Requests larger than this are refused; a test never needs more.
constexpr qsizetype kMaxRequestBytes = 64 * 1024 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

} // namespace

QByteArray PageServer::Request::header(const QByteArray& name) const
{
    for (const auto& h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
            return h.second;
        }
    }
    return {};
}

PageServer::PageServer(QObject* parent, quint16 port)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &PageServer::onNewConnection);
    m_server->listen(QHostAddress::LocalHost, port);
}

PageServer::~PageServer() = default;

QString PageServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

quint16 PageServer::port() const
{
    return m_server->serverPort();
}

void PageServer::setPage(const QString& path, const Response& r)
{
    m_pages.insert(path, r);
}

void PageServer::setHandler(std::function<Response(const Request&)> h)
{
    m_handler = std::move(h);
}

PageServer::Response PageServer::html(const QByteArray& html, const QByteArray& contentType)
{
    Response r;
    r.body = html;
    r.contentType = contentType;
    return r;
}

PageServer::Response PageServer::redirect(const QByteArray& location)
{
    Response r;
    r.status = 302;
    r.body = "<html><body>Moved</body></html>";
    r.headers.append({ "Location", location });
    return r;
}

void PageServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        m_buffers.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void PageServer::onReadyRead(QTcpSocket* socket)
{
    auto it = m_buffers.find(socket);
    if (it == m_buffers.end()) {
        return; // already answered
    }
    QByteArray& buffer = it.value();
    buffer += socket->readAll();
    if (buffer.size() > kMaxRequestBytes) {
        m_buffers.erase(it);
        socket->abort();
        return;
    }
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        return;
    }
    Request request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    const QByteArray target = requestLine.value(1);
    request.target = target;
    const qsizetype question = target.indexOf('?');
    request.path = QString::fromLatin1(question < 0 ? target : target.left(question));
    request.query = question < 0 ? QString() : QString::fromLatin1(target.mid(question + 1));
    qsizetype contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            continue;
        }
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        request.headers.append({ name, value });
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            contentLength = value.toLongLong();
        }
    }
    const qsizetype bodyStart = headerEnd + 4;
    if (buffer.size() - bodyStart < contentLength) {
        return; // wait for the rest of the body
    }
    request.body = buffer.mid(bodyStart, contentLength);
    m_buffers.erase(it);
    m_requests.append(request);
    emit requestReceived(request);
    answer(socket, request);
}

void PageServer::answer(QTcpSocket* socket, const Request& request)
{
    Response response;
    if (auto page = m_pages.constFind(request.path); page != m_pages.constEnd()) {
        response = page.value();
    } else if (m_handler) {
        response = m_handler(request);
    } else {
        response = Response { 404, "text/html; charset=utf-8", "<html><body>Not found</body></html>", {}, 0,
            false };
    }

    QPointer<QTcpSocket> guarded(socket);
    QPointer<PageServer> self(this);
    const QString path = request.path;
    auto send = [guarded, self, response, path] {
        if (!guarded) {
            if (self) {
                emit self->responseSent(path);
            }
            return;
        }
        if (response.dropConnection) {
            guarded->abort();
            if (self) {
                emit self->responseSent(path);
            }
            return;
        }
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' '
            + reasonPhrase(response.status) + "\r\n";
        if (!response.contentType.isEmpty()) {
            head += "Content-Type: " + response.contentType + "\r\n";
        }
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        head += "Connection: close\r\n";
        for (const auto& h : response.headers) {
            head += h.first + ": " + h.second + "\r\n";
        }
        head += "\r\n";
        guarded->write(head);
        guarded->write(response.body);
        guarded->disconnectFromHost();
        if (self) {
            emit self->responseSent(path);
        }
    };
    if (response.delayMs > 0) {
        QTimer::singleShot(response.delayMs, this, send);
    } else {
        send();
    }
}

} // namespace tw::test
