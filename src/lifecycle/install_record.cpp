#include "lifecycle/install_record.h"

#include <algorithm>
#include <charconv>

#include "framework/sysutils.h"

namespace {

constexpr size_t kMaxPath = 259;
constexpr int kMaxLines = 10000;

bool IsForbiddenCharacter(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f || std::string_view("/:*?\"<>|").find(c) != std::string_view::npos;
}

// One component between backslashes: not empty, not "." or "..", not ending in "." or a blank,
// no forbidden character.
bool IsSafeComponent(std::string_view component) {
    if (component.empty() || component.back() == '.' || component.back() == ' ') {
        return false;
    }
    return std::none_of(component.begin(), component.end(), IsForbiddenCharacter);
}

bool AreSafeComponents(std::string_view path) {
    while (true) {
        const size_t cut = path.find('\\');
        if (!IsSafeComponent(path.substr(0, cut))) {
            return false;
        }
        if (cut == std::string_view::npos) {
            return true;
        }
        path.remove_prefix(cut + 1);
    }
}

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string Lower(std::string_view text) {
    return LowerCaseAscii(text);
}

[[noreturn]] void Refuse(int line, const std::string& reason) {
    throw EBadRecord(Format("Line %d: %s", line, reason.c_str()));
}

// Splits "keyword rest" at the first blank.
std::pair<std::string_view, std::string_view> SplitKeyword(std::string_view line) {
    const size_t blank = line.find(' ');
    if (blank == std::string_view::npos) {
        return {line, {}};
    }
    return {line.substr(0, blank), line.substr(blank + 1)};
}

bool ReadSize(std::string_view text, int32_t& size) {
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) {
        return false;
    }
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > INT32_MAX) {
        return false;
    }
    size = static_cast<int32_t>(value);
    return true;
}

// "<size> <digest> <name>"
bool ReadFileLine(std::string_view rest, TRecordedFile& file) {
    const size_t first = rest.find(' ');
    if (first == std::string_view::npos || !ReadSize(rest.substr(0, first), file.Size)) {
        return false;
    }
    rest.remove_prefix(first + 1);
    if (rest.size() < 66 || rest[64] != ' ' || !DigestFromHex(rest.substr(0, 64), file.Digest)) {
        return false;
    }
    file.Name = std::string(rest.substr(65));
    return IsSafeRelativeName(file.Name);
}

bool EndsWithLnk(std::string_view path) {
    return path.size() > 4 && SameTextAscii(path.substr(path.size() - 4), ".lnk");
}

bool IsSafeFolderName(std::string_view name) {
    return name == kDestinationItself || IsSafeRelativeName(name);
}

// Tracks the names already given, ignoring case; false for one seen before.
class NameSet {
  public:
    bool Add(std::string_view name) {
        std::string key = Lower(name);
        if (std::find(names_.begin(), names_.end(), key) != names_.end()) {
            return false;
        }
        names_.push_back(std::move(key));
        return true;
    }

  private:
    std::vector<std::string> names_;
};

}  // namespace

bool ContainsName(const std::vector<std::string>& names, std::string_view name) {
    return std::any_of(names.begin(), names.end(),
                       [name](const std::string& other) { return SameTextAscii(other, name); });
}

void AddNameOnce(std::vector<std::string>& names, const std::string& name) {
    if (!ContainsName(names, name)) {
        names.push_back(name);
    }
}

bool IsSafeRelativeName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxPath && AreSafeComponents(name);
}

bool IsSafeAbsolutePath(std::string_view path) {
    if (path.size() > kMaxPath) {
        return false;
    }
    if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && path[2] == '\\') {
        return path.size() == 3 || AreSafeComponents(path.substr(3));
    }
    if (path.size() > 2 && path[0] == '\\' && path[1] == '\\') {
        // \\server\share, then an optional folder path: server and share are components too.
        std::string_view rest = path.substr(2);
        return rest.find('\\') != std::string_view::npos && AreSafeComponents(rest) &&
               // "\\?\" and "\\.\" name devices and raw paths, not a network share.
               rest.substr(0, 2) != "?\\" && rest.substr(0, 2) != ".\\";
    }
    return false;
}

std::string FormatInstallRecord(const TInstallRecord& record) {
    // Every field is checked on its own (a line break inside one would make two lines that read
    // back well), then the whole text is read back: a record that the uninstaller would refuse is
    // no record.
    const bool fieldsSafe =
        IsSafeAbsolutePath(record.Destination) &&
        std::all_of(record.Folders.begin(), record.Folders.end(), IsSafeFolderName) &&
        std::all_of(
            record.Files.begin(), record.Files.end(),
            [](const TRecordedFile& file) { return IsSafeRelativeName(file.Name) && file.Size >= 0; }) &&
        std::all_of(record.Kept.begin(), record.Kept.end(), IsSafeRelativeName) &&
        std::all_of(record.Shortcuts.begin(), record.Shortcuts.end(),
                    [](const std::string& path) { return IsSafeAbsolutePath(path) && EndsWithLnk(path); });
    if (!fieldsSafe) {
        throw EBadRecord("The installation record cannot be written: a name is not safe");
    }
    std::string text = std::string(kRecordHeading) + "\r\n";
    text += "destination " + record.Destination + "\r\n";
    for (const std::string& folder : record.Folders) {
        text += "folder " + folder + "\r\n";
    }
    for (const TRecordedFile& file : record.Files) {
        text += "file " + IntToStr(file.Size) + " " + DigestToHex(file.Digest) + " " + file.Name + "\r\n";
    }
    for (const std::string& name : record.Kept) {
        text += "kept " + name + "\r\n";
    }
    for (const std::string& shortcut : record.Shortcuts) {
        text += "shortcut " + shortcut + "\r\n";
    }
    try {
        ParseInstallRecord(text);
    } catch (const EBadRecord& error) {
        throw EBadRecord("The installation record cannot be written: " + error.Message());
    }
    return text;
}

TInstallRecord ParseInstallRecord(std::string_view text) {
    if (text.size() > kMaxRecordBytes) {
        Refuse(1, "the record is too large");
    }
    TInstallRecord record;
    NameSet folders;
    NameSet files;  // written and kept files share one name space
    NameSet shortcuts;
    int number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (++number > kMaxLines) {
            Refuse(number, "the record has too many lines");
        }
        if (number == 1) {
            if (line != kRecordHeading) {
                Refuse(number, "not an installation record of this version");
            }
            continue;
        }
        const auto [keyword, rest] = SplitKeyword(line);
        if (number == 2) {
            if (keyword != "destination" || !IsSafeAbsolutePath(rest)) {
                Refuse(number, "the destination must follow, as an absolute path");
            }
            record.Destination = std::string(rest);
            continue;
        }
        if (keyword == "folder") {
            if (!IsSafeFolderName(rest) || !folders.Add(rest)) {
                Refuse(number, "bad or repeated folder name");
            }
            record.Folders.emplace_back(rest);
        } else if (keyword == "file") {
            TRecordedFile file;
            if (!ReadFileLine(rest, file) || !files.Add(file.Name)) {
                Refuse(number, "bad or repeated file line");
            }
            record.Files.push_back(std::move(file));
        } else if (keyword == "kept") {
            if (!IsSafeRelativeName(rest) || !files.Add(rest)) {
                Refuse(number, "bad or repeated kept file name");
            }
            record.Kept.emplace_back(rest);
        } else if (keyword == "shortcut") {
            if (!IsSafeAbsolutePath(rest) || !EndsWithLnk(rest) || !shortcuts.Add(rest)) {
                Refuse(number, "bad or repeated shortcut path");
            }
            record.Shortcuts.emplace_back(rest);
        } else {
            Refuse(number, "unknown line");
        }
    }
    if (number < 2) {
        Refuse(number + 1, "the record ends before its destination");
    }
    return record;
}

TInstallRecord MergeInstallRecords(const TInstallRecord& older, const TInstallRecord& newer) {
    if (!SameTextAscii(older.Destination, newer.Destination)) {
        return newer;
    }
    TInstallRecord merged;
    merged.Destination = newer.Destination;
    merged.Folders = older.Folders;
    for (const std::string& folder : newer.Folders) {
        AddNameOnce(merged.Folders, folder);
    }
    // What the newer installation did with a name decides; the older one speaks for the rest.
    auto saidByNewer = [&newer](std::string_view name) {
        return ContainsName(newer.Kept, name) ||
               std::any_of(newer.Files.begin(), newer.Files.end(),
                           [name](const TRecordedFile& file) { return SameTextAscii(file.Name, name); });
    };
    for (const TRecordedFile& file : older.Files) {
        if (!saidByNewer(file.Name)) {
            merged.Files.push_back(file);
        }
    }
    merged.Files.insert(merged.Files.end(), newer.Files.begin(), newer.Files.end());
    for (const std::string& name : older.Kept) {
        if (!saidByNewer(name)) {
            merged.Kept.push_back(name);
        }
    }
    merged.Kept.insert(merged.Kept.end(), newer.Kept.begin(), newer.Kept.end());
    merged.Shortcuts = older.Shortcuts;
    for (const std::string& shortcut : newer.Shortcuts) {
        AddNameOnce(merged.Shortcuts, shortcut);
    }
    return merged;
}
