// The owner-drawn list and combo box bases on real windows: rows reach the window, owner drawing
// with the row's state, and the Click / Change / DblClick / KeyPress / CreateWnd hooks in the
// order in which user input fires them.
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "framework/application.h"
#include "framework/forms.h"
#include "framework/std_controls.h"

namespace {

template <typename Base>
class TRecording : public Base {
  public:
    explicit TRecording(TComponent* owner) : Base(owner) {}
    std::vector<std::string> events;
    std::vector<std::pair<int, TOwnerDrawState>> drawn;
    bool windowDuringCreateWnd = false;

    void Click() override {
        events.push_back("click " + std::to_string(this->ItemIndex()));
        Base::Click();
    }
    void Change() override {
        events.push_back("change " + std::to_string(this->ItemIndex()));
        Base::Change();
    }
    void DblClick() override {
        events.push_back("dblclick");
        Base::DblClick();
    }
    void KeyPress(char& key) override {
        events.push_back(std::string("key ") + key);
        if (key == 'x') {
            key = 0;
        }
        Base::KeyPress(key);
    }

  protected:
    void CreateWnd() override {
        Base::CreateWnd();
        windowDuringCreateWnd = this->HandleAllocated();
        events.push_back("createwnd " + std::to_string(::SendMessageA(this->Handle(), kCount, 0, 0)));
    }
    void DrawItem(int index, const RECT& rect, TOwnerDrawState state) override {
        drawn.emplace_back(index, state);
        Base::DrawItem(index, rect, state);
    }
    static constexpr UINT kCount = std::is_base_of_v<TCustomListBox, Base> ? LB_GETCOUNT : CB_GETCOUNT;
};

class Lists : public ::testing::Test {
  protected:
    void SetUp() override {
        form = std::make_unique<TForm>(Application);
        form->SetBounds(50, 50, 400, 300);
    }
    std::unique_ptr<TForm> form;
};

TEST_F(Lists, ListBoxRowsDrawingAndUserInput) {
    auto* list = new TRecording<TCustomListBox>(form.get());
    list->SetParent(form.get());
    list->SetBounds(10, 10, 150, 120);
    list->SetItemHeight(20);
    list->Items().Add("alpha");
    list->Items().Add("beta");
    list->SetItemIndex(1);
    int clicks = 0;
    list->OnClick = [&](TObject*) { ++clicks; };
    EXPECT_FALSE(list->HandleAllocated());
    EXPECT_EQ(list->ItemIndex(), 1);

    form->Show();
    Application->ProcessMessages();
    // The hook ran once, with the window made and the rows already in it.
    EXPECT_TRUE(list->windowDuringCreateWnd);
    EXPECT_EQ(list->events, std::vector<std::string>{"createwnd 2"});
    list->events.clear();
    HWND hwnd = list->Handle();
    EXPECT_EQ(::SendMessageA(hwnd, LB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(::SendMessageA(hwnd, LB_GETITEMHEIGHT, 0, 0), 20);
    EXPECT_EQ(list->ItemIndex(), 1);
    list->Items().Add("gamma");  // rows added later reach the window at once
    EXPECT_EQ(::SendMessageA(hwnd, LB_GETCOUNT, 0, 0), 3);

    list->drawn.clear();
    ::InvalidateRect(hwnd, nullptr, TRUE);
    ::UpdateWindow(hwnd);
    ASSERT_GE(list->drawn.size(), 3u);
    for (const auto& [index, state] : list->drawn) {
        EXPECT_EQ((state & odSelected) != 0, index == 1) << index;
    }

    // A click on row 0 selects it: Click, with the new row selected.
    ::SendMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    ::SendMessageA(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(list->events, std::vector<std::string>{"click 0"});
    EXPECT_EQ(clicks, 1);
    list->events.clear();
    // A double click on row 1: the first press selects it, the second opens it.
    ::SendMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 25));
    ::SendMessageA(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(5, 25));
    ::SendMessageA(hwnd, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 25));
    ::SendMessageA(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(5, 25));
    EXPECT_EQ(list->events, (std::vector<std::string>{"click 1", "dblclick"}));

    // Setting the row from code raises nothing.
    list->events.clear();
    list->SetItemIndex(2);
    EXPECT_TRUE(list->events.empty());
    EXPECT_EQ(list->ItemIndex(), 2);

    // Characters reach KeyPress; a handler that clears the key swallows it.
    std::vector<char> seen;
    list->OnKeyPress = [&](TObject*, char& key) { seen.push_back(key); };
    ::SendMessageA(hwnd, WM_CHAR, 'g', 1);
    ::SendMessageA(hwnd, WM_CHAR, 'x', 1);
    EXPECT_EQ(seen, (std::vector<char>{'g', 0}));

    list->Items().Delete(0);
    EXPECT_EQ(::SendMessageA(hwnd, LB_GETCOUNT, 0, 0), 2);
    list->Items().Clear();
    EXPECT_EQ(::SendMessageA(hwnd, LB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(list->ItemIndex(), -1);
}

TEST_F(Lists, ComboBoxSelectionByTheUserCallsClickThenChange) {
    auto* combo = new TRecording<TCustomComboBox>(form.get());
    combo->SetParent(form.get());
    combo->SetBounds(10, 10, 150, 22);
    combo->Items().Add("a:");
    combo->Items().Add("c: [system]");
    combo->Items().Add("d: [data]");
    combo->SetItemIndex(1);
    form->Show();
    Application->ProcessMessages();
    EXPECT_EQ(combo->events, std::vector<std::string>{"createwnd 3"});
    combo->events.clear();
    HWND hwnd = combo->Handle();
    EXPECT_EQ(::SendMessageA(hwnd, CB_GETCURSEL, 0, 0), 1);
    EXPECT_FALSE(combo->DroppedDown());

    // The down arrow on the closed list moves the selection: a user's selection.
    combo->SetFocus();
    ::SendMessageA(hwnd, WM_KEYDOWN, VK_DOWN, 1);
    EXPECT_EQ(combo->events, (std::vector<std::string>{"click 2", "change 2"}));
    EXPECT_EQ(combo->ItemIndex(), 2);

    // The selection field is drawn with the combo box's edit state.
    combo->drawn.clear();
    ::InvalidateRect(hwnd, nullptr, TRUE);
    ::UpdateWindow(hwnd);
    ASSERT_FALSE(combo->drawn.empty());
    EXPECT_NE(combo->drawn.back().second & odComboBoxEdit, 0u);
    EXPECT_EQ(combo->drawn.back().first, 2);
}

}  // namespace
