// The transaction engine against a drive in memory, at every operation: each scenario is stopped at
// every operation K, its recovery at every operation K2 after that, then recovery and the run go to
// the end; and every operation is made to fail with a full drive, access denied and in use.
#include <chrono>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <map>

#include "../common/engine_runs.h"

namespace {

// What the record says of the destination's identity, when that is not the folder's: a line that
// no clean state has.
std::string WrongIdentities(const TMemoryDrive& drive) {
    const auto record = drive.Items.find(std::string(kTestRoot) + "\\" + kRecordName);
    const auto folder = drive.Items.find(kTestRoot);
    if (record == drive.Items.end() || folder == drive.Items.end()) {
        return {};
    }
    try {
        const TInstallRecord parsed = ParseInstallRecord(record->second.Data);
        if (ContainsName(parsed.Folders, kDestinationItself) && parsed.DestinationId != folder->second.Id) {
            return "the record names the destination's identity " + std::to_string(parsed.DestinationId) +
                   ", not " + std::to_string(folder->second.Id) + "\n";
        }
    } catch (const EBadRecord& error) {
        return error.Message() + "\n";
    }
    return {};
}

struct TState {
    TMemoryDrive Drive;
    TMemorySystemItems System;
    std::string Dump() const { return Drive.Dump() + System.Dump() + WrongIdentities(Drive); }
};

TRunResult Install(TState& state, const TPackage& package, bool backups = true, size_t group = 0) {
    return RunSetup(state.Drive, state.System, package, {backups, group});
}

void Put(TState& state, const std::string& name, const std::string& contents) {
    PutFile(state.Drive, name, contents);
}

TState Installed() {
    TState state;
    EXPECT_TRUE(InstallWithUserFiles(state.Drive, state.System));
    return state;
}

// A run of a scenario: what it does to the state, as a setup or a removal would.
struct TScenario {
    const char* Name;
    std::function<TState()> Prepare;
    std::function<TRunResult(TState&)> Run;
    bool Removal = false;
};

std::vector<TScenario> Scenarios() {
    return {
        {"first installation", [] { return TState(); }, [](TState& s) { return Install(s, Version1()); }},
        {"update with backups", Installed, [](TState& s) { return Install(s, Version2()); }},
        {"update without backups", Installed, [](TState& s) { return Install(s, Version2(), false); }},
        {"third run over an edited file",
         [] {
             TState state;
             EXPECT_EQ(Install(state, Version1()).ExitCode, 0);
             Put(state, "whatsnew.txt", "news edited once");
             EXPECT_EQ(Install(state, Version1()).ExitCode, 0);
             Put(state, "whatsnew.txt", "news edited twice");
             return state;
         },
         [](TState& s) { return Install(s, Version1()); }},
        // The files in groups (of 4: a group and the rest), their moves taken together.
        {"first installation in groups", [] { return TState(); },
         [](TState& s) { return Install(s, Version1(), true, 4); }},
        {"update with backups in groups", Installed,
         [](TState& s) { return Install(s, Version2(), true, 4); }},
        {"update without backups in groups", Installed,
         [](TState& s) { return Install(s, Version2(), false, 4); }},
        {"third run over an edited file in groups",
         [] {
             TState state;
             EXPECT_EQ(Install(state, Version1(), true, 4).ExitCode, 0);
             Put(state, "whatsnew.txt", "news edited once");
             EXPECT_EQ(Install(state, Version1(), true, 4).ExitCode, 0);
             Put(state, "whatsnew.txt", "news edited twice");
             return state;
         },
         [](TState& s) { return Install(s, Version1(), true, 4); }},
        {"removal",
         [] {
             TState state = Installed();
             EXPECT_EQ(Install(state, Version2()).ExitCode, 0);
             return state;
         },
         [](TState& s) { return RunRemoval(s.Drive, s.System); }, true},
    };
}

TLoss LossFor(int64_t n) {
    return static_cast<TLoss>(n % 3);
}

std::map<std::string, int> ContentsOf(const TState& state) {
    std::map<std::string, int> contents;
    for (const auto& [name, node] : state.Drive.Items) {
        if (!node.Folder && name.find("Uninstall.jnl") == std::string::npos) {
            ++contents[node.Data];
        }
    }
    return contents;
}

const std::string* FileAt(const TState& state, const std::string& name) {
    const auto item = state.Drive.Items.find(std::string(kTestRoot) + "\\" + name);
    return item == state.Drive.Items.end() || item->second.Folder ? nullptr : &item->second.Data;
}

bool IsTemporary(const std::string& name) {
    std::string_view rest = name;
    while (!rest.empty() && rest.back() >= '0' && rest.back() <= '9') {
        rest.remove_suffix(1);
    }
    return rest.ends_with(".~new") || rest.ends_with(".~old");
}

// What must hold after any interruption of a run that went from initial towards clean: every
// product file in place is whole (the old or the new version), nothing of what was there is lost
// unless the run had completed, and no temporary file is left that no journal names.
// The states that bound a run: before it, after a clean run, and whether the run being checked had
// committed.
struct TBounds {
    const TState& Initial;
    const TState& Clean;
    bool Committed;
};

void CheckNothingLost(const TState& state, const TBounds& bounds, const std::string& where) {
    const TState& initial = bounds.Initial;
    const TState& clean = bounds.Clean;
    const bool committed = bounds.Committed;
    SCOPED_TRACE(where);
    const std::string* journalText = FileAt(state, kJournalName);
    TJournalLog log;
    if (journalText != nullptr) {
        ASSERT_NO_THROW(log = ParseJournalLog(*journalText));
    }
    std::vector<std::string> products = {kUninstallerName, kRecordName};
    for (const auto& [name, contents] : Version2().Files) {
        products.push_back(name);
    }
    for (const std::string& name : products) {
        const std::string* now = FileAt(state, name);
        const std::string* before = FileAt(initial, name);
        const std::string* after = FileAt(clean, name);
        EXPECT_TRUE(now == nullptr || (before != nullptr && *now == *before) ||
                    (after != nullptr && *now == *after))
            << name << " holds [" << *now << "]";
    }
    // What the clean run itself lets go of (old versions without backups) may only be missing once
    // the run has committed.
    const std::map<std::string, int> now = ContentsOf(state);
    const std::map<std::string, int> after = ContentsOf(clean);
    for (const auto& [contents, count] : ContentsOf(initial)) {
        if (now.count(contents) == 0) {
            EXPECT_TRUE(committed && after.count(contents) == 0) << "lost: [" << contents << "]";
        }
    }
    for (const auto& [name, node] : state.Drive.Items) {
        if (node.Folder || !IsTemporary(name)) {
            continue;
        }
        const std::string relative = name.substr(std::string(kTestRoot).size() + 1);
        // The journal's replacement, unfinished, is named by the journal beside it.
        const bool named = (relative == kJournalReplacement && journalText != nullptr) ||
                           std::any_of(log.Steps.begin(), log.Steps.end(), [&](const TJournalStep& step) {
                               return step.Name == relative || step.Other == relative;
                           });
        EXPECT_TRUE(named) << "untracked " << name;
    }
}

// Whether the run had committed: its journal says so.
bool Committed(const TState& state) {
    const std::string* journal = FileAt(state, kJournalName);
    return journal != nullptr && ParseJournalLog(*journal).Committed;
}

// After a recovery that went to its end: the state before the run, the destination that the killed
// run made aside (the next run needs it, and makes it its own); or, when the run had committed, the
// state after it.
void CheckRecovered(const TState& state, const TBounds& bounds, const std::string& where) {
    SCOPED_TRACE(where);
    const TState& initial = bounds.Initial;
    const TState& expected = bounds.Committed ? bounds.Clean : initial;
    if (initial.Drive.Exists(kTestRoot)) {
        EXPECT_EQ(state.Dump(), expected.Dump());
        return;
    }
    // A new destination: nothing, or what is left under its temporary name (the next run clears
    // it), or the destination in place, holding only the journal that hands it over to the next
    // run with its identity.
    TState cleared = state;
    TMemoryFolder root(cleared.Drive, "");
    EXPECT_NO_THROW(ClearUnfinishedDestination(root, kTestDrive, kTestRoot));
    if (!bounds.Committed && cleared.Drive.Exists(kTestRoot)) {
        const std::string* journal = FileAt(cleared, kJournalName);
        ASSERT_NE(journal, nullptr);
        const TJournalLog log = ParseJournalLog(*journal);
        EXPECT_FALSE(log.Committed);
        ASSERT_FALSE(log.Steps.empty());
        EXPECT_EQ(log.Steps[0].Name, kDestinationItself);
        EXPECT_EQ(log.Steps[0].Id, cleared.Drive.Items[kTestRoot].Id);
        for (size_t index = 1; index < log.Steps.size(); ++index) {
            EXPECT_TRUE(log.Undone[index]) << "step " << index << " is left to undo";
        }
        cleared.Drive.Items.erase(kTestRoot);
        cleared.Drive.Items.erase(std::string(kTestRoot) + "\\" + kJournalName);
    }
    EXPECT_EQ(cleared.Dump(), expected.Dump());
}

TRunResult Recover(TState& state) {
    TRecovery recovery;
    return {RecoverRun(state.Drive, state.System, recovery) ? 0 : 4, ""};
}

// Stops the scenario's run at every operation K, then its recovery at every operation K2, then runs
// recovery and the run to their end. Returns the number of cases.
int64_t CheckEveryInterruption(const TScenario& scenario) {
    const TState initial = scenario.Prepare();
    TState clean = initial;
    clean.Drive.ResetCount();
    EXPECT_EQ(scenario.Run(clean).ExitCode, 0);
    const int64_t operations = clean.Drive.Operations;
    EXPECT_GT(operations, 5);
    // A run that had committed is over: the run after it is a second one, which changes nothing.
    TState again = clean;
    if (!scenario.Removal) {
        EXPECT_EQ(scenario.Run(again).ExitCode, 0);
        EXPECT_EQ(again.Dump(), clean.Dump()) << scenario.Name << ": the same run again changed something";
    }
    // The removal goes forward: what recovers it is the removal run again.
    const auto recover = scenario.Removal ? scenario.Run : Recover;
    int64_t cases = 0;
    for (int64_t k = 1; k <= operations; ++k) {
        TState crashed = initial;
        crashed.Drive.ResetCount();
        crashed.Drive.CrashAt = k;
        EXPECT_THROW(scenario.Run(crashed), TCrash) << scenario.Name << " K=" << k;
        crashed.Drive.Crash(LossFor(k));
        const std::string where = std::string(scenario.Name) + " K=" + std::to_string(k);
        const TBounds bounds{initial, clean, scenario.Removal || Committed(crashed)};
        CheckNothingLost(crashed, bounds, where);

        TState recovered = crashed;
        recover(recovered);
        const int64_t recoveryOperations = recovered.Drive.Operations;
        if (scenario.Removal) {
            EXPECT_EQ(recovered.Dump(), clean.Dump()) << where;
        } else {
            CheckRecovered(recovered, bounds, where);
        }
        for (int64_t k2 = 1; k2 <= recoveryOperations; ++k2) {
            const std::string twice = where + " K2=" + std::to_string(k2);
            TState state = crashed;
            state.Drive.CrashAt = k2;
            EXPECT_THROW(recover(state), TCrash) << twice;
            state.Drive.Crash(LossFor(k + k2));
            CheckNothingLost(state, bounds, twice);
            EXPECT_NE(recover(state).ExitCode, 4) << twice;
            if (!scenario.Removal) {
                CheckRecovered(state, bounds, twice);
                EXPECT_EQ(scenario.Run(state).ExitCode, 0) << twice;
            }
            EXPECT_EQ(state.Dump(), clean.Dump()) << twice;
            ++cases;
        }
        if (!scenario.Removal) {
            // The next run recovers by itself, then ends as a clean run does.
            EXPECT_EQ(scenario.Run(crashed).ExitCode, 0) << where;
            EXPECT_EQ(crashed.Dump(), clean.Dump()) << where;
        }
        ++cases;
    }
    return cases;
}

TEST(TransactionEngine, EveryCrashAndEveryCrashOfItsRecoveryEndsAsACleanRun) {
    const auto start = std::chrono::steady_clock::now();
    int64_t cases = 0;
    for (const TScenario& scenario : Scenarios()) {
        cases += CheckEveryInterruption(scenario);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%lld (scenario, K, K2) cases in %.2f s\n", static_cast<long long>(cases), seconds);
}

TEST(TransactionEngine, RemovalAfterAKilledSetupEndsAsARemovalOfTheInstallationBefore) {
    const TState initial = Installed();
    TState cleanRemoval = initial;
    ASSERT_EQ(RunRemoval(cleanRemoval.Drive, cleanRemoval.System).ExitCode, 0);
    TState cleanSetup = initial;
    cleanSetup.Drive.ResetCount();
    ASSERT_EQ(Install(cleanSetup, Version2()).ExitCode, 0);
    // A setup killed once it had committed has installed its version: that is what goes.
    TState removalAfterSetup = cleanSetup;
    ASSERT_EQ(RunRemoval(removalAfterSetup.Drive, removalAfterSetup.System).ExitCode, 0);
    int64_t cases = 0;
    for (int64_t k = 1; k <= cleanSetup.Drive.Operations; ++k) {
        TState killed = initial;
        killed.Drive.ResetCount();
        killed.Drive.CrashAt = k;
        EXPECT_THROW(Install(killed, Version2()), TCrash);
        killed.Drive.Crash(LossFor(k));
        const std::string expected = Committed(killed) ? removalAfterSetup.Dump() : cleanRemoval.Dump();
        TState removed = killed;
        EXPECT_EQ(RunRemoval(removed.Drive, removed.System).ExitCode, 0) << "K=" << k;
        EXPECT_EQ(removed.Dump(), expected) << "K=" << k;
        for (int64_t k2 = 1; k2 <= removed.Drive.Operations; ++k2) {
            TState state = killed;
            state.Drive.CrashAt = k2;
            EXPECT_THROW(RunRemoval(state.Drive, state.System), TCrash);
            state.Drive.Crash(LossFor(k2));
            RunRemoval(state.Drive, state.System);
            EXPECT_EQ(state.Dump(), expected) << "K=" << k << " K2=" << k2;
            ++cases;
        }
    }
    std::printf("%lld (K, K2) cases of a removal after a killed setup\n", static_cast<long long>(cases));
}

// Every operation of every setup scenario failing once: a full drive exits 6, a file in use 5,
// anything else 4, each with the state before the run; a failure after the commit leaves a run that
// completed, which the next recovery finishes.
TEST(TransactionEngine, EveryFailureLeavesTheStateBeforeTheRunWithItsExitCode) {
    for (const TScenario& scenario : Scenarios()) {
        const TState initial = scenario.Prepare();
        TState clean = initial;
        clean.Drive.ResetCount();
        ASSERT_EQ(scenario.Run(clean).ExitCode, 0);
        for (int64_t k = 1; k <= clean.Drive.Operations; ++k) {
            for (const TFsStatus status : {TFsStatus::DiskFull, TFsStatus::Denied, TFsStatus::InUse}) {
                const std::string where = std::string(scenario.Name) + " K=" + std::to_string(k) +
                                          " status " + std::to_string(static_cast<int>(status));
                TState state = initial;
                state.Drive.ResetCount();
                state.Drive.Failures[k] = status;
                const TRunResult result = scenario.Run(state);
                if (scenario.Removal) {
                    // A removal goes forward: whatever stopped it, running it again finishes it.
                    EXPECT_NE(result.ExitCode, 1) << where;
                    RunRemoval(state.Drive, state.System);
                    EXPECT_EQ(state.Dump(), clean.Dump()) << where;
                    continue;
                }
                if (result.ExitCode == 0) {
                    EXPECT_NE(Recover(state).ExitCode, 4) << where;
                    EXPECT_EQ(state.Dump(), clean.Dump()) << where;
                    continue;
                }
                EXPECT_EQ(result.ExitCode, ExitCodeOf(status)) << where << ": " << result.Message;
                EXPECT_EQ(state.Dump(), initial.Dump()) << where << ": " << result.Message;
                if (status == TFsStatus::DiskFull) {
                    EXPECT_NE(result.Message.find("C:\\X"), std::string::npos)
                        << where << ": " << result.Message;
                    EXPECT_NE(result.Message.find("drive C:"), std::string::npos)
                        << where << ": " << result.Message;
                }
            }
        }
    }
}

// The backup rules, run after run.
TEST(TransactionEngine, BackupsKeepEveryGenerationAndNeverTakeIdenticalFiles) {
    TState state;
    ASSERT_EQ(Install(state, Version1()).ExitCode, 0);
    // The same setup again touches nothing: no Backup at all.
    const std::string first = state.Dump();
    ASSERT_EQ(Install(state, Version1()).ExitCode, 0);
    EXPECT_EQ(state.Dump(), first);
    EXPECT_FALSE(state.Drive.Exists("X\\Backup"));

    // The record notes whether installations put files into Backup, from run to run.
    const auto backupsNoted = [&state] { return ParseInstallRecord(*FileAt(state, kRecordName)).Backups; };
    EXPECT_EQ(backupsNoted(), false);
    Put(state, "whatsnew.txt", "edit 1");
    ASSERT_EQ(Install(state, Version1()).ExitCode, 0);
    EXPECT_EQ(backupsNoted(), true);
    ASSERT_NE(FileAt(state, "Backup\\whatsnew.txt"), nullptr);
    EXPECT_EQ(*FileAt(state, "Backup\\whatsnew.txt"), "edit 1");
    // A third run over the pristine file keeps the edit in Backup.
    ASSERT_EQ(Install(state, Version1()).ExitCode, 0);
    EXPECT_EQ(*FileAt(state, "Backup\\whatsnew.txt"), "edit 1");
    // A second edit is a generation of its own; the same bytes again are not backed up twice.
    Put(state, "whatsnew.txt", "edit 2");
    ASSERT_EQ(Install(state, Version1()).ExitCode, 0);
    ASSERT_NE(FileAt(state, "Backup\\whatsnew (2).txt"), nullptr);
    EXPECT_EQ(*FileAt(state, "Backup\\whatsnew (2).txt"), "edit 2");
    for (const char* again : {"edit 1", "edit 2"}) {
        Put(state, "whatsnew.txt", again);
        ASSERT_EQ(Install(state, Version1()).ExitCode, 0);
        EXPECT_EQ(FileAt(state, "Backup\\whatsnew (3).txt"), nullptr) << again;
    }
    EXPECT_EQ(*FileAt(state, "whatsnew.txt"), "news 1");
    EXPECT_EQ(backupsNoted(), true);
    // The user's site database stays in place and is copied once.
    Put(state, "sites.ini", "my sites");
    ASSERT_EQ(Install(state, Version2()).ExitCode, 0);
    ASSERT_EQ(Install(state, Version2()).ExitCode, 0);
    EXPECT_EQ(*FileAt(state, "sites.ini"), "my sites");
    EXPECT_EQ(*FileAt(state, "Backup\\sites.ini"), "my sites");
    EXPECT_EQ(FileAt(state, "Backup\\sites (2).ini"), nullptr);
    // Without backups a replaced file goes once the run completes, and nothing temporary is left;
    // a fresh installation without backups notes that none went into Backup.
    TState fresh;
    ASSERT_EQ(Install(fresh, Version1()).ExitCode, 0);
    Put(fresh, "whatsnew.txt", "edit");
    ASSERT_EQ(Install(fresh, Version2(), false).ExitCode, 0);
    EXPECT_EQ(ParseInstallRecord(*FileAt(fresh, kRecordName)).Backups, false);
    ASSERT_EQ(Install(state, Version1(), false).ExitCode, 0);
    for (const auto& [name, node] : state.Drive.Items) {
        EXPECT_FALSE(IsTemporary(name)) << name;
        EXPECT_EQ(name.find("Uninstall.jnl"), std::string::npos);
    }
}

// A killed first installation leaves its destination to the next run, which records it as made
// (with its identity), so that a removal takes it away.
TEST(TransactionEngine, AKilledFirstInstallationHandsItsDestinationToTheNextRun) {
    TState clean;
    ASSERT_EQ(Install(clean, Version1()).ExitCode, 0);
    const TInstallRecord record = ParseInstallRecord(*FileAt(clean, kRecordName));
    ASSERT_TRUE(ContainsName(record.Folders, kDestinationItself));
    EXPECT_EQ(record.DestinationId, clean.Drive.Items[kTestRoot].Id);
    for (int64_t k = 1; k < 30; ++k) {
        TState state;
        state.Drive.CrashAt = k;
        EXPECT_THROW(Install(state, Version1()), TCrash);
        state.Drive.Crash(TLoss::Drop);
        ASSERT_EQ(Install(state, Version1()).ExitCode, 0) << "K=" << k;
        EXPECT_EQ(state.Dump(), clean.Dump()) << "K=" << k;
        RunRemoval(state.Drive, state.System);
        EXPECT_TRUE(state.Drive.Items.empty()) << "K=" << k << ": " << state.Dump();
    }
}

// A folder that a user made is never taken for the setup's: an empty destination stays after a
// removal, and a folder under the temporary name that holds anything else stops the run.
TEST(TransactionEngine, FoldersThatAUserMadeAreNotTheSetups) {
    TState state;
    state.Drive.Items[kTestRoot].Folder = true;
    ASSERT_EQ(Install(state, Version1()).ExitCode, 0);
    EXPECT_FALSE(ContainsName(ParseInstallRecord(*FileAt(state, kRecordName)).Folders, kDestinationItself));
    ASSERT_EQ(RunRemoval(state.Drive, state.System).ExitCode, 0);
    EXPECT_EQ(state.Dump(), "X\\\n");

    for (const char* mine : {"X.~new\\notes.txt", "X.~new\\a\\notes.txt", "X.~new\\Uninstall.jnl"}) {
        TState user;
        user.Drive.Items["X.~new"].Folder = true;
        user.Drive.Items["X.~new\\a"].Folder = true;
        user.Drive.Items[mine].Data = "the user's";
        const std::string before = user.Dump();
        const TRunResult result = Install(user, Version1());
        EXPECT_EQ(result.ExitCode, 4) << mine;
        EXPECT_NE(result.Message.find("C:\\X.~new"), std::string::npos) << result.Message;
        EXPECT_EQ(user.Dump(), before) << mine;
    }
}

// The folders above a new destination are made under the temporary name of the first, with the
// destination's journal naming each with its identity, then put in place in one step: stopped at
// any operation, what is left is cleared by the next run, or is the whole chain with its journal.
TEST(TransactionEngine, AChainOfNewFoldersIsMadeWholeOrNotAtAll) {
    const std::string destination = "C:\\Apps\\Net\\X";
    const auto make = [&](TMemoryDrive& drive) {
        TMemoryFolder root(drive, "");
        PrepareNewDestination(root, kTestDrive, "Apps\\Net\\X", destination);
        PlaceNewDestination(root, kTestDrive, "Apps\\Net\\X");
    };
    // The whole chain, its journal naming each folder with the identity it has.
    const auto checkWhole = [](TMemoryDrive& drive, const std::string& where) {
        SCOPED_TRACE(where);
        ASSERT_EQ(drive.Items.size(), 4u) << drive.Dump();
        const TJournalLog log = ParseJournalLog(drive.Items["Apps\\Net\\X\\Uninstall.jnl"].Data);
        ASSERT_EQ(log.Steps.size(), 3u);
        EXPECT_EQ(log.Steps[0].Name, "C:\\Apps");
        EXPECT_EQ(log.Steps[0].Id, drive.Items["Apps"].Id);
        EXPECT_EQ(log.Steps[1].Name, "C:\\Apps\\Net");
        EXPECT_EQ(log.Steps[1].Id, drive.Items["Apps\\Net"].Id);
        EXPECT_EQ(log.Steps[2].Name, kDestinationItself);
        EXPECT_EQ(log.Steps[2].Id, drive.Items["Apps\\Net\\X"].Id);
    };
    TMemoryDrive clean;
    make(clean);
    checkWhole(clean, "clean");
    for (int64_t k = 1; k <= clean.Operations; ++k) {
        TMemoryDrive drive;
        drive.CrashAt = k;
        EXPECT_THROW(make(drive), TCrash);
        drive.Crash(LossFor(k));
        if (!drive.Exists("Apps")) {
            TMemoryFolder root(drive, "");
            EXPECT_NO_THROW(ClearUnfinishedDestination(root, kTestDrive, "Apps\\Net\\X")) << "K=" << k;
            EXPECT_TRUE(drive.Items.empty()) << "K=" << k << ": " << drive.Dump();
            make(drive);
        }
        checkWhole(drive, "K=" + std::to_string(k));
    }
    // A failed run takes the chain away again, and only while it holds nothing else.
    TMemoryFolder root(clean, "");
    TMemoryDrive kept = clean;
    kept.Items["Apps\\notes.txt"].Data = "the user's";
    TMemoryFolder keptRoot(kept, "");
    EXPECT_FALSE(WithdrawNewDestination(keptRoot, kTestDrive, "Apps\\Net\\X"));
    EXPECT_TRUE(kept.Exists("Apps\\Net\\X\\Uninstall.jnl"));
    EXPECT_TRUE(WithdrawNewDestination(root, kTestDrive, "Apps\\Net\\X"));
    EXPECT_TRUE(clean.Items.empty()) << clean.Dump();

    // The deepest chain that is made can be taken away again; a deeper one is not made at all.
    for (const int depth : {kMaxNewChain, kMaxNewChain + 1}) {
        SCOPED_TRACE(depth);
        std::string chain = "a";
        for (int level = 1; level < depth; ++level) {
            chain += "\\a";
        }
        TMemoryDrive drive;
        TMemoryFolder driveRoot(drive, "");
        const std::string deep = kTestDrive + chain;
        if (depth > kMaxNewChain) {
            EXPECT_THROW(PrepareNewDestination(driveRoot, kTestDrive, chain, deep), ETransactionFailed);
            EXPECT_TRUE(drive.Items.empty()) << drive.Dump();
            continue;
        }
        PrepareNewDestination(driveRoot, kTestDrive, chain, deep);
        PlaceNewDestination(driveRoot, kTestDrive, chain);
        EXPECT_TRUE(WithdrawNewDestination(driveRoot, kTestDrive, chain));
        EXPECT_TRUE(drive.Items.empty()) << drive.Dump();
    }
}

// The journal grows by one record a step: its bytes are linear in the files.
TEST(TransactionEngine, JournalBytesGrowLinearlyWithTheFiles) {
    const auto journalBytes = [](int files) {
        TPackage package;
        for (int index = 0; index < files; ++index) {
            package.Files.push_back(
                {"file" + std::to_string(index) + ".dat", "contents " + std::to_string(index)});
        }
        TState state;
        EXPECT_EQ(Install(state, package).ExitCode, 0);
        const uint64_t fresh = state.Drive.JournalBytes;
        for (auto& [name, contents] : package.Files) {
            contents += " again";
        }
        EXPECT_EQ(Install(state, package).ExitCode, 0);
        return std::make_pair(fresh, state.Drive.JournalBytes - fresh);
    };
    const auto [small, smallAgain] = journalBytes(121);
    const auto [large, largeAgain] = journalBytes(242);
    std::printf("journal bytes at 121 files: %llu (installation), %llu (re-installation)\n",
                static_cast<unsigned long long>(small), static_cast<unsigned long long>(smallAgain));
    EXPECT_LT(large, small * 21 / 10);
    EXPECT_LT(largeAgain, smallAgain * 21 / 10);
}

// Files put in place as a group end as the same files one by one do, also when a later file of the
// group is named where an earlier one's move goes (its name set aside, its Backup), and the journal
// is flushed a few times a group, not for each file.
TEST(TransactionEngine, AGroupOfFilesEndsAsTheFilesOneByOneWithAFewFlushes) {
    TPackage package;
    for (int index = 0; index < 40; ++index) {
        package.Files.push_back(
            {"file" + std::to_string(index) + ".dat", "contents " + std::to_string(index)});
    }
    package.Files.push_back({"a.txt", "new a"});
    package.Files.push_back({"a.txt.~old", "a file named as a.txt set aside"});
    package.Files.push_back({"b.txt", "new b"});
    package.Files.push_back({"Backup\\b.txt", "a file named as b.txt's backup"});
    package.Uninstaller = "uninstaller";
    for (const bool backups : {false, true}) {
        SCOPED_TRACE(backups ? "with backups" : "without backups");
        TState before;
        ASSERT_EQ(Install(before, Version1()).ExitCode, 0);
        Put(before, "a.txt", "old a");
        Put(before, "b.txt", "old b");
        TState oneByOne = before;
        ASSERT_EQ(Install(oneByOne, package, backups).ExitCode, 0);
        const uint64_t flushesOneByOne = oneByOne.Drive.JournalFlushes - before.Drive.JournalFlushes;
        for (const size_t group : {size_t{2}, size_t{64}}) {
            TState grouped = before;
            ASSERT_EQ(Install(grouped, package, backups, group).ExitCode, 0);
            EXPECT_EQ(grouped.Dump(), oneByOne.Dump()) << "groups of " << group;
            const uint64_t flushes = grouped.Drive.JournalFlushes - before.Drive.JournalFlushes;
            if (group == 64) {
                std::printf("journal flushes for %zu files: %llu one by one, %llu in one group\n",
                            package.Files.size(), static_cast<unsigned long long>(flushesOneByOne),
                            static_cast<unsigned long long>(flushes));
                EXPECT_GE(flushesOneByOne, 2 * package.Files.size());
                EXPECT_LE(flushes, 20u);
            }
        }
    }
}

// A file in the way is read only when it could hold the new bytes (the same size) or when Backup's
// generations must be compared with it, and then once; a generation of another size is never read;
// the new file's bytes are not read again when their digest is given. The outcome is the rule's
// whatever is read: identical untouched, else into Backup (never over other bytes) or aside.
TEST(TransactionEngine, PlaceReadsOnlyWhatCouldBeIdenticalAndOnlyOnce) {
    struct CountingFolder : TMemoryFolder {
        using TMemoryFolder::TMemoryFolder;
        std::vector<std::string> measured;
        TFsStatus Measure(std::string_view name, int64_t& size, Sha256Digest& digest) override {
            measured.emplace_back(name);
            return TMemoryFolder::Measure(name, size, digest);
        }
    };
    const std::string fresh = "new bytes";
    const Sha256Digest digest = Sha256Of(fresh.data(), fresh.size());
    // What is there before (a.txt, then Backup's generations), the rule, whether the new file's
    // digest is given, the outcome, what is read, and Backup's generations afterwards.
    using Files = std::vector<std::string>;
    struct Case {
        const char* name;
        Files before;
        TReplaceRule rule;
        bool digestGiven;
        TFileOutcome outcome;
        Files measured;
        Files backups;
    };
    const TReplaceRule aside = TReplaceRule::Aside;
    const TReplaceRule backup = TReplaceRule::Backup;
    const Case cases[] = {
        {"nothing there", {}, backup, true, TFileOutcome::Written, {}, {}},
        {"identical, digest given", {fresh}, backup, true, TFileOutcome::Unchanged, {"a.txt"}, {}},
        {"identical, digest read",
         {fresh},
         aside,
         false,
         TFileOutcome::Unchanged,
         {"a.txt", "a.txt.~new"},
         {}},
        {"same size, other bytes, aside", {"old bytes"}, aside, true, TFileOutcome::SetAside, {"a.txt"}, {}},
        {"other size, aside", {"older"}, aside, true, TFileOutcome::SetAside, {}, {}},
        {"same size, other bytes, into Backup once read",
         {"old bytes", "a backup of another size"},
         backup,
         true,
         TFileOutcome::MovedToBackup,
         {"a.txt"},
         {"a backup of another size", "old bytes"}},
        {"other size, its identical generation found",
         {"older", "other", "older"},
         backup,
         true,
         TFileOutcome::SetAside,
         {"a.txt", "Backup\\a.txt", "Backup\\a (2).txt"},
         {"other", "older"}},
    };
    // Backup's generations of a.txt, from the first.
    const auto generation = [](size_t index) {
        return index == 0 ? std::string("Backup\\a.txt")
                          : "Backup\\a (" + std::to_string(index + 1) + ").txt";
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TState state;
        state.Drive.Items[kTestRoot].Folder = true;
        state.Drive.Items[std::string(kTestRoot) + "\\Backup"].Folder = true;
        for (size_t index = 0; index < c.before.size(); ++index) {
            Put(state, index == 0 ? "a.txt" : generation(index - 1), c.before[index]);
        }
        CountingFolder folder(state.Drive, kTestRoot);
        TTransaction transaction(folder, state.System, kTestDestination);
        TTransaction::TNewFile file = transaction.NewFile("a.txt");
        ASSERT_EQ(file.File->Write(fresh), TFsStatus::Ok);
        EXPECT_EQ(transaction.Place(file, "a.txt", c.rule, c.digestGiven ? &digest : nullptr), c.outcome);
        EXPECT_EQ(folder.measured, c.measured);
        transaction.Commit();
        ASSERT_NE(FileAt(state, "a.txt"), nullptr);
        EXPECT_EQ(*FileAt(state, "a.txt"), fresh);
        for (size_t index = 0; index < c.backups.size(); ++index) {
            ASSERT_NE(FileAt(state, generation(index)), nullptr) << index;
            EXPECT_EQ(*FileAt(state, generation(index)), c.backups[index]) << index;
        }
        EXPECT_EQ(FileAt(state, generation(c.backups.size())), nullptr);
        EXPECT_EQ(FileAt(state, "a.txt.~new"), nullptr);
        EXPECT_EQ(FileAt(state, "a.txt.~old"), nullptr);
    }
}

}  // namespace
