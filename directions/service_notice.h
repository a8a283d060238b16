#pragma once
// What the directions service says on its form page when a lookup went wrong:
// the address that was not found or could mean more than one street, a field
// that is too long or malformed, and the addresses it offers instead.
//
// The page holds it in one element with id "notice". Inside it, each offered
// address is a link of class "suggestion" whose attributes data-addr, data-csz,
// data-taddr and data-tcsz (each optional) hold the value for the form field
// of that name, that is which address line the suggestion fills. A page without
// the element has nothing to say.
//
// The window shows the notice as rich text of its own making: every piece of
// page text is escaped, so nothing on the page becomes markup, an image or a
// link of the window but the suggestions.

#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace tw::web {
class HtmlDocument;
} // namespace tw::web

namespace tw::directions {

struct ServiceNotice {
    struct Suggestion {
        QString text;
        // Form field name ("addr", "csz", "taddr", "tcsz") and its value.
        std::vector<std::pair<QString, QString>> fields;
    };

    // The notice as lines of plain text, suggestions included.
    QString plainText;
    // The same for display: escaped text, lines joined by <br>, suggestion i
    // as a link to "#i".
    QString richText;
    std::vector<Suggestion> suggestions;
};

// Returns the notice of `document`, or nothing when the page has none. Never
// throws; a notice of absurd length is cut short.
std::optional<ServiceNotice> readServiceNotice(const web::HtmlDocument& document);

// A notice of the window's own: one sentence, no suggestions.
ServiceNotice plainNotice(const QString& sentence);

// The city, state and zip of a "City ST 12345" line as the window keeps them
// in three fields: the zip is the last word when it is five digits (with an
// optional "-1234"), the state the word before it when that is two letters;
// the rest is the city.
struct CityStateZip {
    QString city;
    QString state;
    QString zip;
};
CityStateZip splitCityLine(const QString& line);

} // namespace tw::directions
