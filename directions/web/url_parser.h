#pragma once
// Web addresses parsed the way browsers parse them (the URL Standard), and
// handed to Qt's network stack with as little change as it allows.
//
// A form's action, a link or a redirect's Location is parsed against the
// address of the page it came from. The result is the serialized address as a
// browser sends it: scheme and host lower case, the host in ASCII (IDNA),
// default ports dropped, "." and ".." segments (also written "%2e") removed,
// a backslash read as a slash in http, https, ws, wss, ftp and file addresses,
// tabs and line breaks removed, and characters outside the percent-encode set
// of their component left alone: "|", "^" or "{" in a query stay as they are,
// an existing "%7E" stays "%7E" and a stray "%" stays a stray "%". The query
// is encoded in the page's charset (characters it lacks as "&#NNNN;",
// percent-encoded); the path, the user name and the fragment are always UTF-8.
//
// QUrl is not used for parsing: it reads the same text differently (it keeps
// backslashes, normalises percent-encodings, and treats the whole address as
// unencoded when one "%" is stray).

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

class QNetworkRequest;

namespace tw::web::url {

// Parses `input` against `base` (a serialized absolute address, or empty for
// none) and returns the serialized address: ASCII bytes. `charset` is the
// canonical charset of the page the input comes from (see charset.h); it
// matters only for the query of http, https, ftp and file addresses. Returns
// nothing when the input is no valid address (a relative input without a
// base, a bad host, a port above 65535 ...).
std::optional<QByteArray> resolve(
    const QByteArray& base, const QString& input, const QByteArray& charset = "utf-8");

// The serialized form of a QUrl that Qt holds (a page's address as the network
// stack reported it), or nothing when it does not parse.
std::optional<QByteArray> fromQUrl(const QUrl& url);

// `serialized` with its query (without "?") replaced by `query` and its
// fragment kept; a null `query` removes it.
QByteArray withQuery(const QByteArray& serialized, const QByteArray& query);

// The scheme of a serialized address, lower case ("http").
QByteArray scheme(const QByteArray& serialized);

// The request target an HTTP request for `serialized` carries: path and
// query, without the fragment ("/dd_result?addr=1+Main+St").
QByteArray requestTarget(const QByteArray& serialized);

// A QUrl for `serialized` that Qt sends as close to it as its HTTP stack
// allows. Qt builds the request line from QUrl::toEncoded(FullyEncoded), which
// always percent-encodes the characters RFC 3986 does not allow (such as "|",
// "^", "{", "}", "`", raw in a browser's query) and decodes the percent-encoded
// unreserved ones ("%7E" goes out as "~", "%41" as "A"); everything else,
// including a stray "%" (sent as "%25") and the letter case of other
// percent-encodings, goes out as serialized.
QUrl toQUrl(const QByteArray& serialized);

// A QNetworkRequest for `serialized`, built with toQUrl().
QNetworkRequest networkRequest(const QByteArray& serialized);

} // namespace tw::web::url
