// The progress gauge: a windowless control that shows how far Progress has moved through
// MinValue..MaxValue as a bar, a pie, a needle dial or text alone, with the percentage printed in
// its middle. It paints off-screen and repaints synchronously, inside the Progress setter, only
// when the whole-number percentage changes.
//
// In a layout: "object Gauge1: TGauge" with Kind (gkText, gkHorizontalBar, gkVerticalBar, gkPie,
// gkNeedle), ShowText, BorderStyle (bsNone, bsSingle), ForeColor, BackColor, MinValue, MaxValue,
// Progress, and the control properties Align, Color, Enabled, Font, ParentColor, ParentFont,
// Visible, Left, Top, Width, Height, Tag.
//
// To assistive technology the gauge is a progress bar named after the label above it, its value
// the percentage ("42%"); each new percentage is announced (EVENT_OBJECT_VALUECHANGE). Under a
// high-contrast theme it paints with the theme's colours instead of its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/controls.h"
#include "framework/store_if_changed.h"
#include "widgets/gauge_drawing.h"

enum class TBorderStyle : uint8_t { bsNone, bsSingle };

class TGauge : public TGraphicControl {
  public:
    explicit TGauge(TComponent* owner);
    const char* ClassName() const override { return "TGauge"; }

    int32_t MinValue() const { return minValue_; }
    // EInvalidOperation when above MaxValue (equal is accepted); raises Progress to it.
    void SetMinValue(int32_t value);
    int32_t MaxValue() const { return maxValue_; }
    // EInvalidOperation when below MinValue; lowers Progress to it.
    void SetMaxValue(int32_t value);
    int32_t Progress() const { return progress_; }
    // Clamps to the range; repaints only when the whole-number percentage changes.
    void SetProgress(int32_t value);
    int Percentage() const { return GaugePercentage(minValue_, maxValue_, progress_); }

    // Each of these setters repaints at once when the value changes.
    TGaugeKind Kind() const { return kind_; }
    void SetKind(TGaugeKind kind) { Change(kind_, kind); }
    bool ShowText() const { return showText_; }
    void SetShowText(bool showText) { Change(showText_, showText); }
    TBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TBorderStyle style) { Change(borderStyle_, style); }
    TColor ForeColor() const { return foreColor_; }
    void SetForeColor(TColor color) { Change(foreColor_, color); }
    TColor BackColor() const { return backColor_; }
    void SetBackColor(TColor color) { Change(backColor_, color); }

    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) override;

    long AccessibleRole() const override;
    std::string AccessibleName() const override;
    std::string AccessibleValue() const override;

  protected:
    void Paint() override;

  private:
    // Repaints and announces the percentage when it differs from before.
    void PercentageChanged(int before);

    template <typename T>
    void Change(T& field, T value) {
        if (StoreIfChanged(field, value)) {
            Refresh();  // paints at once: the caller may be busy and dispatching no messages
        }
    }

    int32_t minValue_ = 0;
    int32_t maxValue_ = 100;
    int32_t progress_ = 0;
    TGaugeKind kind_ = gkHorizontalBar;
    bool showText_ = true;
    TBorderStyle borderStyle_ = TBorderStyle::bsSingle;
    TColor foreColor_ = clBlack;
    TColor backColor_ = clWhite;
};
