#pragma once
// Form submission by the HTML standard: which controls a submission sends, how
// their names and values are encoded, and the request it makes.
//
// Sent are the enabled controls with a name that belong to the form, in
// document order: checkboxes and radio buttons only when checked, a select's
// selected options, and of the buttons only the one that submitted the form.
// Values go out in the form's charset (its accept-charset, else the page's);
// characters the charset lacks become "&#NNNN;". GET replaces the query of the
// action address; POST sends the entries as the body. An empty action means
// the page's own address.
//
// The action is parsed as browsers parse it (url_parser.h): its query in the
// page's charset. Values are read as the control holds them (input_value.h);
// a hidden input keeps its line breaks, a textarea with wrap="hard" is broken
// into lines of at most `cols` characters, a control with a dirname attribute
// also sends its text direction ("ltr" or "rtl") under that name, and a lone
// UTF-16 surrogate is sent as U+FFFD.

#include "directions/web/navigation_request.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace tw::web {

class HtmlDocument;
class HtmlElement;

struct FormEntry {
    QString name;
    QString value;
    bool isFile = false;
};

// The entries `form` submits when `submitter` (a submit control of the form, or
// nullptr) submits it.
std::vector<FormEntry> constructEntryList(const HtmlElement& form, const HtmlElement* submitter);

// The charset `form` is submitted in (canonical name).
QByteArray formCharset(const HtmlElement& form);

// The entries as application/x-www-form-urlencoded bytes in `charset`; line
// breaks in names and values are sent as CR LF.
QByteArray urlEncodeEntries(const std::vector<FormEntry>& entries, const QByteArray& charset);

// `href` (a link or form action of `document`) parsed against the document's
// base address, serialized; nothing when it does not parse.
std::optional<QByteArray> resolveInDocument(const HtmlDocument& document, const QString& href);

// The request that submitting `form` with `submitter` makes, or nothing when the
// submission leads nowhere this client can go (a javascript: or mailto: action,
// an address that does not parse, method "dialog").
std::optional<NavigationRequest> buildFormSubmission(const HtmlElement& form, const HtmlElement* submitter);

} // namespace tw::web
