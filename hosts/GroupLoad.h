#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

class HostTable;
struct HostEntry;

// The rows of the host list as a group load sees them: each row owns the host
// entry in its item data.
class HostRows
{
public:
    virtual int RowCount() const = 0;
    // The row's entry, or null when it has none (any more).
    virtual HostEntry* RowEntry(int row) const = 0;
    virtual void ForgetRowEntry(int row) = 0;
    // A new last row for the entry: no probe mark, its dotted address and
    // its description, the entry as item data.
    virtual void AppendRow(HostEntry* entry) = 0;
    virtual void RemoveAllRows() = 0;

protected:
    ~HostRows() = default;
};

// Frees the entry of every row; each row then holds none.
void FreeRowEntries(HostRows& rows);

// Resolves the host text and, when it resolves, adds it: a new entry (created
// at the tick `now` gives) in a new last row, and in the table under its
// dotted address. A host that does not resolve is left out without a word.
void AddHost(HostRows& rows, HostTable& table, const std::string& host,
    const std::string& description, const std::function<std::uint32_t()>& now);

// Replaces what the rows and the table hold with the hosts of `group` in the
// open group file: frees every row's entry, removes the rows, clears the table,
// then adds each host line in file order, each before the next line is read.
void LoadGroupHosts(std::FILE* file, const std::string& group, HostRows& rows, HostTable& table,
    const std::function<std::uint32_t()>& now);
