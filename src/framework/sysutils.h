// Text helpers shared by every subsystem. Texts are 8-bit ANSI strings; case rules touch only the
// ASCII letters, so names compare the same way whatever the code page.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// printf-style formatting into a std::string, of the conversions d, i, u, x, X (with the sizes hh,
// h, l, ll, z, j and t), c, s and %, with the flags "-", "0", "+" and " ", a field width and a
// precision (either may be "*"): the text the C runtime's printf gives for them, without its
// floating-point formatting, which would bring tens of kilobytes into every program. Any other
// conversion stands in the result as written.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatList(const char* format, va_list args);

std::string IntToStr(int64_t value);

// Decimal integer with an optional sign; anything else raises EConvertError
// "'%s' is not a valid integer value".
int32_t StrToInt(std::string_view text);

// One character in ASCII upper or lower case; every other character stays as it is.
constexpr char UpperCaseAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr char LowerCaseAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string UpperCaseAscii(std::string_view text);
std::string LowerCaseAscii(std::string_view text);
bool SameTextAscii(std::string_view a, std::string_view b);
// The value of a hexadecimal digit (either case), or -1 for any other character.
constexpr int HexDigitValue(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

// The folder part of a path: everything up to and including its last "\" or ":".
std::string ExtractFilePath(std::string_view path);
// The file part: everything after the last "\" or ":".
std::string ExtractFileName(std::string_view path);
// A folder path ready for a file name to be appended: a path that is not empty and does not end in
// "\" gets one. One character is a folder name like any other ("C" gives "C\"), so whoever appends a
// name to the result names the same file as a component given the folder itself.
std::string AddTrailingBackslash(std::string_view path);

// text with a line break put into every run of more than longest characters without a blank or a
// line break (a long path), so that a message box, which breaks lines at blanks only, keeps it
// within its width: after the last "\" that still fits the line, else after longest characters.
// A UTF-8 sequence is never cut. Texts without such a run come back as they are; longest 0 too.
std::string BreakLongRuns(std::string_view text, size_t longest);

// The folder parts of a relative name, outermost first: "a\b\c.txt" gives "a" and "a\b"; a name
// without a "\" gives none.
std::vector<std::string> FolderPartsOf(std::string_view name);
