#pragma once

#include <map>
#include <string>

struct HostEntry;

// Ordered map from dotted address to host entry. Keys compare byte for byte as
// unsigned bytes. The table refers to entries and never frees them.
class HostTable
{
public:
    void assign(const std::string& key, HostEntry* entry);
    void clear();
    HostEntry* find(const std::string& key) const;
    std::size_t size() const { return map_.size(); }

private:
    std::map<std::string, HostEntry*> map_;
};
