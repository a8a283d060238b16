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

} // namespace

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
