#include "view/SortKey.h"

std::optional<std::int32_t> NextSortKey(std::int32_t sortKey, int column)
{
    if (column < 1 || column > 3)
        return std::nullopt;
    const auto k = static_cast<std::int32_t>(column);
    if (sortKey == -k)
        return 0;
    if (sortKey == k)
        return -k;
    return k;
}
