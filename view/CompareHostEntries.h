#pragma once

#include "view/ItemData.h"

// Compares two host list rows whose item data are HostEntry pointers, under a
// sort key (the list's sortKey passed as the sort parameter):
//    0  group order (order), equal counts as +1
//  1/-1 address as an unsigned number, first octet most significant; equal gives +1
//  2/-2 result as unsigned 32-bit (so -2 "not probed" and -1 "N/A" sort after
//       every time), ties by order ascending in both directions
//  3/-3 description byte-wise (unsigned bytes, case-sensitive); equal gives 0
// Any other key gives 0. Under every key, a row without an entry (null item
// data) comes after all others, and two such rows give 0. The answers are not
// always a consistent order (see MergeSort), so only sort with MergeSort.
int CompareHostEntries(ItemData first, ItemData second, ItemData key);
