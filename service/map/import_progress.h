#pragma once
// ImportProgress: the progress line the importer prints on stderr while it reads
// a large file. Quiet for the first two seconds of a phase, so small maps load
// silently; after that one line every few seconds, and a last line at 100%.

#include "service/map/map_loader.h"

#include <chrono>
#include <string>

namespace tw::service {

class ImportProgress {
public:
    ImportProgress(ProgressReport report, std::string phase);
    ~ImportProgress();
    ImportProgress(const ImportProgress&) = delete;
    ImportProgress& operator=(const ImportProgress&) = delete;

    // Reports that `done` of `total` bytes have been read.
    void update(std::size_t done, std::size_t total);

private:
    ProgressReport m_report;
    std::string m_phase;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastLine;
    bool m_printed = false;
};

}  // namespace tw::service
