#include <gtest/gtest.h>

#include "tray/core/popup_geometry.h"

namespace quietway::testing {
namespace {

TEST(PopupGeometry, BannerIsHalvedOnAWideScreenAndSitsAboveThePanel) {
    EXPECT_EQ(scaled_banner(1920, {1600, 200}), (PopupSize{960, 120}));
    EXPECT_EQ(scaled_banner(1920, {960, 300}), (PopupSize{960, 300}));  // not wider than half
    EXPECT_EQ(scaled_banner(1921, {1000, 333}), (PopupSize{960, 319}));
    EXPECT_EQ(banner_popup_rect({1920, 1080, 40}, {1600, 200}),
              (PopupRect{1920 - 960 - 2, 1080 - 120 - 40 - 2, 1920, 1040}));
    EXPECT_EQ(banner_popup_rect({1920, 1080, 0}, {300, 100}), (PopupRect{1618, 978, 1920, 1080}));
}

TEST(PopupGeometry, TextCardFitsItsMeasuredText) {
    EXPECT_EQ(info_layout_width(1920), 480);
    EXPECT_EQ(info_layout_width(1366), 342);  // 341.5 rounded up
    // Text that wrapped within the quarter: the box is its size plus the margins.
    EXPECT_EQ(text_popup_rect({1920, 1080, 40}, 20, 400, 60),
              (PopupRect{1920 - 400 - 62, 1080 - 20 - 60 - 40 - 22, 1920, 1040}));
    // A wider measurement: R = ceil(480 * 100 / 600) = 80, S = 480, N = ceil(100 / 80) * 30.
    EXPECT_EQ(text_popup_rect({1920, 1080, 0}, 20, 600, 30),
              (PopupRect{1920 - 480 - 62, 1080 - 20 - 60 - 22, 1920, 1080}));
}

TEST(PopupGeometry, CloseBoxHitTest) {
    const PopupRect popup{958, 918, 1920, 1040};
    struct Case {
        int x, y;
        bool hit;
    };
    const Case cases[] = {
        {1910, 928, true},  // 10 left of the right edge, 10 below the top
        {1890, 923, false}, {1891, 923, false}, {1891, 924, true},   {1915, 948, true},
        {1916, 948, false}, {1915, 949, false}, {1000, 1000, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(close_box_hit(popup, c.x, c.y), c.hit) << c.x << "," << c.y;

    const CloseBoxShape shape = close_box_shape(962, 0);
    EXPECT_EQ(shape.x, 931);
    EXPECT_EQ(shape.y, 5);
    EXPECT_EQ(shape.size, 25);
    EXPECT_EQ(shape.line1[0], 936);
    EXPECT_EQ(shape.line1[3], 25);
    EXPECT_EQ(shape.line2[1], 25);
    EXPECT_EQ(shape.line2[3], 10);
}

}  // namespace
}  // namespace quietway::testing
