#include "cinifile.h"

#include "code_page.h"
#include "form_window.h"
#include "number_text.h"
#include "profile_strings.h"

#include <QLocale>

#include <limits>
#include <stdexcept>

namespace tw {
namespace {

// Buffer sizes of the reads: a key's value, and a name list.
constexpr qsizetype kValueBufferSize = 255;
constexpr qsizetype kListBufferSize = 8192;

// Reads through the engine into a buffer of `size` chars and returns the chars the
// call placed, decoded; the text is cut at that count, not searched for a NUL.
QString readText(const QByteArray* section, const QByteArray* key, const QString& defaultText, qsizetype size,
    const QString& path)
{
    QByteArray buffer(size, '\0');
    const QByteArray fallback = codepage::encode(defaultText);
    const qsizetype count = profile::readProfileString(section != nullptr ? section->constData() : nullptr,
        key != nullptr ? key->constData() : nullptr, fallback.constData(), buffer.data(), size, path);
    return codepage::decode(buffer.constData(), count);
}

int32_t writeText(const QString& section, const QString* key, const QString* value, const QString& path)
{
    const QByteArray sectionBytes = codepage::encode(section);
    const QByteArray keyBytes = key != nullptr ? codepage::encode(*key) : QByteArray();
    const QByteArray valueBytes = value != nullptr ? codepage::encode(*value) : QByteArray();
    return profile::writeProfileString(sectionBytes.constData(),
        key != nullptr ? keyBytes.constData() : nullptr, value != nullptr ? valueBytes.constData() : nullptr,
        path);
}

// Splits a name list at its NULs; text after the last NUL is not taken.
enum class EmptyNames { Keep, Skip };
void splitNameList(const QString& list, EmptyNames emptyNames, QStringList& names, int32_t& count)
{
    names.clear();
    count = 0;
    qsizetype start = 0;
    for (qsizetype pos = list.indexOf(QChar(u'\0')); pos >= 0; pos = list.indexOf(QChar(u'\0'), start)) {
        if (pos != start || emptyNames == EmptyNames::Keep) {
            names.append(list.mid(start, pos - start));
            ++count;
        }
        start = pos + 1;
    }
}

// left + width as the 32-bit sum it is; throws when it overflows.
int32_t checkedSum(int32_t a, int32_t b)
{
    int32_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        throw std::overflow_error("32-bit overflow");
    return sum;
}

} // namespace

int32_t cInifile::LastReturnCode() const
{
    return m_lLastReturnCode;
}

bool cInifile::Success() const
{
    return m_lLastReturnCode != 0;
}

void cInifile::Default(const QString& sDefault)
{
    m_sDefault = sDefault;
}

QString cInifile::Default() const
{
    return m_sDefault;
}

void cInifile::Path(const QString& sPath)
{
    m_sPath = sPath;
}

QString cInifile::Path() const
{
    return m_sPath;
}

void cInifile::Key(const QString& sKey)
{
    m_sKey = sKey;
}

QString cInifile::Key() const
{
    return m_sKey;
}

void cInifile::Section(const QString& sSection)
{
    m_sSection = sSection;
}

QString cInifile::Section() const
{
    return m_sSection;
}

QString cInifile::Value() const
{
    const QByteArray section = codepage::encode(m_sSection);
    const QByteArray key = codepage::encode(m_sKey);
    return readText(&section, &key, m_sDefault, kValueBufferSize, m_sPath);
}

void cInifile::Value(const QString& sValue)
{
    QString cleaned = sValue;
    cleaned.remove(QChar(u'\0'));
    m_lLastReturnCode = writeText(m_sSection, &m_sKey, &cleaned, m_sPath);
}

void cInifile::DeleteKey()
{
    m_lLastReturnCode = writeText(m_sSection, &m_sKey, nullptr, m_sPath);
}

void cInifile::DeleteSection()
{
    m_lLastReturnCode = writeText(m_sSection, nullptr, nullptr, m_sPath);
}

QString cInifile::INISection() const
{
    const QByteArray section = codepage::encode(m_sSection);
    return readText(&section, nullptr, m_sDefault, kListBufferSize, m_sPath);
}

void cInifile::INISection(const QString& sSection)
{
    // A write without a key removes the whole section; the text goes nowhere.
    m_lLastReturnCode = writeText(m_sSection, nullptr, &sSection, m_sPath);
}

QString cInifile::Sections() const
{
    return readText(nullptr, nullptr, m_sDefault, kListBufferSize, m_sPath);
}

void cInifile::EnumerateCurrentSection(QStringList& sKey, int32_t& iCount) const
{
    splitNameList(INISection(), EmptyNames::Keep, sKey, iCount);
}

void cInifile::EnumerateAllSections(QStringList& sSections, int32_t& iCount) const
{
    splitNameList(Sections(), EmptyNames::Skip, sSections, iCount);
}

void cInifile::SaveFormPosition(FormWindow& frmThis)
{
    const QString rememberedKey = m_sKey;
    try {
        if (frmThis.windowState() != FormWindow::Minimised) {
            Key(QStringLiteral("Maximised"));
            Value(frmThis.windowState() == FormWindow::Maximised ? QStringLiteral("1") : QStringLiteral("0"));
            if (frmThis.windowState() != FormWindow::Maximised) {
                const QLocale locale = QLocale::system();
                const auto store = [this, &locale](const char* key, double edge) {
                    m_sKey = QString::fromLatin1(key);
                    Value(number::formatNumber(edge, locale));
                };
                store("Left", frmThis.left());
                store("Top", frmThis.top());
                store("Width", frmThis.width());
                store("Height", frmThis.height());
            }
        }
    } catch (...) {
        m_lLastReturnCode = 0;
    }
    m_sKey = rememberedKey;
}

void cInifile::LoadFormPosition(FormWindow& frmThis, int32_t lMinWidth, int32_t lMinHeight)
{
    const QString rememberedKey = m_sKey;
    const QString rememberedDefault = m_sDefault;
    try {
        m_sDefault = QStringLiteral("FAIL");
        const auto stored = [this](const char* key, double current) {
            const int32_t fallback = number::roundToLong(current);
            m_sKey = QString::fromLatin1(key);
            return CLngDefault(Value(), fallback);
        };
        int32_t left = stored("Left", frmThis.left());
        int32_t top = stored("Top", frmThis.top());
        int32_t width = stored("Width", frmThis.width());
        if (width < lMinWidth)
            width = lMinWidth;
        int32_t height = stored("Height", frmThis.height());
        if (height < lMinHeight)
            height = lMinHeight;

        // A margin of four pixels, asked of the window anew at each use.
        const auto mx = [&frmThis] { return 4.0 * frmThis.twipsPerPixelX(); };
        const auto my = [&frmThis] { return 4.0 * frmThis.twipsPerPixelY(); };

        if (mx() > left)
            left = number::roundToLong(mx());
        if (my() > top)
            top = number::roundToLong(my());

        if (frmThis.screenWidth() - mx() < checkedSum(left, width)) {
            left = number::roundToLong(frmThis.screenWidth() - mx() - width);
            if (mx() > left)
                left = number::roundToLong(mx());
            if (frmThis.screenWidth() - mx() < checkedSum(left, width))
                width = number::roundToLong(frmThis.screenWidth() - left - mx());
        }
        if (frmThis.screenHeight() - my() < checkedSum(top, height)) {
            top = number::roundToLong(frmThis.screenHeight() - my() - height);
            if (my() > top)
                top = number::roundToLong(my());
            if (frmThis.screenHeight() - my() < checkedSum(top, height))
                height = number::roundToLong(frmThis.screenHeight() - top - my());
        }

        if (width >= lMinWidth && height >= lMinHeight)
            frmThis.move(left, top, width, height);

        m_sKey = QStringLiteral("Maximised");
        if (CLngDefault(Value(), 0) != 0)
            frmThis.setWindowState(FormWindow::Maximised);
    } catch (...) {
        m_lLastReturnCode = 0;
    }
    m_sKey = rememberedKey;
    m_sDefault = rememberedDefault;
}

int32_t cInifile::CLngDefault(const QString& sString, int32_t lDefault)
{
    try {
        return number::parseLong(sString, QLocale::system()).value_or(lDefault);
    } catch (...) {
        return lDefault;
    }
}

} // namespace tw
