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

} // namespace tw::sync
