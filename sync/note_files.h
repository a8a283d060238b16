#pragma once
// The file operations the note writer makes on the device, in one place so that
// each system does them its own way and tests can watch or fail them.
//
// The base class does them on this machine's file system (note_files_posix.cpp,
// note_files_windows.cpp). Every operation returns an empty string on success,
// else what failed in plain words; none throws.

#include <QFileDevice>
#include <QIODevice>
#include <QString>

#include <memory>

namespace tw::sync {

class NoteFiles {
public:
    virtual ~NoteFiles();

    // Opens the file at `path` for writing (created, or emptied if it exists).
    // Returns the open device, or one that is not open with its errorString set.
    virtual std::unique_ptr<QIODevice> create(const QString& path) const;

    // Writes `bytes` to `device` (open for writing), makes sure they reach the
    // disk (for a file) and closes it.
    virtual QString finish(QIODevice& device, const QByteArray& bytes) const;

    // Creates the folder `path`.
    virtual QString makeFolder(const QString& path) const;

    // Puts the file `from` in the place of `to`, which may exist, in one step
    // where the system allows it: there is no moment without either file.
    virtual QString replace(const QString& from, const QString& to) const;

    // Removes the file or the folder (with all in it) at `path`; nothing there
    // is success.
    virtual QString remove(const QString& path) const;

    // Writes everything the system still holds in memory for the file system
    // that holds the folder `folder` to its device, so that pulling the device
    // out afterwards loses nothing (Linux: syncfs; Windows: the volume's buffers).
    virtual QString flushFileSystem(const QString& folder) const;

private:
    // Sends the file's bytes, already flushed from Qt's buffer, to its device
    // (Linux: fsync; Windows: FlushFileBuffers). Returns the system's reason on
    // failure. One file per system.
    static QString syncToDevice(QFileDevice& file);
};

// The operations on this machine's file systems.
const NoteFiles& systemNoteFiles();

} // namespace tw::sync
