// The gradient's colour parsing, palette and band layout, and its picture in a memory bitmap.
#include "widgets/gradient_drawing.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "../common/exception_message.h"
#include "color_scheme_value.h"
#include "dib_canvas.h"
#include "framework/exceptions.h"
#include "framework/unique_handle.h"

namespace {

constexpr uint32_t kSystem = 0x80000000u;

void ExpectComponents(const ColorComponents& c, int red, int green, int blue, const std::string& what) {
    EXPECT_EQ(c.red, red) << what;
    EXPECT_EQ(c.green, green) << what;
    EXPECT_EQ(c.blue, blue) << what;
}

}  // namespace

TEST(GradientColours, ParsesSchemeTexts) {
    struct Case {
        const char* text;
        int red, green, blue;
    };
    const Case cases[] = {
        {"58 110 165", 58, 110, 165},
        {"58  110 165", 58, 0, 110},
        {"0 0 128", 0, 0, 128},
        {"255 255 255", 255, 255, 255},
        {"1 2", 1, 2, 0},
        {"7", 7, 0, 0},
        {"", 0, 0, 0},
        {"1 2 3 junk", 1, 2, 3},
        {" 5 6", 0, 5, 6},
        {"300 0 0", 300, 0, 0},
        {"1 2 3 ", 1, 2, 3},
        {"   ", 0, 0, 0},
    };
    for (const Case& c : cases) {
        ExpectComponents(ParseColorText(c.text), c.red, c.green, c.blue, c.text);
    }
}

TEST(GradientColours, RejectsOtherCharactersNamingTheFirstBadOne) {
    for (const auto& [text, bad] : {std::pair{"58,110,165", ","}, std::pair{"12 x4 5", "x"},
                                    std::pair{"-1 2 3", "-"}, std::pair{"1\t2 3", "\t"}}) {
        EXPECT_EQ(MessageOf<EConvertError>([&] { ParseColorText(text); }),
                  std::string("'") + bad + "' is not a valid integer value")
            << text;
    }
}

TEST(GradientColours, SystemColourValueNames) {
    EXPECT_EQ(SystemColorValueName(0), nullptr);
    EXPECT_STREQ(SystemColorValueName(1), "Background");
    EXPECT_STREQ(SystemColorValueName(6), "WindowFrame");
    EXPECT_STREQ(SystemColorValueName(9), "TitleText");
    EXPECT_STREQ(SystemColorValueName(12), "AppWorkspace");
    EXPECT_STREQ(SystemColorValueName(19), "InactiveTitleText");
    EXPECT_STREQ(SystemColorValueName(20), "ButtonHilight");
    EXPECT_STREQ(SystemColorValueName(21), "ButtonDkShadow");
    EXPECT_STREQ(SystemColorValueName(24), "InfoWindow");
    EXPECT_EQ(SystemColorValueName(25), nullptr);
}

TEST(GradientColours, PlainColoursAreTheirOwnBytes) {
    ExpectComponents(ColorToComponents(0xFF0000), 0, 0, 255, "blue");
    ExpectComponents(ColorToComponents(0x123456), 0x56, 0x34, 0x12, "mixed");
    ExpectComponents(ColorToComponents(kSystem | 0), 0, 0, 0, "index 0 has no value name");
    ExpectComponents(ColorToComponents(kSystem | 25), 25, 0, 0, "index 25 is not looked up");
}

TEST(GradientColours, SystemColoursComeFromTheUsersScheme) {
    ColorSchemeValue highlight("Highlight");
    highlight.SetText("0 0 128");
    ExpectComponents(ColorToComponents(kSystem | 13), 0, 0, 128, "navy from the scheme");
    highlight.SetText("58  110 165");
    ExpectComponents(ColorToComponents(kSystem | 13), 58, 0, 110, "two spaces");
    highlight.SetText("");
    ExpectComponents(ColorToComponents(kSystem | 13), 13, 0, 0, "empty text");
    highlight.Delete();
    ExpectComponents(ColorToComponents(kSystem | 13), 13, 0, 0, "no value: red is the index");

    highlight.SetNumber(5);
    EXPECT_EQ(MessageOf<ERegistryException>([] { ColorToComponents(kSystem | 13); }),
              "Invalid data type for 'Highlight'");
    highlight.SetText("0,0,128");
    EXPECT_THROW(ColorToComponents(kSystem | 13), EConvertError);
}

TEST(GradientPalette, DefaultsRunFromBlackToBlue) {
    const GradientPalette p = BuildGradientPalette(0x000000, 0xFF0000, false);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(p[static_cast<size_t>(i)], RGB(0, 0, i)) << i;
    }
}

TEST(GradientPalette, MainWindowColoursAndSwap) {
    const GradientPalette down = BuildGradientPalette(0xFF0000, 0x000000, false);
    const GradientPalette up = BuildGradientPalette(0xFF0000, 0x000000, true);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(down[static_cast<size_t>(i)], RGB(0, 0, 255 - i)) << i;
        ASSERT_EQ(up[static_cast<size_t>(i)], RGB(0, 0, i)) << i;
    }
}

TEST(GradientPalette, AccumulatorArithmeticPerChannel) {
    // Red 200 to 10: step round(190 x 10000 / 255) = 7451; entry i = (2000000 - 7451 i) div 10000.
    // Green 0 to 100: step round(-100 x 10000 / 255) = -3922. Blue 77 to 77: step 0.
    const GradientPalette p = BuildGradientPalette(RGB(200, 0, 77), RGB(10, 100, 77), false);
    EXPECT_EQ(p[0], RGB(200, 0, 77));
    EXPECT_EQ(p[255], RGB(10, 100, 77));
    for (int i = 1; i <= 254; ++i) {
        const int red = (2000000 - 7451 * i) / 10000;
        const int green = (3922 * i) / 10000;
        ASSERT_EQ(p[static_cast<size_t>(i)], RGB(red, green, 77)) << i;
    }
    // Entry 254: red (2000000 - 1892554) div 10000 = 10, green 996188 div 10000 = 99.
    EXPECT_EQ(GetRValue(p[254]), 10);
    EXPECT_EQ(GetGValue(p[254]), 99);
}

TEST(GradientPalette, EqualEndsAndLowBytesOnly) {
    const GradientPalette flat = BuildGradientPalette(0x3366CC, 0x3366CC, false);
    for (COLORREF c : flat) {
        ASSERT_EQ(c, 0x3366CCu);
    }
    // A scheme text of 300 acts as 44.
    ColorSchemeValue window("Window");
    window.SetText("300 0 0");
    const GradientPalette p = BuildGradientPalette(kSystem | 5, 0, false);
    EXPECT_EQ(p[0], RGB(44, 0, 0));
}

TEST(GradientBands, StepThicknessAndStarts) {
    struct Case {
        int extent, thickness;
    };
    for (const Case& c : {Case{399, 2}, Case{768, 4}, Case{1024, 5}, Case{254, 1}, Case{100, 1}, Case{255, 2},
                          Case{0, 1}, Case{510, 3}}) {
        EXPECT_EQ(GradientBandThickness(GradientStep(c.extent)), c.thickness) << c.extent;
    }
    const float s = GradientStep(399);
    EXPECT_FLOAT_EQ(s, 399.0f / 255.0f);
    EXPECT_EQ(GradientBandStart(0, s), 0);
    EXPECT_EQ(GradientBandStart(1, s), 0);
    EXPECT_EQ(GradientBandStart(2, s), 1);
    EXPECT_EQ(GradientBandStart(3, s), 3);      // 2 x 1.5647
    EXPECT_EQ(GradientBandStart(255, s), 397);  // 254 x 1.5647 = 397.4: the last band ends at 399
    // 255 exactly: every step is one pixel, computed from the float, not from 255 / 255 exactly.
    const float one = GradientStep(255);
    for (int i = 1; i <= 255; ++i) {
        ASSERT_EQ(GradientBandStart(i, one), i - 1);
    }
}

TEST(GradientPicture, BandsCoverEveryRowWithTheLastEntryStartingThere) {
    GradientPalette palette{};
    for (int i = 0; i < 256; ++i) {
        palette[static_cast<size_t>(i)] = RGB(i, 255 - i, 7);  // each entry distinct
    }
    for (int height : {100, 399, 768}) {
        DibCanvas canvas(3, height);
        PaintGradient(canvas.dc(), 3, height, gdUpDown, palette);
        const float s = GradientStep(height);
        const int h = GradientBandThickness(s);
        for (int y = 0; y < height; ++y) {
            // The last band that covers row y.
            int expected = -1;
            for (int i = 0; i < 256; ++i) {
                const int start = GradientBandStart(i, s);
                if (start <= y && y < start + h) {
                    expected = i;
                }
            }
            ASSERT_GE(expected, 0) << "row " << y << " of " << height << " left unpainted";
            ASSERT_EQ(canvas.Pixel(0, y), palette[static_cast<size_t>(expected)]) << y << " of " << height;
            ASSERT_EQ(canvas.Pixel(2, y), canvas.Pixel(0, y));
        }
        EXPECT_EQ(canvas.Pixel(1, height - 1), palette[255]) << "the last band reaches the bottom";
    }
}

TEST(GradientPicture, LeftToRightAndDefaults) {
    const GradientPalette palette = BuildGradientPalette(0x000000, 0xFF0000, false);
    DibCanvas across(510, 4);
    PaintGradient(across.dc(), 510, 4, gdLeftRight, palette);
    // s = 2, w = 3: entry i starts at 2(i - 1) and the next covers its second and third columns.
    EXPECT_EQ(across.Pixel(0, 0), RGB(0, 0, 1));
    EXPECT_EQ(across.Pixel(2, 3), RGB(0, 0, 2));
    EXPECT_EQ(across.Pixel(3, 3), RGB(0, 0, 2));
    EXPECT_EQ(across.Pixel(509, 0), RGB(0, 0, 255));

    DibCanvas down(5, 768);
    PaintGradient(down.dc(), 5, 768, gdUpDown, BuildGradientPalette(0xFF0000, 0x000000, false));
    EXPECT_EQ(down.Pixel(0, 0), RGB(0, 0, 254));  // entry 1 covers entry 0
    EXPECT_EQ(down.Pixel(4, 767), RGB(0, 0, 0));
}
