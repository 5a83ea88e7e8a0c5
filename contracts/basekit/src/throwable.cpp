// Exceptions with the backtrace of the place that raised them.

#include "basekit/throwable.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <typeinfo>
#include <utility>

#include "basekit/object.h"

namespace Basekit {
namespace {

constexpr int kMaxFrames = 32;

struct FrameSymbol {
  std::string function;       // demangled when possible; empty when unknown
  std::string module;         // file name of the containing binary, without directories
  std::uintptr_t offset = 0;  // from the function when known, else from the module base
};

// Symbolises a return address. The address is moved back by one byte first:
// a call that never returns may be the last instruction of its function, and
// its return address then already belongs to the next function.
FrameSymbol Symbolize(void* returnAddress) {
  FrameSymbol frame;
  const auto address = reinterpret_cast<std::uintptr_t>(returnAddress);
  const auto lookup = reinterpret_cast<void*>(address == 0 ? address : address - 1);
  Dl_info info;
  std::memset(&info, 0, sizeof info);
  if (dladdr(lookup, &info) == 0) return frame;
  if (info.dli_fname != nullptr) {
    const char* slash = std::strrchr(info.dli_fname, '/');
    frame.module = slash != nullptr ? slash + 1 : info.dli_fname;
  }
  if (info.dli_sname != nullptr && info.dli_saddr != nullptr) {
    frame.function = DemangleTypeName(info.dli_sname);
    frame.offset = address - reinterpret_cast<std::uintptr_t>(info.dli_saddr);
  } else if (info.dli_fbase != nullptr) {
    frame.offset = address - reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  }
  return frame;
}

// Adds the names of `type` and of all its base classes to `names`.
void CollectClassNames(const std::type_info& type, std::vector<std::string>& names) {
  names.push_back(DemangleTypeName(type.name()));
  if (const auto* single = dynamic_cast<const abi::__si_class_type_info*>(&type)) {
    CollectClassNames(*single->__base_type, names);
  } else if (const auto* multiple = dynamic_cast<const abi::__vmi_class_type_info*>(&type)) {
    for (unsigned i = 0; i < multiple->__base_count; ++i) {
      CollectClassNames(*multiple->__base_info[i].__base_type, names);
    }
  }
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Throwable

Throwable::Throwable(std::string message) : message_(std::move(message)) {
  void* frames[kMaxFrames];
  const int count = backtrace(frames, kMaxFrames);
  // Frames before this constructor's own belong to the capture itself (a
  // sanitizer's wrapper of backtrace(), for instance); the constructor's frame
  // is the one just inside the return address into our caller.
  int first = 0;
  void* const intoCaller = __builtin_return_address(0);
  for (int i = 1; i < count; ++i) {
    if (frames[i] == intoCaller) {
      first = i - 1;
      break;
    }
  }
  if (count > first) backtrace_.assign(frames + first, frames + count);
}

Throwable::Throwable(const Throwable& other)
    : std::exception(other), message_(other.message_), backtrace_(other.backtrace_) {}

Throwable& Throwable::operator=(const Throwable& other) {
  std::exception::operator=(other);
  message_ = other.message_;
  backtrace_ = other.backtrace_;
  return *this;
}

Throwable::~Throwable() = default;

const char* Throwable::what() const noexcept { return message_.c_str(); }

// The innermost frames are the constructors of the exception (its own class
// and every base up to Throwable, wherever they are defined) and, for type
// mismatches, the helper that raises them. They say nothing about where the
// failure happened, so they are passed over, as are frames without a symbol
// (functions that are not exported from their binary).
std::string Throwable::Where() const {
  std::vector<std::string> ownClasses;
  CollectClassNames(typeid(*this), ownClasses);
  for (std::string& name : ownClasses) name += "::";
  static const std::string kRaiseHelper = "Basekit::ThrowTypeMismatchException(";

  for (void* address : backtrace_) {
    const FrameSymbol frame = Symbolize(address);
    if (frame.function.empty()) continue;
    bool machinery = StartsWith(frame.function, kRaiseHelper);
    for (const std::string& prefix : ownClasses) {
      if (machinery) break;
      machinery = StartsWith(frame.function, prefix);
    }
    if (!machinery) return frame.function;
  }
  return std::string();
}

std::string Throwable::Dump() const {
  std::string out = message_;
  out += '\n';
  char line[64];
  for (std::size_t i = 0; i < backtrace_.size(); ++i) {
    const FrameSymbol frame = Symbolize(backtrace_[i]);
    std::snprintf(line, sizeof line, "  #%zu 0x%llx ", i,
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(backtrace_[i])));
    out += line;
    std::snprintf(line, sizeof line, "0x%llx", static_cast<unsigned long long>(frame.offset));
    if (!frame.function.empty()) {
      out += frame.function;
      out += " + ";
      out += line;
      if (!frame.module.empty()) out += " (" + frame.module + ")";
    } else if (!frame.module.empty()) {
      out += "?? (" + frame.module + " + " + line + ")";
    } else {
      out += "??";
    }
    out += '\n';
  }
  return out;
}

// ---------------------------------------------------------------------------
// Exception

Exception::Exception(const Exception& other) : Throwable(other) {}

Exception::~Exception() = default;

Exception* Exception::Clone() const { return new Exception(*this); }

void Exception::Rethrow() const { throw *this; }

// ---------------------------------------------------------------------------
// TypeMismatchException

TypeMismatchException::TypeMismatchException(const std::type_info& expected,
                                             const std::type_info& actual)
    : Exception("type mismatch: expected " + DemangleTypeName(expected.name()) + ", got " +
                DemangleTypeName(actual.name())),
      expected_(DemangleTypeName(expected.name())),
      actual_(DemangleTypeName(actual.name())),
      expectedType_(&expected),
      actualType_(&actual) {}

TypeMismatchException::TypeMismatchException(const TypeMismatchException& other)
    : Exception(other),
      expected_(other.expected_),
      actual_(other.actual_),
      expectedType_(other.expectedType_),
      actualType_(other.actualType_) {}

TypeMismatchException::~TypeMismatchException() = default;

Exception* TypeMismatchException::Clone() const { return new TypeMismatchException(*this); }

void TypeMismatchException::Rethrow() const { throw *this; }

// ---------------------------------------------------------------------------
// Failure helpers

void ThrowTypeMismatchException(const std::type_info& expected, const std::type_info& actual) {
  throw TypeMismatchException(expected, actual);
}

void PanicVerify(const char* expression, const char* file, int line) {
  std::fprintf(stderr, "fatal: verify failed: %s at %s:%d\n",
               expression != nullptr ? expression : "?", file != nullptr ? file : "?", line);
  std::fflush(stderr);
  std::abort();
}

}  // namespace Basekit
