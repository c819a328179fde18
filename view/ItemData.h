#pragma once

#include <cstdint>

// The item-data value of a list row, and the comparison that sorts rows by it.
// A negative answer puts the first row before the second, a positive one after.
using ItemData = std::intptr_t;
using ListCompareFunc = int (*)(ItemData first, ItemData second, ItemData param);
