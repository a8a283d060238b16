#include "profile_names.h"

#include "code_page.h"

#include <array>

namespace tw::profile {
namespace {

// Each byte's lower-case byte in Windows-1252 (itself when it has none there).
std::array<unsigned char, 256> makeFoldTable()
{
    std::array<unsigned char, 256> table {};
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        const QChar lower = codepage::decode(&byte, 1).at(0).toLower();
        table[static_cast<std::size_t>(b)] = static_cast<unsigned char>(b);
        if (codepage::canEncode(lower)) {
            const QByteArray folded = codepage::encode(QString(lower));
            if (folded.size() == 1)
                table[static_cast<std::size_t>(b)] = static_cast<unsigned char>(folded.at(0));
        }
    }
    return table;
}

const std::array<unsigned char, 256>& foldTable()
{
    static const std::array<unsigned char, 256> table = makeFoldTable();
    return table;
}

template <typename IsSkipped> QByteArrayView trimmed(QByteArrayView text, IsSkipped isSkipped)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isSkipped(text[begin]))
        ++begin;
    while (end > begin && isSkipped(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

} // namespace

QByteArrayView withoutSurroundingSpaces(QByteArrayView name)
{
    return trimmed(name, [](char c) { return c == ' '; });
}

QByteArrayView withoutSurroundingBlanks(QByteArrayView text)
{
    return trimmed(text, isBlank);
}

bool sameName(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    const auto& fold = foldTable();
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (fold[static_cast<unsigned char>(a[i])] != fold[static_cast<unsigned char>(b[i])])
            return false;
    }
    return true;
}

} // namespace tw::profile
