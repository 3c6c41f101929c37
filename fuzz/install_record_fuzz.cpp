// Any bytes as an installation record and as a run's journal (one format, one parser): the parser
// either refuses them or returns a record whose every name is safe and which writes back to a text
// that reads the same; a journal is read up to its first torn record.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_util.h"
#include "lifecycle/install_record.h"

namespace {

// The appended journal: what is read is safe, and written again reads the same.
void CheckJournal(std::string_view text) {
    TJournalLog log;
    try {
        log = ParseJournalLog(text);
    } catch (const EBadRecord&) {
        return;
    }
    FUZZ_CHECK(log.WholeBytes <= text.size());
    if (log.Destination.empty()) {
        return;
    }
    FUZZ_CHECK(IsSafeAbsolutePath(log.Destination));
    FUZZ_CHECK(log.Undone.size() == log.Steps.size());
    std::string check = kFirstJournalCheck;
    std::string written = FormatJournalRecord(check, kJournalLogHeading, check);
    written += FormatJournalRecord(check, "destination " + log.Destination, check);
    for (const TJournalStep& step : log.Steps) {
        FUZZ_CHECK(step.Name.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(step.Other.find_first_of("\r\n") == std::string::npos);
        written += FormatJournalRecord(check, JournalStepText(step), check);
    }
    const TJournalLog again = ParseJournalLog(written);
    FUZZ_CHECK(again.Steps.size() == log.Steps.size() && again.WholeBytes == written.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckJournal(text);
    TInstallRecord record;
    try {
        record = ParseInstallRecord(text);
    } catch (const EBadRecord&) {
        return 0;
    }
    FUZZ_CHECK(IsSafeAbsolutePath(record.Destination));
    for (const TRecordedFile& file : record.Files) {
        FUZZ_CHECK(IsSafeRelativeName(file.Name) && file.Size >= 0);
    }
    for (const std::string& name : record.Kept) {
        FUZZ_CHECK(IsSafeRelativeName(name));
    }
    for (const std::string& folder : record.Folders) {
        FUZZ_CHECK(folder == kDestinationItself || IsSafeRelativeName(folder));
    }
    const std::string written = FormatInstallRecord(record);
    const TInstallRecord again = ParseInstallRecord(written);
    FUZZ_CHECK(FormatInstallRecord(again) == written);
    FUZZ_CHECK(MergeInstallRecords(record, again).Files.size() == record.Files.size());
    return 0;
}
