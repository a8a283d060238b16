#include "number_text.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace tw::number {
namespace {

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Strips `sign` or the locale's spelling of it from the front of `text`.
bool takeSign(QStringView& text, QChar sign, const QString& localeSign)
{
    if (text.startsWith(sign)) {
        text = text.sliced(1);
        return true;
    }
    if (!localeSign.isEmpty() && text.startsWith(localeSign)) {
        text = text.sliced(localeSign.size());
        return true;
    }
    return false;
}

} // namespace

std::optional<int32_t> parseLong(QStringView text, const QLocale& locale)
{
    text = text.trimmed();
    const bool negative = takeSign(text, u'-', locale.negativeSign());
    if (!negative)
        takeSign(text, u'+', locale.positiveSign());

    // Whole part, kept exact while it can still fit; beyond that only "too big" matters.
    constexpr int64_t kBeyondRange = int64_t { 1 } << 32;
    int64_t whole = 0;
    qsizetype pos = 0;
    qsizetype digits = 0;
    while (pos < text.size() && isAsciiDigit(text[pos])) {
        whole = std::min(whole * 10 + (text[pos].unicode() - u'0'), kBeyondRange);
        ++pos;
        ++digits;
    }

    // Fraction: only its first digit and whether anything nonzero follows it count.
    int firstFractionDigit = 0;
    bool restNonZero = false;
    const QString separator = locale.decimalPoint();
    if (!separator.isEmpty() && text.sliced(pos).startsWith(separator)) {
        pos += separator.size();
        bool first = true;
        while (pos < text.size() && isAsciiDigit(text[pos])) {
            const int digit = text[pos].unicode() - u'0';
            if (first)
                firstFractionDigit = digit;
            else if (digit != 0)
                restNonZero = true;
            first = false;
            ++pos;
            ++digits;
        }
    }
    if (digits == 0 || pos != text.size())
        return std::nullopt;

    const bool roundUp
        = firstFractionDigit > 5 || (firstFractionDigit == 5 && (restNonZero || whole % 2 == 1));
    if (roundUp)
        ++whole;
    const int64_t result = negative ? -whole : whole;
    if (result < std::numeric_limits<int32_t>::min() || result > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(result);
}

int32_t roundToLong(double value)
{
    // nearbyint rounds halves to even under the default rounding mode.
    const double rounded = std::nearbyint(value);
    if (!(rounded >= std::numeric_limits<int32_t>::min() && rounded <= std::numeric_limits<int32_t>::max()))
        throw std::range_error("value does not fit in a 32-bit integer");
    return static_cast<int32_t>(rounded);
}

QString formatNumber(double value, const QLocale& locale)
{
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    QString text = plain.toString(value, 'f', 6);
    const QString separator = plain.decimalPoint();
    if (text.contains(separator)) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(separator))
            text.chop(separator.size());
    }
    return text;
}

} // namespace tw::number
