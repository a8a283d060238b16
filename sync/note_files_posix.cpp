// The note writer's file operations on POSIX systems.
#include "note_files.h"

#include <QtGlobal>

#ifndef Q_OS_WIN

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace tw::sync {
namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QString NoteFiles::syncToDevice(QFileDevice& file)
{
    return ::fsync(file.handle()) == 0 ? QString() : systemError(errno);
}

QString NoteFiles::replace(const QString& from, const QString& to) const
{
    // rename() replaces the old file in one step.
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return systemError(errno);
    return {};
}

QString NoteFiles::flushFileSystem(const QString& folder) const
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return systemError(errno);
#ifdef Q_OS_LINUX
    // fsync on the note and its folder is not enough on FAT: the file
    // allocation table that the new directory entry points into may still be in
    // memory. syncfs writes all of the file system and reports a write-back error.
    const int result = ::syncfs(fd);
#else
    const int result = ::fsync(fd);
    if (result == 0)
        ::sync();
#endif
    const int error = errno;
    ::close(fd);
    return result == 0 ? QString() : systemError(error);
}

} // namespace tw::sync

#endif
