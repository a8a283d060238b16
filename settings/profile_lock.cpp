#include "profile_lock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace tw::profile {

QString ProfileLock::lockPath(const QString& settingsPath)
{
    const QString target = QFileInfo(settingsPath).canonicalFilePath();
    return (target.isEmpty() ? settingsPath : target) + QStringLiteral(".lock");
}

#ifdef Q_OS_WIN

ProfileLock::ProfileLock(const QString& settingsPath)
{
    const std::wstring path = QDir::toNativeSeparators(lockPath(settingsPath)).toStdWString();
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN,
        nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    // Blocks until no other handle holds the first byte's lock; the file need not be
    // that long.
    OVERLAPPED firstByte {};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &firstByte)) {
        CloseHandle(file);
        return;
    }
    m_handle = reinterpret_cast<qintptr>(file);
}

ProfileLock::~ProfileLock()
{
    if (!isHeld())
        return;
    const auto file = reinterpret_cast<HANDLE>(m_handle);
    OVERLAPPED firstByte {};
    UnlockFileEx(file, 0, 1, 0, &firstByte);
    CloseHandle(file);
}

#else

ProfileLock::ProfileLock(const QString& settingsPath)
{
    const QByteArray path = QFile::encodeName(lockPath(settingsPath));
    // Never blocks on opening (a FIFO planted under the name), never follows a link.
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | kFlags, 0666);
    if (fd < 0) // a lock file another user made: reading is enough to lock it
        fd = ::open(path.constData(), O_RDONLY | kFlags);
    if (fd < 0)
        return;
    int result = 0;
    do
        result = ::flock(fd, LOCK_EX);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(fd);
        return;
    }
    m_handle = fd;
}

ProfileLock::~ProfileLock()
{
    if (isHeld())
        ::close(static_cast<int>(m_handle)); // closing releases the lock
}

#endif

} // namespace tw::profile
