// The icons and the chime as the build made them and as the tray finds them beside itself.

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

#include "tests/support/test_support.h"

namespace quietway::testing {
namespace {

uint32_t le(const std::string& bytes, size_t at, int width) {
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    }
    return value;
}

uint32_t be32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

const char* const kStems[] = {"started", "stopped", "connecting1", "connecting2"};
const std::string kAssets = QUIETWAY_TRAY_ASSETS;

TEST(TrayAssets, EachIconFileHoldsThe32BitSizesFrom16To128) {
    for (const char* stem : kStems) {
        const std::string ico = read_file(kAssets + "/" + stem + ".ico");
        ASSERT_GE(ico.size(), 6u) << stem;
        ASSERT_EQ(le(ico, 0, 4), 0x00010000u) << stem;  // reserved 0, type 1 (icon)
        std::set<int> sizes;
        for (uint32_t i = 0; i < le(ico, 4, 2); ++i) {
            const size_t entry = 6 + 16 * i;
            const int width = static_cast<unsigned char>(ico.at(entry));
            EXPECT_EQ(width, static_cast<unsigned char>(ico.at(entry + 1))) << stem;
            // The image's own header: a bitmap's bit count, or a PNG's RGBA colour type.
            const size_t image = le(ico, entry + 12, 4);
            if (ico.compare(image, 4, "\x89PNG") == 0) {
                EXPECT_EQ(ico.at(image + 25), 6) << stem << " " << width;
            } else {
                EXPECT_EQ(le(ico, image + 14, 2), 32u) << stem << " " << width;
            }
            sizes.insert(width);
        }
        EXPECT_EQ(sizes, (std::set<int>{16, 32, 48, 64, 128})) << stem;
    }
}

TEST(TrayAssets, IndicatorPicturesHaveTheirNamedSizes) {
    for (const char* stem : kStems) {
        for (int size : {16, 22, 24, 32, 48, 64, 128}) {
            const std::string name = std::to_string(size) + "x" + std::to_string(size);
            const std::string png =
                read_file(kAssets + "/hicolor/" + name + "/apps/quietway-" + stem + ".png");
            ASSERT_GE(png.size(), 26u) << stem << " " << name;
            EXPECT_EQ(png.compare(0, 4, "\x89PNG"), 0);
            EXPECT_EQ(be32(png, 16), static_cast<uint32_t>(size)) << stem;
            EXPECT_EQ(be32(png, 20), static_cast<uint32_t>(size)) << stem;
        }
        EXPECT_EQ(be32(read_file(kAssets + "/" + stem + ".png"), 16), 64u) << stem;
    }
}

TEST(TrayAssets, ChimeIsShortMonoPcm) {
    const std::string wav = read_file(kAssets + "/notify.wav");
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le(wav, 20, 2), 1u);   // PCM
    EXPECT_EQ(le(wav, 22, 2), 1u);   // mono
    EXPECT_EQ(le(wav, 34, 2), 16u);  // bits per sample
    ASSERT_EQ(wav.substr(36, 4), "data");
    const double seconds = static_cast<double>(le(wav, 40, 4)) / le(wav, 28, 4);
    EXPECT_GT(seconds, 0.2);
    EXPECT_LT(seconds, 1.0);
}

}  // namespace
}  // namespace quietway::testing
