#include "QuotedArgument.h"

QString quotedArgument(const QString& text) {
    constexpr qsizetype kShown = 200;
    if (text.size() <= kShown)
        return text;
    return text.left(kShown) + QStringLiteral("… (ещё %1 знаков)").arg(text.size() - kShown);
}
