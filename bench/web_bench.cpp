// Parse and serialise a 5 MB page shaped like the directions service's result
// page: a summary block, then one DIV with one TABLE of numbered maneuver rows,
// each with an icon, bold street names and a distance. Reports bytes per second.
// For comparison, libxml2's HTML parser alone with empty SAX callbacks, set up
// as our parser sets it up: the floor under our parser.
//
// A real result page is far smaller: the service writes about 70 bytes per
// maneuver, so a long route is a few kilobytes. BM_ServiceResultPage measures
// one such page (40 maneuvers, markup as the service writes it) end to end,
// where the parser's fixed costs per page show.

#include "directions/web/html_parser.h"

#include <benchmark/benchmark.h>
#include <libxml/HTMLparser.h>
#include <libxml/parserInternals.h>

#include <cstring>

namespace {

QByteArray resultLikePage(qsizetype targetBytes)
{
    static const char* const kStreets[] = { "Oak Ave", "Main St", "W 7th St", "Mandela Pkwy", "Adeline St",
        "Market St", "Peralta St", "Campbell St", "Pine St", "Chestnut St" };
    static const char* const kTurns[] = { "LEFT", "RIGHT", "SLIGHT LEFT", "SLIGHT RIGHT", "SHARP LEFT" };
    QByteArray page
        = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Directions</title>\n"
          "<style>td { padding: 2px }</style></head>\n<body>\n"
          "<div class=\"summary\"><p>From: <b>1 Main St, Springfield, IL 62701</b></p>\n"
          "<p>To: <b>200 Oak Ave, Springfield, IL 62704</b></p><p>Total: 12.4 mi, about 23 min</p></div>\n"
          "<div class=\"steps\">\n<table class=\"route\">\n"
          "<tr><td>1.</td><td>Start at <b>1 Main St</b> going <b>north</b> - go 0.2 mi</td></tr>\n";
    int row = 2;
    while (page.size() < targetBytes) {
        const char* street = kStreets[row % 10];
        const char* turn = kTurns[row % 5];
        page += "<tr><td>" + QByteArray::number(row) + ".</td><td><img alt=\"" + QByteArray(turn)
            + "\" src=\"/icons/turn-" + QByteArray::number(row % 5) + ".png\"> Turn <b>" + turn
            + "</b> onto <b>" + street + "</b> &amp; continue - go " + QByteArray::number(row % 9) + "."
            + QByteArray::number(row % 7) + " mi</td></tr>\n";
        ++row;
    }
    page += "<tr><td>" + QByteArray::number(row)
        + ".</td><td>Arrive at <b>200 Oak Ave</b></td></tr>\n"
          "</table>\n</div>\n<p class=\"foot\">Directions are for planning only.</p>\n</body></html>\n";
    return page;
}

const QByteArray& page()
{
    static const QByteArray p = resultLikePage(5 * 1000 * 1000);
    return p;
}

void BM_ParseAndSerialise(benchmark::State& state)
{
    for (auto _ : state) {
        auto document = tw::web::parseHtmlBytes(page(), "text/html; charset=utf-8");
        QString markup = document->documentElement()->innerHTML();
        benchmark::DoNotOptimize(markup.size());
    }
    state.SetBytesProcessed(state.iterations() * page().size());
}
BENCHMARK(BM_ParseAndSerialise)->Unit(benchmark::kMillisecond);

void BM_ParseOnly(benchmark::State& state)
{
    for (auto _ : state) {
        auto document = tw::web::parseHtmlBytes(page(), "text/html; charset=utf-8");
        benchmark::DoNotOptimize(document.get());
    }
    state.SetBytesProcessed(state.iterations() * page().size());
}
BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMillisecond);

void BM_SerialiseOnly(benchmark::State& state)
{
    auto document = tw::web::parseHtmlBytes(page(), "text/html; charset=utf-8");
    for (auto _ : state) {
        QString markup = document->documentElement()->innerHTML();
        benchmark::DoNotOptimize(markup.size());
    }
    state.SetBytesProcessed(state.iterations() * page().size());
}
BENCHMARK(BM_SerialiseOnly)->Unit(benchmark::kMillisecond);

// A result page as the directions service writes it, with `steps` maneuvers.
QByteArray serviceResultPage(int steps)
{
    static const char* const kStreets[] = { "Oak Ave", "Main St", "W 7th St", "Mandela Pkwy", "Adeline St" };
    QByteArray page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                      "<title>Driving directions</title>\n<style>\n"
                      "body { font-family: sans-serif; margin: 1em auto; max-width: 44em; padding: 0 1em; }\n"
                      "td { padding: 0.2em 0.5em; vertical-align: top; }\n</style>\n</head>\n<body>\n"
                      "<h1>Tarnwickley Directions</h1>\n"
                      "<p class=\"summary\">From: <b>1 Main St, Springfield, IL 62701</b><br>\n"
                      "To: <b>200 Oak Ave, Springfield, IL 62704</b><br>\nTotal: <b>12.4 mi</b>, about "
                      "<b>23 min</b></p>\n<div id=\"directions\"><TABLE>\n"
                      "<TR><TD>1.</TD><TD>Start at <B>1 Main St</B> going <B>north</B></TD></TR>\n";
    for (int row = 2; row < steps; ++row) {
        page += "<TR><TD>" + QByteArray::number(row) + ".</TD><TD>Turn <B>" + (row % 2 ? "LEFT" : "RIGHT")
            + "</B> onto <B>" + kStreets[row % 5] + "</B> - go 0." + QByteArray::number(row % 10)
            + " mi</TD></TR>\n";
    }
    page += "<TR><TD>" + QByteArray::number(steps)
        + ".</TD><TD>Arrive at <B>200 Oak Ave</B></TD></TR>\n</TABLE></div>\n"
          "<p><a href=\"/dd?addr=1+Main+St\">Change the addresses</a> | <a href=\"/dd\">New search</a></p>\n"
          "</body>\n</html>\n";
    return page;
}

void BM_ServiceResultPage(benchmark::State& state)
{
    static const QByteArray small = serviceResultPage(40);
    for (auto _ : state) {
        auto document = tw::web::parseHtmlBytes(small, "text/html; charset=utf-8");
        QString markup = document->documentElement()->innerHTML();
        benchmark::DoNotOptimize(markup.size());
    }
    state.SetBytesProcessed(state.iterations() * small.size());
    state.counters["page_bytes"] = static_cast<double>(small.size());
}
BENCHMARK(BM_ServiceResultPage)->Unit(benchmark::kMicrosecond);

void noStart(void*, const xmlChar*, const xmlChar**)
{
}
void noEnd(void*, const xmlChar*)
{
}
void noText(void*, const xmlChar*, int)
{
}
void noComment(void*, const xmlChar*)
{
}
void noError(void*, xmlErrorPtr)
{
}

void BM_LibxmlSaxFloor(benchmark::State& state)
{
    for (auto _ : state) {
        htmlParserCtxtPtr context
            = htmlCreateMemoryParserCtxt(page().constData(), static_cast<int>(page().size()));
        htmlSAXHandler sax;
        std::memset(&sax, 0, sizeof sax);
        sax.startElement = noStart;
        sax.endElement = noEnd;
        sax.characters = noText;
        sax.ignorableWhitespace = noText;
        sax.cdataBlock = noText;
        sax.comment = noComment;
        sax.serror = noError;
        sax.initialized = XML_SAX2_MAGIC;
        std::memcpy(context->sax, &sax, sizeof sax);
        htmlCtxtUseOptions(context,
            HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING
                | HTML_PARSE_IGNORE_ENC);
        xmlSwitchEncoding(context, XML_CHAR_ENCODING_UTF8);
        htmlParseDocument(context);
        htmlFreeParserCtxt(context);
    }
    state.SetBytesProcessed(state.iterations() * page().size());
}
BENCHMARK(BM_LibxmlSaxFloor)->Unit(benchmark::kMillisecond);

} // namespace
