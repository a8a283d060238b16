// tw-note-sync: one sync as the sync window makes it, without the window, for
// checks on real file systems (tools/vfat/powercut): finds the iPod among the
// mounted drives, reads its version and writes the directions from a UTF-8 file
// as the note.
//
//   tw-note-sync [--root FOLDER] [--no-flush] TEXTFILE
//     --root FOLDER  the device is the one mounted at FOLDER (no drive scan)
//     --no-flush     leave out the file system flushes, to show what they prevent
//
// Prints the outcome; exits 0 when the sync succeeded ("Sync Successful!").
#include "sync/device_detection.h"
#include "sync/device_identity.h"
#include "sync/drive_table.h"
#include "sync/note_writer.h"

#include <QFile>

#include <cstdio>

namespace {

struct NoFlush : tw::sync::NoteFiles {
    QString flushFileSystem(const QString&) const override { return {}; }
};

int usage()
{
    std::fputs("usage: tw-note-sync [--root FOLDER] [--no-flush] TEXTFILE\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QString root;
    QString textFile;
    bool flush = true;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == u"--root" && i + 1 < argc)
            root = QString::fromLocal8Bit(argv[++i]);
        else if (arg == u"--no-flush")
            flush = false;
        else if (textFile.isEmpty() && !arg.startsWith(u'-'))
            textFile = arg;
        else
            return usage();
    }
    if (textFile.isEmpty())
        return usage();
    QFile file(textFile);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "tw-note-sync: cannot read %s\n", qPrintable(textFile));
        return 2;
    }
    const QString text = QString::fromUtf8(file.readAll());

    tw::sync::DeviceIdentity device;
    if (root.isEmpty()) {
        bool found = false;
        const QString drive = tw::sync::detectIpodDrive(*tw::sync::systemDriveTable(), found, &device);
        if (!found) {
            std::puts("No iPod found. Closing interface.");
            return 1;
        }
        std::printf("iPod found at %s (%s)\n", qPrintable(drive), qPrintable(device.root));
    } else {
        device = tw::sync::identifyRoot(QStringLiteral("E:"), root);
    }
    const int16_t version = tw::sync::detectIpodVersion(device);
    const tw::sync::NoteResult result = flush ? tw::sync::saveFiles(device, text, version)
                                              : tw::sync::saveFiles(device, text, version, NoFlush());
    if (!result.message.isEmpty())
        std::printf("%s\n", qPrintable(result.message));
    std::printf("%s\n", qPrintable(result.caption));
    return result.outcome == tw::sync::NoteOutcome::Written ? 0 : 1;
}
