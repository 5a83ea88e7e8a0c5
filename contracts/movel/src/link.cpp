// Link resolution over a data object tree, driven by the data classes'
// layouts and property descriptors.
#include "movel/link.h"

#include <unordered_set>
#include <utility>

#include "movel/builtin.h"
#include "movel/data_object.h"
#include "movel/fields.h"
#include "movel/type.h"

namespace Movel {
namespace {

std::string TypeNameOf(const Type* type) { return type ? type->GetName() : std::string("?"); }
std::string TypeNameOf(const Any* value) {
  return value ? TypeNameOf(value->_GetType()) : std::string("nothing");
}

// The value as a data object when it is one (a member typed as any value
// may hold one); null otherwise.
const DataObject* AsDataObject(const Any* value, bool declaredData) {
  if (!value) return nullptr;
  if (declaredData) return static_cast<const DataObject*>(value);
  const Type* type = value->_GetType();
  return type && type->IsDataObject() && !type->IsArray() ? static_cast<const DataObject*>(value)
                                                          : nullptr;
}

const Any* HeldObject(const DataObject* o, const FieldInfo& f) {
  return *reinterpret_cast<Any* const*>(reinterpret_cast<const char*>(o) + f.offset);
}
const Any* HeldArray(const DataObject* o, const FieldInfo& f) {
  return reinterpret_cast<const std::atomic<Any*>*>(reinterpret_cast<const char*>(o) + f.offset)
      ->load(std::memory_order_acquire);
}

// The property functions of the level that declares p.
const DataTypeInfo* RecordOf(const Property& p) {
  return static_cast<const DataObjectType*>(p.GetOwner())->GetRecord();
}

// The "key" string property of a data type, looked up once per type.
class KeyProperties {
 public:
  const Property* Of(const DataObjectType* type) {
    auto it = cache_.find(type);
    if (it != cache_.end()) return it->second;
    const Property* key = type->FindProperty("key");
    if (key && (key->IsArray() || key->GetTypeInfo() != &gStringTypeInfo)) key = nullptr;
    cache_.emplace(type, key);
    return key;
  }

 private:
  std::unordered_map<const DataObjectType*, const Property*> cache_;
};

}  // namespace

// ---- LinkError ----

LinkError::LinkError(std::string message, std::string key, std::string expected, std::string actual)
    : Basekit::Exception(std::move(message)),
      key_(std::move(key)),
      expected_(std::move(expected)),
      actual_(std::move(actual)) {}
LinkError::LinkError(const LinkError&) = default;
LinkError::~LinkError() = default;
Basekit::Exception* LinkError::Clone() const { return new LinkError(*this); }
void LinkError::Rethrow() const { throw LinkError(*this); }

// ---- handlers ----

LinkErrorHandler::~LinkErrorHandler() = default;

void PanicLinkErrorHandler::OnTypeMismatch(const std::string& key, int index, const Type* expected,
                                           const Any* actual) {
  const std::string want = TypeNameOf(expected);
  const std::string got = TypeNameOf(actual);
  throw LinkError("link \"" + key + "\" (entry " + std::to_string(index) + ") names a " + got +
                      " where a " + want + " is expected",
                  key, want, got);
}

void PanicLinkErrorHandler::OnDuplicateKey(const std::string& key, const Any* first,
                                           const Any* second) {
  throw LinkError("key \"" + key + "\" is carried by two linkable objects (a " + TypeNameOf(first) +
                      " and a " + TypeNameOf(second) + ")",
                  key, TypeNameOf(first), std::string());
}

// ---- LinkResolver ----

LinkResolver::~LinkResolver() = default;

void LinkResolver::Index(const DataObject* root) {
  KeyProperties keys;
  std::vector<const DataObject*> pending;
  std::unordered_set<const DataObject*> seen;
  auto visit = [&](const DataObject* o) {
    if (o && seen.insert(o).second) pending.push_back(o);
  };
  auto enter = [&](const DataObject* o) {
    const Property* key = keys.Of(o->_GetDataType());
    const auto* text = key ? static_cast<const std::string*>(RecordOf(*key)->propPeek(o, key->GetIndex()))
                           : nullptr;
    if (!text) return;  // nothing can link to it
    Any* self = const_cast<DataObject*>(o);
    auto [at, fresh] = byKey_.emplace(*text, self);
    if (!fresh && at->second != self) handler_->OnDuplicateKey(*text, at->second, self);
  };

  visit(root);
  while (!pending.empty()) {
    const DataObject* o = pending.back();
    pending.pop_back();
    const DataObjectType* type = o->_GetDataType();
    for (const DataLayout* layout = type ? type->GetLayout() : nullptr; layout; layout = layout->parent) {
      for (std::uint32_t i = 0; i < layout->count; ++i) {
        const FieldInfo& f = layout->fields[i];
        if (f.kind == FieldKind::kObject) {
          visit(AsDataObject(HeldObject(o, f), f.dataObjects));
          continue;
        }
        if (f.kind != FieldKind::kArray) continue;
        const auto* items = dynamic_cast<const DataArrayBase*>(HeldArray(o, f));
        if (!items) continue;  // absent, or an array of values
        const bool linkable = (layout->properties[i].flags & kFlagLinkable) != 0;
        for (const Any* item : items->GetItems()) {
          const DataObject* element = AsDataObject(item, f.dataObjects);
          if (!element) continue;
          if (linkable) enter(element);
          visit(element);
        }
      }
    }
  }
}

Any* LinkResolver::Resolve(const std::string& key) const {
  auto it = byKey_.find(key);
  return it == byKey_.end() ? nullptr : it->second;
}

void LinkResolver::Resolve(const Array<std::string>& keys, std::vector<Any*>& out) const {
  out.clear();
  out.reserve(keys.GetValues().size());
  for (const std::string& key : keys) out.push_back(Resolve(key));
}

void LinkResolver::ReportTypeMismatch(const std::string& key, int index, const Type* expected,
                                      const Any* actual) const {
  handler_->OnTypeMismatch(key, index, expected, actual);
}

void LinkResolver::ResolveLink(const DataObject* holder, const std::string& name,
                               std::vector<Any*>& out) const {
  out.clear();
  if (!holder) return;
  const DataObjectType* type = holder->_GetDataType();
  const Property* link = type ? type->FindProperty(name) : nullptr;
  if (!link || !link->IsLink()) {
    throw Basekit::Exception("\"" + name + "\" is not a link property of " + TypeNameOf(type));
  }
  const void* held = RecordOf(*link)->propPeek(holder, link->GetIndex());
  std::vector<std::string> single;
  const std::vector<std::string>* keys = &single;
  if (link->IsArray()) {
    if (held) keys = &static_cast<const Array<std::string>*>(static_cast<const Any*>(held))->GetValues();
  } else if (held) {
    single.push_back(*static_cast<const std::string*>(held));
  } else {
    out.push_back(nullptr);  // an unset single link
    return;
  }
  const Type* expected = link->GetType();
  const auto* target = dynamic_cast<const StructuredType*>(expected);
  out.reserve(keys->size());
  for (std::size_t i = 0; i < keys->size(); ++i) {
    Any* found = Resolve((*keys)[i]);
    if (found && target) {
      const auto* actual = dynamic_cast<const StructuredType*>(found->_GetType());
      if (!actual || !actual->IsA(target)) {
        ReportTypeMismatch((*keys)[i], static_cast<int>(i), expected, found);
        found = nullptr;
      }
    }
    out.push_back(found);
  }
}

void CreateLinkResolver(const DataObject* root, LinkErrorHandler& handler,
                        Basekit::Ref<LinkResolver>& out) {
  Basekit::Ref<LinkResolver> made(new LinkResolver(handler));
  made->Index(root);
  out = made;
}

}  // namespace Movel
