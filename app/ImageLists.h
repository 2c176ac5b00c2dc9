#pragma once

#include <QIcon>
#include <QImage>
#include <QStringList>

// The player's own 16 × 16 artwork: 31 tool-bar images and 24 menu images.
namespace imagelists {

constexpr int kToolBarImageCount = 31;
constexpr int kMenuImageCount = 24;

// ImageList1: 9 checkpoints, 10 info points, 28 track, 29 skip stops, 30 settings.
QIcon toolBarImage(int index);
// ImageList2: 0–11 the kinds 2–13 with their icons shown, 12–23 the same kinds hidden.
QIcon menuImage(int index);

// The icon an info-point definition names (IcC, IcP, IcV, IcB, IcS, IcZ, Ic1…Ic6) for the map,
// 32 × 32 on a white disc; a null image for a name the player has no artwork for.
QImage eventIcon(const QString& name);
QStringList eventIconNames();

} // namespace imagelists
