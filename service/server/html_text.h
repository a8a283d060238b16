#pragma once
// Text helpers for the pages the directions service writes: HTML escaping,
// UTF-8 validation and form (query string) encoding. Pure functions, no state.

#include <string>
#include <string_view>

namespace tw::service {

// Returns `text` with & < > " ' replaced by character references, so that any
// user text placed in an element or a quoted attribute stays text.
std::string htmlEscape(std::string_view text);

// Returns true when `text` is well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool isValidUtf8(std::string_view text);

// Returns `text` encoded for an application/x-www-form-urlencoded query:
// unreserved characters stay, a space becomes '+', everything else %XX.
std::string formEncode(std::string_view text);

} // namespace tw::service
