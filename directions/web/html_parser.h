#pragma once
// The HTML parser: libxml2's forgiving HTML parser, driven through its SAX
// interface, building our own document tree.
//
// Any input is accepted: broken markup is repaired the way libxml2 repairs it,
// and the result always has an <html> root. On top of libxml2:
// - a table's rows that sit directly in the TABLE get a TBODY (marked implied),
//   and cells directly in a table section get a TR, as browsers build them;
// - a control belongs to the form whose start tag came last before it and
//   whose end tag has not come yet, also where an end tag such as </div>
//   closed the form's parent first (the controls after it are then outside
//   the form's subtree); a <form> inside an open form is dropped, so its
//   controls belong to the outer form; of the radio buttons of one group
//   written checked, only the last stays checked;
// - the page is decoded by us first (see charset.h), so libxml2 sees UTF-8 and
//   ignores the page's own encoding declarations;
// - unmatched end tags and misplaced <body> tags cost libxml2 a scan of all
//   open elements each; a page that piles up so many of them that parsing
//   would take seconds is cut off at that point and the part parsed so far kept; so is a page of more than
//   two million nodes, which would otherwise take gigabytes of memory. Such a document reports isTruncated().
// Building and walking the tree never recurses, so nesting depth is limited
// only by memory.

#include "directions/web/html_document.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QUrl>

#include <memory>

namespace tw::web {

// Parses decoded page text. Never fails; returns the document.
std::unique_ptr<HtmlDocument> parseHtml(
    const QString& text, const QUrl& url = QUrl(), const QByteArray& charset = "utf-8");

// Detects the charset of raw page bytes (byte-order mark, `contentType`, meta
// tag, else windows-1252), decodes them and parses the text.
std::unique_ptr<HtmlDocument> parseHtmlBytes(
    QByteArrayView bytes, QByteArrayView contentType = {}, const QUrl& url = QUrl());

} // namespace tw::web
