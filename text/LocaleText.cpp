#include "text/LocaleText.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

// No codeset a locale can have has characters longer than this.
constexpr std::size_t kLongestCharacter = 4;

class Converter
{
public:
    Converter(const char* to, const char* from)
        : cd_(iconv_open(to, from))
    { }
    ~Converter()
    {
        if (valid())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

struct Descriptors
{
    explicit Descriptors(const char* name)
        : codeset(name)
        , toUtf8("UTF-8", name)
        , fromUtf8(name, "UTF-8")
    { }

    std::string codeset;
    Converter toUtf8;
    Converter fromUtf8;
};

// An iconv descriptor carries state and must not be used by two threads at
// once; the tests switch locales, so each thread keeps one pair per codeset.
// A codeset iconv does not know is read as UTF-8.
Descriptors& DescriptorsFor(const char* codeset)
{
    thread_local std::vector<std::unique_ptr<Descriptors>> cache;
    for (const auto& d : cache) {
        if (d->codeset == codeset)
            return *d;
    }
    auto made = std::make_unique<Descriptors>(codeset);
    if (!made->toUtf8.valid() || !made->fromUtf8.valid()) {
        made = std::make_unique<Descriptors>("UTF-8");
        made->codeset = codeset;
    }
    cache.push_back(std::move(made));
    return *cache.back();
}

enum class Stop { End, Invalid, CutOff };

// Converts `in` onto the end of `out` up to the first sequence iconv refuses,
// and leaves `in` starting there.
Stop Convert(iconv_t cd, std::string_view& in, std::string& out)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    for (;;) {
        const std::size_t had = out.size();
        const std::size_t room = left * 3 + 16;
        out.resize(had + room);
        char* dst = out.data() + had;
        std::size_t free = room;
        const std::size_t done = iconv(cd, &src, &left, &dst, &free);
        const int error = errno;
        out.resize(had + room - free);
        if (done != static_cast<std::size_t>(-1)) {
            in = {};
            return Stop::End;
        }
        if (error == E2BIG)
            continue;
        in = std::string_view(src, left);
        return error == EINVAL ? Stop::CutOff : Stop::Invalid;
    }
}

bool IsCutOff(iconv_t cd, std::string_view prefix)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(prefix.data());
    std::size_t left = prefix.size();
    char buffer[8 * kLongestCharacter];
    char* dst = buffer;
    std::size_t free = sizeof buffer;
    return iconv(cd, &src, &left, &dst, &free) == static_cast<std::size_t>(-1) && errno == EINVAL;
}

// The refused sequence is its longest start that could still have become a
// character, and at least one byte: a lead byte followed by a byte that cannot
// follow it is replaced alone, and that byte is read afresh, so an ASCII
// neighbour is never swallowed.
std::size_t InvalidLength(iconv_t cd, std::string_view bytes)
{
    std::size_t length = 1;
    for (std::size_t n = 1; n < bytes.size() && n < kLongestCharacter; ++n) {
        if (!IsCutOff(cd, bytes.substr(0, n)))
            break;
        length = n;
    }
    return length;
}

// What UTF-8 iconv refused: one whole character, or a stray byte.
std::size_t Utf8SequenceLength(std::string_view utf8)
{
    const auto lead = static_cast<unsigned char>(utf8[0]);
    const std::size_t expected = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::size_t n = 1;
    while (n < expected && n < utf8.size() && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80)
        ++n;
    return n;
}

} // namespace

const char* LocaleCodeset()
{
    const char* codeset = nl_langinfo(CODESET);
    // The C locale's ASCII counts as UTF-8, a superset: UTF-8 files read right with no locale set.
    if (std::strcmp(codeset, "ANSI_X3.4-1968") == 0)
        return "UTF-8";
    return codeset;
}

bool IsAscii(std::string_view bytes)
{
    // Without an early way out the loop is vectorised; the list's texts are
    // short, and nearly all of them are ASCII.
    unsigned char any = 0;
    for (const char c : bytes)
        any |= static_cast<unsigned char>(c);
    return any < 0x80;
}

std::string LocaleToUtf8(std::string_view bytes)
{
    if (IsAscii(bytes))
        return std::string(bytes);
    const iconv_t cd = DescriptorsFor(LocaleCodeset()).toUtf8.get();
    std::string out;
    out.reserve(bytes.size() * 3 / 2 + 8);
    while (!bytes.empty()) {
        const Stop stop = Convert(cd, bytes, out);
        if (stop == Stop::End)
            break;
        out += kReplacement;
        bytes.remove_prefix(stop == Stop::CutOff ? bytes.size() : InvalidLength(cd, bytes));
    }
    return out;
}

std::string Utf8ToLocale(std::string_view utf8)
{
    if (IsAscii(utf8))
        return std::string(utf8);
    const iconv_t cd = DescriptorsFor(LocaleCodeset()).fromUtf8.get();
    std::string out;
    out.reserve(utf8.size() + 8);
    while (!utf8.empty()) {
        const Stop stop = Convert(cd, utf8, out);
        if (stop == Stop::End)
            break;
        out += '?';
        utf8.remove_prefix(stop == Stop::CutOff ? utf8.size() : Utf8SequenceLength(utf8));
    }
    return out;
}
