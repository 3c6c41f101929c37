// The layout parser and reader: value syntax, typed reading of values, error messages that name the
// object, class and property, event binding, nesting (owner and parent), scaling and Loaded.
#include "framework/layout.h"

#include <cmath>
#include <cstring>
#include <functional>
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

TPropValue ValueOf(const std::string& text) {
    const TLayoutObject root = ParseLayout("object a: TX\n  P = " + text + "\nend\n");
    EXPECT_EQ(root.properties.size(), 1u);
    return root.properties.at(0).value;
}

std::string ReadError(const std::string& layout) {
    return MessageOf<EReadError>([&] { ParseLayout(layout); });
}

// A reader context without handlers.
class NoEvents : public TReaderContext {
  public:
    const std::any* FindMethod(std::string_view) const override { return nullptr; }
};

TEST(LayoutParser, ValuesOfEveryKind) {
    TPropValue v = ValueOf("-125");
    EXPECT_EQ(v.kind, TPropValue::Kind::Integer);
    EXPECT_EQ(v.integer, -125);
    EXPECT_EQ(ValueOf("2147483649").integer, 2147483649LL);  // system colours need the unsigned range

    v = ValueOf("'it''s'#13#10'two'");
    EXPECT_EQ(v.kind, TPropValue::Kind::String);
    EXPECT_EQ(v.text, "it's\r\ntwo");
    EXPECT_EQ(ValueOf("''").text, "");
    EXPECT_EQ(ValueOf("'first ' +\n    'second'").text, "first second");

    v = ValueOf("clBtnFace");
    EXPECT_EQ(v.kind, TPropValue::Kind::Ident);
    EXPECT_EQ(v.text, "clBtnFace");

    v = ValueOf("[fsBold, fsItalic]");
    EXPECT_EQ(v.kind, TPropValue::Kind::Set);
    EXPECT_EQ(v.items, (std::vector<std::string>{"fsBold", "fsItalic"}));
    EXPECT_TRUE(ValueOf("[]").items.empty());

    v = ValueOf("{0aFF\n   10}");
    EXPECT_EQ(v.kind, TPropValue::Kind::Binary);
    EXPECT_EQ(v.bytes, (std::vector<uint8_t>{0x0A, 0xFF, 0x10}));

    v = ValueOf("(\n 'a'\n 'b''c')");
    EXPECT_EQ(v.kind, TPropValue::Kind::StringList);
    EXPECT_EQ(v.items, (std::vector<std::string>{"a", "b'c"}));

    v = ValueOf("1.5");
    EXPECT_EQ(v.kind, TPropValue::Kind::Float);
    EXPECT_DOUBLE_EQ(v.number, 1.5);
}

TEST(LayoutParser, NestingDottedNamesAndComments) {
    const TLayoutObject root = ParseLayout(
        "object frm: TForm\n"
        "  // a comment line\n"
        "  Font.Name = 'Arial'\n"
        "  object p: TPanel\n"
        "    object b: TButton\n"
        "      Caption = 'x'\n"
        "    end\n"
        "  end\n"
        "  object l: TLabel\n"
        "  end\n"
        "end\n");
    EXPECT_EQ(root.name, "frm");
    EXPECT_EQ(root.className, "TForm");
    ASSERT_EQ(root.properties.size(), 1u);
    EXPECT_EQ(root.properties[0].name, "Font.Name");
    EXPECT_EQ(root.properties[0].line, 3);
    ASSERT_EQ(root.children.size(), 2u);
    EXPECT_EQ(root.children[0].name, "p");
    ASSERT_EQ(root.children[0].children.size(), 1u);
    EXPECT_EQ(root.children[0].children[0].className, "TButton");
    EXPECT_EQ(root.children[0].children[0].line, 5);
    EXPECT_EQ(root.children[1].className, "TLabel");
}

TEST(LayoutParser, SyntaxErrorsNameTheLine) {
    EXPECT_EQ(ReadError("object a: TX\n  Caption = 'open\nend\n"), "Layout line 2: unterminated string");
    EXPECT_EQ(ReadError("object a: TX\n  Data = {ABC}\nend\n"),
              "Layout line 2: odd number of hexadecimal digits");
    EXPECT_EQ(ReadError("object a: TX\n  Data = {AZ}\nend\n"), "Layout line 2: hexadecimal digit expected");
    EXPECT_EQ(ReadError("object a: TX\n  Left = 1\n"), "Layout line 3: 'end' expected");
    EXPECT_EQ(ReadError("object a: TX\nend\nend\n"), "Layout line 3: text after the last 'end'");
    EXPECT_EQ(ReadError("object a TX\nend\n"), "Layout line 1: ':' expected");
    EXPECT_EQ(ReadError("object a: TX\n  Left 1\nend\n"), "Layout line 2: '=' expected");
    EXPECT_EQ(ReadError("object a: TX\n  C = #300\nend\n"), "Layout line 2: character code above 255");
    EXPECT_EQ(ReadError("object a: TX\n  C = 99999999999999\nend\n"), "Layout line 2: number out of range");
}

// A number with a point is the double nearest to it, as the C library's conversion gives, for every
// integer part and fraction below; digits a double cannot hold exactly are refused.
TEST(LayoutParser, NumbersWithAPointAreTheNearestDouble) {
    int compared = 0;
    for (const char* whole : {"0", "1", "3", "9", "10", "42", "255", "1000", "65536", "123456789",
                              "4503599627370495", "0000012"}) {
        for (const char* fraction :
             {"0", "1", "5", "25", "3", "33", "333333333", "1428571", "0001", "9999999",
              "00000000000000000001", "0000000000000000000005", "7", "875", "2", "50", "000", "1000000"}) {
            const std::string digits = std::string(whole) + fraction;
            const size_t significant = digits.find_first_not_of('0');
            // Above 2^53 (or beyond 22 digits after the point) the value is refused: tested below.
            if (std::strlen(fraction) > 22 ||
                (significant != std::string::npos && digits.size() - significant > 15)) {
                continue;
            }
            for (const char* sign : {"", "-", "+"}) {
                const std::string text = std::string(sign) + whole + "." + fraction;
                const TPropValue v = ValueOf(text);
                EXPECT_EQ(v.kind, TPropValue::Kind::Float) << text;
                EXPECT_EQ(v.number, std::stod(text)) << text;
                EXPECT_EQ(std::signbit(v.number), std::signbit(std::stod(text))) << text;
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 400);
    EXPECT_EQ(ValueOf("9007199254740992.0").number, 9007199254740992.0);
    EXPECT_EQ(ValueOf("0.0000000000000000000001").number, 1e-22);
    EXPECT_EQ(ReadError("object a: TX\n  C = 9007199254740993.0\nend\n"),
              "Layout line 2: number out of range");
    EXPECT_EQ(ReadError("object a: TX\n  C = 0.00000000000000000000001\nend\n"),
              "Layout line 2: number out of range");
    EXPECT_EQ(ReadError("object a: TX\n  C = 1.00000000000000000000000000000001\nend\n"),
              "Layout line 2: number out of range");
    EXPECT_EQ(ValueOf("-2147483648").integer, INT32_MIN);
    EXPECT_EQ(ValueOf("+4294967295").integer, UINT32_MAX);
    EXPECT_EQ(ValueOf("000000000007").integer, 7);
}

TEST(PropertyValues, TypedAccessorsTakeTheirOwnKindAndRange) {
    EXPECT_EQ(ValueOf("-2147483648").AsInteger(), INT32_MIN);
    EXPECT_EQ(ValueOf("7").AsInteger(0, 7), 7);
    EXPECT_EQ(ValueOf("'x'").AsString(), "x");
    EXPECT_EQ(ValueOf("Maybe").AsIdent(), "Maybe");
    EXPECT_TRUE(ValueOf("true").AsBoolean());  // identifiers ignore case
    EXPECT_FALSE(ValueOf("FALSE").AsBoolean());
    EXPECT_EQ(ValueOf("{0102}").AsBinary(), (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(ValueOf("('a' 'b')").AsStrings(), (std::vector<std::string>{"a", "b"}));

    // Colours: a name, or a number read as 32 bits (a negative one included).
    EXPECT_EQ(ValueOf("clbtnface").AsColor(), clBtnFace);
    EXPECT_EQ(ValueOf("clBlue").AsColor(), 0xFF0000u);
    EXPECT_EQ(ValueOf("2147483653").AsColor(), clWindow);
    EXPECT_EQ(ValueOf("-1").AsColor(), 0xFFFFFFFFu);

    // Enumerations give the position among the names; sets one bit per name, in the names' order.
    const std::initializer_list<std::string_view> aligns = {"alNone", "alTop",   "alBottom",
                                                            "alLeft", "alRight", "alClient"};
    EXPECT_EQ(ValueOf("ALCLIENT").AsEnum(aligns), 5);
    EXPECT_EQ(ValueOf("alNone").AsEnum<TAlign>(aligns), TAlign::alNone);
    EXPECT_EQ(ValueOf("[c, A]").AsSet({"a", "b", "c"}), 0b101u);
    EXPECT_EQ(ValueOf("[]").AsSet({"a"}), 0u);

    // Everything else is one error, whatever the accessor.
    const std::vector<std::pair<const char*, std::function<void()>>> refused = {
        {"2147483648 as integer", [] { ValueOf("2147483648").AsInteger(); }},
        {"8 above 0..7", [] { ValueOf("8").AsInteger(0, 7); }},
        {"-1 below 0..7", [] { ValueOf("-1").AsInteger(0, 7); }},
        {"'7' as integer", [] { ValueOf("'7'").AsInteger(); }},
        {"1.5 as integer", [] { ValueOf("1.5").AsInteger(); }},
        {"ident as string", [] { ValueOf("x").AsString(); }},
        {"string as ident", [] { ValueOf("'x'").AsIdent(); }},
        {"1 as boolean", [] { ValueOf("1").AsBoolean(); }},
        {"Maybe as boolean", [] { ValueOf("Maybe").AsBoolean(); }},
        {"unknown colour name", [] { ValueOf("clPlaid").AsColor(); }},
        {"string as colour", [] { ValueOf("'clRed'").AsColor(); }},
        {"name outside the enumeration",
         [] {
             ValueOf("alMiddle").AsEnum({"alNone", "alTop"});
         }},
        {"string as enumeration",
         [] {
             ValueOf("'alTop'").AsEnum({"alNone", "alTop"});
         }},
        {"name outside the set",
         [] {
             ValueOf("[a, d]").AsSet({"a", "b"});
         }},
        {"ident as set",
         [] {
             ValueOf("a").AsSet({"a", "b"});
         }},
        {"string list as binary", [] { ValueOf("('a')").AsBinary(); }},
        {"set as string list", [] { ValueOf("[a]").AsStrings(); }},
    };
    for (const auto& [what, read] : refused) {
        EXPECT_EQ(MessageOf<EReadError>(read), "Invalid property value") << what;
    }
}

TEST(PropertyValues, InheritedPropertiesKeptByName) {
    EXPECT_TRUE(IsPublished("left", {"Name", "Left"}));
    EXPECT_FALSE(IsPublished("Align", {"Name", "Left"}));
    // "Font." keeps the whole group, but not a name that only starts like it.
    EXPECT_TRUE(IsPublished("font.Height", {"Font."}));
    EXPECT_FALSE(IsPublished("Font.", {"Font."}));
    EXPECT_FALSE(IsPublished("FontSize", {"Font."}));
    EXPECT_FALSE(IsPublished("Font", {"Font."}));
}

TEST(PropertyValues, EnumerationsAndSetsOfTheStandardClassesMapToTheirValues) {
    TForm form(Application);
    TPanel panel(&form);
    const auto style = [](TFontStyle a, TFontStyle b) {
        return static_cast<int>(static_cast<TFontStyles>(a) | static_cast<TFontStyles>(b));
    };
    struct Case {
        TComponent& target;
        const char* name;
        const char* text;
        std::function<int()> read;
        int expected;
    };
    const Case cases[] = {
        {form, "BorderStyle", "bsSizeToolWin", [&] { return static_cast<int>(form.BorderStyle()); },
         static_cast<int>(TFormBorderStyle::bsSizeToolWin)},
        {form, "BorderIcons", "[biMaximize, biSystemMenu]",
         [&] { return static_cast<int>(form.BorderIcons()); }, biMaximize | biSystemMenu},
        {form, "BorderIcons", "[biMinimize]", [&] { return static_cast<int>(form.BorderIcons()); },
         biMinimize},
        {form, "Position", "poScreenCenter", [&] { return static_cast<int>(form.Position()); },
         static_cast<int>(TPosition::poScreenCenter)},
        {form, "FormStyle", "fsStayOnTop", [&] { return static_cast<int>(form.FormStyle()); },
         static_cast<int>(TFormStyle::fsStayOnTop)},
        {form, "WindowState", "wsMinimized", [&] { return static_cast<int>(form.WindowState()); },
         static_cast<int>(TWindowState::wsMinimized)},
        {form, "Font.Style", "[fsStrikeOut, fsItalic]", [&] { return static_cast<int>(form.Font().Style()); },
         style(TFontStyle::fsStrikeOut, TFontStyle::fsItalic)},
        {form, "Font.Style", "[fsUnderline, fsBold]", [&] { return static_cast<int>(form.Font().Style()); },
         style(TFontStyle::fsUnderline, TFontStyle::fsBold)},
        {form, "Font.Color", "clHighlight", [&] { return static_cast<int>(form.Font().Color()); },
         static_cast<int>(clHighlight)},
        {panel, "Align", "alRight", [&] { return static_cast<int>(panel.Align()); },
         static_cast<int>(TAlign::alRight)},
        {panel, "Alignment", "taRightJustify", [&] { return static_cast<int>(panel.Alignment()); },
         static_cast<int>(TAlignment::taRightJustify)},
        {panel, "BevelOuter", "bvLowered", [&] { return static_cast<int>(panel.BevelOuter()); },
         static_cast<int>(TBevelCut::bvLowered)},
        {panel, "BevelInner", "bvNone", [&] { return static_cast<int>(panel.BevelInner()); },
         static_cast<int>(TBevelCut::bvNone)},
        {panel, "Color", "clInfoBk", [&] { return static_cast<int>(panel.Color()); },
         static_cast<int>(clInfoBk)},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(c.target.SetProperty(c.name, ValueOf(c.text), NoEvents())) << c.name;
        EXPECT_EQ(c.read(), c.expected) << c.name << " = " << c.text;
    }

    // A value of the wrong kind is refused before anything is stored.
    TCustomListBox list(&form);
    EXPECT_TRUE(list.SetProperty("Items.Strings", ValueOf("('a' 'b')"), NoEvents()));
    EXPECT_EQ(MessageOf<EReadError>([&] { list.SetProperty("Items.Strings", ValueOf("[a]"), NoEvents()); }),
              "Invalid property value");
    EXPECT_EQ(list.Items().Count(), 2);

    // The character set is taken as a number or a name and otherwise ignored.
    EXPECT_TRUE(form.SetProperty("Font.Charset", ValueOf("DEFAULT_CHARSET"), NoEvents()));
    EXPECT_TRUE(form.SetProperty("Font.Charset", ValueOf("238"), NoEvents()));
    EXPECT_EQ(MessageOf<EReadError>([&] { form.SetProperty("Font.Charset", ValueOf("'x'"), NoEvents()); }),
              "Invalid property value");
}

// A window class read from a layout text, with two handlers.
class TTestForm : public TForm {
  public:
    explicit TTestForm(TComponent* owner, const std::string& layout) : TForm(owner) {
        AddHandler("ButtonClick", TNotifyEvent([this](TObject* sender) { clicked.push_back(sender); }));
        AddHandler("AskClose", TCloseQueryEvent([](TObject*, bool& canClose) { canClose = false; }));
        ReadLayoutText(layout);
    }
    const char* ClassName() const override { return "TTestForm"; }
    std::vector<TObject*> clicked;
};

const char kGoodLayout[] =
    "object Test: TTestForm\n"
    "  Left = 10\n"
    "  Top = 20\n"
    "  ClientWidth = 300\n"
    "  ClientHeight = 200\n"
    "  BorderStyle = bsDialog\n"
    "  Caption = 'Test window'\n"
    "  Font.Name = 'Arial'\n"
    "  Font.Height = -15\n"
    "  Font.Style = [fsBold]\n"
    "  OnCloseQuery = AskClose\n"
    "  object Panel1: TPanel\n"
    "    Left = 5\n"
    "    Top = 6\n"
    "    Width = 150\n"
    "    Height = 100\n"
    "    BevelInner = bvLowered\n"
    "    object Button1: TButton\n"
    "      Left = 7\n"
    "      Top = 8\n"
    "      Width = 75\n"
    "      Height = 25\n"
    "      Caption = '&Go'\n"
    "      Default = True\n"
    "      OnClick = ButtonClick\n"
    "    end\n"
    "    object Label1: TLabel\n"
    "      Left = 7\n"
    "      Top = 40\n"
    "      Caption = 'Text'\n"
    "      Font.Color = clRed\n"
    "    end\n"
    "  end\n"
    "end\n";

TEST(LayoutReader, CreatesOwnedNestedControlsWithTheirProperties) {
    TTestForm form(Application, kGoodLayout);
    EXPECT_EQ(form.Name(), "Test");
    EXPECT_EQ(form.Caption(), "Test window");
    EXPECT_EQ(form.Left(), 10);
    EXPECT_EQ(form.ClientWidth(), 300);
    EXPECT_EQ(form.ClientHeight(), 200);
    EXPECT_GT(form.Width(), 300);  // the frame of the dialog border comes on top
    EXPECT_EQ(form.BorderStyle(), TFormBorderStyle::bsDialog);

    auto* panel = dynamic_cast<TPanel*>(form.FindComponent("Panel1"));
    auto* button = dynamic_cast<TButton*>(form.FindComponent("button1"));  // names ignore case
    auto* label = dynamic_cast<TLabel*>(form.FindComponent("Label1"));
    ASSERT_NE(panel, nullptr);
    ASSERT_NE(button, nullptr);
    ASSERT_NE(label, nullptr);
    // Every object is owned by the window and lies on the object it is written in.
    EXPECT_EQ(button->Owner(), &form);
    EXPECT_EQ(button->Parent(), panel);
    EXPECT_EQ(panel->Parent(), &form);
    EXPECT_EQ(panel->BevelInner(), TBevelCut::bvLowered);
    EXPECT_EQ(button->Caption(), "&Go");
    EXPECT_TRUE(button->Default());

    // Fonts: a control that names no font follows its parent; one that does keeps its own.
    EXPECT_EQ(button->Font().Name(), "Arial");
    EXPECT_EQ(button->Font().Height(), -15);
    EXPECT_TRUE(button->ParentFont());
    EXPECT_EQ(label->Font().Color(), clRed);
    EXPECT_EQ(label->Font().Name(), "Arial");
    EXPECT_FALSE(label->ParentFont());
    form.Font().SetName("Courier New");
    EXPECT_EQ(button->Font().Name(), "Courier New");
    EXPECT_EQ(label->Font().Name(), "Arial");

    // Loaded ran: the auto-sized label fits its text.
    WindowDc screen(nullptr);
    TCanvas canvas(screen.get());
    canvas.Font = label->Font();
    EXPECT_EQ(label->Width(), canvas.TextWidth("Text"));

    // Events are bound to the window's handlers by name.
    button->Click();
    ASSERT_EQ(form.clicked.size(), 1u);
    EXPECT_EQ(form.clicked[0], button);
    EXPECT_FALSE(form.CloseQuery());
}

std::string LayoutError(const std::string& layout) {
    return MessageOf<EReadError>([&] { TTestForm form(Application, layout); });
}

std::string WithButtonLine(const std::string& line) {
    return "object Test: TTestForm\n"
           "  object Button1: TButton\n"
           "    " +
           line +
           "\n"
           "  end\n"
           "end\n";
}

TEST(LayoutReader, BadPropertiesGiveClearErrors) {
    EXPECT_EQ(LayoutError(WithButtonLine("Captoin = 'x'")),
              "Error reading Button1 (TButton, line 3): property Captoin does not exist");
    EXPECT_EQ(LayoutError(WithButtonLine("Caption = 12")),
              "Error reading Button1.Caption (TButton, line 3): Invalid property value");
    EXPECT_EQ(LayoutError(WithButtonLine("Left = 'ten'")),
              "Error reading Button1.Left (TButton, line 3): Invalid property value");
    EXPECT_EQ(LayoutError(WithButtonLine("Default = Maybe")),
              "Error reading Button1.Default (TButton, line 3): Invalid property value");
    EXPECT_EQ(LayoutError(WithButtonLine("Font.Style = [fsHeavy]")),
              "Error reading Button1.Font.Style (TButton, line 3): Invalid property value");
    EXPECT_EQ(LayoutError(WithButtonLine("Font.Weight = 3")),
              "Error reading Button1 (TButton, line 3): property Font.Weight does not exist");
    EXPECT_EQ(LayoutError(WithButtonLine("OnClick = NoSuchHandler")),
              "Error reading Button1.OnClick (TButton, line 3): Invalid event handler 'NoSuchHandler'");
    EXPECT_EQ(LayoutError(WithButtonLine("OnClick = AskClose")),  // a handler of another event type
              "Error reading Button1.OnClick (TButton, line 3): Invalid event handler 'AskClose'");
    EXPECT_EQ(LayoutError("object Test: TTestForm\n  object X: TNoSuchClass\n  end\nend\n"),
              "Error reading X (line 2): class TNoSuchClass not found");
    EXPECT_EQ(LayoutError("object Test: TOtherForm\nend\n"),
              "Error reading Test: the layout is of class TOtherForm, not TTestForm");
    // A failed read leaves nothing behind: the window and whatever it had read are freed.
    const int before = Application->ComponentCount();
    LayoutError(WithButtonLine("Captoin = 'x'"));
    EXPECT_EQ(Application->ComponentCount(), before);
}

// A component of the reader's test: records what happens to it.
class TProbe : public TComponent {
  public:
    using TComponent::TComponent;
    const char* ClassName() const override { return "TProbe"; }
    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) override {
        if (name == "Left" || name == "Tag" || name == "Font.Height" || name == "ItemHeight") {
            values.push_back(std::string(name) + "=" + std::to_string(value.integer));
            loadingWhileSet = loadingWhileSet && Loading();
            return true;
        }
        return TComponent::SetProperty(name, value, context);
    }
    void Loaded() override { loadedOrder.push_back(Name()); }
    std::vector<std::string> values;
    bool loadingWhileSet = true;
    static std::vector<std::string> loadedOrder;
};
std::vector<std::string> TProbe::loadedOrder;

class TRootProbe : public TProbe {
  public:
    using TProbe::TProbe;
    const char* ClassName() const override { return "TRootProbe"; }
};

TEST(LayoutReader, ScalesFiguresByScreenResolutionAndCallsLoadedLast) {
    RegisterComponentClass<TProbe>("TProbe");
    ASSERT_NE(FindClassFactory("tprobe"), nullptr);  // class names ignore case
    const TLayoutObject layout = ParseLayout(
        "object Root: TRootProbe\n"
        "  Left = 100\n"
        "  Tag = 100\n"
        "  object A: TProbe\n"
        "    Font.Height = -13\n"
        "    ItemHeight = 16\n"
        "  end\n"
        "  object B: TProbe\n"
        "    Left = -7\n"
        "  end\n"
        "end\n");
    TProbe::loadedOrder.clear();
    TRootProbe root(nullptr);
    ReadLayoutInto(root, layout, NoEvents(), 144);  // 144 / 120 = 1.2
    EXPECT_EQ(root.values, (std::vector<std::string>{"Left=120", "Tag=100"}));
    auto* a = dynamic_cast<TProbe*>(root.FindComponent("A"));
    auto* b = dynamic_cast<TProbe*>(root.FindComponent("B"));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->values, (std::vector<std::string>{"Font.Height=-16", "ItemHeight=19"}));  // -15.6, 19.2
    EXPECT_EQ(b->values, (std::vector<std::string>{"Left=-8"}));                           // -8.4
    EXPECT_TRUE(root.loadingWhileSet && a->loadingWhileSet);
    EXPECT_FALSE(root.Loading() || a->Loading() || b->Loading());
    EXPECT_EQ(TProbe::loadedOrder, (std::vector<std::string>{"A", "B", "Root"}));

    TRootProbe exact(nullptr);
    ReadLayoutInto(exact, layout, NoEvents(), 120);
    EXPECT_EQ(dynamic_cast<TProbe*>(exact.FindComponent("A"))->values,
              (std::vector<std::string>{"Font.Height=-13", "ItemHeight=16"}));
}

}  // namespace
