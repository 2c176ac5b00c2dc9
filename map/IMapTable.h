#pragma once

#include <QString>

// A data table of the map control. Values are texts; "DOUBLE" fields take "." as separator.
// The values set just before AddRecord form the appended record; in a table that keeps one
// record, SetValue changes that record.
class IMapTable {
public:
    virtual ~IMapTable() = default;
    virtual int AddField(const QString& type, const QString& name, const QString& caption) = 0;
    virtual int AddRecord() = 0;
    virtual int SetValue(const QString& value, int index) = 0;
    virtual int GetRecordCount() = 0;
    virtual int MoveFirst() = 0;
    virtual void DeleteRecord() = 0;
};
