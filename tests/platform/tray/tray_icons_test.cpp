#include "platform/tray/linux/status_notifier_types.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSet>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace sonaric
{
namespace
{

/// The colours (alpha left out) of the pixels that show.
QSet<QRgb> coloursOf(const QImage& image)
{
    QSet<QRgb> colours;
    const QImage straight = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < straight.height(); ++y) {
        for (int x = 0; x < straight.width(); ++x) {
            const QRgb pixel = straight.pixel(x, y);
            if (qAlpha(pixel) > 0)
                colours.insert(pixel & 0xffffff);
        }
    }
    return colours;
}

/// The largest difference in any channel between `colour` and the colours of the pixels that show clearly; an
/// anti-aliased edge pixel differs by rounding only.
int spreadAround(const QImage& image, QRgb colour)
{
    int spread = 0;
    const QImage straight = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < straight.height(); ++y) {
        for (int x = 0; x < straight.width(); ++x) {
            const QRgb pixel = straight.pixel(x, y);
            if (qAlpha(pixel) < 64)
                continue;
            spread = std::max({ spread, std::abs(qRed(pixel) - qRed(colour)), std::abs(qGreen(pixel) - qGreen(colour)),
                std::abs(qBlue(pixel) - qBlue(colour)) });
        }
    }
    return spread;
}

TEST(TrayIcons, TheTraySymbolIsOneColourAtEveryTraySize)
{
    const QIcon icon(QStringLiteral(SONARIC_TRAY_ICON));
    ASSERT_FALSE(icon.isNull());
    for (const int size : kSniIconSizes) {
        const QImage image = icon.pixmap(QSize(size, size), 1.0).toImage();
        ASSERT_EQ(image.size(), QSize(size, size));
        // Panels tint a symbolic icon by replacing its one colour; a second colour would survive the tint.
        EXPECT_LE(spreadAround(image, qRgb(0x23, 0x26, 0x29)), 4) << size;
        // Drawn, not a speck: at least a fifth of the square shows.
        int shown = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x)
                shown += qAlpha(image.pixel(x, y)) > 0;
        }
        EXPECT_GT(shown, size * size / 5) << size;
    }
}

TEST(TrayIcons, TheApplicationIconIsInColour)
{
    const QIcon icon(QStringLiteral(SONARIC_APP_ICON));
    ASSERT_FALSE(icon.isNull());
    const QImage image = icon.pixmap(QSize(128, 128), 1.0).toImage();
    EXPECT_GT(coloursOf(image).size(), 16);
    EXPECT_EQ(qAlpha(image.pixel(64, 64)), 255);
}

} // namespace
} // namespace sonaric
