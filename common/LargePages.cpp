#include "LargePages.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace largepages {

void restartWithHugePages(char** argv) {
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    const std::string current = tunables ? tunables : "";
    if (current.find("glibc.malloc.hugetlb") != std::string::npos)
        return;
    const std::string wanted = current.empty() ? "glibc.malloc.hugetlb=1" : current + ":glibc.malloc.hugetlb=1";
    if (::setenv("GLIBC_TUNABLES", wanted.c_str(), 1) != 0)
        return;
    ::execv("/proc/self/exe", argv);
    // Still here: the program goes on with the usual pages, and its children keep the setting.
}

} // namespace largepages
