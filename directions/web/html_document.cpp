#include "directions/web/html_document.h"

#include "directions/web/script_error.h"

using namespace Qt::StringLiterals;

namespace tw::web {

HtmlDocument::HtmlDocument(const QUrl& url, const QByteArray& charset, InitialTree tree)
    : m_url(url)
    , m_charset(charset)
{
    m_root = createElement(u"html"_s);
    if (tree == InitialTree::None) {
        return;
    }
    m_root->appendChild(createElement(u"head"_s));
    m_root->appendChild(createElement(u"body"_s));
}

HtmlDocument::~HtmlDocument() = default;

HtmlElement* HtmlDocument::forms(const QString& name)
{
    HtmlElement* byId = nullptr;
    for (HtmlElement* form : allForms()) {
        if (form->getAttribute(u"name"_s) == name) {
            return form;
        }
        if (!byId && form->getAttribute(u"id"_s) == name) {
            byId = form;
        }
    }
    if (byId && !name.isEmpty()) {
        return byId;
    }
    throw ScriptError(u"The page has no form \"%1\"."_s.arg(name));
}

std::vector<HtmlElement*> HtmlDocument::allForms() const
{
    return getElementsByTagName(u"form"_s);
}

HtmlElement* HtmlDocument::body() const
{
    for (HtmlNode* n = m_root->firstChild(); n; n = n->nextSibling()) {
        HtmlElement* e = n->asElement();
        if (e && (e->tagName() == u"body" || e->tagName() == u"frameset")) {
            return e;
        }
    }
    return nullptr;
}

HtmlElement* HtmlDocument::getElementById(const QString& id) const
{
    if (id.isEmpty()) {
        return nullptr;
    }
    for (HtmlNode* n = m_root; n; n = n->nextInTree(m_root)) {
        HtmlElement* e = n->asElement();
        if (e && e->getAttribute(u"id"_s) == id) {
            return e;
        }
    }
    return nullptr;
}

std::vector<HtmlElement*> HtmlDocument::getElementsByTagName(const QString& tagName) const
{
    std::vector<HtmlElement*> result;
    for (HtmlNode* n = m_root; n; n = n->nextInTree(m_root)) {
        HtmlElement* e = n->asElement();
        if (e && e->tagName() == tagName) {
            result.push_back(e);
        }
    }
    return result;
}

QUrl HtmlDocument::baseUrl() const
{
    for (HtmlElement* base : getElementsByTagName(u"base"_s)) {
        if (base->hasAttribute(u"href"_s)) {
            const QUrl href(base->getAttribute(u"href"_s).trimmed());
            if (href.isValid()) {
                return m_url.resolved(href);
            }
            break;
        }
    }
    return m_url;
}

HtmlDocument* HtmlDocument::adoptFrame(HtmlElement* frameElement, std::unique_ptr<HtmlDocument> frame)
{
    HtmlDocument* raw = frame.get();
    m_frames.push_back(std::move(frame));
    if (frameElement) {
        frameElement->setContentDocument(raw);
    }
    return raw;
}

void HtmlDocument::requestNavigation(const NavigationRequest& request) const
{
    if (m_navigate) {
        m_navigate(request);
    }
}

HtmlElement* HtmlDocument::createElement(const QString& tagName)
{
    return m_elements.make(this, tagName);
}

HtmlNode* HtmlDocument::createText(const QString& text)
{
    HtmlNode* node = m_texts.make(HtmlNode::Kind::Text, this);
    node->setData(text);
    return node;
}

HtmlNode* HtmlDocument::createComment(const QString& text)
{
    HtmlNode* node = m_texts.make(HtmlNode::Kind::Comment, this);
    node->setData(text);
    return node;
}

} // namespace tw::web
