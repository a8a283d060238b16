#include "note_pages.h"

#include "note_writer.h"
#include "settings/code_page.h"

#include <optional>

namespace tw::sync {
namespace {

const QByteArray kLineBreak = "\r\n";

QByteArray titleLine(qsizetype page, qsizetype pages)
{
    if (pages == 1)
        return "<TITLE>Tarnwickley</TITLE>";
    return "<TITLE>Tarnwickley (" + QByteArray::number(page) + " of " + QByteArray::number(pages)
        + ")</TITLE>";
}

QByteArray pageFileName(qsizetype page)
{
    return "Page" + QByteArray::number(page).rightJustified(3, '0') + ".txt";
}

// The link on page `page` to the one after it.
QByteArray linkLine(qsizetype page, qsizetype pages, const QByteArray& pagesFolder)
{
    const QByteArray target = (page == 1 ? pagesFolder + '/' : QByteArray()) + pageFileName(page + 1);
    return "<A HREF=\"" + target + "\">Page " + QByteArray::number(page + 1) + " of "
        + QByteArray::number(pages) + "</A>";
}

// How much of the text a page of a chain of `pages` pages can hold: what is
// left beside the longest title and link such a chain can have.
qsizetype pageCapacity(qsizetype pages, const QByteArray& pagesFolder)
{
    const qsizetype overhead = titleLine(pages, pages).size() + kLineBreak.size() + kLineBreak.size()
        + linkLine(1, pages, pagesFolder).size() + kLineBreak.size();
    return kNotePageBytes - overhead;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Whether a step opens at `at`: digits and a dot ("12.").
bool opensStep(const QByteArray& body, qsizetype at)
{
    qsizetype i = at;
    while (i < body.size() && isDigit(body[i]))
        ++i;
    return i > at && i < body.size() && body[i] == '.';
}

// The length of a line break that starts at `at` (CR LF or a lone LF), or 0.
qsizetype lineBreakAt(const QByteArray& body, qsizetype at)
{
    if (body[at] == '\n')
        return at > 0 && body[at - 1] == '\r' ? 0 : 1; // not the second half of a CR LF
    if (body[at] == '\r' && at + 1 < body.size() && body[at + 1] == '\n')
        return 2;
    return 0;
}

struct Cut {
    qsizetype end; // the part ends here
    qsizetype resume; // the next part starts here
};

// Where the part that starts at `start` and holds at most `capacity` bytes ends:
// between two steps, else at a line break, else at a blank, else when full.
Cut findCut(const QByteArray& body, qsizetype start, qsizetype capacity)
{
    const qsizetype last = start + capacity; // the part may end here at the latest
    std::optional<Cut> lineBreak;
    std::optional<Cut> blank;
    for (qsizetype at = last; at > start; --at) {
        const qsizetype breakLength = lineBreakAt(body, at);
        if (breakLength > 0) {
            const qsizetype next = at + breakLength;
            if (opensStep(body, next))
                return { at, next };
            if (!lineBreak)
                lineBreak = Cut { at, next };
        } else if (body[at] == ' ' && !blank) {
            blank = Cut { at, at + 1 };
        }
    }
    if (lineBreak)
        return *lineBreak;
    if (blank)
        return *blank;
    return { last, last };
}

// The text's bytes in parts of at most `capacity` bytes.
QList<QByteArray> splitBody(const QByteArray& body, qsizetype capacity, qsizetype maxParts)
{
    QList<QByteArray> parts;
    qsizetype start = 0;
    while (body.size() - start > capacity) {
        if (parts.size() >= maxParts) {
            parts.append(body.mid(start)); // one part too many: the caller refuses the text
            return parts;
        }
        const Cut cut = findCut(body, start, capacity);
        parts.append(body.mid(start, cut.end - start));
        start = cut.resume;
    }
    parts.append(body.mid(start));
    return parts;
}

} // namespace

QList<NotePage> notePages(const QString& text, const QString& pagesFolder)
{
    const QByteArray body = codepage::encode(text);
    QByteArray single = titleLine(1, 1) + kLineBreak + body + kLineBreak;
    if (single.size() <= kNotePageBytes)
        return { { QString::fromLatin1(kNoteFileName), single } };

    // The room on a page depends on how many digits the page count has.
    const QByteArray folder = pagesFolder.toLatin1();
    QList<QByteArray> parts;
    qsizetype assumed = 10;
    for (;;) {
        parts = splitBody(body, pageCapacity(assumed - 1, folder), kMaxNotePages);
        if (parts.size() > kMaxNotePages)
            return {};
        if (parts.size() < assumed)
            break;
        assumed *= 10;
    }

    const qsizetype pages = parts.size();
    QList<NotePage> result;
    for (qsizetype page = 1; page <= pages; ++page) {
        QByteArray bytes = titleLine(page, pages) + kLineBreak + parts[page - 1] + kLineBreak;
        if (page < pages)
            bytes += linkLine(page, pages, folder) + kLineBreak;
        const QString path = page == 1 ? QString::fromLatin1(kNoteFileName)
                                       : pagesFolder + u'/' + QString::fromLatin1(pageFileName(page));
        result.append({ path, bytes });
    }
    return result;
}

QString linkedPagesFolder(const QByteArray& firstPage)
{
    for (const char* name : kPagesFolderNames) {
        if (firstPage.contains("HREF=\"" + QByteArray(name) + '/'))
            return QString::fromLatin1(name);
    }
    return {};
}

} // namespace tw::sync
