// The web client against the loopback page server: navigation, events, forms,
// redirects, frames, errors, cancellation.

#include "directions/web/web_browser.h"
#include "tests/support/page_server.h"

#include <QSignalSpy>
#include <QTest>

using tw::test::PageServer;
using tw::web::WebBrowser;

namespace {

const QByteArray kFormPage =
    "<html><head><title>Directions</title></head><body>"
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
    server.setPage("/dd_result", PageServer::html("<html><body><div><table><tr><td>1.</td><td>Start at <b>Main St</b></td></tr></table></div></body></html>"));
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
    QCOMPARE(url, server.baseUrl() + "/dd_result?addr=1+Main+St&csz=Springfield++&taddr=&tcsz=++&getrte=Get+Directions");
    QCOMPARE(browser.document()->documentElement()->innerHTML(),
             QString("<HEAD></HEAD><BODY>\r\n<DIV>\r\n<TABLE>\r\n<TBODY>\r\n<TR>\r\n<TD>1.</TD>\r\n<TD>Start at <B>Main St</B></TD></TR></TBODY></TABLE></DIV></BODY>"));
}

QTEST_GUILESS_MAIN(WebBrowserTest)
#include "web_browser_test.moc"
