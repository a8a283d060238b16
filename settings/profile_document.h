#pragma once
// The bytes of one settings file with the queries and edits of the profile-string
// operations. Lines are read as ProfileLineReader describes; names match as
// profile_names.h describes, and callers pass names already stripped of their
// surrounding spaces.
//
// Rules:
//  - The first section of a name is the one that counts: reads, key lists and new
//    keys use it; a later section of the same name is never read.
//  - Within that section the first key of a name is the one that is read and
//    changed.
//  - Lines before the first section header belong to no section.
//  - An edit changes only the bytes it concerns: a changed value replaces the old
//    value's text (the key's spelling and the blanks before the value stay), a
//    removed key takes its whole line with it, a removed section its header and
//    key lines (comments, blank lines and other text within it stay), a new key
//    goes after the last key of its section (after the header when it has none), a
//    new section goes at the end of the file with no blank line before it. New
//    lines end like the file's first line (CR LF when the file has no line end
//    yet); a last line without a line end gets one when its value is rewritten or
//    anything is added after it.
//  - A UTF-8 byte-order mark at the start is skipped and kept. A file that starts
//    with a UTF-16 byte-order mark is foreign text: it reads as empty and every
//    edit is refused, so such a file is never mangled.

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace tw::profile {

struct ProfileLine;

enum class EditResult { Changed, Unchanged, Refused };

class ProfileDocument {
public:
    explicit ProfileDocument(QByteArray bytes = {});

    const QByteArray& bytes() const { return m_bytes; }

    // True when the file holds UTF-16 text, which this engine neither reads nor edits.
    bool isForeign() const { return m_foreign; }

    // The value text of `key` in `section`, blanks trimmed, quotes left on; nothing
    // when the section or key does not exist.
    std::optional<QByteArrayView> value(QByteArrayView section, QByteArrayView key) const;

    // Calls `visit` with each name in file order until it returns false: the key
    // names of `section`, or every section name that is not empty.
    using NameVisitor = std::function<bool(QByteArrayView)>;
    void visitKeyNames(QByteArrayView section, const NameVisitor& visit) const;
    void visitSectionNames(const NameVisitor& visit) const;

    // Sets `key` of `section` to `value` (verbatim), adding the key and the section
    // as needed. Unchanged when the key already holds exactly that text.
    EditResult setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value);
    // Removes every line of `key` in `section`, so that no copy of it reads back.
    EditResult removeKey(QByteArrayView section, QByteArrayView key);
    // Removes the header and key lines of every section named `section`.
    EditResult removeSection(QByteArrayView section);

private:
    qsizetype bodyStart() const;
    // Calls `visit` with each key line of the first section named `section`, in
    // file order, until it returns false.
    void forEachKeyLine(QByteArrayView section, const std::function<bool(const ProfileLine&)>& visit) const;
    QByteArray lineEnd() const;
    EditResult removeRanges(const std::vector<std::pair<qsizetype, qsizetype>>& ranges);

    QByteArray m_bytes;
    bool m_foreign = false;
};

} // namespace tw::profile
