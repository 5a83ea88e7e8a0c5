// Type information across the library boundary. Objects, arrays, boxes,
// stubs and exceptions made by code inside libkor-types are recognised here
// by dynamic_cast, typeid and catch, and objects made here are recognised by
// the library's own checked casts. This program is separate from the
// library, so a change of symbol visibility that hid the classes' type
// information would show here first.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <typeinfo>

#include "kortypes/kortypes.h"
#include "kortypes/stub_factory.h"
#include "movel/inprocess.h"

namespace {

using Basekit::Ref;

// The dynamic class of an object. typeid of a named reference, so compilers
// that warn about typeid evaluating a call (as clang does) build these tests.
template <class X>
const std::type_info& DynamicClass(const X& x) {
  return typeid(x);
}

// An object of class T made by the library's own creator for T.
template <class T>
Ref<Movel::Any> MadeInside() {
  Movel::DataObject* made = Movel::GetDoType<T>()->CreateInstance();
  return Ref<Movel::Any>(made);
}

template <class T>
void ExpectRecognised(const char* name) {
  SCOPED_TRACE(name);
  Ref<Movel::Any> made = MadeInside<T>();
  ASSERT_NE(made.Get(), nullptr);
  EXPECT_TRUE(DynamicClass(*made) == typeid(T));
  EXPECT_NE(dynamic_cast<T*>(made.Get()), nullptr);
  EXPECT_NE(dynamic_cast<Movel::DataObject*>(made.Get()), nullptr);
  // A copy made inside the library is of the same class.
  Ref<Movel::Any> copy(made->_Clone());
  EXPECT_TRUE(DynamicClass(*copy) == typeid(T));
  EXPECT_NE(dynamic_cast<T*>(copy.Get()), nullptr);
  // So is an array made by the type's array creator.
  Ref<Movel::Any> array(Movel::GetDoType<T>()->CreateArrayInstance());
  EXPECT_TRUE(DynamicClass(*array) == typeid(Movel::DataArray<T>));
  EXPECT_NE(dynamic_cast<Movel::DataArray<T>*>(array.Get()), nullptr);
}

TEST(CrossBoundaryTypes, DataObjectsMadeInsideTheLibraryAreTheirClassesHere) {
  ExpectRecognised<Kor::AboutInfo>("kor.AboutInfo");
  ExpectRecognised<Kor::TaskInfo>("kor.TaskInfo");
  ExpectRecognised<Kor::Event::AccountCreatedEvent>("kor.event.AccountCreatedEvent");
  ExpectRecognised<Kor::Host::LocalAccountManager::AccountSpecification>(
      "kor.host.LocalAccountManager.AccountSpecification");
  ExpectRecognised<Kor::Dvs::InheritedOpaqueData>("kor.dvs.InheritedOpaqueData");
  ExpectRecognised<Kor::Fault::InvalidPowerState>("kor.fault.InvalidPowerState");

  // Casts to ancestors succeed, casts to unrelated classes fail.
  Ref<Movel::Any> event = MadeInside<Kor::Event::AccountCreatedEvent>();
  EXPECT_NE(dynamic_cast<Kor::Event::HostEvent*>(event.Get()), nullptr);
  EXPECT_NE(dynamic_cast<Kor::Event::Event*>(event.Get()), nullptr);
  EXPECT_EQ(dynamic_cast<Kor::TaskInfo*>(event.Get()), nullptr);
  EXPECT_FALSE(DynamicClass(*event) == typeid(Kor::Event::Event));
  Ref<Movel::Any> fault = MadeInside<Kor::Fault::InvalidPowerState>();
  EXPECT_NE(dynamic_cast<Kor::Fault::InvalidState*>(fault.Get()), nullptr);
  EXPECT_NE(dynamic_cast<Kor::Fault::KorFault*>(fault.Get()), nullptr);
  EXPECT_NE(dynamic_cast<Movel::MethodFault*>(fault.Get()), nullptr);
  EXPECT_EQ(dynamic_cast<Movel::RuntimeFault*>(fault.Get()), nullptr);
  EXPECT_EQ(dynamic_cast<Kor::Fault::TaskInProgress*>(fault.Get()), nullptr);
}

TEST(CrossBoundaryTypes, EnumerationBoxesAndArraysMadeInsideTheLibraryAreTheirClassesHere) {
  using State = Kor::TaskInfo::State;
  const Movel::EnumFuncs& f = Movel::GetEnumType<State>()->GetFuncs();
  Ref<Movel::Any> box(f.boxValue(static_cast<int>(State::running)));
  EXPECT_TRUE(DynamicClass(*box) == typeid(Movel::Primitive<State>));
  auto* typedBox = dynamic_cast<Movel::Primitive<State>*>(box.Get());
  ASSERT_NE(typedBox, nullptr);
  EXPECT_EQ(typedBox->GetValue(), State::running);
  EXPECT_EQ(dynamic_cast<Movel::Primitive<int>*>(box.Get()), nullptr);
  Ref<Movel::Any> array(f.createEnumArray());
  EXPECT_TRUE(DynamicClass(*array) == typeid(Movel::Array<State>));
  EXPECT_NE(dynamic_cast<Movel::Array<State>*>(array.Get()), nullptr);
  EXPECT_EQ(dynamic_cast<Movel::Array<Kor::ManagedEntity::Status>*>(array.Get()), nullptr);
}

TEST(CrossBoundaryTypes, ObjectsMadeHereAreTheirClassesInsideTheLibrary) {
  // The library's checked casts (property functions) accept objects of the
  // right class made here and refuse others.
  Ref<Kor::TaskInfo> task(new Kor::TaskInfo());
  const Movel::DataObjectType* taskType = Movel::GetDoType<Kor::TaskInfo>();
  const Movel::Property* reason = taskType->FindProperty("reason");
  ASSERT_NE(reason, nullptr);
  Ref<Kor::TaskReasonUser> user(new Kor::TaskReasonUser());  // a subclass of kor.TaskReason
  Movel::Any* in = user.Get();
  taskType->GetRecord()->propSet(task, reason->GetIndex(), &in);
  EXPECT_EQ(task->PeekReason(), user.Get());
  Ref<Kor::AboutInfo> wrong(new Kor::AboutInfo());
  in = wrong.Get();
  EXPECT_THROW(taskType->GetRecord()->propSet(task, reason->GetIndex(), &in),
               Basekit::TypeMismatchException);
  EXPECT_EQ(task->PeekReason(), user.Get());

  // Arrays instantiated in this program: of data objects and of an enumeration.
  using Workload = Kor::DrsStatsManager::InjectorWorkload;
  Ref<Workload> workload(new Workload());
  const Movel::Property* correlation =
      Movel::GetDoType<Workload>()->FindProperty("correlation");
  ASSERT_NE(correlation, nullptr);
  Ref<Movel::DataArray<Workload::DatastoreCorrelation>> items(
      new Movel::DataArray<Workload::DatastoreCorrelation>());
  items->Append(new Workload::DatastoreCorrelation());
  in = items.Get();
  Movel::GetDoType<Workload>()->GetRecord()->propSet(workload, correlation->GetIndex(), &in);
  EXPECT_EQ(workload->PeekCorrelation(), items.Get());
  Ref<Movel::DataArray<Kor::AboutInfo>> otherItems(new Movel::DataArray<Kor::AboutInfo>());
  in = otherItems.Get();
  EXPECT_THROW(
      Movel::GetDoType<Workload>()->GetRecord()->propSet(workload, correlation->GetIndex(), &in),
      Basekit::TypeMismatchException);

  Ref<Kor::TaskFilterSpec> filter(new Kor::TaskFilterSpec());
  const Movel::Property* state = Movel::GetDoType<Kor::TaskFilterSpec>()->FindProperty("state");
  ASSERT_NE(state, nullptr);
  Ref<Movel::Array<Kor::TaskInfo::State>> states(
      new Movel::Array<Kor::TaskInfo::State>{Kor::TaskInfo::State::error});
  in = states.Get();
  Movel::GetDoType<Kor::TaskFilterSpec>()->GetRecord()->propSet(filter, state->GetIndex(), &in);
  EXPECT_EQ(filter->PeekState(), states.Get());
  Ref<Movel::Array<int>> numbers(new Movel::Array<int>{1});
  in = numbers.Get();
  EXPECT_THROW(
      Movel::GetDoType<Kor::TaskFilterSpec>()->GetRecord()->propSet(filter, state->GetIndex(), &in),
      Basekit::TypeMismatchException);

  // A copy made inside the library of an object made here keeps every class.
  Ref<Kor::TaskInfo> copy(static_cast<Kor::TaskInfo*>(task->_Clone()));
  EXPECT_TRUE(DynamicClass(*copy->PeekReason()) == typeid(Kor::TaskReasonUser));
  Ref<Workload> workloadCopy(static_cast<Workload*>(workload->_Clone()));
  EXPECT_TRUE(DynamicClass(*workloadCopy->PeekCorrelation()) ==
              typeid(Movel::DataArray<Workload::DatastoreCorrelation>));
}

// --- managed objects --------------------------------------------------------------

struct Server {
  Ref<Movel::LocalServer> server{new Movel::LocalServer()};
  Ref<Movel::LocalStubAdapter> adapter{new Movel::LocalStubAdapter(server)};
};

TEST(CrossBoundaryTypes, StubsMadeInsideTheLibraryCastToTheirManagedInterfacesHere) {
  Server s;
  // By a factory...
  Ref<Kor::HostSystem> host = Kor::GetMoStubFactory()->CreateHostSystem("host-7", s.adapter);
  ASSERT_NE(host.Get(), nullptr);
  EXPECT_TRUE(DynamicClass(*host) == typeid(Kor::HostSystemStub));
  Basekit::Object* asObject = host.Get();
  EXPECT_NE(dynamic_cast<Kor::HostSystem*>(asObject), nullptr);
  EXPECT_NE(dynamic_cast<Kor::ManagedEntity*>(asObject), nullptr);
  EXPECT_NE(dynamic_cast<Movel::Stub*>(asObject), nullptr);
  EXPECT_EQ(dynamic_cast<Kor::Folder*>(asObject), nullptr);

  // ...by dereferencing a reference...
  Ref<Movel::MoRef> folderRef = Movel::MakeMoRef(Movel::GetMoType<Kor::Folder>(), "group-d1");
  Ref<Movel::Stub> folder = Kor::GetMoStubFactory()->Dereference(folderRef, s.adapter);
  ASSERT_NE(folder.Get(), nullptr);
  EXPECT_TRUE(DynamicClass(*folder) == typeid(Kor::FolderStub));
  EXPECT_NE(dynamic_cast<Kor::Folder*>(folder.Get()), nullptr);
  EXPECT_NE(dynamic_cast<Kor::ManagedEntity*>(folder.Get()), nullptr);
  EXPECT_EQ(dynamic_cast<Kor::HostSystem*>(folder.Get()), nullptr);

  // ...and by the type record's stub creator.
  Ref<Movel::MoRef> vmRef = Movel::MakeMoRef(Movel::GetMoType<Kor::VirtualMachine>(), "vm-3");
  Ref<Movel::Stub> vm(Movel::GetMoType<Kor::VirtualMachine>()->GetRecord()->createStub(
      vmRef, s.adapter, nullptr));
  ASSERT_NE(vm.Get(), nullptr);
  EXPECT_NE(dynamic_cast<Kor::VirtualMachine*>(vm.Get()), nullptr);
  EXPECT_NE(dynamic_cast<Kor::VirtualMachineStub*>(vm.Get()), nullptr);
  EXPECT_EQ(vm->_GetType(), Movel::GetMoType<Kor::VirtualMachine>());
}

TEST(CrossBoundaryTypes, ImplementationsDefinedHereAreTheirInterfacesInsideTheLibrary) {
  struct Entity : Kor::ManagedEntitySkeleton {
    int reloads = 0;
    void Reload() override { ++reloads; }
  };
  Ref<Entity> entity(new Entity());
  Basekit::RefVector<Movel::Any> args;
  Ref<Movel::Any> result;
  // The library's dispatch function narrows its target to the interface.
  const Movel::DispatchFn dispatch = Movel::GetMoType<Kor::ManagedEntity>()->GetRecord()->dispatch;
  const Movel::ManagedMethod* reload =
      Movel::GetMoType<Kor::ManagedEntity>()->FindMethod("reload");
  ASSERT_NE(reload, nullptr);
  dispatch(entity, reload->GetIndex(), args, result);
  EXPECT_EQ(entity->reloads, 1);
  // A server object of another interface is refused.
  struct Other : Kor::ExtensibleManagedObjectSkeleton {};
  Ref<Other> other(new Other());
  EXPECT_THROW(dispatch(other, reload->GetIndex(), args, result), Basekit::TypeMismatchException);
}

// --- faults -----------------------------------------------------------------------

TEST(CrossBoundaryFaults, AFaultThrownInsideTheLibraryIsCaughtAsAnAncestorsException) {
  Ref<Movel::Any> made = MadeInside<Kor::Fault::InvalidPowerState>();
  auto* fault = dynamic_cast<Movel::MethodFault*>(made.Get());
  ASSERT_NE(fault, nullptr);
  int caught = 0;
  try {
    fault->Throw();  // the library's Throw, through the runtime's virtual
  } catch (const Kor::Fault::InvalidState::Exception& e) {
    ++caught;
    EXPECT_EQ(e.GetFault(), fault);
    EXPECT_NE(dynamic_cast<const Kor::Fault::InvalidPowerState::Exception*>(&e), nullptr);
    EXPECT_TRUE(typeid(e) == typeid(Kor::Fault::InvalidPowerState::Exception));
  }
  try {
    fault->Throw();
  } catch (const Kor::Fault::KorFault::Exception& e) {
    ++caught;
    EXPECT_TRUE(DynamicClass(*e.GetFault()) == typeid(Kor::Fault::InvalidPowerState));
  }
  try {
    fault->Throw();
  } catch (const Movel::MethodFault::Exception&) {
    ++caught;
  }
  EXPECT_EQ(caught, 3);
  // Not as an unrelated fault's.
  bool wrongCatch = false;
  try {
    try {
      fault->Throw();
    } catch (const Kor::Fault::TaskInProgress::Exception&) {
      wrongCatch = true;
    }
  } catch (const Basekit::Exception&) {
  }
  EXPECT_FALSE(wrongCatch);

  // Copies and rethrows made inside the library keep the class too.
  try {
    fault->Throw();
  } catch (const Movel::MethodFault::Exception& e) {
    std::unique_ptr<Basekit::Exception> copy(e.Clone());
    EXPECT_TRUE(DynamicClass(*copy) == typeid(Kor::Fault::InvalidPowerState::Exception));
    EXPECT_THROW(copy->Rethrow(), Kor::Fault::InvalidState::Exception);
    EXPECT_THROW(e.Throw(), Kor::Fault::KorFault::Exception);
  }
}

TEST(CrossBoundaryFaults, FaultsOfRemoteCallsReachTheCallerAsTheirClasses) {
  // The server's object raises a fault made inside the library; the call
  // goes out and back through the library's stub and dispatch code.
  struct Entity : Kor::ManagedEntitySkeleton {
    void Destroy(Ref<Movel::MoRef>&) override {
      Ref<Movel::Any> made = MadeInside<Kor::Fault::InvalidPowerState>();
      static_cast<Movel::MethodFault*>(made.Get())->Throw();
    }
  };
  Server s;
  Ref<Entity> entity(new Entity());
  s.server->Register(entity, "entity-1");
  Ref<Kor::ManagedEntityStub> stub(new Kor::ManagedEntityStub(entity->_GetRef(), s.adapter, nullptr));
  Ref<Movel::MoRef> task;
  bool caught = false;
  try {
    stub->Destroy(task);
  } catch (const Kor::Fault::KorFault::Exception& e) {
    caught = true;
    EXPECT_TRUE(DynamicClass(*e.GetFault()) == typeid(Kor::Fault::InvalidPowerState));
    EXPECT_EQ(e.GetFault()->_GetType(), Movel::GetDoType<Kor::Fault::InvalidPowerState>());
  }
  EXPECT_TRUE(caught);

  // An operation the skeleton does not serve answers the runtime's
  // NotSupported, caught here by its parent's exception.
  caught = false;
  try {
    stub->Reload();
  } catch (const Movel::RuntimeFault::Exception& e) {
    caught = true;
    EXPECT_TRUE(DynamicClass(*e.GetFault()) == typeid(Movel::Fault::NotSupported));
  }
  EXPECT_TRUE(caught);

  // Asynchronously the fault arrives as a Basekit::Exception pointer; it is
  // still the fault's own exception class.
  std::atomic<bool> sawClass{false};
  std::unique_ptr<Basekit::Exception> kept;
  Ref<Basekit::System::ScheduledItem> item;
  stub->Destroy(
      [&](Basekit::System::ScheduledItem*, Basekit::Exception* e, Movel::Any*) {
        sawClass = dynamic_cast<Kor::Fault::InvalidState::Exception*>(e) != nullptr;
        if (e) kept.reset(e->Clone());
      },
      item);
  ASSERT_NE(item.Get(), nullptr);
  item->Wait();
  EXPECT_TRUE(sawClass);
  ASSERT_NE(kept, nullptr);
  EXPECT_THROW(kept->Rethrow(), Kor::Fault::InvalidPowerState::Exception);
}

}  // namespace
