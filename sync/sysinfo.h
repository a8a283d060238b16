#pragma once
// The device's system-information file (\iPod_Control\Device\SysInfo) and the
// device version read from it.
//
// Only the file's first data item is used, read as the program's sequential
// input always read it: leading spaces and tabs are skipped; an item that starts
// with a double quote runs to the closing quote (or the end of the file); any
// other item ends at a comma, a carriage return or the end of the file. A lone
// line feed does not end an item: the devices write their entries on LF-ended
// lines without commas, so the whole file is one item and its "buildID" entry
// (line 8 on real devices) lies inside it. Bytes are Windows-1252.

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <cstdint>

namespace tw::sync {

// At most this many bytes of a SysInfo file are read; a longer file is cut here.
inline constexpr qint64 kMaxSysInfoBytes = 64 * 1024;

// The first data item of `bytes`. Never fails; empty input gives an empty item.
QString firstDataItem(QByteArrayView bytes);

// The first data item of the file at `path`, reading no more than
// kMaxSysInfoBytes. Returns false (and leaves `item` empty) when the file cannot
// be opened or read.
bool readFirstDataItem(const QString& path, QString& item);

// The device version an item stands for: the character 21 places after the "b"
// of the first case-sensitive "buildID" (the leading digit of the version in
// "buildID: 0x02308000 (2.3)"), or the item's 21st character when the word is
// absent. Returns 1 for the digit 1 and 2 for any other digit. A character that
// is no digit, or none at all, also gives 2: the file exists, so a device is
// there, and the devices that leave it empty are all of version 2 or later.
int16_t versionFromItem(QStringView item);

} // namespace tw::sync
