#pragma once

#include <QIcon>

// The player's own 16 × 16 artwork: 31 tool-bar images and 24 menu images.
namespace imagelists {

constexpr int kToolBarImageCount = 31;
constexpr int kMenuImageCount = 24;

// ImageList1: 9 checkpoints, 10 info points, 28 track, 29 skip stops, 30 settings.
QIcon toolBarImage(int index);
// ImageList2: 0–11 the kinds 2–13 with their icons shown, 12–23 the same kinds hidden.
QIcon menuImage(int index);

} // namespace imagelists
