#pragma once

#include <QString>

#include <string>
#include <string_view>

// The program keeps its texts as bytes in the locale's encoding (see
// text/LocaleText.h); widgets take Unicode. Every text crosses over here.

// Each invalid or cut-off sequence shows as one U+FFFD.
QString FromLocaleBytes(std::string_view bytes);

// Each character the encoding lacks becomes '?'.
std::string ToLocaleBytes(const QString& text);
