// Random sequences of faults against the transaction engine over a drive in memory. The first byte
// picks the scenario (and whether the files go in groups); then each event is two bytes: what happens (a
// crash with its loss of unflushed data, or a failure: a full drive, access denied, in use) and at which
// operation of the next process. The processes are the run and, after it, the runs that recover it. After
// each process that ends, the state is the one before the run or the one after it (or, when a recovery
// failed, one whose journal keeps what is left, or a new destination left under its temporary name); after
// each crash nothing that the run keeps is lost; a last run without faults ends exactly as a clean
// run does.
#include <cstddef>
#include <cstdint>
#include <map>

#include "../tests/common/engine_runs.h"
#include "fuzz_util.h"

namespace {

struct TState {
    TMemoryDrive Drive;
    TMemorySystemItems System;
    std::string Dump() const { return Drive.Dump() + System.Dump(); }
};

TRunResult Run(TState& state, uint8_t scenario, size_t group) {
    if (scenario == 3) {
        return RunRemoval(state.Drive, state.System);
    }
    return RunSetup(state.Drive, state.System, scenario == 0 ? Version1() : Version2(),
                    {scenario != 2, group});
}

std::map<std::string, int> ContentsOf(const TMemoryDrive& drive) {
    std::map<std::string, int> contents;
    for (const auto& [name, node] : drive.Items) {
        if (!node.Folder && name.find(kJournalName) == std::string::npos) {
            ++contents[node.Data];
        }
    }
    return contents;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 64) {
        return 0;
    }
    // 0: a first installation; 1: an update with backups; 2: without; 3: a removal. The files one
    // by one, or in groups of 2 or of all of them.
    const uint8_t scenario = data[0] % 4;
    constexpr size_t kGroups[] = {0, 2, 64};
    const size_t group = kGroups[(data[0] / 4) % 3];
    TState initial;
    if (scenario != 0) {
        InstallWithUserFiles(initial.Drive, initial.System);
        if (scenario == 3) {
            RunSetup(initial.Drive, initial.System, Version2(), {});
        }
    }
    TState clean = initial;
    FUZZ_CHECK(Run(clean, scenario, group).ExitCode == 0);
    TState emptyDestination = initial;
    emptyDestination.Drive.Items[kTestRoot].Folder = true;

    // Every content that the clean run keeps must be somewhere at every moment.
    const std::map<std::string, int> kept = ContentsOf(clean.Drive);
    std::map<std::string, int> mustStay;
    for (const auto& [contents, count] : ContentsOf(initial.Drive)) {
        if (kept.count(contents) != 0) {
            mustStay[contents] = count;
        }
    }
    TState state = initial;
    for (size_t at = 1; at + 1 < size; at += 2) {
        const uint8_t what = data[at] % 6;
        state.Drive.ResetCount();
        if (what < 3) {
            state.Drive.CrashAt = 1 + data[at + 1] % 128;
        } else {
            constexpr TFsStatus kFailures[] = {TFsStatus::DiskFull, TFsStatus::Denied, TFsStatus::InUse};
            state.Drive.Failures[1 + data[at + 1] % 128] = kFailures[what - 3];
        }
        try {
            const TRunResult result = Run(state, scenario, group);
            const std::string now = state.Dump();
            if (result.ExitCode == 0) {
                // Complete; or complete but for a file set aside that could not go yet, which its
                // committed journal leaves to the next run.
                const auto journal = state.Drive.Items.find(std::string(kTestRoot) + "\\" + kJournalName);
                FUZZ_CHECK(now == clean.Dump() || (journal != state.Drive.Items.end() &&
                                                   ParseJournalLog(journal->second.Data).Committed));
            } else if (scenario != 3) {
                FUZZ_CHECK(result.ExitCode == 4 || result.ExitCode == 5 || result.ExitCode == 6);
                // Rolled back (to the state after an earlier run that had committed, or before it); or
                // a recovery that failed itself, whose journal keeps what is left; or a new
                // destination left under its temporary name, which the next run clears.
                FUZZ_CHECK(now == initial.Dump() || now == emptyDestination.Dump() || now == clean.Dump() ||
                           state.Drive.Exists(std::string(kTestRoot) + "\\" + kJournalName) ||
                           state.Drive.Exists(UnfinishedName(kTestRoot)));
            }
            if (result.ExitCode == 0 && scenario != 3) {
                break;  // a second run would be a run over the first
            }
        } catch (const TCrash&) {
            state.Drive.Crash(static_cast<TLoss>(what));
        }
        const std::map<std::string, int> now = ContentsOf(state.Drive);
        for (const auto& [contents, count] : mustStay) {
            FUZZ_CHECK(now.count(contents) != 0);
        }
        if (scenario == 3 && state.Dump() == clean.Dump()) {
            break;
        }
    }
    state.Drive.ResetCount();
    if (state.Dump() != clean.Dump()) {
        FUZZ_CHECK(Run(state, scenario, group).ExitCode == 0);
    }
    FUZZ_CHECK(state.Dump() == clean.Dump());
    return 0;
}
