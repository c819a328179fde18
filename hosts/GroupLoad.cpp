#include "hosts/GroupLoad.h"

#include "hosts/GroupFile.h"
#include "hosts/HostEntry.h"
#include "hosts/HostTable.h"
#include "hosts/ResultValue.h"
#include "icmp/Resolver.h"

#include <optional>

void FreeRowEntries(HostRows& rows)
{
    for (int i = 0; i < rows.RowCount(); ++i) {
        HostEntry* entry = rows.RowEntry(i);
        if (entry == nullptr)
            continue;
        FreeHostEntry(entry);
        // Nothing may find the freed entry through its row any more.
        rows.ForgetRowEntry(i);
    }
}

void AddHost(HostRows& rows, HostTable& table, const std::string& host,
    const std::string& description, const std::function<std::uint32_t()>& now)
{
    const std::optional<std::uint32_t> address = ResolveHostText(host.c_str());
    if (!address)
        return;
    const int n = rows.RowCount();
    HostEntry* entry = NewHostEntry();
    entry->order = n;
    entry->row = n;
    entry->lastDone = static_cast<std::int32_t>(now());
    entry->busy = 0;
    entry->prevResult = kResultNotProbed;
    entry->address = *address;
    entry->result = kResultNotProbed;
    entry->name = DottedAddress(*address);
    entry->description = description;
    rows.AppendRow(entry);
    table.assign(entry->name, entry);
}

void LoadGroupHosts(std::FILE* file, const std::string& group, HostRows& rows, HostTable& table,
    const std::function<std::uint32_t()>& now)
{
    FreeRowEntries(rows);
    rows.RemoveAllRows();
    table.clear();
    ReadGroupHosts(file, group, [&](const std::string& host, const std::string& description) {
        AddHost(rows, table, host, description, now);
    });
}
