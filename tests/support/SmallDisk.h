#pragma once

#include <QString>
#include <csignal>
#include <functional>
#include <sys/resource.h>

// Runs `work` while this process's files cannot grow past `bytes`, as on a nearly full disk
// (writes beyond fail with EFBIG), then lifts the limit. In the process itself, not a forked
// child: a child of a process with Qt's threads may wait forever on a lock one of them held.
// Returns what `work` threw, "" when it returned.
inline QString onSmallDisk(rlim_t bytes, const std::function<void()>& work) {
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{bytes, before.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    QString said;
    try {
        work();
    } catch (const std::exception& error) {
        said = QString::fromUtf8(error.what());
    }
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, handler);
    return said;
}
