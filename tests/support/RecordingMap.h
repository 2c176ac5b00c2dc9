#pragma once

#include "IMapvexControl.h"

#include <QStringList>
#include <memory>
#include <vector>

// A map control that draws nothing and records every call as a line of text:
// "CreateTable → 1", "T1.AddField(TEXT,metr,metr)", "T5.SetValue(x,0)",
// "AddLayer(definition|style|T1)", "LoadMap(path|options)", "CurScale=20000", "CenterOn(55,37)".
class RecordingMap : public IMapvexControl {
public:
    class Table : public IMapTable {
    public:
        Table(RecordingMap& map, int number) : map_(map), number_(number) {}
        int AddField(const QString& type, const QString& name, const QString& caption) override;
        int AddRecord() override;
        int SetValue(const QString& value, int index) override;
        int GetRecordCount() override;
        int MoveFirst() override;
        void DeleteRecord() override;

        int number() const { return number_; }
        std::vector<QStringList> records;
        QStringList pending; // values set since the last AddRecord

    private:
        void log(const QString& text);
        RecordingMap& map_;
        int number_;
        QStringList fields_;
    };

    IMapTable* CreateTable() override;
    int LoadMap(const QString& path, const QString& options) override;
    int AddLayer(const QString& definition, const QString& style, IMapTable* table) override;
    double CurScale() const override { return scale_; }
    void SetCurScale(double scale) override;
    void CenterOn(double latitude, double longitude) override;

    Table& table(int number) { return *tables_.at(size_t(number - 1)); }
    // Calls whose text starts with `prefix`.
    QStringList matching(const QString& prefix) const;

    QStringList calls;
    int loadResult = 0;
    QString failOn; // a call name that throws

private:
    void log(const QString& text);
    std::vector<std::unique_ptr<Table>> tables_;
    double scale_ = 0;
};
