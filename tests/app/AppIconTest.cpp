#include <QIcon>
#include <QImage>
#include <gtest/gtest.h>

// The icons sit in the window library; like the program, pull them in by name
// (outside any namespace: the macro declares the resource's global initializer).
static void InitIcons() {
    Q_INIT_RESOURCE(veltrask_icons);
}

namespace {

const int IconSizes[] = {16, 24, 32, 48, 64, 128, 256};

} // namespace

// Every rendering the window icon is built from is there, has its size, and
// keeps the shape: see-through outside the rounded corners, solid in the middle.
TEST(AppIcon, RenderingsAreSquareWithTransparentCorners) {
    InitIcons();
    for (int Size : IconSizes) {
        const QString Path = QStringLiteral(":/icons/veltrask-%1.png").arg(Size);
        SCOPED_TRACE(Path.toStdString());
        const QImage Image(Path);
        ASSERT_FALSE(Image.isNull());
        EXPECT_EQ(Image.size(), QSize(Size, Size));
        EXPECT_TRUE(Image.hasAlphaChannel());
        EXPECT_EQ(qAlpha(Image.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(Image.pixel(Size - 1, Size - 1)), 0);
        EXPECT_EQ(qAlpha(Image.pixel(Size / 2, Size / 2)), 255);
    }
}

// An icon built from the renderings offers each size as it is, not scaled from another.
TEST(AppIcon, IconOffersEveryRenderedSize) {
    InitIcons();
    QIcon Icon;
    for (int Size : IconSizes)
        Icon.addFile(QStringLiteral(":/icons/veltrask-%1.png").arg(Size), QSize(Size, Size));
    const QList<QSize> Sizes = Icon.availableSizes();
    for (int Size : IconSizes)
        EXPECT_TRUE(Sizes.contains(QSize(Size, Size))) << Size;
}
