#pragma once
// Test helpers: OsmXml writes small hand-made OpenStreetMap XML files; TempFolder
// is a folder that is removed with everything in it when the test ends;
// CheckRecordsIn keeps the records of checked files in a folder of the test's.

#include "service/map/mapped_file.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace tw::service::test {

using Tags = std::vector<std::pair<std::string, std::string>>;

class OsmXml {
public:
    OsmXml& node(std::int64_t id, double lat, double lon, const Tags& tags = {})
    {
        std::ostringstream out;
        out.precision(10);
        out << "  <node id=\"" << id << "\" version=\"1\" lat=\"" << lat << "\" lon=\"" << lon << "\"";
        closeWithTags(out, "node", tags);
        m_nodes += out.str();
        return *this;
    }

    OsmXml& way(std::int64_t id, const std::vector<std::int64_t>& refs, const Tags& tags)
    {
        std::ostringstream out;
        out << "  <way id=\"" << id << "\" version=\"1\">\n";
        for (std::int64_t ref : refs) {
            out << "    <nd ref=\"" << ref << "\"/>\n";
        }
        for (const auto& [key, value] : tags) {
            out << "    <tag k=\"" << key << "\" v=\"" << value << "\"/>\n";
        }
        out << "  </way>\n";
        m_ways += out.str();
        return *this;
    }

    // A relation; each member is (type "node"/"way", id, role).
    struct Member {
        std::string type;
        std::int64_t ref;
        std::string role;
    };
    OsmXml& relation(std::int64_t id, const std::vector<Member>& members, const Tags& tags)
    {
        std::ostringstream out;
        out << "  <relation id=\"" << id << "\" version=\"1\">\n";
        for (const Member& m : members) {
            out << "    <member type=\"" << m.type << "\" ref=\"" << m.ref << "\" role=\"" << m.role << "\"/>\n";
        }
        for (const auto& [key, value] : tags) {
            out << "    <tag k=\"" << key << "\" v=\"" << value << "\"/>\n";
        }
        out << "  </relation>\n";
        m_relations += out.str();
        return *this;
    }

    std::string text() const
    {
        return "<?xml version='1.0' encoding='UTF-8'?>\n<osm version=\"0.6\" generator=\"test\">\n" + m_nodes +
               m_ways + m_relations + "</osm>\n";
    }

    // Writes the file and returns its path.
    std::string save(const std::filesystem::path& path) const
    {
        std::ofstream(path, std::ios::binary) << text();
        return path.string();
    }

private:
    static void closeWithTags(std::ostringstream& out, const char* element, const Tags& tags)
    {
        if (tags.empty()) {
            out << "/>\n";
            return;
        }
        out << ">\n";
        for (const auto& [key, value] : tags) {
            out << "    <tag k=\"" << key << "\" v=\"" << value << "\"/>\n";
        }
        out << "  </" << element << ">\n";
    }

    std::string m_nodes;
    std::string m_ways;
    std::string m_relations;
};

class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tw-map-test-XXXXXX").string();
        if (char* made = mkdtemp(pattern.data())) {
            m_path = made;
        }
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// While it lives, XDG_CACHE_HOME names `folder` (so the records of checked
// files lie there) and files of any size are remembered; both are put back
// however the test ends.
class CheckRecordsIn {
public:
    explicit CheckRecordsIn(const std::filesystem::path& folder)
        : m_hadXdg(std::getenv("XDG_CACHE_HOME") != nullptr),
          m_xdg(m_hadXdg ? std::getenv("XDG_CACHE_HOME") : ""), m_smallest(MappedFile::smallestRemembered())
    {
        setenv("XDG_CACHE_HOME", folder.c_str(), 1);
        MappedFile::setSmallestRemembered(0);
    }
    ~CheckRecordsIn()
    {
        MappedFile::setSmallestRemembered(m_smallest);
        if (m_hadXdg) {
            setenv("XDG_CACHE_HOME", m_xdg.c_str(), 1);
        } else {
            unsetenv("XDG_CACHE_HOME");
        }
    }
    CheckRecordsIn(const CheckRecordsIn&) = delete;
    CheckRecordsIn& operator=(const CheckRecordsIn&) = delete;

private:
    bool m_hadXdg;
    std::string m_xdg;
    std::uint64_t m_smallest;
};

}  // namespace tw::service::test
