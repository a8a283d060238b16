// The main window against a scripted loopback directions service: the display
// states and their transitions, the query, the recognition of pages by address,
// field behaviour and the windows it opens.
#include "directions/main_form.h"

#include "app/toolkit.h"
#include "directions/web/web_browser.h"
#include "settings/cinifile.h"
#include "tests/support/page_server.h"

#include <QApplication>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QUrlQuery>

#include <algorithm>
#include <memory>

using tw::directions::mainForm;
using tw::test::PageServer;

namespace {

const QStringList kFieldNames { QStringLiteral("from_addr"), QStringLiteral("from_city"),
    QStringLiteral("from_state"), QStringLiteral("from_zip"), QStringLiteral("dest_addr"),
    QStringLiteral("dest_city"), QStringLiteral("dest_state"), QStringLiteral("dest_zip") };
const QStringList kLabelNames { QStringLiteral("lbl_from_addr"), QStringLiteral("lbl_from_addr2"),
    QStringLiteral("lbl_dest_addr"), QStringLiteral("lbl_dest_addr2") };

const QByteArray kFormPage = "<html><head><title>Directions</title></head><body>"
                             "<form name=\"dd\" action=\"/dd_result\" method=\"get\">"
                             "<input type=\"text\" name=\"addr\"><input type=\"text\" name=\"csz\">"
                             "<input type=\"text\" name=\"taddr\"><input type=\"text\" name=\"tcsz\">"
                             "<input type=\"submit\" name=\"getrte\" value=\"Get Directions\"></form>"
                             "</body></html>";

const QByteArray kResultPage = "<html><body><div>From <b>1 Main St</b> to <b>9 Oak Ave</b></div>"
                               "<div><table><tr><td>1.</td><td>Start at <b>Main St</b></td></tr>"
                               "<tr><td>2.</td><td><img alt=Left src=l.gif> Turn <b>LEFT</b> onto "
                               "<b>Oak Ave</b> - go 0.4 mi</td></tr>"
                               "<tr><td>3.</td><td>Arrive at <b>9 Oak Ave</b></td></tr></table></div>"
                               "<p>Start at the top again</p></body></html>";
const QString kResultText
    = QStringLiteral("1.Start at Main St\r\n2.Left Turn LEFT onto Oak Ave - go 0.4 mi\r\n"
                     "3.Arrive at 9 Oak Ave\r\n");

const QByteArray kNoRoutePage = "<html><body><div>No road connects these addresses.</div></body></html>";

PageServer::Response page(const QByteArray& body)
{
    return PageServer::html(body);
}

PageServer::Response redirectTo(const QByteArray& target)
{
    return PageServer::redirect(target);
}

PageServer::Response droppedConnection()
{
    PageServer::Response response;
    response.dropConnection = true;
    return response;
}

// The fields of a form submitted with GET ("+" stands for a space).
QUrlQuery formQuery(const PageServer::Request& request)
{
    return QUrlQuery(QString(request.query).replace(u'+', QStringLiteral("%20")));
}

bool isShown(const QPointer<QWidget>& window)
{
    const QWidget* widget = window.data();
    return widget != nullptr && widget->isVisible();
}

bool hasRequestFor(const PageServer& server, const QString& path)
{
    const QList<PageServer::Request> requests = server.requests();
    return std::any_of(requests.cbegin(), requests.cend(),
        [&](const PageServer::Request& request) { return request.path == path; });
}

} // namespace

class MainFormTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startUpWaitsForTheDirectionsPage();
    void firstStartWithoutSettingsFileHasEmptyFields();
    void searchSendsTheFieldsAndShowsTheDirections_data();
    void searchSendsTheFieldsAndShowsTheDirections();
    void resultWithoutDirectionsResetsWithItsMessage();
    void startedBeforeTheServiceEntersWhenItAnswers();
    void failedSearchOrResetLeavesAWayOutWithTheReason_data();
    void failedSearchOrResetLeavesAWayOutWithTheReason();
    void serviceFormPageOffersSearchAgain();
    void searchAgainButtonReloadsAndKeepsTheFields();
    void pagesAreRecognisedByAddressAlone_data();
    void pagesAreRecognisedByAddressAlone();
    void directionsPageCompletingWhileSearchingEnablesTheButton();
    void framesCountLikeTheWholePage_data();
    void framesCountLikeTheWholePage();
    void searchOnAPageWithoutTheFormKeepsTheSettingsAndSaysWhy();
    void fieldFocusSelectsTheWholeText();
    void keyboardWorksAsOnWindows();
    void stateFieldsTakeTwoCharacters();
    void openedWindowsAreSingleAndLoadAfresh();
    void editedDirectionsKeepWindowsLineEnds();

private:
    std::unique_ptr<mainForm> openForm();
    void waitForEntry();
    void search();
    void waitForResult();
    QString setting(const QString& key) const;
    void writeSetting(const QString& key, const QString& value) const;
    bool fieldsShown() const;
    bool fieldsHidden() const;

    template <typename T = QWidget> T* control(const char* name) const
    {
        T* found = m_form->findChild<T*>(QString::fromLatin1(name));
        if (found == nullptr)
            qFatal("no control %s", name);
        return found;
    }
    QLineEdit* field(const QString& name) const { return control<QLineEdit>(name.toLatin1().constData()); }
    QPushButton* button(const char* name) const { return control<QPushButton>(name); }

    std::unique_ptr<QTemporaryDir> m_settingsFolder;
    std::unique_ptr<PageServer> m_server;
    std::unique_ptr<mainForm> m_form;
    QStringList m_messages;
};

void MainFormTest::init()
{
    m_settingsFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_settingsFolder->isValid());
    tw::app::setSettingsFolder(m_settingsFolder->path());
    m_messages.clear();
    tw::app::setMessageSink([this](const QString& text) { m_messages.append(text); });
    m_server = std::make_unique<PageServer>();
    m_server->setPage(QStringLiteral("/dd"), page(kFormPage));
    m_server->setPage(QStringLiteral("/dd_result"), page(kResultPage));
}

void MainFormTest::cleanup()
{
    m_form.reset();
    m_server.reset();
    tw::app::setMessageSink({});
    tw::app::setSettingsFolder(QString());
    m_settingsFolder.reset();
}

std::unique_ptr<mainForm> MainFormTest::openForm()
{
    auto form = std::make_unique<mainForm>(m_server->baseUrl());
    form->show();
    return form;
}

bool MainFormTest::fieldsShown() const
{
    for (const QString& name : kFieldNames + kLabelNames) {
        if (!m_form->findChild<QWidget*>(name)->isVisible())
            return false;
    }
    return true;
}

bool MainFormTest::fieldsHidden() const
{
    for (const QString& name : kFieldNames + kLabelNames) {
        if (m_form->findChild<QWidget*>(name)->isVisible())
            return false;
    }
    return true;
}

void MainFormTest::waitForEntry()
{
    QTRY_VERIFY(button("btn_Search")->isVisible());
    QVERIFY(!control("lblX")->isVisible());
    QVERIFY(fieldsShown());
    QVERIFY(button("btn_Search")->isEnabled());
    QVERIFY(!button("btn_research")->isVisible());
    QVERIFY(!button("btn_sync")->isVisible());
    QVERIFY(!control("txtRip")->isVisible());
}

void MainFormTest::search()
{
    QTest::mouseClick(button("btn_Search"), Qt::LeftButton);
}

void MainFormTest::waitForResult()
{
    QTRY_VERIFY(control("txtRip")->isVisible());
    QVERIFY(fieldsHidden());
    QVERIFY(!button("btn_Search")->isVisible());
    QVERIFY(button("btn_research")->isVisible());
    QVERIFY(button("btn_sync")->isVisible());
    QVERIFY(!control("lblX")->isVisible());
}

QString MainFormTest::setting(const QString& key) const
{
    tw::cInifile ini;
    ini.Path(tw::app::controlIniPath());
    ini.Section(QStringLiteral("config"));
    ini.Key(key);
    return ini.Value();
}

void MainFormTest::writeSetting(const QString& key, const QString& value) const
{
    tw::cInifile ini;
    ini.Path(tw::app::controlIniPath());
    ini.Section(QStringLiteral("config"));
    ini.Key(key);
    ini.Value(value);
}

void MainFormTest::startUpWaitsForTheDirectionsPage()
{
    for (const QString& key : kFieldNames)
        writeSetting(key, QStringLiteral("saved ") + key);
    m_form = openForm();

    // Loading: the page completes only through the event loop, so this is the
    // state the load step left.
    QVERIFY(control("lblX")->isVisible());
    QCOMPARE(control<QLabel>("lblX")->text(), QStringLiteral("Please wait, loading map interface.."));
    QVERIFY(fieldsHidden());
    QVERIFY(!button("btn_Search")->isVisible());
    QVERIFY(!button("btn_Search")->isEnabled());
    QVERIFY(!button("btn_research")->isVisible());
    QVERIFY(!button("btn_sync")->isVisible());
    QVERIFY(!control("txtRip")->isVisible());
    QVERIFY(control("Image1")->isVisible());
    // Filled during the load, before they are shown (the state fields hold two).
    QCOMPARE(field(QStringLiteral("from_addr"))->text(), QStringLiteral("saved from_addr"));
    QCOMPARE(field(QStringLiteral("from_state"))->text(), QStringLiteral("sa"));

    waitForEntry();
    QCOMPARE(button("btn_Search")->text(), QStringLiteral("Search"));
    QCOMPARE(field(QStringLiteral("dest_zip"))->text(), QStringLiteral("saved dest_zip"));
    QVERIFY(m_messages.isEmpty());
}

void MainFormTest::firstStartWithoutSettingsFileHasEmptyFields()
{
    m_form = openForm();
    waitForEntry();
    for (const QString& name : kFieldNames)
        QVERIFY2(field(name)->text().isEmpty(), qPrintable(name));
    QVERIFY(!QFile::exists(tw::app::controlIniPath()));
}

void MainFormTest::searchSendsTheFieldsAndShowsTheDirections_data()
{
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QString>("csz");
    QTest::addColumn<QString>("tcsz");
    QTest::newRow("typed addresses") << QStringList { QStringLiteral("1 Main St"), QStringLiteral("Tarnwick"),
        QStringLiteral("TW"), QStringLiteral("00001"), QStringLiteral("9 Oak & Ash Ave"),
        QStringLiteral("Lee"), QStringLiteral("TX"), QString() }
                                     << QStringLiteral("Tarnwick TW 00001") << QStringLiteral("Lee TX ");
    QTest::newRow("all fields empty")
        << QStringList(8, QString()) << QStringLiteral("  ") << QStringLiteral("  ");
}

void MainFormTest::searchSendsTheFieldsAndShowsTheDirections()
{
    QFETCH(QStringList, typed);
    QFETCH(QString, csz);
    QFETCH(QString, tcsz);
    m_form = openForm();
    waitForEntry();
    for (int i = 0; i < kFieldNames.size(); ++i)
        field(kFieldNames[i])->setText(typed[i]);

    search();
    QCOMPARE(button("btn_Search")->text(), QStringLiteral("Searching.."));
    QVERIFY(!button("btn_Search")->isEnabled());
    for (int i = 0; i < kFieldNames.size(); ++i)
        QCOMPARE(setting(kFieldNames[i]), typed[i]);

    waitForResult();
    QCOMPARE(m_form->directionsText(), kResultText);

    const PageServer::Request request = m_server->requests().constLast();
    QCOMPARE(request.path, QStringLiteral("/dd_result"));
    const QUrlQuery query = formQuery(request);
    QCOMPARE(query.queryItemValue(QStringLiteral("addr"), QUrl::FullyDecoded), typed[0]);
    QCOMPARE(query.queryItemValue(QStringLiteral("csz"), QUrl::FullyDecoded), csz);
    QCOMPARE(query.queryItemValue(QStringLiteral("taddr"), QUrl::FullyDecoded), typed[4]);
    QCOMPARE(query.queryItemValue(QStringLiteral("tcsz"), QUrl::FullyDecoded), tcsz);
    QVERIFY(query.hasQueryItem(QStringLiteral("getrte")));
    QVERIFY(m_messages.isEmpty());
}

void MainFormTest::resultWithoutDirectionsResetsWithItsMessage()
{
    m_server->setPage(QStringLiteral("/dd_result"), page(kNoRoutePage));
    m_form = openForm();
    waitForEntry();
    field(QStringLiteral("from_addr"))->setText(QStringLiteral("1 Main St"));
    auto* browser = m_form->findChild<tw::web::WebBrowser*>(QStringLiteral("WebBrowser1"));
    QSignalSpy completions(browser, &tw::web::WebBrowser::documentComplete);
    PageServer::Response slowForm = page(kFormPage);
    slowForm.delayMs = 300;
    m_server->setPage(QStringLiteral("/dd"), slowForm);

    // The result page has completed; the reset's reload has not yet.
    search();
    QTRY_COMPARE(completions.count(), 1);
    QVERIFY(control("lblX")->isVisible());
    QCOMPARE(control<QLabel>("lblX")->text(), QStringLiteral("No Results found - please wait.."));
    QVERIFY(fieldsHidden());
    QVERIFY(!button("btn_Search")->isVisible());
    QCOMPARE(button("btn_Search")->text(), QStringLiteral("Search"));
    QVERIFY(!control("txtRip")->isVisible());
    QVERIFY(!button("btn_sync")->isVisible());
    QVERIFY(m_messages.isEmpty());

    // The reload brings the user back to the entry, fields kept.
    waitForEntry();
    QCOMPARE(field(QStringLiteral("from_addr"))->text(), QStringLiteral("1 Main St"));
}

void MainFormTest::startedBeforeTheServiceEntersWhenItAnswers()
{
    QTcpServer probe; // a port that was just free: nothing listens there
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    m_form = std::make_unique<mainForm>(base);
    m_form->show();

    QTRY_COMPARE(control<QLabel>("lblX")->text(),
        QStringLiteral("The directions service at %1 does not answer. Trying again..").arg(base));
    QVERIFY(fieldsHidden());
    // It keeps trying, and is at the entry soon after the service answers.
    m_server = std::make_unique<PageServer>(nullptr, port);
    m_server->setPage(QStringLiteral("/dd"), page(kFormPage));
    QTRY_VERIFY_WITH_TIMEOUT(button("btn_Search")->isVisible(), 2500);
    waitForEntry();
    QVERIFY(m_messages.isEmpty());
}

void MainFormTest::failedSearchOrResetLeavesAWayOutWithTheReason_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<PageServer::Response>("answer");
    QTest::addColumn<QString>("reason");
    PageServer::Response unavailable = page("<html><body>Down for maintenance</body></html>");
    unavailable.status = 503;
    PageServer::Response hanging = page(kResultPage);
    hanging.delayMs = 60'000;
    // The service's own form page with its notice, sent with an error status.
    PageServer::Response refused = page(QByteArray(kFormPage).replace(
        "<form", "<p id=\"notice\">The starting address is too long (at most 200 bytes).</p><form"));
    refused.status = 414;
    const QString service = QStringLiteral("The directions service at %1 ");
    QTest::newRow("search, connection dropped")
        << "/dd_result" << droppedConnection() << service + "does not answer.";
    QTest::newRow("search, error status")
        << "/dd_result" << unavailable << service + "answered with an error (HTTP 503).";
    QTest::newRow("search, no answer")
        << "/dd_result" << hanging << service + "did not answer within 1 seconds.";
    QTest::newRow("search, refused with the form page")
        << "/dd_result" << refused << "The starting address is too long (at most 200 bytes).";
    QTest::newRow("reset, connection dropped")
        << "/dd" << droppedConnection() << service + "does not answer.";
}

void MainFormTest::failedSearchOrResetLeavesAWayOutWithTheReason()
{
    QFETCH(QString, path);
    QFETCH(PageServer::Response, answer);
    QFETCH(QString, reason);
    m_form = openForm();
    m_form->findChild<tw::web::WebBrowser*>(QStringLiteral("WebBrowser1"))->setPageTimeoutMs(1000);
    waitForEntry();
    field(QStringLiteral("dest_addr"))->setText(QStringLiteral("9 Oak Ave"));
    const QString said = reason.contains(u'%') ? reason.arg(m_server->baseUrl()) : reason;
    if (path == u"/dd") {
        // The service stops while the directions are shown: "Search Again"
        // keeps trying until it is back.
        search();
        waitForResult();
        m_server->setPage(path, answer);
        QTest::mouseClick(button("btn_research"), Qt::LeftButton);
        QTRY_COMPARE(control<QLabel>("lblX")->text(), said + QStringLiteral(" Trying again.."));
        QVERIFY(fieldsHidden());
        m_server->setPage(path, page(kFormPage));
        waitForEntry();
    } else {
        m_server->setPage(path, answer);
        search();
        auto* notice = control<QTextBrowser>("txtNotice");
        QTRY_VERIFY_WITH_TIMEOUT(notice->isVisible(), 5000);
        QVERIFY2(notice->toPlainText().startsWith(said), qPrintable(notice->toPlainText()));
        QCOMPARE(button("btn_Search")->text(), QStringLiteral("Search Again"));
        QVERIFY(button("btn_Search")->isEnabled());
        QVERIFY(fieldsShown());
        // The user searches again once the service is back.
        m_server->setPage(path, page(kResultPage));
        search();
        QVERIFY(!notice->isVisible());
        waitForResult();
    }
    QCOMPARE(field(QStringLiteral("dest_addr"))->text(), QStringLiteral("9 Oak Ave"));
    QCOMPARE(setting(QStringLiteral("dest_addr")), QStringLiteral("9 Oak Ave"));
    QVERIFY(m_messages.isEmpty());
}

void MainFormTest::serviceFormPageOffersSearchAgain()
{
    // The form page again, with the service's notice and one suggestion.
    const QByteArray notice
        = "<div id=\"notice\"><p>The starting address was not found: No street matches "
          "&quot;1 Mian St&quot;.</p><p>Did you mean: <a class=\"suggestion\" href=\"/x\" "
          "data-addr=\"1 Main St\" data-csz=\"Tarnwick TW 00001\">1 Main St, Tarnwick TW 00001</a></p></div>";
    m_server->setPage(QStringLiteral("/dd_result"), redirectTo("/dd?addr=nowhere"));
    m_server->setPage(QStringLiteral("/dd"), page(QByteArray(kFormPage).replace("<form", notice + "<form")));
    m_form = openForm();
    waitForEntry();

    search();
    QTRY_COMPARE(button("btn_Search")->text(), QStringLiteral("Search Again"));
    QVERIFY(button("btn_Search")->isEnabled());
    QVERIFY(button("btn_Search")->isVisible());
    QVERIFY(fieldsShown());
    QVERIFY(!button("btn_research")->isVisible());
    auto* shown = control<QTextBrowser>("txtNotice");
    QVERIFY(shown->isVisible());
    QCOMPARE(shown->toPlainText(),
        QStringLiteral("The starting address was not found: No street matches \"1 Mian St\".\nDid you mean: "
                       "1 Main St, Tarnwick TW 00001"));
    QVERIFY(m_messages.isEmpty());

    // One click on the suggestion fills the start's fields.
    emit shown->anchorClicked(QUrl(QStringLiteral("#0")));
    QCOMPARE(field(QStringLiteral("from_addr"))->text(), QStringLiteral("1 Main St"));
    QCOMPARE(field(QStringLiteral("from_city"))->text(), QStringLiteral("Tarnwick"));
    QCOMPARE(field(QStringLiteral("from_state"))->text(), QStringLiteral("TW"));
    QCOMPARE(field(QStringLiteral("from_zip"))->text(), QStringLiteral("00001"));

    // Pressed in this state it runs the same query.
    m_server->setPage(QStringLiteral("/dd_result"), page(kResultPage));
    field(QStringLiteral("from_zip"))->setText(QStringLiteral("00002"));
    search();
    QCOMPARE(button("btn_Search")->text(), QStringLiteral("Searching.."));
    QCOMPARE(setting(QStringLiteral("from_zip")), QStringLiteral("00002"));
    waitForResult();
}

void MainFormTest::searchAgainButtonReloadsAndKeepsTheFields()
{
    m_form = openForm();
    waitForEntry();
    for (const QString& name : kFieldNames)
        field(name)->setText(name.right(2));
    search();
    waitForResult();

    QTest::mouseClick(button("btn_research"), Qt::LeftButton);
    QVERIFY(control("lblX")->isVisible());
    QCOMPARE(control<QLabel>("lblX")->text(), QStringLiteral("Resetting search, please wait.."));
    QVERIFY(!control("txtRip")->isVisible());
    QVERIFY(!button("btn_research")->isVisible());
    QVERIFY(!button("btn_sync")->isVisible());
    QCOMPARE(button("btn_Search")->text(), QStringLiteral("Search"));
    QCOMPARE(m_form->directionsText(), kResultText);

    waitForEntry();
    QCOMPARE(button("btn_Search")->text(), QStringLiteral("Search"));
    for (const QString& name : kFieldNames)
        QCOMPARE(field(name)->text(), name.right(2));
}

void MainFormTest::pagesAreRecognisedByAddressAlone_data()
{
    // The directions page is redirected to each address; every one of them serves
    // a page with directions and the form, so only the address decides.
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("entry");
    QTest::addColumn<QString>("searchCaption");
    QTest::addColumn<bool>("searchEnabled");
    QTest::newRow("letter case differs") << "/DD" << true << "Search" << true;
    QTest::newRow("trailing slash") << "/dd/" << false << "Search" << false;
    QTest::newRow("query while loading") << "/dd?addr=x" << false << "Search Again" << true;
    QTest::newRow("result prefix without query") << "/dd_result" << false << "Search" << false;
    QTest::newRow("query on another page") << "/ad?dd_result?" << false << "Search" << false;
}

void MainFormTest::pagesAreRecognisedByAddressAlone()
{
    QFETCH(QString, address);
    QFETCH(bool, entry);
    QFETCH(QString, searchCaption);
    QFETCH(bool, searchEnabled);
    const QByteArray both
        = QByteArray(kResultPage).replace("</body>", kFormPage.mid(kFormPage.indexOf("<form")));
    // Only the first, plain request for the directions page is redirected.
    m_server = std::make_unique<PageServer>();
    m_server->setHandler([address, both](const PageServer::Request& request) {
        return request.path == QStringLiteral("/dd") && request.query.isEmpty()
            ? redirectTo(address.toLatin1())
            : page(both);
    });
    m_form = openForm();
    auto* browser = m_form->findChild<tw::web::WebBrowser*>(QStringLiteral("WebBrowser1"));
    QSignalSpy completions(browser, &tw::web::WebBrowser::documentComplete);

    QTRY_COMPARE(completions.count(), 1);
    QCOMPARE(completions.at(0).at(0).toString().section(u'/', 3).prepend(u'/'), address);
    QCOMPARE(button("btn_Search")->isVisible(), entry);
    QCOMPARE(fieldsShown(), entry);
    QCOMPARE(control("lblX")->isVisible(), !entry);
    QCOMPARE(control<QLabel>("lblX")->text(), QStringLiteral("Please wait, loading map interface.."));
    QCOMPARE(button("btn_Search")->text(), searchCaption);
    QCOMPARE(button("btn_Search")->isEnabled(), searchEnabled);
    QVERIFY(!control("txtRip")->isVisible());
    QVERIFY(m_messages.isEmpty());
}

void MainFormTest::directionsPageCompletingWhileSearchingEnablesTheButton()
{
    m_server->setPage(QStringLiteral("/dd_result"), redirectTo("/dd"));
    m_form = openForm();
    waitForEntry();
    auto* browser = m_form->findChild<tw::web::WebBrowser*>(QStringLiteral("WebBrowser1"));
    QSignalSpy completions(browser, &tw::web::WebBrowser::documentComplete);

    search();
    QVERIFY(!button("btn_Search")->isEnabled());
    QTRY_COMPARE(completions.count(), 1);
    // The entry steps run again; only a reset restores the caption "Search".
    QVERIFY(button("btn_Search")->isEnabled());
    QCOMPARE(button("btn_Search")->text(), QStringLiteral("Searching.."));
    QVERIFY(fieldsShown());
}

void MainFormTest::framesCountLikeTheWholePage_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("searchCaption");
    QTest::newRow("frame with the search-again address") << "/dd?frame=1"
                                                         << "Search Again";
    QTest::newRow("advertisement frame") << "/ad?slot=1"
                                         << "Search";
}

void MainFormTest::framesCountLikeTheWholePage()
{
    QFETCH(QString, frame);
    QFETCH(QString, searchCaption);
    QByteArray formWithFrame = kFormPage;
    formWithFrame.replace("</body>", "<iframe src=\"" + frame.toLatin1() + "\"></iframe></body>");
    QByteArray resultWithFrame = kResultPage;
    resultWithFrame.replace("</body>", "<iframe src=\"/dd_result?frame=1\"></iframe></body>");
    // Pages with a query of "frame=..." or at /ad are frame contents.
    m_server = std::make_unique<PageServer>();
    m_server->setHandler([=](const PageServer::Request& request) {
        if (request.path == QStringLiteral("/ad") || request.query.startsWith(QStringLiteral("frame=")))
            return page("<html><body>A frame</body></html>");
        return page(request.path == QStringLiteral("/dd") ? formWithFrame : resultWithFrame);
    });
    m_form = openForm();
    auto* browser = m_form->findChild<tw::web::WebBrowser*>(QStringLiteral("WebBrowser1"));
    QSignalSpy completions(browser, &tw::web::WebBrowser::documentComplete);

    QTRY_COMPARE(completions.count(), 2); // the frame, then the page
    waitForEntry();
    QCOMPARE(button("btn_Search")->text(), searchCaption);

    // A frame of the result page runs the extraction on the whole page.
    search();
    waitForResult();
    QCOMPARE(m_form->directionsText(), kResultText);
    QVERIFY(m_messages.isEmpty());
}

void MainFormTest::searchOnAPageWithoutTheFormKeepsTheSettingsAndSaysWhy()
{
    m_server->setPage(QStringLiteral("/dd"), page("<html><body><form name=\"other\"></form></body></html>"));
    m_form = openForm();
    waitForEntry();
    for (const QString& name : kFieldNames)
        field(name)->setText(name.left(2));

    search();
    QCOMPARE(m_messages.size(), 1);
    QVERIFY2(m_messages.constFirst().contains(QStringLiteral("\"dd\"")), qPrintable(m_messages.constFirst()));
    for (const QString& name : kFieldNames)
        QCOMPARE(setting(name), name.left(2));
    // Nothing was submitted: the window stays as it was.
    QCOMPARE(button("btn_Search")->text(), QStringLiteral("Search"));
    QVERIFY(button("btn_Search")->isEnabled());
    QVERIFY(fieldsShown());
    QVERIFY(!hasRequestFor(*m_server, QStringLiteral("/dd_result")));
}

void MainFormTest::fieldFocusSelectsTheWholeText()
{
    m_form = openForm();
    waitForEntry();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    QLineEdit* street = field(QStringLiteral("from_addr"));
    QLineEdit* city = field(QStringLiteral("from_city"));
    QLineEdit* zip = field(QStringLiteral("dest_zip"));
    street->setText(QStringLiteral("1 Main St"));
    city->setText(QStringLiteral("Tarnwick"));
    zip->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(zip->hasFocus());

    // A mouse click: the press that gives the focus must not undo the selection.
    QTest::mouseClick(street, Qt::LeftButton, {}, QPoint(4, street->height() / 2));
    QTRY_VERIFY(street->hasFocus());
    QCOMPARE(street->selectedText(), QStringLiteral("1 Main St"));
    QCOMPARE(street->selectionStart(), 0);
    // The next click inside the focused field places the cursor as usual.
    QTest::mouseClick(street, Qt::LeftButton, {}, QPoint(4, street->height() / 2));
    QVERIFY(!street->hasSelectedText());

    // By keyboard, and the field left behind keeps its text unselected by us.
    QTest::keyClick(street, Qt::Key_Tab);
    QTRY_VERIFY(city->hasFocus());
    QCOMPARE(city->selectedText(), QStringLiteral("Tarnwick"));

    // An empty field selects nothing.
    zip->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(zip->hasFocus());
    QVERIFY(!zip->hasSelectedText());

    // The focus coming back from the field's context menu or from another
    // application leaves the cursor where the user put it, so a "Paste" from the
    // menu inserts there instead of replacing the whole address.
    street->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(street->hasFocus());
    for (const Qt::FocusReason reason : { Qt::PopupFocusReason, Qt::ActiveWindowFocusReason }) {
        street->setCursorPosition(2);
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(street, &out);
        QFocusEvent in(QEvent::FocusIn, reason);
        QApplication::sendEvent(street, &in);
        QVERIFY2(!street->hasSelectedText(), qPrintable(street->selectedText()));
        QCOMPARE(street->cursorPosition(), 2);
    }
}

void MainFormTest::keyboardWorksAsOnWindows()
{
    writeSetting(QStringLiteral("from_addr"), QStringLiteral("1 Main St"));
    m_form = openForm();
    waitForEntry();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    // At start-up the first field has the focus with its text selected, so
    // typing replaces it.
    QLineEdit* street = field(QStringLiteral("from_addr"));
    QTRY_VERIFY(street->hasFocus());
    QCOMPARE(street->selectedText(), QStringLiteral("1 Main St"));
    QTest::keyClicks(street, QStringLiteral("9 Oak Ave"));
    QCOMPARE(street->text(), QStringLiteral("9 Oak Ave"));

    // Return in a field starts nothing; on the focused button it presses it.
    QTest::keyClick(street, Qt::Key_Return);
    QVERIFY(!hasRequestFor(*m_server, QStringLiteral("/dd_result")));
    button("btn_Search")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(button("btn_Search"), Qt::Key_Return);
    QCOMPARE(button("btn_Search")->text(), QStringLiteral("Searching.."));
    waitForResult();

    // Enter on "Search Again"; afterwards the first field has the focus again.
    button("btn_research")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(button("btn_research"), Qt::Key_Enter, Qt::KeypadModifier);
    waitForEntry();
    QTRY_VERIFY(street->hasFocus());
    QCOMPARE(street->selectedText(), QStringLiteral("9 Oak Ave"));
}

void MainFormTest::stateFieldsTakeTwoCharacters()
{
    m_form = openForm();
    waitForEntry();
    for (const char* name : { "from_state", "dest_state" }) {
        QLineEdit* state = control<QLineEdit>(name);
        QTest::keyClicks(state, QStringLiteral("Texas"));
        QCOMPARE(state->text(), QStringLiteral("Te"));
    }
    QTest::keyClicks(field(QStringLiteral("from_city")), QStringLiteral("Texas"));
    QCOMPARE(field(QStringLiteral("from_city"))->text(), QStringLiteral("Texas"));
}

void MainFormTest::openedWindowsAreSingleAndLoadAfresh()
{
    int syncWindows = 0;
    int aboutWindows = 0;
    QPointer<QWidget> lastSync;
    QPointer<QWidget> lastAbout;
    QString textSeenBySync;
    mainForm* formPointer = nullptr;
    m_form = std::make_unique<mainForm>(
        m_server->baseUrl(),
        [&]() -> QWidget* {
            ++syncWindows;
            textSeenBySync = formPointer->directionsText();
            lastSync = new QWidget;
            return lastSync;
        },
        [&]() -> QWidget* {
            ++aboutWindows;
            lastAbout = new QWidget;
            return lastAbout;
        });
    formPointer = m_form.get();
    m_form->show();
    waitForEntry();
    search();
    waitForResult();

    QTest::mouseClick(button("btn_sync"), Qt::LeftButton);
    QTest::mouseClick(button("btn_sync"), Qt::LeftButton);
    QCOMPARE(syncWindows, 1);
    QVERIFY(isShown(lastSync));
    QVERIFY(lastSync.data()->parentWidget() == nullptr);
    QVERIFY(!lastSync.data()->isModal());
    QCOMPARE(textSeenBySync, kResultText);

    lastSync->close();
    QTRY_VERIFY(lastSync.isNull()); // closed windows are destroyed
    QTest::mouseClick(button("btn_sync"), Qt::LeftButton);
    QCOMPARE(syncWindows, 2);
    QVERIFY(isShown(lastSync));
    delete lastSync.data();

    QTest::mouseClick(control("Image1"), Qt::LeftButton);
    QTest::mouseClick(control("Image1"), Qt::LeftButton);
    QCOMPARE(aboutWindows, 1);
    QVERIFY(isShown(lastAbout));
    delete lastAbout.data();
}

void MainFormTest::editedDirectionsKeepWindowsLineEnds()
{
    m_form = openForm();
    waitForEntry();
    search();
    waitForResult();
    auto* text = control<QPlainTextEdit>("txtRip");
    text->moveCursor(QTextCursor::Start);
    text->insertPlainText(QStringLiteral("My trip\n"));
    QCOMPARE(m_form->directionsText(), QStringLiteral("My trip\r\n") + kResultText);
}

QTEST_MAIN(MainFormTest)
#include "main_form_test.moc"
