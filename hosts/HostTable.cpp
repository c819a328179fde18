#include "hosts/HostTable.h"

void HostTable::assign(const std::string& key, HostEntry* entry)
{
    map_.insert_or_assign(key, entry);
}

void HostTable::clear()
{
    map_.clear();
}

HostEntry* HostTable::find(const std::string& key) const
{
    auto it = map_.lower_bound(key);
    if (it == map_.end() || key < it->first)
        return nullptr;
    return it->second;
}
