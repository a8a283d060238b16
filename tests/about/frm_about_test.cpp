// The About window's wiring: its load fills the version, the link hands the web
// site to the opener once per click and does nothing else, and the window is
// the fixed, close-only window the main window opens.

#include "about/frm_about.h"

#include <QApplication>
#include <QLabel>
#include <QList>
#include <QUrl>
#include <QtTest>

using tw::about::frmAbout;

namespace {

// Records every address the window asks to open; reports failure so the test
// also shows that a failed opening changes nothing.
struct RecordingOpener {
    QList<QUrl>* calls;
    bool operator()(const QUrl& url) const
    {
        calls->append(url);
        return false;
    }
};

QLabel* label(QWidget& window, const char* name)
{
    auto* found = window.findChild<QLabel*>(QString::fromLatin1(name));
    if (found == nullptr)
        qFatal("no label %s", name);
    return found;
}

} // namespace

class FrmAboutTest : public QObject {
    Q_OBJECT

private slots:
    void versionTextIsPlainDecimalJoinedByDots_data()
    {
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::addColumn<int>("revision");
        QTest::addColumn<QString>("expected");
        QTest::newRow("this release: minor 0 is one digit") << 1 << 0 << 2 << "1.0.2";
        QTest::newRow("all zero") << 0 << 0 << 0 << "0.0.0";
        QTest::newRow("two-digit numbers keep no padding") << 2 << 10 << 15 << "2.10.15";
    }
    void versionTextIsPlainDecimalJoinedByDots()
    {
        QFETCH(int, major);
        QFETCH(int, minor);
        QFETCH(int, revision);
        QFETCH(QString, expected);
        QCOMPARE(tw::about::versionText(major, minor, revision), expected);
    }

    void loadFillsTheVersionLabelWhenFirstShown()
    {
        QList<QUrl> calls;
        frmAbout window(RecordingOpener { &calls });
        QLabel* version = label(window, "lblVersion");
        QCOMPARE(version->text(), QString());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(version->text(), QStringLiteral("1.0.2"));
        QVERIFY(calls.isEmpty());
    }

    void eachLinkClickCallsTheOpenerOnceWithTheWebSite()
    {
        QList<QUrl> calls;
        frmAbout window(RecordingOpener { &calls });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QLabel* link = label(window, "lblWebLink1");

        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls.at(0), QUrl(QStringLiteral("https://tarnwickley.example.org/")));

        QTest::mouseClick(link, Qt::LeftButton);
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(calls.size(), 3);
        QCOMPARE(calls.at(2), calls.at(0));

        // The failed openings left the window as it was.
        QVERIFY(window.isVisible());
        QCOMPARE(label(window, "lblVersion")->text(), QStringLiteral("1.0.2"));
        QCOMPARE(link->text(), QStringLiteral("Tarnwickley Website"));
    }

    void onlyACompletedLeftClickOnTheLinkOpensTheSite()
    {
        QList<QUrl> calls;
        frmAbout window(RecordingOpener { &calls });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QLabel* link = label(window, "lblWebLink1");

        QTest::mouseClick(link, Qt::RightButton);
        QTest::mouseClick(link, Qt::MiddleButton);
        // Pressed on the link, released after dragging off it.
        QTest::mousePress(link, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(link->width() + 20, 5));
        // Clicks elsewhere: the banner, the credit line, the version.
        for (const char* other : { "Image1", "Label1", "lblVersion" })
            QTest::mouseClick(label(window, other), Qt::LeftButton);
        QCOMPARE(calls.size(), 0);
    }

    void aWindowWithoutAnOpenerIgnoresTheClick()
    {
        frmAbout window(tw::app::UrlOpener {});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(label(window, "lblWebLink1"), Qt::LeftButton);
        QVERIFY(window.isVisible());
    }

    void everyLabelShowsItsWholeTextInsideTheWindow()
    {
        // The layout was drawn for narrower fonts than the ones Linux
        // substitutes (Tahoma falls back to a wider face): nothing may be cut.
        frmAbout window([](const QUrl&) { return true; });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (const char* name : { "Label1", "lblWebLink1", "lblVersion" }) {
            QLabel* text = label(window, name);
            QVERIFY2(!text->text().isEmpty(), name);
            QVERIFY2(window.rect().contains(text->geometry()), name);
            if (text->wordWrap()) {
                QVERIFY2(text->heightForWidth(text->width()) <= text->height(), name);
            } else {
                const QFontMetrics metrics(text->font());
                QVERIFY2(metrics.horizontalAdvance(text->text()) <= text->width(), name);
                QVERIFY2(metrics.height() <= text->height(), name);
            }
        }
    }

    void windowIsAFixedWhiteCloseOnlyWindowWithTheLinkPointer()
    {
        frmAbout window([](const QUrl&) { return true; });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QCOMPARE(window.windowTitle(), QStringLiteral("About Tarnwickley"));
        QVERIFY(window.isWindow());
        QCOMPARE(window.size(), QSize(279, 213));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        const Qt::WindowFlags flags = window.windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(window.grab().toImage().pixelColor(278, 212), QColor(Qt::white));

        // The banner fills its control at its own size; the link pointer is ours.
        QLabel* banner = label(window, "Image1");
        QCOMPARE(banner->pixmap().size(), QSize(276, 162));
        QCOMPARE(banner->geometry(), QRect(0, 0, 276, 162));
        QLabel* link = label(window, "lblWebLink1");
        QCOMPARE(link->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(link->cursor().hotSpot(), QPoint(13, 9));
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 192));
        QVERIFY(!link->font().underline());
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    FrmAboutTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "frm_about_test.moc"
