#include "service/map/import_progress.h"

#include <algorithm>
#include <cstdio>

namespace tw::service {

namespace {
constexpr auto kQuietStart = std::chrono::seconds(2);
constexpr auto kInterval = std::chrono::seconds(3);
}  // namespace

ImportProgress::ImportProgress(ProgressReport report, std::string phase,
                               std::chrono::steady_clock::time_point importStart)
    : m_report(report), m_phase(std::move(phase)), m_start(importStart), m_lastLine(importStart)
{
}

ImportProgress::~ImportProgress()
{
    if (m_printed) {
        std::fprintf(stderr, "%s: 100%%\n", m_phase.c_str());
    }
}

void ImportProgress::update(std::size_t done, std::size_t total)
{
    if (m_report == ProgressReport::Quiet || total == 0) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - m_start < kQuietStart || (m_printed && now - m_lastLine < kInterval)) {
        return;
    }
    const auto percent = static_cast<int>(100.0 * static_cast<double>(std::min(done, total)) /
                                          static_cast<double>(total));
    std::fprintf(stderr, "%s: %d%%\n", m_phase.c_str(), percent);
    m_printed = true;
    m_lastLine = now;
}

}  // namespace tw::service
