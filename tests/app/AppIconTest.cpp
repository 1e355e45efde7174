// The icon compiled into the program: every size the theme gets, each a drawing on a clear ground.
#include "app/AppIcon.h"

#include <QImage>
#include <QPixmap>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

TEST(AppIcon, HoldsEveryThemeSizeEachAShapeOnATransparentGround) {
    const QIcon icon = app::applicationIcon();
    QList<QSize> sizes = icon.availableSizes();
    std::sort(sizes.begin(), sizes.end(), [](QSize a, QSize b) { return a.width() < b.width(); });
    const QList<QSize> expected{{16, 16}, {32, 32}, {48, 48}, {64, 64}, {128, 128}, {256, 256}};
    ASSERT_EQ(sizes, expected);
    for (const QSize size : expected) {
        const QImage image = icon.pixmap(size).toImage();
        ASSERT_EQ(image.size(), size);
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << size.width() << " px: the corner is not clear";
        EXPECT_EQ(qAlpha(image.pixel(size.width() / 2, size.height() / 2)), 255)
            << size.width() << " px: nothing drawn in the middle";
    }
}

} // namespace
