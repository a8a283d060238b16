#include "directions_extraction.h"

#include <algorithm>
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
// clang-format off
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
// clang-format on

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

// 0-based index of the first `find` in `text` at or after `from`, or -1. Jumps
// from one occurrence of the first character to the next (a vectorised search);
// `find` is short, so this stays linear.
qsizetype indexOfShort(QStringView text, QStringView find, qsizetype from)
{
    const QChar first = find.front();
    const QStringView rest = find.sliced(1);
    qsizetype hit = text.indexOf(first, from);
    while (hit >= 0) {
        const qsizetype after = hit + 1;
        if (after + rest.size() <= text.size() && std::equal(rest.begin(), rest.end(), text.begin() + after))
            return hit;
        hit = text.indexOf(first, after);
    }
    return -1;
}

// Replaces every `find` in `text` by `with` in one left-to-right pass; the
// replacement text is never searched again. `with` must not be longer than
// `find`, so the text is rewritten in place behind the read position.
void replaceInPlace(QString& text, QStringView find, QStringView with)
{
    Q_ASSERT(with.size() <= find.size() && !find.isEmpty());
    qsizetype hit = indexOfShort(text, find, 0);
    if (hit < 0)
        return;
    QChar* data = text.data();
    const qsizetype size = text.size();
    qsizetype write = hit;
    qsizetype read = hit;
    while (hit >= 0) {
        if (write != read)
            std::copy(data + read, data + hit, data + write);
        write += hit - read;
        std::copy(with.begin(), with.end(), data + write);
        write += with.size();
        read = hit + find.size();
        hit = indexOfShort(QStringView(data, size), find, read);
    }
    std::copy(data + read, data + size, data + write);
    text.truncate(write + (size - read));
}

// The steps that remove or replace a tag: every entry between the first (markup
// line breaks) and the last ("&lt;").
constexpr std::size_t kFirstTagStep = 1;
constexpr std::size_t kLastTagStep = kReplacements.size() - 2;

// The tag step whose tag stands at `pos` of `text`, or nullptr.
const Replacement* tagStepAt(QStringView text, qsizetype pos)
{
    // Every tag of the table is at most 8 characters long and ends with ">".
    const qsizetype limit = qMin<qsizetype>(pos + 8, text.size());
    qsizetype end = pos + 1;
    while (end < limit && text[end] != u'>' && text[end] != u'<')
        ++end;
    if (end == limit || text[end] != u'>')
        return nullptr;
    const QStringView tag = text.sliced(pos, end + 1 - pos);
    for (std::size_t step = kFirstTagStep; step <= kLastTagStep; ++step) {
        const QStringView find = kReplacements[step].find;
        if (find.size() == tag.size() && std::equal(find.begin(), find.end(), tag.begin()))
            return &kReplacements[step];
    }
    return nullptr;
}

// Whether `written` ends in what could be the start of a tag ("<", "</T", ...):
// removing a tag right after it could join it with the text that follows into a
// new tag.
bool endsInOpenTag(QStringView written)
{
    for (qsizetype k = written.size() - 1; k >= 0 && k >= written.size() - 7; --k) {
        if (written[k] == u'>')
            return false;
        if (written[k] == u'<')
            return true;
    }
    return false;
}

// Runs all tag steps over `text` in a single scan. A tag removed by one step can
// join the text around it into a tag that a later step would remove ("<<B>TD>");
// a single scan would miss that, so when a removal could do so the scan gives up
// and returns false, leaving `text` unchanged.
bool runTagStepsInOneScan(QString& text)
{
    QString out;
    out.reserve(text.size());
    const QStringView in(text);
    qsizetype copied = 0;
    qsizetype pos = in.indexOf(u'<');
    while (pos >= 0) {
        const Replacement* step = tagStepAt(in, pos);
        if (step == nullptr) {
            pos = in.indexOf(u'<', pos + 1);
            continue;
        }
        out.append(in.sliced(copied, pos - copied));
        if (step->with.isEmpty() && endsInOpenTag(out))
            return false;
        out.append(step->with);
        copied = pos + step->find.size();
        pos = in.indexOf(u'<', copied);
    }
    out.append(in.sliced(copied));
    text = std::move(out);
    return true;
}

// Applies the clean-up table to `text`, step by step, each step one left-to-
// right pass over the result of the one before.
void cleanUp(QString& text)
{
    replaceInPlace(text, kReplacements.front().find, kReplacements.front().with);
    if (!runTagStepsInOneScan(text)) {
        for (std::size_t step = kFirstTagStep; step <= kLastTagStep; ++step)
            replaceInPlace(text, kReplacements[step].find, kReplacements[step].with);
    }
    replaceInPlace(text, kReplacements.back().find, kReplacements.back().with);
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

namespace {

// Appends `text` to `result` with every image tag replaced (see replaceImageTags).
void appendWithImageTagsReplaced(QString& result, QStringView text)
{
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
}

} // namespace

QString replaceImageTags(QStringView text)
{
    QString result;
    result.reserve(text.size());
    appendWithImageTagsReplaced(result, text);
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

    // The "1." in front holds none of the characters a clean-up step looks for,
    // so it can go in first and save copying the whole text again.
    QString text;
    text.reserve(section.size() + 2);
    text.append(u"1.");
    appendWithImageTagsReplaced(text, section);
    cleanUp(text);
    return text;
}

} // namespace tw::directions
