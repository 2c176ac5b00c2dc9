#pragma once

#include "IMapTable.h"

#include <QString>
#include <functional>

class QImage;

// The map control as the player uses it. Tables belong to the control and live as long as it.
// Every failing call throws VantrelError.
class IMapvexControl {
public:
    static constexpr int kMapNotFound = 1;
    static constexpr int kMapUnreadable = 2;
    static constexpr int kMapNotAFile = 3;

    virtual ~IMapvexControl() = default;
    virtual IMapTable* CreateTable() = 0;
    // 0 on success, any other number on failure: kMapNotFound, kMapUnreadable, kMapNotAFile.
    virtual int LoadMap(const QString& path, const QString& options) = 0;
    // Opens a map without keeping the caller's thread: `opened` gets LoadMap's code once the map
    // is read, unless a newer map was asked for meanwhile, which wins. Here: at once.
    virtual void LoadMapLater(const QString& path, const QString& options,
                              std::function<void(int code)> opened) {
        opened(LoadMap(path, options));
    }
    // Publishes the table's present contents as the named layer; a known name is redrawn.
    virtual int AddLayer(const QString& definition, const QString& style, IMapTable* table) = 0;
    virtual double CurScale() const = 0;
    virtual void SetCurScale(double scale) = 0;
    virtual void CenterOn(double latitude, double longitude) = 0;

    // Names a picture for layers styled "p 'name' size" (the player's event icons).
    virtual void SetSymbolImage(const QString& name, const QImage& image) {
        Q_UNUSED(name);
        Q_UNUSED(image);
    }
    // Called with the layer and record of a picture the user clicked.
    using PictureClick = std::function<void(const QString& layer, int record)>;
    virtual void SetPictureClickHandler(PictureClick handler) { Q_UNUSED(handler); }
    // Why the last LoadMap failed, in the operator's words; empty when it did not say.
    virtual QString LoadFailure() const { return QString(); }
};

// What the operator is told when the map of the settings cannot be opened.
inline QString mapLoadFailureText(const QString& path, int code) {
    const QString name = QStringLiteral("Не удалось открыть карту «") + path + QStringLiteral("»: ");
    switch (code) {
    case IMapvexControl::kMapNotFound:
        return name + QStringLiteral("файл не найден ни по этому пути, ни по имени в папках карт "
                                     "(maps рядом с программой, share/vantrel/maps, $XDG_DATA_HOME/vantrel/maps)");
    case IMapvexControl::kMapNotAFile:
        return name + QStringLiteral("это не обычный файл");
    default:
        return name + QStringLiteral("файл не читается как карта");
    }
}
