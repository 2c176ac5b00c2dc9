#pragma once

#include <QString>
#include <QStringList>

// The last five maps the operator chose, newest first, kept in a small file of their own beside
// the settings file (whose MapPath holds the one in use, as it always did).
class RecentMaps {
public:
    explicit RecentMaps(QString folder) : folder_(std::move(folder)) {}

    QStringList paths() const;
    // Puts the path first, dropping it from further down and anything past five.
    void add(const QString& path);

    static constexpr int kKept = 5;

private:
    QString filePath() const;
    QString folder_;
};
