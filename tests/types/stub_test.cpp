// Managed objects end to end: generated dispatch and stubs over the
// in-process server, and the stub factories.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "kortypes/kortypes.h"
#include "kortypes/stub_factory.h"
#include "movel/inprocess.h"

namespace {

using Basekit::Ref;
using Basekit::RefVector;

// A service instance that records what reached it.
class TestServiceInstance : public Kor::ServiceInstanceSkeleton {
 public:
  int calls = 0;
  bool sawStateSet = false;
  bool sawPool = false;
  int sawVms = -1;
  bool answerNullArray = false;
  Ref<Movel::Any> wrongAnswer;

  Basekit::System::DateTime CurrentTime() override {
    ++calls;
    return Basekit::System::DateTime::FromCivil(2026, 12, 5, 18, 30, 0);
  }
  void RetrieveContent(Ref<Kor::ServiceInstanceContent>& result) override {
    ++calls;
    Ref<Kor::ServiceInstanceContent> content(new Kor::ServiceInstanceContent());
    Ref<Kor::AboutInfo> about(new Kor::AboutInfo());
    about->name = "kor test server";
    about->apiVersion = "6.0";
    content->SetAbout(about);
    content->SetRootFolder(Movel::MakeMoRef(Movel::GetMoType<Kor::Folder>(), "group-d1"));
    result = content;
  }
  void ValidateMigration(Movel::DataArray<Movel::MoRef>* vm,
                         const Basekit::Optional<Kor::VirtualMachine::PowerState>& state,
                         Movel::Array<std::string>*, Movel::MoRef* pool, Movel::MoRef*,
                         Ref<Movel::DataArray<Kor::Event::Event>>& result) override {
    ++calls;
    sawStateSet = state.IsSet();
    sawPool = pool != nullptr;
    sawVms = vm ? vm->GetLength() : -1;
    if (answerNullArray) return;
    result = new Movel::DataArray<Kor::Event::Event>();
    result->Append(new Kor::Event::Event());
  }
};

// The server answers a content request with an object of the wrong class.
class WrongAnswerAdapter : public Movel::StubAdapter {
 public:
  void Invoke(Movel::MoRef*, Movel::ManagedMethod*, RefVector<Movel::Any>&, Movel::RequestContext*,
              Ref<Movel::Any>& result) override {
    result = new Kor::AboutInfo();
  }
  void StartInvoke(Movel::MoRef*, Movel::ManagedMethod*, RefVector<Movel::Any>&,
                   Movel::RequestContext*, const Movel::Completion&,
                   Ref<Basekit::System::ScheduledItem>&) override {}
};

struct Server {
  Ref<Movel::LocalServer> server{new Movel::LocalServer()};
  Ref<Movel::LocalStubAdapter> adapter{new Movel::LocalStubAdapter(server)};
  Ref<TestServiceInstance> impl{new TestServiceInstance()};
  Server() { server->Register(impl, "ServiceInstance"); }
};

const Movel::DispatchFn kDispatch = [] {
  return Movel::GetMoType<Kor::ServiceInstance>()->GetRecord()->dispatch;
}();

TEST(Dispatch, IndexOutOfRangeCallsNothingAndClearsTheResult) {
  Ref<TestServiceInstance> impl(new TestServiceInstance());
  RefVector<Movel::Any> args;
  Ref<Movel::Any> result(new Movel::Primitive<int>(1));
  kDispatch(impl, 9, args, result);  // nine entries: 0..8
  EXPECT_EQ(result.Get(), nullptr);
  EXPECT_EQ(impl->calls, 0);
  kDispatch(impl, -1, args, result);
  EXPECT_EQ(impl->calls, 0);
  // A method without result leaves the slot empty even if it held a value.
  const Movel::DispatchFn entityDispatch = Movel::GetMoType<Kor::ManagedEntity>()->GetRecord()->dispatch;
  struct Entity : Kor::ManagedEntitySkeleton {
    int reloads = 0;
    void Reload() override { ++reloads; }
  };
  Ref<Entity> entity(new Entity());
  result = new Movel::Primitive<int>(2);
  entityDispatch(entity, 0, args, result);
  EXPECT_EQ(entity->reloads, 1);
  EXPECT_EQ(result.Get(), nullptr);
}

TEST(Dispatch, NullSlotsReachTheImplementationUnsetOrNull) {
  Ref<TestServiceInstance> impl(new TestServiceInstance());
  RefVector<Movel::Any> args(5);
  Ref<Movel::Any> result;
  kDispatch(impl, 3, args, result);
  EXPECT_EQ(impl->calls, 1);
  EXPECT_FALSE(impl->sawStateSet);
  EXPECT_FALSE(impl->sawPool);
  EXPECT_EQ(impl->sawVms, -1);
  args[1] = new Movel::Primitive<Kor::VirtualMachine::PowerState>(Kor::VirtualMachine::PowerState::poweredOn);
  kDispatch(impl, 3, args, result);
  EXPECT_TRUE(impl->sawStateSet);
  ASSERT_NE(result.Get(), nullptr);
  EXPECT_EQ(dynamic_cast<Movel::DataArray<Kor::Event::Event>*>(result.Get())->GetLength(), 1);
}

TEST(Dispatch, WrongTargetOrArgumentClassIsATypeMismatch) {
  Ref<TestServiceInstance> impl(new TestServiceInstance());
  struct Entity : Kor::ManagedEntitySkeleton {};
  Ref<Entity> notAServiceInstance(new Entity());
  RefVector<Movel::Any> args(5);
  Ref<Movel::Any> result(new Movel::Primitive<int>(3));
  EXPECT_THROW(kDispatch(notAServiceInstance, 0, args, result), Basekit::TypeMismatchException);
  EXPECT_EQ(result.Get(), nullptr);
  // Each enumeration has its own box class: an int box does not fit.
  args[1] = new Movel::Primitive<int>(1);
  EXPECT_THROW(kDispatch(impl, 3, args, result), Basekit::TypeMismatchException);
  EXPECT_EQ(impl->calls, 0);
  EXPECT_EQ(result.Get(), nullptr);
}

TEST(Stubs, RetrieveContentEndToEnd) {
  Server s;
  Ref<Kor::ServiceInstance> si = Kor::GetMoStubFactory()->CreateServiceInstance(s.adapter);
  ASSERT_NE(si.Get(), nullptr);
  EXPECT_NE(dynamic_cast<Kor::ServiceInstanceStub*>(si.Get()), nullptr);
  Ref<Kor::ServiceInstanceContent> content;
  si->RetrieveContent(content);
  ASSERT_NE(content.Get(), nullptr);
  EXPECT_EQ(content->PeekAbout()->name, "kor test server");
  EXPECT_EQ(content->PeekRootFolder()->GetId(), "group-d1");
  EXPECT_EQ(si->CurrentTime(), Basekit::System::DateTime::FromCivil(2026, 12, 5, 18, 30, 0));
  // The factory shortcut does the same round trip.
  EXPECT_EQ(Kor::GetMoStubFactory()->RetrieveContent(s.adapter)->PeekAbout()->apiVersion, "6.0");
  // A reference from the content dereferences to a stub of its own type.
  Ref<Movel::Stub> folder = Kor::GetMoStubFactory()->Dereference(
      const_cast<Movel::MoRef*>(content->PeekRootFolder()), s.adapter);
  EXPECT_NE(dynamic_cast<Kor::FolderStub*>(folder.Get()), nullptr);
}

TEST(Stubs, ArrayAnswersAndWrongClasses) {
  Server s;
  Ref<Kor::ServiceInstance> si = Kor::GetMoStubFactory()->CreateServiceInstance(s.adapter);
  Ref<Movel::DataArray<Movel::MoRef>> vms(new Movel::DataArray<Movel::MoRef>());
  vms->Append(Movel::MakeMoRef(Movel::GetMoType<Kor::VirtualMachine>(), "vm-1"));
  Ref<Movel::DataArray<Kor::Event::Event>> events;
  si->ValidateMigration(vms, Kor::VirtualMachine::PowerState::poweredOff, nullptr, nullptr, nullptr,
                        events);
  EXPECT_EQ(s.impl->sawVms, 1);
  EXPECT_TRUE(s.impl->sawStateSet);
  EXPECT_EQ(events->GetLength(), 1);
  // A null array answer arrives as an empty array.
  s.impl->answerNullArray = true;
  si->ValidateMigration(nullptr, Basekit::Optional<Kor::VirtualMachine::PowerState>(), nullptr, nullptr,
                        nullptr, events);
  ASSERT_NE(events.Get(), nullptr);
  EXPECT_EQ(events->GetLength(), 0);
  EXPECT_FALSE(s.impl->sawStateSet);

  // An answer of the wrong class is rejected; the out-parameter keeps its value.
  Ref<WrongAnswerAdapter> wrong(new WrongAnswerAdapter());
  Ref<Kor::ServiceInstance> confused = Kor::GetMoStubFactory()->CreateServiceInstance(wrong);
  Ref<Kor::ServiceInstanceContent> keep(new Kor::ServiceInstanceContent());
  Kor::ServiceInstanceContent* before = keep.Get();
  EXPECT_THROW(confused->RetrieveContent(keep), Basekit::TypeMismatchException);
  EXPECT_EQ(keep.Get(), before);
}

TEST(Stubs, TaskMethodsDeliverTheTaskReference) {
  struct Entity : Kor::ManagedEntitySkeleton {
    std::string renamedTo;
    void Rename(const std::string& newName, Ref<Movel::MoRef>& result) override {
      renamedTo = newName;
      result = Movel::MakeMoRef(Movel::GetMoType<Kor::Task>(), "task-42");
    }
  };
  Server s;
  Ref<Entity> entity(new Entity());
  s.server->Register(entity, "group-d1");
  Ref<Kor::Folder> folder = Kor::GetMoStubFactory()->CreateRootFolder(s.adapter);
  // Folder's stub reaches the inherited operation through ManagedEntity's
  // method objects; the server object here is a plain managed entity, so
  // the call fails as not found for a folder reference...
  Ref<Movel::MoRef> task;
  EXPECT_THROW(folder->Rename("Root", task), Movel::Fault::ManagedObjectNotFound::Exception);
  // ...and succeeds for the entity's own reference.
  Ref<Kor::ManagedEntityStub> stub(new Kor::ManagedEntityStub(entity->_GetRef(), s.adapter, nullptr));
  stub->Rename("Root", task);
  EXPECT_EQ(entity->renamedTo, "Root");
  ASSERT_NE(task.Get(), nullptr);
  EXPECT_EQ(task->GetId(), "task-42");
  EXPECT_EQ(task->GetType(), Movel::GetMoType<Kor::Task>());
  // Operations the implementation does not serve answer NotSupported.
  EXPECT_THROW(stub->Destroy(task), Movel::Fault::NotSupported::Exception);
  EXPECT_EQ(task->GetId(), "task-42");
}

TEST(Stubs, AsynchronousCallsCompleteWithResultOrFault) {
  Server s;
  Ref<Kor::ServiceInstanceStub> si(new Kor::ServiceInstanceStub("ServiceInstance", s.adapter, nullptr));
  std::atomic<bool> gotResult{false};
  Ref<Basekit::System::ScheduledItem> item;
  si->RetrieveContent(
      [&](Basekit::System::ScheduledItem*, Basekit::Exception* e, Movel::Any* result) {
        auto* content = dynamic_cast<Kor::ServiceInstanceContent*>(result);
        gotResult = e == nullptr && content && content->PeekAbout()->name == "kor test server";
      },
      item);
  ASSERT_NE(item.Get(), nullptr);
  item->Wait();
  EXPECT_TRUE(gotResult);

  std::atomic<bool> gotFault{false};
  si->RetrieveProductComponents(
      [&](Basekit::System::ScheduledItem*, Basekit::Exception* e, Movel::Any* result) {
        gotFault = result == nullptr && dynamic_cast<Movel::Fault::NotSupported::Exception*>(e);
      },
      item);
  item->Wait();
  EXPECT_TRUE(gotFault);
}

TEST(Stubs, MethodConstantsAndMockupFactory) {
  EXPECT_STREQ(Kor::ServiceInstance::METHOD_VALIDATEMIGRATION, "kor.ServiceInstance.validateMigration");
  EXPECT_STREQ(Kor::ManagedEntity::METHOD_RENAME, "kor.ManagedEntity.rename");
  EXPECT_EQ(Kor::GetWellKnownId("kor.PerformanceManager"), "PerfMgr");
  EXPECT_EQ(Kor::GetMoStubFactory(), Kor::GetMoStubFactory());
  Server s;
  Ref<Kor::HostSystem> host = Kor::GetMoMockupStubFactory()->CreateHostSystem("host-7", s.adapter);
  EXPECT_EQ(host->_GetRef()->GetId(), "host-7");
  EXPECT_EQ(host->_GetType(), Movel::GetMoType<Kor::HostSystem>());
  Ref<Kor::Host::StorageSystem> storage = Kor::GetMoStubFactory()->CreateStorageSystem("host-7", s.adapter);
  EXPECT_EQ(storage->_GetRef()->GetId(), "storageSystem-host-7");
  Ref<Movel::Stub> mockup = Kor::GetMoMockupStubFactory()->CreateHostConfigMockupSystem("host-7", s.adapter);
  ASSERT_NE(mockup.Get(), nullptr);
  EXPECT_EQ(mockup->_GetType()->GetName(), "kor.internal.MockupSystem");
  EXPECT_EQ(mockup->_GetRef()->GetId(), "mockupSystem-host-7");
}

// Forwards to an in-process adapter and remembers the method objects used.
class RecordingAdapter : public Movel::StubAdapter {
 public:
  explicit RecordingAdapter(Movel::StubAdapter* next) : next_(next) {}
  std::vector<Movel::ManagedMethod*> methods;
  void Invoke(Movel::MoRef* ref, Movel::ManagedMethod* method, RefVector<Movel::Any>& args,
              Movel::RequestContext* context, Ref<Movel::Any>& result) override {
    methods.push_back(method);
    next_->Invoke(ref, method, args, context, result);
  }
  void StartInvoke(Movel::MoRef* ref, Movel::ManagedMethod* method, RefVector<Movel::Any>& args,
                   Movel::RequestContext* context, const Movel::Completion& callback,
                   Ref<Basekit::System::ScheduledItem>& item) override {
    methods.push_back(method);
    next_->StartInvoke(ref, method, args, context, callback, item);
  }

 private:
  Ref<Movel::StubAdapter> next_;
};

TEST(Stubs, InheritedOperationsUseTheDeclaringTypesMethodObjects) {
  struct Host : Kor::HostSystemSkeleton {
    std::string GetName() override { return "hv-01"; }
    bool CheckCertificateTrusted(const std::string& pem) override { return pem == "trusted"; }
    long long QueryOverhead(long long memory, const Basekit::Optional<int>& video, int cpus) override {
      return memory + (video.IsSet() ? video.GetValue() : -1) + cpus;
    }
  };
  Server s;
  Ref<Host> impl(new Host());
  s.server->Register(impl, "host-1");
  Ref<RecordingAdapter> recorder(new RecordingAdapter(s.adapter));
  Ref<Kor::HostSystem> host = Kor::GetMoStubFactory()->CreateHostSystem("host-1", recorder);
  EXPECT_EQ(host->GetName(), "hv-01");
  EXPECT_TRUE(host->CheckCertificateTrusted("trusted"));
  EXPECT_FALSE(host->CheckCertificateTrusted("other"));
  EXPECT_EQ(host->QueryOverhead(1000, Basekit::Optional<int>(), 2), 1000 - 1 + 2);
  EXPECT_EQ(host->QueryOverhead(1000, 24, 2), 1000 + 24 + 2);
  ASSERT_EQ(recorder->methods.size(), 5u);
  const Movel::ManagedMethod* name = recorder->methods[0];
  EXPECT_EQ(name->GetOwner(), Movel::GetMoType<Kor::ManagedEntity>());
  EXPECT_EQ(name, gKorManagedEntityMethodObjects[name->GetIndex()]);
  EXPECT_TRUE(name->IsPropertyRead());
  EXPECT_EQ(name->GetName(), "name");
  EXPECT_EQ(recorder->methods[1], gKorHostSystemMethodObjects[35]);
  EXPECT_EQ(recorder->methods[3], gKorHostSystemMethodObjects[14]);
  EXPECT_EQ(sizeof(gKorHostSystemMethodObjects) / sizeof(gKorHostSystemMethodObjects[0]), 48u);
  EXPECT_EQ(sizeof(gKorManagedEntityMethodObjects) / sizeof(gKorManagedEntityMethodObjects[0]), 19u);
  EXPECT_EQ(gKorHostSystemMethodObjects[7]->GetName(), "disconnect");
  // Dispatch by index: 14 is QueryOverhead; 48, the entry count, calls nothing.
  const Movel::DispatchFn dispatch = Movel::GetMoType<Kor::HostSystem>()->GetRecord()->dispatch;
  RefVector<Movel::Any> args(3);
  args[0] = new Movel::Primitive<long long>(500);
  args[2] = new Movel::Primitive<int>(4);
  Ref<Movel::Any> result;
  dispatch(impl, 14, args, result);
  ASSERT_NE(result.Get(), nullptr);
  EXPECT_EQ(dynamic_cast<Movel::Primitive<long long>*>(result.Get())->GetValue(), 500 - 1 + 4);
  dispatch(impl, 48, args, result);
  EXPECT_EQ(result.Get(), nullptr);
  EXPECT_EQ(gKorHostSystemMethodObjects[36]->GetName(), "runtime");
  EXPECT_EQ(gKorHostSystemMethodObjects[47]->GetName(), "systemResources");
}

}  // namespace
