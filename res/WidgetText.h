#pragma once

#include <QString>

#include <string>
#include <string_view>

// The program keeps its texts as bytes in the locale's encoding (see
// res/LocaleText.h); widgets take Unicode. Every text crosses over here.

// Each invalid or cut-off sequence shows as one U+FFFD.
QString FromLocaleBytes(std::string_view bytes);

// Each character the encoding lacks becomes '?'.
std::string ToLocaleBytes(const QString& text);

// A string of the program's own table for a widget: the characters it is in
// every locale, not its bytes in the locale's encoding, which lose what the
// encoding lacks.
QString LoadResText(int id);
