#include "TInfoPoints.h"

const InfoPointDefinitions& defaultInfoPointDefinitions() {
    static const InfoPointDefinitions definitions = [] {
        const struct {
            const char* name;
            const char* query;
            const char* icon;
        } rows[] = {
            {"Контрольные точки", "checkpoints-stages", "IcC"},
            {"Список остановок", "parks", "IcP"},
            {"Периоды отсутствия сигнала", "blinds", "IcV"},
            {"Периоды пропадания питания", "power_off", "IcB"},
            {"Периоды превышения скорости", "over_speed", "IcS"},
            {"Заправки и сливы бака №1", "tank-num1", "IcZ"},
            {"Заправки и сливы бака №2", "tank-num2", "IcZ"},
            {"Включения датчика №1", "sensor_on-num1", "Ic1"},
            {"Включения датчика №2", "sensor_on-num2", "Ic2"},
            {"Включения датчика №3", "sensor_on-num3", "Ic3"},
            {"Включения датчика №4", "sensor_on-num4", "Ic4"},
            {"Включения датчика №5", "sensor_on-num5", "Ic5"},
            {"Включения датчика №6", "sensor_on-num6", "Ic6"},
        };
        InfoPointDefinitions result;
        for (const auto& row : rows)
            result.push_back({QString::fromUtf8(row.name), QString::fromLatin1(row.query), true,
                              true, QString::fromLatin1(row.icon)});
        return result;
    }();
    return definitions;
}
