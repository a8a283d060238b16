#include "settings/code_page.h"

#include <gtest/gtest.h>

namespace {

TEST(CodePage, DecodesEveryByteAndEncodesItBack)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    const QString text = tw::codepage::decode(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(tw::codepage::encode(text), all);
}

TEST(CodePage, MapsTheWindowsRangeAndTheUnassignedBytes)
{
    EXPECT_EQ(tw::codepage::decode(QByteArray("\x80\x81\x9f", 3)), QString::fromUtf8("\u20ac\u0081\u0178"));
    EXPECT_EQ(tw::codepage::encode(QString::fromUtf8("\u2019\u00e9")), QByteArray("\x92\xe9"));
}

TEST(CodePage, WritesAQuestionMarkForEachCharacterItLacks)
{
    // Greek alpha, a CJK ideograph and an emoji (a surrogate pair) each become one '?'.
    EXPECT_EQ(tw::codepage::encode(QString::fromUtf8("a\u03b1\u4e2d\U0001F600b")), QByteArray("a???b"));
}

TEST(CodePage, WritesTheClosestLetterBeforeAQuestionMark)
{
    const struct {
        const char* text;  // UTF-8
        QByteArray bytes;
    } cases[] = {
        {"\u0141\u00f3d\u017a", "L\xf3" "dz"},               // Łódź: a stroke and an acute dropped
        {"e\u0301 A\u030a", "\xe9 \xc5"},                   // composed first: é, Å
        {"\u011f \u015e \u0163 \u01d8", "g S t u"},         // marks of a decomposition dropped
        {"\u0110\u0111 \u0126\u0127 \u0131 \u0142", "Dd Hh i l"},  // letters without one, from the table
        {"\u00d8 \u00df \u0153 \u017d", "\xd8 \xdf \x9c \x8e"},    // what the code page has stays
        {"\u0301q\u0301", "?q"},                              // a mark on nothing is no letter
        {"\u03b1 \U0001F600\ufe0f \u2192", "? ? ?"},         // nothing close: one '?' each
        {"\u2011\u2009\u2212", "- -"},                        // hyphens and thin spaces
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(tw::codepage::encode(QString::fromUtf8(c.text)), c.bytes);
    }
}

} // namespace
