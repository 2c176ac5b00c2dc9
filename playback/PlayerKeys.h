#pragma once

#include <Qt>

// The player's keys: Space plays or pauses, Home stops, ← and → move 10 s of track time
// (a minute with Shift), + and − take the next faster or slower speed of the speed box. None
// of them acts while an edit box has the focus: there they edit.
namespace playerkeys {

enum class Command { None, PlayPause, Stop, Seek, Faster, Slower };

struct Action {
    Command command = Command::None;
    int seconds = 0; // Seek: how far, negative backwards
};

Action actionFor(int key, Qt::KeyboardModifiers modifiers, bool editing);

} // namespace playerkeys
