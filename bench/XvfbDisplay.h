#pragma once

#include <QByteArray>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// A virtual X server of the benchmark's own at 1280 x 800, as the operator's display: on the
// first free display number (Xvfb picks it and says which), no TCP, its frame buffer in a
// temporary folder of its own, stopped when this goes. Without Xvfb it says so and fails.
class XvfbDisplay {
public:
    XvfbDisplay() {
        int pipe[2];
        if (!folder_.isValid() || ::pipe(pipe) != 0)
            return;
        const std::string fd = std::to_string(pipe[1]), dir = folder_.path().toStdString();
        const char* argv[] = {"Xvfb",   "-displayfd", fd.c_str(),  "-nolisten",
                              "tcp",    "-screen",    "0",         "1280x800x24",
                              "-fbdir", dir.c_str(),  "-nocursor", nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, pipe[0]);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int failed =
            posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe[1]);
        if (failed != 0) {
            pid_ = 0;
            std::printf("FAILED: Xvfb cannot be started (scripts/install-deps.sh installs it)\n");
        } else {
            // Written once it serves, up to a new line; closing the pipe before that would end it.
            QByteArray number;
            char c = 0;
            while (::read(pipe[0], &c, 1) == 1 && c != '\n')
                number += c;
            if (c == '\n' && !number.isEmpty())
                display_ = ":" + number;
            else
                std::printf("FAILED: Xvfb did not start\n");
        }
        ::close(pipe[0]);
    }
    ~XvfbDisplay() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    bool started() const { return !display_.isEmpty(); }
    QByteArray name() const { return display_; } // ":N"
    pid_t pid() const { return pid_; }
    // The frame buffer as an XWD file, readable at any time.
    QString screenFile() const { return folder_.filePath(QStringLiteral("Xvfb_screen0")); }

private:
    QTemporaryDir folder_;
    pid_t pid_ = 0;
    QByteArray display_;
};
