// Finding the iPod among the drives and reading its device version from SysInfo.
#include "sync/device_detection.h"
#include "sync/sysinfo.h"
#include "tests/support/temp_drives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using tw::sync::detectIpodDrive;
using tw::sync::detectIpodVersion;
using tw::test::TempDrives;

const QString kSysInfo = QStringLiteral("\\iPod_Control\\Device\\SysInfo");

TEST(DetectIpodDrive, ReturnsTheFirstRemovableDriveHoldingSysInfo)
{
    TempDrives drives;
    drives.addDrive(u'C', tw::sync::kDriveFixed);
    drives.addIpod(u'G', "buildID: 0x02308000 (2.3)\n");
    drives.addIpod(u'E', "buildID: 0x01008000 (1.0)\n");
    bool found = false;
    EXPECT_EQ(detectIpodDrive(drives, found), u"E:");
    EXPECT_TRUE(found);
}

TEST(DetectIpodDrive, SkipsDrivesThatAreNotADevice)
{
    TempDrives drives;
    // A fixed disk, a network drive and a CD-ROM holding the file, a removable
    // drive without it, and a removable drive whose medium is gone.
    for (const auto& [letter, type] : {std::pair{u'C', tw::sync::kDriveFixed}, {u'D', tw::sync::kDriveNetwork},
                                       {u'F', tw::sync::kDriveCdRom}, {u'H', tw::sync::kDriveUnknown}}) {
        drives.addDrive(letter, type);
        drives.writeFile(letter, kSysInfo, "buildID: 0x02308000 (2.3)\n");
    }
    drives.addDrive(u'E', tw::sync::kDriveRemovable);
    drives.addIpod(u'I', "");
    drives.removeMedium(u'I');
    bool found = false;
    EXPECT_EQ(detectIpodDrive(drives, found), u"0");
    EXPECT_FALSE(found);

    // A SysInfo that is a folder is no file.
    drives.addDrive(u'J', tw::sync::kDriveRemovable);
    drives.makeFolder(u'J', kSysInfo);
    EXPECT_EQ(detectIpodDrive(drives, found), u"0");

    drives.addIpod(u'K', "");
    EXPECT_EQ(detectIpodDrive(drives, found), u"K:");
    EXPECT_TRUE(found);
}

TEST(DetectIpodDrive, LeavesTheFoundFlagAsItWasWhenNothingIsFound)
{
    TempDrives drives;
    drives.addDrive(u'C', tw::sync::kDriveFixed);
    bool found = true;
    EXPECT_EQ(detectIpodDrive(drives, found), u"0");
    EXPECT_TRUE(found);
}

TEST(DetectIpodDrive, FindsTheFileWhateverTheLetterCaseOfItsFolders)
{
    TempDrives drives;
    drives.addDrive(u'E', tw::sync::kDriveRemovable);
    drives.writeFile(u'E', QStringLiteral("\\IPOD_CONTROL\\device\\sysinfo"), "buildID: 0x01008000 (1.0)\n");
    bool found = false;
    EXPECT_EQ(detectIpodDrive(drives, found), u"E:");
    EXPECT_EQ(detectIpodVersion(drives, QStringLiteral("e:")), 1);
}

struct VersionCase {
    const char* name;
    QByteArray sysInfo;
    int version;
};

class DetectIpodVersion : public testing::TestWithParam<VersionCase> {};

TEST_P(DetectIpodVersion, ReadsTheVersionFromTheFirstDataItem)
{
    TempDrives drives;
    drives.addIpod(u'E', GetParam().sysInfo);
    EXPECT_EQ(detectIpodVersion(drives, QStringLiteral("E:")), GetParam().version);
}

// The first line's 21st character (index 20) is '1' in kDecoy, so reading past
// where the item ends, or not at all, shows in the result.
const QByteArray kDecoy = "ModelNumStr: M8976  1";

INSTANTIATE_TEST_SUITE_P(
    Cases, DetectIpodVersion,
    testing::Values(
        VersionCase{"Digit0", "buildID: 0x00008000 (0.0)\n", 2},
        VersionCase{"Digit1", "buildID: 0x01008000 (1.0)\n", 1},
        VersionCase{"Digit2", "buildID: 0x02308000 (2.3)\n", 2},
        VersionCase{"Digit3", "buildID: 0x03118000 (3.1.1)\n", 2},
        VersionCase{"WordLaterInTheFileAcrossLoneLineFeeds",
                    "BoardHwName: iPod Q14\npszSerialNumber: X\nbuildID: 0x01008000 (1.0)\n", 1},
        // With a capital B the word is not found; the item's 21st character decides.
        VersionCase{"CapitalBIsNotTheWord", "BuildID: 0x01008000 (1.0)\n", 2},
        VersionCase{"CapitalBLeavesThe21stCharacter", kDecoy + "\nBuildID: 0x01008000 (1.0)\n", 1},
        VersionCase{"VisibleBuildIDIsNotTheWord", "visibleBuildID: 0x01008000 (1.0)\n", 2},
        VersionCase{"CommaEndsTheItemBeforeTheWord", "Serial: X, buildID: 0x01008000 (1.0)\n", 2},
        VersionCase{"CarriageReturnEndsTheItem", "BoardHwName: iPod Q14\r\nbuildID: 0x01008000 (1.0)\r\n", 2},
        VersionCase{"CrLfFileWithTheWordOnTheFirstLine", "buildID: 0x01008000 (1.0)\r\nvisibleBuildID: x\r\n", 1},
        VersionCase{"LeadingBlanksSkipped", " \t buildID: 0x01008000 (1.0)\n", 1},
        VersionCase{"QuotedItemKeepsItsComma", "\"a, buildID: 0x01008000 (1.0)\", rest", 1},
        VersionCase{"UnclosedQuoteRunsToTheEnd", "\"buildID: 0x01008000 (1.0)", 1},
        VersionCase{"EmptyFile", "", 2},
        VersionCase{"ItemTooShort", "buildID: 0x01", 2},
        VersionCase{"NoDigitWhereTheVersionBelongs", "buildID: 0x01008000 (x.0)\n", 2},
        VersionCase{"BinaryBytes", QByteArray("\x00\xff\x01\x80\r\n\x00buildID\x00", 14), 2}),
    [](const testing::TestParamInfo<VersionCase>& param) { return std::string(param.param.name); });

TEST(DetectIpodVersionFile, IsZeroWithoutASysInfoFile)
{
    TempDrives drives;
    drives.addDrive(u'E', tw::sync::kDriveRemovable);
    drives.addDrive(u'F', tw::sync::kDriveRemovable);
    drives.makeFolder(u'F', kSysInfo);
    for (const char* drive : {"E:", "F:", "0", "", "Q:", "E", "E:x", "c: [/]"})
        EXPECT_EQ(detectIpodVersion(drives, QString::fromLatin1(drive)), 0) << drive;
}

TEST(DetectIpodVersionFile, ReadsNoMoreThanTheCapOfAHugeFile)
{
    TempDrives drives;
    QByteArray huge(tw::sync::kMaxSysInfoBytes, 'x');
    drives.addIpod(u'E', huge + "buildID: 0x01008000 (1.0)\n" + QByteArray(1 << 20, 'y'));
    EXPECT_EQ(detectIpodVersion(drives, QStringLiteral("E:")), 2);

    drives.addIpod(u'F', "buildID: 0x01008000 (1.0)\n" + QByteArray(4 << 20, 'y'));
    EXPECT_EQ(detectIpodVersion(drives, QStringLiteral("F:")), 1);
    EXPECT_EQ(tw::sync::firstDataItem(QByteArray(tw::sync::kMaxSysInfoBytes, 'z')).size(),
              tw::sync::kMaxSysInfoBytes);
}

TEST(DetectIpodVersionFile, AnUnreadableFileStillMeansADevice)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop root";
    TempDrives drives;
    drives.addIpod(u'E', "buildID: 0x01008000 (1.0)\n");
    QFile::setPermissions(drives.path(u'E', kSysInfo), QFileDevice::Permissions());
    EXPECT_EQ(detectIpodVersion(drives, QStringLiteral("E:")), 2);
}

TEST(DetectIpodVersionFile, RealDevicesAreAllVersion2)
{
    const QDir fixtures(QStringLiteral(TW_FIXTURES_DIR "/sysinfo"));
    const QStringList files = {"ipod-3g.txt", "ipod-4g.txt", "ipod-4g-photo.txt", "ipod-mini-1g.txt",
                               "ipod-mini-2g.txt"};
    if (!fixtures.exists(files.first()))
        GTEST_SKIP() << "no SysInfo fixtures at " << qPrintable(fixtures.path());
    TempDrives drives;
    char letter = 'E';
    for (const QString& name : files) {
        SCOPED_TRACE(qPrintable(name));
        // The real file is linked onto the drive, not copied.
        const QChar drive = QLatin1Char(letter++);
        drives.addDrive(drive, tw::sync::kDriveRemovable);
        const QString sysInfo = drives.path(drive, kSysInfo);
        QDir().mkpath(QFileInfo(sysInfo).path());
        ASSERT_TRUE(QFile::link(fixtures.absoluteFilePath(name), sysInfo));

        QString item;
        ASSERT_TRUE(tw::sync::readFirstDataItem(sysInfo, item));
        EXPECT_TRUE(item.contains(u"visibleBuildID")) << "the item stopped at a line feed";
        EXPECT_EQ(detectIpodVersion(drives, QString(drive) + u':'), 2);
    }
    bool found = false;
    EXPECT_EQ(detectIpodDrive(drives, found), u"E:");
}

} // namespace
