// What assistive technology reads of the framework's windows, read through the system's
// accessibility layer as a screen reader reads it: the client object's children in reading order
// (labels once, the covered and the empty ones passed over), an edit box named after the label
// above it, the gauge as a progress bar that announces every new percentage, a label that
// announces its new text, the message dialogs as dialogs with the focus on their default button,
// and the high-contrast colours.
#include "framework/accessible.h"

#include <windows.h>

#include <oleacc.h>

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../common/gui_driver.h"
#include "dib_canvas.h"
#include "widget_host.h"
#include "widgets/gauges.h"
#include "widgets/gradient.h"
#include "widgets/message_dialog.h"

namespace {

// COM for the test's thread (the objects are marshalled within the process).
class ComScope {
  public:
    ComScope() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    ~ComScope() { ::CoUninitialize(); }
};

// One reference to an accessible object.
class Object {
  public:
    explicit Object(IAccessible* object = nullptr) : object_(object) {}
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    Object(Object&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Object& operator=(Object&&) = delete;
    ~Object() {
        if (object_ != nullptr) {
            object_->Release();
        }
    }
    IAccessible* operator->() const { return object_; }
    IAccessible* get() const { return object_; }
    IAccessible** put() { return &object_; }

  private:
    IAccessible* object_;
};

Object ClientObject(HWND window) {
    Object object;
    EXPECT_EQ(::AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                           reinterpret_cast<void**>(object.put())),
              S_OK);
    return object;
}

VARIANT Child(long id) {
    VARIANT child{};
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

std::string Narrow(BSTR text) {
    std::string result;
    for (UINT i = 0; text != nullptr && i < ::SysStringLen(text); ++i) {
        result += static_cast<char>(text[i]);
    }
    ::SysFreeString(text);
    return result;
}

std::string NameOf(IAccessible* object, long child) {
    BSTR name = nullptr;
    object->get_accName(Child(child), &name);
    return Narrow(name);
}

std::string ValueOf(IAccessible* object, long child) {
    BSTR value = nullptr;
    object->get_accValue(Child(child), &value);
    return Narrow(value);
}

long RoleOf(IAccessible* object, long child) {
    VARIANT role{};
    object->get_accRole(Child(child), &role);
    return role.vt == VT_I4 ? role.lVal : -1;
}

// "role:name" of each child of a client object; a child window as "window:<its client name>".
std::vector<std::string> Children(IAccessible* object) {
    long count = 0;
    EXPECT_EQ(object->get_accChildCount(&count), S_OK);
    std::vector<VARIANT> children(static_cast<size_t>(count));
    long obtained = 0;
    EXPECT_EQ(::AccessibleChildren(object, 0, count, children.data(), &obtained), S_OK);
    std::vector<std::string> read;
    for (long i = 0; i < obtained; ++i) {
        VARIANT& child = children[static_cast<size_t>(i)];
        if (child.vt == VT_DISPATCH) {
            HWND window = nullptr;
            IAccessible* childObject = nullptr;
            child.pdispVal->QueryInterface(__uuidof(IAccessible), reinterpret_cast<void**>(&childObject));
            ::WindowFromAccessibleObject(childObject, &window);
            childObject->Release();
            read.push_back("window:" + NameOf(ClientObject(window).get(), CHILDID_SELF));
        } else {
            read.push_back(std::to_string(RoleOf(object, child.lVal)) + ":" + NameOf(object, child.lVal));
        }
        ::VariantClear(&child);
    }
    return read;
}

void Pump() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::DispatchMessageA(&message);
    }
}

TLabel* AddLabel(HostForm& form, const char* text, int left, int top, bool transparent = true) {
    auto* label = form.Add<TLabel>();
    label->SetTransparent(transparent);
    label->SetCaption(text);
    label->SetBounds(left, top, label->Width(), label->Height());
    return label;
}

const std::string kStatic = std::to_string(ROLE_SYSTEM_STATICTEXT) + ":";

TEST(Accessible, ClientObjectReadsLabelsOnceInReadingOrderAndNamesTheEditBox) {
    ComScope com;
    HostForm form;
    AddLabel(form, "&Heading", 12, 10);  // its drop shadow first, as the main window paints them
    AddLabel(form, "&Heading", 10, 8);
    AddLabel(form, "Hidden under", 12, 150, true);
    AddLabel(form, "", 200, 150);
    auto* cover = AddLabel(form, "Covering the label under it", 10, 148, false);
    cover->SetAutoSize(false);
    cover->SetBounds(10, 148, 300, 30);
    AddLabel(form, "Name:", 20, 60);
    auto* edit = form.Add<TEdit>();
    edit->SetBounds(20, 80, 200, 24);
    edit->SetText("typed");
    auto* button = form.Add<TButton>();
    button->SetCaption("&Go");
    button->SetBounds(240, 80, 80, 28);
    form.Show();
    Pump();

    const Object client = ClientObject(form.Handle());
    EXPECT_EQ(RoleOf(client.get(), CHILDID_SELF), ROLE_SYSTEM_CLIENT);
    const std::vector<std::string> expected{kStatic + "Heading",
                                            kStatic + "Name:", "window:Name:", "window:Go",
                                            kStatic + "Covering the label under it"};
    EXPECT_EQ(Children(client.get()), expected);

    // The edit box is the system's object of an edit box, with the label's name and its text.
    const Object editObject = ClientObject(edit->Handle());
    EXPECT_EQ(NameOf(editObject.get(), CHILDID_SELF), "Name:");
    EXPECT_EQ(ValueOf(editObject.get(), CHILDID_SELF), "typed");

    // Each simple child's place is on the screen, where it is painted.
    long left = 0, top = 0, width = 0, height = 0;
    ASSERT_EQ(client->accLocation(&left, &top, &width, &height, Child(2)), S_OK);
    POINT origin{0, 0};
    ::ClientToScreen(form.Handle(), &origin);
    EXPECT_EQ(left, origin.x + 20);
    EXPECT_EQ(top, origin.y + 60);
    form.Hide();
}

// Each row of a list box and of a drop-down list is a list item with its text, and the list's value
// is the selected row's text.
TEST(Accessible, ListsReadEveryRowAsAListItemWithItsText) {
    ComScope com;
    HostForm form;
    const std::vector<std::string> rows{"c:\\", "Program Files", "Tandrel", "Backup"};
    const auto fill = [&form, &rows](TListControl* control, const char* label, int left, int height) {
        AddLabel(form, label, left, 10);
        control->SetBounds(left, 30, 200, height);
        for (const std::string& row : rows) {
            control->Items().Add(row);
        }
        control->SetItemIndex(2);
        return control;
    };
    TListControl* list = fill(form.Add<TCustomListBox>(), "Folders:", 20, 120);
    TListControl* combo = fill(form.Add<TCustomComboBox>(), "Drives:", 240, 24);
    form.Show();
    Pump();

    for (const auto& [control, name] : {std::pair<TListControl*, const char*>{list, "Folders:"},
                                        std::pair<TListControl*, const char*>{combo, "Drives:"}}) {
        const Object object = ClientObject(control->Handle());
        EXPECT_EQ(NameOf(object.get(), CHILDID_SELF), name);
        EXPECT_EQ(ValueOf(object.get(), CHILDID_SELF), "Tandrel") << name;
        long count = 0;
        ASSERT_EQ(object->get_accChildCount(&count), S_OK);
        ASSERT_EQ(count, 4) << name;
        for (long id = 1; id <= 4; ++id) {
            EXPECT_EQ(NameOf(object.get(), id), rows[static_cast<size_t>(id - 1)]) << name << " " << id;
            EXPECT_EQ(RoleOf(object.get(), id), ROLE_SYSTEM_LISTITEM) << name << " " << id;
            IDispatch* child = reinterpret_cast<IDispatch*>(1);
            EXPECT_EQ(object->get_accChild(Child(id), &child), S_FALSE);
            EXPECT_EQ(child, nullptr);
            VARIANT state{};
            ASSERT_EQ(object->get_accState(Child(id), &state), S_OK);
            EXPECT_EQ((state.lVal & STATE_SYSTEM_SELECTED) != 0, id == 3) << name << " " << id;
        }
        BSTR none = nullptr;
        EXPECT_EQ(object->get_accName(Child(5), &none), E_INVALIDARG);
    }
    form.Hide();
}

TEST(Accessible, AnObjectKeptAfterItsWindowHasGoneAnswersWithAnError) {
    ComScope com;
    auto form = std::make_unique<HostForm>();
    AddLabel(*form, "Text", 10, 10);
    form->Show();
    const Object client = ClientObject(form->Handle());
    EXPECT_EQ(NameOf(client.get(), 1), "Text");
    form.reset();
    long count = -1;
    EXPECT_EQ(client->get_accChildCount(&count), E_FAIL);
    BSTR name = nullptr;
    EXPECT_EQ(client->get_accName(Child(1), &name), E_FAIL);
}

// Pumps this thread's messages until handle is signalled (30 seconds at most); false on the limit.
bool PumpUntil(HANDLE handle) {
    const ULONGLONG limit = ::GetTickCount64() + 30000;
    while (::MsgWaitForMultipleObjects(1, &handle, FALSE, 50, QS_ALLINPUT) != WAIT_OBJECT_0) {
        Pump();
        if (::GetTickCount64() > limit) {
            return false;
        }
    }
    return true;
}

// A reader on a thread of its own (as in another process) keeps an object while the program, which
// never started COM itself, closes its last window: the object still answers, with an error, and
// the reader's call is not left without an answer.
TEST(Accessible, AnObjectKeptAfterTheThreadsLastWindowHasGoneStillAnswers) {
    struct Shared {
        HANDLE gotObject = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE windowGone = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HWND window = nullptr;
        HRESULT first = E_UNEXPECTED;
        HRESULT afterwards = E_UNEXPECTED;
        ~Shared() {
            ::CloseHandle(gotObject);
            ::CloseHandle(windowGone);
        }
    } shared;
    auto form = std::make_unique<HostForm>();
    AddLabel(*form, "Text", 10, 10);
    form->Show();
    Pump();
    shared.window = form->Handle();
    const HANDLE reader = ::CreateThread(
        nullptr, 0,
        [](void* data) -> DWORD {
            auto* s = static_cast<Shared*>(data);
            const ComScope com;
            const Object client = ClientObject(s->window);
            long count = -1;
            s->first = client.get() != nullptr ? client->get_accChildCount(&count) : E_POINTER;
            ::SetEvent(s->gotObject);
            ::WaitForSingleObject(s->windowGone, 30000);
            s->afterwards = client.get() != nullptr ? client->get_accChildCount(&count) : E_POINTER;
            return 0;
        },
        &shared, 0, nullptr);
    ASSERT_NE(reader, nullptr);
    EXPECT_TRUE(PumpUntil(shared.gotObject));
    form.reset();
    Pump();
    ::SetEvent(shared.windowGone);
    EXPECT_TRUE(PumpUntil(reader));  // its last call and its release come through this thread
    ::CloseHandle(reader);
    EXPECT_EQ(shared.first, S_OK);
    EXPECT_EQ(shared.afterwards, E_FAIL);
}

// The events of this process, with what the object that sent each says at that moment.
std::vector<std::string> events;

void CALLBACK Recorded(HWINEVENTHOOK, DWORD event, HWND window, LONG objectId, LONG childId, DWORD, DWORD) {
    IAccessible* object = nullptr;
    VARIANT child{};
    if (::AccessibleObjectFromEvent(window, static_cast<DWORD>(objectId), static_cast<DWORD>(childId),
                                    &object, &child) != S_OK) {
        events.push_back("unreadable");
        return;
    }
    const long id = child.vt == VT_I4 ? child.lVal : CHILDID_SELF;
    events.push_back(event == EVENT_OBJECT_VALUECHANGE ? "value " + ValueOf(object, id)
                                                       : "name " + NameOf(object, id));
    object->Release();
}

TEST(Accessible, TheGaugeIsAProgressBarThatAnnouncesEachNewPercentage) {
    ComScope com;
    HostForm form;
    AddLabel(form, "Extracting: readme.txt", 20, 40);
    auto* gauge = form.Add<TGauge>();
    gauge->SetBounds(20, 68, 261, 29);
    gauge->SetMaxValue(400);
    form.Show();
    Pump();

    const Object client = ClientObject(form.Handle());
    ASSERT_EQ(RoleOf(client.get(), 2), ROLE_SYSTEM_PROGRESSBAR);
    EXPECT_EQ(NameOf(client.get(), 2), "Extracting: readme.txt");  // the label above it
    EXPECT_EQ(ValueOf(client.get(), 2), "0%");

    events.clear();
    const HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr,
                                                 Recorded, ::GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    for (int progress = 0; progress <= 400; ++progress) {
        gauge->SetProgress(progress);
        Pump();
    }
    std::vector<std::string> values;
    for (const std::string& event : events) {
        if (event.rfind("value ", 0) == 0) {
            values.push_back(event);
        }
    }
    std::vector<std::string> expected;
    for (int percent = 1; percent <= 100; ++percent) {
        expected.push_back("value " + std::to_string(percent) + "%");
    }
    EXPECT_EQ(values, expected) << "one event at each new percentage, in order";

    // A label's new text while shown is announced; the gauge's name follows it.
    events.clear();
    auto* label = static_cast<TLabel*>(form.Controls(0));
    label->SetCaption("Extracting: sites.ini");
    Pump();
    EXPECT_EQ(events, std::vector<std::string>{"name Extracting: sites.ini"});
    EXPECT_EQ(NameOf(client.get(), 2), "Extracting: sites.ini");

    // Hidden, nothing is announced.
    form.Hide();
    events.clear();
    gauge->SetProgress(0);
    label->SetCaption("Extracting: whatsnew.txt");
    Pump();
    EXPECT_TRUE(events.empty());
    ::UnhookWinEvent(hook);
}

TEST(Accessible, MessageDialogIsADialogWithItsMessageAndItsDefaultButtonFocused) {
    ComScope com;
    PrepareFramework();
    std::vector<std::string> read;
    long role = 0;
    std::string focused;
    gui::Driver driver("Warning", [&](HWND window) {
        ComScope driverCom;
        {
            const Object client = ClientObject(window);
            role = RoleOf(client.get(), CHILDID_SELF);
            read = Children(client.get());
        }
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info);
        focused = gui::WindowText(info.hwndFocus);
        gui::PressKey(::GetWindowThreadProcessId(window, nullptr), VK_RETURN);
    });
    // Cancel stands left of Retry; Retry is the default: Enter presses it.
    const int result =
        ShowMessageDialog("The file is in use.", mkWarning, ButtonBit(dbRetry) | ButtonBit(dbCancel), 0);
    driver.Join();
    ASSERT_TRUE(driver.Found());
    EXPECT_EQ(result, mrRetry);
    EXPECT_EQ(focused, "&Retry");
    EXPECT_EQ(role, ROLE_SYSTEM_DIALOG);
    ASSERT_FALSE(read.empty());
    EXPECT_EQ(read[0], kStatic + "The file is in use.");  // the icon is decoration, not read
}

// Sets the user's high-contrast setting as the system keeps it, and puts the old one back.
class HighContrastSetting {
  public:
    explicit HighContrastSetting(const char* flags) {
        ::RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Accessibility\\HighContrast", 0, nullptr, 0,
                          KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
        DWORD size = sizeof(old_);
        had_ = ::RegQueryValueExA(key_, "Flags", nullptr, nullptr, reinterpret_cast<BYTE*>(old_), &size) ==
               ERROR_SUCCESS;
        ::RegSetValueExA(key_, "Flags", 0, REG_SZ, reinterpret_cast<const BYTE*>(flags),
                         static_cast<DWORD>(std::strlen(flags) + 1));
    }
    HighContrastSetting(const HighContrastSetting&) = delete;
    HighContrastSetting& operator=(const HighContrastSetting&) = delete;
    ~HighContrastSetting() {
        if (had_) {
            ::RegSetValueExA(key_, "Flags", 0, REG_SZ, reinterpret_cast<const BYTE*>(old_),
                             static_cast<DWORD>(std::strlen(old_) + 1));
        } else {
            ::RegDeleteValueA(key_, "Flags");
        }
        ::RegCloseKey(key_);
    }

  private:
    HKEY key_ = nullptr;
    char old_[32] = {};
    bool had_ = false;
};

TEST(Accessible, HighContrastPaintsTheThemeColoursInsteadOfTheGradientAndTheGaugeColours) {
    HostForm form;
    auto* gradient = form.Add<TGradient>();
    gradient->SetBounds(0, 0, 64, 64);
    auto* gauge = form.Add<TGauge>();
    gauge->SetBounds(0, 0, 100, 20);
    gauge->SetShowText(false);
    gauge->SetProgress(50);
    DibCanvas picture(64, 64);
    DibCanvas bar(100, 20);
    {
        const HighContrastSetting off("126");  // every flag but "on"
        ASSERT_FALSE(HighContrastOn());
        gradient->PaintOn(picture.dc());
        EXPECT_NE(picture.Pixel(5, 0), picture.Pixel(5, 63)) << "the gradient's bands";
        gauge->PaintOn(bar.dc());
        EXPECT_EQ(bar.Pixel(10, 10), RGB(0, 0, 0));        // ForeColor clBlack
        EXPECT_EQ(bar.Pixel(90, 10), RGB(255, 255, 255));  // BackColor clWhite
    }
    const HighContrastSetting on("127");
    ASSERT_TRUE(HighContrastOn());
    gradient->PaintOn(picture.dc());
    EXPECT_EQ(picture.Pixel(5, 0), ::GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(picture.Pixel(5, 63), ::GetSysColor(COLOR_BTNFACE));
    gauge->PaintOn(bar.dc());
    EXPECT_EQ(bar.Pixel(10, 10), ::GetSysColor(COLOR_HIGHLIGHT));
    EXPECT_EQ(bar.Pixel(90, 10), ::GetSysColor(COLOR_WINDOW));
}

}  // namespace
