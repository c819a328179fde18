#pragma once

#include <cstdint>
#include <optional>

// The sort key that a click on the header of `column` leads to, given the key in
// force. Only columns 1 ("IP"), 2 ("Time") and 3 ("Desc") sort: for any other
// column the answer is empty and the list stays as it is. Repeated clicks on
// one header cycle k, -k, 0; a click on another header starts it ascending (k).
// The caller sorts with the new key even when it is 0 (back to group order).
std::optional<std::int32_t> NextSortKey(std::int32_t sortKey, int column);
