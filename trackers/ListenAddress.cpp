#include "ListenAddress.h"

#include "VantrelError.h"

namespace trackers {

ListenAddress ListenAddress::parse(const QString& text) {
    const auto fail = [&text](const QString& why) {
        return VantrelError(QStringLiteral("--listen «%1»: %2").arg(text, why));
    };
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    if (equals < 0)
        throw fail(QStringLiteral("нужно ПРОТОКОЛ=АДРЕС:ПОРТ, например osmand=127.0.0.1:5055"));
    ListenAddress result;
    result.protocol = text.left(equals);
    if (result.protocol != QLatin1String("osmand") && result.protocol != QLatin1String("codec8"))
        throw fail(QStringLiteral("протокол должен быть osmand или codec8"));
    const QString where = text.mid(equals + 1);
    const qsizetype colon = where.lastIndexOf(QLatin1Char(':'));
    QString host = colon < 0 ? QString() : where.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = where.mid(colon + 1).toUInt(&ok);
    if (!ok || port > 65535) // 0: the system chooses a free port, as tests do
        throw fail(QStringLiteral("порт должен быть числом от 0 до 65535"));
    result.port = quint16(port);
    result.address = host.isEmpty() ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(host);
    if (result.address.isNull())
        throw fail(QStringLiteral("адрес «%1» не распознан").arg(host));
    return result;
}

} // namespace trackers
