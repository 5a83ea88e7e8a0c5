// Exceptions of the core library.
#pragma once

#include <exception>
#include <string>
#include <typeinfo>
#include <vector>

#include "basekit/export.h"

namespace Basekit {

// Root of every exception thrown by the core library, the runtime and the
// generated bindings. Records the throw site's backtrace at construction.
class BASEKIT_API Throwable : public std::exception {
 public:
  explicit Throwable(std::string message);
  Throwable(const Throwable&);
  Throwable& operator=(const Throwable&);
  ~Throwable() override;

  const char* what() const noexcept override;
  const std::string& GetMessage() const noexcept { return message_; }
  // Return addresses captured where the exception was constructed.
  const std::vector<void*>& GetBacktrace() const noexcept { return backtrace_; }
  // The innermost named function of the backtrace, or "" when unknown.
  std::string Where() const;
  // Message and symbolised backtrace, one frame a line.
  std::string Dump() const;

 private:
  std::string message_;
  std::vector<void*> backtrace_;
};

// The ordinary exception class. Asynchronous calls report failures through a
// pointer to one of these.
class BASEKIT_API Exception : public Throwable {
 public:
  using Throwable::Throwable;
  Exception(const Exception&);
  ~Exception() override;
  // A heap copy of the most derived exception, for carrying it across threads.
  virtual Exception* Clone() const;
  // Throws a copy of the most derived exception.
  [[noreturn]] virtual void Rethrow() const;
};

// A value's dynamic class is not the class its context requires.
class BASEKIT_API TypeMismatchException : public Exception {
 public:
  TypeMismatchException(const std::type_info& expected, const std::type_info& actual);
  TypeMismatchException(const TypeMismatchException&);
  ~TypeMismatchException() override;
  Exception* Clone() const override;
  [[noreturn]] void Rethrow() const override;
  // Demangled class names.
  const std::string& GetExpected() const noexcept { return expected_; }
  const std::string& GetActual() const noexcept { return actual_; }
  // The classes themselves, for comparing against typeid(...).
  const std::type_info& GetExpectedType() const noexcept { return *expectedType_; }
  const std::type_info& GetActualType() const noexcept { return *actualType_; }

 private:
  std::string expected_;
  std::string actual_;
  const std::type_info* expectedType_;
  const std::type_info* actualType_;
};

// The failure branch of every guarded narrowing: throws TypeMismatchException
// naming the required class first and the value's dynamic class second.
[[noreturn]] BASEKIT_API void ThrowTypeMismatchException(const std::type_info& expected,
                                                         const std::type_info& actual);

// Fatal assertion: reports the expression and place on stderr and aborts.
[[noreturn]] BASEKIT_API void PanicVerify(const char* expression, const char* file, int line);

}  // namespace Basekit

#define BASEKIT_VERIFY(expr) \
  ((expr) ? static_cast<void>(0) : ::Basekit::PanicVerify(#expr, __FILE__, __LINE__))
