// The pages a request gets: directions, the way back to the form with
// suggestions, the page for addresses no road connects, and bad requests.

#include "service/server/directions_site.h"
#include "service/server/html_text.h"
#include "tests/service/server/site_town.h"

#include <gtest/gtest.h>

#include <regex>

namespace tw::service {
namespace {

class DirectionsSiteTest : public ::testing::Test {
protected:
    RoadMap m_map = test::siteTown();
    DirectionsSite m_site{m_map};

    static QueryParams query(const std::string& addr, const std::string& taddr, const std::string& csz = "Testville QZ 11111",
                             const std::string& tcsz = "Testville QZ 11111")
    {
        return {{"addr", addr}, {"csz", csz}, {"taddr", taddr}, {"tcsz", tcsz}, {"getrte", "Get Directions"}};
    }

    // The parameters of a Location such as "/dd?addr=1+A&csz=..." (decoded).
    static QueryParams paramsOf(const std::string& location)
    {
        QueryParams out;
        const std::string q = location.substr(location.find('?') + 1);
        std::size_t at = 0;
        while (at <= q.size()) {
            const std::size_t end = std::min(q.find('&', at), q.size());
            const std::string pair = q.substr(at, end - at);
            const std::size_t eq = pair.find('=');
            const auto decode = [](const std::string& s) {
                std::string r;
                for (std::size_t i = 0; i < s.size(); ++i) {
                    if (s[i] == '+')
                        r += ' ';
                    else if (s[i] == '%' && i + 2 < s.size()) {
                        r += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
                        i += 2;
                    } else
                        r += s[i];
                }
                return r;
            };
            out.emplace(decode(pair.substr(0, eq)), eq == std::string::npos ? "" : decode(pair.substr(eq + 1)));
            at = end + 1;
        }
        return out;
    }
};

TEST_F(DirectionsSiteTest, connectedAddressesGiveTheDirectionsTable)
{
    const Reply reply = m_site.result(query("103 Main St", "15 Oak Ave"));
    ASSERT_EQ(reply.status, 200);
    const std::string& html = reply.body;
    const auto start = html.find("Start at");
    const auto tableOpen = html.find("<TABLE>");
    const auto tableClose = html.find("</TABLE>");
    ASSERT_NE(start, std::string::npos);
    ASSERT_LT(tableOpen, start);
    ASSERT_LT(start, tableClose);
    // The DIV closes right after the table, and nothing else stands in it.
    EXPECT_EQ(html.substr(tableClose, 14), "</TABLE></div>");
    EXPECT_EQ(html.substr(tableOpen - 21, 21), "<div id=\"directions\">");
    // Only bare TR, TD and B tags inside the table.
    const std::string table = html.substr(tableOpen + 7, tableClose - tableOpen - 7);
    const std::regex tag("<[^>]*>");
    for (auto it = std::sregex_iterator(table.begin(), table.end(), tag); it != std::sregex_iterator(); ++it) {
        const std::string t = it->str();
        EXPECT_TRUE(t == "<TR>" || t == "</TR>" || t == "<TD>" || t == "</TD>" || t == "<B>" || t == "</B>") << t;
    }
    EXPECT_NE(table.find("<TR><TD>1.</TD><TD>Start at <B>103 Main St</B>"), std::string::npos) << table;
    EXPECT_NE(table.find("Turn <B>LEFT</B> onto <B>Oak Ave</B> - go "), std::string::npos) << table;
    EXPECT_NE(table.find("<TD>Arrive at <B>15 Oak Ave</B>, on the <B>RIGHT</B></TD></TR>"), std::string::npos) << table;
    EXPECT_NE(html.find("From: <b>103 Main Street, Testville QZ 11111</b>"), std::string::npos);
    EXPECT_EQ(html.find("Start at"), start) << "the start marker must not appear before the table";
}

TEST_F(DirectionsSiteTest, unknownOrAmbiguousAddressGoesBackToTheFormWithTheSameQuery)
{
    struct Case {
        const char* name;
        QueryParams params;
        const char* saysPart;
        const char* suggestionPart;
    };
    const Case cases[] = {
        {"typo", query("103 Mian St", "15 Oak Ave"), "The starting address was not found", "103 Main Street"},
        {"blank destination", query("103 Main St", ""), "The destination address was not found", ""},
        {"everything blank", query("", "", "  ", "  "), "Please enter a starting address", ""},
        {"wrong suffix", query("103 Main St", "15 Oak St"), "The destination address was not found", "15 Oak Avenue"},
    };
    for (const auto& c : cases) {
        const Reply reply = m_site.result(c.params);
        ASSERT_EQ(reply.status, 302) << c.name;
        ASSERT_EQ(reply.location.rfind("/dd?addr=", 0), 0u) << c.name << ": " << reply.location;
        const QueryParams back = paramsOf(reply.location);
        for (const char* field : {"addr", "csz", "taddr", "tcsz"}) {
            const auto a = back.find(field);
            const auto b = c.params.find(field);
            ASSERT_NE(a, back.end()) << c.name << field;
            EXPECT_EQ(a->second, b->second) << c.name << field;
        }
        const Reply form = m_site.form(back);
        EXPECT_EQ(form.status, 200) << c.name;
        EXPECT_NE(form.body.find(c.saysPart), std::string::npos) << c.name << "\n" << form.body;
        EXPECT_NE(form.body.find(c.suggestionPart), std::string::npos) << c.name;
        EXPECT_EQ(form.body.find("Start at"), std::string::npos) << c.name;
    }
}

TEST_F(DirectionsSiteTest, suggestionLinksLeadToDirections)
{
    const Reply form = m_site.form(query("103 Mian St", "15 Oak Ave"));
    const std::smatch match = [&] {
        std::smatch m;
        std::regex_search(form.body, m, std::regex("href=\"(/dd_result\\?[^\"]*)\""));
        return m;
    }();
    ASSERT_FALSE(match.empty()) << form.body;
    std::string href = match[1].str();
    for (std::size_t at; (at = href.find("&amp;")) != std::string::npos;)
        href.replace(at, 5, "&");
    const Reply result = m_site.result(paramsOf(href));
    EXPECT_EQ(result.status, 200);
    EXPECT_NE(result.body.find("Start at <B>103 Main St</B>"), std::string::npos);
}

TEST_F(DirectionsSiteTest, typedMarkupIsNeverReflectedAsMarkup)
{
    const std::string evil = "<script>alert(1)</script><b>x</b>\"'";
    const Reply reply = m_site.result(query(evil, evil, evil, evil));
    ASSERT_EQ(reply.status, 302);
    const Reply form = m_site.form(paramsOf(reply.location));
    EXPECT_EQ(form.body.find("<script>"), std::string::npos);
    EXPECT_EQ(form.body.find("<b>x"), std::string::npos);
    EXPECT_NE(form.body.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
}

TEST_F(DirectionsSiteTest, addressesWithoutAConnectingRoadGetAPageThatSaysSo)
{
    const Reply reply = m_site.result(query("103 Main St", "7 Island Rd"));
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body.find("Start at"), std::string::npos);
    EXPECT_NE(reply.body.find("no road connects"), std::string::npos);
    EXPECT_NE(reply.body.find("7 Island Road"), std::string::npos);
}

TEST_F(DirectionsSiteTest, approximationsAreSaidOnThePage)
{
    const Reply reply = m_site.result(query("999 Main St", "Oak Ave"));
    ASSERT_EQ(reply.status, 200);
    EXPECT_NE(reply.body.find("Note: No house number 999 on Main Street; using the nearest known number, 119 Main Street."),
              std::string::npos);
    EXPECT_NE(reply.body.find("Note: No house number given; using Oak Avenue itself."), std::string::npos);
}

TEST_F(DirectionsSiteTest, malformedRequestsGoBackToTheFormWithTheReason)
{
    QueryParams repeated = query("103 Main St", "15 Oak Ave");
    repeated.emplace("addr", "other");
    const Reply a = m_site.result(repeated);
    EXPECT_EQ(a.status, 302);
    ASSERT_EQ(a.location.rfind("/dd?", 0), 0U) << a.location;

    const Reply b = m_site.form(query(std::string("1\0x", 3), ""));
    EXPECT_EQ(b.status, 200);
    EXPECT_NE(b.body.find("control character"), std::string::npos);
    EXPECT_NE(b.body.find("<form name=\"dd\""), std::string::npos);
}

} // namespace
} // namespace tw::service
