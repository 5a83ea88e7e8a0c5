// Runtime-internal hooks shared by the runtime's own sources.
#pragma once

#include <new>
#include <string>
#include <vector>

#include "movel/fields.h"
#include "movel/type.h"

// The members of a runtime data class Name (on Parent) that run from its
// layout: copy constructor, destructor, size, equality and diff.
#define MOVEL_DEFINE_LAYOUT_MEMBERS(Name, Parent)                                        \
  Name::Name(const Name& other) : Parent(other) { CopyFields(this, &other, _layout); }   \
  Name::~Name() { ReleaseFields(this, _layout); }                                        \
  unsigned Name::_GetSize(RoundFn r) const { return FieldsSize(this, _layout, r); }      \
  bool Name::_IsEqual(const Any* other, bool lenient) const {                            \
    return FieldsEqual(this, static_cast<const DataObject*>(other), _layout, lenient);   \
  }                                                                                      \
  void Name::_DiffProperties(const Any* other, const std::string& path,                  \
                             PropertyDiffSet& set) const {                               \
    DiffFields(this, static_cast<const DataObject*>(other), path, set, _layout);         \
  }

namespace Movel {
namespace detail {

// One T per thread, made on the thread's first Get and deleted when the
// thread exits. Only a pointer per thread is thread-local storage: the
// runtime's own stays a few words, so a process can load it after it has
// started (dlopen), which a large block of such storage would prevent.
// After the thread has begun to exit (destructors of other thread-locals
// still running), and when memory runs out, Get gives null and callers go
// without.
template <class T>
class PerThread {
 public:
  // The thread's T, made now when it has none yet.
  static T* Get() noexcept {
    T* held = tHeld;
    if (__builtin_expect(held == nullptr, 0)) {
      held = new (std::nothrow) T();
      if (!held) return nullptr;
      tHeld = held;
      tOwner.engaged = true;  // the first use registers the owner's destructor
    }
    return held == Gone() ? nullptr : held;
  }
  // The thread's T if it has one; never makes one.
  static T* Peek() noexcept {
    T* held = tHeld;
    return held == Gone() ? nullptr : held;
  }

 private:
  static T* Gone() noexcept { return reinterpret_cast<T*>(alignof(T)); }
  struct Owner {
    bool engaged = false;
    ~Owner() {
      T* held = tHeld;
      tHeld = Gone();
      if (held != Gone()) delete held;
    }
  };
  static inline __attribute__((tls_model("initial-exec"))) thread_local T* tHeld = nullptr;
  static inline thread_local Owner tOwner;
};

// The size of an array of references (see DataArrayBase::_GetSize); its
// elements are walked with their layouts when dataObjects says they are all
// data objects.
unsigned SizeOfItems(const DataArrayBase* array, bool dataObjects, RoundFn r);

// Enters a type in the registry. A second type with the same wire name, the
// same WSDL name within its kind family, or the same record is a fatal error:
// the generator guarantees uniqueness, so a clash means two libraries describe
// one type.
void RegisterType(Type* type);

// Text of values, shared by the debug dump and the message renderer
// (debug_string.cpp). `quote` puts texts in double quotes with escapes;
// without it texts are shown as they are, control characters turned into
// spaces, so the result stays on one line.
std::string Quote(const std::string& s);
std::string OneLine(const std::string& s);
// One value of the primitive kind named `kind` ("string", "int", ...) stored
// at p; false for a kind that is not primitive.
bool FormatPrimitive(const std::string& kind, const void* p, std::string& out, bool quote);
// The name of an enumeration value, or "<enum value N>" outside the values.
std::string EnumValueName(const EnumType* type, int value);
// A boxed primitive or enumeration value; false for anything else.
bool FormatBoxed(const Any* v, std::string& out, bool quote);
// The elements of an Array<T> of primitives or enumeration values; false
// for anything else.
bool FormatValueArray(const Any* v, std::vector<std::string>& items, bool quote);

}  // namespace detail
}  // namespace Movel
