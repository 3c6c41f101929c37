#include "shell/ole.h"

#include <ole2.h>

#include <cstdint>
#include <optional>

#include "framework/sysutils.h"

namespace {

constexpr char kOleCallFailed[] = "OLE function call failed. HResult is $%X. GetLastError is $%X";

// The unit's OLE session, alive from ShellUnitStartup to ShellUnitShutdown.
std::optional<OleSession>& UnitSession() {
    static std::optional<OleSession> session;
    return session;
}

}  // namespace

void CheckOleResult(HRESULT result) {
    const DWORD lastError = ::GetLastError();
    if (result != S_OK) {
        throw EShellOleError(Format(kOleCallFailed, static_cast<unsigned>(static_cast<uint32_t>(result)),
                                    static_cast<unsigned>(lastError)));
    }
}

OleSession::OleSession() noexcept : startResult_(::OleInitialize(nullptr)) {}

OleSession::~OleSession() {
    if (Initialized()) {
        ::OleUninitialize();
    }
}

void ShellUnitStartup() noexcept {
    auto& session = UnitSession();
    if (!session) {
        session.emplace();
    }
}

void ShellUnitShutdown() noexcept {
    UnitSession().reset();
}
