#pragma once
// A write-only QIODevice that fails part-way, for tests of code that writes
// files: it passes the first `limit` bytes on to an inner device (a file, so the
// half-written file is really there) and then refuses, as a full or pulled-out
// disk does. The write that crosses the limit writes what fits and returns that
// short count; later writes return -1 with the error "No space left on device".

#include <QIODevice>

#include <memory>

namespace tw::test {

class FailingDevice final : public QIODevice {
public:
    // `inner` must be open for writing (or null: the bytes are only counted). The
    // device opens itself write-only.
    FailingDevice(std::unique_ptr<QIODevice> inner, qint64 limit);
    ~FailingDevice() override;

    void close() override;
    bool isSequential() const override { return true; }

    qint64 bytesPassed() const { return m_passed; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    std::unique_ptr<QIODevice> m_inner;
    qint64 m_limit;
    qint64 m_passed = 0;
};

} // namespace tw::test
