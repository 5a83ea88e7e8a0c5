// Generated data object classes: copy, accessors, the property functions by
// index, equality, difference and size, enumerations and faults.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "kortypes/kortypes.h"

namespace {

using Basekit::Ref;

unsigned Identity(unsigned n) { return n; }
// Charges whole 16-byte granules, like a typical allocator.
unsigned Granule(unsigned n) { return (n + 15u) & ~15u; }

Ref<Movel::MoRef> MoRefOf(const char* type, const char* id) {
  Ref<Movel::MoRef> ref = Movel::MakeMoRef(static_cast<Movel::ManagedObjectType*>(Movel::FindType(type)), id);
  return ref;
}

std::vector<std::string> Paths(const Movel::PropertyDiffSet& set) {
  std::vector<std::string> out;
  for (const Movel::PropertyPath& p : set.GetChanged()) out.push_back(p.str());
  return out;
}

// A task with nearly every property kind filled in.
Ref<Kor::TaskInfo> MakeTask() {
  Ref<Kor::TaskInfo> t(new Kor::TaskInfo());
  t->key = "task-17";
  t->SetTask(MoRefOf("kor.Task", "task-17"));
  Ref<Movel::LocalizableMessage> description(new Movel::LocalizableMessage("task.rename"));
  t->SetDescription(description);
  t->descriptionId = "Folder.rename";
  t->SetEntity(MoRefOf("kor.Folder", "group-d1"));
  Movel::SetOptionalString(t->entityName, "Datacenters");
  t->GetLocked()->Append(MoRefOf("kor.Folder", "group-d1"));
  t->GetLocked()->Append(MoRefOf("kor.Folder", "group-v3"));
  t->state = Kor::TaskInfo::State::running;
  t->cancelable = true;
  t->cancelled = false;
  t->SetResult(new Movel::Primitive<int>(3));
  t->progress = 40;
  t->SetReason(new Kor::TaskReason());
  t->queueTime = Basekit::System::DateTime::FromCivil(2026, 12, 5, 18, 0, 0);
  t->eventChainId = 9;
  return t;
}

TEST(DataObject, CloneSharesNothingAndEquals) {
  Ref<Kor::TaskInfo> t = MakeTask();
  Ref<Kor::TaskInfo> copy(static_cast<Kor::TaskInfo*>(t->_Clone()));
  EXPECT_TRUE(Movel::AreEqualAnysInt(t, copy, 0, false));
  EXPECT_NE(copy->PeekTask(), t->PeekTask());
  EXPECT_NE(copy->PeekDescription(), t->PeekDescription());
  EXPECT_NE(copy->PeekLocked(), t->PeekLocked());
  EXPECT_NE(copy->PeekLocked()->Get(0), t->PeekLocked()->Get(0));
  EXPECT_NE(copy->entityName.Get(), t->entityName.Get());
  EXPECT_NE(copy->PeekReason(), t->PeekReason());
  // Changing the copy's nested object leaves the source alone.
  const_cast<Movel::LocalizableMessage*>(copy->PeekDescription())->SetKey("task.destroy");
  EXPECT_EQ(t->PeekDescription()->GetKey(), "task.rename");
  EXPECT_FALSE(Movel::AreEqualAnysInt(t, copy, 0, false));
  // A copy holds its own references: the source can go first.
  t = nullptr;
  EXPECT_EQ(copy->PeekLocked()->GetLength(), 2);
  EXPECT_EQ(copy->PeekTask()->GetId(), "task-17");
}

TEST(DataObject, CopyKeepsUnsetOptionalsUnset) {
  Ref<Kor::TaskInfo> t(new Kor::TaskInfo());
  Ref<Kor::TaskInfo> copy(static_cast<Kor::TaskInfo*>(t->_Clone()));
  EXPECT_FALSE(copy->progress.IsSet());
  EXPECT_EQ(copy->progress.GetValue(), 0);
  EXPECT_EQ(copy->entityName, nullptr);
  EXPECT_EQ(copy->PeekLocked(), nullptr);
}

TEST(DataObject, GetCreatesOneArrayUnderConcurrentCallers) {
  for (int round = 0; round < 20; ++round) {
    Ref<Kor::TaskInfo> t(new Kor::TaskInfo());
    std::atomic<bool> go{false};
    std::vector<Movel::DataArray<Movel::MoRef>*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
      threads.emplace_back([&, i] {
        while (!go.load()) {
        }
        seen[i] = t->GetLocked();
      });
    }
    go = true;
    for (auto& th : threads) th.join();
    for (auto* s : seen) ASSERT_EQ(s, seen[0]);
    Ref<Movel::DataArray<Movel::MoRef>> held(seen[0]);
    EXPECT_EQ(held->GetRefCount(), 2);  // the member's and ours: losers were released
    t = nullptr;
    EXPECT_EQ(held->GetRefCount(), 1);
  }
}

TEST(DataObject, AccessorsAndPeekOfEmptyArrays) {
  Ref<Kor::TaskInfo> t(new Kor::TaskInfo());
  const Movel::DataTypeInfo* rec = Movel::GetDoType<Kor::TaskInfo>()->GetRecord();
  Movel::DataArray<Movel::MoRef>* locked = t->GetLocked();
  EXPECT_EQ(t->GetLocked(), locked);
  EXPECT_EQ(t->PeekLocked(), nullptr);  // present but empty
  EXPECT_FALSE(rec->propIsSet(t, 7));

  Ref<Movel::MoRef> task = MoRefOf("kor.Task", "task-1");
  t->SetTask(task);
  EXPECT_EQ(task->GetRefCount(), 2);
  t->SetTask(task);  // the object already held
  EXPECT_EQ(task->GetRefCount(), 2);
  Ref<Movel::MoRef> other = MoRefOf("kor.Task", "task-2");
  t->SwapTask(&other);
  EXPECT_EQ(other.Get(), task.Get());
  EXPECT_EQ(t->PeekTask()->GetId(), "task-2");
  EXPECT_EQ(task->GetRefCount(), 2);  // moved into `other`, no count change
}

TEST(DataObject, PropertyFunctionsByIndex) {
  Ref<Kor::TaskInfo> t = MakeTask();
  const Movel::DataTypeInfo* rec = Movel::GetDoType<Kor::TaskInfo>()->GetRecord();

  std::string key;
  rec->propGet(t, 0, &key);
  EXPECT_EQ(key, "task-17");
  EXPECT_EQ(*static_cast<const std::string*>(rec->propPeek(t, 6)), "Datacenters");
  EXPECT_EQ(*static_cast<const int*>(rec->propPeek(t, 13)), 40);

  // propSet with an object of the wrong class throws and keeps the old value.
  const Movel::Any* oldReason = t->PeekReason();
  Ref<Movel::MoRef> wrong = MoRefOf("kor.Task", "task-9");
  Movel::Any* in = wrong.Get();
  EXPECT_THROW(rec->propSet(t, 14, &in), Basekit::TypeMismatchException);
  EXPECT_EQ(t->PeekReason(), oldReason);
  Ref<Kor::AboutInfo> notAMoRef(new Kor::AboutInfo());
  in = notAMoRef.Get();
  EXPECT_THROW(rec->propSet(t, 1, &in), Basekit::TypeMismatchException);
  EXPECT_EQ(t->PeekTask()->GetId(), "task-17");
  // Null is accepted and clears.
  in = nullptr;
  rec->propSet(t, 14, &in);
  EXPECT_EQ(t->PeekReason(), nullptr);
  EXPECT_FALSE(rec->propIsSet(t, 14));
  // The result is any value: taken unchecked.
  Ref<Kor::AboutInfo> about(new Kor::AboutInfo());
  in = about.Get();
  rec->propSet(t, 12, &in);
  EXPECT_EQ(t->PeekResult(), about.Get());

  // Reading an absent array through propGet creates it.
  Ref<Kor::TaskInfo> fresh(new Kor::TaskInfo());
  Ref<Movel::Any> array;
  rec->propGet(fresh, 7, &array);
  ASSERT_NE(array.Get(), nullptr);
  EXPECT_EQ(array.Get(), fresh->GetLocked());

  // An index past the own properties changes nothing.
  int value = 77;
  rec->propSet(t, 23, &value);
  rec->propGet(t, 23, &value);
  rec->propUnset(t, 23);
  EXPECT_EQ(value, 77);
  EXPECT_EQ(rec->propPeek(t, 23), nullptr);
  EXPECT_TRUE(rec->propIsSet(t, 23));

  // propUnset acts on optional properties only.
  rec->propUnset(t, 0);
  EXPECT_EQ(t->key, "task-17");
  rec->propUnset(t, 1);
  EXPECT_NE(t->PeekTask(), nullptr);
  rec->propUnset(t, 13);
  EXPECT_FALSE(t->progress.IsSet());
  rec->propUnset(t, 6);
  EXPECT_EQ(t->entityName, nullptr);
  rec->propUnset(t, 7);
  EXPECT_EQ(t->PeekLocked(), nullptr);

  // propSwap exchanges with the slot, checking the incoming class first.
  Ref<Movel::Any> slot(MoRefOf("kor.Task", "task-99").Get());
  rec->propSwap(t, 1, &slot);
  EXPECT_EQ(t->PeekTask()->GetId(), "task-99");
  EXPECT_EQ(static_cast<Movel::MoRef*>(slot.Get())->GetId(), "task-17");
  Ref<Movel::Any> bad(new Kor::AboutInfo());
  EXPECT_THROW(rec->propSwap(t, 1, &bad), Basekit::TypeMismatchException);
  EXPECT_EQ(t->PeekTask()->GetId(), "task-99");
}

TEST(Equality, LenientHoldsInOneDirectionOnly) {
  Ref<Kor::TaskInfo> set = MakeTask();
  Ref<Kor::TaskInfo> unset(static_cast<Kor::TaskInfo*>(set->_Clone()));
  set->progress = 50;
  unset->progress.Unset();
  EXPECT_TRUE(set->_IsEqual(unset, true));
  EXPECT_FALSE(unset->_IsEqual(set, true));
  EXPECT_FALSE(set->_IsEqual(unset, false));
  EXPECT_FALSE(unset->_IsEqual(set, false));

  // Two default objects of a class with only string properties are equal.
  Ref<Kor::AboutInfo> a(new Kor::AboutInfo()), b(new Kor::AboutInfo());
  EXPECT_TRUE(a->_IsEqual(b, false));
  Movel::PropertyDiffSet none;
  a->_DiffProperties(b, "about", none);
  EXPECT_TRUE(none.empty());
}

TEST(Equality, NanNeverEqualsAndSameInstantDoes) {
  Ref<Kor::DrsStatsManager::InjectorWorkload> w1(new Kor::DrsStatsManager::InjectorWorkload());
  w1->readRatio = std::numeric_limits<double>::quiet_NaN();
  Ref<Kor::DrsStatsManager::InjectorWorkload> w2(static_cast<Kor::DrsStatsManager::InjectorWorkload*>(w1->_Clone()));
  EXPECT_FALSE(w1->_IsEqual(w2, false));
  Movel::PropertyDiffSet diff;
  w1->_DiffProperties(w2, "w", diff);
  EXPECT_EQ(Paths(diff), std::vector<std::string>{"w.readRatio"});

  Ref<Kor::Event::Event> e1(new Kor::Event::Event()), e2(new Kor::Event::Event());
  e1->createdTime = Basekit::System::DateTime::FromCivil(2026, 12, 5, 19, 0, 0, 0, 60);
  e2->createdTime = Basekit::System::DateTime::FromCivil(2026, 12, 5, 18, 0, 0, 0, 0);
  EXPECT_TRUE(e1->_IsEqual(e2, false));
  e2->createdTime = Basekit::System::DateTime::FromCivil(2026, 12, 5, 19, 0, 0, 0, 0);
  EXPECT_FALSE(e1->_IsEqual(e2, false));
}

Ref<Kor::Event::AccountCreatedEvent> MakeAccountEvent() {
  Ref<Kor::Host::LocalAccountManager::AccountSpecification> spec(
      new Kor::Host::LocalAccountManager::AccountSpecification("ops", std::string("s3cret"),
                                                              Basekit::Optional<std::string>()));
  Ref<Kor::Event::HostEventArgument> host(new Kor::Event::HostEventArgument());
  host->name = "hv-01";
  Ref<Kor::Event::AccountCreatedEvent> e(new Kor::Event::AccountCreatedEvent(
      41, 40, Basekit::System::DateTime::FromCivil(2026, 12, 5), "root", nullptr, nullptr, host,
      nullptr, nullptr, nullptr, nullptr, std::string("Account ops created"), Basekit::Optional<std::string>(),
      spec, true));
  return e;
}

TEST(Difference, PathsBaseFirstInMemberOrderWithNestedLeaves) {
  Ref<Kor::Event::AccountCreatedEvent> a = MakeAccountEvent();
  EXPECT_EQ(a->key, 41);
  EXPECT_EQ(a->PeekSpec()->id, "ops");
  EXPECT_TRUE(a->group);
  Ref<Kor::Event::AccountCreatedEvent> b(static_cast<Kor::Event::AccountCreatedEvent*>(a->_Clone()));
  EXPECT_TRUE(a->_IsEqual(b, false));

  b->group = false;
  Movel::PropertyDiffSet onlyGroup;
  a->_DiffProperties(b, "event", onlyGroup);
  EXPECT_EQ(Paths(onlyGroup), std::vector<std::string>{"event.group"});

  b->key = 42;
  const_cast<Kor::Host::LocalAccountManager::AccountSpecification*>(b->PeekSpec())->id = "dev";
  const_cast<Kor::Event::HostEventArgument*>(b->PeekHost())->name = "hv-02";
  Movel::SetOptionalString(b->changeTag, "t1");
  Movel::PropertyDiffSet diff;
  a->_DiffProperties(b, "event", diff);
  EXPECT_EQ(Paths(diff), (std::vector<std::string>{"event.key", "event.host.name", "event.changeTag",
                                                   "event.spec.id", "event.group"}));
  // A null on one side only is a change of that property.
  b->SetSpec(nullptr);
  Movel::PropertyDiffSet nulls;
  a->_DiffProperties(b, "e", nulls);
  EXPECT_EQ(Paths(nulls).at(3), "e.spec");
}

TEST(Difference, ArrayOfObjectsNamesTheChangedElementByIndex) {
  using Workload = Kor::DrsStatsManager::InjectorWorkload;
  Ref<Workload> a(new Workload());
  for (int i = 0; i < 3; ++i) {
    Ref<Workload::DatastoreCorrelation> c(new Workload::DatastoreCorrelation());
    c->state = Workload::CorrelationState::correlated;
    a->GetCorrelation()->Append(c);
  }
  Ref<Workload> b(static_cast<Workload*>(a->_Clone()));
  b->GetCorrelation()->Get(1)->state = Workload::CorrelationState::uncorrelated;
  Movel::PropertyDiffSet diff;
  a->_DiffProperties(b, "w", diff);
  EXPECT_EQ(Paths(diff), std::vector<std::string>{"w.correlation[1].state"});
  b->GetCorrelation()->Append(new Workload::DatastoreCorrelation());
  Movel::PropertyDiffSet longer;
  a->_DiffProperties(b, "w", longer);
  EXPECT_EQ(Paths(longer), std::vector<std::string>{"w.correlation"});
}

TEST(Size, GrowsWithOwnedMemoryButNotBinaryBytes) {
  Ref<Kor::AboutInfo> about(new Kor::AboutInfo());
  unsigned empty = about->_GetSize(&Identity);
  about->name = "short";
  EXPECT_EQ(about->_GetSize(&Identity), empty);  // still in the inline buffer
  about->fullName.assign(200, 'x');
  EXPECT_GE(about->_GetSize(&Identity), empty + 200);
  EXPECT_EQ(about->_GetSize(&Granule) % 16, 0u);
  unsigned before = about->_GetSize(&Identity);
  Movel::SetOptionalString(about->instanceUuid, "u");
  EXPECT_EQ(about->_GetSize(&Identity), before + sizeof(std::string));

  Ref<Kor::Event::AccountCreatedEvent> e = MakeAccountEvent();
  unsigned withSpec = e->_GetSize(&Identity);
  unsigned specSize = e->PeekSpec()->_GetSize(&Identity);
  e->SetSpec(nullptr);
  EXPECT_EQ(e->_GetSize(&Identity), withSpec - specSize);

  Ref<Kor::Dvs::InheritedOpaqueData> opaque(new Kor::Dvs::InheritedOpaqueData());
  unsigned small = opaque->_GetSize(&Identity);
  opaque->binaryData.assign(4096, 0xAB);
  EXPECT_EQ(opaque->_GetSize(&Identity), small);
  EXPECT_GT(small, Ref<Kor::Dvs::OpaqueData>(new Kor::Dvs::OpaqueData())->_GetSize(&Identity));
}

TEST(ArraysAndBoxes, OrderSensitiveEqualityAndWholeArrayDiff) {
  using State = Kor::TaskInfo::State;
  Ref<Movel::Array<State>> a(new Movel::Array<State>()), b(new Movel::Array<State>());
  a->Append(State::queued);
  a->Append(State::error);
  b->Append(State::error);
  b->Append(State::queued);
  EXPECT_FALSE(Movel::AreEqualAnysInt(a, b, 0, false));
  Movel::PropertyDiffSet diff;
  Movel::DiffAnyPropertiesInt(a, b, "states", 1, diff);
  EXPECT_EQ(Paths(diff), std::vector<std::string>{"states"});
  EXPECT_EQ(a->_GetType(), Movel::GetEnumType<State>()->GetArrayType());

  Ref<Movel::Primitive<State>> box(new Movel::Primitive<State>(State::success));
  EXPECT_EQ(box->_Clone(), box.Get());
  EXPECT_EQ(box->_GetType(), Movel::GetEnumType<State>());
  Ref<Movel::Primitive<int>> number(new Movel::Primitive<int>(2));
  EXPECT_THROW(box->_IsEqual(number, false), Basekit::TypeMismatchException);
}

TEST(Enumerations, EveryValueRoundTripsThroughItsWireString) {
  int enums = 0;
  for (Movel::Type* type : Movel::GetAllTypes()) {
    auto* e = dynamic_cast<Movel::EnumType*>(type);
    if (!e || e->GetName().rfind("kor.", 0) != 0) continue;
    ++enums;
    const Movel::EnumFuncs& f = e->GetFuncs();
    Ref<Movel::Any> names;
    Ref<Movel::Any> values(f.createEnumArray());
    for (size_t i = 0; i < e->GetValues().size(); ++i) {
      const std::string& name = e->ToName(static_cast<int>(i));
      EXPECT_EQ(e->ToInt(name), static_cast<int>(i));
      Ref<Movel::Any> boxed(f.boxValue(static_cast<int>(i)));
      EXPECT_EQ(boxed->_GetType(), e);
      EXPECT_EQ(f.unboxValue(boxed), static_cast<int>(i));
    }
    Ref<Movel::Array<std::string>> strings(new Movel::Array<std::string>());
    for (const std::string& v : e->GetValues()) strings->Append(v);
    Ref<Movel::Any> converted(f.arrayFromNames(strings, e));
    f.namesFromArray(converted, names, e);
    EXPECT_TRUE(Movel::AreEqualAnysInt(names, strings, 0, false)) << e->GetName();
    Ref<Movel::Array<std::string>> unknown(new Movel::Array<std::string>());
    unknown->Append("no-such-value");
    EXPECT_THROW(Ref<Movel::Any>(f.arrayFromNames(unknown, e)), Movel::InvalidEnumValue);
  }
  EXPECT_GE(enums, 5);
  // Unboxing checks the box class: an int box is not an enumeration value.
  Ref<Movel::Any> number(new Movel::Primitive<int>(1));
  EXPECT_THROW(Movel::GetEnumType<Kor::TaskInfo::State>()->GetFuncs().unboxValue(number),
               Basekit::TypeMismatchException);
}

TEST(Faults, ThrownFaultIsCaughtAsAncestorsException) {
  Ref<Kor::Fault::InvalidState> fault(new Kor::Fault::InvalidState());
  try {
    fault->Throw();
  } catch (const Kor::Fault::KorFault::Exception& e) {
    EXPECT_EQ(e.GetFault(), fault.Get());
    EXPECT_NE(dynamic_cast<const Kor::Fault::InvalidState::Exception*>(&e), nullptr);
  }
  try {
    fault->Throw();
  } catch (const Movel::MethodFault::Exception& e) {
    EXPECT_EQ(e.GetFault()->_GetType(), Movel::GetDoType<Kor::Fault::InvalidState>());
  }
  Kor::Fault::InvalidState::Exception ex(fault);
  std::unique_ptr<Basekit::Exception> copy(ex.Clone());
  EXPECT_THROW(copy->Rethrow(), Kor::Fault::InvalidState::Exception);
  EXPECT_THROW(ex.Throw(), Basekit::Exception);
  EXPECT_EQ(Movel::GetDoType<Kor::Fault::InvalidState>()->GetKind(), Movel::kTypeKindFault);
}

}  // namespace
