#pragma once
// The directions as notes the device can show whole.
//
// The device's note reader shows only the first 4096 bytes of a note. A note
// that fits is written as it always was: "<TITLE>Tarnwickley</TITLE>", CR LF,
// the directions text, CR LF, in Windows-1252 (code_page.h). A longer one becomes
// a chain of pages: "Tarnwickley.txt" is the first, the others are
// "PageNNN.txt" (from 002) in a folder beside it. Every page has a title line
// ("Tarnwickley (2 of 5)"), a part of the text, and, except the last, a line
// that links to the next page (<A HREF="...">); a link names the next page
// relative to the folder of the page that holds it.
//
// The text is cut only between steps (before a line that opens with a number
// and a dot); a step longer than a page is cut at a line break, else at a blank
// (which is dropped), else where the page is full. Nothing else of the text is
// lost; the CR LF between two steps that fall on different pages is replaced by
// the page break.

#include <QByteArray>
#include <QList>
#include <QString>

namespace tw::sync {

// The size of a page the device shows whole.
inline constexpr qsizetype kNotePageBytes = 4096;
// At most this many pages; a longer text is refused rather than cut.
inline constexpr qsizetype kMaxNotePages = 999;

// The two names the folder of continuation pages takes in turn, so that the
// pages of a new chain never overwrite those the note on the device links to.
// Both sort after "Tarnwickley.txt".
inline constexpr char kPagesFolderNames[2][19] = {"Tarnwickley_pages1", "Tarnwickley_pages2"};

struct NotePage {
    QString path;      // relative to the Notes folder, '/' between folder and name
    QByteArray bytes;  // at most kNotePageBytes, unless the note is one page
};

// The pages for the directions `text`, continuation pages in the folder
// `pagesFolder` (one of kPagesFolderNames): one page, the note as above, when it
// fits kNotePageBytes; an empty list when more than kMaxNotePages pages would be
// needed.
QList<NotePage> notePages(const QString& text, const QString& pagesFolder);

// The pages folder that the note `firstPage` links to: one of
// kPagesFolderNames, or an empty string when it links to neither.
QString linkedPagesFolder(const QByteArray& firstPage);

} // namespace tw::sync
