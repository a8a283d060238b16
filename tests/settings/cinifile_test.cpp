#include "settings/cinifile.h"
#include "settings/number_text.h"
#include "settings_test_files.h"

#include <gtest/gtest.h>

namespace {

using tw::cInifile;
using tw::test::SettingsFile;

// A cInifile pointed at a temporary control.ini, section "config".
class Settings : public testing::Test {
protected:
    Settings()
    {
        ini.Path(file.path());
        ini.Section(QStringLiteral("config"));
    }

    QString read(const QString& key)
    {
        ini.Key(key);
        return ini.Value();
    }

    void write(const QString& key, const QString& value)
    {
        ini.Key(key);
        ini.Value(value);
    }

    SettingsFile file;
    cInifile ini;
};

TEST_F(Settings, ReadsFallBackToDefaultCutTo254Characters)
{
    EXPECT_EQ(read(QStringLiteral("from_addr")), QString()) << "no file, no default";
    const QString longDefault(300, u'd');
    ini.Default(longDefault);
    EXPECT_EQ(read(QStringLiteral("from_addr")), longDefault.left(254));
    EXPECT_FALSE(ini.Success()) << "reads report nothing";
}

TEST_F(Settings, StoredValueReadsBackAsItsFirst254Characters)
{
    const QString value = QString(250, u'a') + QStringLiteral("bcdefgh") + QString(43, u'z');
    write(QStringLiteral("from_addr"), value);
    ASSERT_TRUE(ini.Success());
    EXPECT_EQ(read(QStringLiteral("from_addr")), value.left(254));
    EXPECT_TRUE(ini.Success()) << "a read leaves the last write's result";
}

TEST_F(Settings, NulCharactersAreRemovedBeforeWriting)
{
    const QString withNuls = QString::fromUtf16(u"1\0 Main\0\0 St", 12);
    write(QStringLiteral("from_addr"), withNuls);
    EXPECT_EQ(read(QStringLiteral("from_addr")), QStringLiteral("1 Main St"));
    EXPECT_EQ(file.bytes(), "[config]\r\nfrom_addr=1 Main St\r\n");
}

TEST_F(Settings, EmptyValueIsStoredNotTheDefault)
{
    ini.Default(QStringLiteral("fallback"));
    write(QStringLiteral("from_zip"), QString());
    EXPECT_TRUE(ini.Success());
    EXPECT_EQ(read(QStringLiteral("from_zip")), QString());
}

TEST_F(Settings, TextGoesThroughTheWindowsCodePage)
{
    write(QStringLiteral("from_city"), QString::fromUtf8("Sa\u00f1o \u20ac \u4e2d"));
    EXPECT_EQ(file.bytes(), "[config]\r\nfrom_city=Sa\xF1o \x80 ?\r\n");
    EXPECT_EQ(read(QStringLiteral("FROM_CITY")), QString::fromUtf8("Sa\u00f1o \u20ac ?"));
}

TEST_F(Settings, DeleteKeyAndDeleteSection)
{
    ini.Default(QStringLiteral("gone"));
    write(QStringLiteral("a"), QStringLiteral("1"));
    write(QStringLiteral("b"), QStringLiteral("2"));
    ini.Section(QStringLiteral("other"));
    write(QStringLiteral("c"), QStringLiteral("3"));
    ini.Section(QStringLiteral("config"));

    ini.Key(QStringLiteral("a"));
    ini.DeleteKey();
    EXPECT_TRUE(ini.Success());
    EXPECT_EQ(read(QStringLiteral("a")), QStringLiteral("gone"));
    EXPECT_EQ(read(QStringLiteral("b")), QStringLiteral("2"));

    ini.DeleteSection();
    EXPECT_TRUE(ini.Success());
    EXPECT_EQ(read(QStringLiteral("b")), QStringLiteral("gone"));
    EXPECT_EQ(file.bytes(), "[other]\r\nc=3\r\n");
}

TEST_F(Settings, SettingINISectionRemovesTheSectionAndStoresNothing)
{
    ini.Default(QStringLiteral("gone"));
    write(QStringLiteral("a"), QStringLiteral("1"));
    ini.INISection(QStringLiteral("anything=1"));
    EXPECT_TRUE(ini.Success());
    EXPECT_EQ(read(QStringLiteral("a")), QStringLiteral("gone"));
    EXPECT_EQ(file.bytes(), "");
}

TEST_F(Settings, FailedWriteIsReportedAndTheOtherFieldsStay)
{
    write(QStringLiteral("a"), QStringLiteral("1"));
    ASSERT_TRUE(ini.Success());
    ini.Path(file.folder());
    write(QStringLiteral("a"), QStringLiteral("2"));
    EXPECT_FALSE(ini.Success());
    EXPECT_EQ(ini.LastReturnCode(), 0);
    EXPECT_EQ(ini.Key(), QStringLiteral("a"));
    EXPECT_EQ(ini.Path(), file.folder());
}

// ---------------------------------------------------------------------------
// Name lists and their enumeration

TEST_F(Settings, INISectionAndSectionsAreNulSeparatedLists)
{
    file.write("[config]\r\na=1\r\nb=2\r\n[other]\r\n");
    EXPECT_EQ(ini.INISection(), QString::fromUtf16(u"a\0b\0", 4));
    EXPECT_EQ(ini.Sections(), QString::fromUtf16(u"config\0other\0", 13));
}

TEST_F(Settings, INISectionIsCutAt8190Characters)
{
    QByteArray keys;
    for (int i = 0; i < 2000; ++i)
        keys += "key" + QByteArray::number(i).rightJustified(4, '0') + "=1\r\n";
    file.write("[config]\r\n" + keys);
    const QString list = ini.INISection();
    EXPECT_EQ(list.size(), 8190);
    EXPECT_NE(list.back(), QChar(u'\0')) << "the last name is cut and has no NUL";
    QStringList names;
    int32_t count = -1;
    ini.EnumerateCurrentSection(names, count);
    EXPECT_EQ(count, 8190 / 8);
    EXPECT_EQ(names.back(), QStringLiteral("key1022"));
}

struct SplitCase {
    const char* name;
    QByteArray file;
    QString defaultText;
    QStringList keys; // EnumerateCurrentSection of "config"
    QStringList sections; // EnumerateAllSections
};

class Enumerate : public Settings, public testing::WithParamInterface<SplitCase> { };

TEST_P(Enumerate, SplitsTheNameLists)
{
    const SplitCase& c = GetParam();
    file.write(c.file);
    ini.Default(c.defaultText);
    QStringList names { QStringLiteral("stale") };
    int32_t count = -1;
    ini.EnumerateCurrentSection(names, count);
    EXPECT_EQ(names, c.keys);
    EXPECT_EQ(count, c.keys.size());
    names = QStringList { QStringLiteral("stale") };
    ini.EnumerateAllSections(names, count);
    EXPECT_EQ(names, c.sections);
    EXPECT_EQ(count, c.sections.size());
}

INSTANTIATE_TEST_SUITE_P(Settings, Enumerate,
    testing::Values(SplitCase { "KeysInFileOrder", "[config]\r\na=1\r\nb=2\r\n[x]\r\n", {}, { "a", "b" },
                        { "config", "x" } },
        SplitCase { "EmptyKeyNameKeptOnlyAsKey", "[config]\r\na=1\r\n=2\r\nb=3\r\n", {}, { "a", "", "b" },
            { "config" } },
        SplitCase { "MissingSectionDefaultHasNoNulAndIsDropped", "[x]\r\n", "default", {}, { "x" } },
        SplitCase { "EmptySection", "[config]\r\n", {}, {}, { "config" } },
        SplitCase { "MissingFile", "", "default", {}, {} }),
    [](const testing::TestParamInfo<SplitCase>& param) { return param.param.name; });

// ---------------------------------------------------------------------------
// CLngDefault

struct NumberCase {
    const char* name;
    QString text;
    int32_t expected; // with a default of -99
};

class CLngDefault : public testing::TestWithParam<NumberCase> { };

TEST_P(CLngDefault, ConvertsOrGivesTheDefault)
{
    // The C locale of the test run has '.' as its decimal separator.
    EXPECT_EQ(cInifile::CLngDefault(GetParam().text, -99), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Settings, CLngDefault,
    testing::Values(NumberCase { "Empty", "", -99 }, NumberCase { "Letters", "abc", -99 },
        NumberCase { "Blanks", "  42 ", 42 }, NumberCase { "Negative", "-7", -7 },
        NumberCase { "Plus", "+7", 7 }, NumberCase { "TwelveAndAHalf", "12.5", 12 },
        NumberCase { "ThirteenAndAHalf", "13.5", 14 }, NumberCase { "MinusHalfToZero", "-0.5", 0 },
        NumberCase { "MinusOneAndAHalf", "-1.5", -2 }, NumberCase { "JustAboveHalf", "12.5000001", 13 },
        NumberCase { "JustBelowHalf", "12.4999999", 12 }, NumberCase { "FractionOnly", ".6", 1 },
        NumberCase { "TrailingSeparator", "3.", 3 }, NumberCase { "Largest", "2147483647", 2147483647 },
        NumberCase { "Smallest", "-2147483648", INT32_MIN },
        NumberCase { "BeyondLargest", "2147483648", -99 },
        NumberCase { "RoundsBeyondLargest", "2147483647.5", -99 },
        NumberCase { "RoundsToSmallest", "-2147483648.5", INT32_MIN },
        NumberCase { "HugeDigitString", QString(400, u'9'), -99 },
        NumberCase { "LetterAfterNumber", "12a", -99 }, NumberCase { "TwoSeparators", "1.2.3", -99 },
        NumberCase { "LoneSign", "-", -99 }, NumberCase { "SignOnly Separator", "-.", -99 },
        NumberCase { "FailMarker", "FAIL", -99 }, NumberCase { "Exponent", "1e3", -99 },
        NumberCase { "InnerBlank", "1 2", -99 }),
    [](const testing::TestParamInfo<NumberCase>& param) {
        std::string name = param.param.name;
        std::erase(name, ' ');
        return name;
    });

TEST(NumberText, UsesTheLocalesDecimalSeparator)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(tw::number::parseLong(u"12,5", german), 12);
    EXPECT_EQ(tw::number::parseLong(u"13,5", german), 14);
    EXPECT_EQ(tw::number::parseLong(u"13.5", german), std::nullopt) << "no digit grouping";
    EXPECT_EQ(tw::number::parseLong(u"13,5", QLocale::c()), std::nullopt);
}

TEST(NumberText, FormattedNumbersReadBackUnderTheSameLocale)
{
    for (const QLocale& locale : { QLocale::c(), QLocale(QLocale::German), QLocale(QLocale::Swedish) }) {
        for (double value : { 0.0, -500.0, 12345678.0, 1234.5, 1234.75, -0.25, 3e9 }) {
            const QString text = tw::number::formatNumber(value, locale);
            const std::optional<int32_t> back = tw::number::parseLong(text, locale);
            SCOPED_TRACE(text.toStdString());
            if (std::fabs(value) > 2147483647.0)
                EXPECT_EQ(back, std::nullopt);
            else
                EXPECT_EQ(back, tw::number::roundToLong(value));
        }
    }
    EXPECT_EQ(tw::number::formatNumber(-500.0, QLocale(QLocale::Swedish)), QStringLiteral("-500"));
}

} // namespace
