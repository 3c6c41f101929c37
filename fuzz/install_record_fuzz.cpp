// Any bytes as an installation record and as a run's journal (one format, one parser): the parser
// either refuses them or returns a record whose every name is safe and which writes back to a text
// that reads the same.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_util.h"
#include "lifecycle/install_record.h"

namespace {

void CheckJournal(std::string_view text) {
    TInstallJournal journal;
    try {
        journal = ParseInstallJournal(text);
    } catch (const EBadRecord&) {
        return;
    }
    FUZZ_CHECK(IsSafeAbsolutePath(journal.Destination));
    FUZZ_CHECK(journal.Done >= 0 && journal.Done <= static_cast<int>(journal.Steps.size()));
    for (const TJournalStep& step : journal.Steps) {
        FUZZ_CHECK(step.Name.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(step.Other.find_first_of("\r\n") == std::string::npos);
    }
    const std::string written = FormatInstallJournal(journal);
    FUZZ_CHECK(FormatInstallJournal(ParseInstallJournal(written)) == written);
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
