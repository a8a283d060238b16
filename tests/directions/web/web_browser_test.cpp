// The web client against the loopback page server: navigation, events, forms,
// redirects, frames, errors, cancellation.

#include "directions/web/web_browser.h"
#include "tests/support/page_server.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <memory>

using tw::test::PageServer;
using tw::web::WebBrowser;

namespace {

const QByteArray kFormPage = "<html><head><title>Directions</title></head><body>"
                             "<form name=\"dd\" action=\"/dd_result\" method=\"get\">"
                             "<input type=\"text\" name=\"addr\"><input type=\"text\" name=\"csz\">"
                             "<input type=\"text\" name=\"taddr\"><input type=\"text\" name=\"tcsz\">"
                             "<input type=\"submit\" name=\"getrte\" value=\"Get Directions\">"
                             "</form></body></html>";

} // namespace

class WebBrowserTest : public QObject {
    Q_OBJECT

private slots:
    void loadsAPageAndReportsItAfterTheCallReturns();
    void fillsAndSubmitsTheDirectionsForm();
    void reportsTheFinalAddressAfterRedirects();
    void submitsWindows1252PagesInWindows1252();
    void postsFormsWithABody();
    void postAnsweredWithRedirectLoadsTheTargetWithGet();
    void followsRedirectsOneRequestPerHopKeepingTheFragment();
    void redirectAfterPostKeepsTheBodyOnlyFor307And308_data();
    void redirectAfterPostKeepsTheBodyOnlyFor307And308();
    void redirectLoopEndsInAnError();
    void pageThatNeverArrivesTimesOut();
    void completesFramesBeforeTheirPage();
    void failedFrameStillCompletesThePage();
    void pageThatFramesItselfStillCompletes();
    void reportsHttpErrorsAndKeepsThePreviousPage();
    void reportsNetworkFailures_data();
    void reportsNetworkFailures();
    void reportsBadAddressesLater();
    void newNavigationCancelsTheOldOne();
    void navigatingFromAHandlerIsSafe();
    void abandonsPagesOverTheSizeCap();
    void keepsCookiesForTheSession();
    void documentBeforeAnyPageIsAScriptError();
};

void WebBrowserTest::loadsAPageAndReportsItAfterTheCallReturns()
{
    PageServer server;
    server.setPage("/dd", PageServer::html(kFormPage));
    WebBrowser browser;
    QSignalSpy navigated(&browser, &WebBrowser::navigateComplete2);
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    browser.navigate2(server.baseUrl() + "/dd");
    QCOMPARE(completed.count(), 0);
    QVERIFY(completed.wait(5000));
    QCOMPARE(navigated.count(), 1);
    QCOMPARE(completed.first().first().toString(), server.baseUrl() + "/dd");
    QCOMPARE(browser.document()->forms("dd")->all("getrte")->value(), QString("Get Directions"));
    QCOMPARE(server.requests().first().header("User-Agent"), QByteArray(WebBrowser::kUserAgent));
}

void WebBrowserTest::fillsAndSubmitsTheDirectionsForm()
{
    PageServer server;
    server.setPage("/dd", PageServer::html(kFormPage));
    server.setPage("/dd_result",
        PageServer::html("<html><body><div><table><tr><td>1.</td><td>Start at <b>Main "
                         "St</b></td></tr></table></div></body></html>"));
    WebBrowser browser;
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    browser.navigate2(server.baseUrl() + "/dd");
    QVERIFY(completed.wait(5000));
    auto* form = browser.document()->forms("dd");
    form->all("addr")->setValue("1 Main St");
    form->all("csz")->setValue("Springfield  ");
    form->all("taddr")->setValue("");
    form->all("tcsz")->setValue("  ");
    form->all("getrte")->click();
    QCOMPARE(completed.count(), 1);
    QVERIFY(completed.wait(5000));
    const QString url = completed.last().first().toString();
    QCOMPARE(url,
        server.baseUrl()
            + "/dd_result?addr=1+Main+St&csz=Springfield++&taddr=&tcsz=++&getrte=Get+Directions");
    QCOMPARE(browser.document()->documentElement()->innerHTML(),
        QString("<HEAD></HEAD><BODY>\r\n<DIV>\r\n<TABLE>\r\n<TBODY>\r\n<TR>\r\n<TD>1.</TD>\r\n<TD>Start at "
                "<B>Main St</B></TD></TR></TBODY></TABLE></DIV></BODY>"));
}

void WebBrowserTest::reportsTheFinalAddressAfterRedirects()
{
    PageServer server;
    server.setPage("/start", PageServer::redirect("/middle"));
    server.setPage("/middle", PageServer::redirect(server.baseUrl().toUtf8() + "/dd?addr=1+Main&x=%2B"));
    server.setPage("/dd", PageServer::html(kFormPage));
    WebBrowser browser;
    QSignalSpy navigated(&browser, &WebBrowser::navigateComplete2);
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    browser.navigate2(server.baseUrl() + "/start");
    QVERIFY(completed.wait(5000));
    const QString final = server.baseUrl() + "/dd?addr=1+Main&x=%2B";
    QCOMPARE(navigated.first().first().toString(), final);
    QCOMPARE(completed.first().first().toString(), final);
    QCOMPARE(browser.document()->url().toString(QUrl::FullyEncoded), final);
}

void WebBrowserTest::submitsWindows1252PagesInWindows1252()
{
    PageServer server;
    // No charset in the header: the meta tag's Latin-1 label means windows-1252.
    server.setPage("/form",
        PageServer::html("<html><head><meta http-equiv=Content-Type content='text/html; "
                         "charset=iso-8859-1'></head><body><form name=f action=/r>"
                         "<input name=q value='Caf\xE9'><input type=submit name=go value=Go>"
                         "</form></body></html>",
            "text/html"));
    server.setPage("/r", PageServer::html("<p>ok"));
    WebBrowser browser;
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    browser.navigate2(server.baseUrl() + "/form");
    QVERIFY(completed.wait(5000));
    QCOMPARE(browser.document()->forms("f")->all("q")->value(), QString::fromUtf16(u"Caf\u00E9"));
    browser.document()->forms("f")->all("q")->setValue(QString::fromUtf16(u"Z\u00FCrich \u20AC \u6771"));
    browser.document()->forms("f")->all("go")->click();
    QVERIFY(completed.wait(5000));
    QCOMPARE(server.requests().last().query, QString("q=Z%FCrich+%80+%26%2326481%3B&go=Go"));
}

void WebBrowserTest::postsFormsWithABody()
{
    PageServer server;
    server.setPage("/form",
        PageServer::html("<form name=f method=post action='/post?keep=1'>"
                         "<input name=a value='x y&z'><input type=submit name=s value=S>"
                         "<input type=submit name=t value=T></form>"));
    server.setPage("/post", PageServer::html("<p>posted"));
    WebBrowser browser;
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    browser.navigate2(server.baseUrl() + "/form");
    QVERIFY(completed.wait(5000));
    browser.document()->forms("f")->all("t")->click();
    QVERIFY(completed.wait(5000));
    const PageServer::Request request = server.requests().last();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.path, QString("/post"));
    QCOMPARE(request.query, QString("keep=1"));
    QCOMPARE(request.body, QByteArray("a=x+y%26z&t=T"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
}

void WebBrowserTest::postAnsweredWithRedirectLoadsTheTargetWithGet()
{
    PageServer server;
    server.setPage("/form",
        PageServer::html("<form name=f method=post action=/post><input name=a value=1>"
                         "<input type=submit name=s value=S></form>"));
    server.setPage("/post", PageServer::redirect("/done?ok=1"));
    server.setPage("/done", PageServer::html("<p>done"));
    WebBrowser browser;
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    browser.navigate2(server.baseUrl() + "/form");
    QVERIFY(completed.wait(5000));
    browser.document()->forms("f")->all("s")->click();
    QVERIFY(completed.wait(5000));
    QCOMPARE(completed.last().first().toString(), server.baseUrl() + "/done?ok=1");
    QCOMPARE(server.requests().last().method, QByteArray("GET"));
    QCOMPARE(server.requests().last().body, QByteArray());
}

void WebBrowserTest::followsRedirectsOneRequestPerHopKeepingTheFragment()
{
    PageServer server;
    server.setPage("/a", PageServer::redirect("/b"));
    server.setPage("/b", PageServer::redirect("/c#moved"));
    server.setPage("/c", PageServer::redirect("/d"));
    server.setPage("/d", PageServer::html("<p>d"));
    WebBrowser browser;
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    browser.navigate2(server.baseUrl() + "/a#start");
    QVERIFY(completed.wait(5000));
    // A Location without a fragment keeps the one before it; one with a fragment
    // replaces it. The fragment is never sent.
    QCOMPARE(completed.first().first().toString(), server.baseUrl() + "/d#moved");
    QStringList paths;
    for (const PageServer::Request& request : server.requests())
        paths << request.path;
    QCOMPARE(paths, QStringList({ "/a", "/b", "/c", "/d" }));
}

void WebBrowserTest::redirectAfterPostKeepsTheBodyOnlyFor307And308_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("repeats");
    QTest::addColumn<QByteArray>("method");
    QTest::newRow("301") << 301 << 1 << QByteArray("GET");
    QTest::newRow("303") << 303 << 1 << QByteArray("GET");
    QTest::newRow("308") << 308 << 1 << QByteArray("POST");
    // Qt's own following failed this now and then.
    QTest::newRow("307, 200 times") << 307 << 200 << QByteArray("POST");
}

void WebBrowserTest::redirectAfterPostKeepsTheBodyOnlyFor307And308()
{
    QFETCH(int, status);
    QFETCH(int, repeats);
    QFETCH(QByteArray, method);
    PageServer server;
    server.setPage("/form",
        PageServer::html("<form name=f method=post action=/post><input name=a value='x y'>"
                         "<input type=submit name=s value=S></form>"));
    PageServer::Response moved = PageServer::redirect("/done");
    moved.status = status;
    server.setPage("/post", moved);
    server.setPage("/done", PageServer::html("<p>done"));
    WebBrowser browser;
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    QSignalSpy errors(&browser, &WebBrowser::navigateError);
    browser.navigate2(server.baseUrl() + "/form");
    QVERIFY(completed.wait(5000));
    for (int i = 0; i < repeats; ++i) {
        browser.navigate2(server.baseUrl() + "/form");
        QVERIFY(completed.wait(5000));
        browser.document()->forms("f")->all("s")->click();
        QVERIFY(completed.wait(5000));
        QCOMPARE(completed.last().first().toString(), server.baseUrl() + "/done");
        const PageServer::Request request = server.requests().last();
        QCOMPARE(request.method, method);
        QCOMPARE(request.body, method == "POST" ? QByteArray("a=x+y&s=S") : QByteArray());
    }
    QCOMPARE(errors.count(), 0);
    QCOMPARE(server.requests().size(), 1 + 3 * repeats);
}

void WebBrowserTest::redirectLoopEndsInAnError()
{
    PageServer server;
    server.setPage("/loop", PageServer::redirect("/loop"));
    WebBrowser browser;
    QSignalSpy errors(&browser, &WebBrowser::navigateError);
    browser.navigate2(server.baseUrl() + "/loop");
    QVERIFY(errors.wait(5000));
    QCOMPARE(errors.first().at(1).toInt(), int(tw::web::TooManyRedirects));
    QCOMPARE(errors.first().at(2).value<WebBrowser::Target>(), WebBrowser::Target::Page);
    QCOMPARE(server.requests().size(), 1 + WebBrowser::kMaxRedirects);
}

void WebBrowserTest::pageThatNeverArrivesTimesOut()
{
    PageServer server;
    PageServer::Response hanging = PageServer::html("<p>late");
    hanging.delayMs = 60'000;
    server.setPage("/hang", hanging);
    WebBrowser browser;
    browser.setPageTimeoutMs(300);
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    QSignalSpy errors(&browser, &WebBrowser::navigateError);
    browser.navigate2(server.baseUrl() + "/hang");
    QVERIFY(errors.wait(5000));
    QCOMPARE(errors.first().at(1).toInt(), int(tw::web::TimedOut));
    QCOMPARE(completed.count(), 0);
}

void WebBrowserTest::completesFramesBeforeTheirPage()
{
    PageServer server;
    server.setPage(
        "/page", PageServer::html("<frameset cols='50%,50%'><frame src=/a><frame src='/b?x=1'></frameset>"));
    PageServer::Response slow = PageServer::html("<p>a");
    slow.delayMs = 50;
    server.setPage("/a", slow);
    server.setPage("/b", PageServer::html("<body><iframe src=/c></iframe></body>"));
    server.setPage("/c", PageServer::html("<p>c"));
    WebBrowser browser;
    QSignalSpy navigated(&browser, &WebBrowser::navigateComplete2);
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    browser.navigate2(server.baseUrl() + "/page");
    QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 4, 5000);
    QStringList order;
    for (const auto& args : completed)
        order << args.first().toString().mid(server.baseUrl().size());
    // The inner frame before its frame, every frame before the page.
    QCOMPARE(order.last(), QString("/page"));
    QVERIFY(order.indexOf("/c") < order.indexOf("/b?x=1"));
    QVERIFY(order.contains("/a"));
    QCOMPARE(navigated.count(), 1);
    QCOMPARE(browser.document()->frames().size(), std::size_t(2));
    QVERIFY(browser.document()->documentElement()->innerHTML().contains("<FRAME src=/a>"));
}

void WebBrowserTest::failedFrameStillCompletesThePage()
{
    PageServer server;
    server.setPage("/page", PageServer::html("<body><iframe src=/missing></iframe><p>text</body>"));
    WebBrowser browser;
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    QSignalSpy errors(&browser, &WebBrowser::navigateError);
    browser.navigate2(server.baseUrl() + "/page");
    QVERIFY(completed.wait(5000));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().at(0).toString(), server.baseUrl() + "/missing");
    QCOMPARE(errors.first().at(1).toInt(), 404);
    QCOMPARE(errors.first().at(2).value<WebBrowser::Target>(), WebBrowser::Target::Frame);
    QCOMPARE(completed.count(), 1);
    QCOMPARE(completed.first().first().toString(), server.baseUrl() + "/page");
}

void WebBrowserTest::pageThatFramesItselfStillCompletes()
{
    PageServer server;
    server.setPage(
        "/loop", PageServer::html("<body><iframe src=/loop></iframe><iframe src=/loop></iframe></body>"));
    WebBrowser browser;
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    browser.navigate2(server.baseUrl() + "/loop");
    QTRY_VERIFY_WITH_TIMEOUT(!browser.busy() && !completed.isEmpty(), 10000);
    // Frames are followed a few levels deep only, and the page completes last.
    QVERIFY(server.requests().size() <= 64 + 1);
    QCOMPARE(completed.last().first().toString(), server.baseUrl() + "/loop");
    QCOMPARE(completed.count(), server.requests().size());
}

void WebBrowserTest::reportsHttpErrorsAndKeepsThePreviousPage()
{
    PageServer server;
    server.setPage("/dd", PageServer::html(kFormPage));
    PageServer::Response failing = PageServer::html("<p>broken");
    failing.status = 500;
    server.setPage("/broken", failing);
    WebBrowser browser;
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    QSignalSpy navigated(&browser, &WebBrowser::navigateComplete2);
    QSignalSpy errors(&browser, &WebBrowser::navigateError);
    browser.navigate2(server.baseUrl() + "/dd");
    QVERIFY(completed.wait(5000));
    browser.navigate2(server.baseUrl() + "/nothing-here");
    QVERIFY(errors.wait(5000));
    QCOMPARE(errors.last().at(0).toString(), server.baseUrl() + "/nothing-here");
    QCOMPARE(errors.last().at(1).toInt(), 404);
    browser.navigate2(server.baseUrl() + "/broken");
    QVERIFY(errors.wait(5000));
    QCOMPARE(errors.last().at(1).toInt(), 500);
    QCOMPARE(completed.count(), 1);
    QCOMPARE(navigated.count(), 1);
    QCOMPARE(browser.document()->url().path(), QString("/dd"));
}

void WebBrowserTest::reportsNetworkFailures_data()
{
    QTest::addColumn<bool>("refused");
    QTest::newRow("connection refused") << true;
    QTest::newRow("connection dropped") << false;
}

void WebBrowserTest::reportsNetworkFailures()
{
    QFETCH(bool, refused);
    QString url;
    std::unique_ptr<PageServer> server;
    if (refused) {
        // A port that was just free: nothing listens there any more.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        url = QString("http://127.0.0.1:%1/dd").arg(probe.serverPort());
        probe.close();
    } else {
        server = std::make_unique<PageServer>();
        PageServer::Response drop;
        drop.dropConnection = true;
        server->setPage("/dd", drop);
        url = server->baseUrl() + "/dd";
    }
    WebBrowser browser;
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    QSignalSpy errors(&browser, &WebBrowser::navigateError);
    browser.navigate2(url);
    QVERIFY(errors.wait(10000));
    QCOMPARE(errors.first().at(0).toString(), url);
    QCOMPARE(errors.first().at(1).toInt(), int(tw::web::NetworkFailure));
    QCOMPARE(completed.count(), 0);
}

void WebBrowserTest::reportsBadAddressesLater()
{
    WebBrowser browser;
    QSignalSpy errors(&browser, &WebBrowser::navigateError);
    browser.navigate2("ftp://example.test/file");
    QCOMPARE(errors.count(), 0);
    QVERIFY(errors.wait(5000));
    QCOMPARE(errors.first().at(1).toInt(), int(tw::web::BadAddress));
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    browser.navigate2("about:blank");
    QCOMPARE(completed.count(), 0);
    QVERIFY(completed.wait(5000));
    QCOMPARE(completed.first().first().toString(), QString("about:blank"));
    QVERIFY(browser.document()->body() != nullptr);
}

void WebBrowserTest::newNavigationCancelsTheOldOne()
{
    PageServer server;
    PageServer::Response slow = PageServer::html("<p>slow");
    slow.delayMs = 100;
    server.setPage("/slow", slow);
    server.setPage("/fast", PageServer::html("<p>fast"));
    server.setPage("/third", PageServer::html("<p>third"));
    WebBrowser browser;
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    QSignalSpy navigated(&browser, &WebBrowser::navigateComplete2);
    QSignalSpy errors(&browser, &WebBrowser::navigateError);
    QSignalSpy answered(&server, &PageServer::responseSent);
    browser.navigate2(server.baseUrl() + "/slow");
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 5000);
    browser.navigate2(server.baseUrl() + "/fast");
    QVERIFY(completed.wait(5000));
    // Let the slow page's answer go out, then load one more page: by then a late
    // report of the slow page would have arrived.
    QTRY_VERIFY_WITH_TIMEOUT(answered.count() >= 2, 5000);
    browser.navigate2(server.baseUrl() + "/third");
    QVERIFY(completed.wait(5000));
    QStringList reported;
    for (const auto& args : navigated)
        reported << args.first().toString().mid(server.baseUrl().size());
    QCOMPARE(reported, QStringList({ "/fast", "/third" }));
    QCOMPARE(completed.count(), 2);
    QCOMPARE(errors.count(), 0);
    QCOMPARE(browser.document()->body()->textContent(), QString("third"));
}

void WebBrowserTest::navigatingFromAHandlerIsSafe()
{
    PageServer server;
    server.setPage("/dd", PageServer::html(kFormPage));
    server.setPage("/dd_result", PageServer::html("<p>result"));
    WebBrowser browser;
    int submissions = 0;
    // Like the main window: each completion of the form page submits it again,
    // from inside the handler; the first result page stops the loop.
    connect(&browser, &WebBrowser::documentComplete, &browser, [&](const QString& url) {
        if (url.endsWith("/dd") && submissions < 3) {
            ++submissions;
            browser.document()->forms("dd")->all("getrte")->click();
            browser.navigate2(server.baseUrl() + "/dd"); // cancels the click's load
        }
    });
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    browser.navigate2(server.baseUrl() + "/dd");
    QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 4, 5000);
    QCOMPARE(submissions, 3);
}

void WebBrowserTest::abandonsPagesOverTheSizeCap()
{
    PageServer server;
    server.setPage("/big", PageServer::html("<p>" + QByteArray(200'000, 'x')));
    server.setPage("/small", PageServer::html("<p>" + QByteArray(500, 'x')));
    WebBrowser browser;
    browser.setMaxPageBytes(100'000);
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    QSignalSpy errors(&browser, &WebBrowser::navigateError);
    browser.navigate2(server.baseUrl() + "/big");
    QVERIFY(errors.wait(5000));
    QCOMPARE(errors.first().at(1).toInt(), int(tw::web::PageTooLarge));
    QCOMPARE(completed.count(), 0);
    browser.navigate2(server.baseUrl() + "/small");
    QVERIFY(completed.wait(5000));
    QCOMPARE(errors.count(), 1);
}

void WebBrowserTest::keepsCookiesForTheSession()
{
    PageServer server;
    PageServer::Response setter = PageServer::html("<p>set");
    setter.headers.append(qMakePair(QByteArray("Set-Cookie"), QByteArray("session=abc123; Path=/")));
    server.setPage("/set", setter);
    server.setPage("/check", PageServer::html("<p>check"));
    WebBrowser browser;
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    browser.navigate2(server.baseUrl() + "/set");
    QVERIFY(completed.wait(5000));
    browser.navigate2(server.baseUrl() + "/check");
    QVERIFY(completed.wait(5000));
    QCOMPARE(server.requests().last().header("Cookie"), QByteArray("session=abc123"));
}

void WebBrowserTest::documentBeforeAnyPageIsAScriptError()
{
    WebBrowser browser;
    try {
        browser.document();
        QFAIL("no error");
    } catch (const tw::web::ScriptError& e) {
        QCOMPARE(e.message(), QString("No page is loaded."));
    }
}

QTEST_GUILESS_MAIN(WebBrowserTest)
#include "web_browser_test.moc"
