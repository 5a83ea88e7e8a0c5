// Stubs calling implementations through the in-process server: a small
// hand-written managed type, written the way generated bindings are.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "movel/builtin.h"
#include "movel/fault.h"
#include "movel/inprocess.h"
#include "movel/primitive.h"
#include "movel/stub.h"

using Basekit::Ref;
using Basekit::RefVector;
using Basekit::System::ScheduledItem;
using namespace Movel;

namespace {

// ---- stubtest.Counter: add(delta) -> int, reset(), property value ----------
// ---- stubtest.BoundedCounter extends it with property limit ----------------

class Counter : public virtual ManagedObject {
 public:
  virtual int Add(int delta) = 0;
  virtual void Reset() = 0;
  virtual int GetValue() = 0;
  ManagedObjectType* _GetType() const override;
};

class BoundedCounter : public virtual Counter {
 public:
  virtual int GetLimit() = 0;
  ManagedObjectType* _GetType() const override;
};

ManagedMethod* gCounterMethods[3];
ManagedMethod* gBoundedMethods[1];

void CounterDispatch(ManagedObject* target, int index, RefVector<Any>& args, Ref<Any>& result) {
  auto* self = dynamic_cast<Counter*>(target);
  switch (index) {
    case 0:
      result = new Primitive<int>(self->Add(NarrowAny<Primitive<int>>(args.at(0))->GetValue()));
      return;
    case 1:
      self->Reset();
      return;
    case 2:
      result = new Primitive<int>(self->GetValue());
      return;
  }
}

void BoundedDispatch(ManagedObject* target, int index, RefVector<Any>&, Ref<Any>& result) {
  if (index == 0) result = new Primitive<int>(dynamic_cast<BoundedCounter*>(target)->GetLimit());
}

class CounterStub : public virtual Counter, public StubImpl {
 public:
  CounterStub(MoRef* ref, StubAdapter* adapter, RequestContext* context)
      : StubImpl(ref, adapter, context) {}
  CounterStub(const std::string& id, StubAdapter* adapter, RequestContext* context)
      : StubImpl(id, adapter, context) {}

  int Add(int delta) override {
    RefVector<Any> args(1);
    args[0] = new Primitive<int>(delta);
    Ref<Any> result;
    static_cast<Stub*>(this)->_Invoke_Task(gCounterMethods[0], args, result);
    return NarrowAny<Primitive<int>>(result)->GetValue();
  }
  void Reset() override {
    RefVector<Any> args;
    StubImpl::_Invoke_Task(gCounterMethods[1], args);
  }
  int GetValue() override {
    RefVector<Any> args;
    Ref<Any> result;
    _Invoke(gCounterMethods[2], args, result);
    return NarrowAny<Primitive<int>>(result)->GetValue();
  }
  void StartAdd(int delta, const Completion& callback, Ref<ScheduledItem>& item) {
    RefVector<Any> args(1);
    args[0] = new Primitive<int>(delta);
    static_cast<Stub*>(this)->_StartInvoke_Task(gCounterMethods[0], args, callback, item);
  }
};

class BoundedCounterStub : public virtual BoundedCounter, public CounterStub {
 public:
  using CounterStub::CounterStub;
  int GetLimit() override {
    RefVector<Any> args;
    Ref<Any> result;
    _Invoke(gBoundedMethods[0], args, result);
    return NarrowAny<Primitive<int>>(result)->GetValue();
  }
};

Stub* CreateCounterStub(MoRef* ref, StubAdapter* adapter, RequestContext* context) {
  return new CounterStub(ref, adapter, context);
}

const ParamInfo kDeltaParams[] = {{"delta", nullptr, &gIntTypeInfo, 0, "tydef.version.version0"},
                                  {nullptr, nullptr, nullptr, kFlagsEndOfList, nullptr}};
const ParamInfo kNoParams[] = {{nullptr, nullptr, nullptr, kFlagsEndOfList, nullptr}};
const MethodInfo kCounterMethodInfos[] = {
    {"add", "Add", "System.Read", nullptr,
     {"result", nullptr, &gIntTypeInfo, 0, "tydef.version.version0"}, kDeltaParams, nullptr, 0,
     "tydef.version.version0"},
    {"reset", "Reset", "System.Read", nullptr,
     {"result", nullptr, nullptr, 0, "tydef.version.version0"}, kNoParams, nullptr, 0,
     "tydef.version.version0"},
    MethodInfo{}};
const MethodInfo kNoMethods[] = {MethodInfo{}};
const PropertyInfo kValueProperty[] = {
    {"value", "System.Read", nullptr, &gIntTypeInfo, kFlagReadOnly, "tydef.version.version0"},
    {nullptr, nullptr, nullptr, nullptr, kFlagsEndOfList, nullptr}};
const PropertyInfo kLimitProperty[] = {
    {"limit", "System.Read", nullptr, &gIntTypeInfo, kFlagReadOnly, "tydef.version.version0"},
    {nullptr, nullptr, nullptr, nullptr, kFlagsEndOfList, nullptr}};
const TypeInfo kCounterInfo = {kTypeKindManaged, "stubtest.Counter", "StubtestCounter",
                               "tydef.version.version0"};
const TypeInfo kBoundedInfo = {kTypeKindManaged, "stubtest.BoundedCounter",
                               "StubtestBoundedCounter", "tydef.version.version0"};
const ManagedTypeInfo kCounterRecord = {&kCounterInfo,      &gTydefManagedObjectTypeInfo,
                                        kValueProperty,     kCounterMethodInfos,
                                        &CounterDispatch,   &CreateCounterStub,
                                        gCounterMethods};
const ManagedTypeInfo kBoundedRecord = {&kBoundedInfo,     &kCounterInfo,   kLimitProperty,
                                        kNoMethods,        &BoundedDispatch, nullptr,
                                        gBoundedMethods};

ManagedObjectType* Counter::_GetType() const {
  static ManagedObjectType* type = CreateManagedObjectType(&kCounterRecord);
  return type;
}
ManagedObjectType* BoundedCounter::_GetType() const {
  static ManagedObjectType* type = (Counter::_GetType(), CreateManagedObjectType(&kBoundedRecord));
  return type;
}

class CounterImpl : public virtual BoundedCounter, public Basekit::ObjectImpl {
 public:
  int Add(int delta) override {
    RequestContext* context = LocalStubAdapter::GetCurrentRequestContext();
    if (context) lastSession = context->Get("sessionKey").GetValue();
    if (delta == 13) throw std::runtime_error("unlucky");
    if (delta < 0) {
      Ref<Fault::InvalidArgument> fault = new Fault::InvalidArgument;
      fault->SetInvalidProperty(PropertyPath("delta"));
      fault->Throw();
    }
    ++entered;
    gate.wait();
    return value += delta;
  }
  void Reset() override { value = 0; }
  int GetValue() override { return value; }
  int GetLimit() override { return 99; }
  void _Unregistered() override { ++unregistered; }

  std::atomic<int> value{0};
  std::atomic<int> unregistered{0};
  std::atomic<int> entered{0};  // calls of Add that reached the gate
  std::string lastSession;
  std::shared_future<void> gate = OpenGate();

  static std::shared_future<void> OpenGate() {
    std::promise<void> open;
    open.set_value();
    return open.get_future().share();
  }
};

// A plain Counter, to call a BoundedCounter method on.
class PlainCounter : public CounterImpl {
 public:
  ManagedObjectType* _GetType() const override { return Counter::_GetType(); }
};

class StubTest : public ::testing::Test {
 protected:
  StubTest()
      : server(new LocalServer),
        adapter(new LocalStubAdapter(server)),
        impl(new CounterImpl),
        ref(server->Register(impl, "c-1")),
        stub(new BoundedCounterStub(ref, adapter, nullptr)) {}

  Ref<LocalServer> server;
  Ref<LocalStubAdapter> adapter;
  Ref<CounterImpl> impl;
  Ref<MoRef> ref;
  Ref<BoundedCounterStub> stub;
};

TEST_F(StubTest, SynchronousCallsReachTheImplementation) {
  EXPECT_EQ(stub->Add(5), 5);
  EXPECT_EQ(stub->Add(2), 7);
  EXPECT_EQ(impl->value, 7);

  // Property reads follow the methods in the method-object array.
  EXPECT_TRUE(gCounterMethods[2]->IsPropertyRead());
  EXPECT_EQ(gCounterMethods[2]->GetIndex(), 2);
  EXPECT_EQ(stub->GetValue(), 7);

  // An inherited method runs through the declaring type's dispatch.
  EXPECT_EQ(stub->GetLimit(), 99);
  stub->Reset();
  EXPECT_EQ(impl->value, 0);

  Ref<RequestContext> context = new RequestContext;
  context->Set("sessionKey", "s-42");
  stub->_SetRequestContext(context);
  stub->Add(1);
  EXPECT_EQ(impl->lastSession, "s-42");
  EXPECT_EQ(LocalStubAdapter::GetCurrentRequestContext(), nullptr);
}

TEST_F(StubTest, FaultsReachTheCallerAsTheirExceptions) {
  try {
    stub->Add(-1);
    FAIL() << "no fault";
  } catch (const Fault::InvalidArgument::Exception& e) {
    ASSERT_NE(e.GetFault()->GetInvalidProperty(), nullptr);
    EXPECT_EQ(e.GetFault()->GetInvalidProperty()->str(), "delta");
  }
  EXPECT_THROW(stub->Add(-1), MethodFault::Exception);

  Ref<MoRef> missing = MakeMoRef(ref->GetType(), "c-404");
  Ref<CounterStub> lost = new CounterStub(missing, adapter, nullptr);
  try {
    lost->GetValue();
    FAIL() << "no fault";
  } catch (const Fault::ManagedObjectNotFound::Exception& e) {
    ASSERT_NE(e.GetFault()->GetObj(), nullptr);
    EXPECT_EQ(*e.GetFault()->GetObj(), *missing);
  }

  // limit is a BoundedCounter property; a plain Counter does not have it.
  Ref<MoRef> plain = server->Register(new PlainCounter, "plain");
  RefVector<Any> none;
  Ref<Any> result;
  EXPECT_THROW(adapter->Invoke(plain, gBoundedMethods[0], none, nullptr, result),
               Fault::NotSupported::Exception);
}

TEST_F(StubTest, ServerRegistrationAndRemoval) {
  EXPECT_EQ(ref->GetType(), impl->_GetType());
  EXPECT_EQ(impl->_GetRef(), ref.Get());
  EXPECT_EQ(server->Find(ref).Get(), static_cast<ManagedObject*>(impl.Get()));
  EXPECT_THROW(server->Register(new CounterImpl, "c-1"), Basekit::Exception);
  EXPECT_THROW(server->Register(impl, "c-2"), Basekit::Exception);  // has a reference

  EXPECT_TRUE(server->Unregister(ref));
  EXPECT_FALSE(server->Unregister(ref));
  EXPECT_EQ(impl->unregistered, 1);
  EXPECT_THROW(stub->GetValue(), Fault::ManagedObjectNotFound::Exception);
  EXPECT_EQ(impl->_GetRef(), ref.Get());  // the identity stays
  EXPECT_NO_THROW(server->Register(impl, "c-1"));
}

TEST_F(StubTest, StubsAreCountedAndMadeFromRecordOrId) {
  const int adapterRefs = adapter->GetRefCount();
  Ref<Counter> made = dynamic_cast<Counter*>(kCounterRecord.createStub(ref, adapter, nullptr));
  ASSERT_TRUE(made);
  EXPECT_EQ(made->GetRefCount(), 1);
  Ref<Stub> asStub = dynamic_cast<Stub*>(made.Get());
  EXPECT_EQ(made->GetRefCount(), 2);
  EXPECT_EQ(asStub->_GetStubAdapter(), adapter.Get());
  EXPECT_EQ(adapter->GetRefCount(), adapterRefs + 1);
  asStub.Reset();
  made.Reset();
  EXPECT_EQ(adapter->GetRefCount(), adapterRefs);

  // The id form takes the type of the most derived stub.
  Ref<BoundedCounterStub> byId = new BoundedCounterStub(std::string("c-1"), adapter, nullptr);
  ASSERT_NE(byId->_GetRef(), nullptr);
  EXPECT_EQ(*byId->_GetRef(), *ref);
  EXPECT_EQ(byId->_GetRef(), byId->_GetRef());
  EXPECT_EQ(byId->Add(3), 3);
  Ref<CounterStub> baseById = new CounterStub(std::string("c-1"), adapter, nullptr);
  EXPECT_EQ(baseById->_GetRef()->GetType(), kCounterRecord.methodObjects[0]->GetOwner());
}

TEST_F(StubTest, AsynchronousCallsReportThroughTheCallback) {
  std::thread::id callbackThread;
  Ref<Any> value;
  Basekit::Exception* error = nullptr;
  Ref<ScheduledItem> item;
  stub->StartAdd(4, [&](ScheduledItem* done, Basekit::Exception* e, Any* result) {
    EXPECT_EQ(done, item.Get());
    callbackThread = std::this_thread::get_id();
    error = e;
    value = result;
  }, item);
  ASSERT_TRUE(item);
  item->Wait();
  EXPECT_NE(callbackThread, std::this_thread::get_id());
  EXPECT_EQ(error, nullptr);
  EXPECT_EQ(NarrowAny<Primitive<int>>(value)->GetValue(), 4);

  std::unique_ptr<Basekit::Exception> failure;
  bool hadResult = true;
  auto keep = [&](ScheduledItem*, Basekit::Exception* e, Any* result) {
    if (e) failure.reset(e->Clone());
    hadResult = result != nullptr;
  };
  stub->StartAdd(-2, keep, item);
  item->Wait();
  EXPECT_FALSE(hadResult);
  ASSERT_TRUE(failure);
  EXPECT_NE(dynamic_cast<Fault::InvalidArgument::Exception*>(failure.get()), nullptr);

  stub->StartAdd(13, keep, item);  // a std::exception arrives wrapped
  item->Wait();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->GetMessage(), "unlucky");

  // A throwing callback does not stop the workers.
  for (int i = 0; i < 4; ++i) {
    stub->StartAdd(0, [](ScheduledItem*, Basekit::Exception*, Any*) { throw 1; }, item);
  }
  stub->StartAdd(1, nullptr, item);
  EXPECT_TRUE(item->WaitFor(std::chrono::seconds(10)));
}

TEST_F(StubTest, ManyConcurrentAsynchronousCallsComplete) {
  constexpr int kThreads = 4, kCalls = 100;
  std::atomic<int> callbacks{0};
  std::vector<std::thread> callers;
  std::vector<std::vector<Ref<ScheduledItem>>> items(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    callers.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        Ref<ScheduledItem> item;
        stub->StartAdd(1, [&](ScheduledItem*, Basekit::Exception* e, Any*) {
          if (!e) ++callbacks;
        }, item);
        items[t].push_back(item);
      }
    });
  }
  for (auto& caller : callers) caller.join();
  for (auto& list : items) {
    for (auto& item : list) ASSERT_TRUE(item->WaitFor(std::chrono::seconds(10)));
  }
  EXPECT_EQ(callbacks, kThreads * kCalls);
  EXPECT_EQ(impl->value, kThreads * kCalls);
}

// Waits up to five seconds for n calls of impl to reach its gate.
bool AwaitEntered(const CounterImpl& impl, int n) {
  for (int i = 0; i < 5000 && impl.entered < n; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return impl.entered >= n;
}

// Records how each asynchronous call ended.
struct Outcomes {
  std::mutex mutex;
  int succeeded = 0;
  int canceled = 0;
  int failed = 0;
  Completion Callback() {
    return [this](ScheduledItem*, Basekit::Exception* e, Any*) {
      std::lock_guard<std::mutex> lock(mutex);
      if (!e) {
        ++succeeded;
      } else if (dynamic_cast<Fault::RequestCanceled::Exception*>(e)) {
        ++canceled;
      } else {
        ++failed;
      }
    };
  }
};

TEST_F(StubTest, ShutdownCancelsQueuedCallsWaitsForRunningOnesAndRefusesNewOnes) {
  std::promise<void> open;
  impl->gate = open.get_future().share();
  Outcomes outcomes;
  std::vector<Ref<ScheduledItem>> items(2);
  for (auto& item : items) stub->StartAdd(1, outcomes.Callback(), item);
  ASSERT_TRUE(AwaitEntered(*impl, 2));  // both running, held at the gate
  std::vector<Ref<ScheduledItem>> queued(3);
  for (auto& item : queued) stub->StartAdd(1, outcomes.Callback(), item);
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    open.set_value();
  });
  adapter->Shutdown();
  for (auto& item : items) EXPECT_TRUE(item->IsDone());
  for (auto& item : queued) EXPECT_TRUE(item->IsDone());
  opener.join();
  EXPECT_EQ(outcomes.succeeded, 2);
  EXPECT_EQ(outcomes.canceled, 3);
  EXPECT_EQ(outcomes.failed, 0);
  EXPECT_EQ(impl->value, 2);  // the canceled calls never ran
  Ref<ScheduledItem> refused;
  EXPECT_THROW(stub->StartAdd(1, nullptr, refused), Basekit::Exception);
  EXPECT_FALSE(refused);
  EXPECT_EQ(stub->Add(1), 3);  // synchronous calls still work
}

// Two slow calls used to take both workers of the process: every other
// adapter's asynchronous calls waited behind them.
TEST_F(StubTest, SlowCallsOfOneAdapterDoNotStallAnother) {
  std::promise<void> open;
  impl->gate = open.get_future().share();
  Outcomes slow;
  std::vector<Ref<ScheduledItem>> held(6);
  for (auto& item : held) stub->StartAdd(1, slow.Callback(), item);
  ASSERT_TRUE(AwaitEntered(*impl, 2));

  // Another server and adapter: its calls finish while the first are held.
  Ref<LocalServer> otherServer(new LocalServer);
  Ref<LocalStubAdapter> otherAdapter(new LocalStubAdapter(otherServer));
  Ref<CounterImpl> otherImpl(new CounterImpl);
  Ref<MoRef> otherRef = otherServer->Register(otherImpl, "c-2");
  Ref<CounterStub> otherStub(new CounterStub(otherRef, otherAdapter, nullptr));
  std::vector<Ref<ScheduledItem>> quick(20);
  for (auto& item : quick) otherStub->StartAdd(1, nullptr, item);
  for (auto& item : quick) EXPECT_TRUE(item->WaitFor(std::chrono::seconds(5)));
  EXPECT_EQ(otherImpl->value, 20);
  // A second adapter of the same server is as independent.
  Ref<CounterImpl> thirdImpl(new CounterImpl);
  Ref<MoRef> thirdRef = server->Register(thirdImpl, "c-3");
  Ref<LocalStubAdapter> sibling(new LocalStubAdapter(server));
  Ref<CounterStub> siblingStub(new CounterStub(thirdRef, sibling, nullptr));
  Ref<ScheduledItem> item;
  siblingStub->StartAdd(1, nullptr, item);
  EXPECT_TRUE(item->WaitFor(std::chrono::seconds(5)));
  EXPECT_EQ(thirdImpl->value, 1);
  EXPECT_EQ(impl->value, 0);  // still held: at most two ran, none finished
  EXPECT_EQ(impl->entered, 2);

  open.set_value();
  for (auto& h : held) EXPECT_TRUE(h->WaitFor(std::chrono::seconds(10)));
  EXPECT_EQ(slow.succeeded, 6);
  EXPECT_EQ(impl->value, 6);
}

TEST_F(StubTest, AnAdaptersQueueIsBounded) {
  std::promise<void> open;
  impl->gate = open.get_future().share();
  Ref<LocalStubAdapter> small(new LocalStubAdapter(server, 3));
  Ref<CounterStub> smallStub(new CounterStub(ref, small, nullptr));
  std::vector<Ref<ScheduledItem>> items(2);
  for (auto& item : items) smallStub->StartAdd(1, nullptr, item);
  ASSERT_TRUE(AwaitEntered(*impl, 2));
  std::vector<Ref<ScheduledItem>> queued(3);
  for (auto& item : queued) smallStub->StartAdd(1, nullptr, item);
  Ref<ScheduledItem> refused;
  try {
    smallStub->StartAdd(1, nullptr, refused);
    FAIL() << "a fourth queued call was accepted";
  } catch (const Basekit::Exception& e) {
    EXPECT_NE(std::string(e.what()).find("queued"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(refused);
  EXPECT_THROW(Ref<LocalStubAdapter>(new LocalStubAdapter(server, 0)), Basekit::Exception);
  open.set_value();
  for (auto& item : items) EXPECT_TRUE(item->WaitFor(std::chrono::seconds(10)));
  for (auto& item : queued) EXPECT_TRUE(item->WaitFor(std::chrono::seconds(10)));
  EXPECT_EQ(impl->value, 5);
  // Room again once the queue drains.
  smallStub->StartAdd(1, nullptr, refused);
  EXPECT_TRUE(refused->WaitFor(std::chrono::seconds(10)));
}

}  // namespace
