#include "service/server/page_writer.h"

#include "service/guidance/units.h"
#include "service/server/html_text.h"

namespace tw::service {
namespace {

constexpr std::string_view kHead = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>)";

constexpr std::string_view kStyle = R"(</title>
<style>
body { font-family: sans-serif; margin: 1em auto; max-width: 44em; padding: 0 1em; }
label { display: inline-block; min-width: 11em; }
.problem { border-left: 4px solid #b00; padding-left: 0.8em; }
.summary { background: #f2f2f2; padding: 0.6em; }
td { padding: 0.2em 0.5em; vertical-align: top; }
</style>
</head>
<body>
)";

constexpr std::string_view kTail = "</body>\n</html>\n";

// Text placed before the directions table: escaped, and never the start marker.
std::string headText(std::string_view text)
{
    return htmlEscape(withoutStartMarker(std::string(text)));
}

void openPage(std::string& out, std::string_view title)
{
    out += kHead;
    out += headText(title);
    out += kStyle;
    out += "<h1>Tarnwickley Directions</h1>\n";
}

void field(std::string& out, const char* name, const char* label, const std::string& value)
{
    out += "<p><label for=\"";
    out += name;
    out += "\">";
    out += label;
    out += "</label> <input type=\"text\" name=\"";
    out += name;
    out += "\" id=\"";
    out += name;
    out += "\" size=\"40\" maxlength=\"" + std::to_string(kMaxFieldBytes) + "\" value=\"";
    out += htmlEscape(value);
    out += "\"></p>\n";
}

} // namespace

std::string withoutStartMarker(std::string text)
{
    for (size_t at = text.find("Start at"); at != std::string::npos; at = text.find("Start at", at))
        text[at + 5] = '-';
    return text;
}

std::string writeFormPage(const FormPage& page)
{
    std::string out;
    openPage(out, "Tarnwickley Directions");
    if (!page.notice.empty() || !page.problems.empty())
        out += "<div id=\"notice\">\n";
    if (!page.notice.empty())
        out += "<p class=\"problem\">" + headText(page.notice) + "</p>\n";
    for (const AddressProblem& problem : page.problems) {
        out += "<div class=\"problem\">\n<p>The " + headText(problem.which) + " was not found: "
            + headText(problem.sentence) + "</p>\n";
        if (!problem.suggestions.empty()) {
            out += "<p>Did you mean: ";
            const char* separator = "";
            for (const PageLink& link : problem.suggestions) {
                out += separator;
                out += "<a class=\"suggestion\" href=\"" + htmlEscape(link.href) + "\"";
                for (const auto& [field, value] : link.fills)
                    out += " data-" + htmlEscape(field) + "=\"" + htmlEscape(value) + "\"";
                out += ">" + headText(link.text) + "</a>";
                separator = ", ";
            }
            out += "</p>\n";
        }
        out += "</div>\n";
    }
    if (!page.notice.empty() || !page.problems.empty())
        out += "</div>\n";
    out += "<form name=\"dd\" action=\"/dd_result\" method=\"get\">\n";
    out += "<h2>From</h2>\n";
    field(out, "addr", "Street address", page.filled.addr);
    field(out, "csz", "City, state, ZIP", page.filled.csz);
    out += "<h2>To</h2>\n";
    field(out, "taddr", "Street address", page.filled.taddr);
    field(out, "tcsz", "City, state, ZIP", page.filled.tcsz);
    out += "<p><input type=\"submit\" name=\"getrte\" value=\"Get Directions\"></p>\n</form>\n";
    out += kTail;
    return out;
}

std::string writeResultPage(const ResultPage& page)
{
    std::string out;
    openPage(out, "Driving directions");
    out += "<p class=\"summary\">From: <b>" + headText(page.fromLabel) + "</b><br>\nTo: <b>"
        + headText(page.toLabel) + "</b><br>\nTotal: <b>" + formatDistance(page.metres) + "</b>, about <b>"
        + formatDuration(page.seconds) + "</b></p>\n";
    for (const std::string& note : page.notes)
        out += "<p class=\"note\">Note: " + headText(note) + "</p>\n";
    // The directions: nothing but the table inside the DIV, plain cells, B only.
    out += "<div id=\"directions\"><TABLE>\n";
    int number = 1;
    for (const Instruction& step : page.steps) {
        out += "<TR><TD>" + std::to_string(number++) + ".</TD><TD>";
        for (const TextSpan& span : step.text) {
            if (span.emphasis == Emphasis::Bold)
                out += "<B>" + htmlEscape(span.text) + "</B>";
            else
                out += htmlEscape(span.text);
        }
        out += "</TD></TR>\n";
    }
    out += "</TABLE></div>\n";
    out += "<p><a href=\"" + htmlEscape(page.changeHref) + "\">Change the addresses</a> | <a href=\"/dd\">New search</a></p>\n";
    out += kTail;
    return out;
}

std::string writeNoRoutePage(const NoRoutePage& page)
{
    std::string out;
    openPage(out, "No route");
    out += "<p class=\"problem\" id=\"notice\">Both addresses were found, but no road connects <b>"
        + headText(page.fromLabel) + "</b> with <b>" + headText(page.toLabel) + "</b> on this map.</p>\n";
    out += "<p><a href=\"" + htmlEscape(page.changeHref) + "\">Change the addresses</a> | <a href=\"/dd\">New search</a></p>\n";
    out += kTail;
    return out;
}

std::string writeProblemPage(std::string_view title, std::string_view sentence)
{
    std::string out;
    openPage(out, title);
    out += "<p class=\"problem\">" + headText(sentence) + "</p>\n<p><a href=\"/dd\">Directions form</a></p>\n";
    out += kTail;
    return out;
}

} // namespace tw::service
