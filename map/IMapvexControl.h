#pragma once

#include "IMapTable.h"

#include <QString>

// The map control as the player uses it. Tables belong to the control and live as long as it.
// Every failing call throws VantrelError.
class IMapvexControl {
public:
    virtual ~IMapvexControl() = default;
    virtual IMapTable* CreateTable() = 0;
    // 0 on success, any other number on failure.
    virtual int LoadMap(const QString& path, const QString& options) = 0;
    // Publishes the table's present contents as the named layer; a known name is redrawn.
    virtual int AddLayer(const QString& definition, const QString& style, IMapTable* table) = 0;
    virtual double CurScale() const = 0;
    virtual void SetCurScale(double scale) = 0;
    virtual void CenterOn(double latitude, double longitude) = 0;
};
