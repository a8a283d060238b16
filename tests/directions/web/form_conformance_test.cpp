// Form submissions of the web client against the requests Chromium sent for
// the same pages: form_cases/ holds the pages, the actions done on each
// (cases.json) and the browser's requests (recorded.json, written by
// tools/record_form_requests.py). Each page is loaded from the loopback page
// server, filled and submitted, and the request compared byte for byte.

#include "directions/web/url_parser.h"
#include "directions/web/web_browser.h"
#include "tests/support/page_server.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <optional>

using tw::test::PageServer;
using tw::web::NavigationRequest;
using tw::web::WebBrowser;

namespace {

const QString kCasesDir = QStringLiteral(TW_SOURCE_DIR "/tests/directions/web/form_cases/");

QJsonDocument readJson(const QString& file)
{
    QFile f(kCasesDir + file);
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()) : QJsonDocument();
}

// The recorded text holds one character per byte.
QByteArray bytesOf(const QJsonValue& v)
{
    return v.toString().toLatin1();
}

} // namespace

class FormConformanceTest : public QObject {
    Q_OBJECT

private slots:
    void sendsWhatTheBrowserSent_data();
    void sendsWhatTheBrowserSent();
};

void FormConformanceTest::sendsWhatTheBrowserSent_data()
{
    QTest::addColumn<QJsonObject>("testCase");
    QTest::addColumn<QJsonObject>("recorded");
    const QJsonArray cases = readJson(QStringLiteral("cases.json")).array();
    const QJsonObject recorded = readJson(QStringLiteral("recorded.json")).object();
    QVERIFY(cases.size() >= 40);
    for (const QJsonValue& c : cases) {
        const QString name = c[QLatin1String("name")].toString();
        QTest::newRow(qPrintable(name)) << c.toObject() << recorded[name].toObject();
    }
}

void FormConformanceTest::sendsWhatTheBrowserSent()
{
    QFETCH(QJsonObject, testCase);
    QFETCH(QJsonObject, recorded);
    QVERIFY2(!recorded.isEmpty(), "no recorded request: run tools/record_form_requests.py");
    const QString name = testCase[QLatin1String("name")].toString();
    QFile page(kCasesDir + QStringLiteral("pages/") + name + QStringLiteral(".html"));
    QVERIFY(page.open(QIODevice::ReadOnly));

    PageServer server;
    const QString path = QStringLiteral("/case/") + name;
    server.setPage(path, PageServer::html(page.readAll(), bytesOf(testCase[QLatin1String("contentType")])));
    server.setHandler(
        [](const PageServer::Request&) { return PageServer::html("<html><body>done</body></html>"); });
    WebBrowser browser;
    QSignalSpy completed(&browser, &WebBrowser::documentComplete);
    browser.navigate2(server.baseUrl() + path);
    QVERIFY(completed.wait(5000));

    tw::web::HtmlDocument* document = browser.document();
    std::optional<NavigationRequest> submitted;
    document->setNavigationHandler([&](const NavigationRequest& request) {
        submitted = request;
        browser.navigate(request);
    });
    QSignalSpy received(&server, &PageServer::responseSent);
    for (const QJsonValue& a : testCase[QLatin1String("actions")].toArray()) {
        const QJsonArray action = a.toArray();
        auto* element = document->forms(action[1].toString())->all(action[2].toString());
        if (action[0].toString() == QLatin1String("set")) {
            element->setValue(action[3].toString());
        } else {
            element->click();
        }
    }
    QVERIFY(submitted);
    QVERIFY(received.wait(5000));
    const PageServer::Request sent = server.requests().last();

    const QByteArray target = bytesOf(recorded[QLatin1String("target")]);
    QCOMPARE(sent.method, bytesOf(recorded[QLatin1String("method")]));
    QCOMPARE(tw::web::url::requestTarget(submitted->exactUrl), target);
    // Qt's HTTP stack writes the request line from QUrl::toEncoded(), which
    // changes a few characters (see url::toQUrl); the rest must be the same.
    const QByteArray onTheWire
        = tw::web::url::toQUrl("http://h" + target)
              .toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::FullyEncoded);
    QCOMPARE(sent.target, onTheWire);
    if (onTheWire != target) {
        qInfo("%s: the browser sends %s, Qt sends %s", qPrintable(name), target.constData(),
            onTheWire.constData());
    }
    QCOMPARE(sent.body, bytesOf(recorded[QLatin1String("body")]));
    if (sent.method == "POST") {
        QCOMPARE(sent.header("Content-Type"), bytesOf(recorded[QLatin1String("contentType")]));
    }
}

QTEST_GUILESS_MAIN(FormConformanceTest)
#include "form_conformance_test.moc"
