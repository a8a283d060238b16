#include "note_writer.h"

#include "drive_path.h"
#include "settings/code_page.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace tw::sync {
namespace {

const QString kSuccessCaption = QStringLiteral("Sync Successful!");
const QString kCloseCaption = QStringLiteral("Close");

NoteResult failure(NoteOutcome outcome, const QString& message) { return {outcome, message, kCloseCaption}; }

NoteResult writeFailure(const QString& what)
{
    return failure(NoteOutcome::WriteFailed,
                   QStringLiteral("Writing the note to the iPod failed: %1. Nothing on the iPod was changed.").arg(what));
}

NoteResult removalRefused()
{
    return failure(NoteOutcome::RemovalRefused, QStringLiteral("Error has occured in removing file.. exiting"));
}

// A file the user may not change: no write permission for us, or no write bit for
// its owner (how a FAT file system shows the read-only attribute; this also holds
// for root, whom permission bits do not stop).
bool isReadOnly(const QFileInfo& file)
{
    return !file.isWritable() || !file.permissions().testFlag(QFileDevice::WriteOwner);
}

// Puts `from` in the place of `to`, which may exist. Returns an empty string on
// success, else the reason.
QString replaceFile(const QString& from, const QString& to)
{
#ifdef Q_OS_UNIX
    // rename() replaces the old note in one step: there is no moment at which
    // neither note is on the device.
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return {};
#else
    if (QFile::exists(to) && !QFile::remove(to))
        return QStringLiteral("the old note could not be removed");
    QFile file(from);
    if (!file.rename(to))
        return file.errorString();
    return {};
#endif
}

} // namespace

QByteArray noteBytes(const QString& text)
{
    QByteArray bytes = codepage::encode(QStringLiteral("<TITLE>Tarnwickley</TITLE>"));
    bytes += "\r\n";
    bytes += codepage::encode(text);
    bytes += "\r\n";
    return bytes;
}

QString writeNote(QIODevice& device, const QString& text)
{
    const QByteArray bytes = noteBytes(text);
    const qint64 written = device.write(bytes);
    if (written != bytes.size()) {
        const QString reason = device.errorString();
        device.close();
        return reason.isEmpty() ? QStringLiteral("the device took only part of the note") : reason;
    }
    if (auto* file = qobject_cast<QFileDevice*>(&device)) {
        if (!file->flush()) {
            const QString reason = file->errorString();
            file->close();
            return reason;
        }
#ifdef Q_OS_UNIX
        // Make sure the note is on the device, not just in the system's cache,
        // before it is reported as written.
        if (::fsync(file->handle()) != 0) {
            const QString reason = QString::fromLocal8Bit(std::strerror(errno));
            file->close();
            return reason;
        }
#endif
        file->close();
        if (file->error() != QFileDevice::NoError)
            return file->errorString();
        return {};
    }
    device.close();
    return {};
}

NoteFileOpener defaultNoteFileOpener()
{
    return [](const QString& path) -> std::unique_ptr<QIODevice> {
        auto file = std::make_unique<QFile>(path);
        (void)file->open(QIODevice::WriteOnly | QIODevice::Truncate);
        return file;
    };
}

NoteResult saveFiles(const DriveTable& drives, const QString& xPath, const QString& xVal, int16_t xVer,
                     const NoteFileOpener& open)
{
    if (xVer != 2)
        return failure(NoteOutcome::OldDevice, QStringLiteral("Pre Version 2 iPod support coming soon!"));

    const QString folder = localPath(drives, xPath + QStringLiteral("\\Notes\\"));
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return failure(NoteOutcome::NoNotesFolder,
                       QStringLiteral("Notes folder not found. Create Notes folder in your iPod root.. exiting"));

    // The old note is one we may replace, or the sync ends before anything is written.
    const QString notePath = resolveUnderRoot(folder, QString::fromLatin1(kNoteFileName));
    const QFileInfo oldNote(notePath);
    const bool hadOldNote = oldNote.isFile();
    if (hadOldNote && isReadOnly(oldNote))
        return removalRefused();

    const QString tempPath = resolveUnderRoot(folder, QString::fromLatin1(kNoteTempFileName));
    if (QFileInfo(tempPath).isDir())
        return writeFailure(QStringLiteral("a folder is in the way of the new note's temporary file"));
    std::unique_ptr<QIODevice> device = open ? open(tempPath) : nullptr;
    if (!device || !device->isOpen() || !device->isWritable()) {
        const QString reason = device ? device->errorString() : QString();
        QFile::remove(tempPath);
        return writeFailure(reason.isEmpty() ? QStringLiteral("the note could not be created") : reason);
    }
    const QString writeError = writeNote(*device, xVal);
    device.reset();
    if (!writeError.isEmpty()) {
        QFile::remove(tempPath);
        return writeFailure(writeError);
    }

    const QString replaceError = replaceFile(tempPath, notePath);
    if (!replaceError.isEmpty()) {
        QFile::remove(tempPath);
        if (hadOldNote && QFileInfo(notePath).isFile())
            return removalRefused();
        return writeFailure(replaceError);
    }
    return {NoteOutcome::Written, QString(), kSuccessCaption};
}

} // namespace tw::sync
