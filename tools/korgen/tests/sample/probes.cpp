#include "probes.h"

#include <cstdint>

namespace sample {

namespace {

using Basekit::Optional;
using Basekit::System::DateTime;
using Smp::AllKinds;

// Two distinct values of each value kind.
template <class V>
V Variant(int v);
template <>
std::string Variant<std::string>(int v) {
  return v ? "beta" : "alpha";
}
template <>
bool Variant<bool>(int v) {
  return v != 0;
}
template <>
signed char Variant<signed char>(int v) {
  return v ? -7 : 3;
}
template <>
short Variant<short>(int v) {
  return v ? -300 : 300;
}
template <>
int Variant<int>(int v) {
  return v ? -5 : 70000;
}
template <>
long long Variant<long long>(int v) {
  return v ? -(std::int64_t{1} << 41) : (std::int64_t{1} << 40);
}
template <>
float Variant<float>(int v) {
  return v ? -2.25f : 1.5f;
}
template <>
double Variant<double>(int v) {
  return v ? 1e300 : 3.25;
}
template <>
Smp::Color Variant<Smp::Color>(int v) {
  return v ? Smp::Color::blue : Smp::Color::green;
}
template <>
DateTime Variant<DateTime>(int v) {
  return DateTime::FromCivil(2026, 3, 4, 5, 6, v ? 8 : 7);
}
template <>
std::vector<unsigned char> Variant<std::vector<unsigned char>>(int v) {
  return v ? std::vector<unsigned char>{1, 2, 4} : std::vector<unsigned char>{1, 2, 3};
}
template <>
Movel::TypeName Variant<Movel::TypeName>(int v) {
  return v ? "smp.Middle" : "smp.Base";
}
template <>
Movel::MethodName Variant<Movel::MethodName>(int v) {
  return v ? "smp.Task.wait" : "smp.Task.cancel";
}
template <>
Movel::PropertyPath Variant<Movel::PropertyPath>(int v) {
  return v ? "info.state" : "info.key";
}
template <>
Movel::Uri Variant<Movel::Uri>(int v) {
  return v ? "https://two.example/" : "https://one.example/";
}

// Required values and strings: a public member of type V.
template <class V>
class RequiredValueProbe : public Probe {
 public:
  RequiredValueProbe(int index, const char* name, V AllKinds::*member)
      : Probe(index, name, std::is_same<V, std::string>::value ? Kind::kString : Kind::kValue,
              false, ""),
        member_(member) {}

  void Assign(AllKinds& o, int v) const override { o.*member_ = Variant<V>(v); }
  bool Holds(const AllKinds& o, int v) const override { return o.*member_ == Variant<V>(v); }
  void Clear(AllKinds&) const override {}
  bool IsClear(const AllKinds&) const override { return false; }
  const void* Address(const AllKinds& o) const override { return &(o.*member_); }

  void SlotSet(AllKinds& o, int v) const override {
    const V in = Variant<V>(v);
    AllKindsRecord()->propSet(&o, Index(), &in);
  }
  bool SlotGetGives(AllKinds& o, int v) const override {
    V out = Variant<V>(1 - v);
    AllKindsRecord()->propGet(&o, Index(), &out);
    return out == Variant<V>(v);
  }
  bool SlotSwapExchanges(AllKinds& o) const override {
    V slot = Variant<V>(1);
    AllKindsRecord()->propSwap(&o, Index(), &slot);
    return Holds(o, 1) && slot == Variant<V>(0);
  }

 private:
  V AllKinds::*member_;
};

// Optional values: a public Basekit::Optional<V>. Get and Set slots hold a
// plain V; the Swap slot is of the member's own type, Optional<V>, so that an
// unset value can travel both ways.
template <class V>
class OptionalValueProbe : public Probe {
 public:
  OptionalValueProbe(int index, const char* name, Optional<V> AllKinds::*member)
      : Probe(index, name, Kind::kOptionalValue, true, ""), member_(member) {}

  void Assign(AllKinds& o, int v) const override { o.*member_ = Variant<V>(v); }
  bool Holds(const AllKinds& o, int v) const override {
    return (o.*member_).IsSet() && (o.*member_).GetValue() == Variant<V>(v);
  }
  void Clear(AllKinds& o) const override { (o.*member_).Unset(); }
  bool IsClear(const AllKinds& o) const override { return !(o.*member_).IsSet(); }
  const void* Address(const AllKinds& o) const override {
    return (o.*member_).IsSet() ? &(o.*member_).GetValue() : nullptr;
  }

  void SlotSet(AllKinds& o, int v) const override {
    const V in = Variant<V>(v);
    AllKindsRecord()->propSet(&o, Index(), &in);
  }
  bool SlotGetGives(AllKinds& o, int v) const override {
    V out = Variant<V>(1 - v);
    AllKindsRecord()->propGet(&o, Index(), &out);
    return out == Variant<V>(v);
  }
  bool SlotSwapExchanges(AllKinds& o) const override {
    Optional<V> slot = Variant<V>(1);
    AllKindsRecord()->propSwap(&o, Index(), &slot);
    return Holds(o, 1) && slot.IsSet() && slot.GetValue() == Variant<V>(0);
  }

 private:
  Optional<V> AllKinds::*member_;
};

// Optional strings: a public Movel::OptionalString, null when unset. The
// Swap slot is of the member's type, so the string's ownership moves.
class OptionalStringProbe : public Probe {
 public:
  OptionalStringProbe(int index, const char* name, Movel::OptionalString AllKinds::*member)
      : Probe(index, name, Kind::kOptionalString, true, ""), member_(member) {}

  void Assign(AllKinds& o, int v) const override {
    Movel::SetOptionalString(o.*member_, Variant<std::string>(v));
  }
  bool Holds(const AllKinds& o, int v) const override {
    return o.*member_ && *(o.*member_) == Variant<std::string>(v);
  }
  void Clear(AllKinds& o) const override { Movel::UnsetOptionalString(o.*member_); }
  bool IsClear(const AllKinds& o) const override { return o.*member_ == nullptr; }
  const void* Address(const AllKinds& o) const override { return (o.*member_).Get(); }

  void SlotSet(AllKinds& o, int v) const override {
    const std::string in = Variant<std::string>(v);
    AllKindsRecord()->propSet(&o, Index(), &in);
  }
  bool SlotGetGives(AllKinds& o, int v) const override {
    std::string out = Variant<std::string>(1 - v);
    AllKindsRecord()->propGet(&o, Index(), &out);
    return out == Variant<std::string>(v);
  }
  bool SlotSwapExchanges(AllKinds& o) const override {
    Movel::OptionalString slot = Variant<std::string>(1);
    const std::string* incoming = slot.Get();
    AllKindsRecord()->propSwap(&o, Index(), &slot);
    if ((o.*member_).Get() != incoming) return false;  // nothing moved
    return slot && *slot == Variant<std::string>(0);
  }

 private:
  Movel::OptionalString AllKinds::*member_;
};

// Object kinds and arrays: private members behind Peek/Set/Swap (and Get for
// arrays). Get and Swap slots are Ref<Any>; the Set slot is an Any*.
template <class T>
class HeldProbe : public ObjectProbe {
 public:
  using Peek = const T* (AllKinds::*)() const;
  using Set = void (AllKinds::*)(T*);
  using Swap = void (AllKinds::*)(Ref<T>* const);
  using Maker = std::function<Ref<T>(int)>;
  using WrongMaker = std::function<Ref<Movel::Any>()>;

  HeldProbe(int index, const char* name, Kind kind, bool optional, std::string suffix, Peek peek,
            Set set, Swap swap, Maker make, WrongMaker wrong, bool deep)
      : ObjectProbe(index, name, kind, optional, std::move(suffix)),
        peek_(peek),
        set_(set),
        swap_(swap),
        make_(std::move(make)),
        wrong_(std::move(wrong)),
        deep_(deep) {}

  void Assign(AllKinds& o, int v) const override { (o.*set_)(make_(v)); }
  bool Holds(const AllKinds& o, int v) const override {
    const T* held = (o.*peek_)();
    return held && Movel::AreEqualAnysInt(held, make_(v), 0, false);
  }
  void Clear(AllKinds& o) const override { (o.*set_)(nullptr); }
  bool IsClear(const AllKinds& o) const override { return (o.*peek_)() == nullptr; }
  const void* Address(const AllKinds& o) const override {
    return static_cast<const Movel::Any*>((o.*peek_)());
  }
  const Movel::Any* Held(const AllKinds& o) const override { return (o.*peek_)(); }
  Ref<Movel::Any> Make(int v) const override { return make_(v); }
  Ref<Movel::Any> Wrong() const override { return wrong_ ? wrong_() : nullptr; }
  bool CopiedDeeply() const override { return deep_; }

  void SlotSet(AllKinds& o, int v) const override {
    Ref<T> value = make_(v);
    Movel::Any* in = value.Get();
    AllKindsRecord()->propSet(&o, Index(), &in);
  }
  bool SlotGetGives(AllKinds& o, int v) const override {
    Ref<Movel::Any> out;
    AllKindsRecord()->propGet(&o, Index(), &out);
    return out.Get() == static_cast<const Movel::Any*>((o.*peek_)()) && out &&
           Movel::AreEqualAnysInt(out, make_(v), 0, false);
  }
  bool SlotSwapExchanges(AllKinds& o) const override {
    const T* before = (o.*peek_)();
    Ref<Movel::Any> slot(make_(1).Get());
    const Movel::Any* incoming = slot.Get();
    AllKindsRecord()->propSwap(&o, Index(), &slot);
    return static_cast<const Movel::Any*>((o.*peek_)()) == incoming &&
           slot.Get() == static_cast<const Movel::Any*>(before) && Holds(o, 1);
  }

  // The typed Swap accessor, for the accessor tests.
  void AccessorSwap(AllKinds& o, Ref<T>* ref) const { (o.*swap_)(ref); }

 private:
  Peek peek_;
  Set set_;
  Swap swap_;
  Maker make_;
  WrongMaker wrong_;
  bool deep_;
};

Ref<Movel::MoRef> TaskRef(const std::string& id) {
  Ref<Movel::MoRef> r = Movel::MakeMoRef(Movel::GetMoType<Smp::Task>(), id);
  return r;
}

Ref<Smp::Middle> MakeMiddle(int weight) {
  Ref<Smp::Middle> m(new Smp::Middle());
  m->key = "middle";
  m->weight = weight;
  return m;
}

std::vector<std::unique_ptr<Probe>> BuildProbes() {
  std::vector<std::unique_ptr<Probe>> p;
  auto value = [&p](auto* tag, int index, const char* name, auto member) {
    using V = std::remove_pointer_t<decltype(tag)>;
    p.emplace_back(new RequiredValueProbe<V>(index, name, member));
  };
  auto optional = [&p](auto* tag, int index, const char* name, auto member) {
    using V = std::remove_pointer_t<decltype(tag)>;
    p.emplace_back(new OptionalValueProbe<V>(index, name, member));
  };
  value(static_cast<std::string*>(nullptr), 0, "reqString", &AllKinds::reqString);
  p.emplace_back(new OptionalStringProbe(1, "optString", &AllKinds::optString));
  value(static_cast<bool*>(nullptr), 2, "reqBool", &AllKinds::reqBool);
  optional(static_cast<bool*>(nullptr), 3, "optBool", &AllKinds::optBool);
  value(static_cast<signed char*>(nullptr), 4, "reqByte", &AllKinds::reqByte);
  optional(static_cast<signed char*>(nullptr), 5, "optByte", &AllKinds::optByte);
  value(static_cast<short*>(nullptr), 6, "reqShort", &AllKinds::reqShort);
  optional(static_cast<short*>(nullptr), 7, "optShort", &AllKinds::optShort);
  value(static_cast<int*>(nullptr), 8, "reqInt", &AllKinds::reqInt);
  optional(static_cast<int*>(nullptr), 9, "optInt", &AllKinds::optInt);
  value(static_cast<long long*>(nullptr), 10, "reqLong", &AllKinds::reqLong);
  optional(static_cast<long long*>(nullptr), 11, "optLong", &AllKinds::optLong);
  value(static_cast<float*>(nullptr), 12, "reqFloat", &AllKinds::reqFloat);
  optional(static_cast<float*>(nullptr), 13, "optFloat", &AllKinds::optFloat);
  value(static_cast<double*>(nullptr), 14, "reqDouble", &AllKinds::reqDouble);
  optional(static_cast<double*>(nullptr), 15, "optDouble", &AllKinds::optDouble);
  value(static_cast<Smp::Color*>(nullptr), 16, "reqEnum", &AllKinds::reqEnum);
  optional(static_cast<Smp::Color*>(nullptr), 17, "optEnum", &AllKinds::optEnum);
  value(static_cast<DateTime*>(nullptr), 18, "reqTime", &AllKinds::reqTime);
  optional(static_cast<DateTime*>(nullptr), 19, "optTime", &AllKinds::optTime);
  using Bytes = std::vector<unsigned char>;
  value(static_cast<Bytes*>(nullptr), 20, "reqBinary", &AllKinds::reqBinary);
  optional(static_cast<Bytes*>(nullptr), 21, "optBinary", &AllKinds::optBinary);
  value(static_cast<Movel::TypeName*>(nullptr), 22, "reqTypeName", &AllKinds::reqTypeName);
  optional(static_cast<Movel::TypeName*>(nullptr), 23, "optTypeName", &AllKinds::optTypeName);
  value(static_cast<Movel::MethodName*>(nullptr), 24, "reqMethodName", &AllKinds::reqMethodName);
  optional(static_cast<Movel::MethodName*>(nullptr), 25, "optMethodName",
           &AllKinds::optMethodName);
  value(static_cast<Movel::PropertyPath*>(nullptr), 26, "reqPath", &AllKinds::reqPath);
  optional(static_cast<Movel::PropertyPath*>(nullptr), 27, "optPath", &AllKinds::optPath);
  value(static_cast<Movel::Uri*>(nullptr), 28, "reqUri", &AllKinds::reqUri);
  optional(static_cast<Movel::Uri*>(nullptr), 29, "optUri", &AllKinds::optUri);

  const Kind obj = Kind::kObject, arr = Kind::kArray;
  auto base = [](int v) { return MakeBase(v ? "k1" : "k0"); };
  auto fault = [](int v) {
    Ref<Smp::SampleFault> f(new Smp::SampleFault());
    Movel::SetOptionalString(f->reason, v ? "disk full" : "timeout");
    return f;
  };
  auto ref = [](int v) { return TaskRef(v ? "task-1" : "task-0"); };
  auto box = [](int v) -> Ref<Movel::Any> {
    return Ref<Movel::Any>(new Movel::Primitive<std::string>(v ? "on" : "off"));
  };
  auto middle = [](int v) -> Ref<Movel::Any> { return Ref<Movel::Any>(MakeMiddle(v).Get()); };
  auto message = [](int v) {
    return Ref<Movel::LocalizableMessage>(new Movel::LocalizableMessage(v ? "msg.b" : "msg.a"));
  };
  auto empty = []() -> Ref<Movel::Any> { return Ref<Movel::Any>(new Smp::Empty()); };
  auto aBase = []() -> Ref<Movel::Any> { return Ref<Movel::Any>(MakeBase("wrong").Get()); };
  auto aRef = []() -> Ref<Movel::Any> { return Ref<Movel::Any>(TaskRef("task-x").Get()); };
  auto aStateFault = []() -> Ref<Movel::Any> { return Ref<Movel::Any>(new Smp::StateFault()); };

  p.emplace_back(new HeldProbe<Smp::Base>(30, "reqData", obj, false, ".key", &AllKinds::PeekReqData,
                                          &AllKinds::SetReqData, &AllKinds::SwapReqData, base, aRef,
                                          true));
  p.emplace_back(new HeldProbe<Smp::Base>(31, "optData", obj, true, ".key", &AllKinds::PeekOptData,
                                          &AllKinds::SetOptData, &AllKinds::SwapOptData, base,
                                          empty, true));
  p.emplace_back(new HeldProbe<Smp::SampleFault>(32, "reqFault", obj, false, ".reason",
                                                 &AllKinds::PeekReqFault, &AllKinds::SetReqFault,
                                                 &AllKinds::SwapReqFault, fault, aStateFault, true));
  p.emplace_back(new HeldProbe<Smp::SampleFault>(33, "optFault", obj, true, ".reason",
                                                 &AllKinds::PeekOptFault, &AllKinds::SetOptFault,
                                                 &AllKinds::SwapOptFault, fault, aBase, true));
  p.emplace_back(new HeldProbe<Movel::MoRef>(34, "reqRef", obj, false, "", &AllKinds::PeekReqRef,
                                             &AllKinds::SetReqRef, &AllKinds::SwapReqRef, ref, aBase,
                                             false));
  p.emplace_back(new HeldProbe<Movel::MoRef>(35, "optRef", obj, true, "", &AllKinds::PeekOptRef,
                                             &AllKinds::SetOptRef, &AllKinds::SwapOptRef, ref, empty,
                                             false));
  // Any values: a box (reported whole, shared by copies) and a data object
  // of a derived class (reported by its leaves).
  p.emplace_back(new HeldProbe<Movel::Any>(36, "reqAny", obj, false, "", &AllKinds::PeekReqAny,
                                           &AllKinds::SetReqAny, &AllKinds::SwapReqAny, box,
                                           nullptr, false));
  p.emplace_back(new HeldProbe<Movel::Any>(37, "optAny", obj, true, ".weight",
                                           &AllKinds::PeekOptAny, &AllKinds::SetOptAny,
                                           &AllKinds::SwapOptAny, middle, nullptr, true));
  p.emplace_back(new HeldProbe<Movel::LocalizableMessage>(
      38, "message", obj, true, ".key", &AllKinds::PeekMessage, &AllKinds::SetMessage,
      &AllKinds::SwapMessage, message, aBase, true));

  using BaseArray = Movel::DataArray<Smp::Base>;
  p.emplace_back(new HeldProbe<BaseArray>(
      39, "dataList", arr, false, "[1].key", &AllKinds::PeekDataList, &AllKinds::SetDataList,
      &AllKinds::SwapDataList,
      [](int v) {
        Ref<BaseArray> a(new BaseArray());
        a->Reserve(2);
        a->Append(MakeBase("first"));
        a->Append(MakeBase(v ? "second-b" : "second-a"));
        return a;
      },
      [] { return Ref<Movel::Any>(new Movel::DataArray<Smp::Middle>()); }, true));
  // Elements of a derived class in an array of the base class.
  p.emplace_back(new HeldProbe<BaseArray>(
      40, "optDataList", arr, true, "[0].weight", &AllKinds::PeekOptDataList,
      &AllKinds::SetOptDataList, &AllKinds::SwapOptDataList,
      [](int v) {
        Ref<BaseArray> a(new BaseArray());
        a->Append(MakeMiddle(v));
        return a;
      },
      [] { return Ref<Movel::Any>(new Movel::Array<int>()); }, true));
  using RefArray = Movel::DataArray<Movel::MoRef>;
  p.emplace_back(new HeldProbe<RefArray>(
      41, "refList", arr, true, "[1]", &AllKinds::PeekRefList, &AllKinds::SetRefList,
      &AllKinds::SwapRefList,
      [](int v) {
        Ref<RefArray> a(new RefArray());
        a->Reserve(2);
        a->Append(TaskRef("task-a"));
        a->Append(TaskRef(v ? "task-c" : "task-b"));
        return a;
      },
      [] { return Ref<Movel::Any>(new Movel::DataArray<Movel::Any>()); }, true));
  using AnyArray = Movel::DataArray<Movel::Any>;
  p.emplace_back(new HeldProbe<AnyArray>(
      42, "anyList", arr, true, "[0]", &AllKinds::PeekAnyList, &AllKinds::SetAnyList,
      &AllKinds::SwapAnyList,
      [](int v) {
        Ref<AnyArray> a(new AnyArray());
        a->Append(new Movel::Primitive<int>(v ? 8 : 7));
        return a;
      },
      [] { return Ref<Movel::Any>(new RefArray()); }, true));
  using Strings = Movel::Array<std::string>;
  p.emplace_back(new HeldProbe<Strings>(
      43, "stringList", arr, true, "", &AllKinds::PeekStringList, &AllKinds::SetStringList,
      &AllKinds::SwapStringList,
      [](int v) {
        return Ref<Strings>(new Strings(std::vector<std::string>{"a", v ? "c" : "b"}));
      },
      [] { return Ref<Movel::Any>(new Movel::Array<int>()); }, true));
  using Ints = Movel::Array<int>;
  p.emplace_back(new HeldProbe<Ints>(
      44, "intList", arr, false, "", &AllKinds::PeekIntList, &AllKinds::SetIntList,
      &AllKinds::SwapIntList,
      [](int v) { return Ref<Ints>(new Ints(std::vector<int>{1, v ? 3 : 2})); },
      [] { return Ref<Movel::Any>(new Movel::Array<long long>()); }, true));
  using Colors = Movel::Array<Smp::Color>;
  p.emplace_back(new HeldProbe<Colors>(
      45, "enumList", arr, true, "", &AllKinds::PeekEnumList, &AllKinds::SetEnumList,
      &AllKinds::SwapEnumList,
      [](int v) {
        return Ref<Colors>(new Colors(std::vector<Smp::Color>{
            Smp::Color::red, v ? Smp::Color::blue : Smp::Color::green}));
      },
      // Another enumeration's array: the element classes differ.
      [] { return Ref<Movel::Any>(new Movel::Array<Smp::Machine::State>()); }, true));
  return p;
}

}  // namespace

const Movel::DataTypeInfo* AllKindsRecord() {
  return Movel::GetDoType<Smp::AllKinds>()->GetRecord();
}

const std::vector<std::unique_ptr<Probe>>& AllKindsProbes() {
  static const std::vector<std::unique_ptr<Probe>> probes = BuildProbes();
  return probes;
}

Ref<Smp::AllKinds> Filled(int variant) {
  Ref<Smp::AllKinds> o(new Smp::AllKinds());
  for (const auto& p : AllKindsProbes()) p->Assign(*o, variant);
  return o;
}

Ref<Smp::AllKinds> CloneOf(const Smp::AllKinds& o) {
  Movel::Any* copy = o._Clone();
  return Ref<Smp::AllKinds>(static_cast<Smp::AllKinds*>(copy));
}

std::vector<std::string> Paths(const Movel::PropertyDiffSet& set) {
  std::vector<std::string> out;
  for (const Movel::PropertyPath& p : set.GetChanged()) out.push_back(p.str());
  return out;
}

std::vector<std::string> DiffPaths(const Movel::Any& a, const Movel::Any& b,
                                   const std::string& prefix) {
  Movel::PropertyDiffSet set;
  a._DiffProperties(&b, prefix, set);
  return Paths(set);
}

Ref<Smp::Base> MakeBase(const std::string& key) {
  Ref<Smp::Base> b(new Smp::Base());
  b->key = key;
  return b;
}

}  // namespace sample
