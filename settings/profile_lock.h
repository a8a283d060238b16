#pragma once
// The lock that makes each read-modify-write of a settings file one step for every
// process that writes it: an advisory lock on a lock file beside the settings file
// (its name with ".lock" appended; flock on Linux, LockFileEx on Windows). The lock
// file is made on first use and left in place; it stays empty.
//
// Reads take no lock: a write replaces the settings file whole (rename), so a read
// sees the old file or the new one, never a mixture.
//
// Where no lock can be had (a folder that is not writable, a file system without
// locks), the holder goes ahead without one: the write is then as safe as a single
// writer's, and the write itself still reports whether it succeeded.

#include <QString>
#include <QtGlobal>

namespace tw::profile {

class ProfileLock {
public:
    // Waits until the lock of the settings file at `settingsPath` is free and takes
    // it. A symbolic link to the settings file shares the lock of its target.
    explicit ProfileLock(const QString& settingsPath);
    // Releases the lock.
    ~ProfileLock();

    ProfileLock(const ProfileLock&) = delete;
    ProfileLock& operator=(const ProfileLock&) = delete;

    bool isHeld() const { return m_handle != kNoHandle; }

    // The lock file of the settings file at `settingsPath`.
    static QString lockPath(const QString& settingsPath);

private:
    static constexpr qintptr kNoHandle = -1;
    qintptr m_handle = kNoHandle; // a file descriptor, or a Windows file handle
};

} // namespace tw::profile
