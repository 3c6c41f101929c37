// Exception classes of the application framework. Every failure in the program is one of these:
// an Exception carries a finished message; the named classes let callers and tests tell them apart.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

class Exception : public std::exception {
  public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    std::string message_;
};

// Declares a class that derives from Base and only carries its message.
#define TANDREL_DECLARE_EXCEPTION(Name, Base) \
    class Name : public Base {                \
      public:                                 \
        using Base::Base;                     \
    }

// An operating-system I/O failure; ErrorCode is the system's error number.
class EInOutError : public Exception {
  public:
    EInOutError(std::string message, uint32_t errorCode)
        : Exception(std::move(message)), errorCode_(errorCode) {}
    uint32_t ErrorCode() const noexcept { return errorCode_; }

  private:
    uint32_t errorCode_;
};

TANDREL_DECLARE_EXCEPTION(EConvertError, Exception);
TANDREL_DECLARE_EXCEPTION(ERegistryException, Exception);
TANDREL_DECLARE_EXCEPTION(EInvalidOperation, Exception);
TANDREL_DECLARE_EXCEPTION(EOutOfMemory, Exception);
TANDREL_DECLARE_EXCEPTION(EResNotFound, Exception);
TANDREL_DECLARE_EXCEPTION(EStreamError, Exception);
TANDREL_DECLARE_EXCEPTION(EReadError, EStreamError);
TANDREL_DECLARE_EXCEPTION(EWriteError, EStreamError);
TANDREL_DECLARE_EXCEPTION(EFCreateError, EStreamError);
TANDREL_DECLARE_EXCEPTION(EFOpenError, EStreamError);

// The framework's own message texts.
namespace msg {
inline constexpr const char kReadError[] = "Stream read error";
inline constexpr const char kWriteError[] = "Stream write error";
inline constexpr const char kCreateError[] = "Cannot create file %s";
inline constexpr const char kOpenError[] = "Cannot open file %s";
inline constexpr const char kResNotFound[] = "Resource %s not found";
inline constexpr const char kOutOfMemory[] = "Out of memory";
inline constexpr const char kInvalidInteger[] = "'%s' is not a valid integer value";
inline constexpr const char kInvalidRegType[] = "Invalid data type for '%s'";
inline constexpr const char kOutOfRange[] = "Value must be between %d and %d";
inline constexpr const char kInvalidPropertyValue[] = "Invalid property value";
}  // namespace msg
