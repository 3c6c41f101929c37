// A drive in memory for the transaction engine's tests and fuzzer. It counts every operation that
// changes something; it can stop the "process" at operation K (TCrash, thrown before the operation),
// after which Crash() keeps what a power loss would: every rename, removal and folder, and of each
// file's data only what was flushed (the rest dropped, zero-filled or, by luck, kept). It can also
// fail chosen operations with a status (a full drive, access denied, in use) without doing them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "lifecycle/file_system.h"
#include "lifecycle/transaction_engine.h"

// Thrown at the operation where the process is stopped; no part of the engine catches it.
struct TCrash {};

enum class TLoss : uint8_t { Drop, ZeroFill, Keep };

class TMemoryDrive {
  public:
    struct Node {
        bool Folder = false;
        std::string Data;    // as the process sees it
        size_t Durable = 0;  // how much of Data a power loss keeps
        uint64_t Id = 0;
    };

    // Full names from the drive's root: "X", "X\\Backup\\a.txt".
    std::map<std::string, Node> Items;
    // The fault plan: operations counted since the last ResetCount, from 1.
    int64_t Operations = 0;
    int64_t CrashAt = 0;                    // 0: never
    std::map<int64_t, TFsStatus> Failures;  // operation number -> what it fails with
    uint64_t JournalBytes = 0;              // bytes written to journals
    uint64_t JournalFlushes = 0;            // flushes of journals

    void ResetCount() {
        Operations = 0;
        CrashAt = 0;
        Failures.clear();
    }

    // Called before each operation that changes something: Ok to go on, a failure, or TCrash.
    TFsStatus Step() {
        ++Operations;
        if (Operations == CrashAt) {
            throw TCrash();
        }
        const auto failure = Failures.find(Operations);
        return failure == Failures.end() ? TFsStatus::Ok : failure->second;
    }

    // What a power loss at this moment leaves; open files are gone with the process.
    void Crash(TLoss loss) {
        ++generation_;
        for (auto& [name, node] : Items) {
            if (node.Folder || node.Durable >= node.Data.size() || loss == TLoss::Keep) {
                node.Durable = node.Data.size();
                continue;
            }
            if (loss == TLoss::Drop) {
                node.Data.resize(node.Durable);
            } else {
                std::fill(node.Data.begin() + static_cast<ptrdiff_t>(node.Durable), node.Data.end(), '\0');
                node.Durable = node.Data.size();
            }
        }
        ResetCount();
    }

    bool Exists(const std::string& name) const { return name.empty() || Items.count(name) != 0; }
    bool IsFolder(const std::string& name) const {
        const auto item = Items.find(name);
        return name.empty() || (item != Items.end() && item->second.Folder);
    }
    bool HasChildren(const std::string& name) const {
        const std::string prefix = name.empty() ? name : name + "\\";
        const auto next = Items.upper_bound(prefix);
        return next != Items.end() && next->first.compare(0, prefix.size(), prefix) == 0 &&
               (!name.empty() || !Items.empty());
    }
    static std::string ParentOf(const std::string& name) {
        const size_t cut = name.rfind('\\');
        return cut == std::string::npos ? std::string() : name.substr(0, cut);
    }
    uint64_t NewId() { return nextId_++; }
    uint64_t Generation() const { return generation_; }

    // Every item with its contents, for comparing two drives byte for byte (identities aside, also
    // those that a record names: a folder made again has another).
    std::string Dump() const {
        std::string text;
        for (const auto& [name, node] : Items) {
            text += name + (node.Folder ? "\\\n" : " = [" + WithoutIdentities(node.Data) + "]\n");
        }
        return text;
    }
    // data with the numbers of "folder <n> ." and "parent <n> " lines as "#".
    static std::string WithoutIdentities(std::string data) {
        for (const std::string_view keyword : {"\nfolder ", "\nparent "}) {
            for (size_t at = data.find(keyword); at != std::string::npos; at = data.find(keyword, at + 1)) {
                const size_t begin = at + keyword.size();
                size_t end = begin;
                while (end < data.size() && data[end] >= '0' && data[end] <= '9') {
                    ++end;
                }
                if (end > begin && end < data.size() && data[end] == ' ') {
                    data.replace(begin, end - begin, "#");
                }
            }
        }
        return data;
    }

  private:
    uint64_t nextId_ = 1;
    uint64_t generation_ = 0;
};

// One folder of the drive as the engine's file system.
class TMemoryFolder : public TFileSystem {
  public:
    TMemoryFolder(TMemoryDrive& drive, std::string root) : drive_(drive), root_(std::move(root)) {}

    TFsStatus CreateNew(std::string_view name, std::unique_ptr<TFsFile>& file) override {
        const std::string full = Full(name);
        if (const TFsStatus status = drive_.Step(); status != TFsStatus::Ok) {
            return status;
        }
        if (!drive_.IsFolder(TMemoryDrive::ParentOf(full))) {
            return TFsStatus::NotFound;
        }
        if (drive_.Exists(full)) {
            return TFsStatus::Exists;
        }
        TMemoryDrive::Node& node = drive_.Items[full];
        node.Id = drive_.NewId();
        file = std::make_unique<File>(drive_, root_, node.Id);
        return TFsStatus::Ok;
    }
    TFsStatus OpenToAppend(std::string_view name, uint64_t length, std::unique_ptr<TFsFile>& file) override {
        const std::string full = Full(name);
        if (const TFsStatus status = drive_.Step(); status != TFsStatus::Ok) {
            return status;
        }
        const auto item = drive_.Items.find(full);
        if (item == drive_.Items.end() || item->second.Folder) {
            return TFsStatus::NotFound;
        }
        if (length < item->second.Data.size()) {
            item->second.Data.resize(length);  // durable at the next flush
        }
        file = std::make_unique<File>(drive_, root_, item->second.Id);
        return TFsStatus::Ok;
    }
    TFsStatus Rename(std::string_view from, std::string_view to, bool replace) override {
        const std::string source = Full(from);
        const std::string target = Full(to);
        if (const TFsStatus status = drive_.Step(); status != TFsStatus::Ok) {
            return status;
        }
        const auto item = drive_.Items.find(source);
        if (item == drive_.Items.end() || !drive_.IsFolder(TMemoryDrive::ParentOf(target))) {
            return TFsStatus::NotFound;
        }
        if (drive_.IsFolder(target) || (item->second.Folder && drive_.Exists(target))) {
            return item->second.Folder ? TFsStatus::Exists : TFsStatus::Denied;
        }
        if (drive_.Exists(target) && !replace) {
            return TFsStatus::Exists;
        }
        // A folder moves with everything in it.
        std::vector<std::pair<std::string, TMemoryDrive::Node>> moved;
        const std::string prefix = source + "\\";
        for (auto inside = drive_.Items.begin(); inside != drive_.Items.end();) {
            if (inside->first == source || inside->first.compare(0, prefix.size(), prefix) == 0) {
                moved.emplace_back(target + inside->first.substr(source.size()), inside->second);
                inside = drive_.Items.erase(inside);
            } else {
                ++inside;
            }
        }
        for (auto& [name, node] : moved) {
            drive_.Items[name] = std::move(node);
        }
        return TFsStatus::Ok;
    }
    TFsStatus Remove(std::string_view name) override { return RemoveItem(name, false); }
    TFsStatus MakeFolder(std::string_view name) override {
        const std::string full = Full(name);
        if (const TFsStatus status = drive_.Step(); status != TFsStatus::Ok) {
            return status;
        }
        if (drive_.Exists(full)) {
            return TFsStatus::Exists;
        }
        if (!drive_.IsFolder(TMemoryDrive::ParentOf(full))) {
            return TFsStatus::NotFound;
        }
        TMemoryDrive::Node& node = drive_.Items[full];
        node.Folder = true;
        node.Id = drive_.NewId();
        return TFsStatus::Ok;
    }
    TFsStatus RemoveFolder(std::string_view name) override { return RemoveItem(name, true); }
    TFsStatus List(std::string_view name, std::vector<std::string>& names) override {
        const std::string full = Full(name);
        if (!drive_.IsFolder(full)) {
            return TFsStatus::NotFound;
        }
        names.clear();
        const std::string prefix = full.empty() ? full : full + "\\";
        for (auto item = drive_.Items.upper_bound(prefix);
             item != drive_.Items.end() && item->first.compare(0, prefix.size(), prefix) == 0; ++item) {
            const std::string rest = item->first.substr(prefix.size());
            if (rest.find('\\') == std::string::npos) {
                names.push_back(rest);
            }
        }
        return TFsStatus::Ok;
    }
    TFsStatus Identify(std::string_view name, TItemInfo& info) override {
        const auto item = drive_.Items.find(Full(name));
        info = TItemInfo();
        if (item != drive_.Items.end()) {
            info.Kind = item->second.Folder ? TItemKind::Directory : TItemKind::File;
            info.Size = static_cast<int64_t>(item->second.Data.size());
            info.Id = item->second.Id;
        }
        return TFsStatus::Ok;
    }
    TFsStatus Measure(std::string_view name, int64_t& size, Sha256Digest& digest) override {
        std::string contents;
        const TFsStatus status = Read(name, SIZE_MAX, contents);
        size = static_cast<int64_t>(contents.size());
        digest = Sha256Of(contents.data(), contents.size());
        return status;
    }
    TFsStatus Read(std::string_view name, size_t limit, std::string& contents) override {
        const auto item = drive_.Items.find(Full(name));
        if (item == drive_.Items.end() || item->second.Folder) {
            return TFsStatus::NotFound;
        }
        if (item->second.Data.size() > limit) {
            return TFsStatus::Failed;
        }
        contents = item->second.Data;
        return TFsStatus::Ok;
    }

  private:
    class File : public TFsFile {
      public:
        File(TMemoryDrive& drive, std::string root, uint64_t id)
            : drive_(drive), root_(std::move(root)), id_(id), generation_(drive.Generation()) {}
        TFsStatus Write(std::string_view data) override {
            if (const TFsStatus status = drive_.Step(); status != TFsStatus::Ok) {
                return status;
            }
            auto* item = Find();
            if (item == nullptr) {
                return TFsStatus::Failed;
            }
            item->second.Data.append(data);
            if (IsJournal(item->first)) {
                drive_.JournalBytes += data.size();
            }
            return TFsStatus::Ok;
        }
        TFsStatus Flush() override {
            if (const TFsStatus status = drive_.Step(); status != TFsStatus::Ok) {
                return status;
            }
            auto* item = Find();
            if (item == nullptr) {
                return TFsStatus::Failed;
            }
            item->second.Durable = item->second.Data.size();
            if (IsJournal(item->first)) {
                ++drive_.JournalFlushes;
            }
            return TFsStatus::Ok;
        }

        TFsStatus Identify(uint64_t& id) override {
            id = id_;
            return Find() != nullptr ? TFsStatus::Ok : TFsStatus::Failed;
        }
        TFsStatus MoveTo(std::string_view to) override {
            const std::string target = root_.empty() ? std::string(to) : root_ + "\\" + std::string(to);
            if (const TFsStatus status = drive_.Step(); status != TFsStatus::Ok) {
                return status;
            }
            auto* item = Find();
            if (item == nullptr || !drive_.IsFolder(TMemoryDrive::ParentOf(target))) {
                return item == nullptr ? TFsStatus::Failed : TFsStatus::NotFound;
            }
            if (drive_.Exists(target)) {
                return drive_.IsFolder(target) ? TFsStatus::Denied : TFsStatus::Exists;
            }
            TMemoryDrive::Node node = item->second;
            drive_.Items.erase(item->first);
            drive_.Items[target] = std::move(node);
            return TFsStatus::Ok;
        }

      private:
        static bool IsJournal(std::string_view name) {
            return name.size() >= 13 && name.substr(name.size() - 13) == "Uninstall.jnl";
        }
        std::pair<const std::string, TMemoryDrive::Node>* Find() {
            if (generation_ != drive_.Generation()) {
                return nullptr;  // the process that opened it has gone
            }
            for (auto& item : drive_.Items) {
                if (item.second.Id == id_ && !item.second.Folder) {
                    return &item;
                }
            }
            return nullptr;
        }
        TMemoryDrive& drive_;
        std::string root_;
        uint64_t id_;
        uint64_t generation_;
    };

    // Removes the file (folder: the empty folder) name.
    TFsStatus RemoveItem(std::string_view name, bool folder) {
        const std::string full = Full(name);
        if (const TFsStatus status = drive_.Step(); status != TFsStatus::Ok) {
            return status;
        }
        const auto item = drive_.Items.find(full);
        if (item == drive_.Items.end()) {
            return TFsStatus::NotFound;
        }
        if (item->second.Folder != folder) {
            return TFsStatus::Denied;
        }
        if (folder && drive_.HasChildren(full)) {
            return TFsStatus::NotEmpty;
        }
        drive_.Items.erase(item);
        return TFsStatus::Ok;
    }

    std::string Full(std::string_view name) const {
        if (name == ".") {
            return root_;
        }
        return root_.empty() ? std::string(name) : root_ + "\\" + std::string(name);
    }

    TMemoryDrive& drive_;
    std::string root_;
};

// The uninstall entries and shortcuts, in memory.
class TMemorySystemItems : public TSystemItems {
  public:
    std::map<std::string, std::string> Entries;  // scope -> folder
    std::set<std::string> Shortcuts;

    std::string EntryFolder(std::string_view scope) override {
        const auto entry = Entries.find(std::string(scope));
        return entry == Entries.end() ? std::string() : entry->second;
    }
    void WriteEntry(std::string_view scope, const std::string& folder) override {
        Entries[std::string(scope)] = folder;
    }
    void DeleteEntry(std::string_view scope) override { Entries.erase(std::string(scope)); }
    bool RemoveShortcut(const std::string& path) override { return Shortcuts.erase(path) != 0; }

    std::string Dump() const {
        std::string text;
        for (const auto& [scope, folder] : Entries) {
            text += "entry " + scope + " " + folder + "\n";
        }
        for (const std::string& shortcut : Shortcuts) {
            text += "shortcut " + shortcut + "\n";
        }
        return text;
    }
};
