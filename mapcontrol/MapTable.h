#pragma once

#include "IMapTable.h"

#include <QStringList>
#include <vector>

// A table of text records. Values set since the last AddRecord show in the last record (so a
// table that keeps one record is edited in place) until AddRecord appends them as a new one.
class MapTable : public IMapTable {
public:
    int AddField(const QString& type, const QString& name, const QString& caption) override;
    int AddRecord() override;
    int SetValue(const QString& value, int index) override;
    int GetRecordCount() override { return int(records_.size()); }
    int MoveFirst() override;
    void DeleteRecord() override;

    int fieldIndex(const QString& name) const { return names_.indexOf(name); }
    int fieldCount() const { return int(names_.size()); }
    // The records as they stand now, pending values included.
    std::vector<QStringList> records() const;

private:
    QStringList names_;
    QStringList buffer_;
    std::vector<bool> pending_;
    std::vector<QStringList> records_;
    int cursor_ = -1;
};
