#include "hosts/GroupFile.h"

#include "files/RegularFile.h"
#include "hosts/MbTokenizer.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::size_t kPieceLimit = 1023;

bool IsSectionLine(const std::string& line)
{
    return !line.empty() && line[0] == '[';
}

} // namespace

FilePtr OpenGroupFile(const char* path)
{
    // Only a regular file is read. Here a folder opens for reading (and reads
    // as nothing), a named pipe keeps the window waiting for a writer, and a
    // device may never end: each of them counts as a group file that cannot
    // be opened.
    const int fd = OpenRegularFile(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    FilePtr file(::fdopen(fd, "r"));
    if (!file)
        ::close(fd);
    return file;
}

bool ReadLinePiece(std::FILE* file, std::string& piece)
{
    piece.clear();
    while (piece.size() < kPieceLimit) {
        int c = getc_unlocked(file);
        if (c == EOF)
            break;
        if (c == '\r') {
            const int next = getc_unlocked(file);
            if (next == '\n')
                c = '\n';
            else if (next != EOF)
                std::ungetc(next, file);
        }
        piece.push_back(static_cast<char>(c));
        if (c == '\n')
            break;
    }
    return !piece.empty();
}

std::vector<std::string> ReadGroupNames(std::FILE* file)
{
    std::vector<std::string> names;
    std::string line;
    while (ReadLinePiece(file, line)) {
        if (!IsSectionLine(line))
            continue;
        // A line feed is no delimiter here: "[Servers" with no closing bracket
        // gives a name that ends in its line feed.
        if (auto name = MbTokenizer(line).Next("[]"))
            names.emplace_back(*name);
    }
    return names;
}

void ReadGroupHosts(std::FILE* file, const std::string& group, const HostLineHandler& onHost)
{
    std::string line;
    bool found = false;
    while (!found && ReadLinePiece(file, line)) {
        if (!IsSectionLine(line))
            continue;
        auto name = MbTokenizer(line).Next("[]\r\n");
        found = name && *name == group;
    }
    if (!found)
        return;

    while (ReadLinePiece(file, line)) {
        if (IsSectionLine(line))
            return;
        MbTokenizer tokens(line);
        auto host = tokens.Next(" \t\r\n");
        if (!host)
            continue;
        // The description starts right after the character that ended the host
        // text and runs to the next tab, spaces included.
        auto description = tokens.Next("\t\r\n");
        onHost(std::string(*host), std::string(TrimBlanks(description.value_or(""))));
    }
}
