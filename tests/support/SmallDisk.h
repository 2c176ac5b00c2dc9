#pragma once

#include <QString>
#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// Runs `work` in a forked child whose files cannot grow past `bytes`, as on a nearly full disk
// (writes beyond fail with EFBIG). Returns what the child threw, "" when it returned, or a
// note when it died otherwise.
inline QString onSmallDisk(rlim_t bytes, const std::function<void()>& work) {
    int channel[2];
    if (::pipe(channel) != 0)
        return QStringLiteral("no pipe");
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, bytes};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        QByteArray said;
        try {
            work();
        } catch (const std::exception& error) {
            said = error.what();
        }
        [[maybe_unused]] const auto written = ::write(channel[1], said.constData(), size_t(said.size()));
        ::_exit(0);
    }
    ::close(channel[1]);
    QByteArray said;
    char buffer[4096];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, n);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status))
        return QStringLiteral("the child died of signal %1").arg(WTERMSIG(status));
    return QString::fromUtf8(said);
}
