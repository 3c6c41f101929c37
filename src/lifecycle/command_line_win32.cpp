#include "lifecycle/command_line_win32.h"

#include <windows.h>

#include "framework/application.h"
#include "lifecycle/run_log.h"

std::optional<std::string> ToAnsiExact(std::u16string_view text) {
    if (text.empty()) {
        return std::string();
    }
    if (text.size() > 0x7FFFFFFF) {
        return std::nullopt;
    }
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int wideLength = static_cast<int>(text.size());
    const UINT codePage = ::GetACP();
    // UTF-8 has every character but takes neither flag nor default character; an unpaired
    // surrogate is refused there instead.
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* const usedDefaultOut = utf8 ? nullptr : &usedDefault;
    const int size =
        ::WideCharToMultiByte(codePage, flags, wide, wideLength, nullptr, 0, nullptr, usedDefaultOut);
    if (size <= 0 || usedDefault) {
        return std::nullopt;
    }
    std::string ansi(static_cast<size_t>(size), '\0');
    if (::WideCharToMultiByte(codePage, flags, wide, wideLength, ansi.data(), size, nullptr,
                              usedDefaultOut) != size ||
        usedDefault) {
        return std::nullopt;
    }
    // The way back must give the same text: a conversion that mapped a character to another one
    // without saying so is not exact.
    const int backSize = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, ansi.data(), size, nullptr, 0);
    if (backSize != wideLength) {
        return std::nullopt;
    }
    std::u16string back(static_cast<size_t>(backSize), u'\0');
    if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, ansi.data(), size,
                              reinterpret_cast<wchar_t*>(back.data()), backSize) != backSize ||
        back != text) {
        return std::nullopt;
    }
    return ansi;
}

std::u16string ProcessCommandLine() {
    const wchar_t* const line = ::GetCommandLineW();
    if (line == nullptr) {
        return {};
    }
    return std::u16string(reinterpret_cast<const char16_t*>(line));
}

TSwitchList ReadProcessSwitches() {
    return ReadSwitches(ProcessCommandLine(), ToAnsiExact);
}

void RefuseCommandLine(const std::string& program,
                       const std::string& caption,
                       const std::string& reason,
                       const std::string& usage,
                       bool showBox) {
    WriteStandardError(program, reason);
    if (showBox) {
        const std::string text = MessageBoxText(reason) + "\n\n" + usage;
        ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
    }
}
