// The gradient background: a windowless control that fills its parent's whole client area with a
// ramp of 256 colours from ColorStart to ColorEnd, in bands from top to bottom or left to right.
// The palette is worked out whenever a property is set (system colours through the user's colour
// scheme in the registry); painting only fills the 256 bands.
//
// In a layout: "object Gradient1: TGradient" with ColorStart, ColorEnd (colour names or numbers),
// Direction (gdUpDown, gdLeftRight), Swap, and Left, Top, Width, Height, Tag. Its alignment to the
// client area is fixed; put it first so that every other control lies above it.
#pragma once

#include <string_view>

#include "framework/controls.h"
#include "widgets/gradient_drawing.h"

class TGradient : public TGraphicControl {
  public:
    // Aligned to the parent's client area, black to blue from top to bottom. Raises what the
    // palette raises (see ColorToComponents).
    explicit TGradient(TComponent* owner);
    const char* ClassName() const override { return "TGradient"; }

    // Each setter stores the value (also when unchanged), works out the palette anew and paints.
    // A registry value that cannot be read raises after the value is stored; the palette then
    // keeps its previous contents.
    TColor ColorStart() const { return colorStart_; }
    void SetColorStart(TColor color) { Store(colorStart_, color); }
    TColor ColorEnd() const { return colorEnd_; }
    void SetColorEnd(TColor color) { Store(colorEnd_, color); }
    TGradDirection Direction() const { return direction_; }
    void SetDirection(TGradDirection direction) { Store(direction_, direction); }
    bool Swap() const { return swap_; }
    void SetSwap(bool swap) { Store(swap_, swap); }

    const GradientPalette& Palette() const { return palette_; }

    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) override;

  protected:
    void Paint() override;

  private:
    template <typename T>
    void Store(T& field, T value) {
        field = value;
        PropertyChanged();
    }
    void PropertyChanged();

    TColor colorStart_ = clBlack;
    TColor colorEnd_ = clBlue;
    TGradDirection direction_ = gdUpDown;
    bool swap_ = false;
    GradientPalette palette_{};
};
