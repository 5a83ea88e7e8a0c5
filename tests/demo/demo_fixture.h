// A demo server with a clock that moves one second per reading, and stubs on
// its well-known objects.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "demo_server.h"
#include "kortypes/kortypes.h"

namespace demotest {

using Basekit::Ref;
using Basekit::System::DateTime;

class DemoTest : public ::testing::Test {
 protected:
  int ticks = 0;
  const DateTime kStart = DateTime::FromCivil(2026, 12, 5, 10, 0, 0);
  DemoTest()
      : server([this] { return DateTime(kStart.GetUtcTime() + 1000000LL * ticks++); }),
        adapter(server.GetAdapter()),
        vm(new Kor::VirtualMachineStub(kortypes::demo::kVmId, adapter, nullptr)),
        events(new Kor::Event::EventManagerStub(kortypes::demo::kEventManagerId, adapter, nullptr)),
        alarms(new Kor::Alarm::AlarmManagerStub(kortypes::demo::kAlarmManagerId, adapter, nullptr)) {}

  static Ref<Movel::MoRef> RefTo(Movel::ManagedObjectType* type, const char* id) {
    Ref<Movel::MoRef> ref = Movel::MakeMoRef(type, id);
    return ref;
  }
  static Ref<Movel::MoRef> VmRef() { return RefTo(Movel::GetMoType<Kor::VirtualMachine>(), kortypes::demo::kVmId); }
  static Ref<Movel::MoRef> HostRef() { return RefTo(Movel::GetMoType<Kor::HostSystem>(), kortypes::demo::kHostId); }
  static Ref<Movel::MoRef> DatacenterRef() {
    return RefTo(Movel::GetMoType<Kor::Datacenter>(), kortypes::demo::kDatacenterId);
  }
  static Ref<Movel::MoRef> HostFolderRef() {
    return RefTo(Movel::GetMoType<Kor::Folder>(), kortypes::demo::kHostFolderId);
  }
  static Ref<Movel::MoRef> RootRef() { return RefTo(Movel::GetMoType<Kor::Folder>(), kortypes::demo::kRootFolderId); }

  // A stub whose calls carry user as the calling user.
  template <class StubT>
  Ref<StubT> As(const std::string& user, const char* id) {
    Ref<Movel::RequestContext> context(new Movel::RequestContext());
    context->Set(kortypes::demo::kUserNameKey, user);
    return Ref<StubT>(new StubT(id, adapter, context));
  }

  Ref<Kor::TaskInfo> TaskOf(Movel::MoRef* task) {
    Ref<Kor::TaskStub> stub(new Kor::TaskStub(task, adapter, nullptr));
    Ref<Kor::TaskInfo> info;
    stub->GetInfo(info);
    return info;
  }

  Ref<Movel::DataArray<Kor::Event::Event>> Query(Kor::Event::EventFilterSpec* filter) {
    Ref<Movel::DataArray<Kor::Event::Event>> out;
    events->QueryEvents(filter, out);
    return out;
  }
  Ref<Movel::DataArray<Kor::Event::Event>> All() {
    Ref<Kor::Event::EventFilterSpec> any(new Kor::Event::EventFilterSpec());
    return Query(any);
  }

  static std::vector<int> Keys(const Movel::DataArray<Kor::Event::Event>* list) {
    std::vector<int> keys;
    if (list) {
      for (const Kor::Event::Event* e : *list) keys.push_back(e->key);
    }
    return keys;
  }
  static std::vector<std::string> Classes(const Movel::DataArray<Kor::Event::Event>* list) {
    std::vector<std::string> names;
    if (list) {
      for (const Kor::Event::Event* e : *list) names.push_back(e->_GetType()->GetName());
    }
    return names;
  }

  kortypes::demo::DemoServer server;
  Movel::StubAdapter* adapter;
  Ref<Kor::VirtualMachine> vm;
  Ref<Kor::Event::EventManager> events;
  Ref<Kor::Alarm::AlarmManager> alarms;
};

}  // namespace demotest
