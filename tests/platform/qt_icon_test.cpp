// The program icon drawn from its SVG resource: a missing resource or an SVG that
// does not parse would leave every window without an icon, silently.
#include "platform/window/qt/qt_backend.h"

#include <QGuiApplication>
#include <QIcon>
#include <QImage>

#include <gtest/gtest.h>

TEST(ProgramIcon, IsTheSvgTileWithClearCorners) {
    int argc = 1;
    char name[] = "qt_icon_test";
    char* argv[] = {name, nullptr};
    QGuiApplication application(argc, argv);

    const QImage image = ProgramIcon().pixmap(48, 48).toImage();
    ASSERT_EQ(image.size(), QSize(48, 48));
    EXPECT_EQ(qAlpha(image.pixel(24, 24)), 255);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
}
