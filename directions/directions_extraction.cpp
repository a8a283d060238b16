#include "directions_extraction.h"

#include <array>

namespace tw::directions {
namespace {

constexpr QStringView kStartMarker = u"Start at";
constexpr QStringView kEndMarker = u"</DIV>";
constexpr QStringView kImageTag = u"<img";

// The clean-up of the section, applied one after the other. Each step is one
// left-to-right pass over the result of the step before; the order matters
// (markup line breaks go first so that the only CR LF left are row ends, and
// "&lt;" goes last so that a decoded "<" never forms a tag that a step removes).
struct Replacement {
    QStringView find;
    QStringView with;
};
constexpr std::array<Replacement, 22> kReplacements{{
    {u"\r\n", u""},
    {u"<b>", u""},
    {u"</b>", u""},
    {u"<B>", u""},
    {u"</B>", u""},
    {u"<td>", u""},
    {u"</td>", u""},
    {u"<TD>", u""},
    {u"</TD>", u""},
    {u"<tr>", u""},
    {u"</tr>", u"\r\n"},
    {u"<TR>", u""},
    {u"</TR>", u"\r\n"},
    {u"<tbody>", u""},
    {u"</tbody>", u""},
    {u"<table>", u""},
    {u"</table>", u""},
    {u"<TBODY>", u""},
    {u"</TBODY>", u""},
    {u"<TABLE>", u""},
    {u"</TABLE>", u""},
    {u"&lt;", u"<"},
}};

char16_t asciiLower(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// Whether `text` at `pos` holds `lowerPattern` (lower-case ASCII) in any ASCII
// letter case. Only ASCII letters are folded, so positions never shift.
bool matchesAsciiNoCase(QStringView text, qsizetype pos, QStringView lowerPattern)
{
    if (pos + lowerPattern.size() > text.size())
        return false;
    for (qsizetype k = 0; k < lowerPattern.size(); ++k) {
        if (asciiLower(text[pos + k].unicode()) != lowerPattern[k].unicode())
            return false;
    }
    return true;
}

// 0-based index of the first `lowerPattern` in `text` in any ASCII letter case, or -1.
qsizetype indexOfAsciiNoCase(QStringView text, QStringView lowerPattern)
{
    const qsizetype last = text.size() - lowerPattern.size();
    for (qsizetype pos = 0; pos <= last; ++pos) {
        if (matchesAsciiNoCase(text, pos, lowerPattern))
            return pos;
    }
    return -1;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f';
}

// The value that follows "alt=" on its own: a quoted value with its quotes, or
// an unquoted one up to the next blank.
QString altValueAlone(QStringView value)
{
    if (value.isEmpty())
        return {};
    const QChar first = value.front();
    if (first == u'"' || first == u'\'') {
        const qsizetype close = value.indexOf(first, 1);
        return (close < 0 ? value : value.left(close + 1)).toString();
    }
    qsizetype end = 0;
    while (end < value.size() && !isBlank(value[end]))
        ++end;
    return value.left(end).toString();
}

// `in` with every `find` replaced by `with` in one left-to-right pass; the
// replacement text is never searched again.
QString replaceAll(const QString& in, QStringView find, QStringView with)
{
    qsizetype hit = in.indexOf(find);
    if (hit < 0)
        return in;
    QString out;
    out.reserve(in.size() + (with.size() > find.size() ? in.size() : 0));
    qsizetype from = 0;
    const QStringView source(in);
    while (hit >= 0) {
        out.append(source.sliced(from, hit - from));
        out.append(with);
        from = hit + find.size();
        hit = in.indexOf(find, from);
    }
    out.append(source.sliced(from));
    return out;
}

} // namespace

ImageAltText getImageAltText(QStringView afterImg)
{
    const qsizetype close = afterImg.indexOf(u'>');
    if (close < 0)
        return {};

    ImageAltText result;
    result.imgTagEnd = close + 1;
    const QStringView attrs = afterImg.left(close);

    // 1-based positions, 0 when absent. "src" is looked for without its "=".
    const qsizetype srcPos = indexOfAsciiNoCase(attrs, u"src") + 1;
    const qsizetype altPos = indexOfAsciiNoCase(attrs, u"alt=") + 1;
    if (altPos == 0)
        return result; // no alternative text: the tag gives only its space

    const qsizetype valueStart = altPos + 3; // 0-based index just after "alt="
    const qsizetype length = srcPos - altPos - 5;
    if (srcPos == 0 || length < 0) {
        // No "src" after the value to measure it by: take the value by itself.
        result.altText = altValueAlone(attrs.sliced(qMin(valueStart, attrs.size())));
        return result;
    }
    if (valueStart < attrs.size())
        result.altText = attrs.sliced(valueStart, qMin(length, attrs.size() - valueStart)).toString();
    return result;
}

QString replaceImageTags(QStringView text)
{
    QString result;
    result.reserve(text.size());
    qsizetype copied = 0; // text before this index is already in the result
    qsizetype pos = text.indexOf(u'<');
    while (pos >= 0 && pos < text.size()) {
        if (!matchesAsciiNoCase(text, pos, kImageTag)) {
            pos = text.indexOf(u'<', pos + 1);
            continue;
        }
        const ImageAltText alt = getImageAltText(text.sliced(pos + kImageTag.size()));
        if (alt.imgTagEnd == 0)
            break; // an unfinished tag is no tag: keep it and the rest as they are
        result.append(text.sliced(copied, pos - copied));
        result.append(alt.altText);
        result.append(u' ');
        // The tag runs up to its ">"; the one character after it goes as well.
        copied = qMin(pos + kImageTag.size() + alt.imgTagEnd + 1, text.size());
        pos = copied < text.size() ? text.indexOf(u'<', copied) : -1;
    }
    result.append(text.sliced(copied));
    return result;
}

std::optional<QString> ripDirections(QStringView markup)
{
    const qsizetype start = markup.indexOf(kStartMarker);
    if (start < 0)
        return std::nullopt;

    QStringView section = markup.sliced(start);
    const qsizetype end = section.indexOf(kEndMarker);
    if (end >= 0)
        section = section.left(end);

    QString text = replaceImageTags(section);
    for (const Replacement& step : kReplacements)
        text = replaceAll(text, step.find, step.with);
    return QStringLiteral("1.") + text;
}

} // namespace tw::directions
