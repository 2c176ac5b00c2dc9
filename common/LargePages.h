#pragma once

// A million messages or track points are tens of megabytes, and on a virtual machine every
// first touch of a fresh 4 KiB page is expensive. glibc's allocator asks the kernel for
// transparent huge pages when its `glibc.malloc.hugetlb` tunable is 1; tunables are read
// only at start-up, so the program starts itself once more with it set. Nothing happens when
// it is already set, when the user set it otherwise, or when the new start fails.
namespace largepages {
void restartWithHugePages(char** argv);
}
