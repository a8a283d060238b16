#pragma once
// Windows-1252, the 8-bit code page of the settings file, the device note and the
// device's SysInfo file.
//
// Decoding maps every one of the 256 bytes to a character (the five bytes the code
// page leaves unassigned, 0x81 0x8D 0x8F 0x90 0x9D, map to U+0081 and so on), so
// decoding never fails and decode(encode(x)) == x for every text the code page holds.
//
// Encoding writes each character the code page holds as its byte. A character it
// lacks becomes the closest one it has, as Windows' default conversion does: a
// letter followed by combining marks is composed first (e and a combining acute
// is é); what still does not fit loses the marks of its decomposition (ź is z,
// ğ is g); letters without a decomposition come from a short table (Ł is L, đ is
// d, ı is i). Only what none of these reaches becomes '?', one per character
// (an emoji is one '?').

#include <QByteArray>
#include <QString>

namespace tw::codepage {

QString decode(const QByteArray& bytes);
QString decode(const char* data, qsizetype size);
QByteArray encode(const QString& text);

// True when `c` has a byte of its own in the code page (no closest letter).
bool canEncode(QChar c);

} // namespace tw::codepage
