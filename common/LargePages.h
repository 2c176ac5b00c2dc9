#pragma once

#include <cstddef>
#include <vector>

// A million messages or track points are tens of megabytes, and on a virtual machine every
// first touch of a fresh 4 KiB page is expensive. The few arrays that large ask the kernel for
// transparent huge pages before their first touch (madvise MADV_HUGEPAGE); nothing else
// changes, and a kernel that refuses leaves the usual pages.
namespace largepages {

// Advises huge pages for the whole 2 MiB pages inside [data, data + bytes).
void advise(const void* data, std::size_t bytes);

// Reserves room for `count` elements and advises huge pages for it, before anything is written.
template <typename T> void reserve(std::vector<T>& values, std::size_t count) {
    values.reserve(count);
    advise(values.data(), values.capacity() * sizeof(T));
}

} // namespace largepages
