#include "directions/web/input_value.h"

#include "directions/web/html_element.h"

#include <QColor>
#include <QDate>
#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <optional>

using namespace Qt::StringLiterals;

namespace tw::web {
namespace {

bool isAsciiWhitespace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r';
}

QString stripNewlines(QString text)
{
    return text.remove(u'\r').remove(u'\n');
}

QString trimAsciiWhitespace(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && isAsciiWhitespace(text.at(first))) {
        ++first;
    }
    while (last > first && isAsciiWhitespace(text.at(last - 1))) {
        --last;
    }
    return text.mid(first, last - first);
}

// A floating-point number as HTML writes it ("-1.5", ".5", "1e3"; not "+1",
// "1." or "Infinity").
std::optional<double> parseNumber(const QString& text)
{
    static const QRegularExpression kNumber(u"^-?(\\d+|\\d*\\.\\d+)([eE][-+]?\\d+)?$"_s);
    if (!kNumber.match(text).hasMatch()) {
        return std::nullopt;
    }
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value == 0 ? 0.0 : value; // no "-0"
}

QString formatNumber(double value)
{
    return QString::number(value == 0 ? 0.0 : value, 'g', QLocale::FloatingPointShortest);
}

// The value of a range input: a number between min and max (0 and 100 by
// default) on a step (1 by default) from min; text that is no number gives
// the middle of the range.
QString sanitizeRange(const QString& value, const HtmlElement& input)
{
    const double min = parseNumber(input.getAttribute(u"min"_s)).value_or(0.0);
    double max = parseNumber(input.getAttribute(u"max"_s)).value_or(100.0);
    if (max < min) {
        max = min;
    }
    double number = parseNumber(value).value_or(min + (max - min) / 2);
    number = std::clamp(number, min, max);
    const QString stepText = input.getAttribute(u"step"_s).trimmed();
    if (stepText.compare(u"any", Qt::CaseInsensitive) != 0) {
        double step = parseNumber(stepText).value_or(1.0);
        if (step <= 0) {
            step = 1.0;
        }
        double aligned = min + std::floor((number - min) / step + 0.5) * step;
        if (aligned > max) {
            aligned -= step;
        }
        number = aligned;
    }
    return formatNumber(number);
}

// A colour as "#rrggbb" in lower case: from "#rrggbb", "#rgb" or a colour
// name ("red"); anything else is black.
QString sanitizeColor(const QString& value)
{
    static const QRegularExpression kHexOrName(u"^(#[0-9a-fA-F]{3}|#[0-9a-fA-F]{6}|[a-zA-Z]+)$"_s);
    const QString text = trimAsciiWhitespace(value);
    if (!kHexOrName.match(text).hasMatch() || text.compare(u"transparent", Qt::CaseInsensitive) == 0) {
        return u"#000000"_s;
    }
    const QColor color = QColor::fromString(text);
    return color.isValid() ? color.name(QColor::HexRgb) : u"#000000"_s;
}

bool validDate(int year, int month, int day)
{
    return year > 0 && QDate(year, month, day).isValid();
}

// "YYYY-MM-DD" with a year of four or more digits.
bool isDate(const QString& text)
{
    static const QRegularExpression kDate(u"^(\\d{4,})-(\\d\\d)-(\\d\\d)$"_s);
    const auto m = kDate.match(text);
    return m.hasMatch() && validDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
}

bool isMonth(const QString& text)
{
    static const QRegularExpression kMonth(u"^(\\d{4,})-(\\d\\d)$"_s);
    const auto m = kMonth.match(text);
    return m.hasMatch() && validDate(m.captured(1).toInt(), m.captured(2).toInt(), 1);
}

bool isWeek(const QString& text)
{
    static const QRegularExpression kWeek(u"^(\\d{4,})-W(\\d\\d)$"_s);
    const auto m = kWeek.match(text);
    if (!m.hasMatch()) {
        return false;
    }
    const int year = m.captured(1).toInt();
    const int week = m.captured(2).toInt();
    if (year <= 0 || week < 1) {
        return false;
    }
    // A year has 53 weeks when it starts on a Thursday, or is a leap year
    // starting on a Wednesday.
    const int firstDay = QDate(year, 1, 1).dayOfWeek();
    const bool long53 = firstDay == 4 || (firstDay == 3 && QDate::isLeapYear(year));
    return week <= (long53 ? 53 : 52);
}

// "HH:MM", "HH:MM:SS" or "HH:MM:SS.sss".
bool isTime(const QString& text)
{
    static const QRegularExpression kTime(u"^([01]\\d|2[0-3]):[0-5]\\d(:[0-5]\\d(\\.\\d{1,3})?)?$"_s);
    return kTime.match(text).hasMatch();
}

// The shortest form of a valid time: no ":00" seconds, no trailing zeros in
// the fraction.
QString shortestTime(QString time)
{
    if (time.contains(u'.')) {
        while (time.endsWith(u'0')) {
            time.chop(1);
        }
        if (time.endsWith(u'.')) {
            time.chop(1);
        }
    }
    if (time.size() == 8 && time.endsWith(u":00")) {
        time.chop(3);
    }
    return time;
}

QString sanitizeDateTimeLocal(const QString& value)
{
    const qsizetype separator = value.indexOf(QRegularExpression(u"[T ]"_s));
    if (separator < 0 || !isDate(value.left(separator)) || !isTime(value.mid(separator + 1))) {
        return QString(u""_s);
    }
    return value.left(separator) + u'T' + shortestTime(value.mid(separator + 1));
}

} // namespace

QString sanitizeInputValue(const QString& type, const QString& value, const HtmlElement& input)
{
    if (type == u"text" || type == u"search" || type == u"tel" || type == u"password") {
        return stripNewlines(value);
    }
    if (type == u"url") {
        return trimAsciiWhitespace(stripNewlines(value));
    }
    if (type == u"email") {
        const QString oneLine = stripNewlines(value);
        if (!input.hasAttribute(u"multiple"_s)) {
            return trimAsciiWhitespace(oneLine);
        }
        QStringList addresses = oneLine.split(u',');
        for (QString& address : addresses) {
            address = trimAsciiWhitespace(address);
        }
        return addresses.join(u',');
    }
    if (type == u"number") {
        return parseNumber(value) ? value : QString(u""_s);
    }
    if (type == u"range") {
        return sanitizeRange(value, input);
    }
    if (type == u"color") {
        return sanitizeColor(value);
    }
    if (type == u"date") {
        return isDate(value) ? value : QString(u""_s);
    }
    if (type == u"month") {
        return isMonth(value) ? value : QString(u""_s);
    }
    if (type == u"week") {
        return isWeek(value) ? value : QString(u""_s);
    }
    if (type == u"time") {
        return isTime(value) ? value : QString(u""_s);
    }
    if (type == u"datetime-local") {
        return sanitizeDateTimeLocal(value);
    }
    return value;
}

} // namespace tw::web
