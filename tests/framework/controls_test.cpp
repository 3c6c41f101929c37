// Controls on a real window under Wine: painting order, transparency, synchronous repaint of
// opaque graphic controls, panel bevels, images, label auto-size, bitmaps, colours and the hook
// that takes exceptions leaving a message handler.
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../common/exception_message.h"
#include "framework/application.h"
#include "framework/exceptions.h"
#include "framework/forms.h"
#include "framework/std_controls.h"

namespace {

// A graphic control that fills itself with one colour and counts its paints.
class TSolid : public TGraphicControl {
  public:
    TSolid(TComponent* owner, TColor fill, bool opaque) : TGraphicControl(owner), fill_(fill) {
        if (opaque) {
            SetControlStyle(ControlStyle() | csOpaque);
        }
    }
    void SetFill(TColor fill) { fill_ = fill; }
    int paints = 0;

  protected:
    void Paint() override {
        ++paints;
        Canvas()->Brush.SetColor(fill_);
        Canvas()->FillRect(ClientRect());
    }

  private:
    TColor fill_;
};

// A shown window whose client area is read back pixel by pixel.
class Surface : public ::testing::Test {
  protected:
    void SetUp() override {
        form = std::make_unique<TForm>(Application);
        form->SetBorderStyle(TFormBorderStyle::bsSingle);
        form->SetBounds(20, 20, 10, 10);
        form->SetClientWidth(320);
        form->SetClientHeight(220);
        form->SetColor(clWhite);
    }
    void ShowAndPaint() {
        form->Show();
        form->Repaint();
        Application->ProcessMessages();
    }
    COLORREF At(HWND window, int x, int y) {
        WindowDc dc(window);
        return ::GetPixel(dc.get(), x, y);
    }
    COLORREF At(int x, int y) { return At(form->Handle(), x, y); }
    // Whether some pixel of the rectangle differs from colour (text drawn there, say).
    bool AnyPixelNot(int left, int top, int right, int bottom, COLORREF colour) {
        WindowDc dc(form->Handle());
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) {
                if (::GetPixel(dc.get(), x, y) != colour) {
                    return true;
                }
            }
        }
        return false;
    }
    std::unique_ptr<TForm> form;
};

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kGreen = RGB(0, 255, 0);

TEST_F(Surface, GraphicControlsPaintInOrderAndTransparentLabelsShowWhatLiesUnder) {
    auto* under = new TSolid(form.get(), clRed, false);
    under->SetParent(form.get());
    under->SetBounds(10, 10, 120, 40);
    auto* clear = new TLabel(form.get());
    clear->SetParent(form.get());
    clear->SetAutoSize(false);
    clear->SetBounds(10, 10, 120, 40);
    clear->SetTransparent(true);
    clear->Font().SetColor(clBlack);
    clear->SetCaption("Ab");

    auto* covered = new TSolid(form.get(), clBlue, false);
    covered->SetParent(form.get());
    covered->SetBounds(10, 60, 120, 40);
    auto* solidLabel = new TLabel(form.get());  // not transparent: its background in the parent's colour
    solidLabel->SetParent(form.get());
    solidLabel->SetAutoSize(false);
    solidLabel->SetBounds(10, 60, 120, 40);
    solidLabel->SetCaption("Ab");

    auto* last = new TSolid(form.get(), clLime, false);  // later in order: on top of the label
    last->SetParent(form.get());
    last->SetBounds(100, 60, 30, 40);
    ShowAndPaint();

    EXPECT_EQ(At(120, 45), kRed);                    // through the transparent label, away from its text
    EXPECT_TRUE(AnyPixelNot(10, 10, 40, 30, kRed));  // its text is drawn over the red
    EXPECT_EQ(At(80, 95), kWhite);                   // the opaque label hides the blue
    EXPECT_EQ(At(110, 80), kGreen);                  // the later control paints over the label
    EXPECT_EQ(At(200, 150), kWhite);                 // the form's own colour elsewhere
}

TEST_F(Surface, OpaqueControlsRepaintAtOnceAndHiddenOnesNotAtAll) {
    auto* opaque = new TSolid(form.get(), clRed, true);
    opaque->SetParent(form.get());
    opaque->SetBounds(10, 10, 50, 50);
    auto* plain = new TSolid(form.get(), clRed, false);
    plain->SetParent(form.get());
    plain->SetBounds(100, 10, 50, 50);
    ShowAndPaint();
    ASSERT_EQ(At(30, 30), kRed);

    // No message is processed in between: the opaque control paints through the parent's DC.
    const int before = opaque->paints;
    opaque->SetFill(clBlue);
    opaque->Repaint();
    EXPECT_EQ(opaque->paints, before + 1);
    EXPECT_EQ(At(30, 30), kBlue);

    const int plainBefore = plain->paints;
    plain->SetFill(clBlue);
    plain->Repaint();  // invalidates and updates the parent: also before returning
    EXPECT_EQ(plain->paints, plainBefore + 1);
    EXPECT_EQ(At(120, 30), kBlue);

    opaque->Hide();
    Application->ProcessMessages();
    const int hidden = opaque->paints;
    opaque->Repaint();
    EXPECT_EQ(opaque->paints, hidden);
    EXPECT_EQ(At(30, 30), kWhite);
}

TEST_F(Surface, PanelBevelsAndCaption) {
    auto* raised = new TPanel(form.get());
    raised->SetParent(form.get());
    raised->SetBounds(10, 10, 100, 60);
    raised->SetBevelWidth(2);
    raised->SetCaption("");
    auto* lowered = new TPanel(form.get());
    lowered->SetParent(form.get());
    lowered->SetBounds(150, 10, 100, 60);
    lowered->SetBevelOuter(TBevelCut::bvLowered);
    lowered->SetCaption("Caption");
    ShowAndPaint();

    const COLORREF light = ::GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF dark = ::GetSysColor(COLOR_BTNSHADOW);
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    EXPECT_EQ(At(raised->Handle(), 0, 0), light);
    EXPECT_EQ(At(raised->Handle(), 1, 1), light);  // 2 pixels wide
    EXPECT_EQ(At(raised->Handle(), 2, 2), face);
    EXPECT_EQ(At(raised->Handle(), 99, 59), dark);
    EXPECT_EQ(At(raised->Handle(), 98, 58), dark);
    EXPECT_EQ(At(raised->Handle(), 50, 30), face);  // no caption
    EXPECT_EQ(At(lowered->Handle(), 0, 0), dark);
    EXPECT_EQ(At(lowered->Handle(), 99, 59), light);
    // The caption is centred: drawn pixels around the middle, none near the edges.
    WindowDc dc(lowered->Handle());
    bool middle = false;
    for (int x = 20; x < 80 && !middle; ++x) {
        for (int y = 20; y < 40 && !middle; ++y) {
            middle = ::GetPixel(dc.get(), x, y) != face;
        }
    }
    EXPECT_TRUE(middle);
    EXPECT_EQ(::GetPixel(dc.get(), 5, 30), face);
    EXPECT_EQ(::GetPixel(dc.get(), 94, 30), face);
}

TEST_F(Surface, ImageDrawsItsPictureAtItsOwnSizeFromTheTopLeft) {
    auto* image = new TImage(form.get());
    image->SetParent(form.get());
    image->SetBounds(50, 50, 40, 40);
    image->Picture().SetSize(10, 8);
    image->Picture().Canvas().Brush.SetColor(clLime);
    image->Picture().Canvas().FillRect(RECT{0, 0, 10, 8});
    image->PictureChanged();
    ShowAndPaint();
    EXPECT_EQ(At(50, 50), kGreen);
    EXPECT_EQ(At(59, 57), kGreen);
    EXPECT_EQ(At(60, 57), kWhite);
    EXPECT_EQ(At(59, 58), kWhite);
    EXPECT_EQ(At(85, 85), kWhite);
}

TEST(Label, AutoSizeFitsTheTextAndWordWrapKeepsTheWidth) {
    TForm form(Application);
    auto* label = new TLabel(&form);
    label->SetParent(&form);
    WindowDc screen(nullptr);
    TCanvas canvas(screen.get());
    canvas.Font = label->Font();

    label->SetCaption("x");
    label->SetCaption("");
    EXPECT_EQ(label->Width(), canvas.TextWidth(" "));  // an empty label keeps a blank's size
    EXPECT_EQ(label->Height(), canvas.TextHeight(" "));
    label->SetCaption("Hello there");
    EXPECT_EQ(label->Width(), canvas.TextWidth("Hello there"));

    label->SetBounds(0, 0, canvas.TextWidth("Hello"), 5);
    label->SetWordWrap(true);
    EXPECT_EQ(label->Width(), canvas.TextWidth("Hello"));
    EXPECT_EQ(label->Height(), 2 * canvas.TextHeight("Hello"));

    label->SetAutoSize(false);
    label->SetCaption("Much longer text than before");
    EXPECT_EQ(label->Width(), canvas.TextWidth("Hello"));
}

// A .bmp file in memory: 24-bit, 2 x 2, bottom-up rows padded to 4 bytes.
std::vector<uint8_t> TinyBitmap() {
    return {
        'B', 'M', 70,  0,   0,   0,   0, 0, 0,   0, 54, 0, 0,   0,         // file header: size, pixel offset
        40,  0,   0,   0,   2,   0,   0, 0, 2,   0, 0,  0, 1,   0, 24, 0,  // 2 x 2, 24 bits
        0,   0,   0,   0,   16,  0,   0, 0, 0,   0, 0,  0, 0,   0, 0,  0,
        0,   0,   0,   0,   0,   0,   0, 0, 255, 0, 0,  0, 255, 0, 0,  0,  // bottom row: blue, green
        0,   0,   255, 255, 255, 255, 0, 0,                                // top row: red, white
    };
}

TEST(Bitmap, LoadsBmpBytesAndRefusesDamagedOnes) {
    TBitmap bitmap;
    bitmap.LoadFromBytes(TinyBitmap());
    EXPECT_EQ(bitmap.Width(), 2);
    EXPECT_EQ(bitmap.Height(), 2);
    EXPECT_EQ(bitmap.Canvas().Pixel(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(bitmap.Canvas().Pixel(1, 0), RGB(255, 255, 255));
    EXPECT_EQ(bitmap.Canvas().Pixel(0, 1), RGB(0, 0, 255));
    EXPECT_EQ(bitmap.Canvas().Pixel(1, 1), RGB(0, 255, 0));

    const auto refused = [](const std::vector<uint8_t>& bytes) {
        TBitmap other;
        return MessageOf<EReadError>([&] { other.LoadFromBytes(bytes); }) == "Invalid bitmap";
    };
    std::vector<uint8_t> shortPixels = TinyBitmap();
    shortPixels.resize(shortPixels.size() - 1);
    EXPECT_TRUE(refused(shortPixels));
    std::vector<uint8_t> notBmp = TinyBitmap();
    notBmp[0] = 'X';
    EXPECT_TRUE(refused(notBmp));
    std::vector<uint8_t> hugeWidth = TinyBitmap();
    hugeWidth[18] = 0xFF;
    hugeWidth[19] = 0xFF;
    hugeWidth[20] = 0xFF;
    hugeWidth[21] = 0x7F;
    EXPECT_TRUE(refused(hugeWidth));
    std::vector<uint8_t> badOffset = TinyBitmap();
    badOffset[10] = 200;
    EXPECT_TRUE(refused(badOffset));
    EXPECT_TRUE(refused({}));

    TBitmap missing;
    EXPECT_EQ(MessageOf<EResNotFound>([&] { missing.LoadFromResourceName(nullptr, "NOPE"); }),
              "Resource NOPE not found");
}

TEST(Colors, SystemColoursResolveThroughTheSystemPalette) {
    EXPECT_EQ(clBtnFace, 0x8000000Fu);
    EXPECT_EQ(ColorToRGB(clBtnFace), ::GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(ColorToRGB(clWindowText), ::GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(ColorToRGB(clBlue), RGB(0, 0, 255));
    EXPECT_EQ(ColorToRGB(16711680), RGB(0, 0, 255));
    TColor color = 0;
    EXPECT_TRUE(IdentToColor("clwindowframe", color));
    EXPECT_EQ(color, 0x80000006u);
    EXPECT_FALSE(IdentToColor("clPlaid", color));
}

TEST(Font, DefaultIsEightPointsAtTheScreenResolution) {
    TFont font;
    EXPECT_EQ(font.Name(), "MS Sans Serif");
    EXPECT_EQ(font.Height(), -::MulDiv(8, ScreenPixelsPerInch(), 72));
    EXPECT_EQ(ScreenPixelsPerInch(), 120);  // the test prefix runs at 120 pixels per inch
    EXPECT_EQ(font.Height(), -13);
    // The font that the system makes for it is the one asked for.
    WindowDc screen(nullptr);
    SelectGuard select(screen.get(), font.Handle());
    char face[LF_FACESIZE] = {};
    ::GetTextFaceA(screen.get(), LF_FACESIZE, face);
    EXPECT_STREQ(face, "MS Sans Serif");
}

// The GDI objects that pens and brushes make follow every property, and are made anew after a change.
TEST(PenAndBrush, HandlesAreMadeFromTheCurrentProperties) {
    const auto logPen = [](const TPen& pen) {
        LOGPEN made{};
        EXPECT_EQ(::GetObjectA(pen.Handle(), sizeof(made), &made), static_cast<int>(sizeof(made)));
        return made;
    };
    TPen pen;
    EXPECT_EQ(logPen(pen).lopnColor, RGB(0, 0, 0));
    const std::pair<TPenStyle, UINT> styles[] = {{TPenStyle::psDash, PS_DASH},
                                                 {TPenStyle::psDot, PS_DOT},
                                                 {TPenStyle::psClear, PS_NULL},
                                                 {TPenStyle::psSolid, PS_SOLID}};
    for (const auto& [style, gdiStyle] : styles) {
        pen.SetStyle(style);
        EXPECT_EQ(logPen(pen).lopnStyle, gdiStyle) << static_cast<int>(style);
    }
    pen.SetWidth(3);
    EXPECT_EQ(logPen(pen).lopnWidth.x, 3);
    pen.SetColor(clRed);
    EXPECT_EQ(logPen(pen).lopnColor, RGB(255, 0, 0));

    TBrush brush;
    LOGBRUSH made{};
    ASSERT_EQ(::GetObjectA(brush.Handle(), sizeof(made), &made), static_cast<int>(sizeof(made)));
    EXPECT_EQ(made.lbColor, RGB(255, 255, 255));
    brush.SetColor(clLime);
    ASSERT_EQ(::GetObjectA(brush.Handle(), sizeof(made), &made), static_cast<int>(sizeof(made)));
    EXPECT_EQ(made.lbColor, RGB(0, 255, 0));
    brush.SetStyle(TBrushStyle::bsClear);
    EXPECT_EQ(brush.Handle(), ::GetStockObject(NULL_BRUSH));
}

}  // namespace

namespace {

std::vector<std::string> hooked;

void RecordException(const std::exception& error) {
    hooked.emplace_back(error.what());
}

}  // namespace

TEST(ExceptionHook, TakesWhatLeavesAMessageHandlerAndTheWindowGoesOn) {
    TForm form(Application);
    auto* button = new TButton(&form);
    button->SetParent(&form);
    int thrown = 0;
    button->OnClick = [&](TObject*) {
        if (++thrown == 1) {
            throw EConvertError("'x' is not a valid integer value");
        }
        throw 42;  // not an exception class at all
    };
    hooked.clear();
    const TExceptionHook previous = SetExceptionHook(&RecordException);
    ::SendMessageA(button->Handle(), BM_CLICK, 0, 0);
    ::SendMessageA(button->Handle(), BM_CLICK, 0, 0);
    SetExceptionHook(previous);
    EXPECT_EQ(thrown, 2);
    EXPECT_EQ(hooked, (std::vector<std::string>{"'x' is not a valid integer value", "Unknown error"}));
}
