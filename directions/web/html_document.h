#pragma once
// HtmlDocument: a parsed page (or the page of one frame): its element tree, its
// address and the charset it was decoded with.
//
// The document owns every node in flat storage, so neither building nor
// destroying it recurses, whatever the nesting depth of the page. It always has
// a root <html> element (the parser supplies one when the page has none).
//
// A click that submits a form or follows a link hands a NavigationRequest to the
// navigation handler the browser installs; a document without one ignores it.

#include "directions/web/html_element.h"
#include "directions/web/html_node.h"
#include "directions/web/navigation_request.h"
#include "directions/web/node_arena.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

namespace tw::web {

class HtmlDocument {
public:
    using NavigationHandler = std::function<void(const NavigationRequest&)>;

    enum class InitialTree {
        Blank, // an <html> element with an empty <head> and <body>
        None, // nothing yet: the parser builds the tree and sets the root
    };

    // A document at `url`, decoded with `charset`.
    explicit HtmlDocument(const QUrl& url = QUrl(), const QByteArray& charset = "windows-1252",
        InitialTree tree = InitialTree::Blank);
    ~HtmlDocument();
    HtmlDocument(const HtmlDocument&) = delete;
    HtmlDocument& operator=(const HtmlDocument&) = delete;

    // The form whose name (or else id) is `name`, the first in document order.
    // Throws ScriptError(`The page has no form "name".`) when there is none.
    HtmlElement* forms(const QString& name);
    // All forms in document order.
    std::vector<HtmlElement*> allForms() const;

    // The <html> element; never nullptr.
    HtmlElement* documentElement() const { return m_root; }
    // The <body> element (or the first frameset), or nullptr.
    HtmlElement* body() const;
    // The first element whose id is `id`, or nullptr.
    HtmlElement* getElementById(const QString& id) const;
    // All elements with tag name `tagName` (lower case), in document order.
    std::vector<HtmlElement*> getElementsByTagName(const QString& tagName) const;

    QUrl url() const { return m_url; }
    // The address relative links resolve against: the first <base href>, else
    // the document's address.
    QUrl baseUrl() const;
    // The canonical name of the charset the page was decoded with, e.g. "utf-8"
    // or "windows-1252"; forms are submitted in it.
    QByteArray charset() const { return m_charset; }
    void setCharset(const QByteArray& charset) { m_charset = charset; }

    // The documents of this page's frames and iframes that have loaded.
    const std::vector<std::unique_ptr<HtmlDocument>>& frames() const { return m_frames; }
    // Takes ownership of a frame's document and links it to `frameElement`.
    HtmlDocument* adoptFrame(HtmlElement* frameElement, std::unique_ptr<HtmlDocument> frame);

    // True when the parser stopped early because the page was pathological
    // (far too many nodes, or a pile of unmatched end tags); the document holds
    // the part before that point.
    bool isTruncated() const { return m_truncated; }
    void setTruncated(bool truncated) { m_truncated = truncated; }

    void setNavigationHandler(NavigationHandler handler) { m_navigate = std::move(handler); }
    // Passes `request` to the navigation handler, if any.
    void requestNavigation(const NavigationRequest& request) const;

    // Node factories for the parser: the new node belongs to this document and
    // has no parent yet.
    HtmlElement* createElement(const QString& tagName);
    HtmlNode* createText(const QString& text);
    HtmlNode* createComment(const QString& text);
    // Makes `root` (an <html> element of this document) the document element.
    void setDocumentElement(HtmlElement* root) { m_root = root; }

private:
    QUrl m_url;
    QByteArray m_charset;
    HtmlElement* m_root = nullptr;
    NodeArena<HtmlElement> m_elements;
    NodeArena<HtmlNode> m_texts;
    std::vector<std::unique_ptr<HtmlDocument>> m_frames;
    NavigationHandler m_navigate;
    bool m_truncated = false;
};

} // namespace tw::web
