#include "directions/web/html_parser.h"

#include "directions/web/charset.h"

#include <libxml/HTMLparser.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <string>
#include <string_view>
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
        flushText();
        if (!roomForNode()) {
            return;
        }
        const Name& name = internedName(rawName);
        HtmlElement* root = m_document.documentElement();
        if (m_stack.empty()) {
            m_stack.push_back({ root, &nameFor(root->localName()) });
        }
        if (name.is(Name::Html)) {
            // The root exists from the start; the tag only brings attributes
            // (a repeated <html> adds those the root lacks, as in a browser).
            addAttributes(root, attributes);
            return;
        }
        if (name.is(Name::Form) && m_formPointer) {
            // A form inside a form is dropped; its controls join the outer one.
            return;
        }
        prepareTableContext(name);
        HtmlElement* element = m_document.createElement(name.text);
        addAttributes(element, attributes);
        m_stack.back().element->appendChild(element);
        m_stack.push_back({ element, &name });
        if (name.is(Name::Form)) {
            m_formPointer = element;
        } else if (m_formPointer && name.is(Name::Listed) && !element->hasAttribute(u"form"_s)) {
            // A control belongs to the open form even where that form has
            // already been closed by the end tag of an element around it.
            element->setParserFormOwner(m_formPointer);
        }
    }

    void endElement(const xmlChar* rawName)
    {
        flushText();
        // Names are interned by their text, so one name is one object.
        const Name* name = &internedName(rawName);
        if (name->is(Name::Form) && atEndTagOf("form")) {
            m_formPointer = nullptr;
        }
        while (m_stack.size() > 1 && m_stack.back().element->isImplied() && m_stack.back().name != name) {
            m_stack.pop_back();
        }
        if (m_stack.size() > 1 && m_stack.back().name == name) {
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
        // libxml2 hands over a run of text in pieces (one per entity, one per
        // buffer's worth); they are joined here and become one string when
        // the run ends.
        m_pendingText.append(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
    }

    // Puts the text gathered since the last tag or comment into the tree: onto
    // the current element's last child when that is text, else as a new node.
    void flushText()
    {
        if (m_pendingText.empty()) {
            return;
        }
        HtmlElement* parent = current();
        HtmlNode* last = parent->lastChild();
        if (last && last->kind() == HtmlNode::Kind::Text) {
            last->appendData(
                QString::fromUtf8(m_pendingText.data(), static_cast<qsizetype>(m_pendingText.size())));
        } else if (roomForNode()) {
            parent->appendChild(m_document.createText(sharedString(m_pendingText)));
        }
        m_pendingText.clear();
    }

    void comment(const xmlChar* text)
    {
        // A comment before the page's first element belongs to the document,
        // not to its <html> element; the tree has no place for it.
        flushText();
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
        // An end tag </form> with no form open still ends the open form's
        // hold on the controls that follow.
        if (error->code == XML_ERR_TAG_NAME_MISMATCH && error->str1
            && std::string_view(error->str1).compare("form") == 0 && atEndTagOf("form")) {
            m_formPointer = nullptr;
        }
        if (error->code != XML_ERR_TAG_NAME_MISMATCH && error->code != XML_HTML_STRUCURE_ERROR) {
            return;
        }
        m_stackScanWork += m_context->nameNr;
        if (m_stackScanWork > kStackScanBudget && !m_document.isTruncated()) {
            m_document.setTruncated(true);
            xmlStopParser(m_context);
        }
    }

    // Hands the text still gathered to the tree; called once libxml2 is done.
    void finish() { flushText(); }

private:
    // True when the tag libxml2 has just read is the end tag </`tag`> written
    // in the page, rather than an end libxml2 implies (for an element closed
    // by the end tag of an element around it, a start tag or the end of input).
    bool atEndTagOf(std::string_view tag) const
    {
        const xmlParserInputPtr input = m_context->input;
        if (!input || !input->cur || !input->base) {
            return false;
        }
        constexpr std::ptrdiff_t kLookBack = 1024;
        const xmlChar* stop = input->cur - std::min<std::ptrdiff_t>(input->cur - input->base, kLookBack);
        for (const xmlChar* p = input->cur; p > stop;) {
            --p;
            if (*p != '<') {
                continue;
            }
            if (input->end - p < std::ptrdiff_t(tag.size() + 2) || p[1] != '/') {
                return false;
            }
            for (std::size_t i = 0; i < tag.size(); ++i) {
                if ((p[2 + i] | 0x20U) != static_cast<unsigned char>(tag[i])) {
                    return false;
                }
            }
            const xmlChar after = p + 2 + tag.size() < input->end ? p[2 + tag.size()] : '>';
            return after == '>' || after == '/' || after == ' ' || after == '\t' || after == '\n'
                || after == '\f';
        }
        return false;
    }

    // The UTF-16 form of `utf8`. Result pages repeat the same short strings
    // over and over (street names, " onto ", icon addresses, the line break
    // between rows), so a short string seen recently is shared (QString is
    // copy-on-write) instead of converted and allocated again.
    QString sharedString(std::string_view utf8)
    {
        if (utf8.size() > kSharedMaxBytes) {
            return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
        }
        SharedString& slot = m_shared[shortHash(utf8) % kSharedSlots];
        if (slot.length != utf8.size() || std::memcmp(slot.bytes.data(), utf8.data(), utf8.size()) != 0) {
            slot.length = utf8.size();
            std::memcpy(slot.bytes.data(), utf8.data(), utf8.size());
            slot.text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
        }
        return slot.text;
    }

    // A quick hash of a string of at most kSharedMaxBytes bytes: its length
    // and its first and last eight bytes (overlapping when shorter), mixed.
    static std::size_t shortHash(std::string_view bytes)
    {
        std::uint64_t head = 0;
        std::uint64_t tail = 0;
        if (bytes.size() >= 8) {
            std::memcpy(&head, bytes.data(), 8);
            std::memcpy(&tail, bytes.data() + bytes.size() - 8, 8);
        } else {
            std::memcpy(&head, bytes.data(), bytes.size());
        }
        std::uint64_t h = (head * 0x9E3779B97F4A7C15ULL) ^ (tail + bytes.size()) * 0xC2B2AE3D27D4EB4FULL;
        h ^= h >> 29U;
        return static_cast<std::size_t>(h);
    }

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
            HtmlElement* root = m_document.documentElement();
            m_stack.push_back({ root, &nameFor(root->localName()) });
        }
        return m_stack.back().element;
    }

    // A tag or attribute name, in lower case, with what the table repairs need
    // to know about it.
    struct Name {
        enum Role : unsigned {
            Html = 1U << 0U,
            Table = 1U << 1U,
            Row = 1U << 2U, // tr
            Cell = 1U << 3U, // td, th
            Tbody = 1U << 4U,
            Section = 1U << 5U, // tbody, thead, tfoot
            Form = 1U << 6U,
            Listed = 1U << 7U, // the controls a form owns
        };
        QString text;
        unsigned roles = 0;
        bool is(Role role) const { return (roles & role) != 0; }
    };

    const Name& internedName(const xmlChar* raw)
    {
        // libxml2 keeps one copy of each name in its dictionary, so the pointer
        // identifies the name; a small cache in front of the hash answers most.
        // The dictionary packs names a few bytes apart, so the address is
        // mixed before it picks a slot.
        const auto bits = static_cast<std::uint64_t>(reinterpret_cast<quintptr>(raw));
        CachedName& slot = m_recent[((bits * 0x9E3779B97F4A7C15ULL) >> 58U) % kRecentSize];
        if (slot.raw == raw) {
            return *slot.name;
        }
        slot.raw = raw;
        slot.name = &lookupName(raw);
        return *slot.name;
    }

    const Name& lookupName(const xmlChar* raw)
    {
        auto it = m_names.find(raw);
        if (it != m_names.end()) {
            return *it->second;
        }
        const Name& name = nameFor(QString::fromUtf8(reinterpret_cast<const char*>(raw)).toLower());
        m_names.emplace(raw, &name);
        return name;
    }

    // The one Name object of the lower-case name `text`.
    const Name& nameFor(const QString& text)
    {
        auto it = m_byText.find(text);
        if (it != m_byText.end()) {
            return *it->second;
        }
        unsigned roles = 0;
        if (text == u"html") {
            roles = Name::Html;
        } else if (text == u"table") {
            roles = Name::Table;
        } else if (text == u"tr") {
            roles = Name::Row;
        } else if (text == u"td" || text == u"th") {
            roles = Name::Cell;
        } else if (text == u"tbody") {
            roles = Name::Tbody | Name::Section;
        } else if (text == u"thead" || text == u"tfoot") {
            roles = Name::Section;
        } else if (text == u"form") {
            roles = Name::Form;
        } else if (text == u"input" || text == u"button" || text == u"select" || text == u"textarea"
            || text == u"fieldset" || text == u"object" || text == u"output") {
            roles = Name::Listed;
        }
        const Name& name = m_nameStore.emplace_back(Name { withStaticStorage(text), roles });
        m_byText.emplace(text, &name);
        return name;
    }

    // `text` itself, or, for a common tag or attribute name, the same text in
    // static storage. Copies of a static string share it without reference
    // counting, and every element and attribute holds a copy of its name.
    static QString withStaticStorage(const QString& text)
    {
        static constexpr std::u16string_view kCommonNames[] = { u"a", u"b", u"body", u"br", u"button",
            u"caption", u"center", u"col", u"colgroup", u"div", u"em", u"font", u"form", u"frame",
            u"frameset", u"h1", u"h2", u"h3", u"h4", u"h5", u"h6", u"head", u"hr", u"html", u"i", u"iframe",
            u"img", u"input", u"label", u"li", u"link", u"meta", u"noscript", u"ol", u"option", u"p", u"pre",
            u"script", u"select", u"small", u"span", u"strong", u"style", u"table", u"tbody", u"td",
            u"textarea", u"tfoot", u"th", u"thead", u"title", u"tr", u"u", u"ul", u"action", u"align", u"alt",
            u"bgcolor", u"border", u"cellpadding", u"cellspacing", u"charset", u"checked", u"class", u"color",
            u"colspan", u"content", u"disabled", u"face", u"for", u"height", u"href", u"http-equiv", u"id",
            u"lang", u"maxlength", u"method", u"name", u"rel", u"rowspan", u"selected", u"size", u"src",
            u"target", u"type", u"valign", u"value", u"width" };
        for (const std::u16string_view name : kCommonNames) {
            if (QStringView(name) == text) {
                return QString::fromRawData(
                    reinterpret_cast<const QChar*>(name.data()), qsizetype(name.size()));
            }
        }
        return text;
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
            QString value = a[1] ? sharedString(reinterpret_cast<const char*>(a[1])) : QString();
            element->addParsedAttribute(internedName(a[0]).text, std::move(value), duplicates);
        }
    }

    bool topIsImplied(Name::Role role) const
    {
        return m_stack.size() > 1 && m_stack.back().name->is(role) && m_stack.back().element->isImplied();
    }

    void pushImplied(const QString& text)
    {
        const Name& name = nameFor(text);
        HtmlElement* element = m_document.createElement(name.text);
        element->setImplied(true);
        m_stack.back().element->appendChild(element);
        m_stack.push_back({ element, &name });
    }

    // Gives rows and cells the table sections and rows a browser's tree has.
    void prepareTableContext(const Name& name)
    {
        const bool isRow = name.is(Name::Row);
        const bool isCell = name.is(Name::Cell);
        if (!isCell && topIsImplied(Name::Row)) {
            m_stack.pop_back();
        }
        if (!isRow && !isCell && topIsImplied(Name::Tbody)) {
            m_stack.pop_back();
        }
        if (isRow || isCell) {
            if (m_stack.back().name->is(Name::Table)) {
                pushImplied(u"tbody"_s);
            }
            if (isCell && m_stack.back().name->is(Name::Section)) {
                pushImplied(u"tr"_s);
            }
        }
    }

    static constexpr std::size_t kSharedMaxBytes = 32;
    static constexpr std::size_t kSharedSlots = 512;
    struct SharedString {
        std::size_t length = kSharedMaxBytes + 1; // matches nothing until filled
        std::array<char, kSharedMaxBytes> bytes {};
        QString text;
    };

    struct CachedName {
        const xmlChar* raw = nullptr;
        const Name* name = nullptr;
    };
    // An element on the stack of open elements, with its interned name.
    struct Open {
        HtmlElement* element;
        const Name* name;
    };
    static constexpr std::size_t kRecentSize = 64;

    HtmlDocument& m_document;
    htmlParserCtxtPtr m_context;
    std::array<CachedName, kRecentSize> m_recent {};
    std::vector<Open> m_stack;
    // A deque, so references to its names stay valid as it grows.
    std::deque<Name> m_nameStore;
    std::unordered_map<QString, const Name*> m_byText;
    std::unordered_map<const xmlChar*, const Name*> m_names;
    std::string m_pendingText;
    // The form whose start tag was read last and whose end tag has not been:
    // the form that controls read until then belong to.
    HtmlElement* m_formPointer = nullptr;
    std::vector<SharedString> m_shared = std::vector<SharedString>(kSharedSlots);
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
        // Eight bytes at a time while all are printable ASCII (0x20 to 0x7F):
        // no high bit set, and subtracting 0x20 from each borrows nowhere.
        if (end - p >= 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, p, 8);
            constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
            constexpr std::uint64_t kBelowSpace = 0x2020202020202020ULL;
            if ((word & kHighBits) == 0 && ((word - kBelowSpace) & kHighBits) == 0) {
                p += 8;
                continue;
            }
        }
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

// Of the radio buttons of one group (one form, one name) written checked,
// the last one is checked, as each unchecks the others when it is inserted.
void checkLastRadioOfEachGroup(HtmlDocument& document)
{
    std::map<std::pair<const HtmlElement*, QString>, HtmlElement*> checkedOfGroup;
    HtmlElement* root = document.documentElement();
    for (HtmlNode* n = root; n; n = n->nextInTree(root)) {
        HtmlElement* e = n->asElement();
        if (!e || e->localName() != u"input" || !e->hasAttribute(u"checked"_s) || e->type() != u"radio") {
            continue;
        }
        const QString name = e->getAttribute(u"name"_s);
        if (name.isEmpty()) {
            continue;
        }
        HtmlElement*& previous = checkedOfGroup[{ e->formOwner(), name }];
        if (previous) {
            previous->setChecked(false);
        }
        previous = e;
    }
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
        builder.finish();
        htmlFreeParserCtxt(context);
    }

    checkLastRadioOfEachGroup(*document);

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
