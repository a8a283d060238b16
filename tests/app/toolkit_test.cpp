// The toolkit bindings shared by the windows: the message box's look and the
// settings file's location.
#include "app/toolkit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

class ToolkitTest : public QObject {
    Q_OBJECT

private slots:
    void messageBoxHasTheTitleOneOkButtonAndNoIcon()
    {
        QString title;
        QString text;
        int buttons = -1;
        QMessageBox::Icon icon = QMessageBox::Critical;
        bool buttonIconless = false;
        // The box is modal: inspect and dismiss it from the event loop it runs.
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            title = box->windowTitle();
            text = box->text();
            buttons = static_cast<int>(box->buttons().size());
            icon = box->icon();
            buttonIconless = box->button(QMessageBox::Ok)->icon().isNull();
            box->button(QMessageBox::Ok)->click();
        });
        tw::app::showMessage(nullptr, QStringLiteral("Notes folder not found."));
        QCOMPARE(title, QStringLiteral("Tarnwickley"));
        QCOMPARE(text, QStringLiteral("Notes folder not found."));
        QCOMPARE(buttons, 1);
        QCOMPARE(icon, QMessageBox::NoIcon);
        QVERIFY(buttonIconless);
    }

    void messageSinkReplacesTheBoxUntilCleared()
    {
        QStringList seen;
        tw::app::setMessageSink([&](const QString& m) { seen << m; });
        tw::app::showMessage(nullptr, QStringLiteral("one"));
        tw::app::setMessageSink({});
        QCOMPARE(seen, QStringList{QStringLiteral("one")});
    }

    void settingsFileFollowsTheOverrideFolder()
    {
        QTemporaryDir dir;
        tw::app::setSettingsFolder(dir.path());
        QCOMPARE(QDir::fromNativeSeparators(tw::app::controlIniPath()), dir.filePath(QStringLiteral("control.ini")));
        tw::app::setSettingsFolder({});
        // Without an override the file sits in a writable folder.
        const QFileInfo info(QFileInfo(tw::app::controlIniPath()).absolutePath());
        QVERIFY(info.isDir() && info.isWritable());
    }

    void twipsBecomePixelsAtFifteenATwip()
    {
        QCOMPARE(tw::app::twipsRect(945, 1230, 4335, 6300), QRect(63, 82, 289, 420));
    }
};

QTEST_MAIN(ToolkitTest)
#include "toolkit_test.moc"
