#include "code_page.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tw::codepage {
namespace {
// The characters of bytes 0x80..0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Characters without a canonical decomposition and their closest character in
// the code page: letters with a stroke, bar or other built-in mark, and a few
// hyphens and spaces. Sorted by the first column.
constexpr std::pair<char16_t, char> kClosest[] = {
    {0x0110, 'D'}, {0x0111, 'd'}, {0x0126, 'H'}, {0x0127, 'h'}, {0x0131, 'i'}, {0x0138, 'k'},
    {0x013F, 'L'}, {0x0140, 'l'}, {0x0141, 'L'}, {0x0142, 'l'}, {0x0149, 'n'}, {0x014A, 'N'},
    {0x014B, 'n'}, {0x0166, 'T'}, {0x0167, 't'}, {0x017F, 's'}, {0x0180, 'b'}, {0x0181, 'B'},
    {0x0187, 'C'}, {0x0188, 'c'}, {0x0189, 'D'}, {0x018A, 'D'}, {0x0191, 'F'}, {0x0193, 'G'},
    {0x0197, 'I'}, {0x0198, 'K'}, {0x0199, 'k'}, {0x019A, 'l'}, {0x019D, 'N'}, {0x019E, 'n'},
    {0x01A4, 'P'}, {0x01A5, 'p'}, {0x01AB, 't'}, {0x01AC, 'T'}, {0x01AD, 't'}, {0x01AE, 'T'},
    {0x01B3, 'Y'}, {0x01B4, 'y'}, {0x01B5, 'Z'}, {0x01B6, 'z'}, {0x01E4, 'G'}, {0x01E5, 'g'},
    {0x0221, 'd'}, {0x0234, 'l'}, {0x0235, 'n'}, {0x0236, 't'}, {0x0237, 'j'}, {0x023A, 'A'},
    {0x023B, 'C'}, {0x023C, 'c'}, {0x023D, 'L'}, {0x023E, 'T'}, {0x0243, 'B'}, {0x0246, 'E'},
    {0x0247, 'e'}, {0x0248, 'J'}, {0x0249, 'j'}, {0x024C, 'R'}, {0x024D, 'r'}, {0x024E, 'Y'},
    {0x024F, 'y'}, {0x0253, 'b'}, {0x0256, 'd'}, {0x0257, 'd'}, {0x0260, 'g'}, {0x0268, 'i'},
    {0x026B, 'l'}, {0x026C, 'l'}, {0x026D, 'l'}, {0x0271, 'm'}, {0x0272, 'n'}, {0x0273, 'n'},
    {0x027D, 'r'}, {0x0282, 's'}, {0x0288, 't'}, {0x0289, 'u'}, {0x028B, 'v'}, {0x0290, 'z'},
    {0x0291, 'z'}, {0x2002, ' '}, {0x2003, ' '}, {0x2004, ' '}, {0x2005, ' '}, {0x2006, ' '},
    {0x2007, ' '}, {0x2008, ' '}, {0x2009, ' '}, {0x200A, ' '}, {0x2010, '-'}, {0x2011, '-'},
    {0x2012, '-'}, {0x2032, '\''}, {0x2033, '"'}, {0x202F, ' '}, {0x2212, '-'},
};

char16_t toUnicode(unsigned char byte)
{
    if (byte >= 0x80 && byte <= 0x9F)
        return kHighControls[byte - 0x80];
    return byte;
}

// Returns the byte for `c`, or -1 when the code page has none.
int toByte(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return c;
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == c)
            return static_cast<int>(0x80 + i);
    }
    return -1;
}

int fromTable(char16_t c)
{
    const auto* end = std::end(kClosest);
    const auto* found = std::lower_bound(std::begin(kClosest), end, c,
                                         [](const auto& entry, char16_t key) { return entry.first < key; });
    return found != end && found->first == c ? found->second : -1;
}

// The closest byte for the one character `c` the code page lacks, or '?'.
char closestByte(const QString& c)
{
    if (c.size() == 1) {
        if (const int b = fromTable(c.at(0).unicode()); b >= 0)
            return static_cast<char>(b);
    }
    // Its decomposition without the combining marks: ź is z and an acute.
    QString base;
    for (const QChar part : c.normalized(QString::NormalizationForm_D)) {
        if (!part.isMark())
            base += part;
    }
    if (base.size() == 1) {
        if (const int b = toByte(base.at(0).unicode()); b >= 0)
            return static_cast<char>(b);
        if (const int b = fromTable(base.at(0).unicode()); b >= 0)
            return static_cast<char>(b);
    }
    return '?';
}

// Appends the bytes of `cluster` (one character and the combining marks after
// it) when the code page lacks something in it.
void appendClosest(QByteArray& bytes, const QString& cluster)
{
    const QString composed = cluster.normalized(QString::NormalizationForm_C);
    for (qsizetype i = 0; i < composed.size(); ++i) {
        const QChar c = composed.at(i);
        const int b = toByte(c.unicode());
        if (b >= 0) {
            bytes += static_cast<char>(b);
            continue;
        }
        qsizetype length = 1;
        if (c.isHighSurrogate() && i + 1 < composed.size() && composed.at(i + 1).isLowSurrogate())
            length = 2;
        const QString one = composed.mid(i, length);
        i += length - 1;
        // A combining mark with nothing to sit on has no closest letter; drop it
        // when it follows a letter that took its place, else write '?'.
        if (one.at(0).isMark() && i > 0)
            continue;
        bytes += closestByte(one);
    }
}
} // namespace

QString decode(const char* data, qsizetype size)
{
    QString text(size, Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < size; ++i)
        out[i] = QChar(toUnicode(static_cast<unsigned char>(data[i])));
    return text;
}

QString decode(const QByteArray& bytes) { return decode(bytes.constData(), bytes.size()); }

QByteArray encode(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        // One character and the combining marks that follow it.
        qsizetype end = i + 1;
        if (text.at(i).isHighSurrogate() && end < text.size() && text.at(end).isLowSurrogate())
            ++end;
        while (end < text.size() && text.at(end).isMark())
            ++end;
        const int b = toByte(text.at(i).unicode());
        if (b >= 0 && end == i + 1)
            bytes += static_cast<char>(b);
        else
            appendClosest(bytes, text.mid(i, end - i));
        i = end;
    }
    return bytes;
}

bool canEncode(QChar c) { return toByte(c.unicode()) >= 0; }

} // namespace tw::codepage
