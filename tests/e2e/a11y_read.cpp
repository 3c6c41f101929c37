// Reads a window of a program under test the way a screen reader does, for the end-to-end scripts:
// through the window tree and through the system's accessibility layer (MSAA).
//     a11y_read CAPTION [SECONDS]   waits for a visible top-level window with exactly this caption
//                                   (any process), then prints its window tree, one line a window:
//                                       window CLASS "TEXT" visible=0|1 style=0xHEX
//                                   and its accessible objects from its client object down, one
//                                   line an object, indented by depth:
//                                       object ROLE "NAME" value="VALUE" state=0xHEX
//                                   (a child window's object is read through its own client
//                                   object); exit code 0
//     a11y_read --progress SECONDS  listens to the value-change events (EVENT_OBJECT_VALUECHANGE)
//                                   of the program of the framework's first window: at the first,
//                                   prints the object that sent it ("bar ROLE "NAME"", or "bar
//                                   gone" when its window had closed before it could be asked),
//                                   then each new value read at an event ("value TEXT"), until
//                                   that window has gone (or SECONDS pass); then "events N", the
//                                   number of events; exit code 0 when one came. "listening"
//                                   first says that the events are being received
// Exit code 1 when no such window appears in time, 2 on a wrong command line.
#include <windows.h>

#include <oleacc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../common/gui_driver.h"

namespace {

std::string Narrow(BSTR text) {
    if (text == nullptr) {
        return {};
    }
    const int wide = static_cast<int>(::SysStringLen(text));
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text, wide, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, wide, result.data(), length, nullptr, nullptr);
    return result;
}

const char* RoleName(long role) {
    switch (role) {
        case ROLE_SYSTEM_TITLEBAR:
            return "titlebar";
        case ROLE_SYSTEM_MENUBAR:
            return "menubar";
        case ROLE_SYSTEM_SCROLLBAR:
            return "scrollbar";
        case ROLE_SYSTEM_WINDOW:
            return "window";
        case ROLE_SYSTEM_CLIENT:
            return "client";
        case ROLE_SYSTEM_DIALOG:
            return "dialog";
        case ROLE_SYSTEM_GROUPING:
            return "grouping";
        case ROLE_SYSTEM_PANE:
            return "pane";
        case ROLE_SYSTEM_GRAPHIC:
            return "graphic";
        case ROLE_SYSTEM_STATICTEXT:
            return "statictext";
        case ROLE_SYSTEM_TEXT:
            return "text";
        case ROLE_SYSTEM_PUSHBUTTON:
            return "pushbutton";
        case ROLE_SYSTEM_LIST:
            return "list";
        case ROLE_SYSTEM_LISTITEM:
            return "listitem";
        case ROLE_SYSTEM_COMBOBOX:
            return "combobox";
        case ROLE_SYSTEM_PROGRESSBAR:
            return "progressbar";
        default:
            return nullptr;
    }
}

struct Read {
    long role = 0;
    std::string name;
    std::string value;
    long state = 0;
};

// The role, name, value and state of object's child (CHILDID_SELF for the object itself).
Read ReadObject(IAccessible* object, long child) {
    Read read;
    VARIANT id{};
    id.vt = VT_I4;
    id.lVal = child;
    VARIANT out{};
    if (object->get_accRole(id, &out) == S_OK && out.vt == VT_I4) {
        read.role = out.lVal;
    }
    ::VariantClear(&out);
    if (object->get_accState(id, &out) == S_OK && out.vt == VT_I4) {
        read.state = out.lVal;
    }
    ::VariantClear(&out);
    BSTR text = nullptr;
    if (object->get_accName(id, &text) == S_OK) {
        read.name = Narrow(text);
    }
    ::SysFreeString(text);
    text = nullptr;
    if (object->get_accValue(id, &text) == S_OK) {
        read.value = Narrow(text);
    }
    ::SysFreeString(text);
    return read;
}

void PrintRead(int depth, const Read& read) {
    const char* role = RoleName(read.role);
    std::printf("%*sobject %s%s \"%s\" value=\"%s\" state=0x%lx\n", depth * 2, "",
                role != nullptr ? role : "role", role != nullptr ? "" : std::to_string(read.role).c_str(),
                read.name.c_str(), read.value.c_str(), static_cast<unsigned long>(read.state));
}

IAccessible* ClientObject(HWND window) {
    IAccessible* object = nullptr;
    const HRESULT result = ::AccessibleObjectFromWindow(
        window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible), reinterpret_cast<void**>(&object));
    if (FAILED(result)) {
        std::fprintf(stderr, "a11y_read: no accessible object of window %s: 0x%08lx\n",
                     gui::ClassOf(window).c_str(), static_cast<unsigned long>(result));
        return nullptr;
    }
    return object;
}

void PrintTree(IAccessible* object, int depth);

// A child that is an object of its own: a child window, read through its client object.
void PrintChildObject(IDispatch* dispatch, int depth) {
    IAccessible* child = nullptr;
    if (FAILED(dispatch->QueryInterface(__uuidof(IAccessible), reinterpret_cast<void**>(&child)))) {
        return;
    }
    HWND window = nullptr;
    if (::WindowFromAccessibleObject(child, &window) == S_OK && window != nullptr) {
        if (IAccessible* client = ClientObject(window)) {
            PrintTree(client, depth);
            client->Release();
            child->Release();
            return;
        }
    }
    PrintTree(child, depth);
    child->Release();
}

void PrintTree(IAccessible* object, int depth) {
    PrintRead(depth, ReadObject(object, CHILDID_SELF));
    long count = 0;
    if (depth > 8 || object->get_accChildCount(&count) != S_OK || count <= 0) {
        return;
    }
    std::vector<VARIANT> children(static_cast<size_t>(count));
    long obtained = 0;
    if (FAILED(::AccessibleChildren(object, 0, count, children.data(), &obtained))) {
        return;
    }
    for (long i = 0; i < obtained; ++i) {
        VARIANT& child = children[static_cast<size_t>(i)];
        if (child.vt == VT_DISPATCH && child.pdispVal != nullptr) {
            PrintChildObject(child.pdispVal, depth + 1);
        } else if (child.vt == VT_I4) {
            PrintRead(depth + 1, ReadObject(object, child.lVal));
        }
        ::VariantClear(&child);
    }
}

void PrintWindows(HWND window) {
    std::printf("window %s \"%s\" visible=%d style=0x%lx\n", gui::ClassOf(window).c_str(),
                gui::WindowText(window).c_str(), ::IsWindowVisible(window) ? 1 : 0,
                static_cast<unsigned long>(::GetWindowLongA(window, GWL_STYLE)));
    for (HWND child : gui::Children(window)) {
        std::printf("window %s \"%s\" visible=%d style=0x%lx\n", gui::ClassOf(child).c_str(),
                    gui::WindowText(child).c_str(), ::IsWindowVisible(child) ? 1 : 0,
                    static_cast<unsigned long>(::GetWindowLongA(child, GWL_STYLE)));
    }
}

// ---- --progress ---------------------------------------------------------------------------------
//
// A program that is busy extracting answers a reader only when it dispatches its messages, between
// files: every question costs one such moment. So the reader asks as little as a screen reader
// does: it listens to the program's value-change events from before the bar appears and, at each,
// asks the object of the event's window (asked for once) for the value alone.

DWORD watchedProcess = 0;
HWND barWindow = nullptr;
IAccessible* barContainer = nullptr;
long barChild = 0;
int valueEvents = 0;
std::string lastValue;

void PrintValueIfNew(const std::string& value) {
    if (!value.empty() && value != lastValue) {
        std::printf("value %s\n", value.c_str());
        std::fflush(stdout);
        lastValue = value;
    }
}

std::string ValueOf(IAccessible* object, long child) {
    VARIANT id{};
    id.vt = VT_I4;
    id.lVal = child;
    BSTR text = nullptr;
    std::string value;
    if (const HRESULT result = object->get_accValue(id, &text); result == S_OK) {
        value = Narrow(text);
    } else {
        std::printf("unread 0x%08lx\n", static_cast<unsigned long>(result));
    }
    ::SysFreeString(text);
    return value;
}

// A call into the program lets COM dispatch further events meanwhile: those only mark that the
// value is to be read again once the call in progress has returned.
bool reading = false;
bool readAgain = false;

void ReadBar(HWND window, long childId) {
    if (barContainer == nullptr) {
        barContainer = ClientObject(window);
        if (barContainer == nullptr) {
            return;
        }
        barWindow = window;
        barChild = childId;
        const Read read = ReadObject(barContainer, barChild);
        if (read.role == 0 && (!::IsWindow(window) || !::IsWindowVisible(window))) {
            // The events reach a busy reader late: the window had closed before it was asked.
            std::printf("bar gone\n");
            return;
        }
        std::printf("bar %s \"%s\"\n", RoleName(read.role) != nullptr ? RoleName(read.role) : "?",
                    read.name.c_str());
        PrintValueIfNew(read.value.empty() ? ValueOf(barContainer, barChild) : read.value);
    } else if (window == barWindow && childId == barChild) {
        PrintValueIfNew(ValueOf(barContainer, barChild));
    }
}

void CALLBACK ValueChanged(HWINEVENTHOOK, DWORD, HWND window, LONG objectId, LONG childId, DWORD, DWORD) {
    if (window == nullptr || objectId != OBJID_CLIENT) {
        return;
    }
    ++valueEvents;
    if (reading) {
        readAgain = true;
        return;
    }
    reading = true;
    do {
        readAgain = false;
        ReadBar(barWindow != nullptr ? barWindow : window, barWindow != nullptr ? barChild : childId);
    } while (readAgain && barWindow != nullptr && ::IsWindow(barWindow));
    reading = false;
}

// The process of the first visible window of the framework's class.
DWORD FrameworkProcess() {
    DWORD process = 0;
    ::EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            if (::IsWindowVisible(window) && gui::ClassOf(window) == "TandrelForm") {
                ::GetWindowThreadProcessId(window, reinterpret_cast<DWORD*>(data));
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&process));
    return process;
}

int WatchProgress(double seconds) {
    if (!gui::WaitFor(seconds, [] { return (watchedProcess = FrameworkProcess()) != 0; })) {
        return 1;
    }
    const HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr,
                                                 ValueChanged, watchedProcess, 0, WINEVENT_OUTOFCONTEXT);
    if (hook == nullptr) {
        std::printf("no event hook\n");
        return 1;
    }
    std::printf("listening\n");
    std::fflush(stdout);
    const ULONGLONG limit = ::GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    while (::GetTickCount64() < limit) {
        if (barWindow != nullptr && (!::IsWindow(barWindow) || !::IsWindowVisible(barWindow))) {
            break;
        }
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::DispatchMessageA(&message);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    ::UnhookWinEvent(hook);
    if (barContainer != nullptr) {
        barContainer->Release();
    }
    std::printf("events %d\n", valueEvents);
    return barWindow != nullptr ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: a11y_read CAPTION [SECONDS] | a11y_read --progress SECONDS\n");
        return 2;
    }
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const double seconds = argc == 3 ? std::atof(argv[2]) : 60.0;
    if (std::strcmp(argv[1], "--progress") == 0) {
        return WatchProgress(seconds);
    }
    HWND window = nullptr;
    if (!gui::WaitFor(seconds, [&] { return (window = gui::FindVisibleWindow(argv[1], true)) != nullptr; })) {
        return 1;
    }
    ::Sleep(300);  // let it finish showing
    PrintWindows(window);
    if (IAccessible* client = ClientObject(window)) {
        PrintTree(client, 0);
        client->Release();
    } else {
        std::printf("no accessible object\n");
    }
    std::fflush(stdout);
    return 0;
}
