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
    const auto remaining = static_cast<std::size_t>(m_bytes.size() - m_pos);
    const void* lf = std::memchr(data + m_pos, '\n', remaining);

    line = ProfileLine {};
    line.begin = m_pos;
    if (lf == nullptr) {
        line.contentEnd = m_bytes.size();
        line.end = m_bytes.size();
    } else {
        const qsizetype lfPos = static_cast<const char*>(lf) - data;
        line.end = lfPos + 1;
        line.contentEnd = (lfPos > line.begin && data[lfPos - 1] == '\r') ? lfPos - 1 : lfPos;
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
        if (const void* close = std::memchr(data + first + 1, ']', length)) {
            line.kind = LineKind::Section;
            trimInto(first + 1, static_cast<const char*>(close) - data, line.nameBegin, line.nameEnd);
            return;
        }
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
