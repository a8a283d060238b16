// Parse and serialise a 5 MB page shaped like the directions service's result
// page: a summary block, then one DIV with one TABLE of numbered maneuver rows,
// each with an icon, bold street names and a distance. Reports bytes per second.
// For comparison, libxml2's HTML parser alone with empty SAX callbacks, the
// floor under our parser.

#include "directions/web/html_parser.h"

#include <benchmark/benchmark.h>
#include <libxml/HTMLparser.h>

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

void noStart(void*, const xmlChar*, const xmlChar**)
{
}
void noEnd(void*, const xmlChar*)
{
}
void noText(void*, const xmlChar*, int)
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
        std::memcpy(context->sax, &sax, sizeof sax);
        htmlCtxtUseOptions(context,
            HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING
                | HTML_PARSE_IGNORE_ENC);
        htmlParseDocument(context);
        htmlFreeParserCtxt(context);
    }
    state.SetBytesProcessed(state.iterations() * page().size());
}
BENCHMARK(BM_LibxmlSaxFloor)->Unit(benchmark::kMillisecond);

} // namespace
