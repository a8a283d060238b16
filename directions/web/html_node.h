#pragma once
// HtmlNode: one node of a parsed page: an element, a run of text or a comment.
//
// Nodes live in their HtmlDocument, which owns them all in flat storage; the tree
// is formed by plain pointers (parent, first and last child, next sibling). So a
// page nested 100 000 levels deep is built, walked and destroyed without
// recursion. A node pointer stays valid as long as its document does.

#include <QString>

namespace tw::web {

class HtmlDocument;
class HtmlElement;

class HtmlNode {
public:
    enum class Kind { Element, Text, Comment };

    HtmlNode(Kind kind, HtmlDocument* document)
        : m_kind(kind)
        , m_document(document)
    {
    }
    HtmlNode(const HtmlNode&) = delete;
    HtmlNode& operator=(const HtmlNode&) = delete;

    Kind kind() const { return m_kind; }
    bool isElement() const { return m_kind == Kind::Element; }
    // This node as an element, or nullptr when it is text or a comment.
    HtmlElement* asElement();
    const HtmlElement* asElement() const;

    // The text of a text or comment node (empty for an element).
    const QString& data() const { return m_data; }
    void setData(const QString& data) { m_data = data; }
    void appendData(const QString& more) { m_data += more; }

    HtmlDocument* ownerDocument() const { return m_document; }
    HtmlElement* parentElement() const { return m_parent; }
    HtmlNode* firstChild() const { return m_firstChild; }
    HtmlNode* lastChild() const { return m_lastChild; }
    HtmlNode* nextSibling() const { return m_nextSibling; }
    HtmlNode* previousSibling() const { return m_previousSibling; }

    // The node after this one in document order (its first child, else the next
    // node after it), staying inside `root`; nullptr at the end. Walks use this
    // instead of recursion.
    HtmlNode* nextInTree(const HtmlNode* root) const;
    // Like nextInTree but skipping this node's children.
    HtmlNode* nextSkippingChildren(const HtmlNode* root) const;

    // The concatenated text of all text nodes below this one.
    QString textContent() const;

protected:
    friend class HtmlElement;

private:
    Kind m_kind;
    HtmlDocument* m_document;
    QString m_data;
    HtmlElement* m_parent = nullptr;
    HtmlNode* m_firstChild = nullptr;
    HtmlNode* m_lastChild = nullptr;
    HtmlNode* m_nextSibling = nullptr;
    HtmlNode* m_previousSibling = nullptr;
};

} // namespace tw::web
