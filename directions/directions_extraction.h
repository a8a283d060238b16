#pragma once
// Turns the markup of the directions service's result page into the directions
// text shown in txtRip and written to the device.
//
// This is deliberately not an HTML parser: it is a fixed sequence of literal,
// case-sensitive searches and replacements over the markup exactly as the web
// client serialises it (upper-case tag names, see directions/web), plus one pass
// that replaces image tags by their alternative text. Whatever the sequence does
// not name stays in the text as it was.
//
// All functions are pure, never throw for any input, and run in time linear in
// the length of their input.

#include <QString>
#include <QStringView>

#include <optional>

namespace tw::directions {

// The alternative text of one image tag and where the tag ends.
struct ImageAltText {
    QString altText;
    // 1-based position of the tag's closing ">" in the text that followed "<img";
    // 0 when no ">" follows at all.
    qsizetype imgTagEnd = 0;
};

// `afterImg` is the text that follows the four characters "<img" of one image
// tag, up to the end of the whole text. Returns the tag's alternative text: the
// attribute text from just after "alt=" up to one character before "src" (so
// `alt=Left src=l.gif` gives "Left" and a quoted value keeps its quotes).
// Where that rule has nothing sound to give, the result is:
//  - no ">" after "<img": imgTagEnd 0 and empty text (the caller keeps the text);
//  - "alt=" but no "src" after it: the alt value alone (up to the next blank, or
//    the whole quoted value with its quotes);
//  - no "alt=": empty text.
ImageAltText getImageAltText(QStringView afterImg);

// A copy of `text` in which every image tag ("<img" in any letter case, up to its
// first ">") is replaced by its alternative text and one space. The character
// directly after the tag's ">" is dropped as well (the service writes one space
// there). An "<img" with no ">" after it is not a tag: it and the rest of the text
// are copied unchanged.
QString replaceImageTags(QStringView text);

// The directions text of a result page: "1." followed by the section that starts
// at the first "Start at" and ends before the first "</DIV>" after it (or at the
// end of the markup when no "</DIV>" follows), with image tags replaced, markup
// line breaks removed, the plain row, cell, table and bold tags removed, each row
// end turned into CR LF, and "&lt;" decoded to "<". Both markers are matched
// case-sensitively.
// Returns nothing when the markup holds no "Start at": the page has no directions.
std::optional<QString> ripDirections(QStringView markup);

} // namespace tw::directions
