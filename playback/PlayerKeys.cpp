#include "PlayerKeys.h"

namespace playerkeys {

Action actionFor(int key, Qt::KeyboardModifiers modifiers, bool editing) {
    if (editing || (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return {};
    const int step = (modifiers & Qt::ShiftModifier) ? 60 : 10;
    switch (key) {
    case Qt::Key_Space: return {Command::PlayPause};
    case Qt::Key_Home: return {Command::Stop};
    case Qt::Key_Left: return {Command::Seek, -step};
    case Qt::Key_Right: return {Command::Seek, step};
    case Qt::Key_Plus:
    case Qt::Key_Equal: return {Command::Faster}; // "+" without Shift on most layouts
    case Qt::Key_Minus: return {Command::Slower};
    default: return {};
    }
}

} // namespace playerkeys
