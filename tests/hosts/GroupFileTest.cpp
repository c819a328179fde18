#include "hosts/GroupFile.h"

#include "tests/support/RowName.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

using Hosts = std::vector<std::pair<std::string, std::string>>;

// A stream over the bytes of a group file.
FilePtr Stream(const std::string& bytes)
{
    FilePtr file(std::tmpfile());
    std::fwrite(bytes.data(), 1, bytes.size(), file.get());
    std::rewind(file.get());
    return file;
}

std::vector<std::string> Names(const std::string& bytes)
{
    return ReadGroupNames(Stream(bytes).get());
}

Hosts HostsOf(const std::string& bytes, const std::string& group)
{
    Hosts hosts;
    ReadGroupHosts(
        Stream(bytes).get(), group, [&](const std::string& host, const std::string& description) {
            hosts.emplace_back(host, description);
        });
    return hosts;
}

// A group file of tests/data/group-files.
std::string GroupFile(const std::string& name)
{
    const std::string bytes = ReadWholeFile(std::string(KELVORAN_GROUP_FILES) + "/" + name);
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

} // namespace

// The same file as written on Linux and on Windows (CR LF).
TEST(GroupFile, ExampleFileNamesAndHosts)
{
    for (const char* name : {"office.ini", "office-crlf.ini"}) {
        SCOPED_TRACE(name);
        const std::string file = GroupFile(name);
        EXPECT_EQ(Names(file), (std::vector<std::string> {"Servers", "Lab", "Servers"}));
        EXPECT_EQ(HostsOf(file, "Servers"),
            (Hosts {{"10.0.0.1", "Main router"}, {"fileserver", "File server"},
                {"10.0.0.7", "Print queue"}}));
        EXPECT_EQ(HostsOf(file, "Lab"), (Hosts {{"192.168.1.20", ""}}));
        EXPECT_EQ(HostsOf(file, "servers"), Hosts {});
        EXPECT_EQ(HostsOf(file, "office monitor list"), Hosts {});
    }
}

struct HostCase
{
    const char* name;
    std::string file;
    std::string group;
    Hosts hosts;
};

void PrintTo(const HostCase& c, std::ostream* os)
{
    *os << c.name;
}

class GroupHosts : public ::testing::TestWithParam<HostCase>
{ };

TEST_P(GroupHosts, ReadsTheGroupsHostLines)
{
    EXPECT_EQ(HostsOf(GetParam().file, GetParam().group), GetParam().hosts) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Lines, GroupHosts,
    ::testing::Values(HostCase {"leading blank: no section line, but a host line inside one",
                          "[A]\n [Lab]\n", "A", {{"[Lab]", ""}}},
        HostCase {"leading blank section is not found", " [Lab]\n1.2.3.4 x\n", "Lab", {}},
        HostCase {"tab tab: the first ends the host, the second is skipped",
            "[A]\n10.0.0.1\t\tMain router\n", "A", {{"10.0.0.1", "Main router"}}},
        HostCase {"only the part of the description before a tab", "[A]\nh one\ttwo\n", "A",
            {{"h", "one"}}},
        HostCase {"indented host, description trimmed of all white space",
            "[A]\n \t h \v desc \f\r\n", "A", {{"h", "desc"}}},
        HostCase {"CR LF reads as LF", "[A]\r\nh1 one\r\nh2\r\n[B]\r\nh3\r\n", "A",
            {{"h1", "one"}, {"h2", ""}}},
        HostCase {"a lone CR ends the description", "[A]\nh a\rb\n", "A", {{"h", "a"}}},
        HostCase {
            "blank lines and blank-only lines are skipped", "[A]\n\n \t \nh\n", "A", {{"h", ""}}},
        HostCase {"duplicate section: the first one is read", "[A]\nfirst\n[A]\nsecond\n", "A",
            {{"first", ""}}},
        HostCase {"section with no hosts", "[A]\n[B]\nh\n", "A", {}},
        HostCase {"section line as last line without line feed", "x\n[A]", "A", {}},
        HostCase {"missing closing bracket still matches without the line feed", "[Servers\nh\n",
            "Servers", {{"h", ""}}},
        HostCase {
            "the listed name with its line feed never matches", "[Servers\nh\n", "Servers\n", {}},
        HostCase {"byte-order mark: no section line", "\xEF\xBB\xBF[A]\nh\n", "A", {}},
        HostCase {"brackets only: matches no group, the search goes on", "[]\r\nh0\n[A]\nh1\n", "A",
            {{"h1", ""}}},
        HostCase {"a NUL byte ends the line's text", std::string("[A]\nh1 d\0x\n", 11), "A",
            {{"h1", "d"}}},
        HostCase {
            "text after the closing bracket is ignored", "[A] more [B]\nh\n", "A", {{"h", ""}}},
        HostCase {
            "blanks inside the brackets belong to the name", "[ A ]\nh\n", " A ", {{"h", ""}}}),
    RowName());

TEST(GroupFile, NamesKeepWhatTheBracketsCut)
{
    EXPECT_EQ(Names(""), std::vector<std::string> {});
    EXPECT_EQ(Names("no sections\nat all\n"), std::vector<std::string> {});
    EXPECT_EQ(Names("[Servers\n"), std::vector<std::string> {"Servers\n"});
    EXPECT_EQ(Names("[Servers"), std::vector<std::string> {"Servers"});
    EXPECT_EQ(Names("[Servers\r\n"), std::vector<std::string> {"Servers\n"});
    EXPECT_EQ(Names("[]\n"), std::vector<std::string> {"\n"});
    EXPECT_EQ(Names("[]"), std::vector<std::string> {});
    EXPECT_EQ(Names("[[a]]b\n"), std::vector<std::string> {"a"});
    EXPECT_EQ(Names("[Servers]\n[servers]\n"), (std::vector<std::string> {"Servers", "servers"}));
}

TEST(GroupFile, LongLinesComeInPiecesOf1023Bytes)
{
    // 1500 characters: the first 1023 bytes are one host line, the rest (with
    // the line feed) a second one whose first token is a host text.
    std::string line
        = std::string(1000, 'a') + " " + std::string(22, 'b') + "tail" + std::string(473, 'c');
    ASSERT_EQ(line.size(), 1500u);
    EXPECT_EQ(HostsOf("[A]\n" + line + "\n", "A"),
        (Hosts {
            {std::string(1000, 'a'), std::string(22, 'b')}, {"tail" + std::string(473, 'c'), ""}}));

    // 1022 characters and the line feed: one piece; 1023: a piece and then a
    // piece that holds only the line feed.
    std::string piece;
    FilePtr f = Stream(std::string(1022, 'x') + "\n" + std::string(1023, 'y') + "\n");
    ASSERT_TRUE(ReadLinePiece(f.get(), piece));
    EXPECT_EQ(piece, std::string(1022, 'x') + "\n");
    ASSERT_TRUE(ReadLinePiece(f.get(), piece));
    EXPECT_EQ(piece, std::string(1023, 'y'));
    ASSERT_TRUE(ReadLinePiece(f.get(), piece));
    EXPECT_EQ(piece, "\n");
    EXPECT_FALSE(ReadLinePiece(f.get(), piece));

    // A section line cut after 1023 bytes: the rest is a line of its own.
    const std::string name(1030, 'n');
    EXPECT_EQ(Names("[" + name + "]\n"), (std::vector<std::string> {name.substr(0, 1022)}));
}

TEST(GroupFile, OpensTheFileInTheWorkingDirectory)
{
    TempDir dir;
    EXPECT_FALSE(OpenGroupFile());
    dir.write("kelvoran.ini", "[A]\nh d\n");
    FilePtr file = OpenGroupFile();
    ASSERT_TRUE(file);
    EXPECT_EQ(ReadGroupNames(file.get()), std::vector<std::string> {"A"});
}

// In a legacy double-byte encoding the second byte of a character may be '['
// or ']'; it must not end a name or start a section.
TEST(GroupFile, DoubleByteCharactersAreNeverCutAtTheirSecondByte)
{
    const char* locales[] = {"zh_TW.BIG5", "zh_TW.big5", "zh_CN.GBK", "zh_CN.gbk"};
    const char* found = nullptr;
    const std::string saved = std::setlocale(LC_CTYPE, nullptr);
    for (const char* name : locales) {
        if (std::setlocale(LC_CTYPE, name) != nullptr) {
            found = name;
            break;
        }
    }
    if (found == nullptr)
        GTEST_SKIP() << "no Big5 or GBK locale on this machine (localedef -f BIG5 -i zh_TW "
                        "zh_TW.BIG5 makes one)";

    // 0xA4 0x5D and 0xA4 0x5B are one character each in both encodings.
    const std::string closing = "\xA4\x5D";
    const std::string opening = "\xA4\x5B";
    const std::string file = GroupFile("big5-brackets.ini");
    EXPECT_EQ(Names(file), (std::vector<std::string> {closing + "x", closing, "g"}));
    EXPECT_EQ(HostsOf(file, closing), (Hosts {{opening + "h", closing}}));
    EXPECT_EQ(HostsOf(file, "g"), (Hosts {{"h\xA4\x5D\xA4\x5B", "d"}}));
    std::setlocale(LC_CTYPE, saved.c_str());
}
