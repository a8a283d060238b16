// The note writer's file operations on Windows.
#include "note_files.h"

#include <QtGlobal>

#ifdef Q_OS_WIN

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <io.h>
#include <windows.h>

namespace tw::sync {
namespace {

QString systemError(DWORD error)
{
    wchar_t* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const QString message
        = text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("error %1").arg(error);
    LocalFree(text);
    return message;
}

std::wstring nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

} // namespace

QString NoteFiles::syncToDevice(QFileDevice& file)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    return FlushFileBuffers(handle) ? QString() : systemError(GetLastError());
}

QString NoteFiles::replace(const QString& from, const QString& to) const
{
    if (!MoveFileExW(nativePath(from).c_str(), nativePath(to).c_str(),
            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return systemError(GetLastError());
    return {};
}

QString NoteFiles::flushFileSystem(const QString& folder) const
{
    // The volume's own handle ("\\.\E:") flushes all of its file system.
    const QString drive = QFileInfo(folder).absoluteFilePath().left(2);
    const std::wstring volume = (QStringLiteral("\\\\.\\") + drive).toStdWString();
    HANDLE handle = CreateFileW(volume.c_str(), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // Without administrator rights the volume cannot be opened for writing;
        // the note and its folder were then written through (MOVEFILE_WRITE_THROUGH,
        // FlushFileBuffers on the note), which is what Windows offers.
        return error == ERROR_ACCESS_DENIED ? QString() : systemError(error);
    }
    const bool flushed = FlushFileBuffers(handle);
    const DWORD error = GetLastError();
    CloseHandle(handle);
    return flushed ? QString() : systemError(error);
}

} // namespace tw::sync

#endif
