#include "service_notice.h"

#include "directions/web/html_document.h"
#include "directions/web/html_element.h"

#include <QRegularExpression>

namespace tw::directions {
namespace {

// Far more than the service ever says; a page that says more is cut short.
constexpr qsizetype kMaxNoticeChars = 4000;
constexpr std::size_t kMaxSuggestions = 20;

const QString kFieldNames[]
    = { QStringLiteral("addr"), QStringLiteral("csz"), QStringLiteral("taddr"), QStringLiteral("tcsz") };

bool startsNewLine(const QString& tag)
{
    // Lists run on in their line: the suggestions follow "Did you mean:".
    static const QString kBlocks[]
        = { QStringLiteral("p"), QStringLiteral("div"), QStringLiteral("br"), QStringLiteral("h1"),
              QStringLiteral("h2"), QStringLiteral("h3"), QStringLiteral("table"), QStringLiteral("tr") };
    for (const QString& block : kBlocks) {
        if (tag == block)
            return true;
    }
    return false;
}

// Builds the plain and the rich lines side by side; blanks collapse as a
// browser collapses them.
class NoticeWriter {
public:
    void text(const QString& raw)
    {
        static const QRegularExpression blanks(QStringLiteral("\\s+"));
        QString piece = raw;
        piece.replace(blanks, QStringLiteral(" "));
        if (m_line.isEmpty() || m_line.endsWith(u' ')) {
            while (piece.startsWith(u' '))
                piece.remove(0, 1);
        }
        if (!piece.isEmpty())
            m_lineEndsWithLink = false;
        append(piece, piece.toHtmlEscaped());
    }
    void link(const QString& text, std::size_t index)
    {
        if (m_lineEndsWithLink)
            append(QStringLiteral(", "), QStringLiteral(", "));
        else if (!m_line.isEmpty() && !m_line.endsWith(u' '))
            append(QStringLiteral(" "), QStringLiteral(" "));
        append(text, QStringLiteral("<a href=\"#%1\">%2</a>").arg(index).arg(text.toHtmlEscaped()));
        m_lineEndsWithLink = true;
    }
    void endLine()
    {
        if (!m_line.trimmed().isEmpty()) {
            m_plain.append(m_line.trimmed());
            m_rich.append(m_richLine.trimmed());
        }
        m_line.clear();
        m_richLine.clear();
        m_lineEndsWithLink = false;
    }
    QString plain() const { return m_plain.join(u'\n'); }
    QString rich() const { return m_rich.join(QStringLiteral("<br>")); }

private:
    void append(const QString& plain, const QString& rich)
    {
        if (plain.isEmpty() || m_length + plain.size() > kMaxNoticeChars)
            return;
        m_length += plain.size();
        m_line += plain;
        m_richLine += rich;
    }
    QStringList m_plain;
    QStringList m_rich;
    QString m_line;
    QString m_richLine;
    qsizetype m_length = 0;
    bool m_lineEndsWithLink = false;
};

} // namespace

std::optional<ServiceNotice> readServiceNotice(const web::HtmlDocument& document)
{
    const web::HtmlElement* root = document.getElementById(QStringLiteral("notice"));
    if (root == nullptr)
        return std::nullopt;
    ServiceNotice notice;
    NoticeWriter writer;
    const web::HtmlNode* node = root->firstChild();
    while (node != nullptr) {
        const web::HtmlElement* element = node->asElement();
        if (element == nullptr) {
            if (node->kind() == web::HtmlNode::Kind::Text)
                writer.text(node->data());
            node = node->nextInTree(root);
            continue;
        }
        const QString tag = element->tagName();
        if (tag == u"a" && element->getAttribute(QStringLiteral("class")).split(u' ').contains(u"suggestion")
            && notice.suggestions.size() < kMaxSuggestions) {
            ServiceNotice::Suggestion suggestion;
            suggestion.text = element->textContent().simplified();
            for (const QString& field : kFieldNames) {
                const QString attribute = QStringLiteral("data-") + field;
                if (element->hasAttribute(attribute))
                    suggestion.fields.emplace_back(field, element->getAttribute(attribute));
            }
            writer.link(suggestion.text, notice.suggestions.size());
            notice.suggestions.push_back(std::move(suggestion));
            node = node->nextSkippingChildren(root);
            continue;
        }
        if (tag == u"script" || tag == u"style") {
            node = node->nextSkippingChildren(root);
            continue;
        }
        if (startsNewLine(tag))
            writer.endLine();
        node = node->nextInTree(root);
    }
    writer.endLine();
    notice.plainText = writer.plain();
    notice.richText = writer.rich();
    return notice;
}

ServiceNotice plainNotice(const QString& sentence)
{
    ServiceNotice notice;
    notice.plainText = sentence;
    notice.richText = sentence.toHtmlEscaped();
    return notice;
}

CityStateZip splitCityLine(const QString& line)
{
    QStringList words = line.simplified().split(u' ', Qt::SkipEmptyParts);
    CityStateZip parts;
    static const QRegularExpression zip(QStringLiteral("^\\d{5}(-\\d{4})?$"));
    static const QRegularExpression state(QStringLiteral("^[A-Za-z]{2}$"));
    if (!words.isEmpty() && zip.match(words.constLast()).hasMatch())
        parts.zip = words.takeLast();
    if (!words.isEmpty() && state.match(words.constLast()).hasMatch())
        parts.state = words.takeLast();
    parts.city = words.join(u' ');
    if (parts.city.endsWith(u','))
        parts.city.chop(1);
    return parts;
}

} // namespace tw::directions
