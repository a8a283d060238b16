// The compiled-in pictures are found from the static library and have the
// shapes the windows lay out around.

#include "resources/resources.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QImage>
#include <QtTest>

namespace {

// The hot spot sits on a painted (opaque) pixel at the top of the finger:
// nothing opaque above it in its column.
void checkHotSpotOnTheFingertip(const QCursor& cursor)
{
    const QImage maskImage = cursor.mask().toImage();
    const auto opaque = [&](int x, int y) { return maskImage.pixel(x, y) == QColor(Qt::color1).rgb(); };
    const QPoint tip = cursor.hotSpot();
    QVERIFY(opaque(tip.x(), tip.y()));
    for (int y = 0; y < tip.y(); ++y)
        QVERIFY2(!opaque(tip.x(), y), qPrintable(QStringLiteral("opaque above the tip at y=%1").arg(y)));
}

} // namespace

class ResourcesTest : public QObject {
    Q_OBJECT

private slots:
    void bannerIsCompiledInAtItsLaidOutSize()
    {
        const QPixmap banner = tw::resources::bannerPicture();
        QVERIFY(!banner.isNull());
        QCOMPARE(banner.size(), QSize(276, 162));
    }

    void linkCursorIsA32PixelTwoColourHandWithItsHotSpotOnTheFingertip()
    {
        const QCursor cursor = tw::resources::linkCursor();
        QCOMPARE(cursor.shape(), Qt::BitmapCursor);
        QCOMPARE(cursor.hotSpot(), QPoint(13, 9));
        const QBitmap bitmap = cursor.bitmap();
        const QBitmap mask = cursor.mask();
        QCOMPARE(bitmap.size(), QSize(32, 32));
        QCOMPARE(mask.size(), QSize(32, 32));
        checkHotSpotOnTheFingertip(cursor);
    }

    void scaledScreensGetPicturesDrawnAtTwiceTheSize()
    {
        for (const qreal ratio : { 1.5, 2.0 }) {
            const QPixmap banner = tw::resources::bannerPicture(ratio);
            QCOMPARE(banner.size(), QSize(552, 324));
            QCOMPARE(banner.deviceIndependentSize(), QSizeF(276, 162));
            const QCursor cursor = tw::resources::linkCursor(ratio);
            QCOMPARE(cursor.bitmap().size(), QSize(64, 64));
            checkHotSpotOnTheFingertip(cursor);
        }
        QCOMPARE(tw::resources::linkCursor(1.25).bitmap().size(), QSize(32, 32));
    }

    void applicationIconOffersTheDesktopSizes()
    {
        const QIcon icon = tw::resources::applicationIcon();
        QVERIFY(!icon.isNull());
        for (const int size : { 16, 32, 48, 256 }) {
            const QPixmap pixmap = icon.pixmap(QSize(size, size));
            QCOMPARE(pixmap.size(), QSize(size, size));
        }
    }
};

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    ResourcesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "resources_test.moc"
