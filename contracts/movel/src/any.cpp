// Reference counting and default behaviour of values.
#include "movel/any.h"

#include <cstdlib>

#include "movel/collection.h"
#include "movel/type.h"

namespace Movel {

namespace {

// Destroying a value releases what it holds, which may destroy those values
// in turn: a chain of a million objects would nest a million destructors.
// Past a modest nesting, a value whose last reference goes is set aside on a
// per-thread stack instead, and the outermost destruction deletes the ones
// set aside one after another, so the depth of the native stack stays
// bounded whatever the shape of the graph.
constexpr int kNestedDeletes = 64;

struct DeferredDeletes {
  int nesting;
  std::size_t size;
  std::size_t capacity;
  const Any** items;  // malloc'ed; freed whenever the stack drains
};
// Trivially destructible, so values released by static destructors still
// find it usable.
__attribute__((tls_model("initial-exec"))) thread_local DeferredDeletes tDeferred = {0, 0, 0, nullptr};

bool Defer(const Any* p) noexcept {
  DeferredDeletes& d = tDeferred;
  if (d.size == d.capacity) {
    const std::size_t grown = d.capacity ? d.capacity * 2 : 256;
    void* more = std::realloc(d.items, grown * sizeof(const Any*));
    if (!more) return false;  // no memory: delete in place, nesting deeper
    d.items = static_cast<const Any**>(more);
    d.capacity = grown;
  }
  d.items[d.size++] = p;
  return true;
}

void DestroyDeferring(const Any* p) noexcept {
  DeferredDeletes& d = tDeferred;
  if (d.nesting >= kNestedDeletes && Defer(p)) return;
  ++d.nesting;
  delete p;
  if (d.nesting == 1) {
    // The outermost destruction: empty the stack, which may grow meanwhile.
    while (d.size > 0) {
      const Any* next = d.items[--d.size];
      delete next;
    }
    std::free(d.items);
    d.items = nullptr;
    d.capacity = 0;
  }
  --d.nesting;
}

}  // namespace

void Any::Destroy(const Any* p) noexcept { DestroyDeferring(p); }

std::string Any::TypeNameOf(const Any* p) {
  const Type* type = p->_GetType();
  return type ? type->GetName() : Basekit::DemangleTypeName(typeid(*p).name());
}

Any::~Any() = default;

unsigned Any::_GetSize(RoundFn r) const { return r(static_cast<unsigned>(sizeof(Any))); }

// Values without members of their own are equal to any value of their class.
bool Any::_IsEqual(const Any* other, bool /*lenient*/) const {
  return other && typeid(*other) == typeid(*this);
}

void Any::_DiffProperties(const Any* other, const std::string& path, PropertyDiffSet& set) const {
  if (!_IsEqual(other, false)) set.Append(path);
}

Collection::~Collection() = default;

}  // namespace Movel
