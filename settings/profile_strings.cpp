#include "profile_strings.h"

#include "profile_document.h"
#include "profile_lock.h"
#include "profile_names.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstring>
#include <optional>

namespace tw::profile {
namespace {

enum class FileState { Missing, Present, Unusable };

FileState stateOf(const QString& path)
{
    if (path.isEmpty())
        return FileState::Unusable;
    const QFileInfo info(path);
    if (!info.exists())
        return FileState::Missing;
    // Folders, pipes and devices are no settings files; reading a pipe could block.
    if (!info.isFile() || info.size() > kMaxFileSize)
        return FileState::Unusable;
    return FileState::Present;
}

// Reads what the file holds: as many bytes as it has now (one more to see that it
// ended), then whatever it grew by meanwhile in small steps, never more than
// kMaxFileSize + 1 bytes in all.
std::optional<QByteArray> readWhole(QFile& file)
{
    constexpr qsizetype kGrowthStep = 64 * 1024;
    QByteArray bytes;
    qsizetype wanted = std::min<qsizetype>(file.size(), kMaxFileSize) + 1;
    for (;;) {
        const qsizetype before = bytes.size();
        bytes.resize(before + wanted);
        const qint64 got = file.read(bytes.data() + before, wanted);
        if (got < 0)
            return std::nullopt;
        bytes.resize(before + got);
        if (got < wanted || bytes.size() > kMaxFileSize)
            return bytes;
        wanted = std::min(kGrowthStep, kMaxFileSize + 1 - bytes.size());
    }
}

struct LoadedFile {
    FileState state = FileState::Missing;
    QByteArray bytes;
};

LoadedFile loadFile(const QString& path)
{
    const FileState state = stateOf(path);
    if (state != FileState::Present)
        return { state, {} };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return { FileState::Unusable, {} };
    std::optional<QByteArray> bytes = readWhole(file);
    if (!bytes || bytes->size() > kMaxFileSize)
        return { FileState::Unusable, {} };
    return { FileState::Present, std::move(*bytes) };
}

// Replaces the file through a temporary file in the same folder. Unbuffered, so
// that a short write (a full disk, a file size limit) is seen here: through its
// buffer QSaveFile can take a short write for a whole one and commit a cut file.
bool saveFile(const QString& path, const QByteArray& bytes)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isWritable())
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    qsizetype written = 0;
    while (written < bytes.size()) {
        const qint64 chunk = file.write(bytes.constData() + written, bytes.size() - written);
        if (chunk <= 0) {
            file.cancelWriting();
            return false;
        }
        written += chunk;
    }
    return file.commit();
}

// Copies `text` into the buffer, cut to size - 1, NUL-terminated.
qsizetype copyText(QByteArrayView text, char* buffer, qsizetype size)
{
    const qsizetype count = std::min(text.size(), size - 1);
    if (count > 0)
        std::memcpy(buffer, text.data(), static_cast<std::size_t>(count));
    buffer[count] = '\0';
    return count;
}

// Places names one after another, each followed by a NUL, the whole list followed
// by one more NUL; a name that does not fit is cut and ends the list.
class NameListWriter {
public:
    NameListWriter(char* buffer, qsizetype size)
        : m_buffer(buffer)
        , m_size(size)
    {
    }

    // Returns false once the list is full (the name was cut or dropped).
    bool add(QByteArrayView name)
    {
        ++m_names;
        if (m_truncated)
            return false;
        const qsizetype room = m_size - 1 - m_used; // chars left before the closing NUL
        if (name.size() + 1 >= room) {
            const qsizetype copied = std::max<qsizetype>(room - 1, 0);
            if (copied > 0)
                std::memcpy(m_buffer + m_used, name.data(), static_cast<std::size_t>(copied));
            m_used += copied;
            m_truncated = true;
            return false;
        }
        std::memcpy(m_buffer + m_used, name.data(), static_cast<std::size_t>(name.size()));
        m_used += name.size();
        m_buffer[m_used++] = '\0';
        return true;
    }

    bool isEmpty() const { return m_names == 0; }

    // Closes the list and returns its length.
    qsizetype finish()
    {
        if (m_size == 1) {
            m_buffer[0] = '\0';
            return 0;
        }
        if (m_truncated) {
            m_buffer[m_size - 2] = '\0';
            m_buffer[m_size - 1] = '\0';
            return m_size - 2;
        }
        m_buffer[m_used] = '\0';
        if (m_used == 0)
            m_buffer[1] = '\0';
        return m_used;
    }

private:
    char* m_buffer;
    qsizetype m_size;
    qsizetype m_used = 0;
    qsizetype m_names = 0;
    bool m_truncated = false;
};

QByteArrayView withoutQuotes(QByteArrayView value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.sliced(1, value.size() - 2);
    return value;
}

QByteArrayView withoutTrailingSpaces(QByteArrayView text)
{
    while (!text.isEmpty() && text.back() == ' ')
        text.chop(1);
    return text;
}

bool holdsLineBreak(QByteArrayView text)
{
    return text.contains('\n') || text.contains('\r');
}

// True when the line a set writes would read back as written. Removals need no
// such check: a name that cannot be in the file removes nothing.
bool canBeWritten(QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    // Tabs or VTs at a name's ends would be trimmed on reading: each later write
    // would miss the line and add another.
    const auto blankAtEnds
        = [](QByteArrayView name) { return withoutSurroundingBlanks(name).size() != name.size(); };
    if (holdsLineBreak(section) || section.contains(']') || blankAtEnds(section))
        return false;
    if (holdsLineBreak(key) || key.contains('=') || key.startsWith(';') || key.startsWith('[')
        || blankAtEnds(key))
        return false;
    return !holdsLineBreak(value);
}

} // namespace

qsizetype readProfileString(const char* section, const char* key, const char* defaultText, char* buffer,
    qsizetype size, const QString& path)
{
    if (buffer == nullptr || size <= 0)
        return 0;
    const QByteArrayView fallback = withoutTrailingSpaces(defaultText != nullptr ? defaultText : "");
    LoadedFile file = loadFile(path);
    const ProfileDocument document(std::move(file.bytes));

    if (section == nullptr) {
        NameListWriter list(buffer, size);
        document.visitSectionNames([&list](QByteArrayView name) { return list.add(name); });
        return list.finish();
    }
    const QByteArrayView sectionName = withoutSurroundingSpaces(section);
    if (key == nullptr) {
        NameListWriter list(buffer, size);
        document.visitKeyNames(sectionName, [&list](QByteArrayView name) { return list.add(name); });
        if (list.isEmpty())
            return copyText(fallback, buffer, size);
        return list.finish();
    }
    const std::optional<QByteArrayView> value = document.value(sectionName, withoutSurroundingSpaces(key));
    return copyText(value ? withoutQuotes(*value) : fallback, buffer, size);
}

int32_t writeProfileString(const char* section, const char* key, const char* value, const QString& path)
{
    if (section == nullptr)
        return 0;
    const QByteArrayView sectionName = withoutSurroundingSpaces(section);
    if (key != nullptr && value != nullptr
        && !canBeWritten(sectionName, withoutSurroundingSpaces(key), value))
        return 0;

    const bool removing = key == nullptr || value == nullptr;
    // Checked before locking, so that no lock file is made beside a folder or for
    // removing what does not exist.
    const FileState state = stateOf(path);
    if (state == FileState::Unusable)
        return 0;
    if (state == FileState::Missing && removing)
        return 1;

    // Another process's write between this read and the replacement below would
    // otherwise be lost.
    const ProfileLock lock(path);
    LoadedFile file = loadFile(path);
    if (file.state == FileState::Unusable)
        return 0;
    if (file.state == FileState::Missing && removing)
        return 1;

    ProfileDocument document(std::move(file.bytes));
    EditResult result = EditResult::Refused;
    if (key == nullptr)
        result = document.removeSection(sectionName);
    else if (value == nullptr)
        result = document.removeKey(sectionName, withoutSurroundingSpaces(key));
    else
        result = document.setValue(sectionName, withoutSurroundingSpaces(key), value);

    switch (result) {
    case EditResult::Refused:
        return 0;
    case EditResult::Unchanged:
        return 1;
    case EditResult::Changed:
        break;
    }
    return saveFile(path, document.bytes()) ? 1 : 0;
}

} // namespace tw::profile
