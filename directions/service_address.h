#pragma once
// The directions service's base address: scheme and host (and port), lower case,
// no trailing slash. The bundled service listens here by default.

namespace tw::directions {
inline constexpr char kServiceBaseAddress[] = "http://127.0.0.1:47800";
} // namespace tw::directions
