#include "shell/ole.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <type_traits>

#include "../common/exception_message.h"
#include "shell/shell_link.h"

namespace {

static_assert(std::is_base_of_v<Exception, EShellOleError>);

std::string OleErrorOf(HRESULT result, DWORD lastError) {
    ::SetLastError(lastError);
    return MessageOf<EShellOleError>([&] { CheckOleResult(result); });
}

TEST(CheckOleResult, OnlyZeroSucceeds) {
    EXPECT_NO_THROW(CheckOleResult(S_OK));
    EXPECT_THROW(CheckOleResult(S_FALSE), EShellOleError);
    EXPECT_THROW(CheckOleResult(E_FAIL), EShellOleError);
}

TEST(CheckOleResult, MessageNamesBothCodesInUpperCaseHexWithoutLeadingZeros) {
    EXPECT_EQ("OLE function call failed. HResult is $1. GetLastError is $57", OleErrorOf(S_FALSE, 0x57));
    EXPECT_EQ("OLE function call failed. HResult is $800401F0. GetLastError is $0",
              OleErrorOf(CO_E_NOTINITIALIZED, 0));
    EXPECT_EQ("OLE function call failed. HResult is $80004005. GetLastError is $ABC",
              OleErrorOf(E_FAIL, 0xABC));
}

// CreateShellLinkObject on a thread without OLE: fails with "not initialised".
bool LinkObjectAvailable() {
    try {
        CreateShellLinkObject();
        return true;
    } catch (const EShellOleError& e) {
        EXPECT_EQ(0u, e.Message().rfind("OLE function call failed. HResult is $800401F0. ", 0))
            << e.Message();
        return false;
    }
}

TEST(OleSession, NestedStartsAreBalanced) {
    ASSERT_FALSE(LinkObjectAvailable());
    {
        OleSession outer;
        EXPECT_EQ(S_OK, outer.StartResult());
        {
            OleSession inner;
            EXPECT_EQ(S_FALSE, inner.StartResult());
            EXPECT_TRUE(inner.Initialized());  // S_FALSE is a start that has to be balanced
        }
        EXPECT_TRUE(LinkObjectAvailable());  // the inner session took only its own start back
    }
    EXPECT_FALSE(LinkObjectAvailable());
}

TEST(OleSession, FailedStartIsNotUndone) {
    // A thread already in the multi-threaded apartment cannot start OLE; the session must then leave
    // the thread's own initialisation alone.
    ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    {
        OleSession session;
        EXPECT_FALSE(session.Initialized());
        EXPECT_EQ(RPC_E_CHANGED_MODE, session.StartResult());
    }
    EXPECT_TRUE(LinkObjectAvailable());
    ::CoUninitialize();
    EXPECT_FALSE(LinkObjectAvailable());
}

TEST(ShellUnit, StartupInitialisesOleAndShutdownEndsIt) {
    ASSERT_FALSE(LinkObjectAvailable());
    ShellUnitStartup();
    EXPECT_TRUE(LinkObjectAvailable());
    ShellUnitShutdown();
    EXPECT_FALSE(LinkObjectAvailable());
    ShellUnitShutdown();  // a second shutdown must not take back someone else's start
    OleSession other;
    ShellUnitShutdown();
    EXPECT_TRUE(LinkObjectAvailable());
}

}  // namespace
