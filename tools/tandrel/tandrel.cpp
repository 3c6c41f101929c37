// Tandrel.exe, the product program that the setup installs. It stands in for the FTP client: one
// window with the product's name and version and, beside it, the names of the sites kept in the
// sites.ini next to the program (one INI section per site).
#include <windows.h>

#include <string>
#include <vector>

#include "framework/unique_handle.h"
#include "lifecycle/safe_library.h"

namespace {

constexpr char kTitle[] = "Tandrel 2.11";
constexpr int kListId = 100;

// The folder of this program, with a trailing "\".
std::string ProgramFolder() {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

// The section names of the INI file: one per site.
std::vector<std::string> SiteNames(const std::string& iniPath) {
    std::vector<char> buffer(4096);
    for (;;) {
        const DWORD length = ::GetPrivateProfileSectionNamesA(
            buffer.data(), static_cast<DWORD>(buffer.size()), iniPath.c_str());
        if (length < buffer.size() - 2) {
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    std::vector<std::string> names;
    for (const char* name = buffer.data(); *name != '\0'; name += names.back().size() + 1) {
        names.emplace_back(name);
    }
    return names;
}

void PaintTitle(HWND window) {
    PaintDc dc(window);
    LOGFONTA logFont{};
    logFont.lfHeight = -28;
    logFont.lfWeight = FW_BOLD;
    lstrcpyA(logFont.lfFaceName, "Arial");
    UniqueFont font(::CreateFontIndirectA(&logFont));
    SelectGuard selected(dc.get(), font.get());
    ::SetBkMode(dc.get(), TRANSPARENT);
    ::SetTextColor(dc.get(), RGB(0, 0, 128));
    // A loaded icon resource is shared and needs no release.
    ::DrawIcon(dc.get(), 16, 16, ::LoadIconA(::GetModuleHandleA(nullptr), "MAINICON"));
    ::TextOutA(dc.get(), 60, 18, kTitle, lstrlenA(kTitle));
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            HWND caption = ::CreateWindowExA(0, "STATIC", "Sites:", WS_CHILD | WS_VISIBLE, 16, 64, 200, 18,
                                             window, nullptr, nullptr, nullptr);
            HWND list = ::CreateWindowExA(
                WS_EX_CLIENTEDGE, "LISTBOX", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOINTEGRALHEIGHT,
                16, 84, 360, 160, window, reinterpret_cast<HMENU>(kListId), nullptr, nullptr);
            HGDIOBJ guiFont = ::GetStockObject(DEFAULT_GUI_FONT);
            ::SendMessageA(caption, WM_SETFONT, reinterpret_cast<WPARAM>(guiFont), 0);
            ::SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(guiFont), 0);
            for (const std::string& name : SiteNames(ProgramFolder() + "sites.ini")) {
                ::SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
            }
            return 0;
        }
        case WM_PAINT:
            PaintTitle(window);
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    // Libraries from the system folder only, never from the program's folder or the current one.
    SetSafeLibrarySearchOrder();
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = ::LoadIconA(instance, "MAINICON");
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "TandrelMain";
    if (::RegisterClassA(&windowClass) == 0) {
        return 1;
    }
    HWND window = ::CreateWindowExA(0, windowClass.lpszClassName, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                    CW_USEDEFAULT, 408, 300, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    ::ShowWindow(window, show);
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
