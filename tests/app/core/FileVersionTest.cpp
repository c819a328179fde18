#include "app/FileVersion.h"

#include "tests/support/RowName.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::string;

Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string OutputOf(const std::string& program)
{
    std::FILE* pipe = ::popen(program.c_str(), "r");
    if (pipe == nullptr)
        return "<popen failed>";
    std::string out;
    char buffer[256];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    const int status = ::pclose(pipe);
    return status == 0 ? out : "<exit status " + std::to_string(status) + ">";
}

TEST(FileVersionOfBuiltPrograms, ReadsTheNoteBuiltIn)
{
    EXPECT_EQ(FileVersionStringOf(KELVORAN_PROGRAM), "1.0.0.2");
    EXPECT_EQ(FileVersionStringOf(NOTED_HELPER), "2.10.300.4000");
    EXPECT_EQ(FileVersionStringOf(LARGEST_HELPER), "65535.65535.65535.65535");
    EXPECT_EQ(FileVersionStringOf(PLAIN_HELPER), "");
}

TEST(FileVersionOfBuiltPrograms, ARunningProgramReadsItsOwnFile)
{
    EXPECT_EQ(OutputOf(NOTED_HELPER), "2.10.300.4000");
    EXPECT_EQ(OutputOf(PLAIN_HELPER), "");
    EXPECT_EQ(GetFileVersionString(), ""); // this test program has no note
    EXPECT_EQ(GetFileVersionString(), GetFileVersionString());
}

// A small ELF file built here: header, section name table, note section,
// section header table. Offsets of the fields are kept to spoil them.
struct Elf
{
    bool is64 = true;
    bool bigEndian = false;
    Bytes bytes;
    std::size_t shoffField = 0, shentsizeField = 0, shnumField = 0, shstrndxField = 0;
    std::size_t namesHeader = 0; // section header of the section name table
    std::size_t noteHeader = 0; // section header of the note section
    std::size_t noteData = 0;

    std::size_t WordSize() const { return is64 ? 8 : 4; }
    void Put(std::size_t at, std::size_t width, std::uint64_t v)
    {
        if (bytes.size() < at + width)
            bytes.resize(at + width);
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t shift = bigEndian ? (width - 1 - i) * 8 : i * 8;
            bytes[at + i] = static_cast<char>((v >> shift) & 0xFF);
        }
    }
    void Append(std::size_t width, std::uint64_t v) { Put(bytes.size(), width, v); }
    void AppendText(std::string_view text) { bytes.append(text); }
    void Align4()
    {
        while (bytes.size() % 4 != 0)
            bytes.push_back('\0');
    }
    // Section header fields, by their place in the 32- or 64-bit layout.
    std::size_t SectionOffsetField(std::size_t header) const { return header + (is64 ? 24 : 16); }
    std::size_t SectionSizeField(std::size_t header) const { return header + (is64 ? 32 : 20); }
};

struct Note
{
    std::string owner; // with its terminating NUL counted
    std::uint32_t type;
    std::vector<std::uint32_t> desc;
};

Elf MakeElf(bool is64, bool bigEndian, const std::vector<Note>& notes,
    const std::string& sectionName = ".note.kelvoran.version", std::uint32_t sectionType = 7)
{
    Elf e;
    e.is64 = is64;
    e.bigEndian = bigEndian;
    const std::size_t w = e.WordSize();
    e.AppendText("\x7f"
                 "ELF");
    e.Append(1, is64 ? 2 : 1);
    e.Append(1, bigEndian ? 2 : 1);
    e.Append(1, 1);
    e.bytes.resize(16, '\0');
    e.Append(2, 2); // executable
    e.Append(2, 62);
    e.Append(4, 1);
    e.Append(w, 0); // entry
    e.Append(w, 0); // program headers
    e.shoffField = e.bytes.size();
    e.Append(w, 0);
    e.Append(4, 0);
    e.Append(2, is64 ? 64 : 52);
    e.Append(2, 0);
    e.Append(2, 0);
    e.shentsizeField = e.bytes.size();
    e.Append(2, is64 ? 64 : 40);
    e.shnumField = e.bytes.size();
    e.Append(2, 3);
    e.shstrndxField = e.bytes.size();
    e.Append(2, 1);

    const std::size_t names = e.bytes.size();
    e.AppendText(std::string("\0.shstrtab\0", 11) + sectionName + '\0');
    const std::size_t namesSize = e.bytes.size() - names;
    e.Align4();

    e.noteData = e.bytes.size();
    for (const Note& n : notes) {
        e.Append(4, n.owner.size());
        e.Append(4, n.desc.size() * 4);
        e.Append(4, n.type);
        e.AppendText(n.owner);
        e.Align4();
        for (std::uint32_t d : n.desc)
            e.Append(4, d);
    }
    const std::size_t noteSize = e.bytes.size() - e.noteData;
    e.Align4();

    const std::size_t table = e.bytes.size();
    e.Put(e.shoffField, w, table);
    const std::size_t entry = is64 ? 64 : 40;
    e.bytes.resize(table + 3 * entry, '\0');
    const auto section = [&](std::size_t i, std::uint32_t name, std::uint32_t type,
                             std::size_t offset, std::size_t size) {
        const std::size_t h = table + i * entry;
        e.Put(h, 4, name);
        e.Put(h + 4, 4, type);
        e.Put(e.SectionOffsetField(h), w, offset);
        e.Put(e.SectionSizeField(h), w, size);
    };
    section(1, 1, 3, names, namesSize);
    section(2, 11, sectionType, e.noteData, noteSize);
    e.namesHeader = table + entry;
    e.noteHeader = table + 2 * entry;
    return e;
}

const Note kVersionNote {std::string("kelvoran\0", 9), 1, {(2u << 16) | 10u, (300u << 16) | 4000u}};

std::string VersionOfBytes(const Bytes& bytes)
{
    TempDir dir;
    dir.write("file", bytes);
    return FileVersionStringOf(dir.file("file"));
}

TEST(FileVersionLayouts, BothWordSizesAndByteOrders)
{
    for (bool is64 : {false, true}) {
        for (bool bigEndian : {false, true}) {
            EXPECT_EQ(
                VersionOfBytes(MakeElf(is64, bigEndian, {kVersionNote}).bytes), "2.10.300.4000")
                << (is64 ? "64" : "32") << (bigEndian ? " big" : " little") << "-endian";
        }
    }
}

TEST(FileVersionLayouts, OtherNotesBeforeOursAreSkipped)
{
    const Note gnu {std::string("GNU\0", 4), 3, {1, 2, 3, 4, 5}};
    EXPECT_EQ(VersionOfBytes(MakeElf(true, false, {gnu, kVersionNote}).bytes), "2.10.300.4000");
}

struct NoteRow
{
    const char* name;
    std::vector<Note> notes;
    std::string sectionName;
    std::uint32_t sectionType;
};

void PrintTo(const NoteRow& row, std::ostream* os)
{
    *os << row.name;
}

class FileVersionWithoutOurNote : public testing::TestWithParam<NoteRow>
{ };

TEST_P(FileVersionWithoutOurNote, GivesEmpty)
{
    const NoteRow& row = GetParam();
    EXPECT_EQ(
        VersionOfBytes(MakeElf(true, false, row.notes, row.sectionName, row.sectionType).bytes),
        "");
}

const std::string kName = ".note.kelvoran.version";

// clang-format off
const NoteRow kNoteRows[] = {
    {"no notes", {}, kName, 7},
    {"other owner", {{std::string("kelvorax\0", 9), 1, {1, 2}}}, kName, 7},
    {"owner without its NUL", {{"kelvoran", 1, {1, 2}}}, kName, 7},
    {"other type", {{std::string("kelvoran\0", 9), 2, {1, 2}}}, kName, 7},
    {"description too short", {{std::string("kelvoran\0", 9), 1, {1}}}, kName, 7},
    {"description too long", {{std::string("kelvoran\0", 9), 1, {1, 2, 3}}}, kName, 7},
    {"section of another name", {kVersionNote}, ".note.other", 7},
    {"section name with a suffix", {kVersionNote}, ".note.kelvoran.versionx", 7},
    {"section not of note type", {kVersionNote}, kName, 1},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Notes, FileVersionWithoutOurNote, testing::ValuesIn(kNoteRows), RowName());

// Damaged files: every offset and size may be anything.
struct DamageRow
{
    const char* name;
    void (*damage)(Elf&);
};

void PrintTo(const DamageRow& row, std::ostream* os)
{
    *os << row.name;
}

class FileVersionOfDamagedElf : public testing::TestWithParam<DamageRow>
{ };

TEST_P(FileVersionOfDamagedElf, GivesEmpty)
{
    for (bool is64 : {false, true}) {
        for (bool bigEndian : {false, true}) {
            Elf e = MakeElf(is64, bigEndian, {kVersionNote});
            GetParam().damage(e);
            EXPECT_EQ(VersionOfBytes(e.bytes), "")
                << (is64 ? "64" : "32") << (bigEndian ? " big" : " little");
        }
    }
}

constexpr std::uint64_t kAllOnes = ~std::uint64_t {0};

// clang-format off
const DamageRow kDamageRows[] = {
    {"not ELF", [](Elf& e) { e.bytes[1] = 'X'; }},
    {"unknown class", [](Elf& e) { e.bytes[4] = 3; }},
    {"unknown byte order", [](Elf& e) { e.bytes[5] = 0; }},
    {"section table past the end", [](Elf& e) { e.Put(e.shoffField, e.WordSize(), e.bytes.size()); }},
    {"section table offset wraps around", [](Elf& e) { e.Put(e.shoffField, e.WordSize(), kAllOnes - 8); }},
    {"section table cut short", [](Elf& e) { e.bytes.resize(e.bytes.size() - 1); }},
    {"many sections", [](Elf& e) { e.Put(e.shnumField, 2, 0xFFFF); }},
    {"no sections", [](Elf& e) { e.Put(e.shnumField, 2, 0); }},
    {"entry size too small", [](Elf& e) { e.Put(e.shentsizeField, 2, 8); }},
    {"huge entry size", [](Elf& e) { e.Put(e.shentsizeField, 2, 0xFFFF); }},
    {"name table index out of range", [](Elf& e) { e.Put(e.shstrndxField, 2, 3); }},
    {"name table index extended", [](Elf& e) { e.Put(e.shstrndxField, 2, 0xFFFF); }},
    {"name table is the note", [](Elf& e) { e.Put(e.shstrndxField, 2, 2); }},
    {"note name offset past the name table", [](Elf& e) { e.Put(e.noteHeader, 4, 0xFFFFFFF0); }},
    {"note name offset one off", [](Elf& e) { e.Put(e.noteHeader, 4, 12); }},
    {"note name without its end", [](Elf& e) { e.Put(e.SectionSizeField(e.namesHeader), e.WordSize(), 33); }},
    {"name table past the end", [](Elf& e) { e.Put(e.SectionOffsetField(e.namesHeader), e.WordSize(), e.bytes.size() - 8); }},
    {"note section past the end", [](Elf& e) { e.Put(e.SectionOffsetField(e.noteHeader), e.WordSize(), e.bytes.size() - 4); }},
    {"note section offset wraps around", [](Elf& e) { e.Put(e.SectionOffsetField(e.noteHeader), e.WordSize(), kAllOnes); }},
    {"note section size huge", [](Elf& e) { e.Put(e.SectionSizeField(e.noteHeader), e.WordSize(), kAllOnes); }},
    {"note section size too small", [](Elf& e) { e.Put(e.SectionSizeField(e.noteHeader), e.WordSize(), 11); }},
    {"note section cut before the description", [](Elf& e) { e.Put(e.SectionSizeField(e.noteHeader), e.WordSize(), 28); }},
    {"owner size huge", [](Elf& e) { e.Put(e.noteData, 4, 0xFFFFFFFF); }},
    {"description size huge", [](Elf& e) { e.Put(e.noteData + 4, 4, 0xFFFFFFFD); }},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(
    Damage, FileVersionOfDamagedElf, testing::ValuesIn(kDamageRows), RowName());

TEST(FileVersionOfOtherFiles, GivesEmpty)
{
    TempDir dir;
    std::mt19937 rng(1);
    Bytes noise(4096, '\0');
    for (char& c : noise)
        c = static_cast<char>(rng());
    const std::vector<std::pair<const char*, Bytes>> files {
        {"empty", ""},
        {"magic only",
            "\x7f"
            "ELF"},
        {"identification only", MakeElf(true, false, {kVersionNote}).bytes.substr(0, 16)},
        {"header only", MakeElf(true, false, {kVersionNote}).bytes.substr(0, 64)},
        {"text", "[office]\n127.0.0.1 router\n"},
        {"noise", noise},
    };
    for (const auto& [name, bytes] : files) {
        dir.write(name, bytes);
        EXPECT_EQ(FileVersionStringOf(dir.file(name)), "") << name;
    }
    EXPECT_EQ(FileVersionStringOf(dir.file("missing")), "");
    EXPECT_EQ(FileVersionStringOf(dir.path()), "") << "a directory";
    EXPECT_EQ(FileVersionStringOf(""), "");
}

const std::regex kVersionShape("([0-9]{1,5}\\.){3}[0-9]{1,5}");

TEST(FileVersionOfOtherFiles, TruncatedProgramNeverGivesAWrongVersion)
{
    const Bytes program = ReadAll(NOTED_HELPER);
    ASSERT_GT(program.size(), 1000u);
    TempDir dir;
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n < 256; ++n)
        lengths.push_back(n);
    for (std::size_t n = 256; n < program.size(); n += program.size() / 200)
        lengths.push_back(n);
    lengths.push_back(program.size() - 1);
    for (std::size_t n : lengths) {
        dir.write("cut", program.substr(0, n));
        const std::string v = FileVersionStringOf(dir.file("cut"));
        EXPECT_TRUE(v.empty() || v == "2.10.300.4000") << n << " bytes: " << v;
    }
    // The section table is at the end, so a missing last byte loses it.
    EXPECT_EQ(FileVersionStringOf(dir.file("cut")), "");
}

TEST(FileVersionOfOtherFiles, RandomlySpoiledFilesAreReadSafely)
{
    TempDir dir;
    for (bool is64 : {false, true}) {
        const Bytes good = MakeElf(is64, false, {kVersionNote}).bytes;
        std::mt19937 rng(is64 ? 64 : 32);
        for (int round = 0; round < 1500; ++round) {
            Bytes spoiled = good;
            const int flips = 1 + static_cast<int>(rng() % 4);
            for (int i = 0; i < flips; ++i)
                spoiled[rng() % spoiled.size()] = static_cast<char>(rng());
            dir.write("spoiled", spoiled);
            const std::string v = FileVersionStringOf(dir.file("spoiled"));
            EXPECT_TRUE(v.empty() || std::regex_match(v, kVersionShape)) << v;
        }
    }
}

} // namespace
