#include "directions/web/html_element.h"

#include "directions/web/form_submission.h"
#include "directions/web/html_document.h"
#include "directions/web/input_value.h"
#include "directions/web/markup_writer.h"
#include "directions/web/script_error.h"
#include "directions/web/url_parser.h"

#include <QSet>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tw::web {
namespace {

bool isSubmitControl(const HtmlElement& e)
{
    const QString t = e.type();
    if (e.tagName() == u"input") {
        return t == u"submit" || t == u"image";
    }
    return e.tagName() == u"button" && t == u"submit";
}

// The text of an option, with runs of whitespace collapsed and the ends trimmed.
QString optionText(const HtmlElement& option)
{
    return option.textContent().simplified();
}

} // namespace

HtmlElement::HtmlElement(HtmlDocument* document, const QString& tagName)
    : HtmlNode(Kind::Element, document)
    , m_tagName(tagName)
{
}

QString HtmlElement::getAttribute(const QString& name) const
{
    for (const HtmlAttribute& a : m_attributes) {
        if (a.name.compare(name, Qt::CaseInsensitive) == 0) {
            return a.value.isNull() ? QString(u""_s) : a.value;
        }
    }
    return QString(u""_s);
}

bool HtmlElement::hasAttribute(const QString& name) const
{
    for (const HtmlAttribute& a : m_attributes) {
        if (a.name.compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

void HtmlElement::setAttribute(const QString& name, const QString& value)
{
    for (HtmlAttribute& a : m_attributes) {
        if (a.name.compare(name, Qt::CaseInsensitive) == 0) {
            a.value = value;
            return;
        }
    }
    m_attributes.push_back({ name.toLower(), value });
}

void HtmlElement::addParsedAttribute(const QString& name, QString value, Duplicates duplicates)
{
    if (duplicates == Duplicates::Ignored && hasAttribute(name)) {
        return;
    }
    m_attributes.push_back({ name, std::move(value) });
}

QString HtmlElement::type() const
{
    if (m_tagName == u"input") {
        static const QSet<QString> known
            = { u"hidden"_s, u"text"_s, u"search"_s, u"tel"_s, u"url"_s, u"email"_s, u"password"_s, u"date"_s,
                  u"month"_s, u"week"_s, u"time"_s, u"datetime-local"_s, u"number"_s, u"range"_s, u"color"_s,
                  u"checkbox"_s, u"radio"_s, u"file"_s, u"submit"_s, u"image"_s, u"reset"_s, u"button"_s };
        const QString t = getAttribute(u"type"_s).trimmed().toLower();
        return known.contains(t) ? t : u"text"_s;
    }
    if (m_tagName == u"button") {
        const QString t = getAttribute(u"type"_s).trimmed().toLower();
        return (t == u"button" || t == u"reset") ? t : u"submit"_s;
    }
    return QString();
}

bool HtmlElement::isCheckable() const
{
    if (m_tagName != u"input") {
        return false;
    }
    const QString t = type();
    return t == u"checkbox" || t == u"radio";
}

QString HtmlElement::value() const
{
    if (m_tagName == u"select") {
        const auto selected = selectedOptions();
        return selected.empty() ? QString(u""_s) : selected.front()->value();
    }
    if (m_tagName == u"input") {
        const QString t = type();
        if (isCheckable()) {
            return hasAttribute(u"value"_s) ? getAttribute(u"value"_s) : u"on"_s;
        }
        return sanitizeInputValue(t, m_value ? *m_value : getAttribute(u"value"_s), *this);
    }
    if (m_value) {
        return *m_value;
    }
    if (m_tagName == u"textarea") {
        QString text = textContent();
        // A line break right after the start tag belongs to the markup, not the value.
        if (text.startsWith(u'\n')) {
            text.remove(0, 1);
        }
        return text;
    }
    if (m_tagName == u"option") {
        return hasAttribute(u"value"_s) ? getAttribute(u"value"_s) : optionText(*this);
    }
    return getAttribute(u"value"_s);
}

void HtmlElement::setValue(const QString& value)
{
    if (m_tagName == u"select") {
        bool found = false;
        for (HtmlElement* option : options()) {
            const bool match = !found && option->value() == value;
            option->setSelected(match);
            found = found || match;
        }
        return;
    }
    m_value = value;
}

bool HtmlElement::checked() const
{
    return m_checked ? *m_checked : hasAttribute(u"checked"_s);
}

void HtmlElement::setChecked(bool checked)
{
    m_checked = checked;
    if (checked && m_tagName == u"input" && type() == u"radio") {
        uncheckOtherRadios();
    }
}

void HtmlElement::uncheckOtherRadios()
{
    const QString name = getAttribute(u"name"_s);
    if (name.isEmpty()) {
        return;
    }
    // The group may reach outside the form's subtree (controls the parser gave
    // to a form closed early), so the whole page is searched.
    HtmlElement* form = formOwner();
    HtmlNode* root = ownerDocument()->documentElement();
    for (HtmlNode* n = root; n; n = n->nextInTree(root)) {
        HtmlElement* e = n->asElement();
        if (e && e != this && e->m_tagName == u"input" && e->type() == u"radio"
            && e->getAttribute(u"name"_s) == name && e->formOwner() == form) {
            e->m_checked = false;
        }
    }
}

bool HtmlElement::selected() const
{
    return m_selected ? *m_selected : hasAttribute(u"selected"_s);
}

void HtmlElement::setSelected(bool selected)
{
    m_selected = selected;
}

std::vector<HtmlElement*> HtmlElement::options() const
{
    std::vector<HtmlElement*> result;
    for (HtmlNode* n = firstChild(); n; n = n->nextInTree(this)) {
        if (HtmlElement* e = n->asElement(); e && e->m_tagName == u"option") {
            result.push_back(e);
        }
    }
    return result;
}

std::vector<HtmlElement*> HtmlElement::selectedOptions() const
{
    const std::vector<HtmlElement*> all = options();
    std::vector<HtmlElement*> result;
    for (HtmlElement* o : all) {
        if (o->selected()) {
            result.push_back(o);
        }
    }
    const bool multiple = hasAttribute(u"multiple"_s);
    if (!multiple && result.size() > 1) {
        result.erase(result.begin(), result.end() - 1); // the last one marked wins
    }
    // Once a script has set the select's value, no option is chosen for it.
    const bool set
        = std::any_of(all.begin(), all.end(), [](const HtmlElement* o) { return o->m_selected.has_value(); });
    if (!multiple && !set && result.empty() && getAttribute(u"size"_s).toInt() <= 1) {
        for (HtmlElement* o : all) {
            if (!o->hasAttribute(u"disabled"_s)) {
                result.push_back(o);
                break;
            }
        }
    }
    return result;
}

bool HtmlElement::isDisabled() const
{
    if (hasAttribute(u"disabled"_s)) {
        return true;
    }
    const HtmlNode* child = this;
    for (const HtmlElement* p = parentElement(); p; child = p, p = p->parentElement()) {
        if (p->m_tagName != u"fieldset" || !p->hasAttribute(u"disabled"_s)) {
            continue;
        }
        // Controls inside the fieldset's first legend stay enabled.
        const HtmlElement* firstLegend = nullptr;
        for (HtmlNode* c = p->firstChild(); c; c = c->nextSibling()) {
            if (HtmlElement* e = c->asElement(); e && e->m_tagName == u"legend") {
                firstLegend = e;
                break;
            }
        }
        if (!firstLegend || child != firstLegend) {
            return true;
        }
    }
    return false;
}

HtmlElement* HtmlElement::formOwner() const
{
    if (hasAttribute(u"form"_s)) {
        HtmlElement* form = ownerDocument()->getElementById(getAttribute(u"form"_s));
        return (form && form->m_tagName == u"form") ? form : nullptr;
    }
    if (m_parserForm) {
        return m_parserForm;
    }
    for (HtmlElement* p = parentElement(); p; p = p->parentElement()) {
        if (p->m_tagName == u"form") {
            return p;
        }
    }
    return nullptr;
}

QString HtmlElement::describeForError() const
{
    if (m_tagName == u"form") {
        QString name = getAttribute(u"name"_s);
        if (name.isEmpty()) {
            name = getAttribute(u"id"_s);
        }
        return name.isEmpty() ? u"The form"_s : u"The form \"%1\""_s.arg(name);
    }
    return u"The element <%1>"_s.arg(m_tagName);
}

HtmlElement* HtmlElement::all(const QString& name)
{
    auto matches = [&name](const HtmlElement* e) {
        return e->getAttribute(u"name"_s) == name || e->getAttribute(u"id"_s) == name;
    };
    if (!name.isEmpty()) {
        for (HtmlNode* n = firstChild(); n; n = n->nextInTree(this)) {
            if (HtmlElement* e = n->asElement(); e && matches(e)) {
                return e;
            }
        }
        // A control outside the form that belongs to it: one that names it in
        // its form attribute, or one the parser read while the form was open.
        if (m_tagName == u"form") {
            HtmlElement* root = ownerDocument()->documentElement();
            for (HtmlNode* n = root; n; n = n->nextInTree(root)) {
                HtmlElement* e = n->asElement();
                if (e && matches(e) && e->formOwner() == this) {
                    return e;
                }
            }
        }
    }
    throw ScriptError(u"%1 has no element \"%2\"."_s.arg(describeForError(), name));
}

void HtmlElement::click()
{
    if (isSubmitControl(*this)) {
        if (isDisabled()) {
            return;
        }
        if (HtmlElement* form = formOwner()) {
            if (auto request = buildFormSubmission(*form, this)) {
                ownerDocument()->requestNavigation(*request);
            }
        }
        return;
    }
    if (isCheckable()) {
        if (isDisabled()) {
            return;
        }
        setChecked(type() == u"radio" ? true : !checked());
        return;
    }
    if ((m_tagName == u"a" || m_tagName == u"area") && hasAttribute(u"href"_s)) {
        const auto target = resolveInDocument(*ownerDocument(), getAttribute(u"href"_s));
        const QByteArray scheme = target ? url::scheme(*target) : QByteArray();
        if (scheme == "http" || scheme == "https" || scheme == "file") {
            NavigationRequest request;
            request.exactUrl = *target;
            request.url = url::toQUrl(*target);
            ownerDocument()->requestNavigation(request);
        }
    }
}

QString HtmlElement::innerHTML() const
{
    return writeChildrenMarkup(*this);
}

QString HtmlElement::outerHTML() const
{
    return writeNodeMarkup(*this);
}

void HtmlElement::appendChild(HtmlNode* child)
{
    child->m_parent = this;
    child->m_previousSibling = m_lastChild;
    child->m_nextSibling = nullptr;
    if (m_lastChild) {
        m_lastChild->m_nextSibling = child;
    } else {
        m_firstChild = child;
    }
    m_lastChild = child;
}

void HtmlElement::insertBefore(HtmlNode* child, HtmlNode* reference)
{
    if (!reference || reference->m_parent != this) {
        appendChild(child);
        return;
    }
    child->m_parent = this;
    child->m_nextSibling = reference;
    child->m_previousSibling = reference->m_previousSibling;
    if (reference->m_previousSibling) {
        reference->m_previousSibling->m_nextSibling = child;
    } else {
        m_firstChild = child;
    }
    reference->m_previousSibling = child;
}

} // namespace tw::web
