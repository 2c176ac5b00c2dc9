#pragma once

#include "Codec8Stream.h"

#include <QByteArray>

// A whole AVL packet around a data field (codec id to the second count), with its CRC.
inline QByteArray avlPacket(const QByteArray& data) {
    QByteArray out(4, '\0');
    for (int shift : {24, 16, 8, 0})
        out += char((quint32(data.size()) >> shift) & 0xff);
    out += data;
    const quint16 crc = trackers::crc16Ibm(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size()));
    out += QByteArray(2, '\0');
    out += char(crc >> 8);
    out += char(crc & 0xff);
    return out;
}

inline QByteArray imeiHello(const QByteArray& imei) {
    return QByteArray(1, '\0') + char(imei.size()) + imei;
}
