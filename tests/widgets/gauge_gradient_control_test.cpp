// TGauge and TGradient as controls: setters' rules, synchronous repaints, the palette's life, the
// pictures they paint through their canvas, and reading both from a layout.
#include <gtest/gtest.h>
#include <memory>
#include <string_view>
#include <vector>

#include "../common/exception_message.h"
#include "color_scheme_value.h"
#include "dib_canvas.h"
#include "framework/exceptions.h"
#include "widget_host.h"
#include "widgets/directory_list_box.h"
#include "widgets/drive_combo_box.h"
#include "widgets/gauges.h"
#include "widgets/gradient.h"

namespace {

class CountingGauge : public TGauge {
  public:
    using TGauge::TGauge;
    int paints = 0;

  protected:
    void Paint() override {
        ++paints;
        TGauge::Paint();
    }
};

}  // namespace

TEST(GaugeControl, DefaultsAndRangeRules) {
    HostForm form;
    auto* gauge = new TGauge(&form);
    EXPECT_EQ(gauge->Width(), 100);
    EXPECT_EQ(gauge->Height(), 100);
    EXPECT_EQ(gauge->Kind(), gkHorizontalBar);
    EXPECT_TRUE(gauge->ShowText());
    EXPECT_EQ(gauge->BorderStyle(), TBorderStyle::bsSingle);
    EXPECT_EQ(gauge->ForeColor(), clBlack);
    EXPECT_EQ(gauge->BackColor(), clWhite);
    EXPECT_NE(gauge->ControlStyle() & csOpaque, 0u);

    gauge->SetProgress(20);
    gauge->SetMinValue(50);  // drags Progress along
    EXPECT_EQ(gauge->Progress(), 50);
    EXPECT_EQ(gauge->Percentage(), 0);
    EXPECT_EQ(MessageOf<EInvalidOperation>([&] { gauge->SetMinValue(101); }),
              "Value must be between -2147483647 and 99");
    EXPECT_EQ(gauge->MinValue(), 50);
    EXPECT_EQ(MessageOf<EInvalidOperation>([&] { gauge->SetMaxValue(49); }),
              "Value must be between 51 and 2147483647");
    EXPECT_EQ(gauge->MaxValue(), 100);
    EXPECT_EQ(gauge->Progress(), 50);

    gauge->SetProgress(80);
    gauge->SetMaxValue(60);  // drags Progress down
    EXPECT_EQ(gauge->Progress(), 60);
    gauge->SetMaxValue(50);  // equal ends are accepted and show 0%
    EXPECT_EQ(gauge->Progress(), 50);
    EXPECT_EQ(gauge->Percentage(), 0);
    gauge->SetMaxValue(100);
    gauge->SetProgress(-7);
    EXPECT_EQ(gauge->Progress(), 50);
    gauge->SetProgress(1000);
    EXPECT_EQ(gauge->Progress(), 100);
    EXPECT_EQ(gauge->Percentage(), 100);
}

TEST(GaugeControl, RepaintsSynchronouslyOnlyWhenThePercentageChanges) {
    HostForm form;
    auto* gauge = new CountingGauge(&form);
    gauge->SetParent(&form);
    gauge->SetBounds(20, 68, 261, 29);
    gauge->SetMaxValue(1000);
    form.Show();
    Application->ProcessMessages();

    gauge->paints = 0;
    gauge->SetProgress(1);  // 0% still
    EXPECT_EQ(gauge->paints, 0);
    for (int value = 2; value <= 1000; ++value) {
        gauge->SetProgress(value);
    }
    EXPECT_EQ(gauge->paints, 100);  // one per whole percent: at 10, 20, ..., 1000
    gauge->SetProgress(1000 + 5);   // beyond the end: clamped, unchanged, no paint
    EXPECT_EQ(gauge->Progress(), 1000);
    EXPECT_EQ(gauge->paints, 100);

    // The paint reached the window at once, without a message being dispatched: the bar is black
    // (the text in the middle is left out of the probes).
    {
        WindowDc dc(form.Handle());
        EXPECT_EQ(::GetPixel(dc.get(), 20 + 10, 68 + 5), RGB(0, 0, 0));
        gauge->SetProgress(0);
        EXPECT_EQ(::GetPixel(dc.get(), 20 + 10, 68 + 5), RGB(255, 255, 255));
        EXPECT_EQ(::GetPixel(dc.get(), 20, 68 + 5), RGB(0, 0, 0));  // border
    }

    // Setters that change nothing do not paint; the others paint once each.
    gauge->paints = 0;
    gauge->SetKind(gkHorizontalBar);
    gauge->SetShowText(true);
    EXPECT_EQ(gauge->paints, 0);
    gauge->SetKind(gkPie);
    gauge->SetForeColor(clRed);
    EXPECT_EQ(gauge->paints, 2);

    form.Hide();
    gauge->paints = 0;
    gauge->SetProgress(500);
    EXPECT_EQ(gauge->paints, 0);  // nothing is painted while hidden
}

TEST(GaugeControl, PaintsItsPropertiesThroughTheCanvas) {
    HostForm form;
    auto* gauge = form.Add<TGauge>();
    gauge->SetBounds(0, 0, 261, 29);
    gauge->SetForeColor(clRed);
    gauge->SetBackColor(clBlue);
    gauge->SetShowText(false);
    gauge->SetProgress(50);
    DibCanvas canvas(261, 29);
    gauge->PaintOn(canvas.dc());
    EXPECT_EQ(canvas.Pixel(0, 14), RGB(0, 0, 0));
    EXPECT_EQ(canvas.Pixel(1, 14), RGB(255, 0, 0));
    EXPECT_EQ(canvas.Pixel(130, 14), RGB(255, 0, 0));
    EXPECT_EQ(canvas.Pixel(131, 14), RGB(0, 0, 255));
    gauge->SetBorderStyle(TBorderStyle::bsNone);
    gauge->PaintOn(canvas.dc());
    EXPECT_EQ(canvas.Pixel(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(canvas.Pixel(260, 28), RGB(0, 0, 255));
}

TEST(GradientControl, DefaultsAlignToTheClientArea) {
    HostForm form;
    form.SetClientWidth(300);
    form.SetClientHeight(200);
    auto* gradient = form.Add<TGradient>();
    EXPECT_EQ(gradient->Align(), TAlign::alClient);
    EXPECT_EQ(gradient->Width(), form.ClientWidth());
    EXPECT_EQ(gradient->Height(), form.ClientHeight());
    EXPECT_EQ(gradient->ColorStart(), clBlack);
    EXPECT_EQ(gradient->ColorEnd(), clBlue);
    EXPECT_EQ(gradient->Direction(), gdUpDown);
    EXPECT_FALSE(gradient->Swap());
    EXPECT_EQ(gradient->Palette()[0], RGB(0, 0, 0));
    EXPECT_EQ(gradient->Palette()[128], RGB(0, 0, 128));
    EXPECT_EQ(gradient->Palette()[255], RGB(0, 0, 255));
    form.SetClientHeight(250);
    EXPECT_EQ(gradient->Height(), 250);
}

TEST(GradientControl, MainWindowColoursSwapAndFlat) {
    HostForm form;
    auto* gradient = form.Add<TGradient>();
    gradient->SetColorStart(clBlue);
    gradient->SetColorEnd(clBlack);
    DibCanvas canvas(gradient->Width(), gradient->Height());
    gradient->PaintOn(canvas.dc());
    EXPECT_EQ(canvas.Pixel(5, 0), RGB(0, 0, 254));  // entry 1 covers entry 0
    EXPECT_EQ(canvas.Pixel(5, canvas.height() - 1), RGB(0, 0, 0));

    gradient->SetSwap(true);  // black at the top, blue at the bottom
    gradient->PaintOn(canvas.dc());
    EXPECT_EQ(canvas.Pixel(5, 0), RGB(0, 0, 1));
    EXPECT_EQ(canvas.Pixel(5, canvas.height() - 1), RGB(0, 0, 255));

    gradient->SetColorEnd(clBlue);
    gradient->PaintOn(canvas.dc());
    for (int y = 0; y < canvas.height(); y += 7) {
        ASSERT_EQ(canvas.Pixel(3, y), RGB(0, 0, 255));
    }
}

TEST(GradientControl, SystemColoursAreReadWhenAPropertyIsSet) {
    ColorSchemeValue highlight("Highlight");
    highlight.SetText("0 0 128");
    HostForm form;
    auto* gradient = new TGradient(&form);
    gradient->SetColorStart(clHighlight);
    EXPECT_EQ(gradient->Palette()[0], RGB(0, 0, 128));
    highlight.SetText("255 0 0");
    EXPECT_EQ(gradient->Palette()[0], RGB(0, 0, 128));  // not before the next change
    gradient->SetDirection(gdUpDown);                   // stores the same value, recomputes
    EXPECT_EQ(gradient->Palette()[0], RGB(255, 0, 0));
    highlight.Delete();
    gradient->SetSwap(false);
    EXPECT_EQ(gradient->Palette()[0], RGB(13, 0, 0));  // red = the index

    // A value that is not text: the setter raises after storing, the palette stays as it was.
    highlight.SetNumber(1);
    gradient->SetColorStart(clBlack);
    const GradientPalette before = gradient->Palette();
    EXPECT_THROW(gradient->SetColorStart(clHighlight), ERegistryException);
    EXPECT_EQ(gradient->ColorStart(), clHighlight);
    EXPECT_EQ(gradient->Palette(), before);
}

TEST(WidgetLayout, ReadsGaugeGradientAndPickersByName) {
    LayoutForm form;
    int driveChanges = 0, dirChanges = 0, driveClicks = 0;
    form.Handler("driveChange", TNotifyEvent([&](TObject*) { ++driveChanges; }));
    form.Handler("driveClick", TNotifyEvent([&](TObject*) { ++driveClicks; }));
    form.Handler("dirChange", TNotifyEvent([&](TObject*) { ++dirChanges; }));
    form.Read(R"(object Form1: TForm
  Left = 0
  Top = 0
  Width = 500
  Height = 420
  object Gradient1: TGradient
    Left = 0
    Top = 0
    Width = 667
    Height = 399
    ColorStart = clBlue
    ColorEnd = 0
    Direction = gdLeftRight
    Swap = True
  end
  object Gauge1: TGauge
    Left = 20
    Top = 68
    Width = 261
    Height = 29
    Kind = gkPie
    BorderStyle = bsNone
    ForeColor = clRed
    BackColor = 65280
    MinValue = 10
    MaxValue = 60
    Progress = 35
    ShowText = False
    Font.Style = [fsBold]
  end
  object dir: TDirectoryListBox
    Left = 16
    Top = 80
    Width = 177
    Height = 133
    ItemHeight = 16
    TabOrder = 3
    OnChange = dirChange
  end
  object drive: TDriveComboBox
    Left = 16
    Top = 224
    Width = 177
    Height = 22
    TextCase = tcUpperCase
    TabOrder = 4
    OnChange = driveChange
    OnClick = driveClick
  end
end
)");
    auto* gradient = dynamic_cast<TGradient*>(form.FindComponent("Gradient1"));
    auto* gauge = dynamic_cast<TGauge*>(form.FindComponent("Gauge1"));
    auto* dir = dynamic_cast<TDirectoryListBox*>(form.FindComponent("dir"));
    auto* drive = dynamic_cast<TDriveComboBox*>(form.FindComponent("drive"));
    ASSERT_NE(gradient, nullptr);
    ASSERT_NE(gauge, nullptr);
    ASSERT_NE(dir, nullptr);
    ASSERT_NE(drive, nullptr);
    EXPECT_EQ(gradient->ColorStart(), clBlue);
    EXPECT_EQ(gradient->ColorEnd(), clBlack);
    EXPECT_EQ(gradient->Direction(), gdLeftRight);
    EXPECT_TRUE(gradient->Swap());
    EXPECT_EQ(gradient->Align(), TAlign::alClient);
    EXPECT_EQ(gauge->Kind(), gkPie);
    EXPECT_EQ(gauge->BorderStyle(), TBorderStyle::bsNone);
    EXPECT_EQ(gauge->ForeColor(), clRed);
    EXPECT_EQ(gauge->BackColor(), 65280u);
    EXPECT_EQ(gauge->MinValue(), 10);
    EXPECT_EQ(gauge->MaxValue(), 60);
    EXPECT_EQ(gauge->Progress(), 35);
    EXPECT_EQ(gauge->Percentage(), 50);
    EXPECT_FALSE(gauge->ShowText());
    EXPECT_EQ(gauge->Width(), 261);
    EXPECT_EQ(drive->TextCase(), tcUpperCase);

    // The window's creation fires the drive list's OnChange once; clicks come from the user only.
    form.HandleNeeded();
    EXPECT_EQ(driveChanges, 1);
    EXPECT_EQ(driveClicks, 0);
    EXPECT_EQ(dirChanges, 0);
    EXPECT_GT(drive->Items().Count(), 0);
    EXPECT_GT(dir->Items().Count(), 0);
}

// Whether a control publishes a property: a value of a kind no property takes (a number with a
// fraction) is refused by a published one and ignored, as unknown, by any other.
bool Publishes(TComponent& control, std::string_view name) {
    TPropValue fraction;
    fraction.kind = TPropValue::Kind::Float;
    fraction.number = 0.5;
    const struct : TReaderContext {
        const std::any* FindMethod(std::string_view) const override { return nullptr; }
    } noEvents;
    try {
        return control.SetProperty(name, fraction, noEvents);
    } catch (const EReadError&) {
        return true;
    }
}

TEST(WidgetLayout, EachClassPublishesExactlyItsOwnList) {
    HostForm form;
    TGradient gradient(&form);
    TGauge gauge(&form);
    TDriveComboBox drive(&form);
    TDirectoryListBox dir(&form);
    struct Case {
        TComponent& control;
        std::vector<const char*> published;
        std::vector<const char*> not_published;
    };
    const Case cases[] = {
        {gradient,
         {"ColorStart", "ColorEnd", "Direction", "Swap", "Name", "Left", "Top", "Width", "Height", "Tag"},
         {"Align", "Visible", "Enabled", "Color", "ParentColor", "Font.Name", "Caption", "OnClick"}},
        {gauge,
         {"Kind", "ShowText", "BorderStyle", "ForeColor", "BackColor", "MinValue", "MaxValue", "Progress",
          "Align", "Color", "Enabled", "Font.Name", "Font.Style", "ParentColor", "ParentFont", "Visible",
          "Left", "Tag"},
         {"Caption", "Text", "OnClick", "TabOrder"}},
        {drive,
         {"TextCase", "OnChange", "OnClick", "OnDblClick", "OnKeyPress", "Color", "Enabled", "Font.Height",
          "ParentColor", "ParentFont", "TabOrder", "TabStop", "Visible", "Left", "Caption", "Align"},
         {"ItemHeight", "Items.Strings", "DirList"}},
        {dir,
         {"ItemHeight", "OnChange", "OnClick", "OnDblClick", "OnKeyPress", "Align", "Color", "Enabled",
          "Font.Name", "ParentColor", "ParentFont", "TabOrder", "TabStop", "Visible", "Width"},
         {"Items.Strings", "TextCase"}},
    };
    for (const Case& c : cases) {
        for (const char* name : c.published) {
            EXPECT_TRUE(Publishes(c.control, name)) << c.control.ClassName() << "." << name;
        }
        for (const char* name : c.not_published) {
            EXPECT_FALSE(Publishes(c.control, name)) << c.control.ClassName() << "." << name;
        }
    }
}

TEST(WidgetLayout, GradientPublishesNoAlignment) {
    LayoutForm form;
    EXPECT_THROW(form.Read(R"(object Form1: TForm
  object Gradient1: TGradient
    Align = alNone
  end
end
)"),
                 EReadError);
}
