// The About window as the main window opens it: a banner click shows one
// modeless, ownerless About window that has loaded its version; more clicks
// open no second one; closing destroys it and the next click loads a new one.

#include "about/frm_about.h"
#include "app/toolkit.h"
#include "directions/main_form.h"
#include "tests/support/page_server.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

using tw::about::frmAbout;

namespace {

QList<frmAbout*> aboutWindows()
{
    QList<frmAbout*> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* about = qobject_cast<frmAbout*>(widget))
            found.append(about);
    }
    return found;
}

} // namespace

class BannerOpensAboutTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        // The directions page is not served; whatever the main window says
        // about that goes to the sink instead of a modal box.
        tw::app::setMessageSink([](const QString&) {});
        QVERIFY(m_settings.isValid());
        tw::app::setSettingsFolder(m_settings.path());
    }
    void cleanup()
    {
        tw::app::setMessageSink({});
        tw::app::setSettingsFolder(QString());
    }

    void bannerClickOpensOneLoadedAboutWindowAndReopensAfresh()
    {
        tw::test::PageServer server;
        QList<QUrl> opened;
        int made = 0;
        tw::directions::mainForm form(server.baseUrl(), {}, [&]() -> QWidget* {
            ++made;
            return new frmAbout([&opened](const QUrl& url) {
                opened.append(url);
                return true;
            });
        });
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* banner = form.findChild<QLabel*>(QStringLiteral("Image1"));
        QVERIFY(banner != nullptr);

        QTest::mouseClick(banner, Qt::LeftButton);
        QTest::mouseClick(banner, Qt::LeftButton);
        QCOMPARE(made, 1);
        QCOMPARE(aboutWindows().size(), 1);
        QPointer<frmAbout> first = aboutWindows().constFirst();
        QVERIFY(first->isVisible());
        QVERIFY(first->parentWidget() == nullptr);
        QVERIFY(!first->isModal());
        QCOMPARE(first->findChild<QLabel*>(QStringLiteral("lblVersion"))->text(), QStringLiteral("1.0.2"));
        // The main window stays usable and visible beside it.
        QVERIFY(form.isVisible());
        QVERIFY(form.isEnabled());

        QTest::mouseClick(first->findChild<QLabel*>(QStringLiteral("lblWebLink1")), Qt::LeftButton);
        QCOMPARE(opened.size(), 1);

        first->close();
        QTRY_VERIFY(first.isNull());
        QVERIFY(form.isVisible());

        QTest::mouseClick(banner, Qt::LeftButton);
        QCOMPARE(made, 2);
        QCOMPARE(aboutWindows().size(), 1);
        frmAbout* second = aboutWindows().constFirst();
        QVERIFY(second->isVisible());
        QCOMPARE(second->findChild<QLabel*>(QStringLiteral("lblVersion"))->text(), QStringLiteral("1.0.2"));
        delete second;
    }

private:
    QTemporaryDir m_settings;
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    BannerOpensAboutTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "banner_opens_about_test.moc"
