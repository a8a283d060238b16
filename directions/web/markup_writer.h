#pragma once
// The markup writer: turns a part of the document tree back into HTML text the
// way the legacy browser engine did, because the directions extraction searches
// that text for literal tags such as "<TR>", "</TD>" and "</DIV>".
//
// The rules, all kept in one table in markup_writer.cpp:
// - tag names in upper case; every non-void element gets its end tag; void
//   elements (BR, IMG, INPUT ...) have none and no "/>";
// - attribute names in lower case; a value is written bare unless it holds
//   whitespace or one of " ' ` < > % = & (or is empty), else in double quotes,
//   or single quotes when it holds " and no '; an attribute without a value is
//   written as its name alone;
// - text escapes & < > as &amp; &lt; &gt; and U+00A0 as &nbsp;, and writes its
//   line breaks as CR LF; script and style content is written as it is;
// - whitespace-only text next to a block element or inside table structure is
//   dropped, and CR LF goes before the start tag of each block element (DIV, P,
//   TABLE, TBODY, TR, TD, UL, LI, FORM, H1-H6), except at the very beginning.

#include <QString>

namespace tw::web {

class HtmlNode;

// The markup of `node`'s children (innerHTML).
QString writeChildrenMarkup(const HtmlNode& node);
// The markup of `node` itself with its children (outerHTML).
QString writeNodeMarkup(const HtmlNode& node);

} // namespace tw::web
