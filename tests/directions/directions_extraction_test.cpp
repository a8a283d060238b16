#include "directions/directions_extraction.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

using tw::directions::getImageAltText;
using tw::directions::replaceImageTags;
using tw::directions::ripDirections;

struct Case {
    const char* name;
    const char16_t* input;
    const char16_t* expected;
};

std::ostream& operator<<(std::ostream& os, const Case& c)
{
    return os << c.name;
}

std::string caseName(const ::testing::TestParamInfo<Case>& param)
{
    return param.param.name;
}

// --- ripDirections: markup in, directions text out ------------------------------

class RipDirections : public ::testing::TestWithParam<Case> { };

TEST_P(RipDirections, BuildsTheDirectionsText)
{
    const Case& c = GetParam();
    const std::optional<QString> text = ripDirections(QStringView(c.input));
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->toStdU16String(), std::u16string(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Rules, RipDirections,
    ::testing::Values(Case { "RowsBecomeLinesAndMarkupLineBreaksGo",
                          u"<DIV><TABLE><TBODY><TR><TD>1.</TD><TD>Start at <B>Main St</B></TD></TR>\r\n"
                          u"<TR><TD>2.</TD><TD>Turn <B>LEFT</B> onto Oak Ave</TD></TR></TBODY></TABLE></DIV>",
                          u"1.Start at Main St\r\n2.Turn LEFT onto Oak Ave\r\n" },
        Case { "LowerCaseTagsGoToo",
            u"Start at <b>x</b></td></tr><tr><td>2.</td><td>y</td></tr></tbody></table></DIV>",
            u"1.Start at x\r\n2.y\r\n" },
        Case { "OnlyTheFirstStartAtCounts", u"Start at A</TD></TR></DIV><DIV>Start at B</TD></TR></DIV>",
            u"1.Start at A\r\n" },
        Case { "SectionEndsAtTheFirstUpperCaseDivEnd", u"<p>Start at A</div> B</DIV> C</DIV>",
            u"1.Start at A</div> B" },
        Case { "MixedCaseAndAttributedTagsStay", u"Start at <Td>a<tD>b<TD class=c>c</Tr></DIV>",
            u"1.Start at <Td>a<tD>b<TD class=c>c</Tr>" },
        Case {
            "OnlyLtIsDecoded", u"Start at &lt;b&gt; &amp; &nbsp;</DIV>", u"1.Start at <b&gt; &amp; &nbsp;" },
        Case {
            "DecodedLtFormsNoTagThatIsRemoved", u"Start at &lt;B>x&lt;/TR></DIV>", u"1.Start at <B>x</TR>" },
        Case { "LineBreakInsideACellJoinsTheParts", u"Start at Ma\r\nin St</DIV>", u"1.Start at Main St" },
        Case { "LoneCrAndLfStay", u"Start at a\rb\nc</DIV>", u"1.Start at a\rb\nc" },
        Case { "RemovingALineBreakCanCompleteATag", u"Start at <\r\nB>x</DIV>", u"1.Start at x" },
        Case { "ImageBecomesItsAltTextAndTheNextCharacterGoes", u"Start at A<IMG alt=Left src=l.gif>xB</DIV>",
            u"1.Start at ALeft B" },
        Case { "NoEndMarkerTakesTheMarkupToItsEnd", u"<TD>Start at Main St</TD></TR></TBODY></TABLE></BODY>",
            u"1.Start at Main St\r\n</BODY>" }),
    caseName);

TEST(RipDirectionsNoResult, PagesWithoutTheStartMarkerHaveNoDirections)
{
    for (const char16_t* page : { u"", u"<DIV>No route between these places</DIV>", u"start at Main St</DIV>",
             u"START AT Main St</DIV>", u"Start  at" }) {
        EXPECT_FALSE(ripDirections(QStringView(page)).has_value()) << QString::fromUtf16(page).toStdString();
    }
}

// --- replaceImageTags and getImageAltText ------------------------------------

class ReplaceImageTags : public ::testing::TestWithParam<Case> { };

TEST_P(ReplaceImageTags, ReplacesEachTagByItsAltText)
{
    const Case& c = GetParam();
    EXPECT_EQ(replaceImageTags(QStringView(c.input)).toStdU16String(), std::u16string(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Rules, ReplaceImageTags,
    ::testing::Values(Case { "QuotedAltKeepsItsQuotes", u"<img alt=\"Turn\" src=t.gif> x", u"\"Turn\" x" },
        Case { "TagNameInAnyCase", u"a<iMg alt=L src=s>-b", u"aL b" },
        Case { "NoSpaceNeededAfterImg", u"<imgalt=L src=s>-", u"L " },
        Case { "TwoTagsInARow", u"<IMG alt=A src=a> <IMG alt=B src=b> z", u"A B z" },
        Case { "TagAtTheVeryEnd", u"x<IMG alt=A src=a>", u"xA " },
        Case { "OtherAttributesBetweenAltAndSrcAreKeptLessOneCharacter", u"<IMG alt=A width=3 src=a> ",
            u"A width=3 " },
        Case { "OtherTagsAndTextStayInTheirCase", u"<IM G> <Image> Img", u"<IM G> <Image> Img" },
        // Tags the alt/src rule cannot measure.
        Case { "NoAltGivesOnlyTheSpace", u"a<IMG width=3 src=a.gif>-b", u"a b" },
        Case { "NoSrcTakesTheAltValueAlone", u"<IMG alt=Left width=3>-b", u"Left b" },
        Case { "SrcBeforeAltTakesTheAltValueAlone", u"<IMG src=l.gif alt=Left>-b", u"Left b" },
        Case { "SrcBeforeQuotedAltKeepsTheWholeQuotedValue", u"<IMG src=l.gif alt=\"Bear left\">-",
            u"\"Bear left\" " },
        Case { "UnfinishedTagIsKeptWithTheRest", u"a<IMG alt=A src=a <IMG alt=B",
            u"a<IMG alt=A src=a <IMG alt=B" },
        Case { "UnfinishedTagAfterAGoodOne", u"<IMG alt=A src=a>-<IMG alt=B", u"A <IMG alt=B" }),
    caseName);

TEST(GetImageAltText, ReportsWhereTheTagEnds)
{
    const auto alt = getImageAltText(u" alt=Left src=l.gif>xB");
    EXPECT_EQ(alt.altText, QStringLiteral("Left"));
    EXPECT_EQ(alt.imgTagEnd, 20);
    EXPECT_EQ(getImageAltText(u" alt=Left src=l.gif").imgTagEnd, 0);
}

TEST(GetImageAltText, FarClosingBracketIsStillFound)
{
    // The tag end once had to fit 16 bits; a longer tag must still be found whole.
    QString tag = QStringLiteral(" alt=A src=") + QString(40000, u'x') + QStringLiteral(">");
    const auto alt = getImageAltText(tag);
    EXPECT_EQ(alt.imgTagEnd, tag.size());
    EXPECT_EQ(alt.altText, QStringLiteral("A"));
}

// --- The clean-up against a plain step-by-step reference -------------------

// The clean-up as the table reads: 22 replacements, one after the other, each
// a single left-to-right pass (QString::replace).
QString referenceCleanUp(QString text)
{
    // clang-format off
    const char16_t* const table[][2] = {
        {u"\r\n", u""},    {u"<b>", u""},       {u"</b>", u""},     {u"<B>", u""},      {u"</B>", u""},
        {u"<td>", u""},     {u"</td>", u""},     {u"<TD>", u""},     {u"</TD>", u""},    {u"<tr>", u""},
        {u"</tr>", u"\r\n"}, {u"<TR>", u""},      {u"</TR>", u"\r\n"}, {u"<tbody>", u""},  {u"</tbody>", u""},
        {u"<table>", u""},  {u"</table>", u""},  {u"<TBODY>", u""},  {u"</TBODY>", u""}, {u"<TABLE>", u""},
        {u"</TABLE>", u""}, {u"&lt;", u"<"}};
    // clang-format on
    for (const auto& step : table)
        text.replace(QString::fromUtf16(step[0]), QString::fromUtf16(step[1]));
    return text;
}

TEST(CleanUp, AgreesWithTheStepByStepReferenceOnMixedFragments)
{
    // Fragments that make tags, near-tags and tags split by other tags or line
    // breaks ("<<B>TD>", "</\r\nTR>"), which only step-by-step order gets right.
    const QStringList fragments { u"<"_qs, u">"_qs, u"/"_qs, u"b"_qs, u"B"_qs, u"td"_qs, u"TD"_qs, u"tr"_qs,
        u"TR"_qs, u"tbody"_qs, u"TBODY"_qs, u"table"_qs, u"TABLE"_qs, u"\r"_qs, u"\n"_qs, u"&lt;"_qs, u"&"_qs,
        u"lt;"_qs, u"<B>"_qs, u"</TD>"_qs, u"</tr>"_qs, u"x"_qs };
    quint32 seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int round = 0; round < 20000; ++round) {
        QString body;
        const int parts = 1 + static_cast<int>(next() % 12);
        for (int k = 0; k < parts; ++k)
            body += fragments[static_cast<int>(next() % fragments.size())];
        const std::optional<QString> text = ripDirections(QStringLiteral("Start at ") + body);
        ASSERT_TRUE(text.has_value());
        ASSERT_EQ(*text, QStringLiteral("1.") + referenceCleanUp(QStringLiteral("Start at ") + body))
            << "body: " << body.toStdString();
    }
}

// --- Size and pathological input ------------------------------------------------

// Large and degenerate pages. These carry no time limit of their own: a pass
// that is quadratic in the page's length would not finish these inputs within
// the suite's time-out, a linear one takes milliseconds.
TEST(ExtractionSize, FiveMegabytePageOfRowsIsLinear)
{
    const QString row = QStringLiteral("<TR><TD>7.</TD><TD>Turn <B>LEFT</B> onto <B>Oak Ave</B> - go 0.4 mi"
                                       "<IMG alt=Left src=l.gif> </TD></TR>\r\n");
    QString page = QStringLiteral("<DIV><TABLE><TBODY><TR><TD>1.</TD><TD>Start at <B>Main St</B></TD></TR>");
    while (page.size() < 5 * 1024 * 1024)
        page += row;
    page += QStringLiteral("</TBODY></TABLE></DIV>");
    const std::optional<QString> text = ripDirections(page);
    ASSERT_TRUE(text.has_value());
    EXPECT_TRUE(text->startsWith(
        QStringLiteral("1.Start at Main St\r\n7.Turn LEFT onto Oak Ave - go 0.4 miLeft \r\n")));
}

TEST(ExtractionSize, ManyUnfinishedOrDegenerateTagsStayLinear)
{
    for (const QString& unit : { QStringLiteral("<img"), QStringLiteral("<img>"),
             QStringLiteral("<imgalt=alt="), QStringLiteral("<"), QStringLiteral("src") }) {
        const QString page = QStringLiteral("Start at ") + unit.repeated(2 * 1024 * 1024 / unit.size());
        const std::optional<QString> text = ripDirections(page);
        ASSERT_TRUE(text.has_value()) << unit.toStdString();
        EXPECT_TRUE(text->startsWith(QStringLiteral("1.Start at "))) << unit.toStdString();
    }
}

} // namespace
