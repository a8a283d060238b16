#pragma once
// HtmlElement: an element of a parsed page, with the members a page script would
// use on a form and its controls.
//
// Tag names and attribute names are lower case; attributes keep their source
// order. The value of a form control starts from the markup (the value attribute,
// a textarea's text, a select's selected option) and, once set, is the control's
// own: setting it does not change the markup, as in a browser.
//
// Pointers to elements stay valid as long as their HtmlDocument, that is until
// the browser replaces the page.

#include "directions/web/html_node.h"

#include <QString>

#include <optional>
#include <vector>

namespace tw::web {

class HtmlDocument;

struct HtmlAttribute {
    QString name; // lower case
    QString value; // a null QString for an attribute written without a value
};

class HtmlElement : public HtmlNode {
public:
    HtmlElement(HtmlDocument* document, const QString& tagName);

    // The tag name in lower case ("form", "input", "td").
    QString tagName() const { return m_tagName; }
    // The same, without a copy, for the library's own tree walks.
    const QString& localName() const { return m_tagName; }

    // The value of attribute `name` (any letter case), or an empty string when
    // the element has none.
    QString getAttribute(const QString& name) const;
    bool hasAttribute(const QString& name) const;
    // Sets (or adds, at the end) attribute `name`.
    void setAttribute(const QString& name, const QString& value);
    const std::vector<HtmlAttribute>& attributes() const { return m_attributes; }
    enum class Duplicates { Ignored, Allowed };
    // Adds an attribute as the parser found it. With Duplicates::Ignored, an
    // attribute of a name the element already has is dropped; Allowed skips
    // that check for a caller that knows the names are distinct.
    void addParsedAttribute(const QString& name, QString value, Duplicates duplicates = Duplicates::Ignored);

    // The current value of a form control: for input and button the value set
    // by setValue, else its value attribute; for textarea its text; for select
    // the value of the first selected option. Other elements: the value
    // attribute.
    QString value() const;
    // Sets the control's value. On a select, selects the first option whose
    // value equals `value` (and no option when none does: the select then
    // sends nothing). An input holds the value as its type allows (see
    // input_value.h): a number field given "abc" holds "".
    void setValue(const QString& value);

    // Checkedness of a checkbox or radio button (from the checked attribute
    // until set or toggled by click()).
    bool checked() const;
    void setChecked(bool checked);
    // Selectedness of an option element.
    bool selected() const;
    void setSelected(bool selected);
    // On a select: its option elements in document order, and those that are
    // selected (a single-choice list whose options were never set and none of
    // which is marked selects its first option that is not disabled, as a
    // browser displays it).
    std::vector<HtmlElement*> options() const;
    std::vector<HtmlElement*> selectedOptions() const;
    // True when the control is disabled: its own disabled attribute, or a
    // disabled fieldset around it (outside that fieldset's first legend).
    bool isDisabled() const;
    // The type of an input (lower case, "text" when absent or unknown) or of a
    // button ("submit" unless "button" or "reset"); empty for other elements.
    QString type() const;

    // On a form: the control named `name` (by name or id) that belongs to it;
    // on any other element: the first element inside it with that name or id.
    // Returns the element; throws ScriptError naming the form and the missing
    // name when there is none. Never returns nullptr.
    HtmlElement* all(const QString& name);

    // Does what a user's click does: a submit control (input type submit or
    // image, a button of type submit) submits its form with itself as the
    // submitter; a checkbox toggles, a radio button is checked; a link with an
    // href opens it. The navigation starts in the background; its events come
    // later through the event loop. Anything else does nothing.
    void click();

    // The markup of this element's children, written as the legacy browser
    // engine wrote it (see markup_writer.h).
    QString innerHTML() const;
    // This element's markup including its own tags.
    QString outerHTML() const;

    // The form this control belongs to (its form attribute naming a form's id,
    // else the form open where the parser read it, else the nearest form
    // around it), or nullptr.
    HtmlElement* formOwner() const;
    // Set by the parser: the form that was open when it read this control,
    // also where that form was closed by the end tag of an element around it.
    void setParserFormOwner(HtmlElement* form) { m_parserForm = form; }
    HtmlElement* parserFormOwner() const { return m_parserForm; }

    // True for an element the parser inserted although the source had no tag
    // for it (the TBODY of a table written without one).
    bool isImplied() const { return m_implied; }
    void setImplied(bool implied) { m_implied = implied; }

    // The document loaded into a frame or iframe element, or nullptr.
    HtmlDocument* contentDocument() const { return m_contentDocument; }
    void setContentDocument(HtmlDocument* document) { m_contentDocument = document; }

    // Appends `child` (a node of the same document with no parent) as the last
    // child.
    void appendChild(HtmlNode* child);
    // Inserts `child` (a node of the same document with no parent) before
    // `reference`, one of this element's children; at the end when nullptr.
    void insertBefore(HtmlNode* child, HtmlNode* reference);

private:
    QString describeForError() const;
    bool isCheckable() const;
    void uncheckOtherRadios();

    QString m_tagName;
    std::vector<HtmlAttribute> m_attributes;
    std::optional<QString> m_value;
    std::optional<bool> m_checked;
    std::optional<bool> m_selected;
    bool m_implied = false;
    HtmlDocument* m_contentDocument = nullptr;
    HtmlElement* m_parserForm = nullptr;
};

} // namespace tw::web
