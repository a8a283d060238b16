#pragma once
// Writing the directions as the note "Tarnwickley.txt" into the device's Notes
// folder.
//
// The note's bytes: "<TITLE>Tarnwickley</TITLE>", CR LF, the directions text as
// it is (its own line breaks kept), CR LF; Windows-1252 with '?' for characters
// the code page lacks; no byte-order mark.
//
// The note is replaced so that a failure never loses the old one: the new note is
// first written beside it under a temporary name, flushed to the device and
// closed; only then does it take the old note's place (on POSIX systems in one
// atomic rename). A failure while writing removes the temporary file and leaves
// the old note as it was. An old note that is read-only (no write permission, the
// FAT read-only attribute) is not forcibly replaced.

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace tw::sync {

class DriveTable;

inline constexpr char kNoteFileName[] = "Tarnwickley.txt";
// The new note's name until it is complete.
inline constexpr char kNoteTempFileName[] = "Tarnwickley.txt.new";

// What saveFiles did, and what the window shows for it.
enum class NoteOutcome {
    Written,        // the note is complete on the device
    OldDevice,      // version 0 or 1: nothing read or written
    NoNotesFolder,  // no folder "Notes" under the drive's root: nothing written
    RemovalRefused, // the old note could not be replaced: it is kept as it was
    WriteFailed,    // writing the new note failed: the old note is kept, no file left over
};

struct NoteResult {
    NoteOutcome outcome = NoteOutcome::WriteFailed;
    QString message;  // for a message box; empty when there is nothing to say
    QString caption;  // the result button's caption: "Sync Successful!" or "Close"
};

// The note's bytes for the directions text `text`.
QByteArray noteBytes(const QString& text);

// Writes noteBytes(text) to `device`, which must be open for writing, and closes
// it; for a file the data is flushed to the disk first. Returns an empty string
// when every byte is written, flushed and closed, else what failed in plain words.
QString writeNote(QIODevice& device, const QString& text);

// Opens the file at `path` for writing (created, or emptied if it exists).
// Returns the open device, or a device that is not open with its errorString set.
using NoteFileOpener = std::function<std::unique_ptr<QIODevice>(const QString& path)>;
NoteFileOpener defaultNoteFileOpener();

// Writes the directions `xVal` as the note on the drive `xPath` ("E:") of a
// device of version `xVer`. `open` creates the temporary file (tests hand in one
// that fails). Never throws; every failure is an outcome of the result.
NoteResult saveFiles(const DriveTable& drives, const QString& xPath, const QString& xVal, int16_t xVer,
                     const NoteFileOpener& open = defaultNoteFileOpener());

} // namespace tw::sync
