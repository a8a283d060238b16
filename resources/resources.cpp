#include "resources/resources.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QImage>
#include <QList>
#include <QString>

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

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

using CursorArt = std::vector<std::string>;

// The art at twice the size by the Scale2x rule: each pixel becomes four, and
// a corner takes the colour of its two neighbours where they agree (and the
// other two differ), so diagonal edges come out as smooth steps instead of
// doubled blocks.
CursorArt scaledTwice(const CursorArt& art)
{
    const int size = static_cast<int>(art.size());
    const auto at = [&](int x, int y) {
        x = std::clamp(x, 0, size - 1);
        y = std::clamp(y, 0, size - 1);
        return art[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
    };
    CursorArt out(static_cast<std::size_t>(2 * size), std::string(static_cast<std::size_t>(2 * size), ' '));
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const char p = at(x, y);
            const char up = at(x, y - 1);
            const char down = at(x, y + 1);
            const char left = at(x - 1, y);
            const char right = at(x + 1, y);
            const bool edge = up != down && left != right;
            auto set = [&](int dx, int dy, char c) {
                out[static_cast<std::size_t>(2 * y + dy)][static_cast<std::size_t>(2 * x + dx)] = c;
            };
            set(0, 0, edge && left == up ? up : p);
            set(1, 0, edge && up == right ? right : p);
            set(0, 1, edge && left == down ? left : p);
            set(1, 1, edge && down == right ? down : p);
        }
    }
    return out;
}

// QCursor's two-bitmap form: a bit set in the mask makes the pixel opaque, and
// a set bit in the bitmap then paints it black, a clear one white.
QCursor cursorFromArt(const CursorArt& art, int hotX, int hotY)
{
    const int size = static_cast<int>(art.size());
    QImage bitmap(size, size, QImage::Format_MonoLSB);
    QImage mask(size, size, QImage::Format_MonoLSB);
    // Index 0 is Qt::color0 (clear bit), index 1 is Qt::color1 (set bit).
    const QList<QRgb> colours = { qRgb(255, 255, 255), qRgb(0, 0, 0) };
    bitmap.setColorTable(colours);
    mask.setColorTable(colours);
    bitmap.fill(0);
    mask.fill(0);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const char c = art[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
            if (c == '#') {
                bitmap.setPixel(x, y, 1);
                mask.setPixel(x, y, 1);
            } else if (c == '.') {
                mask.setPixel(x, y, 1);
            }
        }
    }
    return QCursor { QBitmap::fromImage(bitmap), QBitmap::fromImage(mask), hotX, hotY };
}

qreal applicationRatio(qreal devicePixelRatio)
{
    return devicePixelRatio > 0 ? devicePixelRatio : qApp->devicePixelRatio();
}

} // namespace

QPixmap bannerPicture(qreal devicePixelRatio)
{
    registerTarnwickleyResources();
    if (applicationRatio(devicePixelRatio) > 1.0) {
        QPixmap sharp { QStringLiteral(":/tarnwickley/banner@2x.jpg") };
        sharp.setDevicePixelRatio(2.0);
        return sharp;
    }
    return QPixmap { QStringLiteral(":/tarnwickley/banner.jpg") };
}

QCursor linkCursor(qreal devicePixelRatio)
{
    const CursorArt art(kLinkCursorArt.begin(), kLinkCursorArt.end());
    if (applicationRatio(devicePixelRatio) >= 1.5)
        // The fingertip's outer corners are rounded off at twice the size: the
        // tip's first opaque pixel is one to the right.
        return cursorFromArt(scaledTwice(art), 2 * kLinkCursorHotX + 1, 2 * kLinkCursorHotY);
    return cursorFromArt(art, kLinkCursorHotX, kLinkCursorHotY);
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
