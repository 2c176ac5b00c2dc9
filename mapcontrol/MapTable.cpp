#include "MapTable.h"

#include "VantrelError.h"

int MapTable::AddField(const QString& type, const QString& name, const QString& caption) {
    if (type != QLatin1String("TEXT") && type != QLatin1String("DOUBLE"))
        throw VantrelError(QStringLiteral("Неизвестный тип поля карты: %1").arg(type));
    names_ << name;
    buffer_ << QString();
    pending_.push_back(false);
    for (QStringList& record : records_)
        record << QString();
    return int(names_.size()) - 1;
}

int MapTable::AddRecord() {
    records_.push_back(buffer_);
    std::fill(pending_.begin(), pending_.end(), false);
    cursor_ = int(records_.size()) - 1;
    return cursor_;
}

int MapTable::SetValue(const QString& value, int index) {
    if (index < 0 || index >= names_.size())
        throw VantrelError(QStringLiteral("Нет поля карты с номером %1").arg(index));
    buffer_[index] = value;
    pending_[size_t(index)] = true;
    return 0;
}

int MapTable::MoveFirst() {
    cursor_ = records_.empty() ? -1 : 0;
    return 0;
}

void MapTable::DeleteRecord() {
    if (cursor_ < 0 || cursor_ >= int(records_.size()))
        return;
    records_.erase(records_.begin() + cursor_);
    if (cursor_ >= int(records_.size()))
        cursor_ = int(records_.size()) - 1;
}

std::vector<QStringList> MapTable::records() const {
    std::vector<QStringList> result = records_;
    if (!result.empty())
        for (size_t i = 0; i < pending_.size(); ++i)
            if (pending_[i])
                result.back()[int(i)] = buffer_[int(i)];
    return result;
}
