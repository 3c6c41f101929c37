// The C++ library's reports of a misuse as the setup and the uninstaller raise them
// (src/framework/library_errors.cpp, linked into this program as into them): the same message
// text as the runtime's, catchable as std::exception, and the standard types kept where the
// report carries no text.
#include <gtest/gtest.h>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

// The message of what body raises, which must be a std::exception of none of the standard
// library's error types that carry a text (those would mean that the runtime's reports were linked).
template <typename Body>
std::string MessageOf(Body body) {
    try {
        body();
    } catch (const std::logic_error& error) {
        ADD_FAILURE() << "the runtime's own report: " << error.what();
    } catch (const std::runtime_error& error) {
        ADD_FAILURE() << "the runtime's own report: " << error.what();
    } catch (const std::exception& error) {
        return error.what();
    }
    ADD_FAILURE() << "nothing raised";
    return {};
}

TEST(LibraryErrors, ContainersAndStringsReportTheirMisuseInTheRuntimesWords) {
    std::vector<int> numbers(3);
    EXPECT_EQ(MessageOf([&] { static_cast<void>(numbers.at(5)); }),
              "vector::_M_range_check: __n (which is 5) >= this->size() (which is 3)");
    EXPECT_EQ(MessageOf([&] { numbers.reserve(numbers.max_size() + 1); }), "vector::reserve");
    std::string text = "tandrel";
    EXPECT_EQ(MessageOf([&] { static_cast<void>(text.at(7)); }),
              "basic_string::at: __n (which is 7) >= this->size() (which is 7)");
    EXPECT_EQ(MessageOf([&] { static_cast<void>(text.substr(8)); }),
              "basic_string::substr: __pos (which is 8) > this->size() (which is 7)");
    EXPECT_EQ(MessageOf([&] { text.reserve(text.max_size() + 1); }), "basic_string::_M_create");
}

TEST(LibraryErrors, EveryReportWithATextCarriesItAndTheOthersKeepTheirTypes) {
    using Report = void (*)(const char*);
    for (const Report report :
         {std::__throw_logic_error, std::__throw_domain_error, std::__throw_invalid_argument,
          std::__throw_length_error, std::__throw_out_of_range, std::__throw_runtime_error,
          std::__throw_range_error, std::__throw_overflow_error, std::__throw_underflow_error}) {
        EXPECT_EQ(MessageOf([&] { report("what went wrong"); }), "what went wrong");
    }
    EXPECT_EQ(MessageOf([] {
                  std::__throw_out_of_range_fmt("%s: %zu of %zu, 100%%", "taken", size_t{3}, size_t{18});
              }),
              "taken: 3 of 18, 100%");
    EXPECT_THROW(std::__throw_bad_alloc(), std::bad_alloc);
    EXPECT_THROW(std::__throw_bad_array_new_length(), std::bad_array_new_length);
    EXPECT_THROW(std::__throw_bad_cast(), std::bad_cast);
    EXPECT_THROW(std::__throw_bad_typeid(), std::bad_typeid);
    EXPECT_THROW(std::__throw_bad_exception(), std::bad_exception);
}

}  // namespace
