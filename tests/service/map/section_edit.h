#pragma once
// Rewrites a mapped file with one section's bytes replaced and its checksums
// made sound around them: how tests and fuzz targets reach the checks behind
// the checksums. The bytes are cut to whole items of the section.

#include "service/map/mapped_file.h"

#include <cstddef>
#include <functional>
#include <span>
#include <string>

namespace tw::service::test {

// `chosen(index, tag)` picks the section to replace. Returns whether the file
// was written.
inline bool replaceSection(const std::string& path, std::uint32_t version,
                           const std::function<bool(std::size_t, std::uint32_t)>& chosen,
                           std::span<const std::byte> bytes)
{
    const auto sound = MappedFile::open(path, version);
    const auto sections = sound->sections();
    MappedFileWriter writer(version);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const MappedFile::Raw& raw = sections[i];
        const bool replaced = chosen(i, raw.tag);
        const std::byte* from = replaced ? bytes.data() : raw.bytes.data();
        const std::size_t length = replaced ? bytes.size() / raw.itemSize * raw.itemSize : raw.bytes.size();
        writer.addMade(raw.tag, raw.itemSize, length / raw.itemSize,
                       [from, length](const MappedFileWriter::Put& put) { return put(from, length); });
    }
    return writer.write(path);
}

} // namespace tw::service::test
