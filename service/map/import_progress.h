#pragma once
// ImportProgress: the progress lines the importer prints on stderr while it
// reads a large file. Quiet for the first two seconds of the whole import, so
// small maps load silently; after that one line per phase every few seconds,
// and a last line at 100% for a phase that printed any.

#include "service/map/map_loader.h"

#include <chrono>
#include <string>

namespace tw::service {

class ImportProgress {
public:
    // `importStart` is when the whole import began.
    ImportProgress(ProgressReport report, std::string phase, std::chrono::steady_clock::time_point importStart);
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
