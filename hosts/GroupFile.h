#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The group file: "kelvoran.ini" in the working directory. Each section line
// "[name]" starts a group; each line under it names a host and a description.

struct FileCloser
{
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

inline constexpr const char* kGroupFileName = "kelvoran.ini";

// Opens the group file for reading; nothing when it is missing, unreadable or
// not a regular file.
FilePtr OpenGroupFile(const char* path = kGroupFileName);

// Reads the next line of at most 1023 bytes (a longer line comes in several
// pieces), reading a CR LF pair as one LF, as a 1024-byte fgets on a stream
// opened in text mode on the platform the file format comes from. False at
// the end of the file or on a read error.
bool ReadLinePiece(std::FILE* file, std::string& piece);

// All group names, one per section line, in file order, duplicates included.
std::vector<std::string> ReadGroupNames(std::FILE* file);

using HostLineHandler
    = std::function<void(const std::string& host, const std::string& description)>;

// Hands on the host lines of the first section named `group` (byte-wise), in
// file order, each before the next line is read.
void ReadGroupHosts(std::FILE* file, const std::string& group, const HostLineHandler& onHost);
