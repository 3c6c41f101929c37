// The handler that std::terminate calls in a program that sets none. The runtime's own writes the
// type of the exception in flight, demangled, to the standard error, which a windowed program does
// not have, and brings the demangler (about 45 KB of code) into every program. This one only ends
// the program, as the runtime's does after its message. Linked into each program we ship
// (tandrel_program_resources), as an object of its own, so that the runtime's is never pulled in.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

}  // namespace __gnu_cxx
