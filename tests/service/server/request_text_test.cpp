// What every request goes through before any lookup: field checks, escaping,
// encoding, and the start marker kept out of the page head.

#include "service/server/directions_query.h"
#include "service/server/html_text.h"
#include "service/server/page_writer.h"

#include <gtest/gtest.h>

namespace tw::service {
namespace {

TEST(RequestText, htmlEscapeLeavesNoMarkup)
{
    EXPECT_EQ(htmlEscape("<script>alert('x')</script>"), "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;");
    EXPECT_EQ(htmlEscape("a & \"b\""), "a &amp; &quot;b&quot;");
    EXPECT_EQ(htmlEscape("&lt;"), "&amp;lt;");
    EXPECT_EQ(htmlEscape("Caf\xc3\xa9"), "Caf\xc3\xa9");
}

TEST(RequestText, utf8CheckRejectsMalformedSequences)
{
    struct Case {
        const char* name;
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"ascii", "120 Main St", true},
        {"two-byte", "Caf\xc3\xa9", true},
        {"four-byte", "\xf0\x9f\x9a\x97", true},
        {"lone continuation", "\x80", false},
        {"truncated", "Caf\xc3", false},
        {"overlong slash", "\xc0\xaf", false},
        {"overlong three-byte", "\xe0\x80\xaf", false},
        {"surrogate", "\xed\xa0\x80", false},
        {"above U+10FFFF", "\xf4\x90\x80\x80", false},
        {"windows-1252 byte", "Caf\xe9", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isValidUtf8(c.text), c.valid) << c.name;
}

TEST(RequestText, formEncodingRoundTripsThroughTheQuery)
{
    EXPECT_EQ(formEncode("120 Main St"), "120+Main+St");
    EXPECT_EQ(formEncode("a&b=c#d%"), "a%26b%3Dc%23d%25");
    EXPECT_EQ(formEncode("\xc3\xa9"), "%C3%A9");
    EXPECT_EQ(encodeDirectionsQuery({"1 A St", "  ", "", "X"}), "addr=1+A+St&csz=++&taddr=&tcsz=X&getrte=Get+Directions");
}

TEST(RequestText, queryChecksNameTheFaultyField)
{
    using Params = std::multimap<std::string, std::string>;
    struct Case {
        const char* name;
        Params params;
        const char* problemPart; // "" when the query is usable
    };
    const Case cases[] = {
        {"empty", {}, ""},
        {"form as sent", {{"addr", "1 A St"}, {"csz", "B QZ 1"}, {"taddr", "2 C St"}, {"tcsz", "  "}, {"getrte", "Get Directions"}}, ""},
        {"repeated with one value", {{"addr", "1 A St"}, {"addr", "1 A St"}}, ""},
        {"unknown fields ignored", {{"foo", std::string(10000, 'x')}}, ""},
        {"repeated with two values", {{"taddr", "1 A St"}, {"taddr", "2 B St"}}, "taddr was sent more than once"},
        {"NUL", {{"addr", std::string("1 A\0St", 6)}}, "addr holds a control character"},
        {"line break", {{"csz", "A\r\nB"}}, "csz holds a control character"},
        {"not UTF-8", {{"tcsz", "Caf\xe9"}}, "tcsz is not valid UTF-8"},
        {"too long", {{"addr", std::string(kMaxFieldBytes + 1, 'a')}}, "addr is too long"},
    };
    for (const auto& c : cases) {
        const QueryCheck check = checkDirectionsQuery(c.params);
        if (std::string(c.problemPart).empty()) {
            EXPECT_TRUE(check.query.has_value()) << c.name << ": " << check.problem;
        } else {
            EXPECT_FALSE(check.query.has_value()) << c.name;
            EXPECT_NE(check.problem.find(c.problemPart), std::string::npos) << c.name << ": " << check.problem;
        }
    }
}

TEST(RequestText, queryStringSplitsOnTheFirstEqualsSignOnly)
{
    using Params = std::multimap<std::string, std::string>;
    struct Case {
        const char* name;
        const char* query;
        std::optional<Params> params;
    };
    const Case cases[] = {
        {"equals inside a value", "addr=335+1st+Street=x&csz=A", Params{{"addr", "335 1st Street=x"}, {"csz", "A"}}},
        {"plus and escapes", "a%2Bb=c+d%26e%3D", Params{{"a+b", "c d&e="}}},
        {"no equals, empty pairs", "getrte&&x=", Params{{"getrte", ""}, {"x", ""}}},
        {"repeated names kept", "a=1&a=2", Params{{"a", "1"}, {"a", "2"}}},
        {"broken escape", "addr=%zz", std::nullopt},
        {"cut escape", "addr=1%4", std::nullopt},
        {"escape in a name", "%g1=x", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseQueryString(c.query), c.params) << c.name;
}

TEST(RequestText, tabsReadAsBlanks)
{
    const QueryCheck check = checkDirectionsQuery({{"addr", "1\tA St"}});
    ASSERT_TRUE(check.query);
    EXPECT_EQ(check.query->addr, "1 A St");
}

TEST(RequestText, startMarkerIsBrokenOnlyWhereItMatchesExactly)
{
    EXPECT_EQ(withoutStartMarker("Start at Start at"), "Start-at Start-at");
    EXPECT_EQ(withoutStartMarker("start at START AT Start  at"), "start at START AT Start  at");
}

TEST(RequestText, formPageRepeatsTheFieldsEscaped)
{
    FormPage page;
    page.filled = {"\"><script>x</script>", "A QZ 1", "", ""};
    page.problems.push_back({"starting address", "No street called \"<b>\" was found.", {{"1 <i>Main</i> St", "/dd_result?addr=1&x=\"y\""}}});
    const std::string html = writeFormPage(page);
    EXPECT_EQ(html.find("<script>"), std::string::npos);
    EXPECT_EQ(html.find("<b>\""), std::string::npos);
    EXPECT_EQ(html.find("<i>"), std::string::npos);
    EXPECT_NE(html.find("value=\"&quot;&gt;&lt;script&gt;x&lt;/script&gt;\""), std::string::npos);
    EXPECT_NE(html.find("href=\"/dd_result?addr=1&amp;x=&quot;y&quot;\""), std::string::npos);
    EXPECT_NE(html.find("<form name=\"dd\" action=\"/dd_result\" method=\"get\">"), std::string::npos);
    EXPECT_NE(html.find("<input type=\"submit\" name=\"getrte\" value=\"Get Directions\">"), std::string::npos);
}

} // namespace
} // namespace tw::service
