#include "service/geocoder/address_text.h"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <utility>

namespace tw::service {
namespace {

using WordMap = std::unordered_map<std::string_view, std::string_view>;

const WordMap& suffixes()
{
    static const WordMap map{
        {"street", "st"}, {"st", "st"}, {"str", "st"}, {"avenue", "ave"}, {"ave", "ave"},
        {"av", "ave"}, {"road", "rd"}, {"rd", "rd"}, {"boulevard", "blvd"}, {"blvd", "blvd"},
        {"drive", "dr"}, {"dr", "dr"}, {"lane", "ln"}, {"ln", "ln"}, {"court", "ct"}, {"ct", "ct"},
        {"place", "pl"}, {"pl", "pl"}, {"terrace", "ter"}, {"ter", "ter"}, {"parkway", "pkwy"},
        {"pkwy", "pkwy"}, {"highway", "hwy"}, {"hwy", "hwy"}, {"circle", "cir"}, {"cir", "cir"},
        {"trail", "trl"}, {"trl", "trl"}, {"square", "sq"}, {"sq", "sq"}, {"expressway", "expy"},
        {"expy", "expy"}, {"freeway", "fwy"}, {"fwy", "fwy"}, {"alley", "aly"}, {"aly", "aly"},
        {"crescent", "cres"}, {"cres", "cres"}, {"way", "way"}, {"wy", "way"}, {"loop", "loop"},
        {"plaza", "plz"}, {"plz", "plz"}, {"point", "pt"}, {"pt", "pt"}, {"crossing", "xing"},
        {"xing", "xing"}, {"heights", "hts"}, {"hts", "hts"}, {"ridge", "rdg"}, {"rdg", "rdg"},
        {"center", "ctr"}, {"ctr", "ctr"}, {"grove", "grv"}, {"grv", "grv"}, {"bend", "bnd"},
        {"bnd", "bnd"}, {"cove", "cv"}, {"cv", "cv"}, {"glen", "gln"}, {"gln", "gln"},
        {"landing", "lndg"}, {"lndg", "lndg"}, {"turnpike", "tpke"}, {"tpke", "tpke"},
        {"row", "row"}, {"walk", "walk"}, {"pike", "pike"}, {"path", "path"}, {"run", "run"},
        {"causeway", "cswy"}, {"cswy", "cswy"}, {"mall", "mall"}, {"close", "close"},
    };
    return map;
}

const WordMap& directions()
{
    static const WordMap map{
        {"north", "n"}, {"n", "n"}, {"south", "s"}, {"s", "s"}, {"east", "e"}, {"e", "e"},
        {"west", "w"}, {"w", "w"}, {"northeast", "ne"}, {"ne", "ne"}, {"northwest", "nw"},
        {"nw", "nw"}, {"southeast", "se"}, {"se", "se"}, {"southwest", "sw"}, {"sw", "sw"},
    };
    return map;
}

const WordMap& ordinals()
{
    static const WordMap map{
        {"first", "1st"}, {"second", "2nd"}, {"third", "3rd"}, {"fourth", "4th"},
        {"fifth", "5th"}, {"sixth", "6th"}, {"seventh", "7th"}, {"eighth", "8th"},
        {"ninth", "9th"}, {"tenth", "10th"}, {"eleventh", "11th"}, {"twelfth", "12th"},
        {"thirteenth", "13th"}, {"fourteenth", "14th"}, {"fifteenth", "15th"},
        {"sixteenth", "16th"}, {"seventeenth", "17th"}, {"eighteenth", "18th"},
        {"nineteenth", "19th"}, {"twentieth", "20th"},
    };
    return map;
}

const std::array<std::string_view, 12> kUnitWords{"apt", "apartment", "unit", "suite", "ste",
                                                  "room", "rm", "floor", "fl", "bldg",
                                                  "building", "#"};

bool isSeparator(char c)
{
    return c == ' ' || c == '\t' || c == ',' || c == '.';
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::vector<std::string> words(std::string_view text)
{
    std::vector<std::string> out;
    std::string current;
    for (char c : text) {
        if (isSeparator(c)) {
            if (!current.empty())
                out.push_back(std::move(current));
            current.clear();
        } else {
            current += lowerAscii(c);
        }
    }
    if (!current.empty())
        out.push_back(std::move(current));
    return out;
}

std::string_view lookup(const WordMap& map, std::string_view word)
{
    const auto it = map.find(word);
    return it == map.end() ? std::string_view{} : it->second;
}

std::string joinWords(const std::vector<std::string>& list, size_t first, size_t last)
{
    std::string out;
    for (size_t i = first; i < last; ++i) {
        if (!out.empty())
            out += ' ';
        out += list[i];
    }
    return out;
}

// "120", "12b", "1400-1402", "7a": digits first, then at most one letter or a
// hyphenated second number. Ordinals such as "9th" or "1st" are street words.
bool looksLikeHouseNumber(const std::string& word)
{
    if (word.empty() || !isDigit(word[0]))
        return false;
    size_t i = 0;
    while (i < word.size() && isDigit(word[i]))
        ++i;
    const std::string_view rest(word.data() + i, word.size() - i);
    if (rest.empty())
        return true;
    if (rest.size() == 1 && rest[0] >= 'a' && rest[0] <= 'z')
        return true;
    if (rest[0] == '-' || rest[0] == '/') {
        return rest.size() > 1
            && std::all_of(rest.begin() + 1, rest.end(), [](char c) { return isDigit(c) || (c >= 'a' && c <= 'z'); });
    }
    return false;
}

std::int32_t leadingNumber(std::string_view text)
{
    std::int64_t value = 0;
    size_t i = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 99'999'999)
            return -1;
    }
    return i == 0 ? -1 : static_cast<std::int32_t>(value);
}

} // namespace

std::string StreetKey::full() const
{
    std::string out;
    for (const std::string* part : {&leadingDirection, &core, &suffix, &trailingDirection}) {
        if (part->empty())
            continue;
        if (!out.empty())
            out += ' ';
        out += *part;
    }
    return out;
}

bool StreetKey::loosely(const StreetKey& typed) const
{
    if (core != typed.core)
        return false;
    const auto partFits = [](const std::string& mine, const std::string& theirs) {
        return theirs.empty() || theirs == mine;
    };
    return partFits(leadingDirection, typed.leadingDirection) && partFits(suffix, typed.suffix)
        && partFits(trailingDirection, typed.trailingDirection);
}

StreetKey streetKey(std::string_view name)
{
    std::vector<std::string> list = words(name);
    for (std::string& w : list) {
        if (auto o = lookup(ordinals(), w); !o.empty())
            w = std::string(o);
    }
    StreetKey key;
    size_t first = 0;
    size_t last = list.size();
    // Peel parts off the ends only while a core word remains: "North St" keeps
    // "north" as its core, "Avenue Road" keeps "avenue".
    if (last - first > 1) {
        if (auto d = lookup(directions(), list[last - 1]); !d.empty()) {
            key.trailingDirection = std::string(d);
            --last;
        }
    }
    if (last - first > 1) {
        if (auto s = lookup(suffixes(), list[last - 1]); !s.empty()) {
            key.suffix = std::string(s);
            --last;
        }
    }
    if (last - first > 1) {
        if (auto d = lookup(directions(), list[first]); !d.empty()) {
            key.leadingDirection = std::string(d);
            ++first;
        }
    }
    for (size_t i = first; i < last; ++i) {
        // A lone word that is a suffix or direction stays as written in short
        // form so "North" and "N" still meet.
        if (auto d = lookup(directions(), list[i]); !d.empty() && last - first == 1)
            list[i] = std::string(d);
        else if (auto s = lookup(suffixes(), list[i]); !s.empty() && last - first == 1)
            list[i] = std::string(s);
    }
    key.core = joinWords(list, first, last);
    return key;
}

AddressLine parseAddressLine(std::string_view line)
{
    // Keep '#' apart from what follows so "#12" and "# 12" read alike.
    std::string spaced;
    for (char c : line) {
        if (c == '#') {
            spaced += " # ";
        } else {
            spaced += c;
        }
    }
    std::vector<std::string> list = words(spaced);
    AddressLine result;
    size_t first = 0;
    if (list.size() > 1 && looksLikeHouseNumber(list[0])) {
        result.houseNumber = list[0];
        result.number = leadingNumber(list[0]);
        first = 1;
    }
    size_t last = list.size();
    for (size_t i = first + 1; i < list.size(); ++i) {
        const bool unitWord = std::find(kUnitWords.begin(), kUnitWords.end(), list[i]) != kUnitWords.end();
        if (unitWord && (i + 1 < list.size() || list[i] == "#")) {
            last = i;
            break;
        }
    }
    result.street = joinWords(list, first, last);
    result.unit = joinWords(list, last, list.size());
    return result;
}

CityLine parseCityLine(std::string_view line)
{
    std::vector<std::string> list = words(line);
    CityLine result;
    if (!list.empty()) {
        const std::string& w = list.back();
        const bool zip5 = w.size() >= 5 && std::all_of(w.begin(), w.begin() + 5, isDigit);
        const bool plus4 = w.size() == 5
            || (w.size() == 10 && w[5] == '-' && std::all_of(w.begin() + 6, w.end(), isDigit));
        if (zip5 && plus4) {
            result.zip = w.substr(0, 5);
            list.pop_back();
        }
    }
    if (!list.empty()) {
        const std::string& w = list.back();
        if (w.size() == 2 && w[0] >= 'a' && w[0] <= 'z' && w[1] >= 'a' && w[1] <= 'z') {
            result.state = w;
            list.pop_back();
        }
    }
    result.city = joinWords(list, 0, list.size());
    return result;
}

std::string simplifyText(std::string_view text)
{
    const std::vector<std::string> list = words(text);
    return joinWords(list, 0, list.size());
}

std::size_t editDistance(std::string_view a, std::string_view b, std::size_t limit)
{
    if (a.size() > b.size())
        std::swap(a, b);
    if (b.size() - a.size() > limit)
        return limit + 1;
    std::vector<std::size_t> row(a.size() + 1);
    for (size_t i = 0; i <= a.size(); ++i)
        row[i] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
        size_t diagonal = row[0];
        row[0] = j;
        size_t best = row[0];
        for (size_t i = 1; i <= a.size(); ++i) {
            const size_t above = row[i];
            row[i] = std::min({row[i] + 1, row[i - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0u : 1u)});
            diagonal = above;
            best = std::min(best, row[i]);
        }
        if (best > limit)
            return limit + 1;
    }
    return std::min(row[a.size()], limit + 1);
}

} // namespace tw::service

namespace tw::service {

std::string shortStreetName(std::string_view name)
{
    // Split on blanks only, keeping each word's own spelling.
    std::vector<std::string> list;
    std::string current;
    for (char c : name) {
        if (c == ' ' || c == '\t') {
            if (!current.empty())
                list.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        list.push_back(std::move(current));
    if (list.size() < 2)
        return std::string(name);

    const auto lowered = [](const std::string& w) {
        std::string out;
        for (char c : w)
            out += lowerAscii(c);
        return out;
    };
    const auto titled = [](std::string_view shortForm, bool allUpper) {
        std::string out(shortForm);
        for (size_t i = 0; i < out.size(); ++i) {
            if ((i == 0 || allUpper) && out[i] >= 'a' && out[i] <= 'z')
                out[i] = static_cast<char>(out[i] - 'a' + 'A');
        }
        return out;
    };
    size_t first = 0;
    size_t last = list.size();
    if (auto d = lookup(directions(), lowered(list[last - 1])); !d.empty() && last - first > 1) {
        list[last - 1] = titled(d, true);
        --last;
    }
    if (auto s = lookup(suffixes(), lowered(list[last - 1])); !s.empty() && last - first > 1) {
        list[last - 1] = titled(s, false);
        --last;
    }
    if (auto d = lookup(directions(), lowered(list[first])); !d.empty() && last - first > 1)
        list[first] = titled(d, true);
    return joinWords(list, 0, list.size());
}

} // namespace tw::service
