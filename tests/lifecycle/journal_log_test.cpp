// The appended journal: its records, where reading stops, and what a recovery may undo from a
// journal that anybody able to write into the folder could have written.
#include <gtest/gtest.h>

#include "../common/engine_runs.h"

namespace {

std::string Journal(const std::vector<std::string>& texts) {
    std::string journal;
    std::string check = kFirstJournalCheck;
    for (const std::string& text : texts) {
        journal += FormatJournalRecord(check, text, check);
    }
    return journal;
}

const std::vector<std::string> kHeading = {kJournalLogHeading, "destination C:\\X"};

std::vector<std::string> With(std::vector<std::string> texts) {
    texts.insert(texts.begin(), kHeading.begin(), kHeading.end());
    return texts;
}

TEST(JournalLog, ReadsWholeRecordsAndStopsAtTheFirstTornOne) {
    const std::string whole = Journal(With({"new a.txt.~new", "put 7 a.txt.~new>a.txt", "undone 1"}));
    const TJournalLog log = ParseJournalLog(whole);
    ASSERT_EQ(log.Steps.size(), 2u);
    EXPECT_EQ(log.Steps[1].Action, TStepAction::Put);
    EXPECT_EQ(log.Steps[1].Id, 7u);
    EXPECT_EQ(log.Steps[1].Other, "a.txt");
    EXPECT_EQ(log.Undone, std::vector<bool>({false, true}));
    EXPECT_EQ(log.WholeBytes, whole.size());
    EXPECT_EQ(JournalStepText(log.Steps[1]), "put 7 a.txt.~new>a.txt");

    // Cut anywhere inside the last record, or zero-filled from there: the step before it is the last.
    const size_t lastStart = Journal(With({"new a.txt.~new", "put 7 a.txt.~new>a.txt"})).size();
    for (size_t cut = lastStart; cut < whole.size(); ++cut) {
        for (const std::string& torn :
             {whole.substr(0, cut), whole.substr(0, cut) + std::string(whole.size() - cut, '\0')}) {
            const TJournalLog read = ParseJournalLog(torn);
            EXPECT_EQ(read.Steps.size(), 2u) << cut;
            EXPECT_EQ(read.Undone, std::vector<bool>({false, false})) << cut;
            EXPECT_EQ(read.WholeBytes, lastStart) << cut;
        }
    }
    // Records are chained: one moved out of its place ends the reading there.
    const std::string first = Journal(With({"new a.txt.~new"}));
    const std::string other = Journal(With({"new b.txt.~new"}));
    const std::string spliced = first + other.substr(Journal(kHeading).size());
    EXPECT_EQ(ParseJournalLog(spliced).Steps.size(), 1u);
    // Nothing whole at all: a journal that was being created.
    EXPECT_TRUE(ParseJournalLog(whole.substr(0, 20)).Destination.empty());
}

TEST(JournalLog, EveryKindOfStepReadsBack) {
    const std::vector<TJournalStep> steps = {
        {TStepAction::Parent, "C:\\X", "", 0},
        {TStepAction::Parent, "C:\\X\\Y", "", 1},
        {TStepAction::NewFolder, ".", "", 0},
        {TStepAction::NewFolder, ".", "", 18446744073709551615u},
        {TStepAction::NewFolder, "42 Backup", "", 0},
        {TStepAction::New, "Tandrel.exe.~new", "", 0},
        {TStepAction::Backup, "Tandrel.exe", "Backup\\Tandrel (2).exe", 12},
        {TStepAction::Aside, "sites.ini", "sites.ini.~old2", 18446744073709551615u},
        {TStepAction::Put, "Tandrel.exe.~new", "Tandrel.exe", 0},
        {TStepAction::Entry, "machine", "-", 0},
        {TStepAction::Entry, "user", "D:\\Old Place", 0},
        {TStepAction::Shortcut, "C:\\Users\\me\\SendTo\\Tandrel.lnk", "", 0},
    };
    std::vector<std::string> texts = {kJournalLogHeading, "destination C:\\X\\Y\\Tandrel"};
    for (const TJournalStep& step : steps) {
        texts.push_back(JournalStepText(step));
    }
    texts.push_back("commit");
    const TJournalLog log = ParseJournalLog(Journal(texts));
    EXPECT_TRUE(log.Committed);
    ASSERT_EQ(log.Steps.size(), steps.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(log.Steps[i].Action, steps[i].Action) << i;
        EXPECT_EQ(log.Steps[i].Name, steps[i].Name) << i;
        EXPECT_EQ(log.Steps[i].Other, steps[i].Other) << i;
        EXPECT_EQ(log.Steps[i].Id, steps[i].Id) << i;
    }
}

TEST(JournalLog, RefusesWholeRecordsThatBreakTheRules) {
    const std::vector<std::vector<std::string>> refused = {
        {"Tandrel install journal 1", "destination C:\\X"},
        {kJournalLogHeading, "destination X"},
        With({"new ..\\outside.txt"}),
        With({"put a.txt.~new>a.txt"}),  // a move without the identity of what moved
        With({"put 01 a.txt.~new>a.txt"}),
        With({"copy a.txt>Backup\\a.txt.~new"}),  // a step of the old whole-file journal
        With({"new a.txt.~new", "undone 1"}),
        With({"new a.txt.~new", "undone 0", "undone 0"}),
        With({"new a.txt.~new", "undone 0", "new b.txt.~new"}),
        With({"commit", "new a.txt.~new"}),
        With({"new a.txt.~new", "undone 0", "commit"}),
        With({"shortcut C:\\Users\\u\\Desktop\\Tandrel.lnk"}),
        With({"shortcut \\\\host\\s\\Programs\\Tandrel.lnk"}),  // not on a drive
        With({"backup 3 a.txt"}),                               // one name of two
        With({"backup 3 a.txt>..\\b.txt"}),                     // outside the destination
        With({"put 3 a.txt.~new>C:\\Windows\\b.dll"}),          // absolute
        With({"entry machine Tandrel"}),                        // a relative previous entry
        With({"entry system -"}),                               // no such scope
        With({"parent D:\\"}),                                  // not above the destination
        With({"file 5 " + std::string(64, '0') + " a.txt"}),    // a record's line
        {kRecordHeading, "destination C:\\X"},                  // a record's heading
    };
    for (const auto& texts : refused) {
        EXPECT_THROW(ParseJournalLog(Journal(texts)), EBadRecord) << texts.back();
    }
    // And a journal is no record.
    EXPECT_THROW(ParseInstallRecord(Journal(kHeading)), EBadRecord);
}

struct TFolderState {
    TMemoryDrive Drive;
    TMemorySystemItems System;
    TMemoryFolder Folder{Drive, kTestRoot};

    TFolderState() { Drive.Items[kTestRoot].Folder = true; }
    void Put(const std::string& name, const std::string& contents) {
        TMemoryDrive::Node& node = Drive.Items[std::string(kTestRoot) + "\\" + name];
        node.Data = contents;
        node.Durable = contents.size();
        node.Id = Drive.NewId();
    }
    uint64_t IdOf(const std::string& name) { return Drive.Items[std::string(kTestRoot) + "\\" + name].Id; }
    TRecovery Recover() { return RecoverInterruptedRun(Folder, System, kTestDestination); }
};

// A recovery undoes only what lies inside the folder, is of the kinds a run writes and is the run's
// own by its identity; a journal that asks for anything else is left as it is, and so is everything.
TEST(JournalLog, RecoveryUndoesOnlyWhatTheRunWrote) {
    const std::vector<std::vector<std::string>> refused = {
        With({"new notes.txt"}),                     // not a name a run creates
        With({"backup 9 Backup\\x.txt>notes.txt"}),  // a move out of Backup
        With({"aside 9 notes.txt>notes.bak"}),       // an aside under another name
        {kJournalLogHeading, "destination C:\\Other", "new notes.txt.~new"},
    };
    for (const auto& texts : refused) {
        TFolderState state;
        state.Put("notes.txt", "the user's");
        state.Put("notes.txt.~new", "");
        state.Put(kJournalName, Journal(texts));
        const std::string before = state.Drive.Dump();
        EXPECT_THROW(state.Recover(), ERollBackFailed) << texts.back();
        EXPECT_EQ(state.Drive.Dump(), before) << texts.back();
    }
    {
        // A put whose name now holds another file (the user's, or the old one put back) keeps it.
        TFolderState state;
        state.Put("notes.txt", "the user's");
        const uint64_t other = state.IdOf("notes.txt") + 100;
        state.Put(kJournalName, Journal(With({"new notes.txt.~new", "put " + std::to_string(other) +
                                                                        " notes.txt.~new>notes.txt"})));
        state.Recover();
        EXPECT_EQ(state.Drive.Dump(), "X\\\nX\\notes.txt = [the user's]\n");
    }
    {
        // The entry goes back only when it names this folder; shortcuts go through the system side.
        TFolderState state;
        state.System.Entries["machine"] = "C:\\Elsewhere";
        state.System.Entries["user"] = kTestDestination;
        state.System.Shortcuts = {"C:\\P\\Programs\\Tandrel.lnk"};
        state.Put(kJournalName, Journal(With({"entry machine -", "entry user C:\\Before",
                                              "shortcut C:\\P\\Programs\\Tandrel.lnk"})));
        state.Recover();
        EXPECT_EQ(state.System.Dump(), "entry machine C:\\Elsewhere\nentry user C:\\Before\n");
        EXPECT_EQ(state.Drive.Dump(), "X\\\n");
    }
}

// A journal of the earlier, whole-file format names its steps without identities: undone, they
// could delete what is not the run's own. It is refused, and nothing is changed, by a recovery and
// by a setup run.
TEST(JournalLog, AJournalOfTheEarlierFormatIsRefusedAndEverythingStays) {
    const std::string old =
        "Tandrel install journal 1\r\ndestination C:\\X\r\nfolder Backup\r\n"
        "new Tandrel.exe.~tnew1\r\nbackup Tandrel.exe>Backup\\Tandrel.exe\r\n"
        "put Tandrel.exe.~tnew1>Tandrel.exe\r\ndone 3\r\n";
    TFolderState state;
    state.Put("Tandrel.exe", "a program put back by hand");
    state.Drive.Items["X\\Backup"].Folder = true;
    state.Put("Backup\\Tandrel.exe", "the old program");
    state.Put(kJournalName, old);
    const std::string before = state.Drive.Dump();
    try {
        state.Recover();
        ADD_FAILURE() << "recovered";
    } catch (const ERollBackFailed& error) {
        EXPECT_NE(error.Message().find("C:\\X\\Uninstall.jnl was written by an earlier version"),
                  std::string::npos)
            << error.Message();
    }
    EXPECT_EQ(state.Drive.Dump(), before);
    EXPECT_EQ(RunSetup(state.Drive, state.System, Version1(), {}).ExitCode, 4);
    EXPECT_EQ(state.Drive.Dump(), before);
}

// A roll back appends what it has undone: stopped in the middle, its journal says how far it got, and
// the next recovery appends after the last whole record, cutting off a torn one.
TEST(JournalLog, RollBackRecordsItsProgressAfterTheLastWholeRecord) {
    TFolderState state;
    state.Put("a.txt", "old a");
    state.Put("b.txt", "old b");
    const std::string steps =
        Journal(With({"aside " + std::to_string(state.IdOf("a.txt")) + " a.txt>a.txt.~old",
                      "aside " + std::to_string(state.IdOf("b.txt")) + " b.txt>b.txt.~old"}));
    state.Put(kJournalName, steps + "0badc0de torn");
    state.Drive.Items["X\\a.txt.~old"] = state.Drive.Items["X\\a.txt"];
    state.Drive.Items["X\\b.txt.~old"] = state.Drive.Items["X\\b.txt"];
    state.Drive.Items.erase("X\\a.txt");
    state.Drive.Items.erase("X\\b.txt");
    // Open, undo b, its record (write, flush), then stop before a is undone.
    state.Drive.CrashAt = 5;
    EXPECT_THROW(state.Recover(), TCrash);
    state.Drive.Crash(TLoss::Drop);
    const TJournalLog log = ParseJournalLog(state.Drive.Items["X\\Uninstall.jnl"].Data);
    EXPECT_EQ(log.Undone, std::vector<bool>({false, true}));
    EXPECT_EQ(state.Drive.Items["X\\b.txt"].Data, "old b");
    state.Recover();
    EXPECT_EQ(state.Drive.Dump(), "X\\\nX\\a.txt = [old a]\nX\\b.txt = [old b]\n");
}

}  // namespace
