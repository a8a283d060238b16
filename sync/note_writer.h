#pragma once
// Writing the directions as the note "Tarnwickley.txt" into the device's Notes
// folder.
//
// The note's bytes: "<TITLE>Tarnwickley</TITLE>", CR LF, the directions text as
// it is (its own line breaks kept), CR LF; Windows-1252 with the closest letter,
// else '?', for characters the code page lacks; no byte-order mark. Directions
// too long for one page of the device's note reader become a chain of linked
// pages (note_pages.h).
//
// The note is replaced so that a failure never loses the old one, nor a power
// cut once success is reported:
//  - the write goes to the device that was detected, checked just before
//    writing and again before the new note takes the old one's place; a device
//    gone or changed meanwhile gets nothing ("The iPod was disconnected.");
//  - the pages of a chain go into a pages folder the old note does not link to,
//    and the first page under a temporary name beside the old note, each
//    flushed to the device;
//  - the file system is flushed, then the first page takes the old note's place
//    in one rename (the moment the new chain replaces the old one), the pages of
//    the earlier chain are removed, and the file system is flushed again; only
//    then is the sync successful. A failing flush is a failed sync.
// A failure before the rename removes everything new and leaves the old note and
// its pages as they were. What an interrupted sync left (the temporary note, a
// pages folder no note links to) is removed before writing. An old note or page
// that is read-only (no write permission, the FAT read-only attribute) is not
// forcibly replaced: nothing is written.

#include "device_identity.h"
#include "note_files.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace tw::sync {

class DriveTable;

inline constexpr char kNoteFileName[] = "Tarnwickley.txt";
// The new note's name until it is complete.
inline constexpr char kNoteTempFileName[] = "Tarnwickley.txt.new";

// What saveFiles did, and what the window shows for it.
enum class NoteOutcome {
    Written,        // the note is complete on the device
    OldDevice,      // version 0 or 1: nothing written
    NoNotesFolder,  // no folder "Notes" under the drive's root: nothing written
    RemovalRefused, // the old note or one of its pages is read-only: all kept as it was
    Disconnected,   // the detected device is gone or another is in its place: nothing written there
    TooLong,        // the directions need more pages than a chain may have: nothing written
    WriteFailed,    // writing failed: the old note is kept, no new file left over
    FlushFailed,    // the new note is in place but the device did not confirm it stored it
};

struct NoteResult {
    NoteOutcome outcome = NoteOutcome::WriteFailed;
    QString message;  // for a message box; empty when there is nothing to say
    QString caption;  // the result button's caption: "Sync Successful!" or "Close"
};

// The bytes of a one-page note for the directions text `text`.
QByteArray noteBytes(const QString& text);

// Writes the directions `xVal` as the note on the device `device` (found by
// detection) of version `xVer`, through `files`. Never throws; every failure is
// an outcome of the result.
NoteResult saveFiles(const DeviceIdentity& device, const QString& xVal, int16_t xVer,
                     const NoteFiles& files = systemNoteFiles());

// The same for the drive that the drive text `xPath` ("E:") names now.
NoteResult saveFiles(const DriveTable& drives, const QString& xPath, const QString& xVal, int16_t xVer,
                     const NoteFiles& files = systemNoteFiles());

} // namespace tw::sync
