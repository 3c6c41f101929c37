// The rules that the archive component and tcompress read archives by: which method an archive's
// identifier names, and what an entry's checksum accepts.
#include <gtest/gtest.h>

#include "archive/archive_reader.h"
#include "archive/format.h"
#include "test_util.h"

namespace {

TEST(MethodFromID, IdentifiersAndTheApplicationsHandlers) {
    struct Row {
        const char* id;
        bool expander;   // custom entries can be expanded
        int recognizer;  // -1 none, 0 refuses, 1 accepts
        int method;      // -1: EUnrecognizedCompressionMethod
        bool asked;      // the recognizer was called
    };
    const Row rows[] = {
        {"NON", false, 1, cmNone, false},
        {"RLE", true, 1, cmRLE, false},
        {"LZH", false, -1, cmLZH, false},
        {"lzh", false, -1, -1, false},  // compared exactly
        {"CUS", false, 1, -1, false},   // custom coding needs an expander
        {"CUS", true, -1, cmCustom, false},
        {"ZIP", false, 1, -1, false},  // the recognizer is asked only
                                       // when there is an expander
        {"ZIP", true, -1, -1, false},
        {"ZIP", true, 0, -1, true},
        {"ZIP", true, 1, cmCustom, true},
        {"NON", true, 0, cmNone, true},  // with both handlers even "NON" is put to the recognizer
        {"NON", true, 1, cmCustom, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message()
                     << row.id << " expander " << row.expander << " recognizer " << row.recognizer);
        bool asked = false;
        MethodRecognizer recognize;
        if (row.recognizer >= 0) {
            recognize = [&](const std::string& id, bool& recognized) {
                EXPECT_EQ(id, row.id);
                EXPECT_FALSE(recognized);
                asked = true;
                recognized = row.recognizer == 1;
            };
        }
        if (row.method < 0) {
            EXPECT_THROW(MethodFromID(row.id, row.expander, recognize), EUnrecognizedCompressionMethod);
        } else {
            EXPECT_EQ(MethodFromID(row.id, row.expander, recognize), row.method);
        }
        EXPECT_EQ(asked, row.asked);
    }
}

TEST(Checksum, WhatALockedEntryAccepts) {
    TFileHeader header;
    header.LockFlag = 1;
    header.Checksum = 294;
    // The stored sum itself passes under any key, as the archive component expands such an entry.
    EXPECT_TRUE(ChecksumMatches(header, 294, 5));
    EXPECT_TRUE(ChecksumMatches(header, 289, 5));
    EXPECT_FALSE(ChecksumMatches(header, 290, 5));
    EXPECT_TRUE(NeedsKey(header, 0));
    EXPECT_FALSE(NeedsKey(header, -1));
    header.LockFlag = 0;
    EXPECT_FALSE(NeedsKey(header, 0));
    EXPECT_FALSE(ChecksumMatches(header, 289, 5));  // an unlocked entry adds no key
}

TEST(Checksum, AFailureIsAKeyErrorForLockedEntriesOnly) {
    TFileHeader header;
    header.Checksum = 294;
    EXPECT_NO_THROW(CheckEntryChecksum(header, 294, 0));
    try {
        CheckEntryChecksum(header, 295, 0);
        ADD_FAILURE() << "nothing raised";
    } catch (const EBadChecksum& e) {
        EXPECT_EQ(e.Message(), "Bad checksum during expansion -- data may be invalid");
    }
    header.LockFlag = 1;
    try {
        CheckEntryChecksum(header, 295, 3);
        ADD_FAILURE() << "nothing raised";
    } catch (const EInvalidKey& e) {
        EXPECT_EQ(e.Message(), "File locked -- valid key required");
    }
    EXPECT_NO_THROW(CheckEntryChecksum(header, 291, 3));
}

}  // namespace
