#include "OsmAndListener.h"

#include "HttpTcpServer.h"
#include "OsmAndDecoder.h"
#include "PositionCheck.h"
#include "TrackerHub.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTcpSocket>
#include <memory>

namespace trackers {
namespace {

using Status = QHttpServerResponder::StatusCode;

void answer(QHttpServerResponder& responder, Status status, const QString& text) {
    responder.write(text.toUtf8() + '\n', "text/plain; charset=utf-8", status);
}

} // namespace

OsmAndListener::OsmAndListener(TrackerHub& hub, int idleMs, QObject* parent)
    : QAbstractHttpServer(parent), hub_(hub), idleMs_(idleMs) {}

bool OsmAndListener::listen(const QHostAddress& address, quint16 port, QString* reason) {
    auto* server = new HttpTcpServer(idleMs_, OsmAndDecoder::kMaxRequestBytes, this);
    server->setListenBacklogSize(1024); // a thousand phones reconnecting at once
    server->setMaxPendingConnections(1024);
    if (!server->listen(address, port)) {
        *reason = server->errorString();
        delete server;
        return false;
    }
    port_ = server->serverPort();
    bind(server);
    return true;
}

bool OsmAndListener::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    const QString where = QStringLiteral("osmand %1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
    QHttpServerResponder responder = makeResponder(request, socket);
    const auto refuse = [&](Status status, const QString& why) {
        hub_.refused(where, why);
        answer(responder, status, why);
        return true;
    };
    if (request.method() != QHttpServerRequest::Method::Get && request.method() != QHttpServerRequest::Method::Post)
        return refuse(Status::MethodNotAllowed, QStringLiteral("нужен GET или POST"));
    if (request.url().path() != QLatin1String("/"))
        return refuse(Status::NotFound, QStringLiteral("позиции принимаются только по адресу /"));
    const QByteArray query = request.url().query(QUrl::FullyEncoded).toLatin1();
    const OsmAndResult result = OsmAndDecoder::decode(query, request.value(QByteArrayLiteral("content-type")), request.body());
    if (!result.position)
        return refuse(Status::BadRequest, result.refusal);
    const QString why = refusalOf(result.position->position, QDateTime::currentMSecsSinceEpoch());
    if (!why.isEmpty())
        return refuse(Status::BadRequest, QStringLiteral("позиция отклонена: ") + why);
    const std::optional<int> device = hub_.deviceOf(result.position->ident, where);
    if (!device) {
        answer(responder, Status::Forbidden, QStringLiteral("неизвестный прибор"));
        return true;
    }
    // Answered once stored; the responder writes to the socket, so it must still be there.
    auto pending = std::make_shared<QHttpServerResponder>(std::move(responder));
    QElapsedTimer arrived;
    arrived.start();
    hub_.store(*device, where, {result.position->position}, [this, pending, arrived, alive = QPointer<QTcpSocket>(socket)](bool stored) {
        if (!alive || alive->state() != QAbstractSocket::ConnectedState)
            return;
        if (stored) {
            answer(*pending, Status::Ok, QStringLiteral("OK"));
            hub_.noteAcknowledged(arrived.elapsed());
        }
        else {
            answer(*pending, Status::ServiceUnavailable, QStringLiteral("позиция не сохранена, пришлите её снова"));
        }
    });
    return true;
}

void OsmAndListener::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    QHttpServerResponder responder = makeResponder(request, socket);
    answer(responder, Status::NotFound, QStringLiteral("нет такого адреса"));
}

} // namespace trackers
