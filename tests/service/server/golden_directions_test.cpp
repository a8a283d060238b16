// Golden routes on the bundled sample town, read the way the application reads
// them: the result page goes through the web client's parser and markup writer
// and then the directions extraction. Each text must read well and fit a note.

#include "directions/directions_extraction.h"
#include "directions/web/html_document.h"
#include "directions/web/html_parser.h"
#include "service/map/map_loader.h"
#include "service/server/directions_site.h"
#include "service/server/html_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <memory>

namespace tw::service {
namespace {

constexpr const char* kMapPath = TW_BINARY_DIR "/service/sample-town.osm.pbf";
constexpr const char* kNorth = "Halverby QZ 58911";
constexpr const char* kSouth = "Halverby QZ 58912";

// No step of zero length: every instruction but the arrival drives somewhere.
void expectNoEmptyStep(const std::string& text)
{
    std::size_t lineStart = 0;
    for (std::size_t end; (end = text.find("\r\n", lineStart)) != std::string::npos; lineStart = end + 2) {
        const std::string line = text.substr(lineStart, end - lineStart);
        if (line.find("Arrive at") == std::string::npos) {
            EXPECT_NE(line.find(" - go "), std::string::npos) << line;
        }
    }
}

class GoldenDirections : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!std::filesystem::exists(kMapPath))
            return;
        s_map = std::make_unique<RoadMap>(loadMap(kMapPath, {ProgressReport::Quiet, CacheUse::Ignore}));
        s_site = std::make_unique<DirectionsSite>(*s_map);
    }
    static void TearDownTestSuite()
    {
        s_site.reset();
        s_map.reset();
    }

    // The directions text the application would put into txtRip, or the
    // status code when the page is not a result page.
    static std::string appText(const std::string& addr, const std::string& csz, const std::string& taddr,
                               const std::string& tcsz)
    {
        const Reply reply = s_site->result({{"addr", addr}, {"csz", csz}, {"taddr", taddr}, {"tcsz", tcsz}});
        if (reply.status != 200)
            return "status " + std::to_string(reply.status);
        const auto document = web::parseHtmlBytes(QByteArray::fromStdString(reply.body), "text/html; charset=utf-8");
        const QString markup = document->documentElement()->innerHTML();
        const auto text = directions::ripDirections(markup);
        return text ? text->toStdString() : "no directions";
    }

    static inline std::unique_ptr<RoadMap> s_map;
    static inline std::unique_ptr<DirectionsSite> s_site;
};

TEST_F(GoldenDirections, sampleTownRoutesReadWellAfterExtraction)
{
    if (!s_site)
        GTEST_SKIP() << "the sample map has not been built: " << kMapPath;
    struct Case {
        const char* name;
        const char* addr;
        const char* csz;
        const char* taddr;
        const char* tcsz;
        const char* text;
    };
    const Case cases[] = {
        {"one-way pair: 2nd Street east only, back by 3rd Street",
         "735 2nd Street", kNorth, "235 2nd Street", kNorth,
         "1.Start at 735 2nd St heading east - go 300 ft\r\n"
         "2.Turn LEFT onto Hazel Ave - go 450 ft\r\n"
         "3.Turn LEFT onto 3rd St - go 0.5 mi\r\n"
         "4.Turn LEFT onto Birch Ave - go 450 ft\r\n"
         "5.Turn LEFT onto 2nd St - go 150 ft\r\n"
         "6.Arrive at 235 2nd St, on the LEFT\r\n"},
        {"one-way pair: 3rd Street west only, back by 2nd Street",
         "181 3rd st", "halverby qz 58911", "765 Third Street", "  ",
         "1.Start at 181 3rd St heading west - go 350 ft\r\n"
         "2.Turn LEFT onto Alder Ave - go 450 ft\r\n"
         "3.Turn LEFT onto 2nd St - go 0.6 mi\r\n"
         "4.Turn LEFT onto Hazel Ave - go 450 ft\r\n"
         "5.Turn LEFT onto 3rd St - go 150 ft\r\n"
         "6.Arrive at 765 3rd St, on the RIGHT\r\n"},
        {"the bridge, then straight through the roundabout",
         "335 1st Street", kNorth, "135 Thistle Lane", kSouth,
         "1.Start at 335 1st St heading east - go 0.1 mi\r\n"
         "2.Turn RIGHT onto N Main St - go 0.6 mi\r\n"
         "3.At the roundabout, take the 2nd exit onto S Main St - go 0.3 mi\r\n"
         "4.Turn RIGHT onto Thistle Ln - go 0.3 mi\r\n"
         "5.Arrive at 135 Thistle Ln, on the RIGHT\r\n"},
        {"roundabout straight across",
         "151 Millbrook Road", kSouth, "151 Larkspur Road", kSouth,
         "1.Start at 151 Millbrook Rd heading east - go 200 ft\r\n"
         "2.At the roundabout, take the 2nd exit onto Larkspur Rd - go 0.1 mi\r\n"
         "3.Arrive at 151 Larkspur Rd, on the LEFT\r\n"},
        {"roundabout first exit, then the bridge",
         "151 Larkspur Rd", kSouth, "319 Alder Ave", kNorth,
         "1.Start at 151 Larkspur Rd heading west - go 200 ft\r\n"
         "2.At the roundabout, take the 1st exit onto S Main St - go 0.7 mi\r\n"
         "3.Turn LEFT onto 1st St - go 0.3 mi\r\n"
         "4.Turn RIGHT onto Alder Ave - go 0.1 mi\r\n"
         "5.Arrive at 319 Alder Ave, on the LEFT\r\n"},
        {"highway eastbound and the off-ramp",
         "1657 Kestrel Parkway", kNorth, "119 Wren Court", kNorth,
         "1.Start at 1657 Kestrel Pkwy heading north - go 250 ft\r\n"
         "2.Turn SLIGHT RIGHT onto QZ 40 - go 1.2 mi\r\n"
         "3.Take the exit on the RIGHT toward Halverby - go 0.3 mi\r\n"
         "4.Turn RIGHT onto N Main St - go 0.3 mi\r\n"
         "5.Arrive at 119 Wren Ct, on the LEFT\r\n"},
        {"on-ramp and the highway westbound",
         "119 Wren Ct", kNorth, "1657 Kestrel Pkwy", kNorth,
         "1.Start at 119 Wren Ct heading west - go 80 ft\r\n"
         "2.Turn RIGHT onto N Main St - go 0.3 mi\r\n"
         "3.Take the ramp on the LEFT onto QZ 40 W toward Oakport - go 1.5 mi\r\n"
         "4.Continue onto Kestrel Pkwy - go 250 ft\r\n"
         "5.Arrive at 1657 Kestrel Pkwy, on the RIGHT\r\n"},
        {"interpolated start, the bridge",
         "151 Osprey Lane", kSouth, "165 Dogwood Avenue", kNorth,
         "1.Start at 151 Osprey Ln heading east - go 0.3 mi\r\n"
         "2.Turn LEFT onto S Main St - go 0.3 mi\r\n"
         "3.Turn LEFT onto Front St - go 450 ft\r\n"
         "4.Turn RIGHT onto Dogwood Ave - go 300 ft\r\n"
         "5.Arrive at 165 Dogwood Ave, on the LEFT\r\n"},
        {"no left turn from Copperfield Drive onto Thistle Lane",
         "673 Copperfield Drive", kSouth, "135 Thistle Lane", kSouth,
         "1.Start at 673 Copperfield Dr heading north - go 0.2 mi\r\n"
         "2.Turn RIGHT onto Millbrook Rd - go 0.4 mi\r\n"
         "3.At the roundabout, take the 1st exit onto S Main St - go 0.3 mi\r\n"
         "4.Turn RIGHT onto Thistle Ln - go 0.3 mi\r\n"
         "5.Arrive at 135 Thistle Ln, on the RIGHT\r\n"},
        {"only straight on from Kestrel Parkway into 4th Street",
         "1657 Kestrel Parkway", kNorth, "535 Alder Avenue", kNorth,
         "1.Start at 1657 Kestrel Pkwy heading south - go 1.3 mi\r\n"
         "2.Turn LEFT onto Birch Ave - go 450 ft\r\n"
         "3.Turn LEFT onto 5th St - go 450 ft\r\n"
         "4.Turn LEFT onto Alder Ave - go 300 ft\r\n"
         "5.Arrive at 535 Alder Ave, on the RIGHT\r\n"},
        {"a private gate closes the lane from Bramble Court to Larkspur Road",
         "151 Bramble Court", kSouth, "343 Larkspur Road", kSouth,
         "1.Start at 151 Bramble Ct heading south - go 200 ft\r\n"
         "2.Turn RIGHT onto Thistle Ln - go 0.2 mi\r\n"
         "3.Turn RIGHT onto S Main St - go 0.2 mi\r\n"
         "4.At the roundabout, take the 1st exit onto Larkspur Rd - go 0.2 mi\r\n"
         "5.Arrive at 343 Larkspur Rd, on the LEFT\r\n"},
    };
    for (const auto& c : cases) {
        const std::string text = appText(c.addr, c.csz, c.taddr, c.tcsz);
        EXPECT_EQ(text, c.text) << c.name;
        expectNoEmptyStep(text);
        EXPECT_LT(text.size(), 4096u) << c.name;
        for (const char* stray : {"&", "<", ">", "\"", "  "})
            EXPECT_EQ(text.find(stray), std::string::npos) << c.name << ": " << stray;
    }
}

TEST(RealExtracts, EveryAddressRoutesOrIsRefusedWithTheReason)
{
    // Real extracts Debian ships; each test case skips when its file is absent.
    const char* const files[] = {
        "/usr/share/doc/python-osmnx-doc/examples/tests/input_data/West-Oakland.osm.bz2",
        "/usr/share/doc/python-osmnx-doc/examples/tests/input_data/planet_10.068,48.135_10.071,48.137.osm",
        "/usr/share/sumo/tools/game/racing/spreewaldring.osm",
    };
    int present = 0;
    for (const char* file : files) {
        if (!std::filesystem::exists(file))
            continue;
        ++present;
        SCOPED_TRACE(file);
        const RoadMap map = loadMap(file, {ProgressReport::Quiet, CacheUse::Ignore});
        const DirectionsSite site(map);
        auto lineOf = [&](const AddressPoint& a) { return map.text(a.houseNumber) + " " + map.text(a.street); };
        auto placeOf = [&](const AddressPoint& a) {
            return map.text(a.city) + " " + map.text(a.state) + " " + map.text(a.postcode);
        };
        int routed = 0;
        for (std::size_t i = 0; i < map.addresses.size() && i < 400; ++i) {
            const AddressPoint& from = map.addresses[i % 7 == 0 ? 0 : i / 2];
            const AddressPoint& to = map.addresses[i];
            const QueryParams query = {
                {"addr", lineOf(from)}, {"csz", placeOf(from)}, {"taddr", lineOf(to)}, {"tcsz", placeOf(to)}};
            const Reply reply = site.result(query);
            if (reply.status == 200) {
                EXPECT_NE(reply.body.find("Start at"), std::string::npos) << lineOf(from) << " to " << lineOf(to);
                ++routed;
                continue;
            }
            // Refused: the form page says which address and why, naming it.
            const Reply form = site.form(query);
            EXPECT_NE(form.body.find("address"), std::string::npos);
            EXPECT_TRUE(form.body.find(htmlEscape(map.text(to.street))) != std::string::npos ||
                        form.body.find(htmlEscape(map.text(from.street))) != std::string::npos)
                << lineOf(from) << " to " << lineOf(to);
        }
        std::cout << file << ": " << map.addresses.size() << " addresses, " << routed << " of "
                  << std::min<std::size_t>(map.addresses.size(), 400) << " queries routed; "
                  << map.restrictionSummary() << "\n";
    }
    if (present == 0)
        GTEST_SKIP() << "no real extract installed (python-osmnx-doc, sumo-tools)";
}

TEST_F(GoldenDirections, longestRoutesStillFitANote)
{
    if (!s_site)
        GTEST_SKIP() << "the sample map has not been built: " << kMapPath;
    // Corner to corner of the town, both ways: the most instructions it has.
    for (const auto& [from, fromCsz, to, toCsz] :
         {std::tuple{"2301 Quarry Road", kNorth, "1499 Thistle Lane", kSouth},
          std::tuple{"1499 Thistle Lane", kSouth, "1657 Kestrel Parkway", kNorth}}) {
        const std::string text = appText(from, fromCsz, to, toCsz);
        ASSERT_EQ(text.rfind("1.Start at ", 0), 0u) << text;
        EXPECT_LT(text.size(), 4096u);
        std::size_t lineStart = 0;
        for (std::size_t end; (end = text.find("\r\n", lineStart)) != std::string::npos; lineStart = end + 2)
            EXPECT_LE(end - lineStart, 80u) << text.substr(lineStart, end - lineStart);
    }
}

TEST_F(GoldenDirections, anAddressOnAFootwayEndsOnTheNearestRoadAndSaysSo)
{
    if (!s_site)
        GTEST_SKIP() << "the sample map has not been built: " << kMapPath;
    const Reply reply = s_site->result(
        {{"addr", "151 Millbrook Road"}, {"csz", kSouth}, {"taddr", "273 Plover Walk"}, {"tcsz", kSouth}});
    ASSERT_EQ(reply.status, 200);
    EXPECT_NE(reply.body.find("273 Plover Walk is 80 ft from Millbrook Rd; directions end there."), std::string::npos)
        << reply.body;
    EXPECT_NE(appText("151 Millbrook Road", kSouth, "273 Plover Walk", kSouth).find("Arrive at 273 Plover Walk"),
              std::string::npos);
}

TEST_F(GoldenDirections, failedAddressesNeverLookLikeDirections)
{
    if (!s_site)
        GTEST_SKIP() << "the sample map has not been built: " << kMapPath;
    // North or South Main Street: only the ZIP can tell.
    EXPECT_EQ(appText("120 Main St", "  ", "135 Thistle Lane", kSouth), "status 302");
    EXPECT_EQ(appText("120 Main St", kNorth, "135 Thistle Lane", kSouth).substr(0, 42),
              "1.Start at 120 N Main St heading south - g");
    EXPECT_EQ(appText("<b>Start at</b>", kNorth, "Start at", kSouth), "status 302");
    EXPECT_EQ(appText("", "  ", "", "  "), "status 302");
}

} // namespace
} // namespace tw::service
