#pragma once

#include <QString>
#include <vector>

// One kind of info point the player knows; its kind number is its 1-based place in the table.
struct TInfoPoints {
    QString name;  // shown in the kind box
    QString query; // a type, or a type and a kind joined by "-"
    bool VisibleList = false; // offered in the kind box
    bool VisibleIcon = false; // entry positions are loaded
    QString Icon;
};

using InfoPointDefinitions = std::vector<TInfoPoints>;

// The thirteen kinds a new installation starts with.
const InfoPointDefinitions& defaultInfoPointDefinitions();
