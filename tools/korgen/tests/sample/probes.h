// Probes of the properties of the sample type smp.AllKinds: one per
// property, each able to put one of two distinct values ("variants" 0 and 1)
// into its property through the class's public members and accessors, to
// recognise them there, and to move them through the property functions of
// the type's descriptor with the slot type of its kind. The tests walk the
// list, so every property kind goes through every check.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kortypes/kortypes.h"

namespace sample {

using Basekit::Ref;

enum class Kind {
  kValue,           // required bool, number, enum, date-time, binary, string kind
  kString,          // required std::string
  kOptionalValue,   // Basekit::Optional<V>
  kOptionalString,  // Movel::OptionalString, null when unset
  kObject,          // data object, fault, reference or any value
  kArray,           // DataArray<T> or Array<T>
};

const Movel::DataTypeInfo* AllKindsRecord();

class Probe {
 public:
  Probe(int index, std::string name, Kind kind, bool optional, std::string changedSuffix)
      : index_(index),
        name_(std::move(name)),
        kind_(kind),
        optional_(optional),
        changedSuffix_(std::move(changedSuffix)) {}
  virtual ~Probe() = default;

  int Index() const { return index_; }
  const std::string& Name() const { return name_; }
  Kind GetKind() const { return kind_; }
  bool IsOptional() const { return optional_; }
  bool IsObjectOrArray() const { return kind_ == Kind::kObject || kind_ == Kind::kArray; }
  // What a diff appends to the property's own path when the property goes
  // from variant 0 to variant 1: "" when the property is reported itself,
  // ".key" for a nested leaf, "[1].key" for an element of an array of objects.
  const std::string& ChangedSuffix() const { return changedSuffix_; }

  // Public API: members, Set/Peek/Get accessors.
  virtual void Assign(Smp::AllKinds& o, int variant) const = 0;
  virtual bool Holds(const Smp::AllKinds& o, int variant) const = 0;
  // Empties the property (null object, null array, unset optional); a no-op
  // for required values, which cannot be empty.
  virtual void Clear(Smp::AllKinds& o) const = 0;
  virtual bool IsClear(const Smp::AllKinds& o) const = 0;
  // The address the property's value lives at, as propPeek should give it,
  // or null when the property has no value.
  virtual const void* Address(const Smp::AllKinds& o) const = 0;

  // Property functions, with the slot type of the property's kind.
  virtual void SlotSet(Smp::AllKinds& o, int variant) const = 0;
  // propGet into a fresh slot; true when the slot then holds variant.
  virtual bool SlotGetGives(Smp::AllKinds& o, int variant) const = 0;
  // With the property at variant 0: propSwap with a slot holding variant 1.
  // True when the object then holds variant 1 and the slot variant 0.
  virtual bool SlotSwapExchanges(Smp::AllKinds& o) const = 0;

 private:
  int index_;
  std::string name_;
  Kind kind_;
  bool optional_;
  std::string changedSuffix_;
};

// Probes of object kinds and arrays also expose the held object and a value
// of a class the property must refuse.
class ObjectProbe : public Probe {
 public:
  using Probe::Probe;
  virtual const Movel::Any* Held(const Smp::AllKinds& o) const = 0;
  virtual Ref<Movel::Any> Make(int variant) const = 0;
  // A value of a class the property does not accept, or null when the
  // property takes any value.
  virtual Ref<Movel::Any> Wrong() const = 0;
  // Whether a copy of the object must hold its own copy of this value
  // (false for values that copies may share, such as boxes).
  virtual bool CopiedDeeply() const = 0;
};

// Every property of smp.AllKinds, in descriptor order.
const std::vector<std::unique_ptr<Probe>>& AllKindsProbes();

// A smp.AllKinds with every property at the given variant.
Ref<Smp::AllKinds> Filled(int variant);

Ref<Smp::AllKinds> CloneOf(const Smp::AllKinds& o);

std::vector<std::string> Paths(const Movel::PropertyDiffSet& set);
std::vector<std::string> DiffPaths(const Movel::Any& a, const Movel::Any& b,
                                   const std::string& prefix);

Ref<Smp::Base> MakeBase(const std::string& key);

}  // namespace sample
