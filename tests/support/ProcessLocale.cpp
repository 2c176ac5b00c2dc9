// Linked into every test binary: the process takes the locale of its environment before any
// test runs, as the programs do (Qt sets it on start), so that the run under the operators'
// locale really runs under it. A locale that is not installed fails the binary at once
// rather than quietly testing the C locale.
#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace {
const bool kLocaleTaken = [] {
    if (!std::setlocale(LC_ALL, "")) {
        const char* wanted = std::getenv("LC_ALL");
        std::fprintf(stderr, "the locale %s is not installed (locale-gen)\n", wanted ? wanted : "?");
        std::exit(2);
    }
    return true;
}();
} // namespace
