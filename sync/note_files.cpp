#include "note_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tw::sync {

NoteFiles::~NoteFiles() = default;

std::unique_ptr<QIODevice> NoteFiles::create(const QString& path) const
{
    auto file = std::make_unique<QFile>(path);
    (void)file->open(QIODevice::WriteOnly | QIODevice::Truncate);
    return file;
}

QString NoteFiles::makeFolder(const QString& path) const
{
    if (QDir().mkdir(path) || QFileInfo(path).isDir())
        return {};
    return QStringLiteral("the folder %1 could not be created").arg(QFileInfo(path).fileName());
}

QString NoteFiles::remove(const QString& path) const
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {};
    const bool removed
        = info.isDir() && !info.isSymLink() ? QDir(path).removeRecursively() : QFile::remove(path);
    if (removed)
        return {};
    return QStringLiteral("%1 could not be removed").arg(info.fileName());
}

const NoteFiles& systemNoteFiles()
{
    static const NoteFiles files;
    return files;
}

QString NoteFiles::finish(QIODevice& device, const QByteArray& bytes) const
{
    const qint64 written = device.write(bytes);
    if (written != bytes.size()) {
        const QString reason = device.errorString();
        device.close();
        return reason.isEmpty() ? QStringLiteral("the device took only part of the note") : reason;
    }
    auto* file = qobject_cast<QFileDevice*>(&device);
    if (!file) {
        device.close();
        return {};
    }
    if (!file->flush()) {
        const QString reason = file->errorString();
        file->close();
        return reason;
    }
    // The note's bytes on the device, not only in the system's cache.
    if (const QString reason = syncToDevice(*file); !reason.isEmpty()) {
        file->close();
        return reason;
    }
    file->close();
    return file->error() == QFileDevice::NoError ? QString() : file->errorString();
}

} // namespace tw::sync
