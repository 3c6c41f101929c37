#include "framework/resource_stream.h"

#include "framework/exceptions.h"
#include "framework/sysutils.h"

TResourceStream::TResourceStream(HMODULE instance, const std::string& resName, const char* resType)
    : TCustomMemoryStream(nullptr, 0) {
    HRSRC info = ::FindResourceA(instance, resName.c_str(), resType);
    HGLOBAL global = info != nullptr ? ::LoadResource(instance, info) : nullptr;
    const void* data = global != nullptr ? ::LockResource(global) : nullptr;
    if (data == nullptr) {
        throw EResNotFound(Format(msg::kResNotFound, resName.c_str()));
    }
    // Resource memory belongs to the module and needs no release of its own.
    SetPointer(static_cast<const uint8_t*>(data), ::SizeofResource(instance, info));
}

TResourceStream::TResourceStream(UniqueModule library, const std::string& resName, const char* resType)
    : TResourceStream(library.get(), resName, resType) {
    library_ = std::move(library);
}
