// The functions through which the C++ library's templates (containers, strings, std::function)
// report a misuse: an index out of range, a length beyond the largest, an invalid argument. The
// runtime's own raise std::out_of_range and its kin, whose message strings bring the runtime's
// reference-counted string, its explicit string instantiations and its printf-like formatting with
// them (about 50 KB of code). These raise one exception class of their own, derived from
// std::exception, with the same message text: nothing in the programs catches those errors by
// their standard type, only as std::exception. The errors that carry no text keep their standard
// types. Linked into the setup and the uninstaller, as an object of its own, so
// that the runtime's are never pulled in (cmake: tandrel_light_runtime); tests/framework/light_runtime
// tests it.
#include <cstdarg>
#include <exception>
#include <new>
#include <string>
#include <typeinfo>

#include "framework/sysutils.h"

namespace {

class LibraryError : public std::exception {
  public:
    explicit LibraryError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    std::string message_;
};

}  // namespace

// A report without a text raises its standard type; one with a text raises LibraryError.
#define TANDREL_REPORT_OF_TYPE(report, type) \
    void report() {                          \
        throw type();                        \
    }
#define TANDREL_REPORT_WITH_TEXT(report) \
    void report(const char* message) {   \
        throw LibraryError(message);     \
    }

namespace std {

TANDREL_REPORT_OF_TYPE(__throw_bad_exception, bad_exception)
TANDREL_REPORT_OF_TYPE(__throw_bad_alloc, bad_alloc)
TANDREL_REPORT_OF_TYPE(__throw_bad_array_new_length, bad_array_new_length)
TANDREL_REPORT_OF_TYPE(__throw_bad_cast, bad_cast)
TANDREL_REPORT_OF_TYPE(__throw_bad_typeid, bad_typeid)
TANDREL_REPORT_WITH_TEXT(__throw_logic_error)
TANDREL_REPORT_WITH_TEXT(__throw_domain_error)
TANDREL_REPORT_WITH_TEXT(__throw_invalid_argument)
TANDREL_REPORT_WITH_TEXT(__throw_length_error)
TANDREL_REPORT_WITH_TEXT(__throw_out_of_range)
TANDREL_REPORT_WITH_TEXT(__throw_runtime_error)
TANDREL_REPORT_WITH_TEXT(__throw_range_error)
TANDREL_REPORT_WITH_TEXT(__throw_overflow_error)
TANDREL_REPORT_WITH_TEXT(__throw_underflow_error)

// format holds only %s, %zu and %%, which Format writes as the C runtime does.
void __throw_out_of_range_fmt(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string message = FormatList(format, args);
    va_end(args);
    throw LibraryError(std::move(message));
}

}  // namespace std
