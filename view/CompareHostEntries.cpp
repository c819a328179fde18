#include "view/CompareHostEntries.h"

#include "hosts/HostEntry.h"

#include <arpa/inet.h>
#include <cstdint>
#include <string_view>

namespace {

int CompareOrder(const HostEntry& a, const HostEntry& b)
{
    return a.order < b.order ? -1 : 1;
}

int CompareDescription(const HostEntry& a, const HostEntry& b)
{
    // std::string_view compares through char_traits<char>, which orders the
    // bytes as unsigned char, as the multibyte comparison of the names does.
    const int c = std::string_view(a.description).compare(b.description);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareResult(const HostEntry& a, const HostEntry& b, bool ascending)
{
    const auto ra = static_cast<std::uint32_t>(a.result);
    const auto rb = static_cast<std::uint32_t>(b.result);
    if (ra < rb)
        return ascending ? -1 : 1;
    if (ra > rb)
        return ascending ? 1 : -1;
    return CompareOrder(a, b);
}

} // namespace

int CompareHostEntries(ItemData first, ItemData second, ItemData key)
{
    // A row whose entry is gone has no fields to compare; it goes last.
    if (first == 0 || second == 0)
        return (first == 0) - (second == 0);
    const auto& a = *reinterpret_cast<const HostEntry*>(first);
    const auto& b = *reinterpret_cast<const HostEntry*>(second);
    switch (key) {
    case 0:
        return CompareOrder(a, b);
    case 1:
        return ntohl(a.address) < ntohl(b.address) ? -1 : 1;
    case -1:
        return ntohl(b.address) < ntohl(a.address) ? -1 : 1;
    case 2:
        return CompareResult(a, b, true);
    case -2:
        return CompareResult(a, b, false);
    case 3:
        return CompareDescription(a, b);
    case -3:
        return CompareDescription(b, a);
    default:
        return 0;
    }
}
