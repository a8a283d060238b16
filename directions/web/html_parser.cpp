#include "directions/web/html_parser.h"

#include "directions/web/charset.h"

#include <libxml/HTMLparser.h>
#include <libxml/parserInternals.h>

#include <array>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

using namespace Qt::StringLiterals;

namespace tw::web {
namespace {

// Unmatched end tags and misplaced <body> tags make libxml2 scan its whole
// stack of open elements; beyond this many element visits in such scans the
// rest of the page is dropped.
constexpr qint64 kStackScanBudget = 50'000'000;
// A page is cut off after this many nodes. A long route's result page has a few
// hundred thousand; a page of nothing but tags would otherwise cost gigabytes.
constexpr qint64 kMaxNodes = 2'000'000;

// Builds an HtmlDocument from libxml2's SAX events.
class TreeBuilder {
public:
    TreeBuilder(HtmlDocument& document, htmlParserCtxtPtr context)
        : m_document(document)
        , m_context(context)
    {
    }

    void startElement(const xmlChar* rawName, const xmlChar** attributes)
    {
        if (!roomForNode()) {
            return;
        }
        const QString& name = internedName(rawName);
        HtmlElement* root = m_document.documentElement();
        if (m_stack.empty()) {
            m_stack.push_back(root);
        }
        if (name == u"html") {
            // The root exists from the start; the tag only brings attributes
            // (a repeated <html> adds those the root lacks, as in a browser).
            addAttributes(root, attributes);
            return;
        }
        prepareTableContext(name);
        HtmlElement* element = m_document.createElement(name);
        addAttributes(element, attributes);
        m_stack.back()->appendChild(element);
        m_stack.push_back(element);
    }

    void endElement(const xmlChar* rawName)
    {
        const QString& name = internedName(rawName);
        while (m_stack.size() > 1 && m_stack.back()->isImplied() && m_stack.back()->localName() != name) {
            m_stack.pop_back();
        }
        if (m_stack.size() > 1 && m_stack.back()->localName() == name) {
            m_stack.pop_back();
        }
    }

    void characters(const xmlChar* text, int length)
    {
        // Text before the first element can only be whitespace (libxml2 opens
        // the implied elements before any other text); it belongs nowhere.
        if (length <= 0 || m_stack.empty()) {
            return;
        }
        HtmlElement* parent = current();
        const QString chunk = QString::fromUtf8(reinterpret_cast<const char*>(text), length);
        HtmlNode* last = parent->lastChild();
        if (last && last->kind() == HtmlNode::Kind::Text) {
            last->appendData(chunk);
        } else if (roomForNode()) {
            parent->appendChild(m_document.createText(chunk));
        }
    }

    void comment(const xmlChar* text)
    {
        // A comment before the page's first element belongs to the document,
        // not to its <html> element; the tree has no place for it.
        if (m_stack.empty() || !roomForNode()) {
            return;
        }
        current()->appendChild(
            m_document.createComment(QString::fromUtf8(reinterpret_cast<const char*>(text))));
    }

    // Errors that cost libxml2 a scan of its whole stack of open elements: an
    // end tag matching none of them, and a misplaced <body> (libxml2 searches
    // the stack for the open body).
    void error(const xmlError* error)
    {
        if (error->code != XML_ERR_TAG_NAME_MISMATCH && error->code != XML_HTML_STRUCURE_ERROR) {
            return;
        }
        m_stackScanWork += m_context->nameNr;
        if (m_stackScanWork > kStackScanBudget && !m_document.isTruncated()) {
            m_document.setTruncated(true);
            xmlStopParser(m_context);
        }
    }

private:
    // Counts one more node; false (and parsing stopped) when the page has
    // reached the node limit.
    bool roomForNode()
    {
        if (m_nodes < kMaxNodes) {
            ++m_nodes;
            return true;
        }
        if (!m_document.isTruncated()) {
            m_document.setTruncated(true);
            xmlStopParser(m_context);
        }
        return false;
    }

    HtmlElement* current()
    {
        if (m_stack.empty()) {
            m_stack.push_back(m_document.documentElement());
        }
        return m_stack.back();
    }

    const QString& internedName(const xmlChar* raw)
    {
        // libxml2 keeps one copy of each name in its dictionary, so the pointer
        // identifies the name; a small cache in front of the hash answers most.
        CachedName& slot = m_recent[(reinterpret_cast<quintptr>(raw) >> 3) % kRecentSize];
        if (slot.raw == raw) {
            return *slot.name;
        }
        slot.raw = raw;
        slot.name = &lookupName(raw);
        return *slot.name;
    }

    const QString& lookupName(const xmlChar* raw)
    {
        auto it = m_names.find(raw);
        if (it != m_names.end()) {
            return it->second;
        }
        QString name = QString::fromUtf8(reinterpret_cast<const char*>(raw));
        if (name != name.toLower()) {
            name = name.toLower();
        }
        return m_names.emplace(raw, std::move(name)).first->second;
    }

    void addAttributes(HtmlElement* element, const xmlChar** attributes)
    {
        if (!attributes) {
            return;
        }
        // libxml2 has already dropped repeated attributes within one tag; only
        // the root can receive attributes from more than one tag.
        const auto duplicates = element == m_document.documentElement() ? HtmlElement::Duplicates::Ignored
                                                                        : HtmlElement::Duplicates::Allowed;
        for (const xmlChar** a = attributes; a[0]; a += 2) {
            QString value = a[1] ? QString::fromUtf8(reinterpret_cast<const char*>(a[1])) : QString();
            element->addParsedAttribute(internedName(a[0]), std::move(value), duplicates);
        }
    }

    bool topIs(const QString& name, bool implied) const
    {
        return m_stack.size() > 1 && m_stack.back()->localName() == name
            && m_stack.back()->isImplied() == implied;
    }

    void pushImplied(const QString& name)
    {
        HtmlElement* element = m_document.createElement(name);
        element->setImplied(true);
        m_stack.back()->appendChild(element);
        m_stack.push_back(element);
    }

    // Gives rows and cells the table sections and rows a browser's tree has.
    void prepareTableContext(const QString& name)
    {
        const bool isRow = name == u"tr";
        const bool isCell = name == u"td" || name == u"th";
        if (!isCell && topIs(u"tr"_s, true)) {
            m_stack.pop_back();
        }
        if (!isRow && !isCell && topIs(u"tbody"_s, true)) {
            m_stack.pop_back();
        }
        if (isRow || isCell) {
            if (m_stack.back()->localName() == u"table") {
                pushImplied(u"tbody"_s);
            }
            const QString& top = m_stack.back()->localName();
            if (isCell && (top == u"tbody" || top == u"thead" || top == u"tfoot")) {
                pushImplied(u"tr"_s);
            }
        }
    }

    struct CachedName {
        const xmlChar* raw = nullptr;
        const QString* name = nullptr;
    };
    static constexpr std::size_t kRecentSize = 64;

    HtmlDocument& m_document;
    htmlParserCtxtPtr m_context;
    std::array<CachedName, kRecentSize> m_recent {};
    std::vector<HtmlElement*> m_stack;
    // Node-based, so references to its names stay valid as it grows.
    std::unordered_map<const xmlChar*, QString> m_names;
    qint64 m_stackScanWork = 0;
    qint64 m_nodes = 0;
};

TreeBuilder* builderOf(void* context)
{
    return static_cast<TreeBuilder*>(static_cast<htmlParserCtxtPtr>(context)->_private);
}

void onStartElement(void* ctx, const xmlChar* name, const xmlChar** attributes)
{
    builderOf(ctx)->startElement(name, attributes);
}

void onEndElement(void* ctx, const xmlChar* name)
{
    builderOf(ctx)->endElement(name);
}

void onCharacters(void* ctx, const xmlChar* text, int length)
{
    builderOf(ctx)->characters(text, length);
}

void onComment(void* ctx, const xmlChar* text)
{
    builderOf(ctx)->comment(text);
}

void onError(void* userData, xmlErrorPtr error)
{
    if (userData && error) {
        builderOf(userData)->error(error);
    }
}

} // namespace

namespace {

// True when `bytes` is well-formed UTF-8 without NUL or CR, so libxml2 can read
// it as it stands.
bool isCleanUtf8(QByteArrayView bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c >= 0x20 && c < 0x80) {
            ++p;
            continue;
        }
        if (c < 0x80) {
            if (c == 0 || c == '\r') {
                return false;
            }
            ++p;
            continue;
        }
        int length = 0;
        char32_t min = 0;
        if ((c & 0xE0) == 0xC0) {
            length = 2;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            min = 0x10000;
        } else {
            return false;
        }
        if (end - p < length) {
            return false;
        }
        char32_t cp = c & (0x7F >> length);
        for (int i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        p += length;
    }
    return true;
}

std::unique_ptr<HtmlDocument> parseUtf8(QByteArrayView utf8, const QUrl& url, const QByteArray& charset)
{
    auto document = std::make_unique<HtmlDocument>(url, charset, HtmlDocument::InitialTree::None);
    if (utf8.size() > std::numeric_limits<int>::max() - 1) {
        utf8 = utf8.first(std::numeric_limits<int>::max() - 1);
    }

    htmlParserCtxtPtr context
        = utf8.isEmpty() ? nullptr : htmlCreateMemoryParserCtxt(utf8.data(), static_cast<int>(utf8.size()));
    if (context) {
        TreeBuilder builder(*document, context);
        htmlSAXHandler sax;
        std::memset(&sax, 0, sizeof sax);
        sax.startElement = onStartElement;
        sax.endElement = onEndElement;
        sax.characters = onCharacters;
        sax.ignorableWhitespace = onCharacters;
        sax.cdataBlock = onCharacters;
        sax.comment = onComment;
        sax.serror = onError;
        sax.initialized = XML_SAX2_MAGIC;
        std::memcpy(context->sax, &sax, sizeof sax);
        // The SAX callbacks receive the context; the builder hangs off it.
        context->userData = context;
        context->_private = &builder;
        htmlCtxtUseOptions(context,
            HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING
                | HTML_PARSE_IGNORE_ENC);
        xmlSwitchEncoding(context, XML_CHAR_ENCODING_UTF8);
        htmlParseDocument(context);
        htmlFreeParserCtxt(context);
    }

    // Every page has a HEAD and a BODY (or FRAMESET), as in a browser.
    HtmlElement* root = document->documentElement();
    bool hasHead = false;
    bool hasBody = false;
    for (HtmlNode* n = root->firstChild(); n; n = n->nextSibling()) {
        if (const HtmlElement* e = n->asElement()) {
            hasHead = hasHead || e->localName() == u"head";
            hasBody = hasBody || e->localName() == u"body" || e->localName() == u"frameset";
        }
    }
    if (!hasHead) {
        root->insertBefore(document->createElement(u"head"_s), root->firstChild());
    }
    if (!hasBody) {
        root->appendChild(document->createElement(u"body"_s));
    }
    return document;
}

} // namespace

std::unique_ptr<HtmlDocument> parseHtml(const QString& text, const QUrl& url, const QByteArray& charset)
{
    QByteArray utf8 = text.toUtf8();
    // libxml2 reads NUL as the end of input, and line breaks are LF in the tree
    // (the writer turns them into CR LF). decode() does both for pages from the
    // network; text handed in directly may still need it.
    if (utf8.contains('\0')) {
        utf8.replace('\0', "\xEF\xBF\xBD");
    }
    if (utf8.contains('\r')) {
        utf8.replace("\r\n", "\n").replace('\r', '\n');
    }
    return parseUtf8(utf8, url, charset);
}

std::unique_ptr<HtmlDocument> parseHtmlBytes(
    QByteArrayView bytes, QByteArrayView contentType, const QUrl& url)
{
    const charset::Detection detection = charset::detect(bytes, contentType);
    // Most pages are clean UTF-8: hand them to libxml2 without a round trip
    // through UTF-16.
    if (detection.name == "utf-8" && isCleanUtf8(bytes.sliced(detection.bomLength))) {
        return parseUtf8(bytes.sliced(detection.bomLength), url, detection.name);
    }
    return parseHtml(charset::decode(bytes, detection), url, detection.name);
}

} // namespace tw::web
