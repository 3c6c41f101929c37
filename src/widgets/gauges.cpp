#include "widgets/gauges.h"

#include <cstdint>

#include "framework/exceptions.h"
#include "framework/sysutils.h"

TGauge::TGauge(TComponent* owner) : TGraphicControl(owner) {
    controlStyle_ |= csOpaque | csFramed;
    SetBounds(Left(), Top(), 100, 100);
}

void TGauge::SetMinValue(int32_t value) {
    if (value == minValue_) {
        return;
    }
    if (value > maxValue_) {
        // The bounds the message has always named; the maximum itself is accepted as well.
        throw EInvalidOperation(
            Format(msg::kOutOfRange, -2147483647, static_cast<int>(static_cast<int64_t>(maxValue_) - 1)));
    }
    minValue_ = value;
    if (progress_ < value) {
        progress_ = value;
    }
    Refresh();
}

void TGauge::SetMaxValue(int32_t value) {
    if (value == maxValue_) {
        return;
    }
    if (value < minValue_) {
        throw EInvalidOperation(
            Format(msg::kOutOfRange, static_cast<int>(static_cast<int64_t>(minValue_) + 1), 2147483647));
    }
    maxValue_ = value;
    if (progress_ > value) {
        progress_ = value;
    }
    Refresh();
}

void TGauge::SetProgress(int32_t value) {
    const int before = Percentage();
    if (value < minValue_) {
        value = minValue_;
    } else if (value > maxValue_) {
        value = maxValue_;
    }
    if (value == progress_) {
        return;
    }
    progress_ = value;
    if (Percentage() != before) {
        Refresh();  // paints at once: the caller may be busy and dispatching no messages
    }
}

void TGauge::SetKind(TGaugeKind kind) {
    if (kind != kind_) {
        kind_ = kind;
        Refresh();
    }
}

void TGauge::SetShowText(bool showText) {
    if (showText != showText_) {
        showText_ = showText;
        Refresh();
    }
}

void TGauge::SetBorderStyle(TBorderStyle style) {
    if (style != borderStyle_) {
        borderStyle_ = style;
        Refresh();
    }
}

void TGauge::SetForeColor(TColor color) {
    if (color != foreColor_) {
        foreColor_ = color;
        Refresh();
    }
}

void TGauge::SetBackColor(TColor color) {
    if (color != backColor_) {
        backColor_ = color;
        Refresh();
    }
}

void TGauge::Paint() {
    GaugeLook look;
    look.kind = kind_;
    look.bordered = borderStyle_ == TBorderStyle::bsSingle;
    look.showText = showText_;
    look.foreColor = ColorToRGB(foreColor_);
    look.backColor = ColorToRGB(backColor_);
    look.color = ColorToRGB(Color());
    look.font = Font().Handle();
    look.percentage = Percentage();
    PaintGauge(Canvas()->Handle(), Width(), Height(), look);
}

bool TGauge::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) {
    if (SameTextAscii(name, "Kind")) {
        SetKind(
            value.AsEnum<TGaugeKind>({"gkText", "gkHorizontalBar", "gkVerticalBar", "gkPie", "gkNeedle"}));
    } else if (SameTextAscii(name, "ShowText")) {
        SetShowText(value.AsBoolean());
    } else if (SameTextAscii(name, "BorderStyle")) {
        SetBorderStyle(value.AsEnum<TBorderStyle>({"bsNone", "bsSingle"}));
    } else if (SameTextAscii(name, "ForeColor")) {
        SetForeColor(value.AsColor());
    } else if (SameTextAscii(name, "BackColor")) {
        SetBackColor(value.AsColor());
    } else if (SameTextAscii(name, "MinValue")) {
        SetMinValue(value.AsInteger());
    } else if (SameTextAscii(name, "MaxValue")) {
        SetMaxValue(value.AsInteger());
    } else if (SameTextAscii(name, "Progress")) {
        SetProgress(value.AsInteger());
    } else if (IsPublished(name, {"Name", "Left", "Top", "Width", "Height", "Visible", "Enabled", "Color",
                                  "ParentColor", "Font.", "ParentFont", "Align", "Tag"})) {
        return TGraphicControl::SetProperty(name, value, context);
    } else {
        return false;  // no caption and no click event
    }
    return true;
}
