#pragma once

#include "TrackerPosition.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace trackers {

// CRC-16/IBM (polynomial 0xA001 reflected, initial 0), as the hardware trackers' AVL packets
// carry it over their data field.
quint16 crc16Ibm(const uint8_t* data, size_t size);

// Decodes the hardware trackers' TCP stream, without any socket: first the IMEI handshake
// (2-byte length, the digits), then AVL packets of Codec 8 or Codec 8 Extended (4 zero bytes,
// 4-byte data length, codec id, record count, records, the count again, CRC-16/IBM). Bytes are
// fed as they arrive; next() hands out what they complete. A partial packet holds at most
// kMaxPacketBytes; a data length above that, or a broken handshake, ends the stream.
class Codec8Stream {
public:
    static constexpr qsizetype kMaxPacketBytes = 64 * 1024;
    static constexpr qsizetype kMaxDataLength = kMaxPacketBytes - 12;

    struct Event {
        enum Kind {
            NeedMore,   // nothing complete yet
            Identified, // the handshake: `ident` is the IMEI; answer 0x01 or 0x00
            Packet,     // a whole, valid packet: `records`; answer their count once stored
            BadPacket,  // a framed packet that must not be acknowledged: `reason`; the stream goes on
            Fatal,      // the stream cannot go on: `reason`; close the connection
        };
        Kind kind = NeedMore;
        QString ident;
        std::vector<TrackerPosition> records;
        int count = 0; // the records the packet announced
        QString reason;
    };

    // Appends received bytes; at most kMaxPacketBytes may wait undecoded (read in such chunks).
    void feed(const char* data, qsizetype size);
    Event next();
    qsizetype buffered() const { return qsizetype(buffer_.size() - start_); }
    // How many bytes to read at most now, so the buffer stays within its bound.
    qsizetype room() const { return kMaxPacketBytes - buffered(); }

    // Decodes the data field (codec id to the second count); an error text when it is not valid.
    static QString decodeData(const uint8_t* data, size_t size, std::vector<TrackerPosition>& records, int& count);

private:
    Event fatal(const QString& reason);

    std::vector<uint8_t> buffer_;
    size_t start_ = 0;
    bool identified_ = false;
    bool ended_ = false;
};

} // namespace trackers
