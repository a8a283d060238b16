// The compiled-in pictures are found from the static library and have the
// shapes the windows lay out around.

#include "resources/resources.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QImage>
#include <QtTest>

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

        // The hot spot sits on a painted (opaque) pixel at the top of the
        // finger: nothing opaque above it in its column.
        const QImage maskImage = mask.toImage();
        const auto opaque = [&](int x, int y) { return maskImage.pixel(x, y) == QColor(Qt::color1).rgb(); };
        QVERIFY(opaque(13, 9));
        for (int y = 0; y < 9; ++y)
            QVERIFY2(!opaque(13, y), qPrintable(QStringLiteral("opaque above the tip at y=%1").arg(y)));
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
