// Throughput of the directions extraction on large result pages (run on demand).
//   build-x/bench/directions_extraction_bench
#include "directions/directions_extraction.h"

#include <benchmark/benchmark.h>

namespace {

constexpr qsizetype kPageSize = 5 * 1024 * 1024;

// A result page as the web client writes it, its direction table grown to about
// 5 MB: every part of the page is section, the worst case for the clean-up.
QString pageOfRows()
{
    const QString row
        = QStringLiteral("<TR>\r\n<TD>7.</TD>\r\n<TD>Turn <B>LEFT</B> onto <B>Oak Ave</B> - go 0.4 mi"
                         "<IMG alt=Left src=l.gif> </TD></TR>");
    QString page
        = QStringLiteral("<HEAD><TITLE>Directions</TITLE></HEAD><BODY><DIV>From <B>1 Main St</B></DIV>"
                         "<DIV><TABLE><TBODY><TR><TD>1.</TD><TD>Start at <B>Main St</B></TD></TR>");
    page.reserve(kPageSize + row.size() + 64);
    while (page.size() < kPageSize)
        page += row;
    page += QStringLiteral("</TBODY></TABLE></DIV></BODY>");
    return page;
}

// A 5 MB page whose directions are short and followed by a long tail of other
// markup: measures the search for the markers.
QString pageWithLongTail()
{
    QString page
        = QStringLiteral("<BODY><DIV><TABLE><TBODY><TR><TD>1.</TD><TD>Start at <B>Main St</B></TD></TR>"
                         "<TR><TD>2.</TD><TD>Arrive at <B>9 Oak Ave</B></TD></TR></TBODY></TABLE></DIV>");
    const QString filler = QStringLiteral("<P class=ad>Sponsored: <A href=\"/x?y=1\">something</A></P>\r\n");
    page.reserve(kPageSize + filler.size() + 16);
    while (page.size() < kPageSize)
        page += filler;
    page += QStringLiteral("</BODY>");
    return page;
}

void runExtraction(benchmark::State& state, const QString& page)
{
    for (auto _ : state) {
        std::optional<QString> text = tw::directions::ripDirections(page);
        benchmark::DoNotOptimize(text);
    }
    // Bytes of the page as UTF-8 text on the wire (it is ASCII here).
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * page.size());
}

void BM_RipDirections_FiveMegabytesOfRows(benchmark::State& state)
{
    runExtraction(state, pageOfRows());
}
BENCHMARK(BM_RipDirections_FiveMegabytesOfRows)->Unit(benchmark::kMillisecond);

void BM_RipDirections_FiveMegabytesShortSection(benchmark::State& state)
{
    runExtraction(state, pageWithLongTail());
}
BENCHMARK(BM_RipDirections_FiveMegabytesShortSection)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
