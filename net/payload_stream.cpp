#include "net/payload_stream.h"

#include <algorithm>
#include <cstring>

namespace velt {

PayloadStream::PayloadStream(QObject* parent) : QIODevice(parent) {
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

void PayloadStream::setPayload(const char* data, qint64 size) {
    data_ = data;
    size_ = size;
    seek(0);
}

qint64 PayloadStream::readData(char* data, qint64 maxSize) {
    const qint64 n = std::clamp<qint64>(size_ - pos(), 0, maxSize);
    if (n > 0)
        std::memcpy(data, data_ + pos(), static_cast<std::size_t>(n));
    return n;
}

qint64 PayloadStream::writeData(const char*, qint64) {
    return -1;
}

} // namespace velt
