#include "directions/web/markup_writer.h"

#include "directions/web/html_element.h"
#include "directions/web/html_node.h"

#include <QHash>

#include <array>

using namespace Qt::StringLiterals;

namespace tw::web {
namespace {

// How the writer treats one element name.
struct TagRule {
    const char16_t* name;
    bool isVoid; // no end tag, no children written
    bool breakBefore; // CR LF before its start tag; whitespace-only text beside it dropped
    bool rawText; // its text is written without escapes
    bool dropsWhitespace; // whitespace-only text among its children is dropped
};

// The one table of the writer's per-element rules. Names not listed are
// ordinary inline elements.
// clang-format off
constexpr TagRule kTagRules[] = {
    // name        void   break  raw    dropsWs
    {u"area",     true,  false, false, false},
    {u"base",     true,  false, false, false},
    {u"basefont", true,  false, false, false},
    {u"bgsound",  true,  false, false, false},
    {u"br",       true,  false, false, false},
    {u"col",      true,  false, false, false},
    {u"embed",    true,  false, false, false},
    {u"frame",    true,  false, false, false},
    {u"hr",       true,  false, false, false},
    {u"img",      true,  false, false, false},
    {u"input",    true,  false, false, false},
    {u"isindex",  true,  false, false, false},
    {u"keygen",   true,  false, false, false},
    {u"link",     true,  false, false, false},
    {u"meta",     true,  false, false, false},
    {u"param",    true,  false, false, false},
    {u"source",   true,  false, false, false},
    {u"track",    true,  false, false, false},
    {u"wbr",      true,  false, false, false},
    {u"div",      false, true,  false, false},
    {u"p",        false, true,  false, false},
    {u"table",    false, true,  false, true},
    {u"tbody",    false, true,  false, true},
    {u"tr",       false, true,  false, true},
    {u"td",       false, true,  false, false},
    {u"ul",       false, true,  false, true},
    {u"li",       false, true,  false, false},
    {u"form",     false, true,  false, false},
    {u"h1",       false, true,  false, false},
    {u"h2",       false, true,  false, false},
    {u"h3",       false, true,  false, false},
    {u"h4",       false, true,  false, false},
    {u"h5",       false, true,  false, false},
    {u"h6",       false, true,  false, false},
    {u"thead",    false, false, false, true},
    {u"tfoot",    false, false, false, true},
    {u"colgroup", false, false, false, true},
    {u"ol",       false, false, false, true},
    {u"select",   false, false, false, true},
    {u"html",     false, false, false, true},
    {u"head",     false, false, false, true},
    {u"frameset", false, false, false, true},
    {u"script",   false, false, true,  false},
    {u"style",    false, false, true,  false},
};
// clang-format on

constexpr TagRule kInlineRule = { u"", false, false, false, false };

const TagRule& ruleFor(const QString& name)
{
    static const QHash<QString, const TagRule*> rules = [] {
        QHash<QString, const TagRule*> map;
        for (const TagRule& rule : kTagRules) {
            map.insert(QString::fromUtf16(rule.name), &rule);
        }
        return map;
    }();
    const TagRule* rule = rules.value(name);
    return rule ? *rule : kInlineRule;
}

// Characters that make an attribute value need quotes.
bool needsQuotes(const QString& value)
{
    if (value.isEmpty()) {
        return true;
    }
    for (QChar c : value) {
        switch (c.unicode()) {
        case ' ':
        case '\t':
        case '\n':
        case '\r':
        case '\f':
        case '"':
        case '\'':
        case '`':
        case '<':
        case '>':
        case '%':
        case '=':
        case '&':
            return true;
        default:
            break;
        }
    }
    return false;
}

bool isWhitespaceOnly(const QString& text)
{
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u != ' ' && u != '\t' && u != '\n' && u != '\r' && u != '\f') {
            return false;
        }
    }
    return true;
}

class Writer {
public:
    explicit Writer(QString& out)
        : m_out(out)
    {
    }

    void startTag(const HtmlElement& e, const TagRule& rule, const QString& upperName)
    {
        if (rule.breakBefore && !m_out.isEmpty()) {
            m_out += u"\r\n";
        }
        m_out += u'<';
        m_out += upperName;
        for (const HtmlAttribute& a : e.attributes()) {
            m_out += u' ';
            m_out += a.name;
            if (a.value.isNull()) {
                continue;
            }
            m_out += u'=';
            attributeValue(a.value);
        }
        m_out += u'>';
    }

    void endTag(const HtmlElement& e)
    {
        m_out += u"</";
        m_out += lookup(e.localName()).upper;
        m_out += u'>';
    }

    void text(const HtmlNode& node)
    {
        const QString& data = node.data();
        const HtmlElement* parent = node.parentElement();
        const TagRule& parentRule = parent ? *lookup(parent->localName()).rule : kInlineRule;
        if (parentRule.rawText) {
            m_out += data;
            return;
        }
        if (isWhitespaceOnly(data)
            && (parentRule.dropsWhitespace || isBlock(node.previousSibling())
                || isBlock(node.nextSibling()))) {
            return;
        }
        qsizetype runStart = 0;
        auto flush = [&](qsizetype end) { m_out.append(QStringView(data).mid(runStart, end - runStart)); };
        for (qsizetype i = 0; i < data.size(); ++i) {
            const char16_t c = data.at(i).unicode();
            const char16_t* escape = nullptr;
            switch (c) {
            case '&':
                escape = u"&amp;";
                break;
            case '<':
                escape = u"&lt;";
                break;
            case '>':
                escape = u"&gt;";
                break;
            case 0x00A0:
                escape = u"&nbsp;";
                break;
            case '\n':
                escape = u"\r\n";
                break;
            default:
                continue;
            }
            flush(i);
            m_out += QStringView(escape);
            runStart = i + 1;
        }
        flush(data.size());
    }

    void comment(const HtmlNode& node)
    {
        m_out += u"<!--";
        m_out += node.data();
        m_out += u"-->";
    }

    // Writes `node` and everything below it, without recursion.
    void subtree(const HtmlNode& top, bool includeTop)
    {
        const HtmlNode* node = includeTop ? &top : top.firstChild();
        while (node) {
            if (const HtmlElement* e = node->asElement()) {
                const Known& known = lookup(e->localName());
                const TagRule& rule = *known.rule;
                startTag(*e, rule, known.upper);
                if (!rule.isVoid) {
                    if (node->firstChild()) {
                        node = node->firstChild();
                        continue;
                    }
                    endTag(*e);
                }
            } else if (node->kind() == HtmlNode::Kind::Text) {
                text(*node);
            } else {
                comment(*node);
            }
            // Climb to the next node, closing the elements left behind.
            for (;;) {
                if (node == &top) {
                    node = nullptr;
                    break;
                }
                if (node->nextSibling()) {
                    node = node->nextSibling();
                    break;
                }
                node = node->parentElement();
                if (!node || (node == &top && !includeTop)) {
                    node = nullptr;
                    break;
                }
                endTag(*node->asElement());
            }
        }
    }

private:
    void attributeValue(const QString& value)
    {
        if (!needsQuotes(value)) {
            m_out += value;
            return;
        }
        const bool hasDouble = value.contains(u'"');
        const char16_t quote = (hasDouble && !value.contains(u'\'')) ? u'\'' : u'"';
        m_out += QChar(quote);
        for (QChar c : value) {
            if (c == u'&') {
                m_out += u"&amp;";
            } else if (c == QChar(quote)) {
                m_out += u"&quot;";
            } else {
                m_out += c;
            }
        }
        m_out += QChar(quote);
    }

    // A tag name's rule and upper-case spelling. The parser shares one string
    // per tag name, so a small cache keyed by the string's storage answers
    // nearly every lookup without hashing the name.
    struct Known {
        const QChar* key = nullptr;
        qsizetype size = 0;
        const TagRule* rule = &kInlineRule;
        QString upper;
        QString owner;
    };

    const Known& lookup(const QString& name)
    {
        const auto bits = reinterpret_cast<quintptr>(name.constData());
        Known& slot = m_cache[(bits >> 4) % kCacheSize];
        if (slot.key != name.constData() || slot.size != name.size() || slot.key == nullptr) {
            slot.key = name.constData();
            slot.size = name.size();
            slot.rule = &ruleFor(name);
            slot.upper = name.toUpper();
            slot.owner = name; // keeps the storage alive, so the key stays unique
        }
        return slot;
    }

    bool isBlock(const HtmlNode* node)
    {
        const HtmlElement* e = node ? node->asElement() : nullptr;
        return e && lookup(e->localName()).rule->breakBefore;
    }

    static constexpr std::size_t kCacheSize = 64;
    QString& m_out;
    std::array<Known, kCacheSize> m_cache;
};

} // namespace

QString writeChildrenMarkup(const HtmlNode& node)
{
    QString out;
    Writer(out).subtree(node, false);
    return out;
}

QString writeNodeMarkup(const HtmlNode& node)
{
    QString out;
    Writer(out).subtree(node, true);
    return out;
}

} // namespace tw::web
