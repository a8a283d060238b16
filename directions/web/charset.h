#pragma once
// Charsets of pages and form submissions.
//
// A page is decoded by the first of: its byte-order mark, the charset of the
// HTTP Content-Type, a <meta charset> or <meta http-equiv="Content-Type"> within
// its first 1024 bytes, else windows-1252. Labels follow the web's rules: the
// Latin-1 family ("iso-8859-1", "latin1", "us-ascii" ...) means windows-1252, and
// a meta tag claiming UTF-16 means UTF-8 (the bytes could not have been read
// that far otherwise). Charset names handed out are canonical lower-case names.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace tw::web::charset {

// The canonical name for a charset label ("utf-8", "windows-1252", "utf-16le",
// "utf-16be" or another name the platform can decode), or an empty array when
// the label names nothing known.
QByteArray canonicalName(QByteArrayView label);

// The canonical charset named by a Content-Type value's charset parameter, or
// empty when there is none or it is unknown.
QByteArray fromContentType(QByteArrayView contentType);

// The canonical charset declared by a meta tag near the start of `bytes`, or
// empty.
QByteArray fromMeta(QByteArrayView bytes);

struct Detection {
    QByteArray name; // canonical charset name
    qsizetype bomLength = 0; // bytes of byte-order mark to skip
};

// Detects the charset of a page body as described above.
Detection detect(QByteArrayView bytes, QByteArrayView contentType);

// Decodes `bytes` (skipping `bomLength`) with charset `name`. Never fails:
// malformed input becomes U+FFFD. Line breaks (CR LF, lone CR) become LF and NUL
// characters become U+FFFD, as a browser's input stream does.
QString decode(QByteArrayView bytes, const Detection& detection);

// Encodes `text` in charset `name` for a form submission: characters the charset
// lacks become "&#NNNN;" (the decimal code point), as browsers send them.
// UTF-16 charsets submit in UTF-8.
QByteArray encodeForForm(const QString& text, const QByteArray& name);

} // namespace tw::web::charset
