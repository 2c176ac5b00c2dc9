#include "Store.h"

#include "PostgresStore.h"
#include "SqliteStore.h"

namespace vserver {

bool Store::isDatabaseUri(const QString& text) {
    return text.startsWith(QLatin1String("postgresql://")) || text.startsWith(QLatin1String("postgres://"));
}

Store::Store(const QString& pathOrUri, Opening opening) {
    if (isDatabaseUri(pathOrUri))
        engine_ = std::make_unique<PostgresStore>(pathOrUri);
    else
        engine_ = std::make_unique<SqliteStore>(pathOrUri, opening == Opening::Existing);
}

} // namespace vserver
