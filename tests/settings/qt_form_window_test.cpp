// The Qt window adapter on a real top-level widget (offscreen platform).
#include "app/qt_form_window.h"
#include "settings/cinifile.h"
#include "settings_test_files.h"

#include <QScreen>
#include <QTest>
#include <QWidget>

#include <stdexcept>

class QtFormWindowTest : public QObject {
    Q_OBJECT

private slots:
    void reportsGeometryInTwipsFromTheScreensCorner()
    {
        QWidget widget;
        widget.setGeometry(100, 50, 300, 200);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        const tw::app::QtFormWindow window(widget);
        const QRect screen = widget.screen()->geometry();
        const QRect frame = widget.frameGeometry();
        QCOMPARE(window.left(), (frame.x() - screen.x()) * 15.0);
        QCOMPARE(window.width(), frame.width() * 15.0);
        QCOMPARE(window.screenWidth(), screen.width() * 15.0);
        QCOMPARE(window.screenHeight(), screen.height() * 15.0);
        QCOMPARE(window.windowState(), int(tw::FormWindow::Normal));
    }

    void placementSurvivesSaveAndLoad()
    {
        tw::test::SettingsFile file;
        tw::cInifile ini;
        ini.Path(file.path());
        ini.Section(QStringLiteral("frmTest"));

        QWidget first;
        first.setGeometry(120, 90, 320, 240);
        first.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        tw::app::QtFormWindow firstWindow(first);
        ini.SaveFormPosition(firstWindow);
        QVERIFY(ini.Success());
        const QRect saved = first.frameGeometry();

        QWidget second;
        second.setGeometry(10, 10, 250, 250);
        second.show();
        QVERIFY(QTest::qWaitForWindowExposed(&second));
        tw::app::QtFormWindow secondWindow(second);
        ini.LoadFormPosition(secondWindow);
        QTRY_COMPARE(second.frameGeometry(), saved);
        QVERIFY(!second.isMaximized());

        ini.Key(QStringLiteral("Maximised"));
        ini.Value(QStringLiteral("1"));
        ini.LoadFormPosition(secondWindow);
        QTRY_VERIFY(second.isMaximized());
        QCOMPARE(secondWindow.windowState(), int(tw::FormWindow::Maximised));
    }

    void refusesAnUnknownWindowState()
    {
        QWidget widget;
        tw::app::QtFormWindow window(widget);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, window.setWindowState(7));
    }
};

QTEST_MAIN(QtFormWindowTest)
#include "qt_form_window_test.moc"
