#pragma once
// Conversions between numbers and text under a locale, as the settings class
// needs them: reading a whole number back from the file, and writing a window's
// position in a form that reading accepts again under the same locale.

#include <QLocale>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace tw::number {

// `text` as a signed 32-bit integer, or nothing when it is no number or out of
// range. Accepted: blanks around the number, one optional sign ('+', '-' or the
// locale's signs), decimal digits, and a fraction after the locale's decimal
// separator. A fraction rounds to the nearest integer, halves to the even one.
// Rounding is exact (the digits are never turned into a floating-point value).
std::optional<int32_t> parseLong(QStringView text, const QLocale& locale);

// `value` rounded to the nearest integer, halves to the even one. Throws
// std::range_error when it is not a number or does not fit in 32 bits.
int32_t roundToLong(double value);

// `value` as text: whole numbers as plain digits, others with the locale's
// decimal separator and no digit grouping, so that parseLong reads them back.
QString formatNumber(double value, const QLocale& locale);

} // namespace tw::number
