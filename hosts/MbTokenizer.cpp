#include "hosts/MbTokenizer.h"

#include <cstdlib>
#include <cwchar>

MbTokenizer::MbTokenizer(std::string_view text)
    : text_(text.substr(0, text.find('\0')))
    , singleByte_(MB_CUR_MAX == 1)
{ }

std::size_t MbTokenizer::CharLength(std::size_t at) const
{
    if (singleByte_)
        return 1;
    std::mbstate_t state {};
    const std::size_t n = std::mbrlen(text_.data() + at, text_.size() - at, &state);
    // An invalid or cut-off sequence counts as one byte, as the run-time does.
    if (n == 0 || n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2))
        return 1;
    return n;
}

std::optional<std::string_view> MbTokenizer::Next(std::string_view delimiters)
{
    auto isDelimiter = [&](std::size_t at, std::size_t len) {
        return len == 1 && delimiters.find(text_[at]) != std::string_view::npos;
    };

    std::size_t p = pos_;
    while (p < text_.size()) {
        const std::size_t len = CharLength(p);
        if (!isDelimiter(p, len))
            break;
        p += len;
    }
    if (p >= text_.size()) {
        pos_ = text_.size();
        return std::nullopt;
    }

    const std::size_t start = p;
    while (p < text_.size()) {
        const std::size_t len = CharLength(p);
        if (isDelimiter(p, len)) {
            pos_ = p + 1;
            return text_.substr(start, p - start);
        }
        p += len;
    }
    pos_ = text_.size();
    return text_.substr(start);
}

std::string_view TrimBlanks(std::string_view text)
{
    constexpr std::string_view blanks = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}
