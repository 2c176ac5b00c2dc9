#pragma once

#include <QDir>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <libpq-fe.h>
#include <pwd.h>
#include <unistd.h>

// A PostgreSQL server of the test's own: a new cluster in a temporary folder, listening only
// on a Unix socket there, run as "nobody" when the tests run as root (PostgreSQL refuses root).
// Stopped and removed with the object.
class PostgresServer {
public:
    PostgresServer() {
        QDir versions(QStringLiteral("/usr/lib/postgresql"));
        const QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
        if (found.isEmpty()) {
            problem = QStringLiteral("PostgreSQL is not installed (Debian package postgresql)");
            return;
        }
        bin_ = versions.filePath(found.first() + QStringLiteral("/bin"));
        if (::getuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody || ::chown(QFile::encodeName(folder_.path()).constData(), nobody->pw_uid, nobody->pw_gid) != 0) {
                problem = QStringLiteral("cannot hand the cluster's folder to nobody");
                return;
            }
        }
        if (!as({bin_ + "/initdb", "-D", data(), "-U", "vantrel", "--auth=trust", "-E", "UTF8", "--locale=C.UTF-8"}))
            return;
        start();
    }
    ~PostgresServer() {
        if (running_)
            stop();
    }
    bool start() {
        running_ = as({bin_ + "/pg_ctl", "-D", data(), "-w", "-l", folder_.filePath("log"), "-o",
                       "-c listen_addresses='' -k " + folder_.path(), "start"});
        return running_;
    }
    void stop() {
        as({bin_ + "/pg_ctl", "-D", data(), "-w", "-m", "immediate", "stop"});
        running_ = false;
    }
    // A libpq URI of a new empty database.
    QString newDatabase(const QString& name) {
        PGconn* admin = PQconnectdb(uri(QStringLiteral("postgres")).toUtf8().constData());
        PQclear(PQexec(admin, ("CREATE DATABASE " + name.toUtf8()).constData()));
        PQfinish(admin);
        return uri(name);
    }
    QString uri(const QString& database) const {
        return QStringLiteral("postgresql://vantrel@/%1?host=%2").arg(database, folder_.path());
    }
    bool ready() const { return problem.isEmpty() && running_; }
    QString problem;

private:
    QString data() const { return folder_.filePath(QStringLiteral("data")); }
    bool as(QStringList command) {
        if (::getuid() == 0)
            command = QStringList{"runuser", "-u", "nobody", "--"} + command;
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setWorkingDirectory(folder_.path());
        process.start(command.takeFirst(), command);
        if (!process.waitForFinished(60000) || process.exitCode() != 0) {
            problem = QString::fromLocal8Bit(process.readAll()).trimmed().right(400);
            return false;
        }
        return true;
    }
    QTemporaryDir folder_;
    QString bin_;
    bool running_ = false;
};
