#pragma once

#include <string>
#include <string_view>

// Text in the locale's multibyte encoding (the codeset of the current
// LC_CTYPE), as the group file and the program's own strings are held, and
// its conversion to and from UTF-8.

// The codeset's name as iconv knows it; "UTF-8" for the C locale.
const char* LocaleCodeset();

// True when every byte is below 0x80: such text reads the same in every
// codeset a locale can have.
bool IsAscii(std::string_view bytes);

// Bytes in the locale's encoding as UTF-8. Each invalid or cut-off sequence
// becomes one U+FFFD, and decoding goes on right after it.
std::string LocaleToUtf8(std::string_view bytes);

// UTF-8 as bytes in the locale's encoding; each character the encoding lacks
// (or invalid UTF-8 sequence) becomes '?'.
std::string Utf8ToLocale(std::string_view utf8);
