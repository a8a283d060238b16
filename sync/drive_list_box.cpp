#include "drive_list_box.h"

#include <QSignalBlocker>

namespace tw::sync {
namespace {

QString driveText(const Drive& drive)
{
    const QString letter = QString(drive.letter.toLower()) + u':';
    if (drive.type == kDriveRemovable || drive.type == kDriveCdRom)
        return letter;
    return QStringLiteral("%1 [%2]").arg(letter, drive.root);
}

} // namespace

DriveListBox::DriveListBox(std::shared_ptr<const DriveTable> drives, QWidget* parent)
    : QComboBox(parent)
    , m_drives(std::move(drives))
{
    refresh();
}

void DriveListBox::refresh()
{
    const QSignalBlocker blocker(this);
    const QChar selected = currentIndex() >= 0 ? itemData(currentIndex()).toChar() : QChar();
    clear();
    if (!m_drives)
        return;
    for (const Drive& drive : m_drives->drives())
        addItem(driveText(drive), QVariant::fromValue(drive.letter.toUpper()));
    const int keep = selected.isNull() ? -1 : findData(QVariant::fromValue(selected));
    setCurrentIndex(keep >= 0 ? keep : (count() > 0 ? 0 : -1));
}

QString DriveListBox::drive() const { return currentIndex() >= 0 ? currentText() : QString(); }

bool DriveListBox::setDrive(const QString& driveText)
{
    if (driveText.isEmpty())
        return false;
    const int index = findData(QVariant::fromValue(driveText[0].toUpper()));
    if (index < 0)
        return false;
    setCurrentIndex(index);
    return true;
}

} // namespace tw::sync
