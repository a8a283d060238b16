#include "profile_document.h"

#include "profile_line_reader.h"
#include "profile_names.h"

namespace tw::profile {
namespace {

QByteArrayView nameOf(const QByteArray& bytes, const ProfileLine& line)
{
    return QByteArrayView(bytes).sliced(line.nameBegin, line.nameEnd - line.nameBegin);
}

} // namespace

ProfileDocument::ProfileDocument(QByteArray bytes)
    : m_bytes(std::move(bytes))
{
    m_foreign = m_bytes.startsWith("\xFF\xFE") || m_bytes.startsWith("\xFE\xFF");
}

qsizetype ProfileDocument::bodyStart() const
{
    return m_bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
}

QByteArray ProfileDocument::lineEnd() const
{
    ProfileLineReader reader(m_bytes, bodyStart());
    ProfileLine first;
    if (!reader.next(first) || !first.hasLineEnd())
        return QByteArrayLiteral("\r\n");
    return m_bytes.sliced(first.contentEnd, first.end - first.contentEnd);
}

void ProfileDocument::forEachKeyLine(QByteArrayView section, const std::function<bool(const ProfileLine&)>& visit) const
{
    // Only the first section of that name counts, as in every read and edit.
    ProfileLineReader reader(m_bytes, bodyStart());
    ProfileLine line;
    bool inSection = false;
    while (reader.next(line)) {
        if (line.kind == LineKind::Section) {
            if (inSection)
                return;
            inSection = sameName(nameOf(m_bytes, line), section);
        } else if (inSection && line.kind == LineKind::Key && !visit(line)) {
            return;
        }
    }
}

std::optional<QByteArrayView> ProfileDocument::value(QByteArrayView section, QByteArrayView key) const
{
    if (m_foreign)
        return std::nullopt;
    std::optional<QByteArrayView> found;
    forEachKeyLine(section, [&](const ProfileLine& line) {
        if (!sameName(nameOf(m_bytes, line), key))
            return true;
        found = QByteArrayView(m_bytes).sliced(line.valueBegin, line.valueEnd - line.valueBegin);
        return false;
    });
    return found;
}

void ProfileDocument::visitKeyNames(QByteArrayView section, const NameVisitor& visit) const
{
    if (m_foreign)
        return;
    forEachKeyLine(section, [&](const ProfileLine& line) { return visit(nameOf(m_bytes, line)); });
}

void ProfileDocument::visitSectionNames(const NameVisitor& visit) const
{
    if (m_foreign)
        return;
    ProfileLineReader reader(m_bytes, bodyStart());
    ProfileLine line;
    while (reader.next(line)) {
        if (line.kind == LineKind::Section && line.nameEnd > line.nameBegin && !visit(nameOf(m_bytes, line)))
            return;
    }
}

EditResult ProfileDocument::setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    if (m_foreign)
        return EditResult::Refused;

    ProfileLineReader reader(m_bytes, bodyStart());
    ProfileLine line;
    bool inSection = false;
    bool sectionFound = false;
    ProfileLine anchor; // the header or the last key of the first matching section
    while (reader.next(line)) {
        if (line.kind == LineKind::Section) {
            if (inSection)
                break;
            inSection = sameName(nameOf(m_bytes, line), section);
            if (inSection) {
                sectionFound = true;
                anchor = line;
            }
        } else if (inSection && line.kind == LineKind::Key) {
            if (sameName(nameOf(m_bytes, line), key)) {
                const qsizetype oldLength = line.contentEnd - line.valueBegin;
                if (!line.hasLineEnd()) {
                    // The last line of the file: rewritten, it gets its line end.
                    m_bytes.replace(line.valueBegin, oldLength, value.toByteArray() + lineEnd());
                    return EditResult::Changed;
                }
                if (QByteArrayView(m_bytes).sliced(line.valueBegin, oldLength) == value)
                    return EditResult::Unchanged;
                m_bytes.replace(line.valueBegin, oldLength, value.data(), value.size());
                return EditResult::Changed;
            }
            anchor = line;
        }
    }

    const QByteArray newline = lineEnd();
    QByteArray keyLine;
    keyLine.reserve(key.size() + value.size() + 3);
    keyLine.append(key).append('=').append(value).append(newline);

    if (sectionFound) {
        if (!anchor.hasLineEnd())
            keyLine.prepend(newline);
        m_bytes.insert(anchor.end, keyLine);
        return EditResult::Changed;
    }

    QByteArray addition;
    if (m_bytes.size() > bodyStart() && !m_bytes.endsWith('\n') && !m_bytes.endsWith('\r'))
        addition.append(newline);
    addition.append('[').append(section).append(']').append(newline).append(keyLine);
    m_bytes.append(addition);
    return EditResult::Changed;
}

EditResult ProfileDocument::removeKey(QByteArrayView section, QByteArrayView key)
{
    if (m_foreign)
        return EditResult::Refused;
    std::vector<std::pair<qsizetype, qsizetype>> ranges;
    forEachKeyLine(section, [&](const ProfileLine& line) {
        if (sameName(nameOf(m_bytes, line), key))
            ranges.push_back({ line.begin, line.end });
        return true;
    });
    return removeRanges(ranges);
}

EditResult ProfileDocument::removeSection(QByteArrayView section)
{
    if (m_foreign)
        return EditResult::Refused;
    std::vector<std::pair<qsizetype, qsizetype>> ranges;
    ProfileLineReader reader(m_bytes, bodyStart());
    ProfileLine line;
    bool inSection = false;
    while (reader.next(line)) {
        if (line.kind == LineKind::Section)
            inSection = sameName(nameOf(m_bytes, line), section);
        // The header and the keys go; comments and other lines within stay.
        if (!inSection || line.kind == LineKind::Comment || line.kind == LineKind::Other)
            continue;
        if (!ranges.empty() && ranges.back().second == line.begin)
            ranges.back().second = line.end;
        else
            ranges.push_back({ line.begin, line.end });
    }
    return removeRanges(ranges);
}

EditResult ProfileDocument::removeRanges(const std::vector<std::pair<qsizetype, qsizetype>>& ranges)
{
    if (ranges.empty())
        return EditResult::Unchanged;
    QByteArray kept;
    kept.reserve(m_bytes.size());
    qsizetype from = 0;
    for (const auto& [begin, end] : ranges) {
        kept.append(QByteArrayView(m_bytes).sliced(from, begin - from));
        from = end;
    }
    kept.append(QByteArrayView(m_bytes).sliced(from));
    m_bytes = std::move(kept);
    return EditResult::Changed;
}

} // namespace tw::profile
