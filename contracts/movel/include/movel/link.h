// Links between the objects of one data object tree.
//
// Some lists of a data object tree hold objects that others refer to by key:
// a property flagged linkable (kFlagLinkable) is a list of data objects, each
// carrying its key in its "key" property; a property flagged link (kFlagLink)
// holds the key, or a list of keys, of such objects, and its descriptor names
// the data type of the target. A host's network state, for instance, lists its
// port groups once, and each virtual switch names its port groups by key.
//
// A LinkResolver is built from the root of one tree: it walks the tree through
// the data classes' layouts, so it knows every type without code of its own
// for any, and indexes every linkable object by key. It then turns keys back
// into the objects, one pointer per key. Problems (two objects with one key,
// an object of the wrong type behind a key) go to a LinkErrorHandler; the
// PanicLinkErrorHandler stops the caller's work by throwing LinkError.
//
// The resolver holds no references: the objects it yields live as long as the
// tree does, and the tree must not change while the resolver is in use.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "basekit/object.h"
#include "basekit/ref.h"
#include "basekit/throwable.h"
#include "movel/array.h"
#include "movel/export.h"

namespace Movel {

class Any;
class DataObject;
class Property;
class Type;

// A link that cannot be followed. Names the key, the type the link expected
// and what was found instead (empty when nothing was found).
class MOVEL_API LinkError : public Basekit::Exception {
 public:
  LinkError(std::string message, std::string key, std::string expected, std::string actual);
  LinkError(const LinkError&);
  ~LinkError() override;
  Basekit::Exception* Clone() const override;
  [[noreturn]] void Rethrow() const override;

  const std::string& GetKey() const noexcept { return key_; }
  // Wire name of the type the link refers to.
  const std::string& GetExpectedType() const noexcept { return expected_; }
  // Wire name of the object's type; empty for a duplicate key.
  const std::string& GetActualType() const noexcept { return actual_; }

 private:
  std::string key_;
  std::string expected_;
  std::string actual_;
};

// Told of what goes wrong while links are indexed and followed.
class MOVEL_API LinkErrorHandler {
 public:
  virtual ~LinkErrorHandler();
  // The object behind key (entry index of the keys being resolved) is not of
  // the expected type.
  virtual void OnTypeMismatch(const std::string& key, int index, const Type* expected,
                              const Any* actual) = 0;
  // Two linkable objects of the tree carry the same key; the first one found
  // keeps it.
  virtual void OnDuplicateKey(const std::string& key, const Any* first, const Any* second) = 0;
};

// Throws LinkError for every problem: work that meets a bad link stops there,
// with an exception the caller can catch (the process goes on).
class MOVEL_API PanicLinkErrorHandler : public LinkErrorHandler {
 public:
  [[noreturn]] void OnTypeMismatch(const std::string& key, int index, const Type* expected,
                                   const Any* actual) override;
  [[noreturn]] void OnDuplicateKey(const std::string& key, const Any* first,
                                   const Any* second) override;
};

// Keys to objects, within the tree the resolver was made from.
class MOVEL_API LinkResolver : public Basekit::ObjectImpl {
 public:
  // The linkable object with this key, or null when the tree has none.
  Any* Resolve(const std::string& key) const;
  // One pointer per key, in key order, null for an unknown key. out is
  // replaced.
  void Resolve(const Array<std::string>& keys, std::vector<Any*>& out) const;
  // Tells the handler that the object behind keys entry index is not of type
  // expected.
  void ReportTypeMismatch(const std::string& key, int index, const Type* expected,
                          const Any* actual) const;
  // The targets of a link property of holder (a data object of the tree),
  // by its name: one pointer per key in key order, null for an unset link or
  // an unknown key. Each target is checked against the link's declared type;
  // a target of another type is reported and yields null. A name that is not
  // a link property of holder's type throws Basekit::Exception.
  void ResolveLink(const DataObject* holder, const std::string& name, std::vector<Any*>& out) const;
  // How many linkable objects the tree holds.
  std::size_t GetLinkableCount() const noexcept { return byKey_.size(); }
  LinkErrorHandler& GetHandler() const noexcept { return *handler_; }

 protected:
  ~LinkResolver() override;

 private:
  friend void CreateLinkResolver(const DataObject* root, LinkErrorHandler& handler,
                                           Basekit::Ref<LinkResolver>& out);
  explicit LinkResolver(LinkErrorHandler& handler) : handler_(&handler) {}
  void Index(const DataObject* root);

  LinkErrorHandler* handler_;
  std::unordered_map<std::string, Any*> byKey_;
};

// Indexes every linkable object below root (root included) by key and stores
// the new resolver into out. The handler must outlive the resolver. A null
// root gives a resolver that knows no key.
MOVEL_API void CreateLinkResolver(const DataObject* root, LinkErrorHandler& handler,
                                  Basekit::Ref<LinkResolver>& out);

}  // namespace Movel
