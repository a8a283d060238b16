#include "service/map/mapped_file.h"

#include "service/map/user_cache.h"

#include <isa-l/crc.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sstream>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace tw::service {

namespace {

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx"))) void clearUpperVectorState()
{
    _mm256_zeroupper();
}
// Asked once, at first use: the processor model is read first, since a
// static initializer may run before the runtime's own has.
bool hasAvx()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx") != 0;
    }();
    return has;
}
#endif

// ISA-L's CRC-32 over bytes, continuing from `crc`. Its fastest kernels use
// 512-bit registers and return with their upper halves in use; until those
// are cleared, every SSE instruction the thread runs waits on them (the
// service's floating point, compiled for SSE, ran about ten times slower:
// a bearing took 0.9 us instead of 0.07), so they are cleared here.
std::uint32_t isalCrc(std::uint32_t crc, const unsigned char* at, std::size_t bytes)
{
    crc = crc32_gzip_refl(crc, at, bytes);
#if defined(__x86_64__) || defined(__i386__)
    if (hasAvx()) {
        clearUpperVectorState();
    }
#endif
    return crc;
}

// "TWMF" as a host-order integer.
constexpr std::uint32_t kMagic = 0x464D5754u;
// Raise on any change to the header or the section table.
constexpr std::uint32_t kLayoutVersion = 1;
constexpr std::uint64_t kAlignment = 64;
constexpr std::uint32_t kMaxSections = 256;

struct Header {
    std::uint32_t magic;
    std::uint32_t layoutVersion;
    std::uint32_t contentVersion;
    std::uint32_t sectionCount;
    std::uint64_t fileSize;
    std::uint32_t tableCrc;
    std::uint32_t reserved;
};
static_assert(sizeof(Header) == 32);

// The CRC-32 of bytes of a file mapping, which lets go of this process's
// pages of it as it goes (they stay in the page cache): a check that reads a
// country-size file whole would otherwise be charged for all of it at once.
std::uint32_t mappedCrc(const unsigned char* at, std::size_t bytes)
{
    constexpr std::size_t kStep = std::size_t{32} << 20;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    std::uint32_t crc = 0;
    for (std::size_t done = 0; done < bytes; done += kStep) {
        const std::size_t step = std::min(kStep, bytes - done);
        crc = isalCrc(crc, at + done, step);
        // Whole pages inside the step only: a page it shares with a
        // neighbouring step or section is read again, not lost.
        const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(at + done) + page - 1) / page * page;
        const std::uintptr_t last = reinterpret_cast<std::uintptr_t>(at + done + step) / page * page;
        if (last > first) {
            ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
        }
    }
    return crc;
}

std::uint32_t crcOf(const void* data, std::size_t bytes, bool mapped = false)
{
    const auto* at = static_cast<const unsigned char*>(data);
    // ISA-L computes the CRC-32 zlib does (the files' checksums are the same)
    // about five times as fast. A large section is checked in parts on every
    // core, which also shares out the page faults of a fresh mapping; the
    // parts' checksums combine into the whole one's.
    constexpr std::size_t kPart = std::size_t{64} << 20;
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    const auto crcPart = [mapped](const unsigned char* from, std::size_t size) {
        return mapped ? mappedCrc(from, size) : isalCrc(0, from, size);
    };
    if (bytes < 2 * kPart || cores == 1) {
        return bytes < kPart ? isalCrc(0, at, bytes) : crcPart(at, bytes);
    }
    const std::size_t share = (bytes + cores - 1) / cores;
    std::vector<std::uint32_t> parts(cores, 0);
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < cores; ++t) {
        threads.emplace_back([&, t] {
            const std::size_t begin = std::min(bytes, t * share);
            parts[t] = crcPart(at + begin, std::min(bytes, begin + share) - begin);
        });
    }
    parts[0] = crcPart(at, std::min(bytes, share));
    for (std::thread& thread : threads) {
        thread.join();
    }
    uLong crc = parts[0];
    for (unsigned t = 1; t < cores; ++t) {
        const std::size_t begin = std::min(bytes, t * share);
        crc = crc32_combine64(crc, parts[t], static_cast<z_off64_t>(std::min(bytes, begin + share) - begin));
    }
    return static_cast<std::uint32_t>(crc);
}

std::uint64_t aligned(std::uint64_t offset)
{
    return (offset + kAlignment - 1) / kAlignment * kAlignment;
}

bool writeAll(int fd, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, std::min<std::size_t>(size, 1u << 30));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

std::int64_t nanoseconds(const struct timespec& t)
{
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

std::atomic<std::uint64_t> smallestRememberedBytes{std::uint64_t{64} << 20};

constexpr const char* kRecordHeading = "tarnwickley check record 1";

// Where the record of the file with this identity ("device inode ...") lies.
std::filesystem::path recordPath(const std::string& identity)
{
    std::istringstream fields(identity);
    std::string device;
    std::string inode;
    fields >> device >> inode;
    return userCacheFolder() / "checked" / (device + "-" + inode);
}

std::string recordText(const std::string& kind, const std::string& identity)
{
    return std::string(kRecordHeading) + "\n" + kind + "\n" + identity + "\n";
}

// Only a record this user wrote counts, and only one nobody else can write:
// without a home the folder lies in the shared temporary folder.
bool recordSays(const std::string& kind, const std::string& identity)
{
    const int fd = ::open(recordPath(identity).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    const std::string expected = recordText(kind, identity);
    std::string text(expected.size() + 1, '\0');
    struct stat info {};
    const bool own = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid()
                     && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    const ssize_t got = own ? ::read(fd, text.data(), text.size()) : -1;
    ::close(fd);
    return got == static_cast<ssize_t>(expected.size()) && text.compare(0, expected.size(), expected) == 0;
}

} // namespace

MappedFile::~MappedFile()
{
    if (m_base != nullptr) {
        ::munmap(const_cast<std::byte*>(m_base), m_size);
    }
}

std::shared_ptr<const MappedFile> MappedFile::open(const std::string& path, std::uint32_t contentVersion,
                                                   std::string_view checkKind)
{
    auto fail = [&path](const std::string& why) { return MapError("The prepared map " + path + " " + why); };
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw fail(std::string("cannot be opened: ") + std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw fail("is not a regular file");
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size < sizeof(Header)) {
        ::close(fd);
        throw fail("is truncated");
    }
    void* base = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (base == MAP_FAILED) {
        throw fail(std::string("cannot be mapped: ") + std::strerror(errno));
    }
#if defined(MADV_HUGEPAGE)
    // Queries read the file at random: in 2 MB pages the address translation
    // stays cached. Where the kernel reads the file in for this mapping, it
    // then reads whole 2 MB pages.
    ::madvise(base, size, MADV_HUGEPAGE);
#endif
    std::shared_ptr<MappedFile> file(new MappedFile());
    file->m_base = static_cast<const std::byte*>(base);
    file->m_size = size;
    file->m_path = path;
    // The identity is taken from the descriptor that was mapped, so it
    // describes the very file the mapping shows.
    file->m_identity = std::to_string(info.st_dev) + " " + std::to_string(info.st_ino) + " "
                       + std::to_string(info.st_size) + " " + std::to_string(nanoseconds(info.st_mtim)) + " "
                       + std::to_string(nanoseconds(info.st_ctim));
    file->m_checkKind = checkKind;
    file->m_changedNs = std::max(nanoseconds(info.st_mtim), nanoseconds(info.st_ctim));
    file->m_openedNs = nanoseconds(now);
    file->m_knownSound = !checkKind.empty() && size >= smallestRemembered()
                         && recordSays(file->m_checkKind, file->m_identity);

    Header header{};
    std::memcpy(&header, base, sizeof header);
    if (header.magic != kMagic) {
        throw fail("is not a prepared map file");
    }
    if (header.layoutVersion != kLayoutVersion || header.contentVersion != contentVersion) {
        throw MappedFileVersionError("The prepared map " + path + " was made by another version of this program");
    }
    if (header.fileSize != size) {
        throw fail("is truncated or has trailing bytes");
    }
    const std::uint64_t tableEnd = sizeof(Header) + static_cast<std::uint64_t>(header.sectionCount) * sizeof(Section);
    if (header.sectionCount > kMaxSections || tableEnd > size) {
        throw fail("has a damaged section table");
    }
    const std::byte* table = file->m_base + sizeof(Header);
    if (crcOf(table, tableEnd - sizeof(Header)) != header.tableCrc) {
        throw fail("has a damaged section table (checksum)");
    }
    file->m_sections.resize(header.sectionCount);
    std::memcpy(file->m_sections.data(), table, tableEnd - sizeof(Header));

    std::vector<Section> byOffset = file->m_sections;
    // An empty section lies where the next one starts: it sorts first.
    std::sort(byOffset.begin(), byOffset.end(), [](const Section& a, const Section& b) {
        return a.offset != b.offset ? a.offset < b.offset : a.bytes < b.bytes;
    });
    std::uint64_t end = tableEnd;
    for (const Section& s : byOffset) {
        if (s.itemSize == 0 || s.itemSize > kAlignment || s.offset % kAlignment != 0 || s.bytes % s.itemSize != 0
            || s.offset < end || s.offset > size || s.bytes > size - s.offset) {
            throw fail("has a section outside the file or overlapping another");
        }
        end = s.offset + s.bytes;
    }
    for (std::size_t i = 0; i < file->m_sections.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (file->m_sections[i].tag == file->m_sections[j].tag) {
                throw fail("has a section twice");
            }
        }
    }
    if (!file->m_knownSound) {
        for (const Section& s : file->m_sections) {
            if (crcOf(file->m_base + s.offset, s.bytes, true) != s.crc) {
                throw fail("is damaged (checksum)");
            }
        }
    }
    return file;
}

void MappedFile::rememberSound() const
{
    constexpr std::int64_t kSettled = std::int64_t{kSettledSeconds} * 1'000'000'000;
    if (m_knownSound || m_checkKind.empty() || m_size < smallestRemembered() || m_changedNs > m_openedNs - kSettled) {
        return;
    }
    // Written beside and renamed over, so a reader never sees half a record.
    const std::filesystem::path record = recordPath(m_identity);
    std::error_code error;
    std::filesystem::create_directories(record.parent_path(), error);
    const std::filesystem::path temporary = record.string() + ".new" + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return;
    }
    const std::string text = recordText(m_checkKind, m_identity);
    // Readable by its owner alone whatever the umask: a record others could
    // write would not count.
    const bool written = ::fchmod(fd, 0600) == 0 && writeAll(fd, text.data(), text.size());
    ::close(fd);
    if (written) {
        std::filesystem::rename(temporary, record, error);
    }
    if (!written || error) {
        std::filesystem::remove(temporary, error);
    }
}

std::uint64_t MappedFile::smallestRemembered()
{
    return smallestRememberedBytes.load(std::memory_order_relaxed);
}

void MappedFile::setSmallestRemembered(std::uint64_t bytes)
{
    smallestRememberedBytes.store(bytes, std::memory_order_relaxed);
}

void MappedFile::dropResidentPages() const
{
    ::madvise(const_cast<std::byte*>(m_base), m_size, MADV_DONTNEED);
}

namespace {

// MemAvailable of /proc/meminfo in bytes: free memory and the page cache
// that can be given back; 0 when unknown.
std::uint64_t memoryAvailable()
{
    std::FILE* meminfo = std::fopen("/proc/meminfo", "r");
    if (meminfo == nullptr) {
        return 0;
    }
    char line[256];
    unsigned long long kilobytes = 0;
    while (std::fgets(line, sizeof line, meminfo) != nullptr) {
        if (std::sscanf(line, "MemAvailable: %llu kB", &kilobytes) == 1) {
            break;
        }
    }
    std::fclose(meminfo);
    return static_cast<std::uint64_t>(kilobytes) * 1024;
}

} // namespace

void mapPagesNow(const void* data, std::size_t bytes, const std::atomic<bool>& stop)
{
#ifdef MADV_POPULATE_READ
    if (bytes == 0 || bytes > memoryAvailable()) {
        return;
    }
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(data) & ~(page - 1);
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(data) + bytes;
    // In pieces, so that a stop is seen soon even while the file is read
    // from disk.
    constexpr std::uintptr_t kPiece = std::uintptr_t{64} << 20;
    for (std::uintptr_t at = begin; at < end && !stop.load(std::memory_order_relaxed); at += kPiece) {
        const std::uintptr_t length = std::min(kPiece, end - at);
        if (::madvise(reinterpret_cast<void*>(at), (length + page - 1) & ~(page - 1), MADV_POPULATE_READ) != 0) {
            return;
        }
    }
#else
    (void)data;
    (void)bytes;
    (void)stop;
#endif
}

std::vector<MappedFile::Raw> MappedFile::sections() const
{
    std::vector<Raw> raw;
    for (const Section& s : m_sections) {
        raw.push_back(Raw{s.tag, s.itemSize, {m_base + s.offset, static_cast<std::size_t>(s.bytes)}});
    }
    return raw;
}

bool MappedFile::has(std::uint32_t tag) const
{
    return std::any_of(m_sections.begin(), m_sections.end(), [tag](const Section& s) { return s.tag == tag; });
}

const MappedFile::Section& MappedFile::find(std::uint32_t tag, std::size_t itemSize) const
{
    for (const Section& s : m_sections) {
        if (s.tag == tag) {
            if (s.itemSize != itemSize) {
                throw MapError("The prepared map " + m_path + " has a section of the wrong kind");
            }
            return s;
        }
    }
    throw MapError("The prepared map " + m_path + " lacks a section it needs");
}

std::uint32_t sectionCrc(std::uint32_t crc, const void* data, std::size_t bytes)
{
    return bytes == 0 ? crc : isalCrc(crc, static_cast<const unsigned char*>(data), bytes);
}

bool MappedFileWriter::writeSections(int fd, bool dropCached) const
{
    std::vector<MappedFile::Section> table;
    const std::uint64_t tableEnd = sizeof(Header) + m_parts.size() * sizeof(MappedFile::Section);
    // Placed sections lie where their maker put them, past the table and
    // apart from each other; the others follow them.
    std::uint64_t offset = tableEnd;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> placed;
    for (const Part& part : m_parts) {
        if (part.placedAt != kNotPlaced) {
            if (part.placedAt % kAlignment != 0 || part.placedAt < tableEnd
                || part.bytes > std::numeric_limits<std::uint64_t>::max() - part.placedAt) {
                return false;
            }
            placed.emplace_back(part.placedAt, part.placedAt + part.bytes);
            offset = std::max(offset, part.placedAt + part.bytes);
        }
    }
    std::sort(placed.begin(), placed.end());
    for (std::size_t i = 1; i < placed.size(); ++i) {
        if (placed[i].first < placed[i - 1].second) {
            return false;
        }
    }
    for (const Part& part : m_parts) {
        if (part.placedAt != kNotPlaced) {
            table.push_back(MappedFile::Section{part.tag, part.itemSize, part.placedAt, part.bytes, part.placedCrc, 0});
        } else {
            offset = aligned(offset);
            table.push_back(MappedFile::Section{part.tag, part.itemSize, offset, part.bytes, 0, 0});
            offset += part.bytes;
        }
    }
    const std::uint64_t fileSize = offset;

    // Sections first, each checksummed as it is written; then the table and
    // the header in front of them. Gaps between sections are holes, which
    // read as zeros.
    bool ok = ::fchmod(fd, 0644) == 0;
    for (std::size_t i = 0; ok && i < m_parts.size(); ++i) {
        const Part& part = m_parts[i];
        if (part.placedAt != kNotPlaced) {
            continue;
        }
        ok = ::lseek(fd, static_cast<off_t>(table[i].offset), SEEK_SET) >= 0;
        uLong crc = crc32_z(0L, Z_NULL, 0);
        std::size_t put = 0;
        const Put sink = [&](const std::byte* data, std::size_t bytes) {
            if (bytes > part.bytes - put || !writeAll(fd, data, bytes)) {
                return false;
            }
            crc = crc32_combine64(crc, crcOf(data, bytes), static_cast<z_off64_t>(bytes));
            put += bytes;
            return true;
        };
        if (ok && part.make) {
            ok = part.make(sink) && put == part.bytes;
        } else if (ok) {
            ok = sink(part.data, part.bytes);
        }
        table[i].crc = static_cast<std::uint32_t>(crc);
    }
    const Header header{kMagic, kLayoutVersion, m_contentVersion, static_cast<std::uint32_t>(m_parts.size()),
                        fileSize, crcOf(table.data(), table.size() * sizeof(MappedFile::Section)), 0};
    ok = ok && ::ftruncate(fd, static_cast<off_t>(fileSize)) == 0 && ::lseek(fd, 0, SEEK_SET) == 0
         && writeAll(fd, &header, sizeof header)
         && writeAll(fd, table.data(), table.size() * sizeof(MappedFile::Section));
    ok = ok && ::fsync(fd) == 0;
    // The pages just written leave the cache: read back through a mapping
    // marked for huge pages, the file comes in 2 MB pages throughout, while
    // the ones the writes left behind are often smaller. On a country-size
    // map that took the slowest routes from 6-8 ms to 4 ms.
    if (ok && dropCached) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    }
    return ok;
}

bool MappedFileWriter::write(const std::string& path) const
{
    if (std::any_of(m_parts.begin(), m_parts.end(), [](const Part& part) { return part.placedAt != kNotPlaced; })) {
        return false;
    }
    std::error_code error;
    const std::filesystem::path target(path);
    if (target.has_parent_path()) {
        std::filesystem::create_directories(target.parent_path(), error);
    }
    std::string temp = path + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return false;
    }
    bool ok = writeSections(fd, true);
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
    }
    return ok;
}

bool MappedFileWriter::writeInto(int fd, const std::string& path) const
{
    struct stat info {};
    // Only a file without a name yet: one with a name would be left with two.
    // The placed sections were written in large pieces, which the page
    // cache keeps in large pages where the file system can; dropping them
    // would only make the
    // check that follows a preparation read gigabytes back from the disk.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 0 || !writeSections(fd, false)) {
        return false;
    }
    // A file made with O_TMPFILE gets a name by a link to its descriptor.
    // The link goes to a temporary name first, renamed over the old file, so
    // a reader sees the old file or the new one whole.
    const std::string descriptor = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string temp = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        if (::linkat(AT_FDCWD, descriptor.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        if (std::rename(temp.c_str(), path.c_str()) != 0) {
            ::unlink(temp.c_str());
            return false;
        }
        return true;
    }
    return false;
}

} // namespace tw::service
