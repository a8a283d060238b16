#pragma once
// The value rules of input types: what an input of a given type holds when
// it is given some text, as browsers clean it before a script reads it or a
// form sends it. A text field loses its line breaks, a number field that holds
// no number is empty, a colour is "#rrggbb" in lower case, and so on.

#include <QString>

namespace tw::web {

class HtmlElement;

// `value` as an input of `type` (lower case, as HtmlElement::type() gives it)
// holds it. `input` supplies the attributes some types read (min, max, step,
// multiple). Types without a rule (hidden, checkbox, radio, file, the buttons)
// keep the value as it is.
QString sanitizeInputValue(const QString& type, const QString& value, const HtmlElement& input);

} // namespace tw::web
