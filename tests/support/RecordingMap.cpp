#include "RecordingMap.h"

#include "VantrelError.h"

void RecordingMap::log(const QString& text) {
    calls << text;
    if (!failOn.isEmpty() && text.section(QLatin1Char('('), 0, 0).endsWith(failOn))
        throw VantrelError(QStringLiteral("Ошибка карты в %1").arg(failOn));
}

void RecordingMap::Table::log(const QString& text) {
    map_.log(QStringLiteral("T%1.%2").arg(number_).arg(text));
}

int RecordingMap::Table::AddField(const QString& type, const QString& name, const QString& caption) {
    log(QStringLiteral("AddField(%1,%2,%3)").arg(type, name, caption));
    fields_ << name;
    pending << QString();
    return int(fields_.size()) - 1;
}

int RecordingMap::Table::AddRecord() {
    log(QStringLiteral("AddRecord"));
    records.push_back(pending);
    return 0;
}

int RecordingMap::Table::SetValue(const QString& value, int index) {
    log(QStringLiteral("SetValue(%1,%2)").arg(value).arg(index));
    pending[index] = value;
    if (records.size() == 1) // a table that keeps one record is edited in place
        records.back()[index] = value;
    return 0;
}

int RecordingMap::Table::GetRecordCount() { return int(records.size()); }

int RecordingMap::Table::MoveFirst() {
    log(QStringLiteral("MoveFirst"));
    return 0;
}

void RecordingMap::Table::DeleteRecord() {
    log(QStringLiteral("DeleteRecord"));
    if (!records.empty())
        records.erase(records.begin());
}

IMapTable* RecordingMap::CreateTable() {
    tables_.push_back(std::make_unique<Table>(*this, int(tables_.size()) + 1));
    log(QStringLiteral("CreateTable → %1").arg(tables_.size()));
    return tables_.back().get();
}

int RecordingMap::LoadMap(const QString& path, const QString& options) {
    log(QStringLiteral("LoadMap(%1|%2)").arg(path, options));
    return loadResult;
}

int RecordingMap::AddLayer(const QString& definition, const QString& style, IMapTable* table) {
    const auto* recorded = dynamic_cast<Table*>(table);
    log(QStringLiteral("AddLayer(%1|%2|T%3)").arg(definition, style).arg(recorded ? recorded->number() : 0));
    return 0;
}

void RecordingMap::SetCurScale(double scale) {
    log(QStringLiteral("CurScale=%1").arg(scale));
    scale_ = scale;
}

void RecordingMap::CenterOn(double latitude, double longitude) {
    log(QStringLiteral("CenterOn(%1,%2)").arg(latitude).arg(longitude));
}

QStringList RecordingMap::matching(const QString& prefix) const {
    QStringList result;
    for (const QString& call : calls)
        if (call.startsWith(prefix))
            result << call;
    return result;
}
