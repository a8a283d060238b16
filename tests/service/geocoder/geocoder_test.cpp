// The geocoder on a small hand-made town: the order of fallbacks, filters by
// place, and what it says when it cannot decide.

#include "service/geocoder/geocoder.h"
#include "service/map/mapped_file.h"
#include "tests/service/guidance/test_map_builder.h"
#include "tests/service/map/osm_xml.h"

#include <fstream>

#include <gtest/gtest.h>

namespace tw::service {
namespace {

using test::TestMapBuilder;

// Main Street runs east along y=0 with houses 101..119 (odd, north side) in
// ZIP 11111; Elm Street (y=400) has only an even interpolation line 100..198;
// Elm Avenue and Pine Road have no house numbers; Cedar Lane lies in Otherton.
RoadMap smallTown()
{
    TestMapBuilder b;
    b.road({{0, 0}, {200, 0}, {400, 0}}, "Main Street");
    b.road({{200, 0}, {200, 200}, {200, 400}, {200, 600}}, "North Oak Avenue");
    b.road({{0, 200}, {200, 200}}, "Ninth Street");
    b.road({{0, 400}, {200, 400}, {400, 400}}, "Elm Street");
    b.road({{0, 600}, {200, 600}}, "Elm Avenue");
    b.road({{400, 0}, {400, 400}}, "Pine Road");
    b.road({{400, 400}, {600, 400}}, "Cedar Lane");
    for (int i = 0; i < 10; ++i)
        b.address("Main Street", std::to_string(101 + 2 * i), 20.0 + 40 * i, 15);
    b.address("Main Street", "121B", 380, 15);
    b.interpolation("Elm Street", 100, 198, Parity::Even, {{0, 385}, {400, 385}});
    b.address("Cedar Lane", "5", 500, 415, "Otherton", "QZ", "22222");
    return b.build();
}

class GeocoderTest : public ::testing::Test {
protected:
    RoadMap m_map = smallTown();
    Geocoder m_geocoder{m_map};

    static double metresFrom(Coordinate c, double x, double y)
    {
        const Coordinate p = TestMapBuilder::at(x, y);
        return std::hypot((c.lat - p.lat) * 111195.0, (c.lon - p.lon) * 111195.0 * std::cos(41.0 * 3.14159265 / 180));
    }
};

TEST_F(GeocoderTest, findsWhatPeopleTypeForOneAddress)
{
    const char* spellings[] = {"103 Main Street", "103 main st", "  103   MAIN   ST. ", "103 Main St Apt 4",
                               "103 Main St #12", "103 Main"};
    for (const char* typed : spellings) {
        const GeocodeResult r = m_geocoder.geocode(typed, "Testville QZ 11111");
        ASSERT_EQ(r.status, GeocodeStatus::Found) << typed;
        EXPECT_EQ(r.match->precision, Precision::ExactNumber) << typed;
        EXPECT_EQ(r.match->label, "103 Main Street") << typed;
        EXPECT_LT(metresFrom(r.match->location, 60, 15), 1.0) << typed;
    }
}

TEST_F(GeocoderTest, cityStateAndZipMayBeMissing)
{
    for (const char* csz : {"  ", "Testville  ", " QZ ", "  11111", "testville qz  "}) {
        const GeocodeResult r = m_geocoder.geocode("103 Main St", csz);
        EXPECT_EQ(r.status, GeocodeStatus::Found) << '"' << csz << '"';
    }
}

TEST_F(GeocoderTest, fallsBackStepByStepAndSaysSo)
{
    struct Case {
        const char* typed;
        Precision precision;
        const char* label;
        bool noted;
    };
    const Case cases[] = {
        {"121B Main St", Precision::ExactNumber, "121B Main Street", false},
        {"121 Main St", Precision::ExactNumber, "121B Main Street", true},
        {"150 Elm St", Precision::Interpolated, "150 Elm Street", true},
        {"151 Elm St", Precision::NearestNumber, "198 Elm Street", true},
        {"999 Main St", Precision::NearestNumber, "121B Main Street", true},
        {"104 Main St", Precision::ExactNumber, "", false},
        {"5 Pine Rd", Precision::Street, "Pine Road", true},
        {"Pine Rd", Precision::Street, "Pine Road", true},
    };
    for (const auto& c : cases) {
        const GeocodeResult r = m_geocoder.geocode(c.typed, "");
        ASSERT_EQ(r.status, GeocodeStatus::Found) << c.typed;
        if (c.typed == std::string("104 Main St")) {
            // Even numbers lie across the street from the odd ones: nearest, not exact.
            EXPECT_EQ(r.match->precision, Precision::NearestNumber);
            continue;
        }
        EXPECT_EQ(r.match->precision, c.precision) << c.typed;
        EXPECT_EQ(r.match->label, c.label) << c.typed;
        EXPECT_EQ(!r.match->note.empty(), c.noted) << c.typed << ": " << r.match->note;
    }
}

TEST_F(GeocoderTest, interpolationPlacesTheNumberAlongTheLine)
{
    const GeocodeResult r = m_geocoder.geocode("149 Elm Street", "");
    ASSERT_EQ(r.status, GeocodeStatus::Found);
    EXPECT_NE(r.match->precision, Precision::Interpolated); // odd number, even-only line
    const GeocodeResult even = m_geocoder.geocode("149 Elm Street", "");
    const GeocodeResult mid = m_geocoder.geocode("148 Elm Street", "");
    ASSERT_EQ(mid.match->precision, Precision::Interpolated);
    EXPECT_LT(metresFrom(mid.match->location, 400.0 * 48 / 98, 385), 1.0);
    (void)even;
}

TEST_F(GeocoderTest, neverPicksAWrongStreetSilently)
{
    // "Elm" fits Elm Street and Elm Avenue: ambiguous, both offered.
    const GeocodeResult elm = m_geocoder.geocode("10 Elm", "");
    ASSERT_EQ(elm.status, GeocodeStatus::Ambiguous);
    ASSERT_EQ(elm.suggestions.size(), 2u);
    EXPECT_EQ(elm.suggestions[0].streetLine.substr(0, 3), "10 ");

    // A suffix that no street with that name has: not found, the real one suggested.
    const GeocodeResult mainAve = m_geocoder.geocode("103 Main Ave", "");
    ASSERT_EQ(mainAve.status, GeocodeStatus::NotFound);
    ASSERT_FALSE(mainAve.suggestions.empty());
    EXPECT_EQ(mainAve.suggestions.front().streetLine, "103 Main Street");

    // A direction the street does not have.
    EXPECT_EQ(m_geocoder.geocode("1 S Oak Ave", "").status, GeocodeStatus::NotFound);
}

TEST_F(GeocoderTest, suggestsSimilarNamesWhenNotFound)
{
    const GeocodeResult typo = m_geocoder.geocode("103 Mian Street", "");
    ASSERT_EQ(typo.status, GeocodeStatus::NotFound);
    ASSERT_FALSE(typo.suggestions.empty());
    EXPECT_EQ(typo.suggestions.front().streetLine, "103 Main Street");

    const GeocodeResult prefix = m_geocoder.geocode("Ced", "");
    ASSERT_EQ(prefix.status, GeocodeStatus::NotFound);
    ASSERT_FALSE(prefix.suggestions.empty());
    EXPECT_EQ(prefix.suggestions.front().streetLine, "Cedar Lane");

    const GeocodeResult nothing = m_geocoder.geocode("1 Zzyzx Road", "");
    EXPECT_EQ(nothing.status, GeocodeStatus::NotFound);
    EXPECT_TRUE(nothing.suggestions.empty());
}

TEST_F(GeocoderTest, placeFiltersStreetsWhoseAddressesLieElsewhere)
{
    const GeocodeResult wrongZip = m_geocoder.geocode("103 Main St", "Testville QZ 22222");
    ASSERT_EQ(wrongZip.status, GeocodeStatus::NotFound);
    ASSERT_FALSE(wrongZip.suggestions.empty());
    EXPECT_EQ(wrongZip.suggestions.front().cityLine, "Testville QZ 11111");

    EXPECT_EQ(m_geocoder.geocode("5 Cedar Ln", "Otherton QZ 22222").status, GeocodeStatus::Found);
    EXPECT_EQ(m_geocoder.geocode("5 Cedar Ln", "Testville  ").status, GeocodeStatus::NotFound);
    // A street without address data cannot be told apart by place: kept.
    EXPECT_EQ(m_geocoder.geocode("Pine Rd", "Otherton QZ 22222").status, GeocodeStatus::Found);
}

TEST(Geocoder, aStreetNameInManyTownsIsFoundInTheTownTyped)
{
    // One "Oak Street" crossing three towns; number 7 exists in two of them
    // and once without a town, which fits whatever town is typed.
    TestMapBuilder b;
    b.road({{0, 0}, {3000, 0}}, "Oak Street");
    b.address("Oak Street", "7", 100, 15, "Ashby");
    b.address("Oak Street", "7", 1100, 15, "Birchley");
    b.address("Oak Street", "9", 2100, 15, "", "", "");
    b.address("Oak Street", "11", 2200, 15, "Cowdale");
    // Interpolation lines with the same numbers in two towns.
    b.interpolation("Oak Street", 100, 200, Parity::Even, {{2400, 15}, {2600, 15}}, "", "Cowdale");
    b.interpolation("Oak Street", 100, 200, Parity::Even, {{400, 15}, {600, 15}}, "", "Ashby");
    const RoadMap map = b.build();
    const Geocoder geocoder(map);
    const struct {
        const char* street;
        const char* city;
        double x;
        const char* town; // the town the answer names ("" for none)
    } cases[] = {
        {"7 Oak St", "ASHBY", 100, "Ashby"},
        {"7 Oak St", "  birchley ", 1100, "Birchley"},
        {"9 Oak St", "Ashby", 2100, ""},   // no town on the address: fits
        {"9 Oak St", "Nowhere", 2100, ""}, // a town the map lacks: only town-less addresses fit
        {"11 Oak St", "Cowdale", 2200, "Cowdale"},
        {"150 Oak St", "Ashby", 500, "Ashby"}, // on the town's own line, not the first one
        {"150 Oak St", "Cowdale", 2500, "Cowdale"},
        {"250 Oak St", "Ashby", 600, "Ashby"}, // nearest known number: the town's own line end
    };
    for (const auto& c : cases) {
        const GeocodeResult r = geocoder.geocode(c.street, c.city);
        ASSERT_EQ(r.status, GeocodeStatus::Found) << c.street << ", " << c.city;
        const Coordinate p = TestMapBuilder::at(c.x, 15);
        EXPECT_NEAR(r.match->location.lon, p.lon, 1e-9) << c.street << ", " << c.city;
        EXPECT_EQ(r.match->place.find(c.town), 0u) << c.street << ", " << c.city << ": " << r.match->place;
    }
}

TEST_F(GeocoderTest, oddInputIsAnsweredNotThrown)
{
    const std::string inputs[] = {"", "   ", "#", "# 5", "123", "St", "<b>1 Main St</b>", std::string(500, 'x'),
                                  std::string("1 Main\0St", 9), "\xff\xfe Main", "1 1 1 1 1"};
    for (const std::string& input : inputs) {
        const GeocodeResult r = m_geocoder.geocode(input, input);
        if (r.status != GeocodeStatus::Found) {
            EXPECT_FALSE(r.problem.empty()) << input;
        }
    }
    EXPECT_EQ(m_geocoder.geocode("  ", "  ").status, GeocodeStatus::Empty);
}

// A map read from a cache that keeps the street lists gives a geocoder that
// takes them from there and answers as one that made them; lists that do not
// fit the map (sound checksums, an index out of range) are made anew.
TEST_F(GeocoderTest, streetListsKeptInTheMapCacheGiveTheSameAnswers)
{
    test::TempFolder folder;
    const std::string source = (folder / "town.osm").string();
    std::ofstream(source) << "stand-in for the source map";
    const CacheKey key = *cacheKeyOf(source);
    const std::string cache = cachePathBeside(source);
    const auto answers = [](const Geocoder& geocoder) {
        std::vector<std::string> out;
        for (const auto& [street, city] : std::vector<std::pair<const char*, const char*>>{
                 {"103 Main St", "Testville QZ 11111"}, {"150 Elm St", ""}, {"5 Cedar Ln", "Otherton"},
                 {"7 Elm", ""}, {"1 Pine Rd", "Nowhere QZ"}, {"9 Mian St", ""}}) {
            const GeocodeResult r = geocoder.geocode(street, city);
            out.push_back(std::to_string(static_cast<int>(r.status)) + (r.match ? r.match->label : r.problem));
            for (const Suggestion& suggestion : r.suggestions)
                out.back() += "|" + suggestion.streetLine;
        }
        return out;
    };
    ASSERT_TRUE(writeMapCache(cache, key, m_map, Geocoder::cacheSections));
    const RoadMap cached = *readMapCache(cache, key);
    const Geocoder fromCache(cached);
    EXPECT_TRUE(fromCache.listsMapped());
    EXPECT_FALSE(m_geocoder.listsMapped());
    EXPECT_EQ(answers(fromCache), answers(m_geocoder));

    const CacheExtras faulty = [](const RoadMap& map, MappedFileWriter& writer) -> std::shared_ptr<const void> {
        auto keep = Geocoder::cacheSections(map, writer);
        static const std::vector<EdgeId> wrong(map.edges.size(), static_cast<EdgeId>(map.edges.size()));
        writer.add(sectionTag("GEDG"), std::span<const EdgeId>(wrong));
        return keep;
    };
    ASSERT_TRUE(writeMapCache(cache, key, m_map, faulty));
    const RoadMap spoilt = *readMapCache(cache, key);
    const Geocoder remade(spoilt);
    EXPECT_FALSE(remade.listsMapped());
    EXPECT_EQ(answers(remade), answers(m_geocoder));
}

} // namespace
} // namespace tw::service
