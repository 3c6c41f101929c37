// The gauge's arithmetic, checked exactly, and its pictures, painted into a memory bitmap.
#include "widgets/gauge_drawing.h"

#include <climits>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <utility>

#include "dib_canvas.h"

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 128, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

GaugeLook Look(TGaugeKind kind, int percentage, bool showText = false) {
    GaugeLook look;
    look.kind = kind;
    look.percentage = percentage;
    look.showText = showText;
    return look;
}

// A red picture stands apart from the black border and the white background.
GaugeLook RedLook(TGaugeKind kind, int percentage) {
    GaugeLook look = Look(kind, percentage);
    look.foreColor = kRed;
    return look;
}

// Paints the gauge over the whole canvas.
void Paint(DibCanvas& canvas, const GaugeLook& look) {
    PaintGauge(canvas.dc(), canvas.width(), canvas.height(), look);
}

struct Probe {
    int x, y;
    COLORREF color;
};

// Paints the gauge at percentage over the whole canvas and checks the colour of each probe.
void ExpectPixels(DibCanvas& canvas, GaugeLook look, int percentage, std::initializer_list<Probe> probes) {
    look.percentage = percentage;
    Paint(canvas, look);
    for (const Probe& p : probes) {
        EXPECT_EQ(canvas.Pixel(p.x, p.y), p.color)
            << "(" << p.x << ", " << p.y << ") at " << percentage << "%";
    }
}

// A row of pixel characters: runs of one character each.
std::string Runs(std::initializer_list<std::pair<char, int>> runs) {
    std::string s;
    for (const auto& [c, n] : runs) {
        s.append(static_cast<size_t>(n), c);
    }
    return s;
}

int CountInRow(const DibCanvas& canvas, int y, COLORREF color) {
    int n = 0;
    for (int x = 0; x < canvas.width(); ++x) {
        n += canvas.Pixel(x, y) == color;
    }
    return n;
}

}  // namespace

TEST(GaugeArithmetic, PercentageTruncatesWithoutOverflow) {
    struct Case {
        int32_t min, max, progress;
        int expected;
    };
    const Case cases[] = {
        {0, 100, 0, 0},
        {0, 100, 37, 37},
        {0, 100, 100, 100},
        {0, 1000, 1, 0},
        {0, 1000, 9, 0},
        {0, 1000, 10, 1},
        {0, 1000, 999, 99},
        {5, 5, 5, 0},
        {-50, 50, 0, 50},
        {0, 3, 1, 33},
        {0, 3, 2, 66},
        {INT_MIN, INT_MAX, INT_MAX, 100},
        {INT_MIN, INT_MAX, 0, 50},
        {0, INT_MAX, INT_MAX / 2, 49},
        {-2147483647, INT_MAX, 0, 50},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GaugePercentage(c.min, c.max, c.progress), c.expected)
            << c.min << ".." << c.max << " at " << c.progress;
    }
}

TEST(GaugeArithmetic, ExtentIsOnePixelShortOnlyAtSomeExactMultiples) {
    // The documented figures of the extended-precision product.
    EXPECT_EQ(GaugeExtent(5, 20), 0);
    EXPECT_EQ(GaugeExtent(10, 20), 1);
    EXPECT_EQ(GaugeExtent(99, 100), 98);
    EXPECT_EQ(GaugeExtent(50, 260), 130);
    EXPECT_EQ(GaugeExtent(100, 260), 260);
    EXPECT_EQ(GaugeExtent(0, 260), 0);
    for (int z = 1; z <= 1000; ++z) {
        for (int p : {25, 50, 75, 100}) {
            EXPECT_EQ(GaugeExtent(p, z), p * z / 100) << p << "% of " << z;
        }
    }
    // Elsewhere: the truncated quotient, or one less where the product is a multiple of 100.
    for (int z = 1; z <= 400; ++z) {
        for (int p = 0; p <= 100; ++p) {
            const int exact = p * z / 100;
            const int got = GaugeExtent(p, z);
            if ((p * z) % 100 != 0) {
                ASSERT_EQ(got, exact) << p << "% of " << z;
            } else {
                ASSERT_TRUE(got == exact || got == exact - 1) << p << "% of " << z;
            }
        }
    }
}

TEST(GaugeArithmetic, PaintRectAndTextOrigin) {
    const RECT bordered = GaugePaintRect(261, 29, true);
    EXPECT_EQ(bordered.left, 1);
    EXPECT_EQ(bordered.top, 1);
    EXPECT_EQ(bordered.right, 260);
    EXPECT_EQ(bordered.bottom, 28);
    const RECT plain = GaugePaintRect(261, 29, false);
    EXPECT_EQ(plain.right, 261);
    EXPECT_EQ(plain.bottom, 29);
    // From the bitmap's origin: (260 - 1 + 1 - 30) / 2 = 115 and (28 - 1 + 1 - 16) / 2 = 6.
    const POINT origin = GaugeTextOrigin(bordered, SIZE{30, 16});
    EXPECT_EQ(origin.x, 115);
    EXPECT_EQ(origin.y, 6);
    // Truncated toward zero when the text is wider than the gauge.
    EXPECT_EQ(GaugeTextOrigin(RECT{1, 1, 10, 10}, SIZE{20, 5}).x, -5);
}

TEST(GaugeArithmetic, PieAndNeedleAngles) {
    struct Case {
        int percentage;
        LONG x;
        LONG y;
    };
    // Radii 50 and 40. 100% is a full circle, back at twelve o'clock; 12% is angle 0.74 pi:
    // (1 - cos) x 50 = 84.23 and (1 - sin) x 40 = 10.84.
    for (const Case c :
         {Case{100, 50, 0}, Case{25, 100, 40}, Case{50, 50, 80}, Case{75, 0, 40}, Case{12, 84, 11}}) {
        const POINT start = PieStartPoint(c.percentage, 50, 40);
        EXPECT_EQ(start.x, c.x) << c.percentage << "%";
        EXPECT_EQ(start.y, c.y) << c.percentage << "%";
    }
    // Radii 100 and 50; 25% is (1 - 0.7071) x 100, x 50.
    for (const Case c : {Case{0, 0, 50}, Case{50, 100, 0}, Case{100, 200, 50}, Case{25, 29, 15}}) {
        const POINT tip = NeedleTip(c.percentage, 100, 50);
        EXPECT_EQ(tip.x, c.x) << c.percentage << "%";
        EXPECT_EQ(tip.y, c.y) << c.percentage << "%";
    }
}

TEST(GaugePicture, HorizontalBarOfTheExtractionWindow) {
    DibCanvas canvas(261, 29);
    Paint(canvas, Look(gkHorizontalBar, 50));
    // Border ring black, bar 130 pixels from x = 1, the rest white.
    EXPECT_EQ(canvas.Row(0, kBlack, kWhite), std::string(261, '#'));
    EXPECT_EQ(canvas.Row(28, kBlack, kWhite), std::string(261, '#'));
    EXPECT_EQ(canvas.Row(14, kBlack, kWhite), Runs({{'#', 131}, {'.', 129}, {'#', 1}}));
    EXPECT_EQ(canvas.Row(1, kBlack, kWhite), canvas.Row(27, kBlack, kWhite));

    GaugeLook empty = RedLook(gkHorizontalBar, 0);
    Paint(canvas, empty);
    EXPECT_EQ(canvas.Row(14, kBlack, kWhite), Runs({{'#', 1}, {'.', 259}, {'#', 1}}));
    EXPECT_EQ(canvas.Column(100, kBlack, kWhite), Runs({{'#', 1}, {'.', 27}, {'#', 1}}));
}

TEST(GaugePicture, FullBarCoversTheRightAndBottomBorder) {
    DibCanvas canvas(261, 29);
    GaugeLook look = RedLook(gkHorizontalBar, 100);
    Paint(canvas, look);
    EXPECT_EQ(canvas.Row(14, kRed, kBlack), Runs({{'.', 1}, {'#', 260}}));
    EXPECT_EQ(canvas.Row(28, kRed, kBlack), Runs({{'.', 1}, {'#', 260}}));
    EXPECT_EQ(canvas.Row(0, kRed, kBlack), std::string(261, '.'));
    EXPECT_EQ(canvas.Column(260, kRed, kBlack), Runs({{'.', 1}, {'#', 28}}));
}

TEST(GaugePicture, ShortBarsAtExactMultiples) {
    // Width 21 with a border: paint rectangle 1..20, W = 20.
    DibCanvas canvas(21, 10);
    GaugeLook look = RedLook(gkHorizontalBar, 5);
    Paint(canvas, look);
    EXPECT_EQ(CountInRow(canvas, 5, kRed), 0);  // 5% of 20 is 0
    look.percentage = 10;
    Paint(canvas, look);
    EXPECT_EQ(CountInRow(canvas, 5, kRed), 1);  // 10% of 20 is 1
    look.percentage = 15;
    Paint(canvas, look);
    EXPECT_EQ(CountInRow(canvas, 5, kRed), 2);  // 300 is a multiple of 100 too: one short
    look.percentage = 12;
    Paint(canvas, look);
    EXPECT_EQ(CountInRow(canvas, 5, kRed), 2);  // 2.4 truncated

    DibCanvas hundred(101, 5);
    look.percentage = 99;
    Paint(hundred, look);
    EXPECT_EQ(CountInRow(hundred, 2, kRed), 98);  // 99% of 100 is 98
}

TEST(GaugePicture, WithoutBorderThePictureReachesTheEdges) {
    DibCanvas canvas(100, 10);
    GaugeLook look = Look(gkHorizontalBar, 50);
    look.bordered = false;
    look.foreColor = kRed;
    look.backColor = kBlue;
    Paint(canvas, look);
    // W = 100 - 0 + 1 = 101, and 50% of it is 50.
    const std::string row = Runs({{'#', 50}, {'.', 50}});
    EXPECT_EQ(canvas.Row(0, kRed, kBlue), row);
    EXPECT_EQ(canvas.Row(9, kRed, kBlue), row);
}

TEST(GaugePicture, VerticalBarGrowsUpFromTheBitmapsBottom) {
    DibCanvas canvas(20, 41);  // paint rectangle 1..40 high: H = 40
    GaugeLook look = RedLook(gkVerticalBar, 50);
    Paint(canvas, look);
    // 20 pixels: from y = 40 - 20 = 20 down, over the bottom border row as well.
    EXPECT_EQ(canvas.Column(5, kRed, kWhite).substr(1), Runs({{'.', 19}, {'#', 21}}));
    EXPECT_EQ(canvas.Pixel(5, 0), kBlack);
    EXPECT_EQ(canvas.Pixel(0, 30), kBlack);
    look.percentage = 100;  // limited to H - 1: the top row of the paint rectangle stays empty
    Paint(canvas, look);
    EXPECT_EQ(canvas.Column(5, kRed, kWhite), Runs({{'?', 1}, {'#', 40}}));
    look.percentage = 0;  // an empty bar still starts at H: the bottom border row takes its colour
    Paint(canvas, look);
    EXPECT_EQ(canvas.Column(5, kRed, kWhite), Runs({{'?', 1}, {'.', 39}, {'#', 1}}));
}

TEST(GaugePicture, TextGaugeFillsWithTheBackColour) {
    DibCanvas canvas(30, 12);
    GaugeLook look = Look(gkText, 70);
    look.backColor = kBlue;
    Paint(canvas, look);
    EXPECT_EQ(canvas.Row(6, kBlue, kBlack), Runs({{'.', 1}, {'#', 28}, {'.', 1}}));
}

TEST(GaugePicture, TextInvertsWhatLiesUnderItOnBothSidesOfTheBarEdge) {
    // 50% of the extraction window's gauge: the bar ends at x = 130, under the middle of "50%".
    DibCanvas plain(261, 29);
    DibCanvas text(261, 29);
    Paint(plain, Look(gkHorizontalBar, 50, false));
    const UniqueFont font(
        ::CreateFontA(-13, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "MS Sans Serif"));
    GaugeLook look = Look(gkHorizontalBar, 50, true);
    look.font = font.get();
    Paint(text, look);

    int invertedOnBar = 0, invertedOnEmpty = 0, minX = 261, maxX = -1;
    for (int y = 0; y < 29; ++y) {
        for (int x = 0; x < 261; ++x) {
            const COLORREF before = plain.Pixel(x, y);
            const COLORREF after = text.Pixel(x, y);
            if (before == after) {
                continue;
            }
            ASSERT_EQ(after, before ^ 0xFFFFFF) << x << "," << y << ": a text pixel is not the inverse";
            ASSERT_TRUE(x >= 1 && x < 260 && y >= 1 && y < 28) << "text outside the paint rectangle";
            (x <= 130 ? invertedOnBar : invertedOnEmpty)++;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
        }
    }
    EXPECT_GT(invertedOnBar, 10);    // white text over the black bar
    EXPECT_GT(invertedOnEmpty, 10);  // black text over the white part
    // Centred: the text's ink lies about equally on both sides of the middle.
    EXPECT_LT(std::abs((minX + maxX) / 2 - 130), 6);
}

TEST(GaugePicture, TextOnAnEmptyGaugeIsBlackOnWhite) {
    DibCanvas canvas(261, 29);
    Paint(canvas, Look(gkHorizontalBar, 0, true));
    int black = 0;
    for (int y = 1; y < 28; ++y) {
        for (int x = 1; x < 260; ++x) {
            const COLORREF p = canvas.Pixel(x, y);
            ASSERT_TRUE(p == kBlack || p == kWhite);
            black += p == kBlack;
        }
    }
    EXPECT_GT(black, 10);
}

TEST(GaugePicture, PieAtNoneHalfAndFull) {
    DibCanvas canvas(61, 61);  // bounding box (1, 1)-(61, 61): centre near (31, 31)
    GaugeLook look = RedLook(gkPie, 0);
    look.backColor = kWhite;
    look.color = kGreen;
    // The border, a corner outside the ellipse, both halves empty, the outline.
    ExpectPixels(canvas, look, 0,
                 {{0, 0, kBlack}, {2, 2, kGreen}, {20, 31, kWhite}, {42, 31, kWhite}, {1, 31, kRed}});
    // The right half, from twelve to six o'clock.
    ExpectPixels(canvas, look, 50,
                 {{42, 31, kRed}, {42, 20, kRed}, {42, 42, kRed}, {20, 31, kWhite}, {20, 42, kWhite}});
    // The upper right quarter.
    ExpectPixels(canvas, look, 25, {{42, 20, kRed}, {42, 42, kWhite}, {20, 20, kWhite}});
    ExpectPixels(canvas, look, 100, {{20, 31, kRed}, {42, 31, kRed}, {20, 42, kRed}, {2, 2, kGreen}});
}

TEST(GaugePicture, NeedleAtNoneHalfAndFull) {
    DibCanvas canvas(81, 41);  // paint rectangle (1, 1)-(80, 40): W = 80, H = 40, base row 39
    GaugeLook look = RedLook(gkNeedle, 0);
    look.backColor = kWhite;
    look.color = kGreen;
    // Inside the half ellipse no needle; a corner; the border; the base line along the bottom.
    ExpectPixels(canvas, look, 0, {{40, 20, kWhite}, {2, 2, kGreen}, {0, 0, kBlack}, {40, 40, kRed}});
    // Straight up from (40, 39).
    ExpectPixels(canvas, look, 50, {{40, 20, kRed}, {40, 10, kRed}, {30, 20, kWhite}});
    // Up and to the left, towards (12, 11).
    ExpectPixels(canvas, look, 25, {{40, 20, kWhite}, {26, 25, kRed}});
    // Along the base.
    ExpectPixels(canvas, look, 100, {{40, 20, kWhite}, {60, 39, kRed}});
}

TEST(GaugePicture, ZeroSizePaintsNothing) {
    DibCanvas canvas(4, 4, kBlue);
    PaintGauge(canvas.dc(), 0, 4, Look(gkHorizontalBar, 50));
    EXPECT_EQ(canvas.Pixel(0, 0), kBlue);
}
