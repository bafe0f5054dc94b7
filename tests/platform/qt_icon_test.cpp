// The program icon drawn from its SVG resource: a missing resource or an SVG that
// does not parse would leave every window without an icon, silently.
#include "platform/window/qt/qt_backend.h"

#include <QGuiApplication>
#include <QIcon>
#include <QImage>

#include <gtest/gtest.h>

TEST(ProgramIcon, DrawsTheSvgAtEverySize) {
    int argc = 1;
    char name[] = "qt_icon_test";
    char* argv[] = {name, nullptr};
    QGuiApplication application(argc, argv);

    const QIcon icon = ProgramIcon();
    ASSERT_FALSE(icon.isNull());
    for (const int size : {16, 48, 256}) {
        const QImage image = icon.pixmap(size, size).toImage();
        ASSERT_EQ(image.size(), QSize(size, size));
        int opaque = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) opaque += qAlpha(image.pixel(x, y)) == 255;
        // The rounded tile covers most of the square and leaves its corners clear.
        EXPECT_GT(opaque, size * size / 2) << size;
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << size;
    }
}
