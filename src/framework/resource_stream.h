// A read-only stream over a resource of a loaded module, read in place from the module's memory.
//
// The resource is found by name and type with FindResourceA, which matches names without regard
// to case ("data" finds "DATA") and takes "#123" for a numbered resource. A missing resource raises
// EResNotFound "Resource <name> not found". The module must stay loaded while the stream is read:
// the stream can own it (the module is then freed with the stream, or at once when the resource is
// missing).
#pragma once

#include <windows.h>

#include <string>

#include "framework/stream.h"
#include "framework/unique_handle.h"

class TResourceStream : public TCustomMemoryStream {
  public:
    // A resource of a module that outlives the stream (the program's own, say).
    TResourceStream(HMODULE instance, const std::string& resName, const char* resType);
    // A resource of a library that the stream keeps loaded for as long as it lives.
    TResourceStream(UniqueModule library, const std::string& resName, const char* resType);

  private:
    UniqueModule library_;
};
