#include "lifecycle/install_record.h"

#include <algorithm>
#include <charconv>

#include "archive/sha256.h"
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

// Tandrel.lnk right inside a folder named Programs or SendTo, on a drive: the only shortcuts the
// setup writes. No network or device path, no other name.
bool IsShortcutPath(std::string_view path) {
    constexpr std::string_view kShortcut = "\\Tandrel.lnk";
    if (!IsSafeAbsolutePath(path) || path.size() < 3 || path[1] != ':' || path.size() <= kShortcut.size() ||
        !SameTextAscii(path.substr(path.size() - kShortcut.size()), kShortcut)) {
        return false;
    }
    const std::string_view folder = path.substr(0, path.size() - kShortcut.size());
    const size_t cut = folder.rfind('\\');
    const std::string_view last = cut == std::string_view::npos ? folder : folder.substr(cut + 1);
    return SameTextAscii(last, "Programs") || SameTextAscii(last, "SendTo");
}

// An absolute folder that the destination lies inside, on the same drive or share.
bool IsParentOf(std::string_view parent, std::string_view destination) {
    return IsSafeAbsolutePath(parent) && parent.size() > 3 && destination.size() > parent.size() + 1 &&
           destination[parent.size()] == '\\' && SameTextAscii(destination.substr(0, parent.size()), parent);
}

bool IsSafeFolderName(std::string_view name) {
    return name == kDestinationItself || IsSafeRelativeName(name);
}

// A leading "<id> " (decimal, not 0, no leading zero) taken off rest into id; rest unchanged and
// id 0 when there is none.
bool TakeIdentity(std::string_view& rest, uint64_t& id) {
    id = 0;
    const size_t blank = rest.find(' ');
    if (blank == std::string_view::npos || blank == 0 || blank > 20 || rest[0] == '0') {
        return false;
    }
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + blank, value);
    if (error != std::errc() || end != rest.data() + blank) {
        return false;
    }
    id = value;
    rest.remove_prefix(blank + 1);
    return true;
}

// A folder line's rest: "<name>", or "<id> ." for a destination made with its identity (a name
// ending in "." is never safe, so the two cannot be confused).
bool ReadFolderLine(std::string_view rest, std::string& name, uint64_t& id) {
    std::string_view named = rest;
    if (TakeIdentity(named, id) && named == kDestinationItself) {
        name = std::string(named);
        return true;
    }
    id = 0;
    name = std::string(rest);
    return IsSafeFolderName(rest);
}

// A parent line's rest: "[<id> ]<absolute path>" (a path never begins with a digit).
bool ReadParentLine(std::string_view rest, const std::string& destination, std::string& path, uint64_t& id) {
    TakeIdentity(rest, id);
    path = std::string(rest);
    return IsParentOf(rest, destination);
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

uint64_t ParentIdAt(const TInstallRecord& record, size_t index) {
    return index < record.ParentIds.size() ? record.ParentIds[index] : 0;
}

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
        std::all_of(record.Shortcuts.begin(), record.Shortcuts.end(), IsShortcutPath) &&
        std::all_of(record.Parents.begin(), record.Parents.end(),
                    [&record](const std::string& parent) { return IsParentOf(parent, record.Destination); });
    if (!fieldsSafe) {
        throw EBadRecord("The installation record cannot be written: a name is not safe");
    }
    std::string text = std::string(kRecordHeading) + "\r\n";
    text += "destination " + record.Destination + "\r\n";
    for (const std::string& folder : record.Folders) {
        const bool identified = folder == kDestinationItself && record.DestinationId != 0;
        text += "folder " + (identified ? std::to_string(record.DestinationId) + " " : "") + folder + "\r\n";
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
    if (record.Backups) {
        text += std::string("backups ") + (*record.Backups ? "yes" : "no") + "\r\n";
    }
    for (size_t index = 0; index < record.Parents.size(); ++index) {
        const uint64_t id = ParentIdAt(record, index);
        text += "parent " + (id != 0 ? std::to_string(id) + " " : "") + record.Parents[index] + "\r\n";
    }
    try {
        ParseInstallRecord(text);
    } catch (const EBadRecord& error) {
        throw EBadRecord("The installation record cannot be written: " + error.Message());
    }
    return text;
}

namespace {

// The lines of a record or a journal after the heading and the destination: each is handed to
// onLine (its number, keyword and the rest), which refuses what its kind does not know.
template <typename OnLine>
std::string ReadLines(std::string_view text, std::string_view heading, OnLine onLine) {
    if (text.size() > kMaxRecordBytes) {
        Refuse(1, "the record is too large");
    }
    std::string destination;
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
            if (line != heading) {
                Refuse(number, "not an installation record of this version");
            }
            continue;
        }
        const auto [keyword, rest] = SplitKeyword(line);
        if (number == 2) {
            if (keyword != "destination" || !IsSafeAbsolutePath(rest)) {
                Refuse(number, "the destination must follow, as an absolute path");
            }
            destination = std::string(rest);
            continue;
        }
        onLine(number, keyword, rest, destination);
    }
    if (number < 2) {
        Refuse(number + 1, "the record ends before its destination");
    }
    return destination;
}

// "first>second", both safe relative names.
bool ReadNamePair(std::string_view rest, TJournalStep& step) {
    const size_t cut = rest.find('>');
    if (cut == std::string_view::npos) {
        return false;
    }
    step.Name = std::string(rest.substr(0, cut));
    step.Other = std::string(rest.substr(cut + 1));
    return IsSafeRelativeName(step.Name) && IsSafeRelativeName(step.Other);
}

constexpr std::pair<TStepAction, std::string_view> kStepKeywords[] = {
    {TStepAction::Parent, "parent"}, {TStepAction::NewFolder, "folder"},  {TStepAction::New, "new"},
    {TStepAction::Backup, "backup"}, {TStepAction::Aside, "aside"},       {TStepAction::Put, "put"},
    {TStepAction::Entry, "entry"},   {TStepAction::Shortcut, "shortcut"},
};

std::string_view StepKeyword(TStepAction action) {
    for (const auto& [known, keyword] : kStepKeywords) {
        if (known == action) {
            return keyword;
        }
    }
    return {};
}

bool ReadStep(std::string_view keyword,
              std::string_view rest,
              const std::string& destination,
              TJournalStep& step) {
    const auto* found = std::find_if(std::begin(kStepKeywords), std::end(kStepKeywords),
                                     [keyword](const auto& known) { return known.second == keyword; });
    if (found == std::end(kStepKeywords)) {
        return false;
    }
    step.Action = found->first;
    switch (step.Action) {
        case TStepAction::Parent:
            return ReadParentLine(rest, destination, step.Name, step.Id);
        case TStepAction::NewFolder:
            return ReadFolderLine(rest, step.Name, step.Id);
        case TStepAction::New:
            step.Name = std::string(rest);
            return IsSafeRelativeName(rest);
        case TStepAction::Entry: {
            const auto [scope, previous] = SplitKeyword(rest);
            step.Name = std::string(scope);
            step.Other = std::string(previous);
            return (scope == "machine" || scope == "user") &&
                   (previous == "-" || IsSafeAbsolutePath(previous));
        }
        case TStepAction::Shortcut:
            step.Name = std::string(rest);
            return IsShortcutPath(rest);
        default:
            return ReadNamePair(rest, step);
    }
}

}  // namespace

TInstallRecord ParseInstallRecord(std::string_view text) {
    TInstallRecord record;
    NameSet folders;
    NameSet files;  // written and kept files share one name space
    NameSet shortcuts;
    NameSet parents;
    record.Destination = ReadLines(
        text, kRecordHeading,
        [&](int number, std::string_view keyword, std::string_view rest, const std::string& destination) {
            if (keyword == "folder") {
                std::string name;
                uint64_t id = 0;
                if (!ReadFolderLine(rest, name, id) || !folders.Add(name)) {
                    Refuse(number, "bad or repeated folder name");
                }
                record.Folders.push_back(std::move(name));
                record.DestinationId = id != 0 ? id : record.DestinationId;
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
                if (!IsShortcutPath(rest) || !shortcuts.Add(rest)) {
                    Refuse(number,
                           "bad or repeated shortcut path: only Tandrel.lnk in a local Programs or SendTo "
                           "folder");
                }
                record.Shortcuts.emplace_back(rest);
            } else if (keyword == "parent") {
                std::string path;
                uint64_t id = 0;
                if (!ReadParentLine(rest, destination, path, id) || !parents.Add(path)) {
                    Refuse(number, "bad or repeated folder above the destination");
                }
                record.Parents.push_back(std::move(path));
                record.ParentIds.push_back(id);
            } else if (keyword == "backups") {
                if ((rest != "yes" && rest != "no") || record.Backups) {
                    Refuse(number, "bad or repeated note of backups");
                }
                record.Backups = rest == "yes";
            } else {
                Refuse(number, "unknown line");
            }
        });
    return record;
}

namespace {

// "<id> first>second": the moves of the appended journal carry the identity of the file moved.
bool ReadIdentifiedPair(std::string_view rest, TJournalStep& step) {
    const size_t blank = rest.find(' ');
    if (blank == std::string_view::npos || blank == 0 || blank > 20 || (blank > 1 && rest[0] == '0')) {
        return false;
    }
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + blank, step.Id);
    return error == std::errc() && end == rest.data() + blank && ReadNamePair(rest.substr(blank + 1), step);
}

std::string CheckOf(std::string_view previous, std::string_view text) {
    std::string chained = std::string(previous) + " " + std::string(text);
    return DigestToHex(Sha256Of(chained.data(), chained.size())).substr(0, 8);
}

}  // namespace

std::string FormatJournalRecord(std::string_view previous, std::string_view text, std::string& check) {
    check = CheckOf(previous, text);
    return check + " " + std::string(text) + "\r\n";
}

std::string JournalStepText(const TJournalStep& step) {
    std::string text = std::string(StepKeyword(step.Action)) + " ";
    switch (step.Action) {
        case TStepAction::Backup:
        case TStepAction::Aside:
        case TStepAction::Put:
            return text + std::to_string(step.Id) + " " + step.Name + ">" + step.Other;
        case TStepAction::Entry:
            return text + step.Name + " " + step.Other;
        case TStepAction::Parent:
        case TStepAction::NewFolder:
            return text + (step.Id != 0 ? std::to_string(step.Id) + " " : "") + step.Name;
        default:
            return text + step.Name;
    }
}

TJournalLog ParseJournalLog(std::string_view text) {
    TJournalLog log;
    if (text.size() > kMaxRecordBytes) {
        Refuse(1, "the journal is too large");
    }
    int number = 0;
    bool undoing = false;
    size_t offset = 0;
    while (offset < text.size()) {
        const size_t end = text.find("\r\n", offset);
        if (end == std::string_view::npos) {
            break;  // torn: its line end never reached the disk
        }
        const std::string_view line = text.substr(offset, end - offset);
        if (line.size() < 9 || line[8] != ' ' ||
            CheckOf(log.LastCheck, line.substr(9)) != line.substr(0, 8)) {
            break;  // torn, or never written whole
        }
        const std::string_view record = line.substr(9);
        ++number;
        if (number > kMaxLines) {
            Refuse(number, "the journal has too many lines");
        }
        const auto [keyword, rest] = SplitKeyword(record);
        if (number == 1) {
            if (record != kJournalLogHeading) {
                Refuse(number, "not a journal of this version");
            }
        } else if (number == 2) {
            if (keyword != "destination" || !IsSafeAbsolutePath(rest)) {
                Refuse(number, "the destination must follow, as an absolute path");
            }
            log.Destination = std::string(rest);
        } else if (log.Committed) {
            Refuse(number, "nothing follows the commit");
        } else if (keyword == "commit") {
            if (!rest.empty() || undoing) {
                Refuse(number, "a commit of a run that was rolled back");
            }
            log.Committed = true;
        } else if (keyword == "undone") {
            int32_t index = 0;
            if (!ReadSize(rest, index) || static_cast<size_t>(index) >= log.Steps.size() ||
                log.Undone[static_cast<size_t>(index)]) {
                Refuse(number, "bad or repeated step undone");
            }
            log.Undone[static_cast<size_t>(index)] = true;
            undoing = true;
        } else {
            TJournalStep step;
            const bool identified = keyword == "backup" || keyword == "aside" || keyword == "put";
            const bool read =
                identified ? ReadIdentifiedPair(rest, step) : ReadStep(keyword, rest, log.Destination, step);
            if (undoing || !read) {
                Refuse(number, "bad step");
            }
            if (identified) {
                step.Action = keyword == "backup"  ? TStepAction::Backup
                              : keyword == "aside" ? TStepAction::Aside
                                                   : TStepAction::Put;
            }
            log.Steps.push_back(std::move(step));
            log.Undone.push_back(false);
        }
        if (number >= 2) {
            log.WholeBytes = end + 2;
        }
        log.LastCheck = std::string(line.substr(0, 8));
        offset = end + 2;
    }
    if (number < 2) {
        // Not even the heading and the destination are whole: a journal that was being created.
        return TJournalLog();
    }
    return log;
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
    // What the newer installation wrote decides; a file that an earlier installation wrote and this
    // one kept is still the earlier one's file (changed since, or not); the older record speaks for
    // the rest.
    auto writtenBy = [](const TInstallRecord& record, std::string_view name) {
        return std::any_of(record.Files.begin(), record.Files.end(),
                           [name](const TRecordedFile& file) { return SameTextAscii(file.Name, name); });
    };
    for (const TRecordedFile& file : older.Files) {
        if (!writtenBy(newer, file.Name)) {
            merged.Files.push_back(file);
        }
    }
    merged.Files.insert(merged.Files.end(), newer.Files.begin(), newer.Files.end());
    for (const std::string& name : older.Kept) {
        if (!writtenBy(newer, name)) {
            AddNameOnce(merged.Kept, name);
        }
    }
    for (const std::string& name : newer.Kept) {
        if (!writtenBy(merged, name)) {
            AddNameOnce(merged.Kept, name);
        }
    }
    // A folder above keeps the identity that the run which made it recorded.
    merged.Parents = older.Parents;
    merged.ParentIds = older.ParentIds;
    merged.ParentIds.resize(merged.Parents.size());
    for (size_t index = 0; index < newer.Parents.size(); ++index) {
        if (!ContainsName(merged.Parents, newer.Parents[index])) {
            merged.Parents.push_back(newer.Parents[index]);
            merged.ParentIds.push_back(ParentIdAt(newer, index));
        }
    }
    merged.DestinationId = older.DestinationId != 0 ? older.DestinationId : newer.DestinationId;
    // Backup holds what any of the installations put there; unknown as long as one did not say.
    if ((older.Backups && *older.Backups) || (newer.Backups && *newer.Backups)) {
        merged.Backups = true;
    } else if (older.Backups && newer.Backups) {
        merged.Backups = false;
    }
    merged.Shortcuts = older.Shortcuts;
    for (const std::string& shortcut : newer.Shortcuts) {
        AddNameOnce(merged.Shortcuts, shortcut);
    }
    return merged;
}
