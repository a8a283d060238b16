// Feeds random settings files and random calls to the profile-string engine and
// checks what must hold whatever the input:
//  - a read places at most what its buffer holds, ends it with NUL, and never
//    writes past the buffer;
//  - a failed write leaves the file exactly as it was;
//  - setting a value changes bytes within one line only (or inserts whole lines),
//    and removing keeps every other line as it was, in order;
//  - a value set through a plain name reads back as written.
#include "settings/profile_strings.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

namespace {

// In memory where the system has a RAM file system: the engine syncs each file it
// writes, which on a disk would slow the fuzzer to a crawl.
QTemporaryDir makeFolder()
{
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        return QTemporaryDir(QStringLiteral("/dev/shm/settings_fuzz-XXXXXX"));
    return QTemporaryDir();
}

const QString& settingsPath()
{
    static QTemporaryDir dir = makeFolder();
    static const QString path = dir.filePath(QStringLiteral("control.ini"));
    return path;
}

void writeFile(const QByteArray& bytes)
{
    QFile file(settingsPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(bytes);
}

QByteArray readFile()
{
    QFile file(settingsPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Names from a small alphabet, so that calls meet the file's names often.
std::string randomName(FuzzedDataProvider& input)
{
    static const char kAlphabet[] = "aAbB \t=];[\"'\r\n\xC9\xE9";
    std::string name;
    const auto length = input.ConsumeIntegralInRange<int>(0, 4);
    for (int i = 0; i < length; ++i)
        name += kAlphabet[input.ConsumeIntegralInRange<std::size_t>(0, sizeof kAlphabet - 2)];
    return name;
}

bool isPlain(const std::string& text)
{
    for (const char c : text) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
            return false;
    }
    return !text.empty();
}

// The lines without their line ends (CR LF, a lone CR, a lone LF); no empty piece
// after a final line end.
QList<QByteArray> linesOf(const QByteArray& bytes)
{
    QList<QByteArray> lines;
    qsizetype begin = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n')
            continue;
        lines.append(bytes.mid(begin, i - begin));
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        begin = i + 1;
    }
    if (begin < bytes.size())
        lines.append(bytes.mid(begin));
    return lines;
}

// True when `after` is `before` with whole lines taken out.
bool onlyLinesRemoved(const QByteArray& before, const QByteArray& after)
{
    const QList<QByteArray> kept = linesOf(after);
    const QList<QByteArray> old = linesOf(before);
    qsizetype next = 0;
    for (const QByteArray& line : kept) {
        while (next < old.size() && old[next] != line)
            ++next;
        if (next == old.size())
            return false;
        ++next;
    }
    return true;
}

// True when the bytes that differ lie within one line of `before`.
bool changedWithinOneLine(const QByteArray& before, const QByteArray& after)
{
    qsizetype prefix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix
        && before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    const QByteArray changed = before.mid(prefix, before.size() - prefix - suffix);
    return !changed.contains('\n') && !changed.contains('\r');
}

void readCall(FuzzedDataProvider& input)
{
    const int shape = input.ConsumeIntegralInRange<int>(0, 2);
    const std::string section = randomName(input);
    const std::string key = randomName(input);
    const std::string fallback = randomName(input);
    const auto size = input.ConsumeIntegralInRange<qsizetype>(0, 300);
    QByteArray buffer(size + 16, '\x7f');
    const qsizetype count = tw::profile::readProfileString(shape == 0 ? nullptr : section.c_str(),
        shape == 2 ? key.c_str() : nullptr, fallback.c_str(), buffer.data(), size, settingsPath());
    check(count >= 0);
    for (qsizetype i = size; i < buffer.size(); ++i)
        check(buffer[i] == '\x7f');
    if (size == 0) {
        check(count == 0);
        return;
    }
    check(count <= size - 1);
    check(buffer[count] == '\0');
}

void writeCall(FuzzedDataProvider& input)
{
    const int shape = input.ConsumeIntegralInRange<int>(0, 2);
    const std::string section = randomName(input);
    const std::string key = randomName(input);
    const std::string value = input.ConsumeRandomLengthString(40);
    const QByteArray before = readFile();
    const bool existed = QFile::exists(settingsPath());
    const char* keyArg = shape == 0 ? nullptr : key.c_str();
    const char* valueArg = shape == 2 ? value.c_str() : nullptr;
    const int32_t result = tw::profile::writeProfileString(section.c_str(), keyArg, valueArg, settingsPath());
    const QByteArray after = readFile();
    if (result == 0) {
        check(after == before);
        return;
    }
    if (!existed)
        return;
    check(shape == 2 ? changedWithinOneLine(before, after) : onlyLinesRemoved(before, after));
    if (shape == 2 && isPlain(section) && isPlain(key) && value.find_first_of("\"' \t\v") == std::string::npos
        && !before.startsWith("\xFF\xFE") && !before.startsWith("\xFE\xFF")) {
        char buffer[255];
        const qsizetype count = tw::profile::readProfileString(
            section.c_str(), key.c_str(), "#none#", buffer, 255, settingsPath());
        check(QByteArray(buffer, count) == QByteArray(value.c_str()).left(254));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto fileLength = input.ConsumeIntegralInRange<std::size_t>(0, 4096);
    const std::string file = input.ConsumeBytesAsString(fileLength);
    writeFile(QByteArray(file.data(), static_cast<qsizetype>(file.size())));
    for (int call = 0; call < 16 && input.remaining_bytes() > 0; ++call) {
        if (input.ConsumeBool())
            readCall(input);
        else
            writeCall(input);
    }
    return 0;
}
