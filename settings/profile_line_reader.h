#pragma once
// Splits the bytes of a settings file into lines and tells what each line is, in
// one forward pass (linear in the size of the file, nothing kept between lines).
//
// Line ends: CR LF, a lone CR and a lone LF each end a line, so CR CR LF is a line
// end followed by an empty line. Text after the last line end is a last line
// without a line end.
//
// Within a line everything from the first NUL byte on is ignored (the text of a
// C string ends there); the bytes stay in the file. After leading blanks (space,
// tab, VT):
//  - ';' starts a comment line;
//  - '[' opens a section; its name is the text up to the first ']', or to the end
//    of the line when it has none, blanks trimmed; what follows the ']' is ignored;
//  - any other line holding '=' is a key: the name is the text before the first
//    '=', the value the text after it, both with blanks trimmed;
//  - anything else (blank lines, text without '=') means nothing.

#include <QByteArrayView>

namespace tw::profile {

enum class LineKind { Other, Comment, Section, Key };

// One line as offsets into the bytes given to the reader.
struct ProfileLine {
    qsizetype begin = 0; // first byte of the line
    qsizetype contentEnd = 0; // end of the line's text, before its line end
    qsizetype end = 0; // after the line end; equals contentEnd for a last line without one
    LineKind kind = LineKind::Other;
    qsizetype nameBegin = 0; // section or key name, blanks trimmed
    qsizetype nameEnd = 0;
    qsizetype valueBegin = 0; // a key's value, blanks trimmed (empty range for an empty value)
    qsizetype valueEnd = 0;

    bool hasLineEnd() const { return end > contentEnd; }
};

class ProfileLineReader {
public:
    // Reads `bytes` from offset `start` (past a byte-order mark, say). The bytes
    // must outlive the reader.
    explicit ProfileLineReader(QByteArrayView bytes, qsizetype start = 0);

    // Fills `line` with the next line; returns false when no line is left.
    bool next(ProfileLine& line);

private:
    void classify(ProfileLine& line) const;

    QByteArrayView m_bytes;
    qsizetype m_pos;
};

} // namespace tw::profile
