#pragma once
// The two profile-string operations beneath cInifile: read and write one entry
// of an INI file, with the results Windows' GetPrivateProfileStringA and
// WritePrivateProfileStringA give for the calls the settings class makes.
//
// Arguments are 8-bit text (Windows-1252) as NUL-terminated strings; a null
// pointer means "none". A caller's section and key names lose surrounding spaces
// and match the file's names without regard to letter case. The file's format is
// described in profile_line_reader.h and profile_document.h.
//
// On top of Windows: a write replaces the file atomically (a temporary file in the
// same folder, flushed, renamed over the old one), so an interrupted or failed
// write leaves the old file exactly as it was; each write holds the settings
// file's lock (profile_lock.h) from reading the file to replacing it, so writes of
// several processes never undo each other; a read-only file is never replaced;
// and text that could not be read back as written (a line break in a name or
// value, '=' in a key name, ']' in a section name, a key name starting with ';' or
// '[', a tab or VT at either end of a name) is refused rather than written.
//
// A path that is a folder, a special file, unreadable, or larger than
// kMaxFileSize reads as a missing file and cannot be written.

#include <QString>

#include <cstdint>

namespace tw::profile {

// Files above this size are not read (a settings file is a few hundred bytes).
inline constexpr qsizetype kMaxFileSize = 64 * 1024 * 1024;

// Reads into `buffer` (of `size` chars) and returns the number of chars placed,
// not counting the NUL that ends them:
//  - `section` and `key`: the key's value, one pair of matching quotes (" or ')
//    around it removed; `defaultText` (less trailing spaces; "" when null) when
//    the file, section or key does not exist. Text that does not fit is cut to
//    size - 1 chars.
//  - `section`, no `key`: the section's key names, each followed by a NUL, with
//    one more NUL after the last (not counted); `defaultText` as above when the
//    section does not exist or has no keys.
//  - no `section`: the file's section names in the same form (never the default).
//  A list fits when its length is at most size - 2; otherwise its last name is cut,
//  followed by two NULs, and the result is size - 2. Size 0 returns 0 and leaves the
//  buffer untouched; size 1 gives an empty text.
qsizetype readProfileString(const char* section, const char* key, const char* defaultText, char* buffer,
    qsizetype size, const QString& path);

// Writes and returns nonzero on success, 0 on failure:
//  - `key` and `value`: sets the key's value (written verbatim), creating the file,
//    section and key as needed.
//  - `key`, no `value`: removes the key.
//  - no `key`: removes the section with all its keys (`value` is ignored).
// A null `section` fails. Removing what does not exist succeeds and changes nothing.
int32_t writeProfileString(const char* section, const char* key, const char* value, const QString& path);

} // namespace tw::profile
