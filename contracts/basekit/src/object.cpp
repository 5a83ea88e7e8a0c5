// Reference counting for Basekit::Object.

#include "basekit/object.h"

#include <cxxabi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <typeinfo>

#include "basekit/throwable.h"

namespace Basekit {

Object::~Object() = default;

ObjectImpl::ObjectImpl() noexcept : refCount_(0) {}

// The copy is a new object: whoever holds the original does not hold it.
ObjectImpl::ObjectImpl(const ObjectImpl& other) noexcept : Object(other), refCount_(0) {}

ObjectImpl::~ObjectImpl() = default;

void ObjectImpl::IncRef() const {
  // Taking a reference needs no ordering: the caller already reaches the
  // object through a reference it holds (or through its creator).
  if (refCount_.fetch_add(1, std::memory_order_relaxed) == 0) {
    FirstIncRef();
  }
}

void ObjectImpl::DecRef() const {
  // Release publishes this thread's writes to whichever thread drops the last
  // reference; acquire on that final decrement makes them visible to the
  // destructor.
  const int previous = refCount_.fetch_sub(1, std::memory_order_acq_rel);
  if (previous <= 0) {
    PanicVerify("DecRef on an object that holds no reference", __FILE__, __LINE__);
  }
  if (previous == 1) {
    FinalDecRef();
  }
}

int ObjectImpl::GetRefCount() const { return refCount_.load(std::memory_order_relaxed); }

std::string ObjectImpl::ToString() const {
  // The address of the complete object, which is what a debugger shows for
  // the value, rather than that of the ObjectImpl subobject.
  const void* whole = dynamic_cast<const void*>(this);
  char address[2 + 2 * sizeof(std::uintptr_t) + 1];
  std::snprintf(address, sizeof address, "0x%llx",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(whole)));
  return DemangleTypeName(typeid(*this).name()) + "@" + address;
}

void ObjectImpl::FirstIncRef() const {}

void ObjectImpl::FinalDecRef() const { delete this; }

std::string DemangleTypeName(const char* mangled) {
  if (mangled == nullptr) return std::string();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  if (status != 0 || demangled == nullptr) {
    std::free(demangled);
    return mangled;
  }
  std::string result(demangled);
  std::free(demangled);
  return result;
}

}  // namespace Basekit
