#include "temp_drives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <stdexcept>

namespace tw::test {

TempDrives::TempDrives()
{
    if (!m_dir.isValid())
        throw std::runtime_error("no temporary folder for the test drives");
}

QString TempDrives::addDrive(QChar letter, int type)
{
    const QString root = m_dir.filePath(QStringLiteral("drive-%1-%2").arg(letter.toUpper()).arg(++m_folders));
    QDir().mkpath(root);
    m_drives.append({letter.toUpper(), type, root});
    sortByLetter();
    return root;
}

QString TempDrives::addIpod(QChar letter, const QByteArray& sysInfo, Notes notes)
{
    const QString root = addDrive(letter, tw::sync::kDriveRemovable);
    writeFile(letter, QStringLiteral("\\iPod_Control\\Device\\SysInfo"), sysInfo);
    if (notes == Notes::Present)
        makeFolder(letter, QStringLiteral("\\Notes"));
    return root;
}

QString TempDrives::path(QChar letter, const QString& relative) const
{
    for (const tw::sync::Drive& drive : m_drives) {
        if (drive.letter == letter.toUpper()) {
            QString local = relative;
            local.replace(u'\\', u'/');
            return QDir::cleanPath(drive.root + u'/' + local);
        }
    }
    throw std::invalid_argument("no such test drive");
}

QString TempDrives::writeFile(QChar letter, const QString& relative, const QByteArray& bytes)
{
    const QString local = path(letter, relative);
    QDir().mkpath(QFileInfo(local).path());
    QFile file(local);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write a test file");
    return local;
}

QString TempDrives::makeFolder(QChar letter, const QString& relative)
{
    const QString local = path(letter, relative);
    QDir().mkpath(local);
    return local;
}

void TempDrives::removeMedium(QChar letter) { QDir(path(letter, QString())).removeRecursively(); }

void TempDrives::moveDrive(QChar from, QChar to)
{
    for (tw::sync::Drive& drive : m_drives) {
        if (drive.letter == from.toUpper())
            drive.letter = to.toUpper();
    }
    sortByLetter();
}

void TempDrives::removeDrive(QChar letter)
{
    removeMedium(letter);
    m_drives.removeIf([&](const tw::sync::Drive& drive) { return drive.letter == letter.toUpper(); });
}

void TempDrives::sortByLetter()
{
    std::sort(m_drives.begin(), m_drives.end(),
              [](const tw::sync::Drive& a, const tw::sync::Drive& b) { return a.letter < b.letter; });
}

QList<tw::sync::Drive> TempDrives::drives() const { return m_drives; }

} // namespace tw::test
