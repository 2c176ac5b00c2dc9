#include "PrefixedText.h"

#include "LargePages.h"

QString prefixedText(const QString& prefix, const QString& text) {
    QString joined;
    joined.reserve(prefix.size() + text.size());
    largepages::advise(joined.constData(), size_t(joined.capacity()) * sizeof(QChar));
    joined.append(prefix).append(text);
    return joined;
}
