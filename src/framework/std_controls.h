// The standard controls: label, image, panel, button, edit box, and the bases of owner-drawn list
// and combo boxes.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/controls.h"

// Makes the standard classes known to the layout reader (TLabel, TImage, TPanel, TButton, TEdit).
void RegisterStandardClasses();

enum class TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };

// Text on the parent's surface. Not transparent: paints its background in Color (the parent's
// colour by default). AutoSize (on by default) fits the size to the text whenever the text or font
// changes and once the layout is read; with WordWrap only the height follows, for the width kept.
class TLabel : public TGraphicControl {
  public:
    explicit TLabel(TComponent* owner);
    const char* ClassName() const override { return "TLabel"; }

    bool Transparent() const { return transparent_; }
    void SetTransparent(bool transparent);
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool wordWrap);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool autoSize);
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment alignment);

    // Published: those of TControl and Transparent, WordWrap, AutoSize, Alignment.
    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) override;
    void Loaded() override;
    // Static text to assistive technology, unless an opaque label painted after it covers it whole.
    long AccessibleRole() const override;

  protected:
    void Paint() override;
    void TextChanged() override;
    void FontChanged() override;
    void AdjustBounds();
    UINT DrawTextFlags() const;

  private:
    bool CoveredByLabelAbove() const;

    bool transparent_ = false;
    bool wordWrap_ = false;
    bool autoSize_ = true;
    bool loading_ = true;
    TAlignment alignment_ = TAlignment::taLeftJustify;
};

// A picture drawn at its own size from the control's top left.
class TImage : public TGraphicControl {
  public:
    explicit TImage(TComponent* owner);
    const char* ClassName() const override { return "TImage"; }

    TBitmap& Picture() { return picture_; }
    // Draws Picture anew after it has been changed through the reference.
    void PictureChanged() { Invalidate(); }

    // Published: those of TControl and Picture.Data (the bytes of a .bmp file, binary).
    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) override;

  protected:
    void Paint() override;

  private:
    TBitmap picture_;
};

enum class TBevelCut : uint8_t { bvNone, bvLowered, bvRaised };

// A windowed container with an outer and an inner bevel and its caption centred.
class TPanel : public TCustomControl {
  public:
    explicit TPanel(TComponent* owner);
    const char* ClassName() const override { return "TPanel"; }

    TBevelCut BevelOuter() const { return bevelOuter_; }
    void SetBevelOuter(TBevelCut cut);
    TBevelCut BevelInner() const { return bevelInner_; }
    void SetBevelInner(TBevelCut cut);
    int BevelWidth() const { return bevelWidth_; }
    void SetBevelWidth(int width);
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment alignment);

    // Published: those of TWinControl and BevelOuter, BevelInner, BevelWidth, Alignment.
    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) override;

    // A pane without a name: the panels' captions lie under their controls, never seen.
    long AccessibleRole() const override;
    std::string AccessibleName() const override { return {}; }

  protected:
    void Paint() override;

  private:
    // Stores a property's value and repaints, also when the value is unchanged.
    template <typename T>
    void Store(T& field, T value);

    TBevelCut bevelOuter_ = TBevelCut::bvRaised;
    TBevelCut bevelInner_ = TBevelCut::bvNone;
    int bevelWidth_ = 1;
    TAlignment alignment_ = TAlignment::taCenter;
};

// A push button. Default: Enter presses it (unless another button has the focus); Cancel: Esc
// presses it. A click sets the form's ModalResult to the button's ModalResult (when not 0) and then
// fires OnClick.
class TButton : public TWinControl {
  public:
    explicit TButton(TComponent* owner);
    const char* ClassName() const override { return "TButton"; }

    bool Default() const { return default_; }
    void SetDefault(bool isDefault);
    bool Cancel() const { return cancel_; }
    void SetCancel(bool isCancel) { cancel_ = isCancel; }
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int result) { modalResult_ = result; }

    void Click() override;

    // Published: those of TWinControl and Default, Cancel, ModalResult.
    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) override;

  protected:
    void CreateParams(TCreateParams& params) override;
    void CommandNotify(WORD code) override;

  private:
    bool default_ = false;
    bool cancel_ = false;
    int modalResult_ = 0;
};

// A one-line edit box. OnChange fires after every change of the text.
class TEdit : public TWinControl {
  public:
    explicit TEdit(TComponent* owner);
    const char* ClassName() const override { return "TEdit"; }
    bool NamedByLabel() const override { return true; }

    TNotifyEvent OnChange;

    // Published: those of TWinControl and OnChange.
    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) override;

  protected:
    void CreateParams(TCreateParams& params) override;
    void CommandNotify(WORD code) override;
    HBRUSH ControlColorBrush(HDC dc) override;
};

// The state of an owner-drawn row.
using TOwnerDrawState = uint32_t;
inline constexpr TOwnerDrawState odSelected = 1;
inline constexpr TOwnerDrawState odFocused = 2;
inline constexpr TOwnerDrawState odDisabled = 4;
inline constexpr TOwnerDrawState odComboBoxEdit = 8;  // the selection field of a combo box

// The rows of a list or combo box: a text and an object pointer each. The objects are not owned
// (a picker points its rows at pictures that it owns itself). Changes reach the window at once
// when it exists, and are put into it when it is made.
class TListItems {
  public:
    int Count() const { return static_cast<int>(rows_.size()); }
    const std::string& Strings(int index) const { return rows_.at(static_cast<size_t>(index)).text; }
    const std::string& operator[](int index) const { return Strings(index); }
    TObject* Objects(int index) const { return rows_.at(static_cast<size_t>(index)).object; }
    int Add(std::string text) { return AddObject(std::move(text), nullptr); }
    int AddObject(std::string text, TObject* object);
    void Delete(int index);
    void Clear();
    // Index of the first row equal to text ignoring ASCII case; -1 if none.
    int IndexOf(std::string_view text) const;

  private:
    friend class TListControl;
    struct Row {
        std::string text;
        TObject* object;
    };
    std::vector<Row> rows_;
    class TListControl* owner_ = nullptr;
};

// What a list box and a combo box share: rows, the selected row, fixed row height, owner drawing
// and the Click / Change / DblClick / KeyPress hooks.
class TListControl : public TWinControl {
  public:
    bool NamedByLabel() const override { return true; }
    explicit TListControl(TComponent* owner);
    const char* ClassName() const override { return "TListControl"; }

    TListItems& Items() { return items_; }
    const TListItems& Items() const { return items_; }
    // The selected row, -1 for none. Setting it raises no event.
    int ItemIndex() const;
    void SetItemIndex(int index);
    int ItemHeight() const { return itemHeight_; }
    void SetItemHeight(int height);
    // Between BeginUpdate and EndUpdate (nested) the window does not repaint; EndUpdate repaints once.
    void BeginUpdate();
    void EndUpdate();

    TNotifyEvent OnChange;
    TNotifyEvent OnDblClick;
    TKeyPressEvent OnKeyPress;

    // Hooks: Change fires OnChange, DblClick fires OnDblClick, KeyPress fires OnKeyPress (a handler
    // that sets the key to 0 swallows it). Click (TControl) fires OnClick.
    virtual void Change();
    virtual void DblClick();
    virtual void KeyPress(char& key);

    // Published: those of TWinControl and ItemHeight, Items.Strings, OnChange, OnDblClick, OnKeyPress.
    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) override;

  protected:
    // Draws row index in rect on Canvas(); the default draws its text. Canvas's brush and font are
    // set to the row's colours (highlight when selected) and the rect is not yet filled.
    virtual void DrawItem(int index, const RECT& rect, TOwnerDrawState state);
    // The canvas to draw on; valid only while DrawItem runs.
    TCanvas* Canvas() { return canvas_; }

    void CreateWnd() override;
    void DrawItemNotify(DRAWITEMSTRUCT& draw) override;
    void MeasureItemNotify(MEASUREITEMSTRUCT& measure) override;
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void FontChanged() override;

    // The window messages of the kind (LB_* or CB_*).
    struct Messages {
        UINT addString, deleteString, resetContent, setItemData, getCurSel, setCurSel, setItemHeight, error;
    };
    virtual const Messages& ListMessages() const = 0;

  private:
    friend class TListItems;
    void RowAdded(int index);
    void RowDeleted(int index);
    void RowsCleared();

    TListItems items_;
    int itemHeight_ = 16;
    int itemIndex_ = -1;  // kept while there is no window
    int updateCount_ = 0;
    TCanvas* canvas_ = nullptr;
};

// The base of owner-drawn list boxes (fixed row height, unsorted). A change of selection by the
// user calls Click; a double click calls DblClick; a character typed calls KeyPress.
class TCustomListBox : public TListControl {
  public:
    explicit TCustomListBox(TComponent* owner);
    const char* ClassName() const override { return "TCustomListBox"; }

  protected:
    void CreateParams(TCreateParams& params) override;
    void CommandNotify(WORD code) override;
    const Messages& ListMessages() const override;
};

// The base of owner-drawn drop-down lists (fixed row height). A selection by the user calls Click
// and then Change; Height is the height of the selection field.
class TCustomComboBox : public TListControl {
  public:
    explicit TCustomComboBox(TComponent* owner);
    const char* ClassName() const override { return "TCustomComboBox"; }

    int DropDownCount() const { return dropDownCount_; }
    void SetDropDownCount(int count) { dropDownCount_ = count; }
    bool DroppedDown() const;
    // An open drop-down list takes Enter and Esc itself (they close it).
    bool WantsKey(WPARAM virtualKey) const override;

  protected:
    void CreateParams(TCreateParams& params) override;
    void CommandNotify(WORD code) override;
    const Messages& ListMessages() const override;
    int WindowHeight() const override;

  private:
    int dropDownCount_ = 8;
};
