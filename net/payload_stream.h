#pragma once

#include <QIODevice>

namespace velt {

// A read-only stream over one datagram's bytes. One instance is reused for every
// datagram so that the receive path allocates nothing per datagram.
class PayloadStream final : public QIODevice {
    Q_OBJECT
public:
    explicit PayloadStream(QObject* parent = nullptr);

    // The bytes must stay valid until the next call; the stream is positioned at the first.
    void setPayload(const char* data, qint64 size);

    bool isSequential() const override { return false; }
    qint64 size() const override { return size_; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    const char* data_ = nullptr;
    qint64 size_ = 0;
};

} // namespace velt
