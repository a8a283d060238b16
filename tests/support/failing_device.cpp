#include "failing_device.h"

#include <algorithm>

namespace tw::test {

FailingDevice::FailingDevice(std::unique_ptr<QIODevice> inner, qint64 limit)
    : m_inner(std::move(inner))
    , m_limit(limit)
{
    QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

FailingDevice::~FailingDevice() { FailingDevice::close(); }

void FailingDevice::close()
{
    if (m_inner)
        m_inner->close();
    QIODevice::close();
}

qint64 FailingDevice::readData(char*, qint64) { return -1; }

qint64 FailingDevice::writeData(const char* data, qint64 size)
{
    const qint64 room = m_limit - m_passed;
    if (room <= 0) {
        setErrorString(QStringLiteral("No space left on device"));
        return -1;
    }
    const qint64 count = std::min(room, size);
    if (m_inner && m_inner->write(data, count) != count) {
        setErrorString(m_inner->errorString());
        return -1;
    }
    m_passed += count;
    if (count < size)
        setErrorString(QStringLiteral("No space left on device"));
    return count;
}

} // namespace tw::test
