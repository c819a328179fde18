#pragma once

#include <cstddef>
#include <utility>
#include <vector>

// A bottom-up merge sort that only trusts the comparison for the direction of
// each single step: compare(a, b) < 0 or == 0 keeps a first, > 0 takes b first.
// Whatever the answers are (inconsistent, random, changing while sorting), it
// ends after ceil(log2(n)) passes and leaves every element exactly once.
// std::sort would be undefined behaviour with such a comparison.
template<typename T, typename Compare>
void MergeSort(std::vector<T>& items, Compare compare)
{
    const std::size_t n = items.size();
    if (n < 2)
        return;
    std::vector<T> buffer(n);
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t lo = 0; lo < n; lo += 2 * width) {
            const std::size_t mid = lo + width < n ? lo + width : n;
            const std::size_t hi = lo + 2 * width < n ? lo + 2 * width : n;
            std::size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi) {
                if (compare(items[i], items[j]) <= 0)
                    buffer[k++] = std::move(items[i++]);
                else
                    buffer[k++] = std::move(items[j++]);
            }
            while (i < mid)
                buffer[k++] = std::move(items[i++]);
            while (j < hi)
                buffer[k++] = std::move(items[j++]);
        }
        items.swap(buffer);
    }
}
