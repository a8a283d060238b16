#include "directions/web/markup_writer.h"

#include "directions/web/html_element.h"
#include "directions/web/html_node.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <cstring>

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

// Characters that make an attribute value need quotes, and those text escapes.
constexpr bool needsQuotesFor(char16_t c)
{
    switch (c) {
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
        return false;
    }
}

// The escape text is written with in place of a character, or nullptr.
constexpr QStringView textEscapeFor(char16_t c)
{
    switch (c) {
    case '&':
        return u"&amp;";
    case '<':
        return u"&lt;";
    case '>':
        return u"&gt;";
    case 0x00A0:
        return u"&nbsp;";
    case '\n':
        return u"\r\n";
    default:
        return {};
    }
}

// Lookup tables over the characters up to U+00A0, the highest one with a rule.
constexpr char16_t kLastSpecial = 0x00A0;
constexpr auto kQuoteTriggers = [] {
    std::array<bool, kLastSpecial + 1> table {};
    for (char16_t c = 0; c <= kLastSpecial; ++c) {
        table[c] = needsQuotesFor(c);
    }
    return table;
}();
constexpr auto kTextEscaped = [] {
    std::array<bool, kLastSpecial + 1> table {};
    for (char16_t c = 0; c <= kLastSpecial; ++c) {
        table[c] = !textEscapeFor(c).isNull();
    }
    return table;
}();

bool needsQuotes(QStringView value)
{
    if (value.isEmpty()) {
        return true;
    }
    for (const QChar c : value) {
        if (c.unicode() <= kLastSpecial && kQuoteTriggers[c.unicode()]) {
            return true;
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

// The writer's output: a QString written through a plain pointer. Its storage
// grows by doubling and each piece is copied straight in, rather than each
// append checking and possibly growing the string on its own; finish() trims
// the string to what was written.
class Output {
public:
    explicit Output(QString& out)
        : m_out(out)
    {
    }

    bool isEmpty() const { return m_used == 0; }

    void put(char16_t c)
    {
        reserve(1);
        m_data[m_used++] = c;
    }

    void put(QStringView text)
    {
        const qsizetype n = text.size();
        if (n == 0) {
            return;
        }
        reserve(n);
        std::memcpy(m_data + m_used, text.utf16(), static_cast<std::size_t>(n) * sizeof(char16_t));
        m_used += n;
    }

    // Trims the string to what was written; one that was never written to
    // stays null, as an untouched QString is.
    void finish()
    {
        if (m_capacity > 0) {
            m_out.resize(m_used);
        }
    }

private:
    void reserve(qsizetype n)
    {
        if (m_capacity - m_used < n) {
            m_capacity = std::max({ m_used + n, 2 * m_capacity, qsizetype(256) });
            m_out.resize(m_capacity);
            m_data = reinterpret_cast<char16_t*>(m_out.data());
        }
    }

    QString& m_out;
    char16_t* m_data = nullptr;
    qsizetype m_used = 0;
    qsizetype m_capacity = 0;
};

class Writer {
public:
    explicit Writer(QString& out)
        : m_out(out)
    {
    }

    void startTag(const HtmlElement& e, const TagRule& rule, const QString& upperName)
    {
        if (rule.breakBefore && !m_out.isEmpty()) {
            m_out.put(u"\r\n");
        }
        m_out.put(u'<');
        m_out.put(upperName);
        for (const HtmlAttribute& a : e.attributes()) {
            m_out.put(u' ');
            m_out.put(a.name);
            if (a.value.isNull()) {
                continue;
            }
            m_out.put(u'=');
            attributeValue(a.value);
        }
        m_out.put(u'>');
    }

    void endTag(const HtmlElement& e)
    {
        m_out.put(u"</");
        m_out.put(lookup(e.localName()).upper);
        m_out.put(u'>');
    }

    void text(const HtmlNode& node)
    {
        const QString& data = node.data();
        const HtmlElement* parent = node.parentElement();
        const TagRule& parentRule = parent ? *lookup(parent->localName()).rule : kInlineRule;
        if (parentRule.rawText) {
            m_out.put(data);
            return;
        }
        if (isWhitespaceOnly(data)
            && (parentRule.dropsWhitespace || isBlock(node.previousSibling())
                || isBlock(node.nextSibling()))) {
            return;
        }
        const QStringView view(data);
        qsizetype runStart = 0;
        for (qsizetype i = 0; i < view.size(); ++i) {
            const char16_t c = view[i].unicode();
            if (c > kLastSpecial || !kTextEscaped[c]) {
                continue;
            }
            m_out.put(view.sliced(runStart, i - runStart));
            m_out.put(textEscapeFor(c));
            runStart = i + 1;
        }
        m_out.put(view.sliced(runStart));
    }

    void comment(const HtmlNode& node)
    {
        m_out.put(u"<!--");
        m_out.put(node.data());
        m_out.put(u"-->");
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
        m_out.finish();
    }

private:
    void attributeValue(const QString& value)
    {
        if (!needsQuotes(value)) {
            m_out.put(value);
            return;
        }
        const bool hasDouble = value.contains(u'"');
        const char16_t quote = (hasDouble && !value.contains(u'\'')) ? u'\'' : u'"';
        m_out.put(quote);
        for (QChar c : value) {
            if (c == u'&') {
                m_out.put(u"&amp;");
            } else if (c == QChar(quote)) {
                m_out.put(u"&quot;");
            } else {
                m_out.put(c.unicode());
            }
        }
        m_out.put(quote);
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
        // Names may sit a few bytes apart (static names do), so the address is
        // mixed before it picks a slot.
        const auto bits = static_cast<quint64>(reinterpret_cast<quintptr>(name.constData()));
        Known& slot = m_cache[((bits * 0x9E3779B97F4A7C15ULL) >> 58U) % kCacheSize];
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
    Output m_out;
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
