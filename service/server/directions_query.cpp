#include "service/server/directions_query.h"

#include "service/server/html_text.h"

#include <array>
#include <utility>

namespace tw::service {
namespace {

bool isBlankText(const std::string& text)
{
    return text.find_first_not_of(" \t") == std::string::npos;
}

bool hasControlCharacter(const std::string& text)
{
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && b != '\t') || b == 0x7F)
            return true;
    }
    return false;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Appends the decoded form of `text` ('+' a space, %XX a byte) to `out`;
// returns false on a broken escape.
bool appendDecoded(std::string_view text, std::string& out)
{
    out.reserve(out.size() + text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c != '%') {
            out.push_back(c);
        } else {
            const int high = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
            const int low = high >= 0 ? hexValue(text[i + 2]) : -1;
            if (low < 0)
                return false;
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        }
    }
    return true;
}

} // namespace

std::optional<std::multimap<std::string, std::string>> parseQueryString(std::string_view query)
{
    std::multimap<std::string, std::string> params;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty())
            continue;
        const std::size_t eq = pair.find('=');
        std::string name;
        std::string value;
        if (!appendDecoded(pair.substr(0, eq), name))
            return std::nullopt;
        if (eq != std::string_view::npos && !appendDecoded(pair.substr(eq + 1), value))
            return std::nullopt;
        params.emplace(std::move(name), std::move(value));
    }
    return params;
}

bool DirectionsQuery::isBlank() const
{
    return isBlankText(addr) && isBlankText(csz) && isBlankText(taddr) && isBlankText(tcsz);
}

QueryCheck checkDirectionsQuery(const std::multimap<std::string, std::string>& params)
{
    DirectionsQuery query;
    const std::array<std::pair<const char*, std::string*>, 4> fields{{
        {"addr", &query.addr},
        {"csz", &query.csz},
        {"taddr", &query.taddr},
        {"tcsz", &query.tcsz},
    }};
    for (const auto& [name, target] : fields) {
        const auto [first, last] = params.equal_range(name);
        if (first == last)
            continue;
        for (auto it = std::next(first); it != last; ++it) {
            if (it->second != first->second)
                return {std::nullopt, std::string("The field ") + name + " was sent more than once with different values."};
        }
        const std::string& value = first->second;
        if (value.size() > kMaxFieldBytes)
            return {std::nullopt, std::string("The field ") + name + " is too long (at most "
                                      + std::to_string(kMaxFieldBytes) + " characters)."};
        if (!isValidUtf8(value))
            return {std::nullopt, std::string("The field ") + name + " is not valid UTF-8 text."};
        if (hasControlCharacter(value))
            return {std::nullopt, std::string("The field ") + name + " holds a control character."};
        *target = value;
        for (char& c : *target) {
            if (c == '\t')
                c = ' ';
        }
    }
    return {std::move(query), {}};
}

std::string encodeDirectionsQuery(const DirectionsQuery& query)
{
    return "addr=" + formEncode(query.addr) + "&csz=" + formEncode(query.csz)
        + "&taddr=" + formEncode(query.taddr) + "&tcsz=" + formEncode(query.tcsz)
        + "&getrte=Get+Directions";
}

} // namespace tw::service
