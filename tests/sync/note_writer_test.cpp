// Writing the directions note onto the device: its bytes, and that a failure
// never loses the old note or leaves a stray file.
#include "sync/note_writer.h"
#include "tests/support/failing_device.h"
#include "tests/support/temp_drives.h"

#include <QBuffer>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using tw::sync::NoteOutcome;
using tw::sync::saveFiles;
using tw::test::TempDrives;

const QByteArray kTitle = "<TITLE>Tarnwickley</TITLE>\r\n";
const QString kNote = QStringLiteral("\\Notes\\Tarnwickley.txt");
const QByteArray kOldNote = "<TITLE>Tarnwickley</TITLE>\r\n1. Start at old place\r\n";
const QString kDirections = QStringLiteral("1. Start at Main St\r\n2. Arrive at Oak Ave");

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList folderEntries(const QString& path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

struct BytesCase {
    const char* name;
    QString text;
    QByteArray bytes;
};

class NoteBytes : public testing::TestWithParam<BytesCase> {};

TEST_P(NoteBytes, AreTheTitleLineTheTextAndALineBreakInWindows1252)
{
    TempDrives drives;
    drives.addIpod(u'E', "");
    const auto result = saveFiles(drives, QStringLiteral("E:"), GetParam().text, 2);
    ASSERT_EQ(result.outcome, NoteOutcome::Written) << qPrintable(result.message);
    EXPECT_EQ(readFile(drives.path(u'E', kNote)), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoteBytes,
    testing::Values(
        BytesCase{"Plain", QStringLiteral("1. Start at Main St"), kTitle + "1. Start at Main St\r\n"},
        BytesCase{"EmptyTextGivesOneLineBreak", QString(), kTitle + "\r\n"},
        BytesCase{"TextEndingInALineBreakGivesTwo", QStringLiteral("1. Start\r\n"), kTitle + "1. Start\r\n\r\n"},
        BytesCase{"LoneLineFeedsKept", QStringLiteral("a\nb"), kTitle + "a\nb\r\n"},
        BytesCase{"Windows1252", QString::fromUtf8("caf\u00e9 \u2019 \u20ac \u2013"),
                  kTitle + "caf\xe9 \x92 \x80 \x96\r\n"},
        BytesCase{"QuestionMarkForWhatTheCodePageLacks", QString::fromUtf8("\u2192 \u4e2d \U0001F697"),
                  kTitle + "? ? ?\r\n"}),
    [](const testing::TestParamInfo<BytesCase>& param) { return std::string(param.param.name); });

TEST(SaveFiles, ReplacesTheOldNoteAndLeavesOtherNotesAlone)
{
    TempDrives drives;
    drives.addIpod(u'E', "");
    drives.writeFile(u'E', kNote, kOldNote);
    drives.writeFile(u'E', QStringLiteral("\\Notes\\Shopping.txt"), "milk\r\n");
    const auto result = saveFiles(drives, QStringLiteral("E:"), kDirections, 2);
    EXPECT_EQ(result.outcome, NoteOutcome::Written);
    EXPECT_TRUE(result.message.isEmpty());
    EXPECT_EQ(result.caption, u"Sync Successful!");
    EXPECT_EQ(readFile(drives.path(u'E', kNote)), kTitle + kDirections.toLatin1() + "\r\n");
    EXPECT_EQ(readFile(drives.path(u'E', QStringLiteral("\\Notes\\Shopping.txt"))), "milk\r\n");
    EXPECT_EQ(folderEntries(drives.path(u'E', QStringLiteral("\\Notes"))),
              (QStringList{"Shopping.txt", "Tarnwickley.txt"}));
}

TEST(SaveFiles, MatchesFolderAndNoteWhateverTheirLetterCase)
{
    TempDrives drives;
    drives.addIpod(u'E', "", TempDrives::Notes::Absent);
    drives.writeFile(u'E', QStringLiteral("\\NOTES\\tarnwickley.TXT"), kOldNote);
    const auto result = saveFiles(drives, QStringLiteral("e:"), kDirections, 2);
    EXPECT_EQ(result.outcome, NoteOutcome::Written);
    // One note, in the folder that was there, under the name it had.
    EXPECT_EQ(folderEntries(drives.path(u'E', QString())), (QStringList{"NOTES", "iPod_Control"}));
    EXPECT_EQ(folderEntries(drives.path(u'E', QStringLiteral("\\NOTES"))), QStringList{"tarnwickley.TXT"});
    EXPECT_EQ(readFile(drives.path(u'E', QStringLiteral("\\NOTES\\tarnwickley.TXT"))),
              kTitle + kDirections.toLatin1() + "\r\n");
}

TEST(SaveFiles, TouchesNothingOnAnOlderDeviceOrWithoutANotesFolder)
{
    struct Case {
        const char* name;
        int version;
        bool notesFolder;
        bool notesIsFile;
        const char* drive;
        NoteOutcome outcome;
        const char* message;
    };
    const char* old = "Pre Version 2 iPod support coming soon!";
    const char* noFolder = "Notes folder not found. Create Notes folder in your iPod root.. exiting";
    const Case cases[] = {
        {"Version1", 1, true, false, "E:", NoteOutcome::OldDevice, old},
        {"Version0", 0, true, false, "E:", NoteOutcome::OldDevice, old},
        {"VersionOutOfRange", 3, true, false, "E:", NoteOutcome::OldDevice, old},
        {"NoNotesFolder", 2, false, false, "E:", NoteOutcome::NoNotesFolder, noFolder},
        {"NotesIsAFile", 2, false, true, "E:", NoteOutcome::NoNotesFolder, noFolder},
        {"DriveGone", 2, true, false, "Q:", NoteOutcome::NoNotesFolder, noFolder},
        {"NoDriveFound", 2, true, false, "0", NoteOutcome::NoNotesFolder, noFolder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDrives drives;
        drives.addIpod(u'E', "", c.notesFolder ? TempDrives::Notes::Present : TempDrives::Notes::Absent);
        if (c.notesIsFile)
            drives.writeFile(u'E', QStringLiteral("\\Notes"), "x");
        const QStringList before = folderEntries(drives.path(u'E', QString()));
        const auto result = saveFiles(drives, QString::fromLatin1(c.drive), kDirections, int16_t(c.version));
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.message, QString::fromLatin1(c.message));
        EXPECT_EQ(result.caption, u"Close");
        EXPECT_EQ(folderEntries(drives.path(u'E', QString())), before);
        if (c.notesFolder) {
            EXPECT_TRUE(folderEntries(drives.path(u'E', QStringLiteral("\\Notes"))).isEmpty());
        }
    }
}

TEST(SaveFiles, RefusesToReplaceAReadOnlyNote)
{
    TempDrives drives;
    drives.addIpod(u'E', "");
    const QString note = drives.writeFile(u'E', kNote, kOldNote);
    ASSERT_TRUE(QFile::setPermissions(note, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    const auto result = saveFiles(drives, QStringLiteral("E:"), kDirections, 2);
    EXPECT_EQ(result.outcome, NoteOutcome::RemovalRefused);
    EXPECT_EQ(result.message, u"Error has occured in removing file.. exiting");
    EXPECT_EQ(result.caption, u"Close");
    EXPECT_EQ(readFile(note), kOldNote);
    EXPECT_EQ(folderEntries(drives.path(u'E', QStringLiteral("\\Notes"))), QStringList{"Tarnwickley.txt"});
}

// Note files that hand out, from the `failFrom`th file created on, a device
// that fails after `limit` bytes, as a device that fills up.
class FillingFiles : public tw::sync::NoteFiles {
public:
    FillingFiles(int failFrom, qint64 limit)
        : m_failFrom(failFrom)
        , m_limit(limit)
    {
    }
    std::unique_ptr<QIODevice> create(const QString& path) const override
    {
        auto file = NoteFiles::create(path);
        if (++created < m_failFrom)
            return file;
        return std::make_unique<tw::test::FailingDevice>(std::move(file), m_limit);
    }
    mutable int created = 0;

private:
    int m_failFrom;
    qint64 m_limit;
};

// Writes that fail at every stage: the old note stays byte for byte, no
// temporary file is left, and one message says that writing failed.
TEST(SaveFiles, KeepsTheOldNoteWhenWritingFailsPartWay)
{
    const qint64 noteSize = tw::sync::noteBytes(kDirections).size();
    for (const qint64 limit : {qint64(0), qint64(1), qint64(10), noteSize - 1}) {
        SCOPED_TRACE(limit);
        TempDrives drives;
        drives.addIpod(u'E', "");
        const QString note = drives.writeFile(u'E', kNote, kOldNote);
        const FillingFiles files(1, limit);
        const auto result = saveFiles(drives, QStringLiteral("E:"), kDirections, 2, files);
        EXPECT_EQ(result.outcome, NoteOutcome::WriteFailed);
        EXPECT_TRUE(result.message.startsWith(u"Writing the note to the iPod failed")) << qPrintable(result.message);
        EXPECT_EQ(result.caption, u"Close");
        EXPECT_EQ(files.created, 1);
        EXPECT_EQ(readFile(note), kOldNote);
        EXPECT_EQ(folderEntries(drives.path(u'E', QStringLiteral("\\Notes"))), QStringList{"Tarnwickley.txt"});
    }
}

TEST(SaveFiles, ReportsAFailureWhenTheNoteCannotBeCreated)
{
    TempDrives drives;
    drives.addIpod(u'E', "");
    const QString note = drives.writeFile(u'E', kNote, kOldNote);
    // Something in the way of the temporary file: a folder of that name.
    drives.makeFolder(u'E', QStringLiteral("\\Notes\\Tarnwickley.txt.new"));
    auto result = saveFiles(drives, QStringLiteral("E:"), kDirections, 2);
    EXPECT_EQ(result.outcome, NoteOutcome::WriteFailed);
    EXPECT_EQ(readFile(note), kOldNote);
    EXPECT_TRUE(QFileInfo(drives.path(u'E', QStringLiteral("\\Notes\\Tarnwickley.txt.new"))).isDir());

    // Note files that cannot open anything.
    QDir(drives.path(u'E', QStringLiteral("\\Notes\\Tarnwickley.txt.new"))).removeRecursively();
    struct Unopened : tw::sync::NoteFiles {
        std::unique_ptr<QIODevice> create(const QString&) const override { return std::make_unique<QBuffer>(); }
    };
    result = saveFiles(drives, QStringLiteral("E:"), kDirections, 2, Unopened());
    EXPECT_EQ(result.outcome, NoteOutcome::WriteFailed);
    EXPECT_EQ(folderEntries(drives.path(u'E', QStringLiteral("\\Notes"))), QStringList{"Tarnwickley.txt"});
}

TEST(SaveFiles, ReportsAFailureWhenANoteNamedFolderIsInTheWay)
{
    TempDrives drives;
    drives.addIpod(u'E', "");
    drives.makeFolder(u'E', kNote);
    const auto result = saveFiles(drives, QStringLiteral("E:"), kDirections, 2);
    EXPECT_EQ(result.outcome, NoteOutcome::WriteFailed);
    EXPECT_EQ(result.caption, u"Close");
    EXPECT_EQ(folderEntries(drives.path(u'E', QStringLiteral("\\Notes"))), QStringList{"Tarnwickley.txt"});
    EXPECT_TRUE(QFileInfo(drives.path(u'E', kNote)).isDir());
}

TEST(SaveFiles, ReportsAFailureOnAReadOnlyNotesFolder)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop root";
    TempDrives drives;
    drives.addIpod(u'E', "");
    const QString note = drives.writeFile(u'E', kNote, kOldNote);
    const QString folder = drives.path(u'E', QStringLiteral("\\Notes"));
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const auto result = saveFiles(drives, QStringLiteral("E:"), kDirections, 2);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(result.outcome, NoteOutcome::WriteFailed);
    EXPECT_EQ(readFile(note), kOldNote);
    EXPECT_EQ(folderEntries(folder), QStringList{"Tarnwickley.txt"});
}

} // namespace
