#include "service/routing/contraction_hierarchy.h"

#include "service/map/mapped_file.h"
#include "service/map/prefetch.h"
#include "service/routing/lowest_priority.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <numeric>
#include <limits>
#include <deque>
#include <queue>
#include <thread>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace tw::service {

namespace {

constexpr std::uint32_t kInfiniteWeight = std::numeric_limits<std::uint32_t>::max();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Limits of the witness searches, in arcs looked at (so a search costs the
// same however dense the graph has grown): smaller while estimating a node's
// priority (a count is all it needs), larger when contracting for real (every
// missed witness is a needless shortcut). In the dense separators of a street
// grid a longer search rarely finds one: on the 1M region, 100 instead of 500
// prepares 17 % faster for 6 % more arcs, and routes as fast.
constexpr int kSimulateArcLimit = 200;
constexpr int kContractArcLimit = 100;
// Above this many neighbours a contraction does not simulate them all again
// (see Contractor::run).
constexpr std::size_t kResimulateNeighbours = 16;
// A given order is contracted in about this many slices, of at least so many
// nodes (see Contractor::runInOrder).
constexpr std::size_t kSlices = 32;
constexpr std::size_t kSmallestSlice = std::size_t{1} << 16;
// A query's stall-on-demand looks at this many of a node's arcs from above.
// At the dense top of a country-size hierarchy a node has dozens, and looking
// each up costs more than the stalls it finds save: with all of them, routes
// on the 10M region took 16 % longer (1M: 13 %); fewer than four gain nothing.
constexpr std::size_t kStallArcs = 4;
// Rounds of at least this many pieces of work share them among the threads,
// which take this many pieces at a time.
constexpr std::size_t kParallelRound = 8;
constexpr std::size_t kGrab = 2;
// Rounds of fewer nodes than this per thread share out each node's tails.
constexpr std::size_t kSplitRound = 4;
// Rounds that change at least this many lists share the changes among the
// threads.
constexpr std::size_t kParallelChanges = 2048;

// Gives memory the allocator holds free back to the system, so that freeing
// one large structure while building the next keeps the peak down: glibc's
// trim, and in a program that runs on jemalloc (the directions service) a
// purge of all its arenas, which otherwise keep freed pages for seconds.
void releaseFreeMemory()
{
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
    using Mallctl = int (*)(const char*, void*, std::size_t*, void*, std::size_t);
    static const auto mallctl = reinterpret_cast<Mallctl>(::dlsym(RTLD_DEFAULT, "mallctl"));
    if (mallctl != nullptr) {
        mallctl("arena.4096.purge", nullptr, nullptr, nullptr, 0); // 4096: every arena
    }
}

// Frees arcs taken from std::malloc.
struct FreeArcs {
    void operator()(ChArc* p) const { std::free(p); }
};

// The finished arcs: allocated untouched, so pages count only as they fill.
class ArcBuffer {
public:
    void allocate(std::size_t count)
    {
        m_data.reset(static_cast<ChArc*>(std::malloc(std::max<std::size_t>(count, 1) * sizeof(ChArc))));
        if (!m_data) {
            throw std::bad_alloc();
        }
        m_size = count;
    }
    ChArc* data() { return m_data.get(); }
    std::span<const ChArc> view() const { return {m_data.get(), m_size}; }

private:
    std::unique_ptr<ChArc[], FreeArcs> m_data;
    std::size_t m_size = 0;
};

// Writes all of `bytes` to `fd`, or throws.
void writeAll(int fd, const void* data, std::size_t bytes, const char* what)
{
    const auto* at = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t written = ::write(fd, at, std::min<std::size_t>(bytes, std::size_t{1} << 30));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            throw std::system_error(written < 0 ? errno : ENOSPC, std::generic_category(), what);
        }
        at += written;
        bytes -= static_cast<std::size_t>(written);
    }
}

static_assert(kChSpillOffset >= MappedFileWriter::kFirstPlacedOffset && kChSpillOffset % 4096 == 0,
              "the working file's arcs leave room for a file's header and table, and can be mapped");

// An unnamed file the finished arcs are written to while contracting, then
// mapped read-only. It has no name, so nothing is left behind whatever way the
// process ends.
class SpillFile {
public:
    SpillFile() = default;
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;
    ~SpillFile()
    {
        if (m_base != nullptr) {
            ::munmap(m_base, m_bytes);
        }
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }

    void open(const std::string& folder)
    {
        m_fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            // File systems without unnamed files: a named one, unlinked at once.
            std::string path = folder + "/.tarnwickley-arcs-XXXXXX";
            m_fd = ::mkostemp(path.data(), O_CLOEXEC);
            if (m_fd >= 0) {
                ::unlink(path.c_str());
            }
        }
        if (m_fd < 0 || ::lseek(m_fd, static_cast<off_t>(kChSpillOffset), SEEK_SET) < 0) {
            throw std::system_error(errno, std::generic_category(),
                                    "cannot make a working file for the hierarchy in " + folder);
        }
    }
    bool isOpen() const { return m_fd >= 0; }

    // Appends arcs, keeping their checksum.
    void write(const ChArc* arcs, std::size_t count)
    {
        writeAll(m_fd, arcs, count * sizeof(ChArc), "cannot write the hierarchy's working file");
        m_crc = sectionCrc(m_crc, arcs, count * sizeof(ChArc));
    }

    // Maps the `count` arcs written.
    std::span<const ChArc> map(std::size_t count)
    {
        m_bytes = count * sizeof(ChArc);
        if (m_bytes == 0) {
            return {};
        }
        void* base = ::mmap(nullptr, m_bytes, PROT_READ, MAP_SHARED, m_fd, static_cast<off_t>(kChSpillOffset));
        if (base == MAP_FAILED) {
            throw std::system_error(errno, std::generic_category(), "cannot map the hierarchy's working file");
        }
        m_base = base;
        return {static_cast<const ChArc*>(base), count};
    }

    ChSpill spill() const { return ChSpill{m_fd, kChSpillOffset, m_bytes, m_crc}; }

private:
    int m_fd = -1;
    void* m_base = nullptr;
    std::size_t m_bytes = 0;
    std::uint32_t m_crc = 0;
};

// The finished arcs in the order they come out of the contraction. In memory
// they collect in large chunks (larger than the allocator serves from its
// heap, so each is mapped on its own and goes back to the system when freed)
// and move into one array at the end, in the order of the nodes' ids. With a
// spill file, every full chunk is written out and its buffer used again, so
// the arcs never stay in memory.
class ArcChunks {
public:
    explicit ArcChunks(SpillFile& spill) : m_spill(spill) {}

    void push_back(const ChArc& arc)
    {
        if (m_size == m_written + m_chunks.size() * kChunk) {
            if (m_spill.isOpen() && !m_chunks.empty()) {
                m_spill.write(m_chunks.back().get(), kChunk);
                m_written += kChunk;
            } else {
                m_chunks.emplace_back(static_cast<ChArc*>(std::malloc(kChunk * sizeof(ChArc))));
                if (!m_chunks.back()) {
                    throw std::bad_alloc();
                }
            }
        }
        std::memcpy(m_chunks.back().get() + (m_size - m_written) % kChunk, &arc, sizeof(ChArc));
        ++m_size;
    }
    std::size_t size() const { return m_size; }
    bool spilled() const { return m_spill.isOpen(); }

    // Writes what the spill file does not have yet.
    void flush()
    {
        if (m_spill.isOpen() && m_size > m_written) {
            m_spill.write(m_chunks.back().get(), m_size - m_written);
            m_written = m_size;
        }
        m_chunks.clear();
    }

    // Moves the arcs (kept in memory) into `out`, the nodes' lists in the
    // order of their ids (a query reads the lists of states that lie near
    // each other, and their ids are near too), and points the nodes there.
    void moveInto(ArcBuffer& out, std::span<ChNode> nodes)
    {
        out.allocate(m_size);
        std::size_t at = 0;
        for (ChNode& node : nodes) {
            std::size_t from = node.first;
            std::size_t count = std::size_t{node.down} + node.up;
            node.first = at;
            while (count > 0) {
                const std::size_t n = std::min(count, kChunk - from % kChunk);
                std::memcpy(out.data() + at, m_chunks[from / kChunk].get() + from % kChunk, n * sizeof(ChArc));
                at += n;
                from += n;
                count -= n;
            }
        }
        m_chunks.clear();
    }

private:
    static constexpr std::size_t kChunk = (std::size_t{48} << 20) / sizeof(ChArc);
    SpillFile& m_spill;
    std::vector<std::unique_ptr<ChArc[], FreeArcs>> m_chunks;
    std::size_t m_size = 0;
    std::size_t m_written = 0; // arcs already in the spill file
};

std::uint32_t addWeights(std::uint32_t a, std::uint32_t b)
{
    const std::uint64_t sum = static_cast<std::uint64_t>(a) + b;
    return sum >= kInfiniteWeight ? kInfiniteWeight - 1 : static_cast<std::uint32_t>(sum);
}

// An arc of the graph being contracted. Tens of millions of nodes keep a few
// each in both directions, so it stays as small as the finished arc.
using WorkArc = ChArc;

// One node's arcs in one direction: a vector with a 16-byte head (a
// std::vector's is 24) that grows by half, for the tens of millions of short
// lists of a large map.
class ArcList {
public:
    ArcList() = default;
    ArcList(const ArcList&) = delete;
    ArcList& operator=(const ArcList&) = delete;
    ArcList(ArcList&& other) noexcept
        : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
          m_capacity(std::exchange(other.m_capacity, 0))
    {
    }
    ~ArcList() { std::free(m_data); }

    WorkArc* begin() { return m_data; }
    WorkArc* end() { return m_data + m_size; }
    const WorkArc* begin() const { return m_data; }
    const WorkArc* end() const { return m_data + m_size; }
    std::size_t size() const { return m_size; }

    void reserve(std::uint32_t capacity)
    {
        if (capacity > m_capacity) {
            auto* grown = static_cast<WorkArc*>(std::realloc(m_data, std::size_t{capacity} * sizeof(WorkArc)));
            if (grown == nullptr) {
                throw std::bad_alloc();
            }
            m_data = grown;
            m_capacity = capacity;
        }
    }
    void push_back(const WorkArc& arc)
    {
        if (m_size == m_capacity) {
            if (m_capacity >= kChNone / 2) {
                throw std::length_error("a node with too many arcs");
            }
            reserve(m_capacity + m_capacity / 2 + 2);
        }
        m_data[m_size++] = arc;
    }
    // Removes the arc at `at`, keeping the others in order.
    void erase(WorkArc* at)
    {
        std::memmove(at, at + 1, static_cast<std::size_t>(end() - at - 1) * sizeof(WorkArc));
        --m_size;
    }
    void release()
    {
        std::free(std::exchange(m_data, nullptr));
        m_size = 0;
        m_capacity = 0;
    }

private:
    WorkArc* m_data = nullptr;
    std::uint32_t m_size = 0;
    std::uint32_t m_capacity = 0;
};

struct Shortcut {
    std::uint32_t from;
    std::uint32_t to;
    std::uint32_t weight;
    std::uint32_t middle;
};

// What one thread's witness searches keep between searches. Aligned to a
// cache line so threads never write to each other's lines.
struct alignas(64) Scratch {
    explicit Scratch(std::uint32_t nodeCount) : mark(nodeCount) {}
    // Per node, side by side so that looking at an arc's head reads one
    // place in memory: the distance of the current search, and for the
    // nodes the searches look for (the contracted node's heads) the weight
    // of the arc to them (kInfiniteWeight for the others). The nodes of the
    // round being contracted keep distance 0 while it runs, so that no
    // search passes through them.
    struct Mark {
        std::uint32_t dist = kInfiniteWeight;
        std::uint32_t target = kInfiniteWeight;
    };
    std::vector<Mark> mark;
    std::vector<std::uint32_t> touched;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> heap;
    std::vector<Shortcut> found;
    // Per piece of a round's work this thread handled: which, and where its
    // shortcuts lie in `found`.
    struct Span {
        std::size_t piece, begin, end;
    };
    std::vector<Span> spans;
};

// Threads that wait between jobs: a contraction runs hundreds of thousands
// of rounds, far too many to start threads for each. Between the jobs of
// one contraction there is little serial work, so a thread that finished
// first waits for the next job (and the caller for the others) by watching
// for it a short while before it sleeps: putting a processor to sleep and
// waking it again takes long on a virtual machine, and twice a round that
// added up to a tenth of the contraction.
// Watches `ready` for a short while; returns whether it came true.
template <typename Ready>
bool watchFor(const Ready& ready, std::chrono::microseconds howLong)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + howLong;
    for (unsigned i = 1;; ++i) {
        if (ready()) {
            return true;
        }
        if (i % 64 == 0 && Clock::now() > until) {
            return false;
        }
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#else
        std::this_thread::yield();
#endif
    }
}

class WorkerPool {
public:
    using Job = std::function<void(unsigned thread)>;

    explicit WorkerPool(unsigned threads)
    {
        for (unsigned t = 1; t < threads; ++t) {
            m_threads.emplace_back([this, t] { serve(t); });
        }
    }
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
            m_generation.fetch_add(1, std::memory_order_release);
        }
        m_wake.notify_all();
        for (std::thread& t : m_threads) {
            t.join();
        }
    }

    // Runs job(t) on every thread t (this one is 0); returns when all are
    // done, rethrowing the first failure.
    void run(const Job& job)
    {
        m_job = &job;
        m_error = nullptr;
        m_pending.store(m_threads.size(), std::memory_order_relaxed);
        {
            // Under the lock, so that a thread going to sleep either sees the
            // new job or is woken for it.
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_generation.fetch_add(1, std::memory_order_release);
        }
        m_wake.notify_all();
        std::exception_ptr error;
        try {
            job(0);
        } catch (...) {
            error = std::current_exception();
        }
        if (!watch([this] { return m_pending.load(std::memory_order_acquire) == 0; })) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_done.wait(lock, [this] { return m_pending.load(std::memory_order_acquire) == 0; });
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!error) {
            error = m_error;
        }
        if (error) {
            std::rethrow_exception(error);
        }
    }

private:
    template <typename Ready>
    static bool watch(const Ready& ready)
    {
        return watchFor(ready, std::chrono::microseconds(200));
    }

    void serve(unsigned t)
    {
        std::uint64_t seen = 0;
        while (true) {
            const auto fresh = [&] { return m_generation.load(std::memory_order_acquire) != seen; };
            if (!watch(fresh)) {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, fresh);
            }
            seen = m_generation.load(std::memory_order_acquire);
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                if (m_stop) {
                    return;
                }
            }
            try {
                (*m_job)(t);
            } catch (...) {
                const std::lock_guard<std::mutex> lock(m_mutex);
                if (!m_error) {
                    m_error = std::current_exception();
                }
            }
            if (m_pending.fetch_sub(1, std::memory_order_acq_rel) == 1) {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_done.notify_one();
            }
        }
    }

    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    const Job* m_job = nullptr;
    std::atomic<std::size_t> m_pending = 0;
    std::atomic<std::uint64_t> m_generation = 0;
    std::exception_ptr m_error;
    bool m_stop = false;
};

// The graph while it is being contracted: per node its remaining arcs in both
// directions (arcs to contracted nodes are removed as those go).
//
// The order is given (runInOrder) or chosen as it goes (run): then a node's
// priority is its level (one above its highest contracted neighbour) plus the
// shortcuts contracting it would add per arc it removes. After each
// contraction the neighbours are simulated again, which keeps the remaining
// graph sparse.
class Contractor {
public:
    Contractor(std::uint32_t nodeCount, std::vector<WeightedArc>& arcs, SpillFile& spill)
        : m_out(nodeCount), m_in(nodeCount), m_contracted(nodeCount, 0), m_inBatch(nodeCount, 0),
          m_rank(nodeCount, 0), m_flat(spill), m_nodes(nodeCount)
    {
        // Lists get their exact room first (growing them one arc at a time
        // would leave a quarter of them empty). The outgoing ones are made
        // from the input, which then goes, and the incoming ones from them:
        // the input and both directions are never held at once.
        std::vector<std::uint32_t> degree(nodeCount, 0);
        for (const WeightedArc& a : arcs) {
            if (a.from != a.to) {
                ++degree[a.from];
            }
        }
        for (std::uint32_t v = 0; v < nodeCount; ++v) {
            m_out[v].reserve(degree[v]);
        }
        for (const WeightedArc& a : arcs) {
            if (a.from == a.to) {
                continue;
            }
            if (WorkArc* old = findArc(m_out[a.from], a.to)) {
                old->weight = std::min(old->weight, a.weight);
            } else {
                m_out[a.from].push_back(WorkArc{a.to, a.weight, kChNone});
            }
        }
        arcs.clear();
        arcs.shrink_to_fit();
        std::fill(degree.begin(), degree.end(), 0);
        for (const ArcList& list : m_out) {
            for (const WorkArc& a : list) {
                ++degree[a.node];
            }
        }
        for (std::uint32_t v = 0; v < nodeCount; ++v) {
            m_in[v].reserve(degree[v]);
        }
        std::vector<std::uint32_t>().swap(degree);
        for (std::uint32_t v = 0; v < nodeCount; ++v) {
            for (const WorkArc& a : m_out[v]) {
                m_in[a.node].push_back(WorkArc{v, a.weight, kChNone});
            }
        }
        m_scratch.emplace_back(nodeCount);
    }

    void run(const ChProgress& progress)
    {
        const auto n = static_cast<std::uint32_t>(m_out.size());
        m_stale.assign(n, 0);
        m_level.assign(n, 0);
        m_priority.assign(n, 0);
        using Entry = std::pair<std::int64_t, std::uint32_t>;
        std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
        for (std::uint32_t v = 0; v < n; ++v) {
            m_priority[v] = priority(v);
            queue.emplace(m_priority[v], v);
            if (progress && (v & 0xFFFFF) == 0xFFFFF) {
                progress(0.0);
            }
        }
        std::uint32_t done = 0;
        std::vector<std::uint32_t> neighbours;
        while (!queue.empty()) {
            const auto [key, v] = queue.top();
            queue.pop();
            if (m_contracted[v] != 0 || key != m_priority[v]) {
                continue;
            }
            // Lazy update: a node whose neighbours were not simulated again
            // after a contraction may have grown dearer; it goes back unless
            // it still comes first.
            if (m_stale[v] != 0) {
                m_stale[v] = 0;
                const std::int64_t now = priority(v);
                if (now > key && !queue.empty() && now > queue.top().first) {
                    m_priority[v] = now;
                    queue.emplace(now, v);
                    continue;
                }
            }
            neighbours.clear();
            appendNeighbours(v, neighbours);
            contract(v);
            m_rank[v] = done++;
            std::sort(neighbours.begin(), neighbours.end());
            neighbours.erase(std::unique(neighbours.begin(), neighbours.end()), neighbours.end());
            // Simulating every neighbour again keeps the order good; in the
            // dense core of a region (many neighbours, each of high degree)
            // that would cost the cube of the degree per contraction, so there
            // neighbours only climb a level and are simulated when they come up.
            const bool simulate = neighbours.size() <= kResimulateNeighbours;
            for (std::uint32_t u : neighbours) {
                const std::uint32_t level = std::max(m_level[u], m_level[v] + 1);
                if (simulate) {
                    m_level[u] = level;
                    m_priority[u] = priority(u);
                } else {
                    m_priority[u] += 1000 * static_cast<std::int64_t>(level - m_level[u]);
                    m_level[u] = level;
                    m_stale[u] = 1;
                }
                queue.emplace(m_priority[u], u);
            }
            if (progress && (done & 0xFFF) == 0) {
                progress(static_cast<double>(done) / n);
            }
        }
    }

    // Contracts the nodes in the order of their ids, which the caller gave
    // them by their place in the order; `original` maps them back to the ids
    // the hierarchy is handed over in. Numbered so, the nodes of one part of
    // the graph lie together in every array, and the witness searches read
    // memory near the last they read (not scattered over gigabytes). The
    // contraction goes in rounds: a round takes every node that comes before
    // all its remaining neighbours. Those are never neighbours of each other,
    // so their witness searches run on all cores at once over the unchanged
    // graph (passing through none of them); the shortcuts found are then
    // added in order.
    void runInOrder(std::vector<std::uint32_t> original, const ChProgress& progress)
    {
        const auto n = static_cast<std::uint32_t>(m_out.size());
        m_original = std::move(original);
        auto ready = [&](std::uint32_t v) {
            const auto before = [v](const WorkArc& a) { return a.node < v; };
            return std::none_of(m_out[v].begin(), m_out[v].end(), before)
                   && std::none_of(m_in[v].begin(), m_in[v].end(), before);
        };
        // The order is taken in slices. A node's shortcuts pile up while its
        // lower neighbours are contracted, so with all nodes open at once
        // every node carries them together (on large maps that was most of
        // the memory); slice by slice, only one slice's nodes and the
        // separators above it do. Each slice still gives rounds large
        // enough to share among the cores.
        const std::size_t slice = std::max<std::size_t>(n / kSlices + 1, kSmallestSlice);
        const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 16u);
        while (m_scratch.size() < threads) {
            m_scratch.emplace_back(n);
        }
        WorkerPool pool(threads);
        std::vector<std::uint32_t> candidates;
        std::vector<std::uint32_t> round;
        std::uint32_t done = 0;
        std::uint32_t nextRelease = n / 32;
        for (std::size_t sliceBegin = 0; sliceBegin < n; sliceBegin += slice) {
            const std::size_t sliceEnd = std::min<std::size_t>(n, sliceBegin + slice);
            candidates.resize(sliceEnd - sliceBegin);
            std::iota(candidates.begin(), candidates.end(), static_cast<std::uint32_t>(sliceBegin));
            while (!candidates.empty()) {
                round.clear();
                for (std::uint32_t v : candidates) {
                    if (m_contracted[v] == 0 && m_inBatch[v] == 0 && ready(v)) {
                        m_inBatch[v] = 1;
                        round.push_back(v);
                    }
                }
                std::sort(round.begin(), round.end());
                candidates.clear();
                contractRound(round, pool, threads, candidates, done);
                std::erase_if(candidates, [&](std::uint32_t u) { return u >= sliceEnd; });
                // Contracted nodes' lists are freed as the rounds go; now and
                // then that memory goes back, so the growing core and the final
                // arcs do not stack on top of it.
                if (done >= nextRelease) {
                    releaseFreeMemory();
                    nextRelease = done + n / 32 + 1;
                }
                if (progress) {
                    progress(static_cast<double>(done) / n);
                }
            }
        }
    }

    // Contracts the nodes of a round (no two of them neighbours, each marked
    // in m_inBatch) in its order, and appends their neighbours to
    // `neighbours`.
    void contractRound(std::span<const std::uint32_t> round, WorkerPool& pool, unsigned threads,
                       std::vector<std::uint32_t>& neighbours, std::uint32_t& done)
    {
        // The work is cut into pieces: a node each, or, in a round of few
        // nodes (the separators', with dozens of neighbours each), one of a
        // node's tails each, so that a round of one costly node still keeps
        // every core busy. The threads take a few pieces at a time as they
        // go; the shortcuts are then added in the round's order, so the
        // result is the same whatever the number of threads.
        std::vector<Piece>& pieces = m_pieces;
        pieces.clear();
        const bool split = round.size() < kSplitRound * threads;
        for (std::size_t k = 0; k < round.size(); ++k) {
            const auto tails = static_cast<std::uint32_t>(m_in[round[k]].size());
            for (std::uint32_t first = 0; first < tails; first += split ? 1 : tails) {
                pieces.push_back({static_cast<std::uint32_t>(k), first, split ? first + 1 : tails});
            }
        }
        std::atomic<std::size_t> next = 0;
        const WorkerPool::Job work = [&](unsigned t) {
            Scratch& w = m_scratch[t];
            w.found.clear();
            w.spans.clear();
            // The last search's distances go first: a search starts by
            // clearing those, which must not clear the round's marks.
            for (std::uint32_t x : w.touched) {
                w.mark[x].dist = kInfiniteWeight;
            }
            w.touched.clear();
            for (std::uint32_t v : round) {
                w.mark[v].dist = 0;
            }
            std::uint32_t marked = kChNone;
            for (std::size_t i = next.fetch_add(kGrab); i < pieces.size(); i = next.fetch_add(kGrab)) {
                for (std::size_t p = i; p < std::min(pieces.size(), i + kGrab); ++p) {
                    const std::uint32_t v = round[pieces[p].node];
                    if (v != marked) {
                        if (marked != kChNone) {
                            markTargets(w, marked, false);
                        }
                        markTargets(w, v, true);
                        marked = v;
                    }
                    const std::size_t begin = w.found.size();
                    shortcutsFrom(w, v, pieces[p].first, pieces[p].end, kContractArcLimit, &w.found);
                    w.spans.push_back({p, begin, w.found.size()});
                }
            }
            if (marked != kChNone) {
                markTargets(w, marked, false);
            }
            for (std::uint32_t v : round) {
                w.mark[v].dist = kInfiniteWeight;
            }
        };
        for (Scratch& w : m_scratch) {
            w.found.clear();
            w.spans.clear();
        }
        if (pieces.size() >= kParallelRound && threads > 1) {
            pool.run(work);
        } else {
            work(0);
        }
        std::vector<Placed>& where = m_where;
        where.assign(pieces.size(), {});
        for (const Scratch& w : m_scratch) {
            for (const Scratch::Span& span : w.spans) {
                where[span.piece] = {&w, span.begin, span.end};
            }
        }
        // The shortcuts go in, and the round's nodes leave their neighbours'
        // lists. Each thread changes only the lists of its own share of the
        // nodes, in the same order as one thread would, so the result does
        // not depend on the threads (alone, this part took a third of the
        // time on two cores).
        std::size_t changes = 0;
        for (const Placed& placed : where) {
            changes += placed.end - placed.begin;
        }
        for (std::uint32_t v : round) {
            changes += m_in[v].size() + m_out[v].size();
        }
        const auto change = [&](unsigned part, unsigned parts) {
            for (const Placed& placed : where) {
                for (std::size_t i = placed.begin; i < placed.end; ++i) {
                    const Shortcut& c = placed.scratch->found[i];
                    if (c.from % parts == part) {
                        addToList(m_out[c.from], c.to, c.weight, c.middle);
                    }
                    if (c.to % parts == part) {
                        addToList(m_in[c.to], c.from, c.weight, c.middle);
                    }
                }
            }
            for (std::uint32_t v : round) {
                detach(v, part, parts);
            }
        };
        if (changes >= kParallelChanges && threads > 1) {
            pool.run([&](unsigned t) { change(t, threads); });
        } else {
            change(0, 1);
        }
        for (std::uint32_t v : round) {
            appendNeighbours(v, neighbours);
            keepFinalLists(v);
            m_rank[v] = done++;
            m_inBatch[v] = 0;
        }
    }

    // Hands over the result: the ranks, where each node's lists lie, and the
    // arcs (moved into `arcs`, or all written to the spill file when there is
    // one). Returns the number of arcs.
    std::size_t finish(std::vector<std::uint32_t>& rank, std::vector<ChNode>& nodes, ArcBuffer& arcs)
    {
        // The working graph is gone; its memory goes back before the arcs move.
        releaseFreeMemory();
        if (!m_original.empty()) {
            std::vector<std::uint32_t> rankByOriginal(m_rank.size());
            std::vector<ChNode> nodesByOriginal(m_nodes.size());
            for (std::size_t v = 0; v < m_original.size(); ++v) {
                rankByOriginal[m_original[v]] = m_rank[v];
                nodesByOriginal[m_original[v]] = m_nodes[v];
            }
            m_rank = std::move(rankByOriginal);
            m_nodes = std::move(nodesByOriginal);
        }
        const std::size_t count = m_flat.size();
        if (m_flat.spilled()) {
            m_flat.flush();
        } else {
            m_flat.moveInto(arcs, m_nodes);
        }
        rank = std::move(m_rank);
        nodes = std::move(m_nodes);
        return count;
    }

private:
    // Appends the nodes v has an arc to or from (a node may come twice).
    void appendNeighbours(std::uint32_t v, std::vector<std::uint32_t>& out) const
    {
        for (const WorkArc& a : m_out[v]) {
            out.push_back(a.node);
        }
        for (const WorkArc& a : m_in[v]) {
            out.push_back(a.node);
        }
    }

    static WorkArc* findArc(ArcList& list, std::uint32_t node)
    {
        for (WorkArc& a : list) {
            if (a.node == node) {
                return &a;
            }
        }
        return nullptr;
    }

    // Adds u->w, or lowers the weight of the one there.
    void addArc(std::uint32_t u, std::uint32_t w, std::uint32_t weight, std::uint32_t middle)
    {
        addToList(m_out[u], w, weight, middle);
        addToList(m_in[w], u, weight, middle);
    }

    // One side of addArc: the arc to or from `node` in `list`. Both sides of
    // an arc always weigh the same, so each side comes to the same decision
    // on its own.
    static void addToList(ArcList& list, std::uint32_t node, std::uint32_t weight, std::uint32_t middle)
    {
        if (WorkArc* old = findArc(list, node)) {
            if (old->weight > weight) {
                *old = WorkArc{node, weight, middle};
            }
            return;
        }
        list.push_back(WorkArc{node, weight, middle});
    }

    // Dijkstra from `source` over the remaining graph without `skip` and the
    // nodes of the current round, until it has looked at `arcLimit` arcs, the
    // distance passes `maxDist`, all `targets` are settled, or every target
    // but the source is already reached no later than through `skip` (its
    // arc there weighs `sourceWeight`; `open` of them are not yet): then
    // none needs a shortcut, and searching on could only find shorter ways.
    // As targets are reached, `maxDist` falls to what the open ones need.
    void witnessSearch(Scratch& w, std::uint32_t source, std::uint32_t skip, std::uint32_t sourceWeight,
                       std::uint32_t maxDist, int arcLimit, int targets, int open) const
    {
        for (std::uint32_t n : w.touched) {
            w.mark[n].dist = kInfiniteWeight;
        }
        w.touched.clear();
        w.heap.clear();
        w.mark[source].dist = 0;
        w.touched.push_back(source);
        w.heap.emplace_back(0, source);
        int looked = 0;
        while (!w.heap.empty()) {
            std::pop_heap(w.heap.begin(), w.heap.end(), std::greater<>());
            const auto [d, x] = w.heap.back();
            w.heap.pop_back();
            // The arcs of the node settled next are fetched while this one's
            // are looked at: on a large graph each list is a cache miss.
            if (!w.heap.empty()) {
                prefetch(m_out[w.heap.front().second].begin());
            }
            if (d > w.mark[x].dist) {
                continue;
            }
            if (d > maxDist || looked > arcLimit) {
                break;
            }
            if (w.mark[x].target != kInfiniteWeight && --targets == 0) {
                break; // every target settled: their distances are final
            }
            looked += static_cast<int>(m_out[x].size());
            for (const WorkArc& a : m_out[x]) {
                if (a.node == skip) {
                    continue;
                }
                const std::uint32_t nd = addWeights(d, a.weight);
                if (nd < w.mark[a.node].dist) {
                    if (w.mark[a.node].dist == kInfiniteWeight) {
                        w.touched.push_back(a.node);
                    }
                    const std::uint32_t before = w.mark[a.node].dist;
                    w.mark[a.node].dist = nd;
                    if (const std::uint32_t toTarget = w.mark[a.node].target; toTarget != kInfiniteWeight && a.node != source) {
                        const std::uint32_t via = addWeights(sourceWeight, toTarget);
                        if (before > via && nd <= via) {
                            if (--open == 0) {
                                return;
                            }
                            // The search need only go as far as the heads
                            // still open need: less only when the head just
                            // reached was the farthest (looking again at every
                            // head each time cost a fifth of a dense core's
                            // contraction).
                            if (via >= maxDist) {
                                maxDist = 0;
                                for (const WorkArc& o : m_out[skip]) {
                                    const std::uint32_t need = addWeights(sourceWeight, o.weight);
                                    if (o.node != source && w.mark[o.node].dist > need) {
                                        maxDist = std::max(maxDist, need);
                                    }
                                }
                            }
                        }
                    }
                    prefetch(&m_out[a.node]);
                    w.heap.emplace_back(nd, a.node);
                    std::push_heap(w.heap.begin(), w.heap.end(), std::greater<>());
                }
            }
        }
    }

    // Finds the shortcuts contracting v needs; appends them to `out` when
    // given. Returns how many.
    std::int64_t shortcuts(Scratch& w, std::uint32_t v, int limit, std::vector<Shortcut>* out) const
    {
        markTargets(w, v, true);
        const std::int64_t added = shortcutsFrom(w, v, 0, m_in[v].size(), limit, out);
        markTargets(w, v, false);
        return added;
    }

    // Marks (or clears) v's heads as the targets of the witness searches.
    void markTargets(Scratch& w, std::uint32_t v, bool on) const
    {
        for (const WorkArc& o : m_out[v]) {
            w.mark[o.node].target = on ? o.weight : kInfiniteWeight;
        }
    }

    // The shortcuts v needs from its tails m_in[v][first, end), in order;
    // v's targets must be marked.
    std::int64_t shortcutsFrom(Scratch& w, std::uint32_t v, std::size_t first, std::size_t end, int limit,
                               std::vector<Shortcut>* out) const
    {
        std::int64_t added = 0;
        for (const WorkArc& in : std::span<const WorkArc>(m_in[v].begin() + first, m_in[v].begin() + end)) {
            std::uint32_t maxDist = 0;
            int targets = 0;
            for (const WorkArc& o : m_out[v]) {
                if (o.node != in.node) {
                    maxDist = std::max(maxDist, addWeights(in.weight, o.weight));
                    ++targets;
                }
            }
            if (targets == 0) {
                continue; // nothing beyond v but the way back
            }
            // The source itself may be one of the targets; it settles first.
            const int sourceIsTarget = w.mark[in.node].target != kInfiniteWeight ? 1 : 0;
            witnessSearch(w, in.node, v, in.weight, maxDist, limit, targets + sourceIsTarget, targets);
            for (const WorkArc& o : m_out[v]) {
                if (o.node == in.node) {
                    continue;
                }
                const std::uint32_t via = addWeights(in.weight, o.weight);
                if (w.mark[o.node].dist > via) {
                    ++added;
                    if (out != nullptr) {
                        out->push_back(Shortcut{in.node, o.node, via, v});
                    }
                }
            }
        }
        return added;
    }

    std::int64_t priority(std::uint32_t v)
    {
        const auto removed = static_cast<std::int64_t>(m_in[v].size() + m_out[v].size());
        const std::int64_t level = 1000 * static_cast<std::int64_t>(m_level[v]);
        if (removed == 0) {
            return level;
        }
        return level + 2000 * shortcuts(m_scratch[0], v, kSimulateArcLimit, nullptr) / removed;
    }

    void contract(std::uint32_t v)
    {
        std::vector<Shortcut>& found = m_scratch[0].found;
        found.clear();
        shortcuts(m_scratch[0], v, kContractArcLimit, &found);
        for (const Shortcut& c : found) {
            addArc(c.from, c.to, c.weight, c.middle);
        }
        removeNode(v);
    }

    // Takes v out of the graph once its shortcuts are in.
    void removeNode(std::uint32_t v)
    {
        detach(v, 0, 1);
        keepFinalLists(v);
    }

    // Removes v from the lists of its neighbours of one share (id % parts
    // == part).
    void detach(std::uint32_t v, unsigned part, unsigned parts)
    {
        const auto drop = [v](ArcList& list) {
            list.erase(std::find_if(list.begin(), list.end(), [v](const WorkArc& x) { return x.node == v; }));
        };
        for (const WorkArc& a : m_in[v]) {
            if (a.node % parts == part) {
                drop(m_out[a.node]);
            }
        }
        for (const WorkArc& a : m_out[v]) {
            if (a.node % parts == part) {
                drop(m_in[a.node]);
            }
        }
    }

    // v's arcs now all lead to nodes contracted later: they are its final
    // downward and upward lists.
    void keepFinalLists(std::uint32_t v)
    {
        m_nodes[v] = ChNode{m_flat.size(), static_cast<std::uint32_t>(m_in[v].size()),
                            static_cast<std::uint32_t>(m_out[v].size())};
        const auto handed = [this](std::uint32_t x) {
            return m_original.empty() || x == kChNone ? x : m_original[x];
        };
        for (const WorkArc& a : m_in[v]) {
            m_flat.push_back(ChArc{handed(a.node), a.weight, handed(a.middle)});
        }
        for (const WorkArc& a : m_out[v]) {
            m_flat.push_back(ChArc{handed(a.node), a.weight, handed(a.middle)});
        }
        m_out[v].release();
        m_in[v].release();
        m_contracted[v] = 1;
    }

    std::vector<ArcList> m_out;
    std::vector<ArcList> m_in;
    std::vector<std::uint8_t> m_contracted;
    std::vector<std::uint8_t> m_inBatch; // 1 for the nodes of the round being contracted
    // Only for an order chosen as it goes (run):
    std::vector<std::uint8_t> m_stale; // 1 when the priority may be out of date
    std::vector<std::uint32_t> m_level;
    std::vector<std::int64_t> m_priority;
    std::deque<Scratch> m_scratch; // one per thread
    std::vector<std::uint32_t> m_rank;
    // For a given order: the id each node is handed over with (empty: its own).
    std::vector<std::uint32_t> m_original;
    // The final arcs, each contracted node's lists in one run, in chunks:
    // growing never copies (nor briefly doubles) what is the largest part of
    // the memory on big maps.
    ArcChunks m_flat;
    std::vector<ChNode> m_nodes;
    // A round's work (see contractRound): node round[node]'s tails
    // [first, end), and where each piece's shortcuts lie.
    struct Piece {
        std::uint32_t node, first, end;
    };
    struct Placed {
        const Scratch* scratch = nullptr;
        std::size_t begin = 0;
        std::size_t end = 0;
    };
    std::vector<Piece> m_pieces;
    std::vector<Placed> m_where;
};

// Nested dissection: the nodes in an order in which each part of the graph
// comes before the few nodes that separate it from the rest. The graph is cut
// geometrically: along four directions, at the balanced split crossed by the
// fewest arcs; the nodes of one side that touch the other form the separator.
// On road maps the cuts fall where few roads cross (between towns, along a
// river), and inside a street grid they take a row of crossings, which keeps
// the shortcuts among separator nodes few and the contraction fast.
// The two sides of the first cuts are ordered on threads of their own: they
// share no node, and each cut marks its nodes with a stamp of its own.
class Dissection {
public:
    Dissection(std::uint32_t n, const std::vector<WeightedArc>& arcs, std::span<const ChPosition> positions)
        : m_first(n + 1, 0), m_stamp(n, 0), m_at(n)
    {
        // The nodes are numbered along a curve that fills the plane, so that
        // nodes near each other on the map lie near each other in every array
        // here: a cut reads each node's neighbours, and in the order they
        // come in, those reads would scatter over the whole graph.
        m_local = curveOrder(positions);
        std::vector<std::uint32_t> localOf(n);
        m_position.resize(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            localOf[m_local[i]] = i;
            // The cuts sort by position: one that is not a number would
            // break the sort, so it lies at the origin instead.
            const ChPosition& p = positions[m_local[i]];
            m_position[i] = std::isfinite(p.x) && std::isfinite(p.y) ? p : ChPosition{};
        }
        for (const WeightedArc& a : arcs) {
            if (a.from != a.to) {
                ++m_first[localOf[a.from] + 1];
                ++m_first[localOf[a.to] + 1];
            }
        }
        for (std::uint32_t v = 0; v < n; ++v) {
            m_first[v + 1] += m_first[v];
        }
        m_adjacent.resize(m_first[n]);
        std::vector<std::uint32_t> fill(m_first.begin(), m_first.end() - 1);
        for (const WeightedArc& a : arcs) {
            if (a.from != a.to) {
                const std::uint32_t from = localOf[a.from];
                const std::uint32_t to = localOf[a.to];
                m_adjacent[fill[from]++] = to;
                m_adjacent[fill[to]++] = from;
            }
        }
    }

    // Reports the share of nodes placed as it goes.
    std::vector<std::uint32_t> order(const ChProgress& progress)
    {
        m_progress = progress;
        const auto n = static_cast<std::uint32_t>(m_stamp.size());
        std::vector<std::uint32_t> order;
        order.reserve(n);
        if (n <= kLeaf) {
            for (std::uint32_t v = 0; v < n; ++v) {
                order.push_back(v);
            }
            return order;
        }
        // The nodes sorted along each direction once (two directions on a
        // thread of their own); every cut then splits these lists in order
        // instead of sorting its part again.
        Part whole;
        const auto sortAlong = [&](int direction) {
            std::vector<std::pair<float, std::uint32_t>> sorted(n);
            for (std::uint32_t v = 0; v < n; ++v) {
                sorted[v] = {project(v, direction), v};
            }
            std::sort(sorted.begin(), sorted.end());
            whole.sorted[direction].resize(n);
            for (std::uint32_t i = 0; i < n; ++i) {
                whole.sorted[direction][i] = sorted[i].second;
            }
        };
        {
            std::thread side([&] {
                sortAlong(2);
                sortAlong(3);
            });
            try {
                sortAlong(0);
                sortAlong(1);
            } catch (...) {
                side.join();
                throw;
            }
            side.join();
        }
        whole.byNumber.resize(n);
        std::iota(whole.byNumber.begin(), whole.byNumber.end(), 0u);
        dissect(whole, 0, order, 0);
        for (std::uint32_t& v : order) {
            v = m_local[v];
        }
        return order;
    }

private:
    static constexpr std::size_t kLeaf = 8;
    static constexpr int kDirections = 4;

    // The nodes of a part of the graph, sorted along each direction, and in
    // the order of their numbers: passes that only visit every node go in
    // that order, so that they read each array from one end to the other and
    // a node's neighbours (numbered near it) are near in memory too.
    struct Part {
        std::array<std::vector<std::uint32_t>, kDirections> sorted;
        std::vector<std::uint32_t> byNumber;
    };

    // The nodes in the order of a Hilbert curve over their positions.
    static std::vector<std::uint32_t> curveOrder(std::span<const ChPosition> positions)
    {
        float minX = std::numeric_limits<float>::max();
        float minY = minX;
        float maxX = std::numeric_limits<float>::lowest();
        float maxY = maxX;
        for (const ChPosition& p : positions) {
            minX = std::min(minX, p.x);
            minY = std::min(minY, p.y);
            maxX = std::max(maxX, p.x);
            maxY = std::max(maxY, p.y);
        }
        constexpr std::uint32_t kSide = 1u << 16;
        // A coordinate that is not a number goes to a corner.
        const auto cell = [](float value, float low, float high) {
            const double share = (static_cast<double>(value) - low) / (static_cast<double>(high) - low);
            if (!(share > 0.0)) {
                return 0u;
            }
            return share >= 1.0 ? kSide - 1 : static_cast<std::uint32_t>(share * kSide);
        };
        std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed(positions.size());
        // Each half keyed and sorted on a thread of its own, then merged.
        const auto keyAndSort = [&](std::size_t begin, std::size_t end) {
            for (std::size_t v = begin; v < end; ++v) {
                std::uint32_t x = cell(positions[v].x, minX, maxX);
                std::uint32_t y = cell(positions[v].y, minY, maxY);
                std::uint64_t key = 0;
                for (std::uint32_t s = kSide / 2; s > 0; s /= 2) {
                    const std::uint32_t rx = (x & s) != 0 ? 1 : 0;
                    const std::uint32_t ry = (y & s) != 0 ? 1 : 0;
                    key += std::uint64_t{s} * s * ((3 * rx) ^ ry);
                    if (ry == 0) {
                        if (rx == 1) {
                            x = kSide - 1 - x;
                            y = kSide - 1 - y;
                        }
                        std::swap(x, y);
                    }
                }
                keyed[v] = {key, static_cast<std::uint32_t>(v)};
            }
            std::sort(keyed.begin() + static_cast<std::ptrdiff_t>(begin), keyed.begin() + static_cast<std::ptrdiff_t>(end));
        };
        const std::size_t half = keyed.size() / 2;
        {
            std::thread side([&] { keyAndSort(half, keyed.size()); });
            try {
                keyAndSort(0, half);
            } catch (...) {
                side.join();
                throw;
            }
            side.join();
        }
        std::inplace_merge(keyed.begin(), keyed.begin() + static_cast<std::ptrdiff_t>(half), keyed.end());
        std::vector<std::uint32_t> order(positions.size());
        for (std::size_t i = 0; i < keyed.size(); ++i) {
            order[i] = keyed[i].second;
        }
        return order;
    }

    float project(std::uint32_t v, int direction) const
    {
        const ChPosition& p = m_position[v];
        switch (direction) {
        case 0: return p.x;
        case 1: return p.y;
        case 2: return p.x + p.y;
        default: return p.x - p.y;
        }
    }

    // A node's stamp, read and written by the threads that order the sides
    // of a cut: each writes only its own nodes' stamps but reads its nodes'
    // neighbours', which may be the other side's.
    std::uint32_t stampOf(std::uint32_t v) const
    {
        return std::atomic_ref<const std::uint32_t>(m_stamp[v]).load(std::memory_order_relaxed);
    }

    // Orders the nodes of `part` (consumed) and appends them to `order`; a
    // part this small goes in the order of its list along `given`.
    void dissect(Part& part, int given, std::vector<std::uint32_t>& order, int depth)
    {
        const std::size_t size = part.sorted[0].size();
        if (size <= kLeaf) {
            order.insert(order.end(), part.sorted[given].begin(), part.sorted[given].end());
            const std::size_t placed = m_placed += size;
            if (m_progress && placed >= m_nextReport) {
                const std::lock_guard<std::mutex> lock(m_progressMutex);
                if (placed >= m_nextReport) {
                    m_progress(static_cast<double>(placed) / static_cast<double>(m_stamp.size()));
                    m_nextReport = placed + m_stamp.size() / 100 + 1;
                }
            }
            return;
        }
        const std::uint32_t stamp = ++m_currentStamp;
        for (std::uint32_t v : part.byNumber) {
            std::atomic_ref<std::uint32_t>(m_stamp[v]).store(stamp, std::memory_order_relaxed);
        }
        const std::size_t lowest = size * 3 / 10;
        const std::size_t highest = size - lowest;
        std::size_t bestCut = static_cast<std::size_t>(-1);
        std::size_t bestSplit = size / 2;
        int bestDirection = 0;
        // Every node's place along each direction, then one pass over the
        // part's arcs for all four. change[d][k]: arcs starting to cross the
        // split before place k along direction d. (Splitting large parts only
        // at every 64th place was faster to cut, but on the 10M region it
        // made the contraction slower and the routes 10 % slower.)
        for (int direction = 0; direction < kDirections; ++direction) {
            const std::vector<std::uint32_t>& sorted = part.sorted[direction];
            for (std::size_t i = 0; i < size; ++i) {
                m_at[sorted[i]][direction] = static_cast<std::uint32_t>(i);
            }
        }
        std::array<std::vector<std::int32_t>, kDirections> change;
        for (std::vector<std::int32_t>& c : change) {
            c.assign(size + 1, 0);
        }
        for (std::uint32_t v : part.byNumber) {
            const Places at = m_at[v];
            for (std::uint32_t k = m_first[v]; k < m_first[v + 1]; ++k) {
                const std::uint32_t u = m_adjacent[k];
                if (stampOf(u) != stamp) {
                    continue;
                }
                const Places other = m_at[u];
                for (int direction = 0; direction < kDirections; ++direction) {
                    if (other[direction] > at[direction]) {
                        ++change[direction][at[direction] + 1];
                        --change[direction][other[direction] + 1];
                    }
                }
            }
        }
        for (int direction = 0; direction < kDirections; ++direction) {
            std::int64_t crossing = 0;
            for (std::size_t split = 1; split < highest; ++split) {
                crossing += change[direction][split];
                if (split < lowest) {
                    continue;
                }
                const auto cut = static_cast<std::size_t>(crossing);
                if (cut < bestCut) {
                    bestCut = cut;
                    bestSplit = split;
                    bestDirection = direction;
                }
            }
        }
        change = {};
        const std::vector<std::uint32_t>& sorted = part.sorted[bestDirection];
        // Sides: 1 = left, 2 = right; the separator is the right side's nodes
        // with an arc to the left side.
        for (std::size_t i = 0; i < size; ++i) {
            m_at[sorted[i]][0] = i < bestSplit ? 1 : 2;
        }
        // The separator is taken from the side where fewer nodes touch the
        // other one.
        auto touchesOther = [&](std::uint32_t v) {
            const std::uint32_t side = m_at[v][0];
            for (std::uint32_t k = m_first[v]; k < m_first[v + 1]; ++k) {
                const std::uint32_t u = m_adjacent[k];
                if (stampOf(u) == stamp && m_at[u][0] != side) {
                    return true;
                }
            }
            return false;
        };
        std::size_t boundary[3] = {0, 0, 0};
        for (std::uint32_t v : part.byNumber) {
            boundary[m_at[v][0]] += touchesOther(v) ? 1 : 0;
        }
        const std::uint32_t cutSide = boundary[1] < boundary[2] ? 1 : 2;
        std::vector<std::uint32_t> separator;
        for (std::uint32_t v : sorted) {
            if (m_at[v][0] == cutSide && touchesOther(v)) {
                separator.push_back(v);
            }
        }
        for (std::uint32_t v : separator) {
            m_at[v][0] = 0;
        }
        // Both sides keep every list in order, without the separator.
        Part left;
        Part right;
        for (int direction = 0; direction < kDirections; ++direction) {
            std::vector<std::uint32_t>& list = part.sorted[direction];
            left.sorted[direction].reserve(bestSplit);
            right.sorted[direction].reserve(size - bestSplit);
            for (std::uint32_t v : list) {
                if (m_at[v][0] != 0) {
                    (m_at[v][0] == 1 ? left : right).sorted[direction].push_back(v);
                }
            }
            std::vector<std::uint32_t>().swap(list);
        }
        left.byNumber.reserve(bestSplit);
        right.byNumber.reserve(size - bestSplit);
        for (std::uint32_t v : part.byNumber) {
            if (m_at[v][0] != 0) {
                (m_at[v][0] == 1 ? left : right).byNumber.push_back(v);
            }
        }
        std::vector<std::uint32_t>().swap(part.byNumber);
        if (depth < m_parallelDepth && left.sorted[0].size() > (1u << 16)) {
            std::vector<std::uint32_t> leftOrder;
            leftOrder.reserve(left.sorted[0].size());
            std::thread side([&] { dissect(left, bestDirection, leftOrder, depth + 1); });
            std::vector<std::uint32_t> rightOrder;
            rightOrder.reserve(right.sorted[0].size());
            try {
                dissect(right, bestDirection, rightOrder, depth + 1);
            } catch (...) {
                side.join();
                throw;
            }
            side.join();
            order.insert(order.end(), leftOrder.begin(), leftOrder.end());
            order.insert(order.end(), rightOrder.begin(), rightOrder.end());
        } else {
            dissect(left, bestDirection, order, depth + 1);
            dissect(right, bestDirection, order, depth + 1);
        }
        // Along the cut line, so that neighbours in the separator come one
        // after the other (fewer shortcuts among them than in any order).
        static constexpr int kAlong[kDirections] = {1, 0, 3, 2};
        std::sort(separator.begin(), separator.end(), [&](std::uint32_t a, std::uint32_t b) {
            return project(a, kAlong[bestDirection]) < project(b, kAlong[bestDirection]);
        });
        order.insert(order.end(), separator.begin(), separator.end());
    }

    // A node's place along each direction in the part being cut; after the
    // cut, [0] is its side.
    using Places = std::array<std::uint32_t, kDirections>;

    // All indexed by the nodes' numbers along the curve; m_local gives back
    // their own.
    std::vector<std::uint32_t> m_local;
    std::vector<std::uint32_t> m_first;
    std::vector<std::uint32_t> m_adjacent;
    std::vector<ChPosition> m_position;
    std::vector<std::uint32_t> m_stamp;
    std::vector<Places> m_at;
    std::atomic<std::uint32_t> m_currentStamp = 0;
    // Cuts this deep and shallower order their sides on two threads.
    int m_parallelDepth = std::thread::hardware_concurrency() > 1 ? 2 : 0;
    std::atomic<std::size_t> m_placed = 0;
    ChProgress m_progress;
    std::mutex m_progressMutex;
    std::atomic<std::size_t> m_nextReport = 0;
};

// Threads that climb one side of a query while the thread that asked climbs
// the other. A query hands its job to an idle helper, and takes it back to
// do itself if the helper has not begun it by the time the query's own side
// is done, as on a machine busy with other queries. A helper waits for its
// next job a short while awake, then asleep. The helpers are started by the
// first query, so that they run at the priority of the threads that query.
class ClimbHelpers {
public:
    struct alignas(64) Helper {
        // Idle, then Posted by a query, Running once the helper took it (or
        // back to Idle when the query took it back), Done, Idle.
        std::atomic<std::uint32_t> state{kIdle};
        std::atomic<std::uint32_t> posted{0}; // counts jobs, to wake the helper
        void (*job)(void*) = nullptr;
        void* context = nullptr;
        bool failed = false;
    };

    // Throws std::system_error when a thread cannot be started.
    explicit ClimbHelpers(unsigned count) : m_helpers(count)
    {
        try {
            for (Helper& h : m_helpers) {
                m_threads.emplace_back([this, &h] { serve(h); });
            }
        } catch (...) {
            stopAll();
            throw;
        }
    }
    ClimbHelpers(const ClimbHelpers&) = delete;
    ClimbHelpers& operator=(const ClimbHelpers&) = delete;
    ~ClimbHelpers() { stopAll(); }

    // Hands job(context) to an idle helper and returns it, or null.
    Helper* start(void (*job)(void*), void* context)
    {
        for (Helper& h : m_helpers) {
            std::uint32_t idle = kIdle;
            if (h.state.load(std::memory_order_relaxed) == kIdle
                && h.state.compare_exchange_strong(idle, kClaimed, std::memory_order_acquire)) {
                h.job = job;
                h.context = context;
                h.state.store(kPosted, std::memory_order_release);
                h.posted.fetch_add(1, std::memory_order_release);
                h.posted.notify_one();
                return &h;
            }
        }
        return nullptr;
    }

    // Returns whether the helper did the job: false when the query took it
    // back (not begun yet) or the helper failed partway; the query then does
    // it itself.
    static bool finish(Helper& h)
    {
        std::uint32_t posted = kPosted;
        if (h.state.compare_exchange_strong(posted, kIdle, std::memory_order_acq_rel)) {
            return false;
        }
        std::uint32_t state = h.state.load(std::memory_order_acquire);
        watchFor([&] { return (state = h.state.load(std::memory_order_acquire)) == kDone; },
                 std::chrono::microseconds(200));
        while (state != kDone) {
            h.state.wait(state, std::memory_order_acquire);
            state = h.state.load(std::memory_order_acquire);
        }
        const bool ok = !h.failed;
        h.state.store(kIdle, std::memory_order_release);
        return ok;
    }

private:
    static constexpr std::uint32_t kIdle = 0;
    static constexpr std::uint32_t kClaimed = 1;
    static constexpr std::uint32_t kPosted = 2;
    static constexpr std::uint32_t kRunning = 3;
    static constexpr std::uint32_t kDone = 4;

    void stopAll()
    {
        m_stop.store(true, std::memory_order_release);
        for (Helper& h : m_helpers) {
            h.posted.fetch_add(1, std::memory_order_release);
            h.posted.notify_one();
        }
        for (std::thread& t : m_threads) {
            t.join();
        }
    }

    void serve(Helper& h)
    {
        std::uint32_t seen = 0;
        while (true) {
            std::uint32_t posted = h.posted.load(std::memory_order_acquire);
            watchFor([&] { return (posted = h.posted.load(std::memory_order_acquire)) != seen; },
                     std::chrono::microseconds(50));
            while (posted == seen) {
                h.posted.wait(seen, std::memory_order_acquire);
                posted = h.posted.load(std::memory_order_acquire);
            }
            seen = posted;
            if (m_stop.load(std::memory_order_acquire)) {
                return;
            }
            std::uint32_t expected = kPosted;
            if (!h.state.compare_exchange_strong(expected, kRunning, std::memory_order_acq_rel)) {
                continue; // taken back
            }
            try {
                h.job(h.context);
                h.failed = false;
            } catch (...) {
                h.failed = true;
            }
            h.state.store(kDone, std::memory_order_release);
            h.state.notify_one();
        }
    }

    std::vector<Helper> m_helpers;
    std::vector<std::thread> m_threads;
    std::atomic<bool> m_stop{false};
};

// The labels of one search direction, in a small open-addressing table keyed
// by node, so a thread's scratch grows with the query, not with the graph.
// A slot holds its node beside the label's index, so a probe that passes over
// other nodes reads only the table.
class Labels {
public:
    struct Label {
        std::uint32_t node;
        std::uint32_t parent;  // node reached from; kChNone for a seed
        std::uint32_t middle;  // of the arc from the parent; for a seed, its index
        std::uint32_t slot;
        double dist;
    };

    void clear()
    {
        if (m_slots.empty()) {
            m_slots.assign(1024, Slot{});
        }
        for (const Label& l : m_labels) {
            m_slots[l.slot] = Slot{};
        }
        m_labels.clear();
        m_heap.clear();
    }

    Label* find(std::uint32_t node)
    {
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash(node) & mask;; i = (i + 1) & mask) {
            const Slot slot = m_slots[i];
            if (slot.at == 0) {
                return nullptr;
            }
            if (slot.node == node) {
                return &m_labels[slot.at - 1];
            }
        }
    }

    // Returns the label of a node known to have one.
    const Label& at(std::uint32_t node)
    {
        const Label* label = find(node);
        return label != nullptr ? *label : m_missing;
    }

    // Lowers node's distance to `dist` (adding the label when new); returns
    // whether it did.
    bool improve(std::uint32_t node, double dist, std::uint32_t parent, std::uint32_t middle)
    {
        Label* label = find(node);
        if (label == nullptr) {
            if ((m_labels.size() + 1) * 2 > m_slots.size()) {
                grow();
            }
            const std::size_t mask = m_slots.size() - 1;
            std::size_t i = hash(node) & mask;
            while (m_slots[i].at != 0) {
                i = (i + 1) & mask;
            }
            m_labels.push_back(Label{node, parent, middle, static_cast<std::uint32_t>(i), dist});
            m_slots[i] = Slot{node, static_cast<std::uint32_t>(m_labels.size())};
            label = &m_labels.back();
        } else if (dist < label->dist) {
            label->dist = dist;
            label->parent = parent;
            label->middle = middle;
        } else {
            return false;
        }
        push({dist, static_cast<std::uint32_t>(label - m_labels.data())});
        return true;
    }

    // Returns the smallest live distance in the queue (dropping stale
    // entries: a queue entry names its label, so telling costs no lookup).
    double top()
    {
        while (!m_heap.empty() && m_heap.front().first > m_labels[m_heap.front().second].dist) {
            pop();
        }
        return m_heap.empty() ? kInfinity : m_heap.front().first;
    }

    // The node that would be settled next, or kChNone.
    std::uint32_t next() const { return m_heap.empty() ? kChNone : m_labels[m_heap.front().second].node; }

    // Takes the closest entry: its distance and node.
    std::pair<double, std::uint32_t> pop()
    {
        const Entry top = m_heap.front();
        const Entry last = m_heap.back();
        m_heap.pop_back();
        const std::size_t size = m_heap.size();
        if (size > 0) {
            std::size_t i = 0;
            while (true) {
                const std::size_t first = kArity * i + 1;
                if (first >= size) {
                    break;
                }
                std::size_t least = first;
                for (std::size_t c = first + 1; c < std::min(size, first + kArity); ++c) {
                    if (m_heap[c] < m_heap[least]) {
                        least = c;
                    }
                }
                if (!(m_heap[least] < last)) {
                    break;
                }
                m_heap[i] = m_heap[least];
                i = least;
            }
            m_heap[i] = last;
        }
        return {top.first, m_labels[top.second].node};
    }

    double dist(std::uint32_t node)
    {
        const Label* label = find(node);
        return label == nullptr ? kInfinity : label->dist;
    }

    std::span<const Label> all() const { return m_labels; }

private:
    // A queue entry: distance, label index. The queue is a 4-ary heap:
    // half as deep as a binary one, and a node's children share a cache
    // line, so taking the closest entry, a fifth of a query on a large map,
    // costs less. No two entries are equal, so they come out in one order
    // whatever the shape of the heap.
    using Entry = std::pair<double, std::uint32_t>;
    static constexpr std::size_t kArity = 4;

    void push(Entry entry)
    {
        m_heap.push_back(entry);
        std::size_t i = m_heap.size() - 1;
        while (i > 0) {
            const std::size_t parent = (i - 1) / kArity;
            if (!(entry < m_heap[parent])) {
                break;
            }
            m_heap[i] = m_heap[parent];
            i = parent;
        }
        m_heap[i] = entry;
    }

    static std::size_t hash(std::uint32_t node) { return (node * 0x9E3779B1u) >> 8; }

    void grow()
    {
        m_slots.assign(m_slots.size() * 2, Slot{});
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t k = 0; k < m_labels.size(); ++k) {
            std::size_t i = hash(m_labels[k].node) & mask;
            while (m_slots[i].at != 0) {
                i = (i + 1) & mask;
            }
            m_slots[i] = Slot{m_labels[k].node, static_cast<std::uint32_t>(k + 1)};
            m_labels[k].slot = static_cast<std::uint32_t>(i);
        }
    }

    struct Slot {
        std::uint32_t node = 0;
        std::uint32_t at = 0; // label index + 1; 0 = empty
    };

    Label m_missing{kChNone, kChNone, kChNone, 0, kInfinity};
    std::vector<Slot> m_slots;
    std::vector<Label> m_labels;
    std::vector<Entry> m_heap;
};

struct QuerySpace {
    Labels forward;
    Labels backward;
    // The top nodes each side reached: place in the table, distance.
    std::vector<std::pair<std::uint32_t, double>> upper;
    std::vector<std::pair<std::uint32_t, double>> lower;
};

// Clears one side's labels and gives each seed (of a node below n) its own,
// with the seed's index as its middle.
void startFrom(Labels& side, std::span<const ChSeed> seeds, std::uint32_t n)
{
    side.clear();
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        if (seeds[i].node < n) {
            side.improve(seeds[i].node, seeds[i].cost, kChNone, static_cast<std::uint32_t>(i));
        }
    }
}

// This thread's labels, each side given its seeds.
QuerySpace& startQuery(std::span<const ChSeed> sources, std::span<const ChSeed> targets, std::uint32_t n)
{
    thread_local QuerySpace space;
    startFrom(space.forward, sources, n);
    startFrom(space.backward, targets, n);
    return space;
}

// Appends the arcs of one side's labels as a path in driving order: for the
// forward side from a source up to `end`, for the backward side from `end`
// down to a target. Returns the index of the seed reached and sets its node.
template <class Hop>
std::uint32_t appendHalf(Labels& side, std::uint32_t end, bool forward, std::vector<Hop>& hops, std::uint32_t& seed)
{
    const std::size_t start = hops.size();
    std::uint32_t x = end;
    for (const Labels::Label* l = &side.at(x); l->parent != kChNone; l = &side.at(x)) {
        hops.push_back(forward ? Hop{l->parent, x, l->middle} : Hop{x, l->parent, l->middle});
        x = l->parent;
    }
    if (forward) {
        std::reverse(hops.begin() + static_cast<std::ptrdiff_t>(start), hops.end());
    }
    seed = x;
    return side.at(x).middle;
}

} // namespace

struct ContractionHierarchy::TopTable {
    std::uint32_t lowest = 0; // rank of the lowest top node
    std::uint32_t size = 0;
    std::vector<std::uint32_t> node;   // by place (rank - lowest)
    std::vector<std::uint32_t> dist;   // [from * size + to]; kInfiniteWeight when not reached
    std::vector<std::uint16_t> parent; // [from * size + to]: the place before `to` on the way from `from`
    unsigned helperCount = 0;
    mutable std::once_flag helpersStarted;
    mutable std::unique_ptr<ClimbHelpers> helpers;
};

struct ContractionHierarchy::Owned {
    std::vector<std::uint32_t> rank;
    std::vector<ChNode> nodes;
    ArcBuffer arcs;
    SpillFile spill;
};

ContractionHierarchy ContractionHierarchy::build(std::uint32_t nodeCount, std::vector<WeightedArc> arcs,
                                                 const ChProgress& progress, std::vector<ChPosition> positions,
                                                 const std::string& spillFolder)
{
    auto owned = std::make_shared<Owned>();
    if (!spillFolder.empty()) {
        owned->spill.open(spillFolder);
    }
    std::size_t arcCount = 0;
    {
        std::vector<std::uint32_t> order;
        if (positions.size() == nodeCount) {
            // The order takes about a tenth of the time on road maps.
            order = Dissection(nodeCount, arcs, positions).order([&](double done) {
                if (progress) {
                    progress(0.1 * done);
                }
            });
        }
        std::vector<ChPosition>().swap(positions);
        if (!order.empty()) {
            // The contraction numbers the nodes by their place in the order.
            std::vector<std::uint32_t> place(nodeCount);
            for (std::uint32_t i = 0; i < nodeCount; ++i) {
                place[order[i]] = i;
            }
            for (WeightedArc& a : arcs) {
                a.from = place[a.from];
                a.to = place[a.to];
            }
        }
        Contractor contractor(nodeCount, arcs, owned->spill);
        if (!order.empty()) {
            contractor.runInOrder(std::move(order), [&](double done) {
                if (progress) {
                    progress(0.1 + 0.9 * done);
                }
            });
        } else {
            contractor.run(progress);
        }
        arcCount = contractor.finish(owned->rank, owned->nodes, owned->arcs);
    }
    if (progress) {
        progress(1.0);
    }
    const bool mapped = !spillFolder.empty();
    const std::span<const ChArc> arcView = mapped ? owned->spill.map(arcCount) : owned->arcs.view();
    ContractionHierarchy ch = fromParts(owned->rank, owned->nodes, arcView, owned);
    ch.m_arcsMapped = mapped;
    if (mapped) {
        ch.m_spill = owned->spill.spill();
    }
    return ch;
}

ContractionHierarchy ContractionHierarchy::fromParts(std::span<const std::uint32_t> rank, std::span<const ChNode> nodes,
                                                     std::span<const ChArc> arcs, std::shared_ptr<const void> keepAlive,
                                                     bool arcsMapped)
{
    ContractionHierarchy ch;
    ch.m_rank = rank;
    ch.m_nodes = nodes;
    ch.m_arcs = arcs;
    ch.m_storage = std::move(keepAlive);
    ch.m_arcsMapped = arcsMapped;
    return ch;
}

const char* ContractionHierarchy::listsFault() const
{
    const std::uint64_t total = m_arcs.size();
    std::uint64_t covered = 0;
    for (const ChNode& node : m_nodes) {
        if (node.first > total || std::uint64_t{node.down} + node.up > total - node.first) {
            return "a node's arcs lie outside the arcs";
        }
        covered += std::uint64_t{node.down} + node.up;
    }
    return covered == total ? nullptr : "the nodes' arcs do not cover the arcs";
}

std::string ContractionHierarchy::validate() const
{
    const std::size_t n = m_rank.size();
    if (n >= kChNone) {
        return "too many nodes";
    }
    if (m_nodes.size() != n) {
        return "the node table does not match the node count";
    }
    std::vector<std::uint8_t> seen(n, 0);
    for (std::uint32_t r : m_rank) {
        if (r >= n || seen[r] != 0) {
            return "ranks are not a permutation";
        }
        seen[r] = 1;
    }
    // Lists that together are as long as the arcs: checking them all below is
    // one pass however they lie.
    if (const char* fault = listsFault(); fault != nullptr) {
        return fault;
    }
    const std::uint64_t total = m_arcs.size();
    // Both lists of a node hold arcs to higher nodes, so one check serves.
    // A country-size file has hundreds of millions of arcs: the nodes are
    // checked in parts on every core, and the first part's fault is told.
    // Of arcs in a file mapping, this process lets go of the pages it has
    // checked as it goes (they stay in the page cache): a check of a
    // country-size file would otherwise be charged for all of it at once.
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto letGo = [this, page](std::uint64_t firstArc, std::uint64_t endArc) {
        const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(m_arcs.data() + firstArc) + page - 1) / page * page;
        const std::uintptr_t last = reinterpret_cast<std::uintptr_t>(m_arcs.data() + endArc) / page * page;
        if (m_arcsMapped && last > first) {
            ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
        }
    };
    auto check = [this, n, &letGo](std::size_t begin, std::size_t end) -> const char* {
        constexpr std::size_t kLetGoEvery = std::size_t{1} << 16; // nodes
        std::uint64_t lowest = std::numeric_limits<std::uint64_t>::max();
        std::uint64_t highest = 0;
        for (std::size_t v = begin; v < end; ++v) {
            if ((v - begin) % kLetGoEvery == kLetGoEvery - 1 && highest > lowest) {
                letGo(lowest, highest);
                lowest = std::numeric_limits<std::uint64_t>::max();
                highest = 0;
            }
            const ChNode& node = m_nodes[v];
            lowest = std::min(lowest, node.first);
            highest = std::max(highest, node.first + node.down + node.up);
            for (std::uint64_t i = node.first; i < node.first + node.down + node.up; ++i) {
                const ChArc& a = m_arcs[i];
                if (a.node >= n || m_rank[a.node] <= m_rank[v]) {
                    return "arc does not climb";
                }
                if (a.middle != kChNone
                    && (a.middle >= n || m_rank[a.middle] >= m_rank[v] || m_rank[a.middle] >= m_rank[a.node])) {
                    return "shortcut bypasses a node out of order";
                }
            }
        }
        return nullptr;
    };
    const std::size_t parts = total < (std::uint64_t{1} << 24) ? 1 : std::clamp(std::thread::hardware_concurrency(), 1u, 16u);
    std::vector<const char*> faults(parts, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t t = 1; t < parts; ++t) {
        threads.emplace_back([&, t] { faults[t] = check(n * t / parts, n * (t + 1) / parts); });
    }
    faults[0] = check(0, n / parts);
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const char* fault : faults) {
        if (fault != nullptr) {
            return fault;
        }
    }
    return {};
}

bool ContractionHierarchy::unpack(std::span<const Hop> hops, std::vector<std::uint32_t>& out) const
{
    // The pieces form a tree: a shortcut's piece has two children, the arcs
    // into and out of the node it bypasses. The tree is grown one depth at a
    // time, so that the lookups of a depth are independent of each other and
    // their memory is fetched several at a time rather than one after the
    // other; on a country-size map each lookup is a cache miss.
    struct Piece {
        std::uint32_t from, to, middle;
        std::uint32_t firstChild; // its second child follows it; kChNone for an arc of the graph
    };
    std::vector<Piece> tree;
    tree.reserve(hops.size() * 4);
    std::vector<std::uint32_t> frontier;
    std::vector<std::uint32_t> deeper;
    for (const Hop& hop : hops) {
        if (hop.middle != kChNone) {
            frontier.push_back(static_cast<std::uint32_t>(tree.size()));
        }
        tree.push_back(Piece{hop.from, hop.to, hop.middle, kChNone});
    }
    // A shortest path passes a node at most once, so a sound hierarchy's
    // tree has fewer than twice as many pieces as the graph has nodes; the
    // bound stops a crafted file from making unpacking explode.
    const std::size_t limit = 2 * (static_cast<std::size_t>(nodeCount()) + hops.size()) + 16;
    constexpr std::size_t kNodeAhead = 16; // fetch a node's record this many lookups ahead
    constexpr std::size_t kArcsAhead = 8;  // and its arcs this many
    while (!frontier.empty()) {
        deeper.clear();
        for (std::size_t k = 0; k < frontier.size(); ++k) {
            if (k + kNodeAhead < frontier.size()) {
                prefetch(&m_nodes[tree[frontier[k + kNodeAhead]].middle]);
            }
            if (k + kArcsAhead < frontier.size()) {
                const ChNode& ahead = m_nodes[tree[frontier[k + kArcsAhead]].middle];
                prefetch(m_arcs.data() + ahead.first);
                prefetch(m_arcs.data() + ahead.first + ahead.down);
            }
            const Piece piece = tree[frontier[k]];
            const std::uint32_t m = piece.middle;
            const ChArc* first = nullptr;
            for (const ChArc& a : down(m)) {
                if (a.node == piece.from) {
                    first = &a;
                    break;
                }
            }
            const ChArc* second = nullptr;
            for (const ChArc& a : up(m)) {
                if (a.node == piece.to) {
                    second = &a;
                    break;
                }
            }
            if (first == nullptr || second == nullptr || tree.size() + 2 > limit) {
                return false;
            }
            const auto child = static_cast<std::uint32_t>(tree.size());
            tree[frontier[k]].firstChild = child;
            tree.push_back(Piece{piece.from, m, first->middle, kChNone});
            tree.push_back(Piece{m, piece.to, second->middle, kChNone});
            if (first->middle != kChNone) {
                deeper.push_back(child);
            }
            if (second->middle != kChNone) {
                deeper.push_back(child + 1);
            }
        }
        frontier.swap(deeper);
    }
    // The arcs of the graph are the leaves, in driving order.
    std::vector<std::uint32_t> stack;
    for (std::size_t root = hops.size(); root-- > 0;) {
        stack.push_back(static_cast<std::uint32_t>(root));
    }
    while (!stack.empty()) {
        const Piece& piece = tree[stack.back()];
        stack.pop_back();
        if (piece.firstChild == kChNone) {
            out.push_back(piece.to);
        } else {
            stack.push_back(piece.firstChild + 1);
            stack.push_back(piece.firstChild);
        }
    }
    return true;
}

std::optional<ChPath> ContractionHierarchy::shortestPath(std::span<const ChSeed> sources,
                                                         std::span<const ChSeed> targets) const
{
    if (m_top) {
        return shortestPathViaTop(sources, targets);
    }
    QuerySpace& space = startQuery(sources, targets, nodeCount());
    Labels& fw = space.forward;
    Labels& bw = space.backward;
    const std::uint32_t n = nodeCount();
    double best = kInfinity;
    std::uint32_t meeting = kChNone;
    auto consider = [&](std::uint32_t node, double total) {
        if (total < best) {
            best = total;
            meeting = node;
        }
    };
    for (const ChSeed& s : sources) {
        if (s.node < n) {
            consider(s.node, fw.dist(s.node) + bw.dist(s.node));
        }
    }

    // One step of one direction: settle the closest node, unless a higher node
    // reaches it more cheaply (stall-on-demand), and relax its climbing arcs.
    // The searches meet where a node settled in one has a label in the other:
    // checked once per settled node rather than per arc relaxed (the top node
    // of the best path is settled in both, the second time with the first
    // side's distance final).
    auto step = [&](Labels& self, Labels& other, bool forward) {
        const auto [d, x] = self.pop();
        // The arcs of the node this side settles next are fetched from memory
        // while this one is handled.
        if (const std::uint32_t next = self.next(); next != kChNone) {
            prefetch(m_arcs.data() + m_nodes[next].first);
        }
        if (const double there = other.dist(x); there < kInfinity) {
            consider(x, d + there);
        }
        const std::span<const ChArc> above = forward ? down(x) : up(x);
        for (const ChArc& a : above.first(std::min(above.size(), kStallArcs))) {
            if (self.dist(a.node) + a.weight < d) {
                return;
            }
        }
        for (const ChArc& a : forward ? up(x) : down(x)) {
            // A label no cheaper than the best path found cannot lead to a
            // better one.
            if (d + a.weight < best && self.improve(a.node, d + a.weight, x, a.middle)) {
                // Its record is fetched now, so that when it comes up the
                // fetch of its arcs need not wait for it.
                prefetch(&m_nodes[a.node]);
            }
        }
    };
    while (true) {
        const double topF = fw.top();
        const double topB = bw.top();
        const bool forwardOn = topF < best;
        const bool backwardOn = topB < best;
        if (!forwardOn && !backwardOn) {
            break;
        }
        if (forwardOn && (!backwardOn || topF <= topB)) {
            step(fw, bw, true);
        } else {
            step(bw, fw, false);
        }
    }
    if (meeting == kChNone) {
        return std::nullopt;
    }

    // The climbing halves as arcs (from, to, middle), in driving order.
    std::vector<Hop> hops;
    ChPath path;
    path.cost = best;
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    path.source = appendHalf(fw, meeting, true, hops, first);
    path.target = appendHalf(bw, meeting, false, hops, last);
    path.nodes.push_back(first);
    if (!unpack(hops, path.nodes)) {
        return std::nullopt;
    }
    return path;
}

bool ContractionHierarchy::keepTopDistances(std::uint32_t size)
{
    m_top.reset();
    const std::uint32_t n = nodeCount();
    size = std::min({size, n, std::uint32_t{0xFFFF}});
    if (size == 0) {
        return false;
    }
    auto top = std::make_shared<TopTable>();
    top->lowest = n - size;
    top->size = size;
    top->node.assign(size, kChNone);
    for (std::uint32_t v = 0; v < n; ++v) {
        if (m_rank[v] >= top->lowest) {
            if (m_rank[v] >= n || top->node[m_rank[v] - top->lowest] != kChNone) {
                return false;
            }
            top->node[m_rank[v] - top->lowest] = v;
        }
    }
    // The top nodes' arcs among themselves, numbered by place: each node's
    // upward arcs (by tail) and downward arcs (by head).
    struct TopArc {
        std::uint32_t other, weight;
    };
    std::vector<std::uint32_t> firstUp(size + 1, 0);
    std::vector<std::uint32_t> firstDown(size + 1, 0);
    std::vector<TopArc> ups;
    std::vector<TopArc> downs;
    for (std::uint32_t p = 0; p < size; ++p) {
        for (const ChArc& a : up(top->node[p])) {
            if (m_rank[a.node] < top->lowest) {
                return false;
            }
            ups.push_back(TopArc{m_rank[a.node] - top->lowest, a.weight});
        }
        for (const ChArc& a : down(top->node[p])) {
            if (m_rank[a.node] < top->lowest) {
                return false;
            }
            downs.push_back(TopArc{m_rank[a.node] - top->lowest, a.weight});
        }
        firstUp[p + 1] = static_cast<std::uint32_t>(ups.size());
        firstDown[p + 1] = static_cast<std::uint32_t>(downs.size());
    }
    // From every top node (spread over the cores): a Dijkstra over the
    // upward arcs, then one sweep from the highest node down that offers
    // each node its arcs from above. A shortest path climbs, then descends,
    // and when a node's turn comes every node above it is final, so the
    // sweep needs no queue. The queue holds distance and place in one number
    // (a distance that fits in 32 bits leaves room for the place below it).
    const std::size_t cells = std::size_t{size} * size;
    top->dist.assign(cells, kInfiniteWeight);
    top->parent.assign(cells, 0);
    std::atomic<std::uint32_t> nextSource{0};
    std::atomic<bool> overflow{false};
    // A queue never holds more entries than there are upward arcs, plus one.
    auto work = [&](std::vector<std::uint64_t>& queue) {
        const auto offer = [&](std::uint32_t* dist, std::uint16_t* parent, std::uint32_t from, std::uint32_t to,
                               std::uint64_t reached) {
            if (reached >= dist[to]) {
                return false;
            }
            if (reached >= kInfiniteWeight) {
                overflow = true;
                return false;
            }
            dist[to] = static_cast<std::uint32_t>(reached);
            parent[to] = static_cast<std::uint16_t>(from);
            return true;
        };
        for (std::uint32_t from = nextSource++; from < size && !overflow; from = nextSource++) {
            std::uint32_t* dist = top->dist.data() + std::size_t{from} * size;
            std::uint16_t* parent = top->parent.data() + std::size_t{from} * size;
            dist[from] = 0;
            parent[from] = static_cast<std::uint16_t>(from);
            queue.clear();
            queue.push_back(from);
            while (!queue.empty()) {
                std::pop_heap(queue.begin(), queue.end(), std::greater<>());
                const std::uint64_t key = queue.back();
                queue.pop_back();
                const std::uint64_t d = key >> 16;
                const auto p = static_cast<std::uint32_t>(key & 0xFFFF);
                if (d > dist[p]) {
                    continue;
                }
                for (std::uint32_t k = firstUp[p]; k < firstUp[p + 1]; ++k) {
                    if (offer(dist, parent, p, ups[k].other, d + ups[k].weight)) {
                        queue.push_back((d + ups[k].weight) << 16 | ups[k].other);
                        std::push_heap(queue.begin(), queue.end(), std::greater<>());
                    }
                }
            }
            for (std::uint32_t q = size; q-- > 0;) {
                for (std::uint32_t k = firstDown[q]; k < firstDown[q + 1]; ++k) {
                    if (dist[downs[k].other] != kInfiniteWeight) {
                        offer(dist, parent, downs[k].other, q, std::uint64_t{dist[downs[k].other]} + downs[k].weight);
                    }
                }
            }
        }
    };
    // The searches run on threads of the lowest priority, on what the cores
    // have to spare. Such a thread may wait long for a core, so it must hold
    // nothing another thread could wait for: its memory is all allocated
    // and touched here, and it only reads and writes it.
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    std::vector<std::vector<std::uint64_t>> queues(threads);
    for (std::vector<std::uint64_t>& queue : queues) {
        queue.resize(ups.size() + 1);
    }
    std::vector<std::thread> searchers;
    for (unsigned t = 0; t < threads && size >= 64; ++t) {
        try {
            searchers.emplace_back([&work, &queue = queues[t]] {
                runAtLowestPriority();
                work(queue);
            });
        } catch (const std::system_error&) {
            break; // fewer threads do the same work
        }
    }
    if (searchers.empty()) {
        work(queues.front());
    }
    for (std::thread& t : searchers) {
        t.join();
    }
    if (overflow) {
        return false;
    }
    top->helperCount = std::min(threads - 1, 3u);
    m_top = std::move(top);
    return true;
}

std::uint32_t ContractionHierarchy::topDistancesKept() const
{
    return m_top ? m_top->size : 0;
}

bool ContractionHierarchy::topPath(std::uint32_t from, std::uint32_t to, std::vector<Hop>& hops) const
{
    const TopTable& top = *m_top;
    const std::size_t row = std::size_t{from} * top.size;
    std::vector<std::uint32_t> places;
    for (std::uint32_t q = to; q != from; q = top.parent[row + q]) {
        if (places.size() >= top.size) {
            return false;
        }
        places.push_back(q);
    }
    places.push_back(from);
    std::reverse(places.begin(), places.end());
    for (std::size_t k = 1; k < places.size(); ++k) {
        const std::uint32_t p = places[k - 1];
        const std::uint32_t q = places[k];
        const std::uint32_t weight = top.dist[row + q] - top.dist[row + p];
        const std::uint32_t u = top.node[p];
        const std::uint32_t v = top.node[q];
        // An arc u -> v lies with the lower of the two.
        const bool climbs = m_rank[v] > m_rank[u];
        const ChArc* found = nullptr;
        for (const ChArc& a : climbs ? up(u) : down(v)) {
            if (a.node == (climbs ? v : u) && a.weight == weight) {
                found = &a;
                break;
            }
        }
        if (found == nullptr) {
            return false;
        }
        hops.push_back(Hop{u, v, found->middle});
    }
    return true;
}

std::optional<ChPath> ContractionHierarchy::shortestPathViaTop(std::span<const ChSeed> sources,
                                                               std::span<const ChSeed> targets) const
{
    const TopTable& top = *m_top;
    QuerySpace& space = startQuery(sources, targets, nodeCount());
    Labels& fw = space.forward;
    Labels& bw = space.backward;
    // Each side climbs on its own until it reaches the top nodes, which it
    // labels but does not leave: every path up from them is in the table.
    auto climb = [&](Labels& self, bool forward) {
        while (self.top() < kInfinity) {
            const auto [d, x] = self.pop();
            if (const std::uint32_t next = self.next(); next != kChNone) {
                prefetch(m_arcs.data() + m_nodes[next].first);
            }
            if (m_rank[x] >= top.lowest) {
                continue;
            }
            const std::span<const ChArc> above = forward ? down(x) : up(x);
            bool stalled = false;
            for (const ChArc& a : above.first(std::min(above.size(), kStallArcs))) {
                if (self.dist(a.node) + a.weight < d) {
                    stalled = true;
                    break;
                }
            }
            if (stalled) {
                continue;
            }
            for (const ChArc& a : forward ? up(x) : down(x)) {
                if (self.improve(a.node, d + a.weight, x, a.middle)) {
                    prefetch(&m_nodes[a.node]);
                }
            }
        }
    };
    // The backward side climbs on a helper when one is idle.
    using Climb = decltype(climb);
    struct Backward {
        Climb* side;
        Labels* labels;
    } backward{&climb, &bw};
    const auto climbBackward = [](void* context) {
        const auto* b = static_cast<Backward*>(context);
        (*b->side)(*b->labels, false);
    };
    std::call_once(top.helpersStarted, [&top] {
        if (top.helperCount > 0) {
            try {
                top.helpers = std::make_unique<ClimbHelpers>(top.helperCount);
            } catch (const std::system_error&) {
                // Each query then climbs both sides itself.
            }
        }
    });
    ClimbHelpers::Helper* helper = top.helpers ? top.helpers->start(climbBackward, &backward) : nullptr;
    try {
        climb(fw, true);
    } catch (...) {
        if (helper != nullptr) {
            ClimbHelpers::finish(*helper);
        }
        throw;
    }
    if (helper == nullptr) {
        climb(bw, false);
    } else if (!ClimbHelpers::finish(*helper)) {
        // The helper failed partway: climb again from the start.
        startFrom(bw, targets, nodeCount());
        climb(bw, false);
    }

    // Below the top the sides meet at a node both reached (the best such
    // node was settled by both with its final distances); through the top,
    // at a pair of top nodes.
    double best = kInfinity;
    std::uint32_t meeting = kChNone;
    auto& upper = space.upper;
    auto& lower = space.lower;
    upper.clear();
    lower.clear();
    for (const Labels::Label& l : fw.all()) {
        if (m_rank[l.node] >= top.lowest) {
            upper.emplace_back(m_rank[l.node] - top.lowest, l.dist);
        } else if (const double total = l.dist + bw.dist(l.node); total < best) {
            best = total;
            meeting = l.node;
        }
    }
    for (const Labels::Label& l : bw.all()) {
        if (m_rank[l.node] >= top.lowest) {
            lower.emplace_back(m_rank[l.node] - top.lowest, l.dist);
        }
    }
    std::sort(lower.begin(), lower.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    std::uint32_t fromPlace = kChNone;
    std::uint32_t toPlace = kChNone;
    for (const auto& [p, up] : upper) {
        const std::uint32_t* row = top.dist.data() + std::size_t{p} * top.size;
        for (const auto& [q, down] : lower) {
            if (up + down >= best) {
                break;
            }
            if (row[q] != kInfiniteWeight && up + row[q] + down < best) {
                best = up + row[q] + down;
                fromPlace = p;
                toPlace = q;
            }
        }
    }
    if (best == kInfinity) {
        return std::nullopt;
    }
    const bool throughTop = fromPlace != kChNone;
    std::vector<Hop> hops;
    ChPath path;
    path.cost = best;
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    path.source = appendHalf(fw, throughTop ? top.node[fromPlace] : meeting, true, hops, first);
    if (throughTop && !topPath(fromPlace, toPlace, hops)) {
        return std::nullopt;
    }
    path.target = appendHalf(bw, throughTop ? top.node[toPlace] : meeting, false, hops, last);
    path.nodes.push_back(first);
    if (!unpack(hops, path.nodes)) {
        return std::nullopt;
    }
    return path;
}

} // namespace tw::service
