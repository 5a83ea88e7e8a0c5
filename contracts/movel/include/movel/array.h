// Arrays: DataArray<T> holds counted references to data objects, managed
// object references or arbitrary values; Array<T> holds primitive,
// string-kind, date-time or enumeration values inline.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <stdexcept>
#include <iterator>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "basekit/throwable.h"
#include "movel/collection.h"
#include "movel/export.h"
#include "movel/primitive.h"
#include "movel/type.h"

namespace Movel {

class MoRef;

// The runtime type for managed object references ("tydef.ManagedObject").
MOVEL_API ManagedObjectType* GetManagedObjectRootType();

// The element type a DataArray<T> reports.
template <class T>
struct DataArrayElementType {
  static Type* Get() { return GetDoType<T>(); }
};
template <>
struct DataArrayElementType<Any> {
  static Type* Get() { return GetAnyType(); }
};
template <>
struct DataArrayElementType<MoRef> {
  static Type* Get() { return GetManagedObjectRootType(); }
};

namespace detail {
// Throws std::out_of_range naming the operation, the index and the size.
[[noreturn]] MOVEL_API void ThrowIndexOutOfRange(const char* operation, int index,
                                                 std::size_t size);
}  // namespace detail

// Narrows a value to T. Null passes; a value of another class throws
// Basekit::TypeMismatchException naming T and the value's class.
template <class T>
T* NarrowAny(Any* p) {
  if constexpr (std::is_same<T, Any>::value) {
    return p;
  } else {
    if (!p) return nullptr;
    T* t = dynamic_cast<T*>(p);
    if (!t) Basekit::ThrowTypeMismatchException(typeid(T), typeid(*p));
    return t;
  }
}

// An array of counted references; each non-null element owns one reference.
// Elements may be null. Every element is of the class the concrete array
// requires, which the mutators check.
class MOVEL_API DataArrayBase : public Collection {
 public:
  ~DataArrayBase() override;

  int GetLength() const override { return static_cast<int>(items_.size()); }
  virtual Type* GetElementType() const = 0;

  // Defined here, like Any's counting, so that the virtual tables of every
  // DataArray<T> point into the library that instantiates them.
  unsigned _GetSize(RoundFn r) const override { return SizeOfItems(r); }
  // Equal when other is an array of the same class whose elements are
  // pairwise equal.
  bool _IsEqual(const Any* other, bool lenient) const override {
    return EqualItems(other, lenient);
  }
  // Reports path once for another class or another length, else each
  // differing element as path[i].
  void _DiffProperties(const Any* other, const std::string& path,
                       PropertyDiffSet& set) const override {
    DiffItems(other, path, set);
  }

  // The element at i, or null. An index outside 0 <= i < GetLength()
  // throws std::out_of_range (as do SetAt and Erase).
  Any* GetAt(int i) const;
  // Append and SetAt take a reference on p; a p of the wrong class throws
  // Basekit::TypeMismatchException and leaves the array unchanged. A p that
  // had no holder is released when it is refused.
  void Append(Any* p);
  void SetAt(int i, Any* p);
  void Erase(int i);
  void Clear();
  void Reserve(int n) { items_.reserve(static_cast<std::size_t>(n)); }
  const std::vector<Any*>& GetItems() const noexcept { return items_; }

 protected:
  // Throws when p is not of the element class; null passes.
  using CheckFn = void (*)(Any* p);
  explicit DataArrayBase(CheckFn check) noexcept : check_(check) {}
  // Deep copy: each element is cloned.
  DataArrayBase(const DataArrayBase& other);
  DataArrayBase& operator=(const DataArrayBase&) = delete;

 private:
  void CheckIndex(const char* operation, int i) const;
  unsigned SizeOfItems(RoundFn r) const;
  bool EqualItems(const Any* other, bool lenient) const;
  void DiffItems(const Any* other, const std::string& path, PropertyDiffSet& set) const;

  CheckFn check_;
  std::vector<Any*> items_;
};

template <class T>
class DataArray : public DataArrayBase {
  static_assert(std::is_base_of<Any, T>::value, "DataArray holds values");

 public:
  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = T*;
    using difference_type = std::ptrdiff_t;
    using pointer = T* const*;
    using reference = T*;

    const_iterator() = default;
    explicit const_iterator(std::vector<Any*>::const_iterator it) : it_(it) {}
    T* operator*() const { return static_cast<T*>(*it_); }
    const_iterator& operator++() {
      ++it_;
      return *this;
    }
    const_iterator operator++(int) { return const_iterator(it_++); }
    const_iterator& operator--() {
      --it_;
      return *this;
    }
    const_iterator& operator+=(difference_type n) {
      it_ += n;
      return *this;
    }
    const_iterator operator+(difference_type n) const { return const_iterator(it_ + n); }
    difference_type operator-(const const_iterator& o) const { return it_ - o.it_; }
    T* operator[](difference_type n) const { return static_cast<T*>(it_[n]); }
    bool operator==(const const_iterator& o) const { return it_ == o.it_; }
    bool operator!=(const const_iterator& o) const { return it_ != o.it_; }
    bool operator<(const const_iterator& o) const { return it_ < o.it_; }

   private:
    std::vector<Any*>::const_iterator it_;
  };
  using iterator = const_iterator;

  DataArray() noexcept : DataArrayBase(&Check) {}
  DataArray(const DataArray& other) : DataArrayBase(other) {}
  DataArray(std::initializer_list<T*> items) : DataArrayBase(&Check) {
    Reserve(static_cast<int>(items.size()));
    for (T* p : items) Append(p);
  }

  Type* _GetType() const override {
    Type* element = GetElementType();
    return element ? element->GetArrayType() : nullptr;
  }
  Any* _Clone() const override { return new DataArray(*this); }
  Type* GetElementType() const override { return DataArrayElementType<T>::Get(); }

  T* Get(int i) const { return static_cast<T*>(GetAt(i)); }
  using DataArrayBase::Append;
  void Append(T* p) { DataArrayBase::Append(p); }
  void Append(std::nullptr_t) { DataArrayBase::Append(static_cast<Any*>(nullptr)); }
  void Set(int i, T* p) { SetAt(i, p); }
  // Mutators for values of unknown class: p is narrowed to T first.
  void AppendAny(Any* p) { DataArrayBase::Append(p); }
  void SetAny(int i, Any* p) { SetAt(i, p); }

  const_iterator begin() const { return const_iterator(GetItems().begin()); }
  const_iterator end() const { return const_iterator(GetItems().end()); }

 private:
  static void Check(Any* p) { NarrowAny<T>(p); }
};

// An array of values held inline.
template <class T>
class Array : public Collection {
 public:
  using value_type = T;
  using const_reference = typename std::vector<T>::const_reference;
  using iterator = typename std::vector<T>::iterator;
  using const_iterator = typename std::vector<T>::const_iterator;

  Array() = default;
  Array(const Array& other) : Collection(other), values_(other.values_) {}
  explicit Array(std::vector<T> values) : values_(std::move(values)) {}
  Array(std::initializer_list<T> values) : values_(values) {}
  Array& operator=(const Array&) = delete;

  int GetLength() const override { return static_cast<int>(values_.size()); }
  // An index outside 0 <= i < GetLength() throws std::out_of_range.
  const_reference Get(int i) const {
    if (i < 0 || static_cast<std::size_t>(i) >= values_.size()) {
      detail::ThrowIndexOutOfRange("Array::Get", i, values_.size());
    }
    return values_[static_cast<std::size_t>(i)];
  }
  void Append(const T& v) { values_.push_back(v); }
  void Set(int i, const T& v) {
    if (i < 0 || static_cast<std::size_t>(i) >= values_.size()) {
      detail::ThrowIndexOutOfRange("Array::Set", i, values_.size());
    }
    values_[static_cast<std::size_t>(i)] = v;
  }
  std::vector<T>& GetValues() noexcept { return values_; }
  const std::vector<T>& GetValues() const noexcept { return values_; }
  iterator begin() { return values_.begin(); }
  iterator end() { return values_.end(); }
  const_iterator begin() const { return values_.begin(); }
  const_iterator end() const { return values_.end(); }

  Type* _GetType() const override {
    Type* element = GetValueType<T>();
    return element ? element->GetArrayType() : nullptr;
  }

  // The array object itself plus its storage (and, for texts and binaries,
  // each element's heap block).
  unsigned _GetSize(RoundFn r) const override {
    unsigned self = static_cast<unsigned>(sizeof(*this));
    if constexpr (kIsStringLike<T> || std::is_same<T, std::vector<unsigned char>>::value) {
      return self + GetExtraSize(r, values_);
    } else if constexpr (std::is_same<T, bool>::value) {
      // std::vector<bool> packs its values into bits.
      return self + r(static_cast<unsigned>((values_.capacity() + 7) / 8));
    } else {
      return self + GetVectorStorageSize(r, values_);
    }
  }

  Any* _Clone() const override { return new Array(*this); }

  // Equal when other is an array of the same class with equal values. The
  // class is checked by type rather than by dynamic_cast, which compares
  // class names as text when the class is instantiated in more than one
  // library.
  bool _IsEqual(const Any* other, bool /*lenient*/) const override {
    if (!other || typeid(*other) != typeid(*this)) return false;
    return values_ == static_cast<const Array*>(other)->values_;
  }

  // Arrays of values are reported whole.
  void _DiffProperties(const Any* other, const std::string& path,
                       PropertyDiffSet& set) const override {
    if (!_IsEqual(other, false)) set.Append(path);
  }

 private:
  std::vector<T> values_;
};

}  // namespace Movel
