#include "directions/web/web_browser.h"

#include "directions/web/html_parser.h"
#include "directions/web/url_parser.h"

#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace tw::web {
namespace {

// Frames inside frames are followed this deep, and no page loads more than
// this many frames: a page that frames itself must not load forever.
constexpr int kMaxFrameDepth = 4;
constexpr int kMaxFramesPerPage = 64;

bool isLoadableScheme(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == u"http" || scheme == u"https" || scheme == u"file";
}

bool isRedirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Where a redirect leads: its Location parsed by the URL Standard against the
// address that answered with it (a Location is read as UTF-8, whatever the
// page's charset). A Location without a fragment keeps the fragment of that
// address. The one place that parses a Location; nothing when it is no
// address.
std::optional<QByteArray> redirectTarget(const NavigationRequest& from, const QByteArray& location)
{
    const std::optional<QByteArray> base
        = from.exactUrl.isEmpty() ? url::fromQUrl(from.url) : std::optional<QByteArray>(from.exactUrl);
    if (!base) {
        return std::nullopt;
    }
    std::optional<QByteArray> target = url::resolve(*base, QString::fromUtf8(location.trimmed()), "utf-8");
    if (target && !target->contains('#')) {
        const qsizetype hash = base->indexOf('#');
        if (hash >= 0) {
            target->append(base->mid(hash));
        }
    }
    return target;
}

// The address as the events report it: fully percent-encoded, and a web
// address without a path gets "/", as browsers show it.
QString reportedUrl(QUrl url)
{
    const QString scheme = url.scheme().toLower();
    if ((scheme == u"http" || scheme == u"https") && url.path().isEmpty()) {
        url.setPath(u"/"_s);
    }
    return QString::fromUtf8(url.toEncoded(QUrl::FullyEncoded));
}

} // namespace

const char* const WebBrowser::kUserAgent = "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.0)";

// One document still loading or waiting for its frames. documentComplete for it
// fires once its own load and all its frames have settled.
struct WebBrowser::Completion {
    QString url;
    int outstanding = 1; // its own load, plus one per frame started
    bool loaded = false;
    Completion* parent = nullptr;
};

// One request in flight: the page or one frame.
struct WebBrowser::Load {
    NavigationRequest request; // the request of the current hop
    QNetworkReply* reply = nullptr;
    QByteArray data;
    HtmlElement* frameElement = nullptr; // nullptr for the page itself
    Completion* completion = nullptr;
    int depth = 0;
    int redirects = 0;
    QTimer deadline; // from the first request to the last byte of the last hop
};

WebBrowser::WebBrowser(QObject* parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
{
    m_network->setCookieJar(new QNetworkCookieJar(m_network));
    // Redirects are followed by this client (followRedirect): Qt's own following
    // sends some requests twice on a kept-alive connection and now and then
    // fails a POST answered with 307.
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

WebBrowser::~WebBrowser()
{
    abortAll();
}

void WebBrowser::navigate2(const QString& url)
{
    const QString trimmed = url.trimmed();
    if (trimmed.compare(u"about:blank", Qt::CaseInsensitive) == 0) {
        abortAll();
        postBlankPage(QUrl(u"about:blank"_s));
        return;
    }
    NavigationRequest request;
    request.url = QUrl::fromUserInput(trimmed);
    if (!request.url.isValid() || !isLoadableScheme(request.url)) {
        abortAll();
        postError(url, BadAddress);
        return;
    }
    navigate(request);
}

void WebBrowser::navigate(const NavigationRequest& request)
{
    abortAll();
    if (!request.url.isValid() || !isLoadableScheme(request.url)) {
        postError(request.url.toString(), BadAddress);
        return;
    }
    m_framesStarted = 0;
    auto* completion = m_completions.emplace_back(std::make_unique<Completion>()).get();
    startLoad(request, nullptr, completion, 0);
}

void WebBrowser::stop()
{
    abortAll();
}

HtmlDocument* WebBrowser::document()
{
    if (!m_document) {
        throw ScriptError(u"No page is loaded."_s);
    }
    return m_document.get();
}

bool WebBrowser::busy() const
{
    return !m_loads.empty();
}

void WebBrowser::startLoad(
    const NavigationRequest& request, HtmlElement* frameElement, Completion* parent, int depth)
{
    auto load = std::make_unique<Load>();
    load->request = request;
    load->frameElement = frameElement;
    load->completion = parent;
    load->depth = depth;
    Load* raw = load.get();
    raw->deadline.setSingleShot(true);
    connect(&raw->deadline, &QTimer::timeout, this, [this, raw] { onTimedOut(raw); });
    raw->deadline.start(m_pageTimeoutMs);
    m_loads.push_back(std::move(load));
    sendRequest(raw);
}

void WebBrowser::sendRequest(Load* load)
{
    const NavigationRequest& request = load->request;
    // The fragment stays on this side: it is never sent.
    QNetworkRequest networkRequest(request.url.adjusted(QUrl::RemoveFragment));
    networkRequest.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(kUserAgent));
    networkRequest.setRawHeader("Accept", "*/*");
    networkRequest.setRawHeader("Accept-Language", "en-us");
    if (request.method == "POST") {
        networkRequest.setHeader(QNetworkRequest::ContentTypeHeader, request.contentType);
        load->reply = m_network->post(networkRequest, request.body);
    } else {
        load->reply = m_network->get(networkRequest);
    }
    connect(load->reply, &QNetworkReply::readyRead, this, [this, load] { onReadyRead(load); });
    connect(load->reply, &QNetworkReply::finished, this, [this, load] { onFinished(load); });
}

void WebBrowser::followRedirect(std::unique_ptr<Load> load, int status, const QByteArray& location)
{
    const QString from = reportedUrl(load->request.url);
    if (load->redirects >= kMaxRedirects) {
        failed(std::move(load), from, TooManyRedirects);
        return;
    }
    const std::optional<QByteArray> target = redirectTarget(load->request, location);
    const QByteArray scheme = target ? url::scheme(*target) : QByteArray();
    if (scheme != "http" && scheme != "https") {
        failed(std::move(load), from, BadAddress);
        return;
    }
    ++load->redirects;
    NavigationRequest& request = load->request;
    request.exactUrl = *target;
    request.url = url::toQUrl(*target);
    if (((status == 301 || status == 302) && request.method == "POST")
        || (status == 303 && request.method != "GET" && request.method != "HEAD")) {
        request.method = "GET";
        request.body.clear();
        request.contentType.clear();
    }
    load->data.clear();
    Load* raw = load.get();
    m_loads.push_back(std::move(load));
    sendRequest(raw);
}

void WebBrowser::onReadyRead(Load* load)
{
    const qint64 room = m_maxPageBytes - load->data.size();
    if (load->reply->bytesAvailable() > room) {
        abandon(load, PageTooLarge);
        return;
    }
    load->data += load->reply->readAll();
}

void WebBrowser::onFinished(Load* load)
{
    std::unique_ptr<Load> owned = takeLoad(load);
    if (!owned) {
        return;
    }
    QNetworkReply* reply = owned->reply;
    reply->disconnect(this);
    reply->deleteLater();
    const QString url = reportedUrl(owned->request.url);
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && isRedirectStatus(status.toInt()) && reply->hasRawHeader("Location")
        && reply->error() == QNetworkReply::NoError) {
        followRedirect(std::move(owned), status.toInt(), reply->rawHeader("Location"));
        return;
    }
    if (status.isValid() && status.toInt() >= 400) {
        if (!owned->frameElement && owned->data.size() + reply->bytesAvailable() <= m_maxPageBytes) {
            owned->data += reply->readAll();
            if (!owned->data.isEmpty()) {
                m_errorPage = parseHtmlBytes(owned->data,
                    reply->header(QNetworkRequest::ContentTypeHeader).toByteArray(), owned->request.url);
            }
        }
        failed(std::move(owned), url, status.toInt());
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        failed(std::move(owned), url, NetworkFailure);
        return;
    }
    if (owned->data.size() + reply->bytesAvailable() > m_maxPageBytes) {
        failed(std::move(owned), url, PageTooLarge);
        return;
    }
    owned->data += reply->readAll();
    loaded(std::move(owned), reply);
}

void WebBrowser::onTimedOut(Load* load)
{
    abandon(load, TimedOut);
}

void WebBrowser::abandon(Load* load, int statusCode)
{
    std::unique_ptr<Load> owned = takeLoad(load);
    if (!owned) {
        return;
    }
    QNetworkReply* reply = owned->reply;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
    const QString url = reportedUrl(owned->request.url);
    failed(std::move(owned), url, statusCode);
}

void WebBrowser::loaded(std::unique_ptr<Load> load, QNetworkReply* reply)
{
    const quint64 generation = m_generation;
    load->deadline.stop();
    const QUrl finalUrl = load->request.url;
    const QString url = reportedUrl(finalUrl);
    std::unique_ptr<HtmlDocument> parsed = parseHtmlBytes(
        load->data, reply->header(QNetworkRequest::ContentTypeHeader).toByteArray(), finalUrl);
    load->data.clear();
    installNavigationHandler(parsed.get());
    Completion* completion = load->completion;
    completion->url = url;
    completion->loaded = true;
    HtmlDocument* document = parsed.get();
    if (!load->frameElement) {
        m_document = std::move(parsed);
        emit navigateComplete2(url);
        if (generation != m_generation) {
            return; // a handler started another navigation
        }
    } else {
        HtmlDocument* owner = load->frameElement->ownerDocument();
        owner->adoptFrame(load->frameElement, std::move(parsed));
    }
    startFrames(document, completion, load->depth);
    settle(completion, true);
}

void WebBrowser::failed(std::unique_ptr<Load> load, const QString& url, int statusCode)
{
    const quint64 generation = m_generation;
    load->deadline.stop();
    emit navigateError(url, statusCode, load->frameElement ? Target::Frame : Target::Page);
    if (generation != m_generation || !load->frameElement) {
        return; // a failed page ends its navigation; the previous document stays
    }
    // A failed frame still lets its page complete.
    settle(load->completion, false);
}

void WebBrowser::startFrames(HtmlDocument* document, Completion* completion, int depth)
{
    if (depth >= kMaxFrameDepth) {
        return;
    }
    HtmlElement* root = document->documentElement();
    for (HtmlNode* n = root; n; n = n->nextInTree(root)) {
        HtmlElement* e = n->asElement();
        if (!e || (e->tagName() != u"frame" && e->tagName() != u"iframe")) {
            continue;
        }
        const QString src = e->getAttribute(u"src"_s).trimmed();
        if (src.isEmpty() || m_framesStarted >= kMaxFramesPerPage) {
            continue;
        }
        NavigationRequest request;
        request.url = document->baseUrl().resolved(QUrl(src));
        if (!request.url.isValid() || !isLoadableScheme(request.url)) {
            continue;
        }
        ++m_framesStarted;
        auto* child = m_completions.emplace_back(std::make_unique<Completion>()).get();
        child->parent = completion;
        ++completion->outstanding;
        startLoad(request, e, child, depth + 1);
    }
}

void WebBrowser::settle(Completion* completion, bool succeeded)
{
    // Walk up: a document completes when its own load and all its frames have
    // settled; then its parent loses one outstanding part.
    const quint64 generation = m_generation;
    for (Completion* c = completion; c; c = c->parent) {
        if (--c->outstanding > 0) {
            return;
        }
        if (succeeded && c->loaded) {
            // A copy: a receiver that starts a new navigation frees `c`, and
            // the receivers after it still read the address.
            const QString url = c->url;
            emit documentComplete(url);
            if (generation != m_generation) {
                return;
            }
        }
        succeeded = true;
    }
    m_completions.clear();
}

std::unique_ptr<WebBrowser::Load> WebBrowser::takeLoad(Load* load)
{
    for (auto it = m_loads.begin(); it != m_loads.end(); ++it) {
        if (it->get() == load) {
            std::unique_ptr<Load> owned = std::move(*it);
            m_loads.erase(it);
            return owned;
        }
    }
    return nullptr;
}

void WebBrowser::abortAll()
{
    ++m_generation;
    m_errorPage.reset();
    std::vector<std::unique_ptr<Load>> loads;
    loads.swap(m_loads);
    for (const auto& load : loads) {
        load->reply->disconnect(this);
        load->reply->abort();
        load->reply->deleteLater();
    }
    m_completions.clear();
}

void WebBrowser::postError(const QString& url, int statusCode)
{
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [this, generation, url, statusCode] {
        if (generation == m_generation) {
            emit navigateError(url, statusCode, Target::Page);
        }
    });
}

void WebBrowser::postBlankPage(const QUrl& url)
{
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [this, generation, url] {
        if (generation != m_generation) {
            return;
        }
        m_document = std::make_unique<HtmlDocument>(url, "windows-1252");
        installNavigationHandler(m_document.get());
        const QString text = url.toString();
        emit navigateComplete2(text);
        if (generation == m_generation) {
            emit documentComplete(text);
        }
    });
}

void WebBrowser::installNavigationHandler(HtmlDocument* document)
{
    // Forms and links in frames load into the whole window: this client has no
    // frame targets.
    QPointer<WebBrowser> self(this);
    document->setNavigationHandler([self](const NavigationRequest& request) {
        if (self) {
            self->navigate(request);
        }
    });
}

} // namespace tw::web
