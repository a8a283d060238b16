#include "profile_line_reader.h"

#include "profile_names.h"

#include <cstring>

namespace tw::profile {

ProfileLineReader::ProfileLineReader(QByteArrayView bytes, qsizetype start)
    : m_bytes(bytes)
    , m_pos(start)
{
}

bool ProfileLineReader::next(ProfileLine& line)
{
    if (m_pos >= m_bytes.size())
        return false;
    const char* data = m_bytes.data();
    const char* const end = data + m_bytes.size();
    const char* breakAt = data + m_pos;
    while (breakAt != end && *breakAt != '\n' && *breakAt != '\r')
        ++breakAt;

    line = ProfileLine {};
    line.begin = m_pos;
    line.contentEnd = breakAt - data;
    line.end = line.contentEnd;
    if (breakAt != end) {
        // CR LF is one line end; a lone CR or a lone LF is one too.
        line.end += (*breakAt == '\r' && breakAt + 1 != end && breakAt[1] == '\n') ? 2 : 1;
    }
    m_pos = line.end;
    classify(line);
    return true;
}

void ProfileLineReader::classify(ProfileLine& line) const
{
    const char* data = m_bytes.data();
    qsizetype textEnd = line.contentEnd;
    if (const void* nul
        = std::memchr(data + line.begin, '\0', static_cast<std::size_t>(textEnd - line.begin)))
        textEnd = static_cast<const char*>(nul) - data;

    qsizetype first = line.begin;
    while (first < textEnd && isBlank(data[first]))
        ++first;
    if (first == textEnd)
        return;

    const auto trimInto = [&](qsizetype from, qsizetype to, qsizetype& begin, qsizetype& end) {
        const QByteArrayView part = withoutSurroundingBlanks(QByteArrayView(data + from, to - from));
        begin = part.data() - data;
        end = begin + part.size();
    };

    if (data[first] == ';') {
        line.kind = LineKind::Comment;
        return;
    }
    if (data[first] == '[') {
        const auto length = static_cast<std::size_t>(textEnd - first - 1);
        const void* close = std::memchr(data + first + 1, ']', length);
        line.kind = LineKind::Section;
        trimInto(first + 1, close != nullptr ? static_cast<const char*>(close) - data : textEnd,
            line.nameBegin, line.nameEnd);
        return;
    }
    if (const void* equals = std::memchr(data + first, '=', static_cast<std::size_t>(textEnd - first))) {
        const qsizetype equalsPos = static_cast<const char*>(equals) - data;
        line.kind = LineKind::Key;
        trimInto(first, equalsPos, line.nameBegin, line.nameEnd);
        qsizetype valueBegin = equalsPos + 1;
        while (valueBegin < textEnd && isBlank(data[valueBegin]))
            ++valueBegin;
        trimInto(valueBegin, textEnd, line.valueBegin, line.valueEnd);
        if (line.valueBegin == line.valueEnd)
            line.valueBegin = line.valueEnd = valueBegin;
    }
}

} // namespace tw::profile
