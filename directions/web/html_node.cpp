#include "directions/web/html_node.h"

#include "directions/web/html_element.h"

namespace tw::web {

HtmlElement* HtmlNode::asElement()
{
    // The kind says what the node is; only elements are HtmlElement objects.
    return m_kind == Kind::Element ? static_cast<HtmlElement*>(this)
                                   : nullptr; // NOLINT(cppcoreguidelines-pro-type-static-cast-downcast)
}

const HtmlElement* HtmlNode::asElement() const
{
    return m_kind == Kind::Element ? static_cast<const HtmlElement*>(this)
                                   : nullptr; // NOLINT(cppcoreguidelines-pro-type-static-cast-downcast)
}

HtmlNode* HtmlNode::nextInTree(const HtmlNode* root) const
{
    if (m_firstChild) {
        return m_firstChild;
    }
    return nextSkippingChildren(root);
}

HtmlNode* HtmlNode::nextSkippingChildren(const HtmlNode* root) const
{
    const HtmlNode* node = this;
    while (node && node != root) {
        if (node->m_nextSibling) {
            return node->m_nextSibling;
        }
        node = node->m_parent;
    }
    return nullptr;
}

QString HtmlNode::textContent() const
{
    if (m_kind != Kind::Element) {
        return m_kind == Kind::Text ? m_data : QString();
    }
    QString text;
    for (const HtmlNode* n = m_firstChild; n; n = n->nextInTree(this)) {
        if (n->m_kind == Kind::Text) {
            text += n->m_data;
        }
    }
    return text;
}

} // namespace tw::web
