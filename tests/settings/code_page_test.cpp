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

} // namespace
