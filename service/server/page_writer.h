#pragma once
// The HTML pages of the directions service. Each function returns a complete
// UTF-8 page; every piece of text that came from a request or a map is escaped
// here, so callers hand in plain text only.
//
// What went wrong with a lookup is said inside one element with id "notice"
// (the form page's notice and address problems, the no-route page's sentence);
// each address offered instead is a link of class "suggestion" that carries, in
// data-addr, data-csz, data-taddr or data-tcsz, the value for the form field of
// that name it fills. The application reads only these; a page with nothing to
// say has no such element.
//
// The result page keeps to the shape the application's extraction relies on:
// a summary that never holds the words "Start at", then one DIV holding one
// TABLE whose rows are "n." | instruction, with no attributes on TABLE, TR or
// TD and no tags inside the cells but B, and the DIV closing right after the
// table.

#include "service/guidance/guidance.h"
#include "service/server/directions_query.h"

#include <string>
#include <utility>
#include <vector>

namespace tw::service {

// A link to offer instead of a failed address.
struct PageLink {
    std::string text; // plain text shown
    std::string href; // a path with query, already percent-encoded
    // The form fields the suggestion fills: field name ("addr", "csz", "taddr",
    // "tcsz") and value. Written as data-<name> attributes.
    std::vector<std::pair<std::string, std::string>> fills = {};
};

// One side's trouble, shown above the form.
struct AddressProblem {
    std::string which;    // "starting address" / "destination address"
    std::string sentence; // plain text
    std::vector<PageLink> suggestions;
};

struct FormPage {
    DirectionsQuery filled;               // values to put back into the fields
    std::vector<AddressProblem> problems; // empty on a fresh form
    std::string notice;                   // a general sentence (bad request), or ""
};

struct ResultPage {
    std::string fromLabel; // "120 Main St, Halverby QZ 58911"
    std::string toLabel;
    double metres = 0;
    double seconds = 0;
    std::vector<std::string> notes; // approximations, plain sentences
    std::vector<Instruction> steps; // Start .. Arrive
    std::string changeHref;         // back to the filled form
};

struct NoRoutePage {
    std::string fromLabel;
    std::string toLabel;
    std::string changeHref;
};

std::string writeFormPage(const FormPage& page);
std::string writeResultPage(const ResultPage& page);
std::string writeNoRoutePage(const NoRoutePage& page);
// A short page for a request that cannot be served: a title and one sentence.
std::string writeProblemPage(std::string_view title, std::string_view sentence);

// Returns `text` with every case-sensitive "Start at" broken ("Start-at"), for
// text that stands before the directions table.
std::string withoutStartMarker(std::string text);

} // namespace tw::service
