// The Linux drive table on real mountinfo text over a fake /sys tree.
#include "sync/linux_drive_table.h"
#include "sync/mountinfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using tw::sync::Drive;
using tw::sync::LinuxDriveTable;

// A desktop's mount table: the system's own mounts, a bind mount of the root
// disk, a snap, an iPod on USB (also bind-mounted into a home folder), a card
// reader, a DVD, network shares, a FireWire disk mounted by the desktop under
// /run/media, and a disk whose sub-folder is bind-mounted before its own mount.
const QByteArray kMountinfo =
    "22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
    "23 22 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n"
    "24 22 0:22 / /sys rw,nosuid,nodev,noexec,relatime shared:2 - sysfs sysfs rw\n"
    "25 22 0:5 / /dev rw,nosuid,relatime shared:3 - devtmpfs udev rw,size=8000000k,nr_inodes=2000000,mode=755\n"
    "26 25 0:23 / /dev/pts rw,nosuid,noexec,relatime shared:4 - devpts devpts rw,gid=5,mode=620,ptmxmode=000\n"
    "27 22 0:24 / /run rw,nosuid,nodev,noexec,relatime shared:5 - tmpfs tmpfs rw,size=1600000k,mode=755\n"
    "28 24 0:25 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:9 - cgroup2 cgroup2 rw\n"
    "29 22 259:1 / /boot/efi rw,relatime shared:30 - vfat /dev/nvme0n1p1 rw,fmask=0077,dmask=0077,codepage=437\n"
    "30 22 0:26 / /tmp rw,nosuid,nodev shared:14 - tmpfs tmpfs rw\n"
    "31 22 259:2 /srv/share /export/share rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
    "32 22 7:1 / /snap/core22/1122 ro,nodev,relatime shared:20 - squashfs /dev/loop1 ro\n"
    "33 27 0:40 / /run/user/1000 rw,nosuid,nodev,relatime shared:400 - tmpfs tmpfs rw,size=1600000k,mode=700\n"
    "34 22 8:17 / /media/anna/ANNA\\040IPOD rw,nosuid,nodev,relatime shared:450 - vfat /dev/sdb1 "
    "rw,uid=1000,gid=1000,fmask=0022,dmask=0022,codepage=437,iocharset=ascii,shortname=mixed,showexec,utf8\n"
    "35 22 8:33 / /mnt/back\\134slash\\011tab rw,relatime shared:460 - vfat /dev/sdc1 rw\n"
    "36 22 11:0 / /media/anna/DVD\\012ROM ro,nosuid,nodev,relatime shared:470 - iso9660 /dev/sr0 ro,uid=1000\n"
    "37 22 0:50 / /net/files rw,relatime shared:480 - nfs4 server:/export rw,vers=4.2\n"
    "38 27 8:49 / /run/media/anna/FW\\040DISK rw,nosuid,nodev,relatime shared:490 - hfsplus /dev/sdd rw\n"
    "39 22 8:17 / /home/anna/ipod-bind rw,relatime shared:450 - vfat /dev/sdb1 rw\n"
    "40 22 0:60 / /mnt/share rw,relatime - cifs //nas/share rw\n"
    "41 22 259:3 / /home rw,relatime shared:31 - ext4 /dev/nvme0n1p3 rw\n"
    "42 22 8:65 /photos /mnt/photos rw,relatime - ext4 /dev/sde1 rw\n"
    "43 22 8:65 / /mnt/zdisk rw,relatime - ext4 /dev/sde1 rw\n";

// A /sys tree with the block devices of kMountinfo: /sys/dev/block/MAJ:MIN links
// into /sys/devices, partitions carry a "partition" file, disks a "removable" one.
class FakeSys {
public:
    FakeSys()
    {
        const QString pci = QStringLiteral("devices/pci0000:00/");
        const QString nvme = pci + "0000:00:1d.0/0000:02:00.0/nvme/nvme0/nvme0n1";
        disk(nvme, "0");
        partition("259:1", nvme + "/nvme0n1p1");
        partition("259:2", nvme + "/nvme0n1p2");
        partition("259:3", nvme + "/nvme0n1p3");
        const QString usbDisk = pci + "0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb";
        disk(usbDisk, "0");
        partition("8:17", usbDisk + "/sdb1");
        const QString cardReader = pci + "0000:00:17.0/ata3/host2/target2:0:0/2:0:0:0/block/sdc";
        disk(cardReader, "1");
        partition("8:33", cardReader + "/sdc1");
        const QString dvd = pci + "0000:00:17.0/ata4/host3/target3:0:0/3:0:0:0/block/sr0";
        disk(dvd, "1");
        link("11:0", dvd);
        const QString fireWire = pci + "0000:00:1c.0/0000:03:00.0/fw1/fw1.0/host7/target7:0:0/7:0:0:0/block/sdd";
        disk(fireWire, "0");
        link("8:49", fireWire);
        const QString sata = pci + "0000:00:17.0/ata5/host4/target4:0:0/4:0:0:0/block/sde";
        disk(sata, "0");
        partition("8:65", sata + "/sde1");
    }

    QString root() const { return m_dir.path(); }

    void disk(const QString& path, const QByteArray& removable)
    {
        QDir().mkpath(m_dir.filePath(path));
        write(path + "/removable", removable + "\n");
    }
    void partition(const QString& device, const QString& path)
    {
        QDir().mkpath(m_dir.filePath(path));
        write(path + "/partition", "1\n");
        link(device, path);
    }
    void link(const QString& device, const QString& path)
    {
        QDir().mkpath(m_dir.filePath("dev/block"));
        QFile::link("../../" + path, m_dir.filePath("dev/block/" + device));
    }

private:
    void write(const QString& path, const QByteArray& bytes)
    {
        QFile file(m_dir.filePath(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QTemporaryDir m_dir;
};

std::string describe(const QList<Drive>& drives)
{
    std::string text;
    for (const Drive& drive : drives)
        text += QStringLiteral("%1: %2 [%3]\n").arg(drive.letter).arg(drive.type).arg(drive.root).toStdString();
    return text;
}

TEST(LinuxDriveTable, GivesLettersAndTypesToTheMountsOfADesktop)
{
    const FakeSys sys;
    const QList<Drive> expected = {
        {u'C', 2, "/"},
        {u'D', 2, "/boot/efi"},
        {u'E', 2, "/home"},
        {u'F', 1, "/media/anna/ANNA IPOD"},
        {u'G', 4, "/media/anna/DVD\nROM"},
        {u'H', 1, "/mnt/back\\slash\ttab"},
        {u'I', 3, "/mnt/share"},
        {u'J', 2, "/mnt/zdisk"},
        {u'K', 3, "/net/files"},
        {u'L', 1, "/run/media/anna/FW DISK"},
        {u'M', 5, "/tmp"},
    };
    EXPECT_EQ(describe(LinuxDriveTable::drivesFromMountinfo(kMountinfo, sys.root())), describe(expected));
}

TEST(LinuxDriveTable, ReadsTheMountTableAfreshFromItsFile)
{
    const FakeSys sys;
    QTemporaryDir dir;
    const QString path = dir.filePath("mountinfo");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(kMountinfo.left(kMountinfo.indexOf("30 22")));
    file.close();
    const LinuxDriveTable table(path, sys.root());
    EXPECT_EQ(table.drives().size(), 2);  // C: and /boot/efi

    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(kMountinfo.mid(kMountinfo.indexOf("34 22")));
    file.close();
    EXPECT_EQ(table.drives().size(), 10);

    EXPECT_TRUE(LinuxDriveTable(dir.filePath("missing"), sys.root()).drives().isEmpty());
}

TEST(LinuxDriveTable, NeverCrowdsRemovableDrivesOutPastZ)
{
    const FakeSys sys;
    QByteArray text = "22 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n";
    for (int i = 0; i < 30; ++i)
        text += QStringLiteral("%1 22 0:%1 / /data/d%2 rw - tmpfs tmpfs rw\n").arg(100 + i).arg(i, 2, 10, QLatin1Char('0')).toLatin1();
    text += "200 22 8:17 / /zz/ipod rw - vfat /dev/sdb1 rw\n";
    text += "201 22 8:49 / /zz/z\\040disk rw - hfsplus /dev/sdd rw\n";
    const QList<Drive> drives = LinuxDriveTable::drivesFromMountinfo(text, sys.root());
    ASSERT_EQ(drives.size(), 24) << describe(drives);
    EXPECT_EQ(drives[21].root, "/data/d20");
    EXPECT_EQ(drives[22].letter, u'Y');
    EXPECT_EQ(drives[22].root, "/zz/ipod");
    EXPECT_EQ(drives[23].letter, u'Z');
    EXPECT_EQ(drives[23].type, 1);
}

TEST(LinuxDriveTable, KeepsCForTheRootAndSurvivesAnEmptyOrForeignSys)
{
    // Without /sys every block device reads as fixed; C: is "/" even when the
    // table does not list it.
    const QList<Drive> drives =
        LinuxDriveTable::drivesFromMountinfo("34 22 8:17 / /media/x rw - vfat /dev/sdb1 rw\n", "/nonexistent");
    EXPECT_EQ(describe(drives), describe({{u'C', 2, "/"}, {u'D', 2, "/media/x"}}));
    EXPECT_EQ(describe(LinuxDriveTable::drivesFromMountinfo("", "/nonexistent")), describe({{u'C', 2, "/"}}));
}

TEST(LinuxDriveTable, TakesOnlySrDevicesForOpticalDrives)
{
    const FakeSys sys;
    const QByteArray text = "22 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n"
                            "50 22 11:1 / /media/cd rw - vfat /dev/sr1 rw\n"
                            "51 22 0:70 / /media/src rw - fuse.sshfs anna@host:/home/anna/src rw\n"
                            "52 22 253:0 / /srv rw - ext4 /dev/mapper/srv-data rw\n"
                            "53 22 8:17 / /stick rw - vfat /dev/disk/by-label/srIPOD rw\n";
    const QList<Drive> expected = {
        {u'C', 2, "/"},
        {u'D', 4, "/media/cd"},
        {u'E', 3, "/media/src"},
        {u'F', 2, "/srv"},
        {u'G', 1, "/stick"},
    };
    EXPECT_EQ(describe(LinuxDriveTable::drivesFromMountinfo(text, sys.root())), describe(expected));
}

TEST(Mountinfo, UnescapesOctalEscapesOnly)
{
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"a\\040b", "a b"},         {"\\011\\012\\134", "\t\n\\"}, {"end\\04", "end\\04"},
        {"\\8000", "\\8000"},       {"\\400", "\\400"},            {"\\\\040", "\\ "},
        {"\\377x", "\xffx"},        {"", ""},
    };
    for (const auto& [field, expected] : cases)
        EXPECT_EQ(tw::sync::unescapeMountField(field), expected) << field.constData();
}

TEST(Mountinfo, SkipsLinesOfAnotherShape)
{
    const QByteArray text = "garbage\n"
                            "1 2 3:4 / /no-separator rw\n"
                            "1 2 x:4 / /bad-device rw - ext4 /dev/x rw\n"
                            "1 2 3:4 / relative rw - ext4 /dev/x rw\n"
                            "1 2 3:4 / /short rw -\n"
                            "\n"
                            "1 2 3:4 / /ok rw shared:1 master:2 - ext4 /dev/x rw\r\n"
                            "1 2 3:5 / /last rw - ext4 /dev/y rw";
    const QList<tw::sync::MountEntry> entries = tw::sync::parseMountinfo(text);
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].mountPoint, "/ok");
    EXPECT_EQ(entries[0].fsType, "ext4");
    EXPECT_EQ(entries[1].minor, 5);
    EXPECT_EQ(entries[1].source, "/dev/y");
}

} // namespace
