// Reads and writes of a control.ini shaped like the application's: the eight
// address keys and "autodetectipod" in the section "config".
//  - BM_LoadAddresses: the eight reads of the main window's start (one cInifile,
//    only Key changing), each reading the whole file.
//  - BM_SaveAddresses: the eight writes of a search, each a locked
//    read-modify-write that replaces the file; every second round changes the
//    values, so half the rounds write and half find nothing to change.
// Run under a heap profiler to see what one read holds, for example
//   heaptrack build/bench/settings_bench --benchmark_filter=Load
// The file lives in /dev/shm where that exists, so that the disk's flushes do not
// hide the engine's own costs.

#include "settings/cinifile.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

const char* const kKeys[]
    = { "from_addr", "from_csz", "from_city", "from_zip", "to_addr", "to_csz", "to_city", "to_zip" };

QTemporaryDir makeFolder()
{
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        return QTemporaryDir(QStringLiteral("/dev/shm/settings_bench-XXXXXX"));
    return QTemporaryDir();
}

tw::cInifile settingsIn(const QTemporaryDir& folder)
{
    tw::cInifile ini;
    ini.Path(folder.filePath(QStringLiteral("control.ini")));
    ini.Section(QStringLiteral("config"));
    for (const char* key : kKeys) {
        ini.Key(QString::fromLatin1(key));
        ini.Value(QStringLiteral("1600 Pennsylvania Avenue NW"));
    }
    ini.Key(QStringLiteral("autodetectipod"));
    ini.Value(QStringLiteral("1"));
    return ini;
}

void BM_LoadAddresses(benchmark::State& state)
{
    const QTemporaryDir folder = makeFolder();
    tw::cInifile ini = settingsIn(folder);
    for (auto _ : state) {
        for (const char* key : kKeys) {
            ini.Key(QString::fromLatin1(key));
            benchmark::DoNotOptimize(ini.Value());
        }
    }
}
BENCHMARK(BM_LoadAddresses);

void BM_SaveAddresses(benchmark::State& state)
{
    const QTemporaryDir folder = makeFolder();
    tw::cInifile ini = settingsIn(folder);
    int round = 0;
    for (auto _ : state) {
        const QString value
            = (round++ / 2) % 2 == 0 ? QStringLiteral("1 Main St") : QStringLiteral("2 Oak Ave");
        for (const char* key : kKeys) {
            ini.Key(QString::fromLatin1(key));
            ini.Value(value);
        }
    }
}
BENCHMARK(BM_SaveAddresses);

} // namespace
