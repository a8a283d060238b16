#include "note_writer.h"

#include "drive_path.h"
#include "note_pages.h"
#include "settings/code_page.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace tw::sync {
namespace {

const QString kSuccessCaption = QStringLiteral("Sync Successful!");
const QString kCloseCaption = QStringLiteral("Close");

NoteResult failure(NoteOutcome outcome, const QString& message)
{
    return { outcome, message, kCloseCaption };
}

NoteResult writeFailure(const QString& what)
{
    return failure(NoteOutcome::WriteFailed,
        QStringLiteral("Writing the note to the iPod failed: %1. Nothing on the iPod was changed.")
            .arg(what));
}

NoteResult removalRefused()
{
    return failure(
        NoteOutcome::RemovalRefused, QStringLiteral("Error has occured in removing file.. exiting"));
}

NoteResult disconnected()
{
    return failure(NoteOutcome::Disconnected,
        QStringLiteral("The iPod was disconnected. Nothing was written; connect it and sync again."));
}

NoteResult noNotesFolder()
{
    return failure(NoteOutcome::NoNotesFolder,
        QStringLiteral("Notes folder not found. Create Notes folder in your iPod root.. exiting"));
}

// A file the user may not change: no write permission for us, or no write bit for
// its owner (how a FAT file system shows the read-only attribute; this also holds
// for root, whom permission bits do not stop).
bool isReadOnly(const QFileInfo& file)
{
    return !file.isWritable() || !file.permissions().testFlag(QFileDevice::WriteOwner);
}

// Whether the folder `path` holds a read-only file, at any depth.
bool holdsReadOnlyFile(const QString& path)
{
    QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        if (isReadOnly(it.nextFileInfo()))
            return true;
    }
    return false;
}

QByteArray readHead(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(2 * kNotePageBytes) : QByteArray();
}

// One sync's replacement of the note in the Notes folder `folder`.
class NoteReplacement {
public:
    NoteReplacement(const DeviceIdentity& device, const QString& folder, const NoteFiles& files)
        : m_device(device)
        , m_folder(folder)
        , m_files(files)
    {
    }

    NoteResult run(const QString& text)
    {
        const QString notePath = local(QString::fromLatin1(kNoteFileName));
        const QFileInfo oldNote(notePath);
        if (oldNote.isDir())
            return writeFailure(QStringLiteral("a folder named %1 is in the way").arg(oldNote.fileName()));
        if (oldNote.isFile() && isReadOnly(oldNote))
            return removalRefused();

        // The new pages go into the pages folder the old note does not link to.
        const QString linked = oldNote.isFile() ? linkedPagesFolder(readHead(notePath)) : QString();
        const QString pagesFolder = QString::fromLatin1(
            kPagesFolderNames[linked == QLatin1StringView(kPagesFolderNames[0]) ? 1 : 0]);
        const QList<NotePage> pages = notePages(text, pagesFolder);
        if (pages.isEmpty())
            return failure(NoteOutcome::TooLong,
                QStringLiteral("These directions are too long for the iPod: they would need more than %1 "
                               "notes. Nothing was written.")
                    .arg(kMaxNotePages));
        // Every page of the earlier chain, and of one an interrupted sync left, goes.
        for (const char* name : kPagesFolderNames) {
            if (holdsReadOnlyFile(local(QString::fromLatin1(name))))
                return removalRefused();
        }

        const QString tempPath = local(QString::fromLatin1(kNoteTempFileName));
        if (QFileInfo(tempPath).isDir())
            return writeFailure(QStringLiteral("a folder is in the way of the new note's temporary file"));
        if (!isStillAttached(m_device))
            return disconnected();

        // What an interrupted sync left: its temporary note and its pages.
        m_newPages = pages.size() > 1 ? local(pagesFolder) : QString();
        if (QString error = m_files.remove(tempPath); !error.isEmpty())
            return writeFailure(error);
        if (QString error = m_files.remove(local(pagesFolder)); !error.isEmpty())
            return writeFailure(error);

        m_tempPath = tempPath;
        if (pages.size() > 1) {
            if (QString error = m_files.makeFolder(m_newPages); !error.isEmpty())
                return undo(writeFailure(error));
            for (qsizetype i = 1; i < pages.size(); ++i) {
                if (QString error = write(local(pages[i].path), pages[i].bytes); !error.isEmpty())
                    return undo(writeFailure(error));
            }
        }
        if (QString error = write(tempPath, pages[0].bytes); !error.isEmpty())
            return undo(writeFailure(error));
        // The new files complete on the device before any entry points to them.
        if (QString error = m_files.flushFileSystem(m_folder); !error.isEmpty())
            return undo(writeFailure(error));
        if (!isStillAttached(m_device))
            return undo(disconnected());

        if (QString error = m_files.replace(tempPath, notePath); !error.isEmpty()) {
            const bool oldKept = oldNote.isFile() && QFileInfo(notePath).isFile();
            return undo(oldKept ? removalRefused() : writeFailure(error));
        }

        // The new note is in place: pages no note links to go.
        for (const char* name : kPagesFolderNames) {
            const QString folder = local(QString::fromLatin1(name));
            if (folder != m_newPages)
                (void)m_files.remove(folder); // a leftover is removed at the next sync
        }
        if (QString error = m_files.flushFileSystem(m_folder); !error.isEmpty()) {
            return failure(NoteOutcome::FlushFailed,
                QStringLiteral("The iPod did not confirm that it stored the note: %1. The note may be "
                               "incomplete; sync again before you disconnect the iPod.")
                    .arg(error));
        }
        return { NoteOutcome::Written, QString(), kSuccessCaption };
    }

private:
    QString local(const QString& relative) const { return resolveUnderRoot(m_folder, relative); }

    QString write(const QString& path, const QByteArray& bytes)
    {
        std::unique_ptr<QIODevice> device = m_files.create(path);
        if (!device || !device->isOpen() || !device->isWritable()) {
            const QString reason = device ? device->errorString() : QString();
            return reason.isEmpty() ? QStringLiteral("the note could not be created") : reason;
        }
        return m_files.finish(*device, bytes);
    }

    // Removes what this sync wrote; a failure because the device went away is
    // reported as that.
    NoteResult undo(const NoteResult& result)
    {
        (void)m_files.remove(m_tempPath);
        if (!m_newPages.isEmpty())
            (void)m_files.remove(m_newPages);
        return isStillAttached(m_device) ? result : disconnected();
    }

    const DeviceIdentity& m_device;
    QString m_folder;
    const NoteFiles& m_files;
    QString m_tempPath;
    QString m_newPages;
};

} // namespace

QByteArray noteBytes(const QString& text)
{
    QByteArray bytes = "<TITLE>Tarnwickley</TITLE>\r\n";
    bytes += codepage::encode(text);
    bytes += "\r\n";
    return bytes;
}

NoteResult saveFiles(const DeviceIdentity& device, const QString& xVal, int16_t xVer, const NoteFiles& files)
{
    if (!device.isValid())
        return xVer != 2
            ? failure(NoteOutcome::OldDevice, QStringLiteral("Pre Version 2 iPod support coming soon!"))
            : noNotesFolder();
    if (!isStillAttached(device))
        return disconnected();
    if (xVer != 2)
        return failure(NoteOutcome::OldDevice, QStringLiteral("Pre Version 2 iPod support coming soon!"));

    const QString folder = resolveUnderRoot(device.root, u"\\Notes\\");
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return noNotesFolder();
    return NoteReplacement(device, folder, files).run(xVal);
}

NoteResult saveFiles(
    const DriveTable& drives, const QString& xPath, const QString& xVal, int16_t xVer, const NoteFiles& files)
{
    return saveFiles(identifyDrive(drives, xPath), xVal, xVer, files);
}

} // namespace tw::sync
