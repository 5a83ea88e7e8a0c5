// Values that used to end the process or leak: object graphs nested far
// deeper than any real answer, graphs that hold themselves, null handed to
// the generic entry points, indexes outside arrays, and objects refused by a
// checked store. Also the editing helpers of generated classes.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "kortypes/kortypes.h"

namespace {

using Basekit::Ref;

unsigned Identity(unsigned n) { return n; }

// A data object of a class no generated property accepts, counting the
// instances alive, so that a refused store that forgets to release it shows.
class Stray : public Movel::DynamicData {
 public:
  Stray() { ++alive; }
  Stray(const Stray& other) : Movel::DynamicData(other) { ++alive; }
  ~Stray() override { --alive; }
  Movel::Any* _Clone() const override { return new Stray(*this); }
  static int alive;
};
int Stray::alive = 0;

// A chain of depth tasks, each holding the next through its result.
Ref<Kor::TaskInfo> TaskChain(int depth) {
  Ref<Kor::TaskInfo> head(new Kor::TaskInfo());
  Kor::TaskInfo* last = head.Get();
  for (int i = 1; i < depth; ++i) {
    auto* next = new Kor::TaskInfo();
    next->progress = i;
    last->SetResult(next);
    last = next;
  }
  return head;
}

int ChainLength(const Kor::TaskInfo* t) {
  int n = 0;
  for (; t; t = static_cast<const Kor::TaskInfo*>(t->PeekResult())) ++n;
  return n;
}

// Every operation that descends refuses a graph deeper than the bound with
// GraphDepthException and changes nothing; one within the bound works.
TEST(DeepGraphs, OperationsBeyondTheBoundThrowAndChangeNothing) {
  const int depth = Movel::kMaxGraphDepth + 10;
  Ref<Kor::TaskInfo> a = TaskChain(depth);
  Ref<Kor::TaskInfo> b = TaskChain(depth);

  EXPECT_THROW(a->_Clone(), Movel::GraphDepthException);
  EXPECT_THROW(a->Clone(), Movel::GraphDepthException);
  EXPECT_THROW(Movel::AreEqualAnysInt(a, b, 0, false), Movel::GraphDepthException);
  Movel::PropertyDiffSet diff;
  EXPECT_THROW(a->_DiffProperties(b, "t", diff), Movel::GraphDepthException);
  EXPECT_THROW(a->_GetSize(&Identity), Movel::GraphDepthException);
  try {
    a->_GetSize(&Identity);
  } catch (const Movel::GraphDepthException& e) {
    EXPECT_NE(std::string(e.what()).find("size"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(std::to_string(Movel::kMaxGraphDepth)), std::string::npos);
  }
  // Both chains are whole, and the thread's depth count is back to zero:
  // a shallow graph works at once.
  EXPECT_EQ(ChainLength(a), depth);
  EXPECT_EQ(ChainLength(b), depth);
  EXPECT_EQ(a->GetRefCount(), 1);
  Ref<Kor::TaskInfo> shallow = TaskChain(Movel::kMaxGraphDepth - 10);
  Ref<Kor::TaskInfo> copy = shallow->Clone();
  EXPECT_EQ(ChainLength(copy), Movel::kMaxGraphDepth - 10);
  EXPECT_TRUE(Movel::AreEqualAnysInt(shallow, copy, 0, false));
  EXPECT_EQ(shallow->_GetSize(&Identity), copy->_GetSize(&Identity));
}

// Releasing never fails and never recurses without bound: a chain of a
// million objects, through data objects and through arrays, goes away.
TEST(DeepGraphs, DeepChainsAreReleasedWithoutExhaustingTheStack) {
  Ref<Kor::TaskInfo> chain = TaskChain(1000000);
  chain = nullptr;

  Ref<Movel::DataArray<Movel::Any>> outer(new Movel::DataArray<Movel::Any>());
  Movel::DataArray<Movel::Any>* at = outer.Get();
  for (int i = 0; i < 1000000; ++i) {
    auto* inner = new Movel::DataArray<Movel::Any>();
    at->AppendAny(inner);
    at = inner;
  }
  outer = nullptr;

  // A fault-cause chain: clone is refused, release is fine.
  Ref<Movel::MethodFault> fault(new Movel::Fault::NotSupported());
  Movel::MethodFault* last = fault.Get();
  for (int i = 0; i < 200000; ++i) {
    auto* cause = new Movel::Fault::NotSupported();
    last->SetFaultCause(cause);
    last = cause;
  }
  EXPECT_THROW(fault->_Clone(), Movel::GraphDepthException);
  fault = nullptr;
}

// A task holding itself through its result: every descending operation
// throws instead of overflowing the stack; breaking the cycle frees it.
TEST(CyclicGraphs, SelfReferenceIsRefusedClearly) {
  Ref<Kor::TaskInfo> t(new Kor::TaskInfo());
  t->SetResult(t);
  Ref<Kor::TaskInfo> u(new Kor::TaskInfo());
  u->SetResult(u);
  EXPECT_THROW(t->_Clone(), Movel::GraphDepthException);
  EXPECT_THROW(Movel::AreEqualAnysInt(t, u, 0, false), Movel::GraphDepthException);
  EXPECT_THROW(t->_GetSize(&Identity), Movel::GraphDepthException);
  Movel::PropertyDiffSet diff;
  EXPECT_THROW(t->_DiffProperties(u, "t", diff), Movel::GraphDepthException);
  EXPECT_EQ(t->PeekResult(), t.Get());

  // A cycle through an array of any values.
  Ref<Movel::DataArray<Movel::Any>> loop(new Movel::DataArray<Movel::Any>());
  loop->AppendAny(loop);
  EXPECT_THROW(loop->_Clone(), Movel::GraphDepthException);
  EXPECT_THROW(loop->_GetSize(&Identity), Movel::GraphDepthException);
  loop->Clear();
  t->SetResult(nullptr);
  u->SetResult(nullptr);
  EXPECT_EQ(t->GetRefCount(), 1);
}

TEST(NullValues, GenericEntryPointsAnswerOrThrowTheMismatch) {
  Ref<Kor::TaskInfo> t(new Kor::TaskInfo());
  EXPECT_FALSE(t->_IsEqual(nullptr, false));
  EXPECT_FALSE(t->_IsEqual(nullptr, true));
  Ref<Kor::AboutInfo> about(new Kor::AboutInfo());
  EXPECT_FALSE(t->_IsEqual(about, false));  // another class: not equal, no crash
  Movel::PropertyDiffSet diff;
  t->_DiffProperties(nullptr, "task", diff);
  t->_DiffProperties(about, "other", diff);
  ASSERT_EQ(diff.GetChanged().size(), 2u);
  EXPECT_EQ(diff.GetChanged()[0].str(), "task");
  EXPECT_EQ(diff.GetChanged()[1].str(), "other");

  const Movel::EnumFuncs& funcs = Movel::GetEnumType<Kor::TaskInfo::State>()->GetFuncs();
  EXPECT_THROW(funcs.unboxValue(nullptr), Basekit::TypeMismatchException);
  Ref<Movel::Any> box(funcs.boxValue(2));
  EXPECT_EQ(funcs.unboxValue(box), 2);
}

TEST(ArrayIndexes, OutOfRangeThrowsNamingIndexAndSize) {
  Ref<Movel::Array<int>> values(new Movel::Array<int>{1, 2, 3});
  EXPECT_THROW(values->Get(3), std::out_of_range);
  EXPECT_THROW(values->Get(-1), std::out_of_range);
  EXPECT_THROW(values->Set(7, 0), std::out_of_range);
  try {
    values->Get(5);
    FAIL() << "no exception";
  } catch (const std::out_of_range& e) {
    const std::string text = e.what();
    EXPECT_NE(text.find("index 5"), std::string::npos) << text;
    EXPECT_NE(text.find("3 elements"), std::string::npos) << text;
  }
  EXPECT_EQ(values->Get(2), 3);

  Ref<Movel::DataArray<Kor::TaskInfo>> tasks(new Movel::DataArray<Kor::TaskInfo>());
  tasks->Append(new Kor::TaskInfo());
  EXPECT_THROW(tasks->Get(1), std::out_of_range);
  EXPECT_THROW(tasks->GetAt(-1), std::out_of_range);
  EXPECT_THROW(tasks->Erase(4), std::out_of_range);
  // A refused SetAt releases the fresh value and keeps the element.
  const Kor::TaskInfo* first = tasks->Get(0);
  EXPECT_THROW(tasks->Set(2, new Kor::TaskInfo()), std::out_of_range);
  EXPECT_EQ(tasks->Get(0), first);
  EXPECT_EQ(tasks->GetLength(), 1);
}

TEST(RefusedStores, FreshObjectsAreReleased) {
  ASSERT_EQ(Stray::alive, 0);
  Ref<Movel::DataArray<Kor::TaskInfo>> tasks(new Movel::DataArray<Kor::TaskInfo>());
  EXPECT_THROW(tasks->AppendAny(new Stray()), Basekit::TypeMismatchException);
  EXPECT_EQ(Stray::alive, 0);
  tasks->Append(new Kor::TaskInfo());
  EXPECT_THROW(tasks->SetAny(0, new Stray()), Basekit::TypeMismatchException);
  EXPECT_EQ(Stray::alive, 0);
  EXPECT_EQ(tasks->GetLength(), 1);

  // propSet of an object-valued and an array-valued property.
  Ref<Kor::TaskInfo> t(new Kor::TaskInfo());
  const Movel::DataTypeInfo* rec = Movel::GetDoType<Kor::TaskInfo>()->GetRecord();
  Movel::Any* in = new Stray();
  EXPECT_THROW(rec->propSet(t, 14, &in), Basekit::TypeMismatchException);  // reason
  EXPECT_EQ(Stray::alive, 0);
  in = new Stray();
  EXPECT_THROW(rec->propSet(t, 7, &in), Basekit::TypeMismatchException);  // locked
  EXPECT_EQ(Stray::alive, 0);

  // A value with a holder is not released by the refusal.
  Ref<Stray> held(new Stray());
  EXPECT_THROW(tasks->AppendAny(held), Basekit::TypeMismatchException);
  EXPECT_EQ(held->GetRefCount(), 1);
  EXPECT_EQ(Stray::alive, 1);
}

// ---- editing helpers ----------------------------------------------------------

template <class T, class = void>
struct HasReachableCreator : std::false_type {};
template <class T>
struct HasReachableCreator<T, std::void_t<decltype(&T::_CreateObject)>> : std::true_type {};
template <class T, class = void>
struct HasReachableLayout : std::false_type {};
template <class T>
struct HasReachableLayout<T, std::void_t<decltype(&T::_layout)>> : std::true_type {};

TEST(EditingHelpers, InternalsAreUnreachableAndNestedEditsNeedNoCasts) {
  static_assert(!HasReachableCreator<Kor::TaskInfo>::value, "creators are private");
  static_assert(!HasReachableLayout<Kor::AboutInfo>::value, "layouts are private");
  static_assert(std::is_same<decltype(std::declval<const Kor::TaskInfo&>().Clone()),
                             Ref<Kor::TaskInfo>>::value,
                "Clone is typed");

  Ref<Kor::TaskInfo> t(new Kor::TaskInfo());
  EXPECT_EQ(t->PeekReason(), nullptr);
  Kor::TaskReason* reason = t->EditReason();  // made on demand
  ASSERT_NE(reason, nullptr);
  EXPECT_EQ(t->EditReason(), reason);
  EXPECT_EQ(t->PeekReason(), reason);
  EXPECT_EQ(reason->GetRefCount(), 1);

  Ref<Kor::TaskInfo> copy = t->Clone();
  EXPECT_NE(copy.Get(), t.Get());
  EXPECT_EQ(copy->GetRefCount(), 1);
  EXPECT_TRUE(Movel::AreEqualAnysInt(t, copy, 0, false));
  copy->entityName = "edited";
  Movel::PropertyDiffSet diff;
  t->_DiffProperties(copy, "task", diff);
  ASSERT_EQ(diff.GetChanged().size(), 1u);
  EXPECT_EQ(diff.GetChanged()[0].str(), "task.entityName");

  // A nested edit in place: no const_cast, no copy, one leaf changes.
  Ref<Kor::ServiceInstanceContent> content(new Kor::ServiceInstanceContent());
  content->EditAbout()->name = "kor";
  Ref<Kor::ServiceInstanceContent> before = content->Clone();
  content->EditAbout()->version = "9";
  EXPECT_EQ(content->PeekAbout()->version, "9");
  Movel::PropertyDiffSet nested;
  before->_DiffProperties(content, "content", nested);
  ASSERT_EQ(nested.GetChanged().size(), 1u);
  EXPECT_EQ(nested.GetChanged()[0].str(), "content.about.version");
}

// A managed type without methods or properties has no method-object array
// (it used to declare one of bound 1); every other type's array has exactly
// its entries, filled at registration.
TEST(EditingHelpers, MethodObjectArraysHaveExactlyTheirEntries) {
  int empty = 0, filled = 0;
  for (Movel::Type* type : Movel::GetAllTypes()) {
    if (!type->IsManaged() || type->GetName().compare(0, 4, "kor.") != 0) continue;
    const auto* managed = static_cast<const Movel::ManagedObjectType*>(type);
    const Movel::ManagedTypeInfo* rec = managed->GetRecord();
    ASSERT_NE(rec, nullptr) << type->GetName();
    const auto& methods = managed->GetMethodObjects();
    if (methods.empty()) {
      EXPECT_EQ(rec->methodObjects, nullptr) << type->GetName();
      ++empty;
    } else {
      ASSERT_NE(rec->methodObjects, nullptr) << type->GetName();
      for (std::size_t i = 0; i < methods.size(); ++i) {
        EXPECT_EQ(rec->methodObjects[i], methods[i]) << type->GetName() << " " << i;
      }
      ++filled;
    }
  }
  EXPECT_GT(filled, 100);
  EXPECT_GT(empty + filled, 170);
}

// Optional strings: the obvious assignments neither leak nor lose the old
// string (the sanitizer runs of this test check the leak half).
TEST(EditingHelpers, OptionalStringsOwnTheirString) {
  Ref<Kor::TaskInfo> t(new Kor::TaskInfo());
  EXPECT_FALSE(t->entityName);
  t->entityName = "first";
  EXPECT_EQ(*t->entityName, "first");
  t->entityName = new std::string("second");  // handed over
  EXPECT_EQ(*t->entityName, "second");
  t->entityName = std::string("third");
  EXPECT_TRUE(t->entityName == std::string("third"));
  Ref<Kor::TaskInfo> copy = t->Clone();
  EXPECT_NE(copy->entityName.Get(), t->entityName.Get());
  EXPECT_EQ(*copy->entityName, "third");
  t->entityName = nullptr;
  EXPECT_EQ(t->entityName, nullptr);
  EXPECT_EQ(*copy->entityName, "third");
  const Movel::OptionalString& same = copy->entityName;
  copy->entityName = same;  // assigning itself keeps the value
  EXPECT_EQ(*copy->entityName, "third");
  EXPECT_EQ(sizeof(t->entityName), sizeof(void*));

  const Movel::DataTypeInfo* rec = Movel::GetDoType<Kor::TaskInfo>()->GetRecord();
  EXPECT_EQ(rec->propPeek(t, 6), nullptr);
  EXPECT_EQ(*static_cast<const std::string*>(rec->propPeek(copy, 6)), "third");
}

}  // namespace
