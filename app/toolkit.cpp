#include "toolkit.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QPushButton>
#include <QMessageBox>
#include <QStandardPaths>

namespace tw::app {
namespace {
MessageSink& messageSink()
{
    static MessageSink sink;
    return sink;
}

QString& settingsFolderOverride()
{
    static QString folder;
    return folder;
}

bool isWritableFolder(const QString& folder)
{
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

// An installed program (bin/ with share/tarnwickley beside it) keeps no settings
// in its folder, even where that folder is writable (run as root, or unpacked
// into a private root): the package manager owns that folder.
bool isInstalledLayout(const QString& programFolder)
{
    return QFileInfo(QDir(programFolder).filePath(QStringLiteral("../share/tarnwickley"))).isDir();
}
} // namespace

QRect twipsRect(int left, int top, int width, int height)
{
    return {px(left), px(top), px(width), px(height)};
}

void showMessage(QWidget* parent, const QString& text)
{
    if (messageSink()) {
        messageSink()(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kApplicationTitle), text,
                    QMessageBox::Ok, parent);
    // Some desktop styles put a theme icon on the OK button; the box carries none.
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    box.exec();
}

void setMessageSink(MessageSink sink) { messageSink() = std::move(sink); }

QString programFolder()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

QString controlIniPath()
{
    QString folder = settingsFolderOverride();
    if (folder.isEmpty()) {
        folder = QCoreApplication::applicationDirPath();
        if (!isWritableFolder(folder) || isInstalledLayout(folder)) {
            folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
            QDir().mkpath(folder);
        }
    }
    return QDir::toNativeSeparators(QDir(folder).filePath(QStringLiteral("control.ini")));
}

void setSettingsFolder(const QString& folder) { settingsFolderOverride() = folder; }

UrlOpener defaultUrlOpener()
{
    return [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

void restoreDefaultPointer()
{
    while (QGuiApplication::overrideCursor() != nullptr)
        QGuiApplication::restoreOverrideCursor();
}

} // namespace tw::app
