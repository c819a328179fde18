#pragma once

#include <optional>
#include <string_view>

// Cuts tokens out of one line of text the way strtok does, but steps over
// whole characters of the locale's multibyte encoding (LC_CTYPE), so that the
// second byte of a double-byte character is never taken for a delimiter.
// Each call may use its own delimiter set and goes on from where the previous
// token ended, one delimiter character past it. Delimiters are single bytes.
class MbTokenizer
{
public:
    // The text ends at its first NUL byte, as a C string would.
    explicit MbTokenizer(std::string_view text);

    std::optional<std::string_view> Next(std::string_view delimiters);

private:
    std::size_t CharLength(std::size_t at) const;

    std::string_view text_;
    std::size_t pos_ = 0;
    bool singleByte_;
};

// Trims space, tab, CR, LF, vertical tab and form feed from both ends.
std::string_view TrimBlanks(std::string_view text);
