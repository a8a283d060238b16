#include "settings/profile_strings.h"
#include "settings_test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using tw::profile::readProfileString;
using tw::profile::writeProfileString;
using tw::test::SettingsFile;

constexpr char kUntouched = '\x7f';

struct Read {
    qsizetype count = 0;
    QByteArray buffer; // the whole buffer, sentinel bytes where nothing was placed
};

// A name that may be absent, as the null pointers of the operations.
using Name = std::optional<std::string>;
const char* ptr(const Name& name)
{
    return name ? name->c_str() : nullptr;
}

Read readFrom(const QString& path, const Name& section, const Name& key, const Name& fallback, qsizetype size)
{
    Read read;
    read.buffer = QByteArray(std::max<qsizetype>(size, 1), kUntouched);
    read.count = readProfileString(ptr(section), ptr(key), ptr(fallback), read.buffer.data(), size, path);
    return read;
}

// The text a read placed (its first `count` chars).
QByteArray placed(const Read& read)
{
    return read.buffer.left(read.count);
}

// ---------------------------------------------------------------------------
// Reading one key

struct KeyReadCase {
    const char* name;
    QByteArray file;
    Name section;
    Name key;
    Name fallback;
    QByteArray expected;
};

class KeyRead : public testing::TestWithParam<KeyReadCase> { };

TEST_P(KeyRead, GivesTheValueOrTheDefault)
{
    const KeyReadCase& c = GetParam();
    SettingsFile file;
    file.write(c.file);
    const Read read = readFrom(file.path(), c.section, c.key, c.fallback, 255);
    EXPECT_EQ(placed(read), c.expected);
    EXPECT_EQ(read.buffer.at(read.count), '\0') << "the text must end with a NUL";
}

const QByteArray kPlain = "[config]\r\nfrom_addr=1 Main St\r\nempty=\r\n";

INSTANTIATE_TEST_SUITE_P(ProfileStrings, KeyRead,
    testing::Values(KeyReadCase { "PresentKey", kPlain, "config", "from_addr", "d", "1 Main St" },
        KeyReadCase { "EmptyValueIsNotTheDefault", kPlain, "config", "empty", "d", "" },
        KeyReadCase { "MissingSection", kPlain, "other", "from_addr", "d", "d" },
        KeyReadCase { "MissingKey", kPlain, "config", "to_addr", "d", "d" },
        KeyReadCase { "NullDefaultIsEmpty", kPlain, "config", "to_addr", std::nullopt, "" },
        KeyReadCase { "DefaultLosesTrailingSpaces", kPlain, "config", "to_addr", " d  ", " d" },
        KeyReadCase { "LetterCaseOfNames", "[CoNfIg]\r\nFROM_Addr=x\r\n", "config", "from_addr", "d", "x" },
        KeyReadCase { "LetterCaseBeyondAscii", "[CAF\xC9]\r\n\x8Akey=x\r\n", "caf\xE9", "\x9Akey", "d", "x" },
        KeyReadCase { "CallerNamesLoseSpaces", kPlain, "  config ", " from_addr  ", "d", "1 Main St" },
        KeyReadCase { "CallerNamesKeepTabs", kPlain, "config", "\tfrom_addr", "d", "d" },
        KeyReadCase { "BlanksAroundNamesAndValue", " \t[ config ]\r\n \v key \t= \t a b \v\t\r\n", "config",
            "key", "d", "a b" },
        KeyReadCase { "DoubleQuotesStripped", "[s]\r\nk=\"  quoted \"\r\n", "s", "k", "d", "  quoted " },
        KeyReadCase { "SingleQuotesStripped", "[s]\r\nk='x'\r\n", "s", "k", "d", "x" },
        KeyReadCase { "OnlyOnePairStripped", "[s]\r\nk=\"\"x\"\"\r\n", "s", "k", "d", "\"x\"" },
        KeyReadCase { "UnmatchedQuotesKept", "[s]\r\nk=\"x'\r\n", "s", "k", "d", "\"x'" },
        KeyReadCase { "LoneQuoteKept", "[s]\r\nk=\"\r\n", "s", "k", "d", "\"" },
        KeyReadCase { "EmptyQuotes", "[s]\r\nk=\"\"\r\n", "s", "k", "d", "" },
        KeyReadCase { "CommentLineIsNoKey", "[s]\r\n ;k=1\r\n", "s", ";k", "d", "d" },
        KeyReadCase { "HashIsNoComment", "[s]\r\n#k=1\r\n", "s", "#k", "d", "1" },
        KeyReadCase { "NoInlineComment", "[s]\r\nk=1 ; note\r\n", "s", "k", "d", "1 ; note" },
        KeyReadCase { "SectionNameEndsAtFirstBracket", "[s]x]\r\nk=1\r\n", "s", "k", "d", "1" },
        KeyReadCase {
            "SectionWithoutCloseRunsToTheLineEnd", "[ config \t\r\nk=1\r\n", "config", "k", "d", "1" },
        KeyReadCase { "BracketWithoutCloseIsNoKey", "[s]\r\n[t=1\r\n", "s", "[t", "d", "d" },
        KeyReadCase {
            "FirstDuplicateSectionWins", "[s]\r\na=1\r\n[t]\r\n[S]\r\na=2\r\nb=3\r\n", "s", "b", "d", "d" },
        KeyReadCase { "FirstDuplicateKeyWins", "[s]\r\nk=1\r\nK=2\r\n", "s", "k", "d", "1" },
        KeyReadCase { "KeysBeforeAnySectionAreNotFound", "k=1\r\n[s]\r\n", "", "k", "d", "d" },
        KeyReadCase { "EmptySectionName", "k=0\r\n[]\r\nk=1\r\n", "", "k", "d", "1" },
        KeyReadCase { "LineWithoutEqualsIsNoKey", "[s]\r\nk\r\n", "s", "k", "d", "d" },
        KeyReadCase { "LoneLineFeeds", "[s]\nk=1\nj=2", "s", "j", "d", "2" },
        KeyReadCase { "LoneCarriageReturns", "[s]\rk=1\rj=2\r", "s", "j", "d", "2" },
        KeyReadCase { "CarriageReturnBeforeCrLf", "[s]\r\r\nk=1\r\r\nj=2\r\r\n", "s", "k", "d", "1" },
        KeyReadCase { "NoFinalLineEnd", "[s]\r\nk=last", "s", "k", "d", "last" },
        KeyReadCase { "NulEndsTheText", QByteArray("[s]\r\nk=ab\0cd\r\n", 14), "s", "k", "d", "ab" },
        KeyReadCase { "Utf8ByteOrderMarkSkipped", "\xEF\xBB\xBF[s]\r\nk=1\r\n", "s", "k", "d", "1" },
        KeyReadCase { "Utf16FileReadsAsEmpty", QByteArray("\xFF\xFE[\0s\0]\0", 8), "s", "k", "d", "d" },
        KeyReadCase {
            "BinaryJunk", QByteArray("\x00\xFF[\x01\n=\n]\r\r\n\xFE\x00", 12), "s", "k", "d", "d" }),
    [](const testing::TestParamInfo<KeyReadCase>& param) { return param.param.name; });

TEST(ProfileStrings, MissingFileAndUnusablePathsGiveTheDefault)
{
    SettingsFile file;
    EXPECT_EQ(placed(readFrom(file.path(), "s", "k", "d", 255)), "d");
    EXPECT_EQ(placed(readFrom(file.folder(), "s", "k", "d", 255)), "d") << "a folder";
    EXPECT_EQ(placed(readFrom(QString(), "s", "k", "d", 255)), "d") << "no path";
    EXPECT_EQ(placed(readFrom(QStringLiteral("/dev/zero"), "s", "k", "d", 255)), "d") << "a device";
}

// ---------------------------------------------------------------------------
// Buffer sizes

struct SizeCase {
    const char* name;
    Name key; // none: the key list "ab\0cd\0"
    qsizetype size;
    qsizetype expectedCount;
    QByteArray expectedBuffer; // the buffer's first bytes
};

class BufferSize : public testing::TestWithParam<SizeCase> { };

TEST_P(BufferSize, CutsLikeWindows)
{
    const SizeCase& c = GetParam();
    SettingsFile file;
    file.write("[s]\r\nab=abcdef\r\ncd=2\r\n");
    const Read read = readFrom(file.path(), "s", c.key, "default", c.size);
    EXPECT_EQ(read.count, c.expectedCount);
    EXPECT_EQ(read.buffer.left(c.expectedBuffer.size()), c.expectedBuffer);
}

INSTANTIATE_TEST_SUITE_P(ProfileStrings, BufferSize,
    testing::Values(SizeCase { "ValueFits", "ab", 7, 6, QByteArray("abcdef\0", 7) },
        SizeCase { "ValueCutToSizeMinusOne", "ab", 6, 5, QByteArray("abcde\0", 6) },
        SizeCase { "ValueSizeTwo", "ab", 2, 1, QByteArray("a\0", 2) },
        SizeCase { "ValueSizeOne", "ab", 1, 0, QByteArray("\0", 1) },
        SizeCase { "ValueSizeZeroTouchesNothing", "ab", 0, 0, QByteArray(1, kUntouched) },
        SizeCase { "DefaultCutToo", "zz", 4, 3, QByteArray("def\0", 4) },
        SizeCase { "ListFitsAtSizeMinusTwo", std::nullopt, 8, 6, QByteArray("ab\0cd\0\0", 7) },
        SizeCase { "ListRoomy", std::nullopt, 20, 6, QByteArray("ab\0cd\0\0", 7) },
        SizeCase { "ListLastNameCut", std::nullopt, 7, 5, QByteArray("ab\0cd\0\0", 7) },
        SizeCase { "ListLastNameCutToNothing", std::nullopt, 5, 3, QByteArray("ab\0\0\0", 5) },
        SizeCase { "ListFirstNameCut", std::nullopt, 3, 1, QByteArray("a\0\0", 3) },
        SizeCase { "ListSizeTwo", std::nullopt, 2, 0, QByteArray("\0\0", 2) },
        SizeCase { "ListSizeOne", std::nullopt, 1, 0, QByteArray("\0", 1) },
        SizeCase { "ListSizeZeroTouchesNothing", std::nullopt, 0, 0, QByteArray(1, kUntouched) }),
    [](const testing::TestParamInfo<SizeCase>& param) { return param.param.name; });

// ---------------------------------------------------------------------------
// Name lists

TEST(ProfileStrings, KeyListHoldsTheFirstSectionsKeysInFileOrder)
{
    SettingsFile file;
    file.write(
        "a=0\r\n[s]\r\n; note\r\nB = 1\r\nplain line\r\n\r\n=2\r\nb=3\r\n[t]\r\nc=4\r\n[s]\r\nd=5\r\n");
    const Read read = readFrom(file.path(), "S", std::nullopt, "d", 100);
    EXPECT_EQ(placed(read), QByteArray("B\0\0b\0", 5)) << "an empty key name is listed as an empty name";
    EXPECT_EQ(read.buffer.at(read.count), '\0');
}

TEST(ProfileStrings, KeyListOfAMissingOrEmptySectionIsTheDefault)
{
    SettingsFile file;
    file.write("[empty]\r\n; only a comment\r\n[s]\r\nk=1\r\n");
    EXPECT_EQ(placed(readFrom(file.path(), "empty", std::nullopt, "none", 100)), "none");
    EXPECT_EQ(placed(readFrom(file.path(), "missing", std::nullopt, "none", 100)), "none");
}

TEST(ProfileStrings, SectionListSkipsNamelessSectionsAndNeverGivesTheDefault)
{
    SettingsFile file;
    EXPECT_EQ(readFrom(file.path(), std::nullopt, std::nullopt, "d", 100).count, 0) << "missing file";
    file.write("k=1\r\n[one]\r\n[]\r\n [ two ] tail\r\n;[three]\r\n[one]\r\n[ four \r\n");
    EXPECT_EQ(placed(readFrom(file.path(), std::nullopt, std::nullopt, "d", 100)),
        QByteArray("one\0two\0one\0four\0", 17));
    EXPECT_EQ(placed(readFrom(file.path(), std::nullopt, "ignored", "d", 100)),
        QByteArray("one\0two\0one\0four\0", 17))
        << "no section lists the sections whatever the key";
}

// ---------------------------------------------------------------------------
// Writing: where the bytes go, and that no other byte changes

struct WriteCase {
    const char* name;
    std::optional<QByteArray> before; // none: no file
    Name section;
    Name key;
    Name value;
    int32_t expectedResult;
    QByteArray after; // "<missing>" when no file must exist
};

class Write : public testing::TestWithParam<WriteCase> { };

TEST_P(Write, ChangesOnlyTheBytesItConcerns)
{
    const WriteCase& c = GetParam();
    SettingsFile file;
    if (c.before)
        file.write(*c.before);
    EXPECT_EQ(writeProfileString(ptr(c.section), ptr(c.key), ptr(c.value), file.path()), c.expectedResult);
    EXPECT_EQ(file.bytes(), c.after);
}

const QByteArray kTwoSections = "; settings\r\n[a]\r\nk1=1\r\n\r\n; about b\r\n[b]\r\nx = old ; kept?\r\n";

INSTANTIATE_TEST_SUITE_P(ProfileStrings, Write,
    testing::Values(WriteCase { "NewFile", std::nullopt, "config", "from_addr", "1 Main St", 1,
                        "[config]\r\nfrom_addr=1 Main St\r\n" },
        WriteCase { "NewFileWithTrimmedNames", std::nullopt, " config ", " key ", " v ", 1,
            "[config]\r\nkey= v \r\n" },
        WriteCase { "NewKeyAfterLastKeyOfSection", kTwoSections, "A", "k2", "2", 1,
            "; settings\r\n[a]\r\nk1=1\r\nk2=2\r\n\r\n; about b\r\n[b]\r\nx = old ; kept?\r\n" },
        WriteCase { "NewKeyInSectionWithoutKeys", "[a]\r\n; c\r\n[b]\r\n", "a", "k", "v", 1,
            "[a]\r\nk=v\r\n; c\r\n[b]\r\n" },
        WriteCase { "NewKeyGoesToFirstDuplicateSection", "[a]\r\nx=1\r\n[a]\r\ny=2\r\n", "a", "z", "3", 1,
            "[a]\r\nx=1\r\nz=3\r\n[a]\r\ny=2\r\n" },
        WriteCase {
            "NewKeyAfterLastLineWithoutLineEnd", "[a]\r\nk=1", "a", "j", "2", 1, "[a]\r\nk=1\r\nj=2\r\n" },
        WriteCase { "NewSectionAtEndWithoutBlankLine", kTwoSections, "c", "k", "v", 1,
            kTwoSections + "[c]\r\nk=v\r\n" },
        WriteCase { "NewSectionAfterLastLineWithoutLineEnd", "[a]\r\nk=1", "c", "k", "v", 1,
            "[a]\r\nk=1\r\n[c]\r\nk=v\r\n" },
        WriteCase { "NewLinesFollowLineFeedFiles", "[a]\nk=1\n", "a", "j", "2", 1, "[a]\nk=1\nj=2\n" },
        WriteCase { "NewLinesFollowCarriageReturnFiles", "[a]\rk=1\r", "a", "j", "2", 1, "[a]\rk=1\rj=2\r" },
        WriteCase { "NewKeyUnderSectionWithoutClose", "[config\r\nfrom_addr=a", "config", "to_addr", "b", 1,
            "[config\r\nfrom_addr=a\r\nto_addr=b\r\n" },
        WriteCase { "EmptyFile", "", "s", "k", "v", 1, "[s]\r\nk=v\r\n" },
        WriteCase { "ByteOrderMarkKept", "\xEF\xBB\xBF", "s", "k", "v", 1, "\xEF\xBB\xBF[s]\r\nk=v\r\n" },
        WriteCase { "ChangedValueKeepsKeySpellingAndLayout", kTwoSections, "B", "X", "new", 1,
            "; settings\r\n[a]\r\nk1=1\r\n\r\n; about b\r\n[b]\r\nx = new\r\n" },
        WriteCase {
            "ValueWrittenVerbatim", "[s]\r\nk=1\r\n", "s", "k", " \"q\" ", 1, "[s]\r\nk= \"q\" \r\n" },
        WriteCase { "EmptyValueKeepsTheKey", "[s]\r\nk=1\r\n", "s", "k", "", 1, "[s]\r\nk=\r\n" },
        WriteCase { "SameValueChangesNothing", "[s]\r\nk=1  \r\n", "s", "k", "1  ", 1, "[s]\r\nk=1  \r\n" },
        WriteCase { "RewrittenLastLineGetsItsLineEnd", "[s]\r\nk=1", "s", "k", "2", 1, "[s]\r\nk=2\r\n" },
        WriteCase { "SameValueOnLastLineGetsItsLineEnd", "[s]\rk=1", "s", "k", "1", 1, "[s]\rk=1\r" },
        WriteCase { "ValueBeforeCrCrLfChanged", "[config]\r\r\nfrom_addr=old\r\r\n", "config", "from_addr",
            "new", 1, "[config]\r\r\nfrom_addr=new\r\r\n" },
        WriteCase {
            "FirstDuplicateKeyChanged", "[s]\r\nk=1\r\nk=2\r\n", "s", "k", "3", 1, "[s]\r\nk=3\r\nk=2\r\n" },
        WriteCase { "JunkAfterNulReplacedWithTheValue", QByteArray("[s]\r\nk=a\0b\r\nz\0=1\r\n", 17), "s",
            "k", "c", 1, QByteArray("[s]\r\nk=c\r\nz\0=1\r\n", 15) },
        WriteCase { "DeleteKeyRemovesItsLineOnly", kTwoSections, "a", "K1", std::nullopt, 1,
            "; settings\r\n[a]\r\n\r\n; about b\r\n[b]\r\nx = old ; kept?\r\n" },
        WriteCase { "DeleteKeyRemovesEveryCopyInTheSection", "[s]\r\nk=1\r\nj=0\r\nK=2\r\n[t]\r\nk=3\r\n",
            "s", "k", std::nullopt, 1, "[s]\r\nj=0\r\n[t]\r\nk=3\r\n" },
        WriteCase {
            "DeleteLastKeyWithoutLineEnd", "[s]\r\nj=0\r\nk=1", "s", "k", std::nullopt, 1, "[s]\r\nj=0\r\n" },
        WriteCase { "DeleteMissingKeyChangesNothing", "[s]\r\nk=1", "s", "j", std::nullopt, 1, "[s]\r\nk=1" },
        WriteCase {
            "DeleteInMissingFileCreatesNothing", std::nullopt, "s", "j", std::nullopt, 1, "<missing>" },
        WriteCase { "DeleteSectionTakesHeaderAndKeysOnly", kTwoSections, "a", std::nullopt, std::nullopt, 1,
            "; settings\r\n\r\n; about b\r\n[b]\r\nx = old ; kept?\r\n" },
        WriteCase { "DeleteSectionKeepsCommentsWithin", "[a]\r\nk=1\r\n; about j\r\nj=2\r\n[b]\r\n", "a",
            std::nullopt, std::nullopt, 1, "; about j\r\n[b]\r\n" },
        WriteCase { "DeleteSectionIgnoresTheValue", "[a]\r\nk=1\r\n[b]\r\n", "a", std::nullopt,
            "two\r\nlines", 1, "[b]\r\n" },
        WriteCase { "DeleteOfANameThatCannotBeInTheFile", "[a]\r\n", "a]b", std::nullopt, std::nullopt, 1,
            "[a]\r\n" },
        WriteCase { "DeleteSectionRemovesEveryCopy", "[a]\r\nk=1\r\n[b]\r\nj=2\r\n[A]\r\nk=3\r\n", "a",
            std::nullopt, std::nullopt, 1, "[b]\r\nj=2\r\n" },
        WriteCase { "DeleteSectionKeepsLinesBeforeTheFirst", "k=0\n[a]\nk=1\n", "a", std::nullopt,
            std::nullopt, 1, "k=0\n" },
        WriteCase { "NullSectionFails", "[s]\r\n", std::nullopt, "k", "v", 0, "[s]\r\n" },
        WriteCase { "LineBreakInValueRefused", "[s]\r\nk=1\r\n", "s", "k", "x\r\n[evil]\r\nk=2", 0,
            "[s]\r\nk=1\r\n" },
        WriteCase { "LineBreakInNameRefused", "[s]\r\n", "s\n", "k", "v", 0, "[s]\r\n" },
        WriteCase { "EqualsInKeyNameRefused", "[s]\r\n", "s", "a=b", "v", 0, "[s]\r\n" },
        WriteCase { "CommentKeyNameRefused", "[s]\r\n", "s", ";k", "v", 0, "[s]\r\n" },
        WriteCase { "TabAtTheEndOfAKeyNameRefused", "[s]\r\nk=1\r\n", "s", "k\t", "v", 0, "[s]\r\nk=1\r\n" },
        WriteCase { "BracketInSectionNameRefused", "[s]\r\n", "a]b", "k", "v", 0, "[s]\r\n" },
        WriteCase { "Utf16FileLeftAlone", QByteArray("\xFF\xFE[\0s\0]\0", 8), "s", "k", "v", 0,
            QByteArray("\xFF\xFE[\0s\0]\0", 8) }),
    [](const testing::TestParamInfo<WriteCase>& param) { return param.param.name; });

TEST(ProfileStrings, WrittenValuesReadBack)
{
    SettingsFile file;
    ASSERT_EQ(writeProfileString("config", "a", "x=y;z", file.path()), 1);
    ASSERT_EQ(writeProfileString("config", "b", "", file.path()), 1);
    ASSERT_EQ(writeProfileString("CONFIG", "A", "changed", file.path()), 1);
    EXPECT_EQ(placed(readFrom(file.path(), "config", "a", "d", 255)), "changed");
    EXPECT_EQ(placed(readFrom(file.path(), "config", "b", "d", 255)), "");
    EXPECT_EQ(file.bytes(), "[config]\r\na=changed\r\nb=\r\n");
}

TEST(ProfileStrings, ATenMegabyteLineIsKeptWhileAnotherKeyChanges)
{
    SettingsFile file;
    const QByteArray longLine = "big=" + QByteArray(10 * 1024 * 1024, 'x') + "\r\n";
    file.write("[s]\r\n" + longLine + "k=1");
    EXPECT_EQ(readFrom(file.path(), "s", "big", "d", 255).count, 254);
    ASSERT_EQ(writeProfileString("s", "k", "2", file.path()), 1);
    EXPECT_EQ(file.bytes(), "[s]\r\n" + longLine + "k=2\r\n");
}

// ---------------------------------------------------------------------------
// Failed writes leave the old file as it was

TEST(ProfileStrings, WriteToAnUnusablePathFails)
{
    SettingsFile file;
    EXPECT_EQ(writeProfileString("s", "k", "v", file.folder()), 0) << "a folder";
    EXPECT_EQ(writeProfileString("s", "k", "v", QString()), 0) << "no path";
    const QString inMissingFolder = file.folder() + QStringLiteral("/missing/control.ini");
    EXPECT_EQ(writeProfileString("s", "k", "v", inMissingFolder), 0);
    EXPECT_FALSE(QFile::exists(inMissingFolder));
    EXPECT_EQ(writeProfileString("s", "k", nullptr, file.folder()), 0) << "deleting in a folder";
    EXPECT_EQ(writeProfileString("s", "k", nullptr, file.path()), 1) << "deleting in a missing file";
    EXPECT_TRUE(QDir(file.folder()).isEmpty()) << "not even a lock file is made";
    EXPECT_FALSE(QFile::exists(file.folder() + QStringLiteral(".lock")));
}

TEST(ProfileStrings, WriteThatFailsPartWayLeavesTheOldFile)
{
    SettingsFile file;
    const QByteArray old = "[s]\r\nk=old\r\n";
    file.write(old);

    // The kernel refuses to grow any file past 64 bytes: the new file fails mid-write.
    struct sigaction ignore { };
    ignore.sa_handler = SIG_IGN;
    struct sigaction previousAction { };
    sigaction(SIGXFSZ, &ignore, &previousAction);
    rlimit previous {};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit small = previous;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int32_t result = writeProfileString("s", "k", std::string(200, 'n').c_str(), file.path());
    setrlimit(RLIMIT_FSIZE, &previous);
    sigaction(SIGXFSZ, &previousAction, nullptr);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(file.bytes(), old);
    EXPECT_EQ(QDir(file.folder()).entryList(QDir::Files | QDir::Hidden),
        QStringList({ QStringLiteral("control.ini"), QStringLiteral("control.ini.lock") }))
        << "no temporary file left behind";
}

TEST(ProfileStrings, ReadOnlyFileAndFolderAreNotReplaced)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    SettingsFile file;
    const QByteArray old = "[s]\r\nk=old\r\n";
    file.write(old);
    QFile::setPermissions(file.path(), QFile::ReadOwner);
    EXPECT_EQ(writeProfileString("s", "k", "new", file.path()), 0);
    EXPECT_EQ(file.bytes(), old);

    QFile::setPermissions(file.path(), QFile::ReadOwner | QFile::WriteOwner);
    QFile::setPermissions(file.folder(), QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_EQ(writeProfileString("s", "k", "new", file.path()), 0);
    EXPECT_EQ(file.bytes(), old);
    QFile::setPermissions(file.folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(ProfileStrings, ASymbolicLinkStaysALinkAndItsTargetChanges)
{
    SettingsFile file;
    const QString target = file.folder() + QStringLiteral("/target.ini");
    QFile::remove(file.path());
    {
        QFile out(target);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("[s]\r\nk=1\r\n");
    }
    ASSERT_TRUE(QFile::link(target, file.path()));
    ASSERT_EQ(writeProfileString("s", "k", "2", file.path()), 1);
    EXPECT_TRUE(QFileInfo(file.path()).isSymLink());
    QFile in(target);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    EXPECT_EQ(in.readAll(), "[s]\r\nk=2\r\n");
}

TEST(ProfileStrings, ReplacingKeepsTheFilesPermissions)
{
    SettingsFile file;
    file.write("[s]\r\nk=1\r\n");
    const auto permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QFile::setPermissions(file.path(), permissions);
    ASSERT_EQ(writeProfileString("s", "k", "2", file.path()), 1);
    EXPECT_EQ(QFile::permissions(file.path()) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
        permissions);
}

// ---------------------------------------------------------------------------
// Writers in several processes

TEST(ProfileStrings, TwoProcessesWritingAtOnceLoseNothing)
{
    constexpr int kProcesses = 2;
    constexpr int kWrites = 500;
    // In memory where possible: on a disk the flush of each of the 1,000 writes
    // takes most of the time.
    const bool inMemory = QFileInfo(QStringLiteral("/dev/shm")).isWritable();
    const SettingsFile file = inMemory ? SettingsFile(QStringLiteral("/dev/shm")) : SettingsFile();
    int start[2] = {};
    ASSERT_EQ(pipe(start), 0);
    pid_t children[kProcesses] = {};
    for (int p = 0; p < kProcesses; ++p) {
        children[p] = fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) {
            // Both begin when the parent closes the pipe, so that their writes overlap.
            char ignored = 0;
            close(start[1]);
            (void)!read(start[0], &ignored, 1);
            int failed = 0;
            for (int i = 0; i < kWrites; ++i) {
                const std::string key = "p" + std::to_string(p) + "_" + std::to_string(i);
                failed += writeProfileString("s", key.c_str(), "v", file.path()) == 1 ? 0 : 1;
            }
            _exit(failed == 0 ? 0 : 1);
        }
    }
    close(start[0]);
    close(start[1]);
    for (const pid_t child : children) {
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "every write reported success";
    }
    const Read keys = readFrom(file.path(), "s", std::nullopt, "", 64 * 1024);
    EXPECT_EQ(placed(keys).count('\0'), kProcesses * kWrites);
}

} // namespace
