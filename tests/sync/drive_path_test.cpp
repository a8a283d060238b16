// Drive paths resolved under a drive's root without regard to letter case.
#include "sync/drive_path.h"
#include "tests/support/temp_drives.h"

#include <gtest/gtest.h>

namespace {

using tw::sync::localPath;
using tw::test::TempDrives;

TEST(LocalPath, ResolvesEachComponentIgnoringLetterCase)
{
    TempDrives drives;
    const QString root = drives.addDrive(u'E', tw::sync::kDriveRemovable);
    drives.makeFolder(u'E', QStringLiteral("\\Notes"));
    drives.writeFile(u'E', QStringLiteral("\\iPod_Control\\Device\\SysInfo"), "");
    // Two spellings of one name: the exact one wins, else the first in name order.
    drives.makeFolder(u'E', QStringLiteral("\\Music"));
    drives.makeFolder(u'E', QStringLiteral("\\music"));

    struct Case {
        const char* path;
        QString expected;
    };
    const Case cases[] = {
        {"E:", root},
        {"e:\\", root},
        {"E:\\notes\\", root + "/Notes"},
        {"E:\\NOTES\\Tarnwickley.txt", root + "/Notes/Tarnwickley.txt"},
        {"E:/ipod_control/DEVICE/sysinfo", root + "/iPod_Control/Device/SysInfo"},
        {"E:\\\\Notes\\.\\x", root + "/Notes/x"},
        {"E:\\music", root + "/music"},
        {"E:\\MUSIC", root + "/Music"},
        {"E:\\Missing\\Notes", root + "/Missing/Notes"},
        {"E:\\Notes\\..\\..\\etc", QString()},
        {"E:Notes", QString()},
        {"F:\\Notes", QString()},
        {"0", QString()},
        {"", QString()},
        {"1:\\", QString()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(localPath(drives, QString::fromLatin1(c.path)), c.expected) << c.path;
}

} // namespace
