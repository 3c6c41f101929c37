// The framework's portable pieces (streams, string lists, text helpers), the registry reader and
// the handle owners.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "../common/exception_message.h"
#include "framework/exceptions.h"
#include "framework/registry.h"
#include "framework/stream.h"
#include "framework/string_list.h"
#include "framework/sysutils.h"
#include "framework/unique_handle.h"

namespace {

TEST(MemoryStream, ReadsWritesSeeksAndInsistsOnWholeTransfers) {
    TMemoryStream stream;
    stream.WriteBuffer("abcdef", 6);
    EXPECT_EQ(stream.Size(), 6);
    EXPECT_EQ(stream.Position(), 6);
    stream.SetPosition(2);
    char two[2];
    stream.ReadBuffer(two, 2);
    EXPECT_EQ(std::string(two, 2), "cd");
    EXPECT_EQ(stream.Seek(-1, SeekOrigin::End), 5);
    char rest[4] = {};
    EXPECT_EQ(stream.Read(rest, 4), 1);  // a short read reports what there was
    EXPECT_EQ(rest[0], 'f');
    EXPECT_EQ(MessageOf<EReadError>([&] { stream.ReadBuffer(rest, 1); }), "Stream read error");
    EXPECT_THROW(stream.Seek(-7, SeekOrigin::End), EStreamError);

    // Writing past the end fills the gap with zeros.
    stream.SetPosition(8);
    stream.WriteBuffer("x", 1);
    EXPECT_EQ(stream.Size(), 9);
    EXPECT_EQ(stream.Bytes()[7], 0);

    // A stream over someone else's memory reads in place and takes no writes.
    const char fixed[] = "0123456789";
    TCustomMemoryStream view(fixed, 10);
    view.SetPosition(7);
    char three[3];
    view.ReadBuffer(three, 3);
    EXPECT_EQ(std::string(three, 3), "789");
    EXPECT_EQ(MessageOf<EWriteError>([&] { view.WriteBuffer("z", 1); }), "Stream write error");

    // CopyFrom takes exactly the count asked for, or fails as ReadBuffer does.
    TMemoryStream copy;
    view.SetPosition(0);
    copy.CopyFrom(view, 4);
    EXPECT_EQ(std::string(copy.Bytes().begin(), copy.Bytes().end()), "0123");
    EXPECT_EQ(MessageOf<EReadError>([&] { copy.CopyFrom(view, 100); }), "Stream read error");
}

// An object that counts its own destructions.
class TCounted : public TObject {
  public:
    explicit TCounted(int* gone) : gone_(gone) {}
    ~TCounted() override { ++*gone_; }

  private:
    int* gone_;
};

TEST(StringList, OwnsTheObjectsOnItsLines) {
    int gone = 0;
    {
        TStringList list;
        list.Add("first");
        list.AddObject("Second", std::make_unique<TCounted>(&gone));
        list.AddObject("third", std::make_unique<TCounted>(&gone));
        EXPECT_EQ(list.Count(), 3);
        EXPECT_EQ(list.Objects(0), nullptr);
        EXPECT_NE(list.Objects(1), nullptr);
        EXPECT_EQ(list.IndexOf("SECOND"), 1);  // ignoring case
        EXPECT_EQ(list.IndexOf("fourth"), -1);
        list.Delete(1);
        EXPECT_EQ(gone, 1);
        EXPECT_EQ(list[1], "third");
        EXPECT_THROW(list.Strings(5), std::out_of_range);
    }
    EXPECT_EQ(gone, 2);
}

TEST(TextHelpers, StrToIntAcceptsDecimalIntegersOnly) {
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt("+2147483647"), INT32_MAX);
    for (const char* bad : {"", "-", "12a", " 1", "2147483648", "-2147483649", "99999999999999999999"}) {
        EXPECT_EQ(MessageOf<EConvertError>([&] { StrToInt(bad); }),
                  std::string("'") + bad + "' is not a valid integer value")
            << bad;
    }
    EXPECT_EQ(ExtractFilePath("C:\\a\\b.txt"), "C:\\a\\");
    EXPECT_EQ(ExtractFileName("C:\\a\\b.txt"), "b.txt");
    EXPECT_EQ(ExtractFileName("C:b.txt"), "b.txt");
}

// Format against the C runtime's printf (the one these programs used before it), for every
// combination of flags, width, precision, size and conversion that it supports, over each type's
// limits and values around the points where the digits change.
TEST(TextHelpers, FormatWritesWhatTheRuntimesPrintfWrites) {
    const auto expectSame = [](const std::string& format, auto... args) {
        char expected[512];
        std::snprintf(expected, sizeof expected, format.c_str(), args...);
        EXPECT_EQ(Format(format.c_str(), args...), expected) << format;
    };
    const std::vector<intmax_t> values = {
        0,         1,          -1,    9,         10,        -10,        127,       128,     -128,
        255,       256,        32767, -32768,    65535,     65536,      999999,    -123456, INT32_MAX,
        INT32_MIN, UINT32_MAX, -2,    INT64_MAX, INT64_MIN, 0x7F00FF00, 1000000007};
    int combinations = 0;
    for (const char* flags : {"", "-", "0", "+", " ", "-0", "+0", " 0", "-+", "- ", "+ ", "-+ 0"}) {
        for (const char* width : {"", "1", "3", "8", "25"}) {
            for (const char* precision : {"", ".", ".0", ".1", ".3", ".12"}) {
                const std::string prefix = std::string("<%") + flags + width + precision;
                for (const char conversion : {'d', 'i', 'u', 'x', 'X'}) {
                    const bool isSigned = conversion == 'd' || conversion == 'i';
                    for (const intmax_t value : values) {
                        const auto signedOrNot = [&](auto typed) {
                            using T = decltype(typed);
                            return isSigned
                                       ? static_cast<intmax_t>(static_cast<std::make_signed_t<T>>(value))
                                       : static_cast<intmax_t>(static_cast<std::make_unsigned_t<T>>(value));
                        };
                        const char c = conversion;
                        expectSame(prefix + c + ">", static_cast<int>(signedOrNot(int{})));
                        expectSame(prefix + "hh" + c + ">", static_cast<int>(signedOrNot(char{})));
                        expectSame(prefix + "h" + c + ">", static_cast<int>(signedOrNot(short{})));
                        expectSame(prefix + "l" + c + ">", static_cast<long>(signedOrNot(long{})));
                        expectSame(prefix + "ll" + c + ">", static_cast<long long>(value));
                        expectSame(prefix + "z" + c + ">", static_cast<ptrdiff_t>(value));
                        expectSame(prefix + "j" + c + ">", value);
                        expectSame(prefix + "t" + c + ">", static_cast<ptrdiff_t>(value));
                        combinations += 8;
                    }
                }
                if (std::string(flags).find('0') != std::string::npos) {
                    continue;  // "0" with c and s is undefined
                }
                for (const char* text : {"", "a", "tandrel", "C:\\Program Files\\Tandrel\\", "%d"}) {
                    expectSame(prefix + "s>", text);
                }
                expectSame(prefix + "s>", static_cast<const char*>(nullptr));
                if (precision[0] == '\0') {
                    expectSame(prefix + "c>", 'x');
                    expectSame(prefix + "c>", 0xE9);
                }
            }
        }
        for (const int width : {-12, -1, 0, 1, 12}) {
            for (const int precision : {-3, -1, 0, 2, 9}) {
                expectSame(std::string("[%") + flags + "*.*d]", width, precision, -42);
                expectSame(std::string("[%") + flags + "*.*u]", width, precision, 42u);
                if (std::string(flags).find('0') == std::string::npos) {
                    expectSame(std::string("[%") + flags + "*.*s]", width, precision, "tandrel");
                }
            }
        }
    }
    EXPECT_GT(combinations, 100000);
    // The text a precision limits is not read beyond it.
    const char unterminated[3] = {'a', 'b', 'c'};
    EXPECT_EQ(Format("%.3s|%.*s", unterminated, 2, unterminated), "abc|ab");
    expectSame("100%% of %s, %d%%", "it", 42);
    expectSame("%04u-%02u-%02u %02u:%02u:%02u", 2026u, 12u, 10u, 3u, 5u, 9u);
    expectSame("%lx-%llx-%u", 0xDEADBEEFul, 0x123456789ABCDEFull, 7u);
    EXPECT_EQ(Format("no conversions"), "no conversions");
    EXPECT_EQ(Format("%s", std::string(5000, 'w').c_str()), std::string(5000, 'w'));
}

// Whoever appends a file name to the result must name the file that a component given the folder
// itself writes, one-character folder names included.
TEST(TextHelpers, AddTrailingBackslashAppendsToEveryFolderButTheEmptyOne) {
    const std::pair<const char*, const char*> rows[] = {
        {"C:", "C:\\"},
        {"C:\\", "C:\\"},
        {"C", "C\\"},
        {"", ""},
        {"\\", "\\"},
        {"C:\\Program Files", "C:\\Program Files\\"},
        {"ab", "ab\\"},
        {"c:\\apps\\", "c:\\apps\\"},
        {"\\\\server\\share", "\\\\server\\share\\"},
    };
    for (const auto& [path, expected] : rows) {
        EXPECT_EQ(AddTrailingBackslash(path), expected) << path;
    }
}

// No run without a blank or a line break is longer than longest characters, and the text is the
// same but for the breaks.
TEST(TextHelpers, BreakLongRunsKeepsEveryLineWithinItsWidth) {
    const std::pair<std::string, std::string> rows[] = {
        {"Cannot create the folder C:\\a.", "Cannot create the folder C:\\a."},
        {"C:\\abc\\defgh\\ij (error 5)", "C:\\abc\\\ndefgh\\ij (error 5)"},
        {"0123456789ABCDEF", "0123456789\nABCDEF"},
        {"C:\\aaaaaaaaaaaaaaaaaaaaaaaaa", "C:\\\naaaaaaaaaa\naaaaaaaaaa\naaaaa"},
        {"C:\\\xD0\x94\xD0\x94\xD0\x94\xD0\x94\xD0\x94\xD0\x94\xD0\x94\xD0\x94\xD0\x94\xD0\x94",
         "C:\\\n\xD0\x94\xD0\x94\xD0\x94\xD0\x94\xD0\x94\xD0\x94\xD0\x94\xD0\x94\xD0\x94\xD0\x94"},
        {"", ""},
    };
    for (const auto& [text, broken] : rows) {
        EXPECT_EQ(BreakLongRuns(text, 10), broken) << text;
    }
    // Every length of path, every width: no line longer than the width, nothing lost.
    std::string path = "C:";
    for (int level = 0; level < 40; ++level) {
        path += level % 3 == 0 ? "\\a" : "\\folder" + std::to_string(level);
    }
    for (size_t width = 1; width <= 30; ++width) {
        const std::string broken = BreakLongRuns("Cannot write " + path + " (error 3)", width);
        std::string joined;
        size_t line = 0;
        // The box breaks lines at blanks itself: a run without one must fit.
        for (const char c : broken) {
            if (c == '\n' || c == ' ') {
                EXPECT_LE(line, width) << broken;
                line = 0;
            } else {
                ++line;
            }
            if (c != '\n') {
                joined += c;
            }
        }
        EXPECT_LE(line, width) << broken;
        EXPECT_EQ(joined, "Cannot write " + path + " (error 3)");
    }
    EXPECT_EQ(BreakLongRuns(path, 0), path);
}

TEST(TextHelpers, FolderPartsOfANameOutermostFirst) {
    EXPECT_EQ(FolderPartsOf("a\\b\\c.txt"), (std::vector<std::string>{"a", "a\\b"}));
    EXPECT_EQ(FolderPartsOf("c.txt"), std::vector<std::string>{});
    EXPECT_EQ(FolderPartsOf(""), std::vector<std::string>{});
    EXPECT_EQ(FolderPartsOf("a\\"), std::vector<std::string>{"a"});
}

// Whether a file can be opened for exclusive use: false while another handle of it is open.
bool OpensExclusively(const std::string& path) {
    const UniqueFileHandle file(
        ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return static_cast<bool>(file);
}

TEST(HandleOwners, OwnExactlyOneHandleAndKnowTheirKindsInvalidValue) {
    // Failed searches and opens give INVALID_HANDLE_VALUE: an owner of it holds nothing.
    WIN32_FIND_DATAA entry{};
    UniqueFindHandle none(::FindFirstFileA("Z:\\no\\such\\folder\\*", &entry));
    EXPECT_FALSE(none);
    EXPECT_EQ(none.release(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(UniqueFileHandle());
    EXPECT_FALSE(UniqueBrush());  // for GDI objects, 0 is the empty value

    char folder[MAX_PATH + 1] = {};
    ::GetTempPathA(sizeof folder, folder);
    char path[MAX_PATH + 1] = {};
    ASSERT_NE(::GetTempFileNameA(folder, "own", 0, path), 0u);
    {
        UniqueFileHandle first(::CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(first);
        EXPECT_FALSE(OpensExclusively(path));
        // A move hands the one handle on: the moved-from owner closes nothing.
        UniqueFileHandle second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_FALSE(OpensExclusively(path));
        UniqueFileHandle third;
        third = std::move(second);
        EXPECT_FALSE(OpensExclusively(path));
        third.reset();
        EXPECT_TRUE(OpensExclusively(path));
    }
    EXPECT_NE(::DeleteFileA(path), 0);
}

// A registry key of the test's own under HKEY_CURRENT_USER, removed afterwards.
class RegistryTest : public ::testing::Test {
  protected:
    static constexpr const char* kKey = "Software\\TandrelFrameworkTests";
    void SetUp() override {
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                                    nullptr),
                  ERROR_SUCCESS);
        SetString("Text", REG_SZ, "58 110 165");
        SetString("Expand", REG_EXPAND_SZ, "%WINDIR%\\x");
        SetString("Empty", REG_SZ, "");
        const DWORD number = 1234;
        ::RegSetValueExA(key_, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                         sizeof(number));
        const BYTE bytes[] = {1, 2, 3};
        ::RegSetValueExA(key_, "Bytes", 0, REG_BINARY, bytes, sizeof(bytes));
    }
    void TearDown() override {
        ::RegCloseKey(key_);
        ::RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    }
    void SetString(const char* name, DWORD type, const std::string& value) {
        ::RegSetValueExA(key_, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>(value.size() + 1));
    }
    HKEY key_ = nullptr;
};

TEST_F(RegistryTest, ReadsStringsAndNumbersAndNamesTheValueOnATypeMismatch) {
    TRegistry registry;
    EXPECT_EQ(registry.RootKey(), HKEY_CURRENT_USER);
    EXPECT_FALSE(registry.OpenKey("\\Software\\NoSuchTandrelKey", false));
    ASSERT_TRUE(registry.OpenKey(std::string("\\") + kKey, false));  // a leading "\" is taken under the root
    EXPECT_EQ(registry.ReadString("Text"), "58 110 165");
    EXPECT_EQ(registry.ReadString("Expand"), "%WINDIR%\\x");  // not expanded
    EXPECT_EQ(registry.ReadString("Empty"), "");
    EXPECT_EQ(registry.ReadString("Missing"), "");
    EXPECT_TRUE(registry.ValueExists("Text"));
    EXPECT_FALSE(registry.ValueExists("Missing"));
    EXPECT_EQ(registry.ReadInteger("Number"), 1234);
    EXPECT_EQ(MessageOf<ERegistryException>([&] { registry.ReadString("Number"); }),
              "Invalid data type for 'Number'");
    EXPECT_EQ(MessageOf<ERegistryException>([&] { registry.ReadString("Bytes"); }),
              "Invalid data type for 'Bytes'");
    EXPECT_EQ(MessageOf<ERegistryException>([&] { registry.ReadInteger("Text"); }),
              "Invalid data type for 'Text'");
    registry.CloseKey();
    EXPECT_EQ(registry.ReadString("Text"), "");  // no key open: nothing to read

    TRegistry readOnly;
    ASSERT_TRUE(readOnly.OpenKeyReadOnly(kKey));
    EXPECT_EQ(readOnly.ReadString("Text"), "58 110 165");
}

}  // namespace
