#include "Codec8Connection.h"

#include "IdleTimeout.h"
#include "TrackerHub.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpSocket>
#include <QtEndian>

namespace trackers {

Codec8Connection::Codec8Connection(qintptr descriptor, TrackerHub& hub, IdleTimeout& idle, QObject* parent)
    : QObject(parent), socket_(new QTcpSocket(this)), hub_(hub) {
    socket_->setSocketDescriptor(descriptor);
    socket_->setReadBufferSize(Codec8Stream::kMaxPacketBytes);
    where_ = QStringLiteral("codec8 %1:%2").arg(socket_->peerAddress().toString()).arg(socket_->peerPort());
    idle.watch(socket_);
    connect(socket_, &QTcpSocket::readyRead, this, &Codec8Connection::readMore);
    connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    connect(socket_, &QTcpSocket::errorOccurred, this, [this] {
        if (socket_->state() == QAbstractSocket::UnconnectedState)
            deleteLater();
    });
}

void Codec8Connection::readMore() {
    char chunk[16384];
    while (!waiting_ && !closing_) {
        Codec8Stream::Event event = stream_.next();
        if (event.kind != Codec8Stream::Event::NeedMore) {
            if (!handle(std::move(event)))
                return;
            continue;
        }
        const qint64 got = socket_->read(chunk, std::min<qint64>(sizeof chunk, stream_.room()));
        if (got <= 0)
            return;
        stream_.feed(chunk, got);
    }
}

bool Codec8Connection::handle(Codec8Stream::Event event) {
    using Event = Codec8Stream::Event;
    switch (event.kind) {
    case Event::Identified:
        where_ += QStringLiteral(" IMEI ") + event.ident;
        device_ = hub_.deviceOf(event.ident, where_);
        socket_->write(device_ ? "\x01" : "\x00", 1);
        if (!device_) {
            close();
            return false;
        }
        return true;
    case Event::Packet: {
        waiting_ = true;
        const quint32 count = quint32(event.count);
        QElapsedTimer arrived;
        arrived.start();
        hub_.store(*device_, where_, event.records, [self = QPointer(this), count, arrived](bool stored) {
            if (!self || self->closing_)
                return;
            self->waiting_ = false;
            if (!stored) { // the tracker sends the packet again on a new connection
                self->close();
                return;
            }
            char answer[4];
            qToBigEndian(count, answer);
            self->socket_->write(answer, 4);
            self->hub_.noteAcknowledged(arrived.elapsed());
            self->readMore();
        });
        return false;
    }
    case Event::BadPacket:
        hub_.refused(where_, event.reason);
        return true;
    case Event::Fatal:
        hub_.refused(where_, event.reason + QStringLiteral("; соединение закрыто"));
        close();
        return false;
    case Event::NeedMore:
        break;
    }
    return false;
}

void Codec8Connection::close() {
    closing_ = true;
    socket_->disconnectFromHost(); // after what was written is sent; `disconnected` deletes this
    if (socket_->state() == QAbstractSocket::UnconnectedState)
        deleteLater();
}

} // namespace trackers
