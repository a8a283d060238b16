#include "directions/web/url_parser.h"

#include "directions/web/charset.h"

#include <QHostAddress>
#include <QNetworkRequest>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;

namespace tw::web::url {
namespace {

// The characters of each percent-encode set besides the C0 controls, space
// and everything above "~", which every set holds.
enum class EncodeSet { Fragment, Query, SpecialQuery, Path, Userinfo };

bool inEncodeSet(char32_t c, EncodeSet set)
{
    if (c < 0x20 || c > 0x7E) {
        return true;
    }
    auto oneOf = [c](std::u32string_view chars) { return chars.find(c) != std::u32string_view::npos; };
    switch (set) {
    case EncodeSet::Fragment:
        return oneOf(U" \"<>`");
    case EncodeSet::Query:
        return oneOf(U" \"#<>");
    case EncodeSet::SpecialQuery:
        return oneOf(U" \"#<>'");
    case EncodeSet::Path:
        // Browsers also encode "|" in a path, which the Standard leaves.
        return oneOf(U" \"#<>?`{}^|");
    case EncodeSet::Userinfo:
        return oneOf(U" \"#<>?`{}/:;=@[\\]^|");
    }
    return true;
}

void appendHex(QByteArray& out, unsigned char b)
{
    static const char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[b >> 4U];
    out += kHex[b & 0xFU];
}

QByteArray utf8Of(char32_t c)
{
    return QString::fromUcs4(&c, 1).toUtf8();
}

// Appends code point `c`, UTF-8 encoded, percent-encoding it when it is in `set`.
void appendEncoded(QByteArray& out, char32_t c, EncodeSet set)
{
    if (!inEncodeSet(c, set)) {
        out += static_cast<char>(c);
        return;
    }
    for (char b : utf8Of(c)) {
        appendHex(out, static_cast<unsigned char>(b));
    }
}

bool isSpecial(const QByteArray& scheme)
{
    return scheme == "http" || scheme == "https" || scheme == "ws" || scheme == "wss" || scheme == "ftp"
        || scheme == "file";
}

int defaultPort(const QByteArray& scheme)
{
    if (scheme == "http" || scheme == "ws") {
        return 80;
    }
    if (scheme == "https" || scheme == "wss") {
        return 443;
    }
    if (scheme == "ftp") {
        return 21;
    }
    return -1;
}

bool isAsciiAlpha(char32_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiDigit(char32_t c)
{
    return c >= '0' && c <= '9';
}

bool isHexDigit(char32_t c)
{
    return isAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The input as code points, lone surrogates as U+FFFD.
std::u32string codePoints(const QString& text)
{
    std::u32string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += QChar::surrogateToUcs4(c, text.at(i + 1));
            ++i;
        } else if (c.isSurrogate()) {
            out += char32_t(0xFFFD);
        } else {
            out += char32_t(c.unicode());
        }
    }
    return out;
}

// Percent-decodes `text` (bytes); a "%" not followed by two hex digits stays.
QByteArray percentDecode(const QByteArray& text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && isHexDigit(text[i + 1]) && isHexDigit(text[i + 2])) {
            out += static_cast<char>(QByteArray::fromHex(text.mid(i + 1, 2)).at(0));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct Url {
    QByteArray scheme;
    QByteArray username;
    QByteArray password;
    std::optional<QByteArray> host;
    int port = -1;
    std::vector<QByteArray> path;
    std::optional<QByteArray> opaquePath; // for "mailto:x", "javascript:..."
    std::optional<QByteArray> query;
    std::optional<QByteArray> fragment;

    bool special() const { return isSpecial(scheme); }
};

QByteArray serialize(const Url& u)
{
    QByteArray out = u.scheme + ':';
    if (u.host) {
        out += "//";
        if (!u.username.isEmpty() || !u.password.isEmpty()) {
            out += u.username;
            if (!u.password.isEmpty()) {
                out += ':' + u.password;
            }
            out += '@';
        }
        out += *u.host;
        if (u.port >= 0) {
            out += ':' + QByteArray::number(u.port);
        }
    }
    if (u.opaquePath) {
        out += *u.opaquePath;
    } else {
        if (!u.host && u.path.size() > 1 && u.path.front().isEmpty()) {
            out += "/.";
        }
        for (const QByteArray& segment : u.path) {
            out += '/' + segment;
        }
    }
    if (u.query) {
        out += '?' + *u.query;
    }
    if (u.fragment) {
        out += '#' + *u.fragment;
    }
    return out;
}

bool isSingleDot(const QByteArray& s)
{
    return s == "." || s.compare("%2e", Qt::CaseInsensitive) == 0;
}

bool isDoubleDot(const QByteArray& s)
{
    const QByteArray lower = s.toLower();
    return lower == ".." || lower == ".%2e" || lower == "%2e." || lower == "%2e%2e";
}

bool isWindowsDriveLetter(const QByteArray& s)
{
    return s.size() == 2 && isAsciiAlpha(static_cast<unsigned char>(s[0])) && (s[1] == ':' || s[1] == '|');
}

// Appends the path segments of `input` (ending at "?" or "#" or the end) to
// `url`'s path, removing "." and ".."; returns the position after the path.
std::size_t parsePath(Url& url, const std::u32string& input, std::size_t pos)
{
    const bool special = url.special();
    QByteArray segment;
    for (;; ++pos) {
        const bool end = pos >= input.size() || input[pos] == '?' || input[pos] == '#';
        const char32_t c = end ? 0 : input[pos];
        if (end || c == '/' || (special && c == '\\')) {
            const bool last = end;
            if (isDoubleDot(segment)) {
                const bool keepDrive
                    = url.scheme == "file" && url.path.size() == 1 && isWindowsDriveLetter(url.path.front());
                if (!url.path.empty() && !keepDrive) {
                    url.path.pop_back();
                }
                if (last) {
                    url.path.emplace_back();
                }
            } else if (isSingleDot(segment)) {
                if (last) {
                    url.path.emplace_back();
                }
            } else {
                // "C|" (its "|" encoded by now) is the drive "C:".
                if (url.scheme == "file" && url.path.empty() && segment.size() == 4
                    && isAsciiAlpha(static_cast<unsigned char>(segment[0])) && segment.endsWith("%7C")) {
                    segment = segment.left(1) + ':';
                }
                url.path.push_back(segment);
            }
            segment.clear();
            if (end) {
                return pos;
            }
            continue;
        }
        appendEncoded(segment, c, EncodeSet::Path);
    }
}

// Parses an IPv4 number ("0x7f", "0177", "127"); nothing when it is not one.
std::optional<quint64> ipv4Number(const QByteArray& part)
{
    if (part.isEmpty()) {
        return std::nullopt;
    }
    int radix = 10;
    QByteArray digits = part;
    if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        radix = 16;
        digits = digits.mid(2);
    } else if (digits.size() >= 2 && digits[0] == '0') {
        radix = 8;
        digits = digits.mid(1);
    }
    if (digits.isEmpty()) {
        return 0;
    }
    bool ok = false;
    const quint64 value = digits.toULongLong(&ok, radix);
    if (!ok || digits.startsWith('+') || digits.startsWith('-')) {
        return std::nullopt;
    }
    return value;
}

// The host's last label is a number: the host is an IPv4 address.
bool endsInNumber(const QByteArray& host)
{
    QList<QByteArray> parts = host.split('.');
    if (parts.size() > 1 && parts.back().isEmpty()) {
        parts.pop_back();
    }
    const QByteArray& last = parts.back();
    if (!last.isEmpty() && std::all_of(last.begin(), last.end(), [](char c) { return isAsciiDigit(c); })) {
        return true;
    }
    return ipv4Number(last).has_value();
}

std::optional<QByteArray> parseIpv4(const QByteArray& host)
{
    QList<QByteArray> parts = host.split('.');
    if (parts.size() > 1 && parts.back().isEmpty()) {
        parts.pop_back();
    }
    if (parts.size() > 4) {
        return std::nullopt;
    }
    std::vector<quint64> numbers;
    for (const QByteArray& part : parts) {
        const auto n = ipv4Number(part);
        if (!n) {
            return std::nullopt;
        }
        numbers.push_back(*n);
    }
    for (std::size_t i = 0; i + 1 < numbers.size(); ++i) {
        if (numbers[i] > 255) {
            return std::nullopt;
        }
    }
    const std::size_t restBytes = 5 - numbers.size();
    if (numbers.back() >= (quint64(1) << (8 * restBytes))) {
        return std::nullopt;
    }
    quint64 address = numbers.back();
    for (std::size_t i = 0; i + 1 < numbers.size(); ++i) {
        address += numbers[i] << (8 * (3 - i));
    }
    return QByteArray::number((address >> 24U) & 0xFFU) + '.' + QByteArray::number((address >> 16U) & 0xFFU)
        + '.' + QByteArray::number((address >> 8U) & 0xFFU) + '.' + QByteArray::number(address & 0xFFU);
}

std::optional<QByteArray> parseIpv6(const QByteArray& inner)
{
    QHostAddress address;
    if (inner.contains('%') || !address.setAddress(QString::fromLatin1(inner))
        || address.protocol() != QAbstractSocket::IPv6Protocol) {
        return std::nullopt;
    }
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    std::array<unsigned, 8> pieces {};
    for (int i = 0; i < 8; ++i) {
        pieces[i] = (unsigned(bytes[2 * i]) << 8U) | bytes[2 * i + 1];
    }
    // The first longest run of two or more zero pieces is written "::".
    int bestStart = -1;
    int bestLength = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && pieces[j] == 0) {
            ++j;
        }
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    QByteArray out = "[";
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            out += i == 0 ? "::" : ":";
            i += bestLength - 1;
            continue;
        }
        out += QByteArray::number(pieces[i], 16);
        if (i < 7) {
            out += ':';
        }
    }
    return out + ']';
}

std::optional<QByteArray> parseHost(const std::u32string& input, bool special)
{
    const QString text = QString::fromUcs4(input.data(), qsizetype(input.size()));
    if (text.startsWith(u'[')) {
        if (!text.endsWith(u']')) {
            return std::nullopt;
        }
        return parseIpv6(text.mid(1, text.size() - 2).toLatin1());
    }
    static const std::u32string_view kForbiddenHost = U"\0\t\n\r #/:<>?@[\\]^|";
    auto forbidden
        = [](char32_t c, std::u32string_view set) { return set.find(c) != std::u32string_view::npos; };
    if (!special) {
        QByteArray out;
        for (char32_t c : input) {
            if (forbidden(c, kForbiddenHost)) {
                return std::nullopt;
            }
            if (c < 0x20 || c > 0x7E) {
                for (char b : utf8Of(c)) {
                    appendHex(out, static_cast<unsigned char>(b));
                }
            } else {
                out += static_cast<char>(c);
            }
        }
        return out;
    }
    QByteArray utf8;
    for (char32_t c : input) {
        utf8 += utf8Of(c);
    }
    const QString domain = QString::fromUtf8(percentDecode(utf8));
    if (domain.isEmpty()) {
        return std::nullopt;
    }
    QByteArray ascii = QUrl::toAce(domain).toLower();
    if (ascii.isEmpty()) {
        return std::nullopt;
    }
    for (char ch : ascii) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F || c == '%' || forbidden(c, kForbiddenHost)) {
            return std::nullopt;
        }
    }
    if (endsInNumber(ascii)) {
        return parseIpv4(ascii);
    }
    return ascii;
}

// Parses "userinfo@host:port" (the text between "//" and the path).
bool parseAuthority(Url& url, const std::u32string& authority)
{
    std::u32string hostPort = authority;
    const std::size_t at = authority.rfind('@');
    url.username.clear();
    url.password.clear();
    if (at != std::u32string::npos) {
        const std::u32string userinfo = authority.substr(0, at);
        const std::size_t colon = userinfo.find(':');
        for (std::size_t i = 0; i < userinfo.size(); ++i) {
            if (i == colon) {
                continue;
            }
            appendEncoded(i < colon ? url.username : url.password, userinfo[i], EncodeSet::Userinfo);
        }
        hostPort = authority.substr(at + 1);
    }
    // The port follows the last ":" outside an IPv6 literal.
    std::size_t colon = std::u32string::npos;
    bool inBrackets = false;
    for (std::size_t i = 0; i < hostPort.size(); ++i) {
        if (hostPort[i] == '[') {
            inBrackets = true;
        } else if (hostPort[i] == ']') {
            inBrackets = false;
        } else if (hostPort[i] == ':' && !inBrackets) {
            colon = i;
            break;
        }
    }
    const std::u32string hostText = hostPort.substr(0, colon);
    url.port = -1;
    if (colon != std::u32string::npos) {
        const std::u32string portText = hostPort.substr(colon + 1);
        if (!portText.empty()) {
            quint64 port = 0;
            for (char32_t c : portText) {
                if (!isAsciiDigit(c)) {
                    return false;
                }
                port = port * 10 + (c - '0');
                if (port > 65535) {
                    return false;
                }
            }
            url.port = port == quint64(defaultPort(url.scheme)) ? -1 : int(port);
        }
    }
    if (hostText.empty()) {
        if (url.special() && url.scheme != "file") {
            return false;
        }
        url.host = QByteArray();
        return at == std::u32string::npos && colon == std::u32string::npos;
    }
    url.host = parseHost(hostText, url.special());
    if (url.host && url.scheme == "file" && *url.host == "localhost") {
        url.host = QByteArray();
    }
    return url.host.has_value();
}

// Encodes the query in `charset` (UTF-8 where the address is not special, or
// is a ws or wss address); characters the charset lacks become "&#NNNN;".
QByteArray encodeQuery(const std::u32string& text, const Url& url, const QByteArray& charset)
{
    const bool utf8 = !url.special() || url.scheme == "ws" || url.scheme == "wss";
    const EncodeSet set = url.special() ? EncodeSet::SpecialQuery : EncodeSet::Query;
    QByteArray out;
    for (char32_t c : text) {
        if (c < 0x80 || utf8) {
            appendEncoded(out, c, set);
            continue;
        }
        const QByteArray bytes = charset::encodeForForm(QString::fromUcs4(&c, 1), charset);
        if (bytes.startsWith("&#")) {
            out += "%26%23" + bytes.mid(2, bytes.size() - 3) + "%3B";
            continue;
        }
        for (char b : bytes) {
            const auto ub = static_cast<unsigned char>(b);
            if (inEncodeSet(ub, set)) {
                appendHex(out, ub);
            } else {
                out += b;
            }
        }
    }
    return out;
}

QByteArray encodeFragment(const std::u32string& text)
{
    QByteArray out;
    for (char32_t c : text) {
        appendEncoded(out, c, EncodeSet::Fragment);
    }
    return out;
}

// Parses the query and fragment starting at `pos` ("?..." or "#...").
void parseQueryAndFragment(Url& url, const std::u32string& input, std::size_t pos, const QByteArray& charset)
{
    if (pos < input.size() && input[pos] == '?') {
        const std::size_t hash = std::min(input.find('#', pos), input.size());
        url.query = encodeQuery(input.substr(pos + 1, hash - pos - 1), url, charset);
        pos = hash;
    }
    if (pos < input.size() && input[pos] == '#') {
        url.fragment = encodeFragment(input.substr(pos + 1));
    }
}

// Parses the path, query and fragment starting at `pos`.
void parseRest(Url& url, const std::u32string& input, std::size_t pos, const QByteArray& charset)
{
    parseQueryAndFragment(url, input, parsePath(url, input, pos), charset);
}

// The rest of a "file:" address from `pos`: "//host/path", or a path, which
// on a file base keeps the base's host. A drive letter ("C:") right after
// "//" starts the path, not a host.
std::optional<Url> parseFile(
    Url& url, const std::u32string& input, std::size_t pos, const Url* base, const QByteArray& charset)
{
    auto slash = [&](std::size_t at) { return at < input.size() && (input[at] == '/' || input[at] == '\\'); };
    url.host = (base && base->scheme == "file" && base->host) ? base->host : QByteArray();
    if (slash(pos) && slash(pos + 1)) {
        std::size_t end = pos + 2;
        while (end < input.size() && !slash(end) && input[end] != '?' && input[end] != '#') {
            ++end;
        }
        const std::u32string authority = input.substr(pos + 2, end - pos - 2);
        const bool drive = authority.size() == 2 && isAsciiAlpha(authority[0])
            && (authority[1] == ':' || authority[1] == '|');
        if (drive) {
            url.host = QByteArray();
            parseRest(url, input, pos + 2, charset);
            return url;
        }
        if (authority.empty()) {
            url.host = QByteArray();
        } else {
            url.host = parseHost(authority, true);
            if (!url.host) {
                return std::nullopt;
            }
            if (*url.host == "localhost") {
                url.host = QByteArray();
            }
        }
        parseRest(url, input, slash(end) ? end + 1 : end, charset);
        return url;
    }
    parseRest(url, input, slash(pos) ? pos + 1 : pos, charset);
    return url;
}

std::optional<Url> parse(const std::u32string& raw, const Url* base, const QByteArray& charset)
{
    // Leading and trailing C0 controls and spaces go, and so do tabs and line
    // breaks anywhere.
    std::size_t first = 0;
    std::size_t last = raw.size();
    while (first < last && raw[first] <= 0x20) {
        ++first;
    }
    while (last > first && raw[last - 1] <= 0x20) {
        --last;
    }
    std::u32string input;
    for (std::size_t i = first; i < last; ++i) {
        if (raw[i] != '\t' && raw[i] != '\n' && raw[i] != '\r') {
            input += raw[i];
        }
    }

    Url url;
    std::size_t pos = 0;
    if (!input.empty() && isAsciiAlpha(input[0])) {
        std::size_t i = 1;
        while (i < input.size()
            && (isAsciiAlpha(input[i]) || isAsciiDigit(input[i]) || input[i] == '+' || input[i] == '-'
                || input[i] == '.')) {
            ++i;
        }
        if (i < input.size() && input[i] == ':') {
            for (std::size_t k = 0; k < i; ++k) {
                url.scheme += static_cast<char>(input[k] | 0x20U);
            }
            pos = i + 1;
        }
    }
    auto slash = [&](std::size_t at, bool special) {
        return at < input.size() && (input[at] == '/' || (special && input[at] == '\\'));
    };
    auto authorityThenRest = [&](std::size_t at) -> std::optional<Url> {
        std::size_t end = at;
        while (end < input.size() && input[end] != '/' && input[end] != '?' && input[end] != '#'
            && !(url.special() && input[end] == '\\')) {
            ++end;
        }
        if (!parseAuthority(url, input.substr(at, end - at))) {
            return std::nullopt;
        }
        if (slash(end, url.special())) {
            parseRest(url, input, end + 1, charset);
        } else if (url.special()) {
            parseRest(url, input, end, charset); // the path is "/"
        } else {
            parseQueryAndFragment(url, input, end, charset);
        }
        return url;
    };

    if (!url.scheme.isEmpty()) {
        const bool special = url.special();
        // "http:x" and "http:/x" on an http page are relative to it.
        const bool relativeToBase = special && base && base->scheme == url.scheme && url.scheme != "file"
            && !(pos + 1 < input.size() && input[pos] == '/' && input[pos + 1] == '/');
        if (url.scheme == "file") {
            return parseFile(url, input, pos, base, charset);
        }
        if (!relativeToBase) {
            if (special) {
                // "http:example.com", "http:\\example.com" and "http:///x" all
                // name the host after any run of slashes.
                while (slash(pos, true)) {
                    ++pos;
                }
                return authorityThenRest(pos);
            }
            if (slash(pos, false) && slash(pos + 1, false)) {
                return authorityThenRest(pos + 2);
            }
            if (slash(pos, false)) {
                parseRest(url, input, pos + 1, charset);
                return url;
            }
            // An opaque path: everything up to "?" or "#", C0-encoded.
            QByteArray opaque;
            while (pos < input.size() && input[pos] != '?' && input[pos] != '#') {
                if (input[pos] < 0x20 || input[pos] > 0x7E) {
                    for (char b : utf8Of(input[pos])) {
                        appendHex(opaque, static_cast<unsigned char>(b));
                    }
                } else {
                    opaque += static_cast<char>(input[pos]);
                }
                ++pos;
            }
            url.opaquePath = opaque;
            parseRest(url, input, pos, charset);
            url.path.clear();
            return url;
        }
    } else {
        if (!base) {
            return std::nullopt;
        }
        if (base->opaquePath) {
            if (pos < input.size() && input[pos] == '#') {
                url = *base;
                url.fragment = encodeFragment(input.substr(pos + 1));
                return url;
            }
            return std::nullopt;
        }
        url.scheme = base->scheme;
    }

    // Relative to the base, whose scheme the address has.
    const bool special = url.special();
    if (slash(pos, special) && slash(pos + 1, special)) {
        return authorityThenRest(pos + 2);
    }
    url.username = base->username;
    url.password = base->password;
    url.host = base->host;
    url.port = base->port;
    if (slash(pos, special)) {
        parseRest(url, input, pos + 1, charset);
        return url;
    }
    url.path = base->path;
    if (pos >= input.size() || input[pos] == '?' || input[pos] == '#') {
        if (pos >= input.size() || input[pos] == '#') {
            url.query = base->query;
        }
        parseQueryAndFragment(url, input, pos, charset);
        return url;
    }
    if (!url.path.empty()) {
        const bool keepDrive
            = url.scheme == "file" && url.path.size() == 1 && isWindowsDriveLetter(url.path.front());
        if (!keepDrive) {
            url.path.pop_back();
        }
    }
    parseRest(url, input, pos, charset);
    return url;
}

std::optional<Url> parseSerialized(const QByteArray& serialized)
{
    if (serialized.isEmpty()) {
        return std::nullopt;
    }
    return parse(codePoints(QString::fromLatin1(serialized)), nullptr, "utf-8");
}

} // namespace

std::optional<QByteArray> resolve(const QByteArray& base, const QString& input, const QByteArray& charset)
{
    std::optional<Url> baseUrl;
    if (!base.isEmpty()) {
        baseUrl = parseSerialized(base);
        if (!baseUrl) {
            return std::nullopt;
        }
    }
    const auto url = parse(codePoints(input), baseUrl ? &*baseUrl : nullptr, charset);
    if (!url) {
        return std::nullopt;
    }
    return serialize(*url);
}

std::optional<QByteArray> fromQUrl(const QUrl& url)
{
    if (!url.isValid() || url.isRelative()) {
        return std::nullopt;
    }
    return resolve({}, QString::fromLatin1(url.toEncoded(QUrl::FullyEncoded)));
}

QByteArray withQuery(const QByteArray& serialized, const QByteArray& query)
{
    const qsizetype hash = serialized.indexOf('#');
    const QByteArray fragment = hash < 0 ? QByteArray() : serialized.mid(hash);
    QByteArray head = hash < 0 ? serialized : serialized.left(hash);
    const qsizetype question = head.indexOf('?');
    if (question >= 0) {
        head.truncate(question);
    }
    if (!query.isNull()) {
        head += '?' + query;
    }
    return head + fragment;
}

QByteArray scheme(const QByteArray& serialized)
{
    const qsizetype colon = serialized.indexOf(':');
    return colon < 0 ? QByteArray() : serialized.left(colon).toLower();
}

QByteArray requestTarget(const QByteArray& serialized)
{
    QByteArray rest = serialized;
    const qsizetype hash = rest.indexOf('#');
    if (hash >= 0) {
        rest.truncate(hash);
    }
    const qsizetype colon = rest.indexOf(':');
    rest = rest.mid(colon + 1);
    if (rest.startsWith("//")) {
        const qsizetype pathStart = rest.indexOf('/', 2);
        const qsizetype queryStart = rest.indexOf('?', 2);
        qsizetype start = pathStart;
        if (start < 0 || (queryStart >= 0 && queryStart < start)) {
            start = queryStart;
        }
        rest = start < 0 ? QByteArray() : rest.mid(start);
    }
    if (!rest.startsWith('/')) {
        rest.prepend('/');
    }
    return rest;
}

QUrl toQUrl(const QByteArray& serialized)
{
    // Qt accepts "%" only before two hex digits, and encodes the characters
    // RFC 3986 lacks on the way out anyway; encoding them here keeps a stray
    // "%" from making QUrl re-encode every other "%" of the address.
    static const QByteArray kAllowed = ":/?#[]@!$&'()*+,;=-._~";
    QByteArray text;
    text.reserve(serialized.size());
    for (qsizetype i = 0; i < serialized.size(); ++i) {
        const auto c = static_cast<unsigned char>(serialized[i]);
        if (c == '%') {
            const bool escape = i + 2 < serialized.size()
                && isHexDigit(static_cast<unsigned char>(serialized[i + 1]))
                && isHexDigit(static_cast<unsigned char>(serialized[i + 2]));
            text += escape ? "%" : "%25";
        } else if (isAsciiAlpha(c) || isAsciiDigit(c) || kAllowed.contains(static_cast<char>(c))) {
            text += static_cast<char>(c);
        } else {
            appendHex(text, c);
        }
    }
    QUrl url = QUrl::fromEncoded(text, QUrl::StrictMode);
    return url.isValid() ? url : QUrl::fromEncoded(text, QUrl::TolerantMode);
}

QNetworkRequest networkRequest(const QByteArray& serialized)
{
    return QNetworkRequest(toQUrl(serialized));
}

} // namespace tw::web::url
