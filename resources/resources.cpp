#include "resources/resources.h"

#include <QBitmap>
#include <QImage>
#include <QList>
#include <QString>

#include <array>
#include <string_view>

// The resource file is compiled into a static library, so nothing registers it
// automatically when the program starts; this does, once, from the global
// namespace as Q_INIT_RESOURCE requires.
static void registerTarnwickleyResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(tarnwickley_resources);
        return true;
    }();
    (void)registered;
}

namespace tw::resources {
namespace {

// The link pointer, row by row: '#' black, '.' white, ' ' transparent. A hand
// with the index finger raised; the top of that finger is the hot spot (13, 9).
constexpr std::array<std::string_view, kLinkCursorSize> kLinkCursorArt = {
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "             ##                 ",
    "            #..#                ",
    "            #..#                ",
    "            #..#                ",
    "            #..###              ",
    "            #..#..###           ",
    "            #..#..#..#          ",
    "            #..#..#..###        ",
    "         ####..#..#..#..#       ",
    "        #......#..#..#..#       ",
    "        #......#..#..#..#       ",
    "         #...........#..#       ",
    "         #..............#       ",
    "          #.............#       ",
    "          #.............#       ",
    "           #............#       ",
    "           #............#       ",
    "           #............#       ",
    "            #..........#        ",
    "            #..........#        ",
    "             ##########         ",
    "                                ",
    "                                ",
};

} // namespace

QPixmap bannerPicture()
{
    registerTarnwickleyResources();
    return QPixmap { QStringLiteral(":/tarnwickley/banner.jpg") };
}

QCursor linkCursor()
{
    // QCursor's two-bitmap form: a bit set in `mask` makes the pixel opaque,
    // and a set bit in `bitmap` then paints it black, a clear one white.
    QImage bitmap(kLinkCursorSize, kLinkCursorSize, QImage::Format_MonoLSB);
    QImage mask(kLinkCursorSize, kLinkCursorSize, QImage::Format_MonoLSB);
    // Index 0 is Qt::color0 (clear bit), index 1 is Qt::color1 (set bit).
    const QList<QRgb> colours = { qRgb(255, 255, 255), qRgb(0, 0, 0) };
    bitmap.setColorTable(colours);
    mask.setColorTable(colours);
    bitmap.fill(0);
    mask.fill(0);
    for (int y = 0; y < kLinkCursorSize; ++y) {
        const std::string_view row = kLinkCursorArt[static_cast<std::size_t>(y)];
        for (int x = 0; x < kLinkCursorSize; ++x) {
            const char c = row[static_cast<std::size_t>(x)];
            if (c == '#') {
                bitmap.setPixel(x, y, 1);
                mask.setPixel(x, y, 1);
            } else if (c == '.') {
                mask.setPixel(x, y, 1);
            }
        }
    }
    return QCursor { QBitmap::fromImage(bitmap), QBitmap::fromImage(mask), kLinkCursorHotX, kLinkCursorHotY };
}

QIcon applicationIcon()
{
    registerTarnwickleyResources();
    QIcon icon;
    for (const int size : { 16, 32, 48, 64, 128, 256 }) {
        icon.addFile(QStringLiteral(":/tarnwickley/icons/%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace tw::resources
