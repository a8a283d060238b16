#include "linux_drive_table.h"

#include "mountinfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>

namespace tw::sync {
namespace {

// More than any real mount table holds; a larger file is cut here.
constexpr qint64 kMaxMountinfoBytes = 8 * 1024 * 1024;

bool isPseudoFileSystem(const QString& fsType)
{
    static const QSet<QString> kPseudo = {
        QStringLiteral("proc"),       QStringLiteral("sysfs"),      QStringLiteral("devtmpfs"),
        QStringLiteral("devpts"),     QStringLiteral("cgroup"),     QStringLiteral("cgroup2"),
        QStringLiteral("securityfs"), QStringLiteral("pstore"),     QStringLiteral("bpf"),
        QStringLiteral("debugfs"),    QStringLiteral("tracefs"),    QStringLiteral("configfs"),
        QStringLiteral("fusectl"),    QStringLiteral("mqueue"),     QStringLiteral("hugetlbfs"),
        QStringLiteral("autofs"),     QStringLiteral("binfmt_misc"), QStringLiteral("efivarfs"),
        QStringLiteral("rpc_pipefs"), QStringLiteral("nsfs"),       QStringLiteral("selinuxfs"),
        QStringLiteral("squashfs"),   QStringLiteral("fuse.gvfsd-fuse"), QStringLiteral("fuse.portal"),
        QStringLiteral("nfsd"),       QStringLiteral("ramfs-internal"),
    };
    return kPseudo.contains(fsType);
}

bool isUnder(const QString& path, QStringView folder)
{
    return path == folder || (path.startsWith(folder) && path.size() > folder.size() && path[folder.size()] == u'/');
}

// Mounts that are the system's own plumbing rather than storage a user would see.
bool isSystemMountPoint(const QString& mountPoint)
{
    if (isUnder(mountPoint, u"/run/media"))
        return false;
    return isUnder(mountPoint, u"/proc") || isUnder(mountPoint, u"/sys") || isUnder(mountPoint, u"/dev")
        || isUnder(mountPoint, u"/run");
}

QByteArray readSmallFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(64).trimmed();
}

// Whether one component of a sysfs device path names a USB or FireWire bus node
// ("usb2", "fw1", "fw1.0").
bool isHotplugBusComponent(const QString& component)
{
    for (const QStringView prefix : {QStringView(u"usb"), QStringView(u"fw")}) {
        if (component.startsWith(prefix) && component.size() > prefix.size() && component[prefix.size()].isDigit())
            return true;
    }
    return false;
}

bool isRemovableBlockDevice(const QString& sysRoot, int major, int minor)
{
    if (major == 0)
        return false;  // anonymous devices (tmpfs, btrfs subvolumes, ...) have no disk
    const QString link = QStringLiteral("%1/dev/block/%2:%3").arg(sysRoot).arg(major).arg(minor);
    QString device = QFileInfo(link).canonicalFilePath();
    if (device.isEmpty())
        return false;
    if (QFileInfo::exists(device + QStringLiteral("/partition")))
        device = QFileInfo(device).path();
    if (readSmallFile(device + QStringLiteral("/removable")) == "1")
        return true;
    const QStringList components = device.split(u'/', Qt::SkipEmptyParts);
    return std::any_of(components.begin(), components.end(), isHotplugBusComponent);
}

// An optical drive's device: "sr" and its number ("/dev/sr0"), not any source
// whose name merely begins with those letters ("host:/home/src", "/dev/mapper/srv-data").
bool isOpticalDevice(const QString& source)
{
    const QString name = QFileInfo(source).fileName();
    return name.size() > 2 && name.startsWith(u"sr")
        && std::all_of(name.begin() + 2, name.end(), [](QChar c) { return c.isDigit(); });
}

int driveType(const MountEntry& mount, const QString& sysRoot)
{
    const QString& fs = mount.fsType;
    if (fs == u"iso9660" || fs == u"udf" || isOpticalDevice(mount.source))
        return kDriveCdRom;
    if (fs == u"nfs" || fs == u"nfs4" || fs == u"cifs" || fs == u"smb3" || fs == u"smbfs" || fs == u"sshfs"
        || fs == u"fuse.sshfs")
        return kDriveNetwork;
    if (fs == u"tmpfs" || fs == u"ramfs")
        return kDriveRamDisk;
    if (isRemovableBlockDevice(sysRoot, mount.major, mount.minor))
        return kDriveRemovable;
    return kDriveFixed;
}

struct Candidate {
    MountEntry mount;
    int type = kDriveUnknown;
};

} // namespace

LinuxDriveTable::LinuxDriveTable(QString mountinfoPath, QString sysRoot)
    : m_mountinfoPath(std::move(mountinfoPath))
    , m_sysRoot(std::move(sysRoot))
{
}

QList<Drive> LinuxDriveTable::drives() const
{
    QFile file(m_mountinfoPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // /proc files report no size, so read up to the cap rather than by size.
    const QByteArray text = file.read(kMaxMountinfoBytes);
    return drivesFromMountinfo(text, m_sysRoot);
}

QList<Drive> LinuxDriveTable::drivesFromMountinfo(QByteArrayView text, const QString& sysRoot)
{
    // One mount per device: the root of the machine wins, then a mount of the file
    // system's own root folder, then the first listed.
    QList<MountEntry> kept;
    QHash<quint64, qsizetype> byDevice;
    for (const MountEntry& mount : parseMountinfo(text)) {
        const bool isMachineRoot = mount.mountPoint == u"/";
        if (!isMachineRoot && (isPseudoFileSystem(mount.fsType) || isSystemMountPoint(mount.mountPoint)))
            continue;
        const quint64 device = (quint64(quint32(mount.major)) << 32) | quint32(mount.minor);
        const auto found = byDevice.constFind(device);
        if (found == byDevice.constEnd()) {
            byDevice.insert(device, kept.size());
            kept.append(mount);
            continue;
        }
        MountEntry& earlier = kept[*found];
        const bool earlierIsRoot = earlier.mountPoint == u"/";
        if (!earlierIsRoot && (isMachineRoot || (earlier.root != u"/" && mount.root == u"/")))
            earlier = mount;
    }

    QList<Drive> result;
    QList<Candidate> others;
    Drive systemDrive{QChar(u'C'), kDriveFixed, QStringLiteral("/")};
    for (const MountEntry& mount : kept) {
        const int type = driveType(mount, sysRoot);
        if (mount.mountPoint == u"/")
            systemDrive.type = type;
        else
            others.append({mount, type});
    }
    result.append(systemDrive);

    std::stable_sort(others.begin(), others.end(),
                     [](const Candidate& a, const Candidate& b) { return a.mount.mountPoint < b.mount.mountPoint; });
    // D: to Z:. When there are more drives than letters, drop non-removable drives
    // from the end of the order until the rest fit.
    constexpr qsizetype kLetters = 'Z' - 'D' + 1;
    qsizetype surplus = others.size() - kLetters;
    for (qsizetype i = others.size() - 1; i >= 0 && surplus > 0; --i) {
        if (others[i].type != kDriveRemovable) {
            others.removeAt(i);
            --surplus;
        }
    }
    if (others.size() > kLetters)
        others.resize(kLetters);
    char letter = 'D';
    for (const Candidate& candidate : others)
        result.append({QChar(QLatin1Char(letter++)), candidate.type, candidate.mount.mountPoint});
    return result;
}

} // namespace tw::sync
