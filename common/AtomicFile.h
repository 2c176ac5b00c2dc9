#pragma once

#include <QByteArray>
#include <QString>

// A file written whole or not at all. The target must be a regular file or a new name (a
// symbolic link is followed only to a regular file in its own folder); anything else (a FIFO,
// a device, a folder) is refused before anything is opened. The bytes go to a temporary file
// in the target's folder; every write and the close are checked, the file is synced, renamed
// over the target and the folder synced. Any failure removes the temporary file, leaves the
// target as it was and throws VantrelError naming the file and the reason in Russian.
class AtomicFile {
public:
    explicit AtomicFile(const QString& target);
    ~AtomicFile(); // without commit(): the temporary file is removed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void write(const QByteArray& bytes);
    void commit();

    // The whole content in one go.
    static void save(const QString& target, const QByteArray& content);
    // Throws when `target` is neither a new name nor a regular file; returns the path written to
    // (the link's own file for a symbolic link in the folder).
    static QString checkTarget(const QString& target);

private:
    [[noreturn]] void fail(int error);

    QString shown_;     // the path as given, for messages
    QByteArray target_; // the file renamed over
    QByteArray temporary_;
    int fd_ = -1;
    bool existed_ = false;
    bool committed_ = false;
};
