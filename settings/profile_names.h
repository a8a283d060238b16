#pragma once
// Name rules shared by the settings-file engine.
//
// Section and key names match without regard to letter case: each byte is folded
// through the Windows-1252 code page (so 'É' matches 'é', 'Š' matches 'š'). A
// caller's names lose surrounding spaces (only spaces); names and values in the
// file lose surrounding blanks (space, tab and vertical tab).

#include <QByteArrayView>

namespace tw::profile {

// True for the bytes that surround names and values in the file without meaning.
constexpr bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v';
}

// `name` without leading and trailing spaces (the caller's names).
QByteArrayView withoutSurroundingSpaces(QByteArrayView name);

// `text` without leading and trailing blanks (names and values in the file).
QByteArrayView withoutSurroundingBlanks(QByteArrayView text);

// True when `a` and `b` are the same name apart from letter case.
bool sameName(QByteArrayView a, QByteArrayView b);

} // namespace tw::profile
