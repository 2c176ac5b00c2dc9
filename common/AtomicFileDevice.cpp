#include "AtomicFileDevice.h"

namespace {
constexpr qsizetype kChunkBytes = 1 << 20;
}

AtomicFileDevice::AtomicFileDevice(const QString& target) : file_(target) {
    chunk_.reserve(kChunkBytes + 4096);
    open(QIODevice::WriteOnly | QIODevice::Unbuffered); // it buffers itself
}

void AtomicFileDevice::check() const {
    if (failure_)
        std::rethrow_exception(failure_);
}

void AtomicFileDevice::commit() {
    flushChunk();
    check();
    file_.commit();
}

qint64 AtomicFileDevice::writeData(const char* data, qint64 length) {
    if (failure_)
        return -1;
    chunk_.append(data, qsizetype(length));
    if (chunk_.size() >= kChunkBytes)
        flushChunk();
    return failure_ ? -1 : length;
}

void AtomicFileDevice::flushChunk() {
    if (failure_ || chunk_.isEmpty())
        return;
    writing(chunk_);
    try {
        file_.write(chunk_);
    } catch (...) {
        failure_ = std::current_exception();
    }
    chunk_.resize(0); // keeps the allocation for the next chunk
}
