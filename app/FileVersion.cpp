#include "app/FileVersion.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string_view>
#include <vector>

namespace {

// The one platform-specific piece: where the running program's file is.
std::string RunningExecutablePath()
{
    return "/proc/self/exe";
}

constexpr std::string_view kSectionName = ".note.kelvoran.version";
constexpr std::string_view kOwner {"kelvoran\0", 9};
constexpr std::uint32_t kNoteType = 1;
constexpr std::uint32_t kSectionTypeNote = 7;
// Far above the size of any real section name table or note section; keeps a
// bogus size from allocating much.
constexpr std::uint64_t kMaxSectionRead = 1 << 20;

using Bytes = std::vector<unsigned char>;

// Reads only what lies inside the file; every offset and size comes from the
// file itself and may be anything.
class FileBytes
{
public:
    explicit FileBytes(const std::string& path)
        : in_(path, std::ios::binary)
    {
        if (in_ && in_.seekg(0, std::ios::end)) {
            const std::streamoff end = in_.tellg();
            size_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
        }
    }

    std::optional<Bytes> Read(std::uint64_t offset, std::uint64_t size)
    {
        if (offset > size_ || size > size_ - offset)
            return std::nullopt;
        Bytes bytes(static_cast<std::size_t>(size));
        in_.clear();
        if (!in_.seekg(static_cast<std::streamoff>(offset))
            || !in_.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)))
            return std::nullopt;
        return bytes;
    }

private:
    std::ifstream in_;
    std::uint64_t size_ = 0;
};

// Integers as the file stores them: 32- or 64-bit layout, either byte order.
struct ElfFormat
{
    bool is64 = false;
    bool bigEndian = false;

    std::uint64_t Get(const Bytes& b, std::size_t at, std::size_t width) const
    {
        if (at > b.size() || width > b.size() - at)
            return 0;
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t byte = bigEndian ? at + i : at + width - 1 - i;
            v = (v << 8) | b[byte];
        }
        return v;
    }
    std::uint32_t U16(const Bytes& b, std::size_t at) const
    {
        return static_cast<std::uint32_t>(Get(b, at, 2));
    }
    std::uint32_t U32(const Bytes& b, std::size_t at) const
    {
        return static_cast<std::uint32_t>(Get(b, at, 4));
    }
    // A field that is 4 bytes wide in 32-bit files and 8 in 64-bit ones.
    std::uint64_t Word(const Bytes& b, std::size_t at) const { return Get(b, at, is64 ? 8 : 4); }
};

struct Section
{
    std::uint32_t name;
    std::uint32_t type;
    std::uint64_t offset;
    std::uint64_t size;
};

std::string VersionFromNotes(const ElfFormat& f, const Bytes& notes)
{
    const auto align4 = [](std::uint64_t n) { return (n + 3) & ~std::uint64_t {3}; };
    std::uint64_t pos = 0;
    while (notes.size() - pos >= 12) {
        const std::uint64_t nameSize = f.U32(notes, pos);
        const std::uint64_t descSize = f.U32(notes, pos + 4);
        const std::uint32_t type = f.U32(notes, pos + 8);
        const std::uint64_t name = pos + 12;
        const std::uint64_t desc = name + align4(nameSize);
        const std::uint64_t next = desc + align4(descSize);
        if (next > notes.size())
            return "";
        const std::string_view owner(
            reinterpret_cast<const char*>(notes.data() + name), static_cast<std::size_t>(nameSize));
        if (owner == kOwner && type == kNoteType && descSize == 8) {
            const std::uint32_t ms = f.U32(notes, desc);
            const std::uint32_t ls = f.U32(notes, desc + 4);
            char text[32];
            std::snprintf(
                text, sizeof text, "%u.%u.%u.%u", ms >> 16, ms & 0xFFFFu, ls >> 16, ls & 0xFFFFu);
            return text;
        }
        pos = next;
    }
    return "";
}

} // namespace

std::string FileVersionStringOf(const std::string& path)
{
    FileBytes file(path);
    const std::optional<Bytes> ident = file.Read(0, 16);
    if (!ident || (*ident)[0] != 0x7F || (*ident)[1] != 'E' || (*ident)[2] != 'L'
        || (*ident)[3] != 'F')
        return "";
    const unsigned char elfClass = (*ident)[4], elfData = (*ident)[5];
    if ((elfClass != 1 && elfClass != 2) || (elfData != 1 && elfData != 2))
        return "";
    const ElfFormat f {elfClass == 2, elfData == 2};

    const std::optional<Bytes> header = file.Read(0, f.is64 ? 64 : 52);
    if (!header)
        return "";
    const std::uint64_t tableOffset = f.Word(*header, f.is64 ? 0x28 : 0x20);
    const std::uint32_t entrySize = f.U16(*header, f.is64 ? 0x3A : 0x2E);
    const std::uint32_t count = f.U16(*header, f.is64 ? 0x3C : 0x30);
    const std::uint32_t namesIndex = f.U16(*header, f.is64 ? 0x3E : 0x32);
    if (entrySize < (f.is64 ? 64u : 40u) || count == 0 || namesIndex >= count)
        return "";
    const std::optional<Bytes> table = file.Read(tableOffset, std::uint64_t {entrySize} * count);
    if (!table)
        return "";

    std::vector<Section> sections;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = std::size_t {i} * entrySize;
        sections.push_back(Section {f.U32(*table, at), f.U32(*table, at + 4),
            f.Word(*table, at + (f.is64 ? 24 : 16)), f.Word(*table, at + (f.is64 ? 32 : 20))});
    }
    const Section& namesSection = sections[namesIndex];
    if (namesSection.size > kMaxSectionRead)
        return "";
    const std::optional<Bytes> names = file.Read(namesSection.offset, namesSection.size);
    if (!names)
        return "";
    const auto nameIs = [&names](std::uint32_t at, std::string_view wanted) {
        return at <= names->size() && names->size() - at > wanted.size()
            && std::string_view(reinterpret_cast<const char*>(names->data() + at), wanted.size())
            == wanted
            && (*names)[at + wanted.size()] == '\0';
    };

    for (const Section& s : sections) {
        if (s.type != kSectionTypeNote || s.size > kMaxSectionRead || !nameIs(s.name, kSectionName))
            continue;
        if (const std::optional<Bytes> notes = file.Read(s.offset, s.size)) {
            std::string version = VersionFromNotes(f, *notes);
            if (!version.empty())
                return version;
        }
    }
    return "";
}

std::string GetFileVersionString()
{
    return FileVersionStringOf(RunningExecutablePath());
}
