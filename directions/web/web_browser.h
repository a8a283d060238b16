#pragma once
// WebBrowser: the hidden web client that stands in for a browser control. It
// loads pages over HTTP, parses them into an HtmlDocument, lets the caller fill
// and submit forms, and reports progress through signals.
//
// Contract:
// - navigate2() returns at once. Every signal is delivered later from the event
//   loop, never inside the call that started the load (navigate2, click).
// - A successful load emits navigateComplete2(url) when the page has arrived and
//   been parsed (document() is the new page from then on), then loads the
//   page's frames and iframes (a few levels deep, at most 64 per page);
//   documentComplete(url) fires for each frame once it and its own frames have
//   loaded, then once for the page itself. `url` is the final address after
//   redirects, fully percent-encoded ("http://host:port/" for an empty path).
// - A failed page load emits navigateError(url, statusCode, Target::Page) and no
//   completion; the previous document stays. A failed frame emits navigateError
//   with Target::Frame and the page still completes. statusCode is the HTTP
//   status (400 and above) when the server answered, or one of the negative
//   NavigateErrorCode values below. A page or frame that has not arrived whole
//   within pageTimeoutMs() of its first request (redirects included) fails with
//   TimedOut.
// - A form submitted or a link clicked inside a frame loads into the whole
//   window: this client has no frame targets.
// - A new navigation cancels the one still loading: the older one's reply is
//   never reported.
// - Redirects (301, 302, 303, 307, 308 with a Location) are followed by this
//   client, one request per hop, as the Fetch standard does: 307 and 308 repeat
//   the method and body, 301 and 302 after a POST and 303 after anything but
//   GET load the target with GET and no body; a Location without a fragment
//   keeps the fragment of the address it came from. The 21st redirect of one
//   load fails with TooManyRedirects, a Location that is no http(s) address
//   with BadAddress.
// - Cookies are kept for the life of the object, requests carry an IE7-style
//   User-Agent. A page over maxPageBytes() is abandoned with
//   navigateError(url, PageTooLarge).
// - All on the thread that owns the object (the user-interface thread).

#include "directions/web/html_document.h"
#include "directions/web/html_element.h"
#include "directions/web/navigation_request.h"
#include "directions/web/script_error.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;

namespace tw::web {

// Codes of navigateError for failures without an HTTP status.
enum NavigateErrorCode : int {
    // The network failed: connection refused, host not found, timeout ...
    NetworkFailure = -1,
    // The address is not a web address this client can load.
    BadAddress = -2,
    // The page is larger than maxPageBytes().
    PageTooLarge = -3,
    // The page did not arrive within pageTimeoutMs(): a server that accepts
    // the connection and never answers.
    TimedOut = -4,
    // More redirects than a browser follows (a redirect loop).
    TooManyRedirects = -5,
};

class WebBrowser : public QObject {
    Q_OBJECT

public:
    // The User-Agent sent with every request.
    static const char* const kUserAgent;
    // The default cap on the size of one page or frame (32 MB).
    static constexpr qint64 kDefaultMaxPageBytes = 32 * 1024 * 1024;
    // The default time a page or frame may take to arrive.
    static constexpr int kDefaultPageTimeoutMs = 30'000;
    // The most redirects one load follows.
    static constexpr int kMaxRedirects = 20;

    // What a failed load was loading: the whole page, or one of its frames.
    enum class Target { Page, Frame };
    Q_ENUM(Target)

    explicit WebBrowser(QObject* parent = nullptr);
    ~WebBrowser() override;

    // Starts loading `url` (a web address; "about:blank" gives an empty page) and
    // returns at once, cancelling any load still in progress.
    void navigate2(const QString& url);
    // Starts loading a request built by a click (form submission, link).
    void navigate(const NavigationRequest& request);
    // Cancels the load in progress, if any; nothing of it is reported.
    void stop();

    // The whole page's document. Throws ScriptError("No page is loaded.") before
    // the first page has loaded. The pointer stays valid until the next page
    // replaces it.
    HtmlDocument* document();
    // After navigateError with an HTTP status for the whole page: the page the
    // server sent with that status, parsed (a browser would show it), or nullptr
    // when it sent none. It is not the current document; the next navigation
    // drops it.
    HtmlDocument* errorPage() const { return m_errorPage.get(); }
    // True while a page or its frames are loading.
    bool busy() const;

    qint64 maxPageBytes() const { return m_maxPageBytes; }
    void setMaxPageBytes(qint64 bytes) { m_maxPageBytes = bytes; }
    // Applies to loads started afterwards.
    int pageTimeoutMs() const { return m_pageTimeoutMs; }
    void setPageTimeoutMs(int ms) { m_pageTimeoutMs = ms; }

signals:
    void documentComplete(const QString& url);
    void navigateComplete2(const QString& url);
    void navigateError(const QString& url, int statusCode, tw::web::WebBrowser::Target target);

private:
    struct Load;
    struct Completion;

    void startLoad(
        const NavigationRequest& request, HtmlElement* frameElement, Completion* parent, int depth);
    void sendRequest(Load* load);
    void followRedirect(std::unique_ptr<Load> load, int status, const QByteArray& location);
    void onReadyRead(Load* load);
    void onFinished(Load* load);
    void onTimedOut(Load* load);
    // Stops a load still in flight and reports it failed with `statusCode`.
    void abandon(Load* load, int statusCode);
    void loaded(std::unique_ptr<Load> load, QNetworkReply* reply);
    void failed(std::unique_ptr<Load> load, const QString& url, int statusCode);
    void startFrames(HtmlDocument* document, Completion* completion, int depth);
    void settle(Completion* completion, bool succeeded);
    std::unique_ptr<Load> takeLoad(Load* load);
    void abortAll();
    void postError(const QString& url, int statusCode);
    void postBlankPage(const QUrl& url);
    void installNavigationHandler(HtmlDocument* document);

    QNetworkAccessManager* m_network;
    std::unique_ptr<HtmlDocument> m_document;
    std::unique_ptr<HtmlDocument> m_errorPage;
    std::vector<std::unique_ptr<Load>> m_loads;
    std::vector<std::unique_ptr<Completion>> m_completions;
    int m_framesStarted = 0;
    quint64 m_generation = 0;
    qint64 m_maxPageBytes = kDefaultMaxPageBytes;
    int m_pageTimeoutMs = kDefaultPageTimeoutMs;
};

} // namespace tw::web
