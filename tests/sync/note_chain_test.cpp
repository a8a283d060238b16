// Long directions as a chain of pages the device shows whole, the flush that
// makes a sync durable, and a device that goes away while it is written.
#include "sync/note_pages.h"
#include "sync/note_writer.h"
#include "tests/support/failing_device.h"
#include "tests/support/temp_drives.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

using tw::sync::NoteOutcome;
using tw::sync::saveFiles;
using tw::test::TempDrives;

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Every file under `folder`, with its bytes.
QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path), readFile(path));
    }
    return files;
}

// Steps of about 60 bytes, the last one padded so that the one-page note of
// the text would be `noteSize` bytes.
QString route(qsizetype noteSize)
{
    QStringList steps;
    qsizetype size = tw::sync::noteBytes(QString()).size();
    for (int n = 1; size < noteSize - 70; ++n) {
        steps.append(QStringLiteral("%1. Turn LEFT onto <B>Oak Ave</B> - go 0.4 mi").arg(n));
        size += steps.last().size() + (n > 1 ? 2 : 0);
    }
    steps.append(QStringLiteral("%1. Arrive at ").arg(steps.size() + 1));
    const qsizetype missing = noteSize - tw::sync::noteBytes(steps.join(u"\r\n")).size();
    steps.last().append(QString(missing, u'x'));
    return steps.join(u"\r\n");
}

// The device's file operations without waiting for the disk: for tests that
// write many pages and are not about durability.
struct CachedFiles : tw::sync::NoteFiles {
    QString finish(QIODevice& device, const QByteArray& bytes) const override
    {
        const bool written = device.write(bytes) == bytes.size();
        device.close();
        return written ? QString() : QStringLiteral("write failed");
    }
    QString flushFileSystem(const QString&) const override { return {}; }
};

struct Chain {
    QList<QByteArray> pages;
    QStringList lines; // the text of all pages, without titles and links
};

// Reads the note as the device's note reader does: the first page, then each
// page its link names, relative to the folder of the page that holds it.
Chain readChain(const QString& notesFolder)
{
    static const QRegularExpression link(
        QStringLiteral("^<A HREF=\"([^\"]+)\">[^<]*</A>$"), QRegularExpression::CaseInsensitiveOption);
    Chain chain;
    QString path = notesFolder + QStringLiteral("/Tarnwickley.txt");
    while (!path.isEmpty() && chain.pages.size() <= tw::sync::kMaxNotePages) {
        const QByteArray bytes = readFile(path);
        chain.pages.append(bytes);
        QStringList lines = QString::fromLatin1(bytes).split(QStringLiteral("\r\n"));
        EXPECT_TRUE(lines.first().startsWith(u"<TITLE>Tarnwickley")) << qPrintable(path);
        EXPECT_TRUE(lines.last().isEmpty()) << qPrintable(path);
        lines.removeFirst();
        lines.removeLast();
        const auto match = link.match(lines.isEmpty() ? QString() : lines.last());
        if (match.hasMatch()) {
            path = QFileInfo(path).dir().filePath(match.captured(1));
            lines.removeLast();
        } else {
            path.clear();
        }
        chain.lines += lines;
    }
    return chain;
}

TEST(NoteChain, EveryStepCanBeReachedOnPagesTheDeviceShowsWhole)
{
    struct Case {
        qsizetype noteSize;
        qsizetype pages; // 0: as many as it takes
    };
    for (const Case c : { Case { 4095, 1 }, Case { 4096, 1 }, Case { 4097, 2 }, Case { 6 * 1024, 2 },
             Case { 100 * 1024, 0 }, Case { 1024 * 1024, 0 } }) {
        SCOPED_TRACE(c.noteSize);
        TempDrives drives;
        drives.addIpod(u'E', "");
        const QString text = route(c.noteSize);
        ASSERT_EQ(tw::sync::noteBytes(text).size(), c.noteSize);
        const auto result = saveFiles(drives, QStringLiteral("E:"), text, 2, CachedFiles());
        ASSERT_EQ(result.outcome, NoteOutcome::Written) << qPrintable(result.message);
        const Chain chain = readChain(drives.path(u'E', QStringLiteral("\\Notes")));
        if (c.pages > 0) {
            EXPECT_EQ(chain.pages.size(), c.pages);
        }
        EXPECT_EQ(chain.lines, text.split(QStringLiteral("\r\n")));
        for (const QByteArray& page : chain.pages)
            EXPECT_LE(page.size(), tw::sync::kNotePageBytes);
        if (c.pages == 1) {
            EXPECT_EQ(chain.pages.first(), tw::sync::noteBytes(text));
        }
    }
}

TEST(NoteChain, IsRefusedRatherThanCutWhenItWouldNeedTooManyPages)
{
    const QString text = route(tw::sync::kMaxNotePages * tw::sync::kNotePageBytes);
    EXPECT_TRUE(tw::sync::notePages(text, QStringLiteral("Tarnwickley_pages1")).isEmpty());
    TempDrives drives;
    drives.addIpod(u'E', "");
    const auto result = saveFiles(drives, QStringLiteral("E:"), text, 2);
    EXPECT_EQ(result.outcome, NoteOutcome::TooLong);
    EXPECT_EQ(result.caption, u"Close");
    EXPECT_TRUE(snapshot(drives.path(u'E', QStringLiteral("\\Notes"))).isEmpty());
}

TEST(NoteChain, ReplacesThePagesOfEarlierRoutesAndWhatAnInterruptedSyncLeft)
{
    TempDrives drives;
    drives.addIpod(u'E', "");
    const QString notes = drives.path(u'E', QStringLiteral("\\Notes"));
    drives.writeFile(u'E', QStringLiteral("\\Notes\\Shopping.txt"), "milk\r\n");
    // An interrupted sync's temporary note and pages.
    drives.writeFile(u'E', QStringLiteral("\\Notes\\Tarnwickley.txt.new"), "half");
    drives.writeFile(u'E', QStringLiteral("\\Notes\\Tarnwickley_pages1\\Page009.txt"), "stale");
    drives.writeFile(u'E', QStringLiteral("\\Notes\\Tarnwickley_pages2\\Page002.txt"), "stale");

    for (const qsizetype size : { 100 * 1024, 6 * 1024, 4 * 1024, 20 * 1024 }) {
        SCOPED_TRACE(size);
        const QString text = route(size);
        ASSERT_EQ(
            saveFiles(drives, QStringLiteral("E:"), text, 2, CachedFiles()).outcome, NoteOutcome::Written);
        const Chain chain = readChain(notes);
        EXPECT_EQ(chain.lines, text.split(QStringLiteral("\r\n")));
        // Exactly the pages of this route, and the other note.
        EXPECT_EQ(snapshot(notes).size(), chain.pages.size() + 1);
        EXPECT_EQ(readFile(notes + QStringLiteral("/Shopping.txt")), "milk\r\n");
    }
}

TEST(NoteChain, KeepsAnEarlierRouteWholeWhenOneOfItsPagesIsReadOnly)
{
    TempDrives drives;
    drives.addIpod(u'E', "");
    const QString notes = drives.path(u'E', QStringLiteral("\\Notes"));
    ASSERT_EQ(saveFiles(drives, QStringLiteral("E:"), route(20 * 1024), 2).outcome, NoteOutcome::Written);
    const QString page = notes + QStringLiteral("/Tarnwickley_pages1/Page003.txt");
    ASSERT_TRUE(QFile::setPermissions(page, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    const auto before = snapshot(notes);
    for (const qsizetype size : { 1000, 10 * 1024 }) {
        const auto result = saveFiles(drives, QStringLiteral("E:"), route(size), 2);
        EXPECT_EQ(result.outcome, NoteOutcome::RemovalRefused);
        EXPECT_EQ(result.message, u"Error has occured in removing file.. exiting");
        EXPECT_EQ(snapshot(notes), before);
    }
    QFile::setPermissions(page, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

TEST(NoteChain, KeepsTheEarlierRouteWholeWhenTheDeviceFillsUpPartWay)
{
    for (const int failFrom : { 1, 2, 3, 6 }) {
        SCOPED_TRACE(failFrom);
        TempDrives drives;
        drives.addIpod(u'E', "");
        const QString notes = drives.path(u'E', QStringLiteral("\\Notes"));
        ASSERT_EQ(saveFiles(drives, QStringLiteral("E:"), route(10 * 1024), 2).outcome, NoteOutcome::Written);
        const auto before = snapshot(notes);

        struct Filling : tw::sync::NoteFiles {
            int failFrom = 0;
            mutable int created = 0;
            std::unique_ptr<QIODevice> create(const QString& path) const override
            {
                auto file = NoteFiles::create(path);
                if (++created < failFrom)
                    return file;
                return std::make_unique<tw::test::FailingDevice>(std::move(file), 100);
            }
        } files;
        files.failFrom = failFrom;
        const auto result = saveFiles(drives, QStringLiteral("E:"), route(20 * 1024), 2, files);
        EXPECT_EQ(result.outcome, NoteOutcome::WriteFailed);
        EXPECT_EQ(snapshot(notes), before);
        EXPECT_FALSE(QFileInfo::exists(notes + QStringLiteral("/Tarnwickley_pages2")));
    }
}

// Records the order of the replacing rename and the file system flushes, and
// can fail a flush or pull the device out at one of the steps.
class WatchedFiles : public CachedFiles {
public:
    enum class Step { Create, Replace, Flush };
    WatchedFiles(TempDrives& drives, Step step, int nth, bool unplug)
        : m_drives(drives)
        , m_step(step)
        , m_nth(nth)
        , m_unplug(unplug)
    {
    }

    std::unique_ptr<QIODevice> create(const QString& path) const override
    {
        if (strike(Step::Create))
            return std::make_unique<QFile>(path); // not open
        return NoteFiles::create(path);
    }
    QString replace(const QString& from, const QString& to) const override
    {
        log.append(QStringLiteral("replace %1").arg(QFileInfo(to).fileName()));
        if (strike(Step::Replace))
            return QStringLiteral("No such device");
        return NoteFiles::replace(from, to);
    }
    QString flushFileSystem(const QString& folder) const override
    {
        log.append(QStringLiteral("flush"));
        if (strike(Step::Flush))
            return QStringLiteral("Input/output error");
        return CachedFiles::flushFileSystem(folder);
    }

    mutable QStringList log;

private:
    // Whether this call is the one to fail; pulls the device out then.
    bool strike(Step step) const
    {
        if (step != m_step || ++m_seen[int(step)] != m_nth)
            return false;
        if (m_unplug)
            m_drives.removeMedium(u'E');
        return true;
    }

    TempDrives& m_drives;
    Step m_step;
    int m_nth;
    bool m_unplug;
    mutable int m_seen[3] = {};
};

TEST(SaveFiles, FlushesTheFileSystemAfterTheNewNoteTakesItsPlaceAndBeforeSuccess)
{
    using Step = WatchedFiles::Step;
    TempDrives drives;
    drives.addIpod(u'E', "");
    WatchedFiles files(drives, Step::Create, 0, false);
    const auto result = saveFiles(drives, QStringLiteral("E:"), route(100), 2, files);
    EXPECT_EQ(result.outcome, NoteOutcome::Written);
    EXPECT_EQ(files.log, (QStringList { "flush", "replace Tarnwickley.txt", "flush" }));

    // A flush that fails: before the new note is in place nothing changed; after
    // it the sync is no success.
    struct Case {
        const char* name;
        Step step;
        int nth;
        bool unplug;
        NoteOutcome outcome;
        bool newNote;
    };
    const Case cases[] = {
        { "FirstFlushFails", Step::Flush, 1, false, NoteOutcome::WriteFailed, false },
        { "LastFlushFails", Step::Flush, 2, false, NoteOutcome::FlushFailed, true },
        { "UnpluggedWhileAPageIsCreated", Step::Create, 1, true, NoteOutcome::Disconnected, false },
        { "UnpluggedWhileTheFirstPageIsCreated", Step::Create, 2, true, NoteOutcome::Disconnected, false },
        { "UnpluggedDuringTheFirstFlush", Step::Flush, 1, true, NoteOutcome::Disconnected, false },
        { "UnpluggedAtTheRename", Step::Replace, 1, true, NoteOutcome::Disconnected, false },
        { "UnpluggedDuringTheLastFlush", Step::Flush, 2, true, NoteOutcome::FlushFailed, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDrives device;
        device.addIpod(u'E', "");
        const QString notes = device.path(u'E', QStringLiteral("\\Notes"));
        const QString oldRoute = route(5000);
        ASSERT_EQ(saveFiles(device, QStringLiteral("E:"), oldRoute, 2).outcome, NoteOutcome::Written);
        const auto before = snapshot(notes);
        const QString newRoute = route(6000);
        WatchedFiles failing(device, c.step, c.nth, c.unplug);
        const auto failed = saveFiles(device, QStringLiteral("E:"), newRoute, 2, failing);
        EXPECT_EQ(failed.outcome, c.outcome);
        EXPECT_EQ(failed.caption, u"Close");
        EXPECT_FALSE(failed.message.isEmpty());
        if (!c.unplug) {
            EXPECT_EQ(
                readChain(notes).lines, (c.newNote ? newRoute : oldRoute).split(QStringLiteral("\r\n")));
        }
        if (!c.unplug && !c.newNote) {
            EXPECT_EQ(snapshot(notes), before);
        }
    }
}

} // namespace
