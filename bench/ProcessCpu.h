#pragma once

#include <QFile>
#include <QList>
#include <sys/types.h>
#include <unistd.h>

// CPU seconds a process has used so far (user and system, its finished children aside), read
// from /proc; -1 when it is gone.
inline double processCpuSeconds(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The command name may hold spaces and parentheses: the fields are counted after its last ')'.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}
