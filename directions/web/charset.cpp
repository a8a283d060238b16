#include "directions/web/charset.h"

#include "settings/code_page.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace tw::web::charset {
namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

QByteArrayView trimmed(QByteArrayView v)
{
    while (!v.isEmpty() && isSpace(v.front())) {
        v = v.sliced(1);
    }
    while (!v.isEmpty() && isSpace(v.back())) {
        v.chop(1);
    }
    return v;
}

bool startsWithNoCase(QByteArrayView text, qsizetype at, QByteArrayView prefix)
{
    if (at + prefix.size() > text.size()) {
        return false;
    }
    return text.sliced(at, prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
}

// The value after "charset" in a Content-Type or meta content value, or empty.
QByteArrayView charsetParameter(QByteArrayView value)
{
    qsizetype from = 0;
    for (;;) {
        qsizetype at = -1;
        for (qsizetype i = from; i + 7 <= value.size(); ++i) {
            if (startsWithNoCase(value, i, "charset")) {
                at = i;
                break;
            }
        }
        if (at < 0) {
            return {};
        }
        qsizetype i = at + 7;
        while (i < value.size() && isSpace(value[i])) {
            ++i;
        }
        if (i >= value.size() || value[i] != '=') {
            from = at + 7;
            continue;
        }
        ++i;
        while (i < value.size() && isSpace(value[i])) {
            ++i;
        }
        if (i >= value.size()) {
            return {};
        }
        if (value[i] == '"' || value[i] == '\'') {
            const char quote = value[i];
            const qsizetype end = value.indexOf(quote, i + 1);
            if (end < 0) {
                return {};
            }
            return value.sliced(i + 1, end - i - 1);
        }
        qsizetype end = i;
        while (end < value.size() && !isSpace(value[end]) && value[end] != ';') {
            ++end;
        }
        return value.sliced(i, end - i);
    }
}

// One attribute of a tag during the meta prescan; `pos` moves past it.
bool nextAttribute(QByteArrayView b, qsizetype& pos, QByteArray& name, QByteArray& value)
{
    while (pos < b.size() && (isSpace(b[pos]) || b[pos] == '/')) {
        ++pos;
    }
    if (pos >= b.size() || b[pos] == '>') {
        return false;
    }
    name.clear();
    value.clear();
    while (pos < b.size() && !isSpace(b[pos]) && b[pos] != '=' && b[pos] != '>' && b[pos] != '/') {
        name += static_cast<char>(QChar::toLower(static_cast<uchar>(b[pos++])));
    }
    while (pos < b.size() && isSpace(b[pos])) {
        ++pos;
    }
    if (pos >= b.size() || b[pos] != '=') {
        return true;
    }
    ++pos;
    while (pos < b.size() && isSpace(b[pos])) {
        ++pos;
    }
    if (pos < b.size() && (b[pos] == '"' || b[pos] == '\'')) {
        const char quote = b[pos++];
        while (pos < b.size() && b[pos] != quote) {
            value += b[pos++];
        }
        ++pos;
    } else {
        while (pos < b.size() && !isSpace(b[pos]) && b[pos] != '>') {
            value += b[pos++];
        }
    }
    return true;
}

QByteArray metaCharset(QByteArrayView label)
{
    QByteArray name = canonicalName(trimmed(label));
    if (name.startsWith("utf-16")) {
        return "utf-8";
    }
    return name;
}

} // namespace

QByteArray canonicalName(QByteArrayView label)
{
    QByteArray l = trimmed(label).toByteArray().toLower();
    if (l.isEmpty()) {
        return {};
    }
    static const char* const kWindows1252[] = { "windows-1252", "cp1252", "x-cp1252", "iso-8859-1",
        "iso8859-1", "iso88591", "iso_8859-1", "iso_8859-1:1987", "latin1", "l1", "iso-ir-100", "csisolatin1",
        "ibm819", "cp819", "us-ascii", "ascii", "ansi_x3.4-1968", "x-user-defined" };
    for (const char* alias : kWindows1252) {
        if (l == alias) {
            return "windows-1252";
        }
    }
    if (l == "utf-8" || l == "utf8" || l == "unicode-1-1-utf-8" || l == "x-unicode20utf8") {
        return "utf-8";
    }
    if (l == "utf-16" || l == "utf-16le" || l == "unicode" || l == "ucs-2" || l == "csunicode") {
        return "utf-16le";
    }
    if (l == "utf-16be") {
        return "utf-16be";
    }
    // Anything else the platform's converters know (ICU names: shift_jis, koi8-r ...).
    for (char c : l) {
        if (!(QChar::isLetterOrNumber(static_cast<uchar>(c)) || c == '-' || c == '_' || c == '.'
                || c == ':')) {
            return {};
        }
    }
    if (QStringDecoder(l.constData()).isValid()) {
        return l;
    }
    return {};
}

QByteArray fromContentType(QByteArrayView contentType)
{
    const QByteArrayView value = charsetParameter(contentType);
    return value.isEmpty() ? QByteArray() : canonicalName(value);
}

QByteArray fromMeta(QByteArrayView bytes)
{
    const QByteArrayView b = bytes.first(std::min<qsizetype>(bytes.size(), 1024));
    qsizetype pos = 0;
    while (pos < b.size()) {
        if (b[pos] != '<') {
            ++pos;
            continue;
        }
        if (startsWithNoCase(b, pos, "<!--")) {
            const qsizetype end = b.indexOf("-->", pos + 4);
            if (end < 0) {
                return {};
            }
            pos = end + 3;
            continue;
        }
        if (startsWithNoCase(b, pos, "<meta") && pos + 5 < b.size()
            && (isSpace(b[pos + 5]) || b[pos + 5] == '/')) {
            pos += 5;
            QByteArray name;
            QByteArray value;
            QByteArray httpEquiv;
            QByteArray content;
            QByteArray declared;
            while (nextAttribute(b, pos, name, value)) {
                if (name == "charset" && declared.isEmpty()) {
                    declared = value;
                } else if (name == "http-equiv") {
                    httpEquiv = value.trimmed().toLower();
                } else if (name == "content" && content.isEmpty()) {
                    content = value;
                }
            }
            if (declared.isEmpty() && httpEquiv == "content-type") {
                declared = charsetParameter(content).toByteArray();
            }
            if (!declared.isEmpty()) {
                QByteArray found = metaCharset(declared);
                if (!found.isEmpty()) {
                    return found;
                }
            }
            continue;
        }
        const qsizetype end = b.indexOf('>', pos + 1);
        if (end < 0) {
            return {};
        }
        pos = end + 1;
    }
    return {};
}

Detection detect(QByteArrayView bytes, QByteArrayView contentType)
{
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        return { "utf-8", 3 };
    }
    if (bytes.startsWith("\xFF\xFE")) {
        return { "utf-16le", 2 };
    }
    if (bytes.startsWith("\xFE\xFF")) {
        return { "utf-16be", 2 };
    }
    if (QByteArray fromHeader = fromContentType(contentType); !fromHeader.isEmpty()) {
        return { fromHeader, 0 };
    }
    if (QByteArray declared = fromMeta(bytes); !declared.isEmpty()) {
        return { declared, 0 };
    }
    return { "windows-1252", 0 };
}

QString decode(QByteArrayView bytes, const Detection& detection)
{
    const QByteArrayView body = bytes.sliced(std::min(detection.bomLength, bytes.size()));
    QString text;
    if (detection.name == "utf-8") {
        text = QString::fromUtf8(body);
    } else if (detection.name == "windows-1252") {
        text = tw::codepage::decode(body.data(), body.size());
    } else if (detection.name == "utf-16le") {
        text = QStringDecoder(QStringConverter::Utf16LE)(body);
    } else if (detection.name == "utf-16be") {
        text = QStringDecoder(QStringConverter::Utf16BE)(body);
    } else {
        QStringDecoder decoder(detection.name.constData());
        text = decoder.isValid() ? QString(decoder(body)) : tw::codepage::decode(body.data(), body.size());
    }
    // Normalise line breaks and replace NUL characters in one pass; most pages
    // need neither, so only copy when something changes.
    if (!text.contains(u'\r') && !text.contains(QChar(0))) {
        return text;
    }
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r') {
            out += u'\n';
            if (i + 1 < text.size() && text.at(i + 1) == u'\n') {
                ++i;
            }
        } else if (c.unicode() == 0) {
            out += QChar(QChar::ReplacementCharacter);
        } else {
            out += c;
        }
    }
    return out;
}

QByteArray encodeForForm(const QString& text, const QByteArray& name)
{
    if (name == "utf-8" || name.startsWith("utf-16") || name.isEmpty()) {
        return text.toUtf8();
    }
    QByteArray out;
    out.reserve(text.size());
    const bool windows1252 = name == "windows-1252";
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t codePoint = text.at(i).unicode();
        qsizetype length = 1;
        if (QChar::isHighSurrogate(codePoint) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            length = 2;
        }
        const QString one = text.mid(i, length);
        QByteArray encoded;
        if (windows1252) {
            if (length == 1 && tw::codepage::canEncode(text.at(i))) {
                encoded = tw::codepage::encode(one);
            }
        } else {
            QStringEncoder encoder(name.constData());
            QStringDecoder decoder(name.constData());
            QByteArray candidate = encoder(one);
            if (!encoder.hasError() && !candidate.isEmpty() && QString(decoder(candidate)) == one) {
                encoded = candidate;
            }
        }
        if (encoded.isEmpty()) {
            encoded = "&#" + QByteArray::number(static_cast<quint32>(codePoint)) + ';';
        }
        out += encoded;
        i += length - 1;
    }
    return out;
}

} // namespace tw::web::charset
