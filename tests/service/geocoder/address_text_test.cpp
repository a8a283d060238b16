// Address text as people type it: normalisation, address lines, city lines.

#include "service/geocoder/address_text.h"

#include <gtest/gtest.h>

namespace tw::service {
namespace {

struct SameStreetCase {
    const char* typed;
    const char* stored;
};

TEST(StreetKey, spellingsOfOneStreetGiveOneKey)
{
    const SameStreetCase cases[] = {
        {"main st", "Main Street"},
        {"  MAIN    STREET  ", "Main Street"},
        {"Main St.", "Main Street"},
        {"N Oak Ave", "North Oak Avenue"},
        {"n. oak av", "North Oak Avenue"},
        {"9th St", "Ninth Street"},
        {"Twelfth Avenue", "12th Ave"},
        {"Oak Ave North", "Oak Avenue N"},
        {"Kestrel Pkwy", "Kestrel Parkway"},
        {"SW Alder Blvd", "Southwest Alder Boulevard"},
        {"North St", "N Street"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(streetKey(c.typed).full(), streetKey(c.stored).full()) << c.typed << " vs " << c.stored;
}

TEST(StreetKey, differentStreetsKeepDifferentKeys)
{
    const SameStreetCase cases[] = {
        {"Main St", "Main Ave"},
        {"N Main St", "S Main St"},
        {"Main St", "Mainly St"},
        {"1st St", "First Ave"},
        {"Oak Ave N", "Oak Ave S"},
    };
    for (const auto& c : cases)
        EXPECT_NE(streetKey(c.typed).full(), streetKey(c.stored).full()) << c.typed << " vs " << c.stored;
}

TEST(StreetKey, looseMatchOnlyWhenTypedPartsAgree)
{
    const StreetKey stored = streetKey("North Main Street");
    EXPECT_TRUE(stored.loosely(streetKey("Main")));
    EXPECT_TRUE(stored.loosely(streetKey("Main St")));
    EXPECT_TRUE(stored.loosely(streetKey("N Main")));
    EXPECT_FALSE(stored.loosely(streetKey("S Main St")));
    EXPECT_FALSE(stored.loosely(streetKey("Main Ave")));
    EXPECT_FALSE(stored.loosely(streetKey("Maine")));
}

TEST(AddressLine, splitsNumberStreetAndUnit)
{
    struct Case {
        const char* typed;
        const char* houseNumber;
        int number;
        const char* street;
        const char* unit;
    };
    const Case cases[] = {
        {"120 Main St", "120", 120, "main st", ""},
        {"  120   MAIN  ST ", "120", 120, "main st", ""},
        {"120 Main St Apt 4", "120", 120, "main st", "apt 4"},
        {"120 Main St, Unit B", "120", 120, "main st", "unit b"},
        {"120 Main St #12", "120", 120, "main st", "# 12"},
        {"120 Main St Suite 300", "120", 120, "main st", "suite 300"},
        {"12B Elm St", "12b", 12, "elm st", ""},
        {"1400-1402 Oak Ave", "1400-1402", 1400, "oak ave", ""},
        {"9th St", "", -1, "9th st", ""},
        {"21st Street", "", -1, "21st street", ""},
        {"Unit Road", "", -1, "unit road", ""},
        {"99999999999 Main St", "99999999999", -1, "main st", ""},
        {"", "", -1, "", ""},
    };
    for (const auto& c : cases) {
        const AddressLine line = parseAddressLine(c.typed);
        EXPECT_EQ(line.houseNumber, c.houseNumber) << c.typed;
        EXPECT_EQ(line.number, c.number) << c.typed;
        EXPECT_EQ(line.street, c.street) << c.typed;
        EXPECT_EQ(line.unit, c.unit) << c.typed;
    }
}

TEST(CityLine, readsCityStateAndZipFromTheEnd)
{
    struct Case {
        const char* typed;
        const char* city;
        const char* state;
        const char* zip;
    };
    const Case cases[] = {
        {"Halverby QZ 58911", "halverby", "qz", "58911"},
        {"  ", "", "", ""},
        {"Halverby  ", "halverby", "", ""},
        {" QZ ", "", "qz", ""},
        {"  58911", "", "", "58911"},
        {"San Jose CA 95112-1234", "san jose", "ca", "95112"},
        {"Halverby, QZ 58911", "halverby", "qz", "58911"},
        {"Oak Park", "oak park", "", ""},
        {"Halverby QZ 5891", "halverby qz 5891", "", ""},
    };
    for (const auto& c : cases) {
        const CityLine line = parseCityLine(c.typed);
        EXPECT_EQ(line.city, c.city) << c.typed;
        EXPECT_EQ(line.state, c.state) << c.typed;
        EXPECT_EQ(line.zip, c.zip) << c.typed;
    }
}

TEST(ShortStreetName, abbreviatesSuffixAndDirectionsOnly)
{
    EXPECT_EQ(shortStreetName("North Main Street"), "N Main St");
    EXPECT_EQ(shortStreetName("Kestrel Parkway"), "Kestrel Pkwy");
    EXPECT_EQ(shortStreetName("Oak Avenue Southwest"), "Oak Ave SW");
    EXPECT_EQ(shortStreetName("Street"), "Street");
    EXPECT_EQ(shortStreetName("Avenue Road"), "Avenue Rd");
    EXPECT_EQ(shortStreetName("QZ 40"), "QZ 40");
}

TEST(EditDistance, countsEditsAndStopsPastTheLimit)
{
    EXPECT_EQ(editDistance("main", "main", 2), 0u);
    EXPECT_EQ(editDistance("mian", "main", 2), 2u);
    EXPECT_EQ(editDistance("main", "mains", 2), 1u);
    EXPECT_EQ(editDistance("main", "kestrel", 2), 3u);
    EXPECT_EQ(editDistance("", "abc", 5), 3u);
}

} // namespace
} // namespace tw::service
