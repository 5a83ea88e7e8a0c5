// The demo server's event history, read through its event manager and
// collectors over stubs.
#include <set>

#include "demo_fixture.h"
#include "demo_view.h"

namespace demotest {
namespace {

using Recursion = Kor::Event::EventFilterSpec::RecursionOption;

class EventHistory : public DemoTest {
 protected:
  // Power on, a user note on the host and one on the datacenter, a
  // reconfiguration by "alice", power off: 8 events.
  void Populate() {
    Ref<Movel::MoRef> task;
    vm->PowerOn(nullptr, task);
    events->LogUserEvent(HostRef(), "cabled the second uplink");
    events->LogUserEvent(DatacenterRef(), "maintenance window tonight");
    Ref<Kor::Vm::ConfigSpec> spec(new Kor::Vm::ConfigSpec());
    spec->numCPUs = 4;
    As<Kor::VirtualMachineStub>("alice", kortypes::demo::kVmId)->Reconfigure(spec, task);
    vm->PowerOff(task);
  }

  Ref<Kor::Event::EventFilterSpec> ByEntity(Movel::MoRef* entity, Recursion recursion) {
    Ref<Kor::Event::EventFilterSpec> filter(new Kor::Event::EventFilterSpec());
    Ref<Kor::Event::EventFilterSpec::ByEntity> by(new Kor::Event::EventFilterSpec::ByEntity());
    by->SetEntity(entity);
    by->recursion = recursion;
    filter->SetEntity(by);
    return filter;
  }

  Ref<Kor::Event::EventHistoryCollector> Collector(Kor::Event::EventFilterSpec* filter) {
    Ref<Movel::MoRef> ref;
    events->CreateCollectorForEvents(filter, ref);
    return Ref<Kor::Event::EventHistoryCollector>(
        new Kor::Event::EventHistoryCollectorStub(ref, adapter, nullptr));
  }

  // The keys of the whole history in order, for slicing expectations.
  std::vector<int> AllKeys() { return Keys(All()); }
};

TEST_F(EventHistory, OperationsLogTheirEventsInChains) {
  Populate();
  Ref<Movel::DataArray<Kor::Event::Event>> all = All();
  EXPECT_EQ(Classes(all),
            (std::vector<std::string>{"kor.event.VmPoweredOnEvent", "kor.event.TaskEvent",
                                      "kor.event.GeneralUserEvent", "kor.event.GeneralUserEvent",
                                      "kor.event.VmReconfiguredEvent", "kor.event.TaskEvent",
                                      "kor.event.VmPoweredOffEvent", "kor.event.TaskEvent"}));
  EXPECT_EQ(Keys(all), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(server.GetEventCount(), 8u);
  // A task's event shares the chain of the operation's first event.
  EXPECT_EQ(all->Get(1)->chainId, all->Get(0)->key);
  EXPECT_EQ(all->Get(5)->chainId, all->Get(4)->key);
  EXPECT_EQ(all->Get(2)->chainId, all->Get(2)->key);
  // Users come from the request context; times from the server's clock.
  EXPECT_EQ(all->Get(4)->userName, "alice");
  EXPECT_EQ(all->Get(0)->userName, kortypes::demo::kDefaultUser);
  for (int i = 1; i < all->GetLength(); ++i) {
    EXPECT_LT(all->Get(i - 1)->createdTime, all->Get(i)->createdTime);
  }
  // The reconfiguration event carries the configuration that was applied.
  auto* reconfigured = dynamic_cast<Kor::Event::VmReconfiguredEvent*>(all->Get(4));
  ASSERT_NE(reconfigured, nullptr);
  EXPECT_EQ(reconfigured->PeekConfigSpec()->numCPUs.GetValue(), 4);
  EXPECT_EQ(kortypes::demo::EventEntityName(all->Get(0)), "web-frontend");
  EXPECT_EQ(kortypes::demo::EventEntityName(all->Get(2)), "hv-01.lab");
  EXPECT_EQ(kortypes::demo::EventEntityName(all->Get(3)), "lab");
  std::string line = kortypes::demo::EventLine(all->Get(4));
  EXPECT_EQ(line, "VmReconfiguredEvent #5 web-frontend " + all->Get(4)->createdTime.ToString() +
                      " alice: Virtual machine web-frontend on hv-01.lab in lab reconfigured");
}

TEST_F(EventHistory, ByEntityFollowsTheRecursionOption) {
  Populate();
  std::vector<int> vmEvents{1, 2, 5, 6, 7, 8};
  EXPECT_EQ(Keys(Query(ByEntity(VmRef(), Recursion::self))), vmEvents);
  EXPECT_EQ(Keys(Query(ByEntity(HostRef(), Recursion::all))), std::vector<int>{3});
  EXPECT_EQ(Keys(Query(ByEntity(DatacenterRef(), Recursion::self))), std::vector<int>{4});
  // children: the datacenter and its folders; the host and the machine lie
  // deeper.
  EXPECT_EQ(Keys(Query(ByEntity(DatacenterRef(), Recursion::children))), std::vector<int>{4});
  EXPECT_EQ(Keys(Query(ByEntity(HostFolderRef(), Recursion::children))), std::vector<int>{3});
  EXPECT_TRUE(Keys(Query(ByEntity(HostFolderRef(), Recursion::self))).empty());
  EXPECT_EQ(Keys(Query(ByEntity(RootRef(), Recursion::all))), AllKeys());
  EXPECT_EQ(events->CountEvents(ByEntity(VmRef(), Recursion::self)), 6);
  // A filter on an entity the server does not have is refused.
  Ref<Movel::MoRef> unknown = RefTo(Movel::GetMoType<Kor::VirtualMachine>(), "vm-404");
  EXPECT_THROW(Query(ByEntity(unknown, Recursion::self)), Movel::Fault::ManagedObjectNotFound::Exception);
  Ref<Kor::Event::EventFilterSpec> noEntity = ByEntity(nullptr, Recursion::self);
  EXPECT_THROW(Query(noEntity), Movel::Fault::InvalidArgument::Exception);
}

TEST_F(EventHistory, ByTimeRangeIncludesBothEnds) {
  Populate();
  Ref<Movel::DataArray<Kor::Event::Event>> all = All();
  Ref<Kor::Event::EventFilterSpec> filter(new Kor::Event::EventFilterSpec());
  Ref<Kor::Event::EventFilterSpec::ByTime> time(new Kor::Event::EventFilterSpec::ByTime());
  time->beginTime = all->Get(2)->createdTime;
  time->endTime = all->Get(4)->createdTime;
  filter->SetTime(time);
  EXPECT_EQ(Keys(Query(filter)), (std::vector<int>{3, 4, 5}));
  time->endTime.Unset();
  EXPECT_EQ(Keys(Query(filter)), (std::vector<int>{3, 4, 5, 6, 7, 8}));
  time->beginTime.Unset();
  time->endTime = all->Get(1)->createdTime;
  EXPECT_EQ(Keys(Query(filter)), (std::vector<int>{1, 2}));
  // A range that ends before it begins is an error, not an empty answer.
  time->beginTime = all->Get(5)->createdTime;
  try {
    Query(filter);
    ADD_FAILURE() << "a reversed range was accepted";
  } catch (const Movel::Fault::InvalidArgument::Exception& e) {
    ASSERT_NE(e.GetFault()->GetInvalidProperty(), nullptr);
    EXPECT_EQ(e.GetFault()->GetInvalidProperty()->str(), "filter.time");
  }
}

TEST_F(EventHistory, ByTypeUserAndCategory) {
  Populate();
  Ref<Kor::Event::EventFilterSpec> filter(new Kor::Event::EventFilterSpec());
  filter->GetType()->Append(Movel::TypeName("kor.event.VmEvent"));
  EXPECT_EQ(Keys(Query(filter)), (std::vector<int>{1, 5, 7}));  // subclasses match
  filter->GetType()->Append(Movel::TypeName("kor.event.GeneralUserEvent"));
  EXPECT_EQ(Keys(Query(filter)), (std::vector<int>{1, 3, 4, 5, 7}));
  for (const char* bad : {"kor.event.NoSuchEvent", "kor.AboutInfo", "kor.VirtualMachine"}) {
    Ref<Kor::Event::EventFilterSpec> wrong(new Kor::Event::EventFilterSpec());
    wrong->GetType()->Append(Movel::TypeName(bad));
    EXPECT_THROW(Query(wrong), Movel::Fault::InvalidArgument::Exception) << bad;
  }

  Ref<Kor::Event::EventFilterSpec> byUser(new Kor::Event::EventFilterSpec());
  Ref<Kor::Event::EventFilterSpec::ByUsername> users(new Kor::Event::EventFilterSpec::ByUsername());
  users->systemUser = false;
  users->GetUserList()->Append("alice");
  byUser->SetUserName(users);
  EXPECT_EQ(Keys(Query(byUser)), (std::vector<int>{5, 6}));
  users->GetUserList()->Append(kortypes::demo::kDefaultUser);
  EXPECT_EQ(Keys(Query(byUser)), AllKeys());
  users->SetUserList(nullptr);
  users->systemUser = true;
  EXPECT_TRUE(Keys(Query(byUser)).empty());  // nothing here was the server's own doing

  Ref<Kor::Event::EventFilterSpec> byCategory(new Kor::Event::EventFilterSpec());
  byCategory->GetCategory()->Append(Kor::Event::EventDescription::EventCategory::user);
  EXPECT_EQ(Keys(Query(byCategory)), (std::vector<int>{3, 4}));
  byCategory->GetCategory()->Append(Kor::Event::EventDescription::EventCategory::info);
  EXPECT_EQ(Keys(Query(byCategory)), AllKeys());

  // Criteria combine: alice's task events only.
  byUser->GetType()->Append(Movel::TypeName("kor.event.TaskEvent"));
  users->systemUser = false;
  users->GetUserList()->Append("alice");
  EXPECT_EQ(Keys(Query(byUser)), std::vector<int>{6});
}

TEST_F(EventHistory, CollectorPagesForwardAndBack) {
  Populate();
  Ref<Kor::Event::EventFilterSpec> filter = ByEntity(RootRef(), Recursion::all);
  Ref<Kor::Event::EventHistoryCollector> collector = Collector(filter);
  Ref<Movel::Any> held;
  collector->GetFilter(held);
  EXPECT_TRUE(Movel::AreEqualAnysInt(held, filter, 0, false));

  collector->SetCollectorPageSize(3);
  Ref<Movel::DataArray<Kor::Event::Event>> page;
  collector->GetLatestPage(page);
  EXPECT_EQ(Keys(page), (std::vector<int>{6, 7, 8}));
  // A new collector starts before the latest page of its default size (10 >
  // 8 events): reading back from there finds nothing.
  collector->ReadPreviousEvents(2, page);
  EXPECT_TRUE(Keys(page).empty());
  collector->ResetCollector();  // now before the 3-event latest page
  collector->ReadPreviousEvents(2, page);
  EXPECT_EQ(Keys(page), (std::vector<int>{4, 5}));
  collector->ReadPreviousEvents(10, page);
  EXPECT_EQ(Keys(page), (std::vector<int>{1, 2, 3}));
  collector->ReadPreviousEvents(1, page);
  EXPECT_TRUE(Keys(page).empty());
  collector->ReadNextEvents(4, page);
  EXPECT_EQ(Keys(page), (std::vector<int>{1, 2, 3, 4}));
  collector->ReadNextEvents(100, page);
  EXPECT_EQ(Keys(page), (std::vector<int>{5, 6, 7, 8}));
  collector->ReadNextEvents(1, page);
  EXPECT_TRUE(Keys(page).empty());
  // The collector is live: an event logged now is next in line.
  events->LogUserEvent(VmRef(), "rebooted the guest");
  collector->ReadNextEvents(5, page);
  EXPECT_EQ(Keys(page), std::vector<int>{9});
  collector->RewindCollector();
  collector->ReadNextEvents(2, page);
  EXPECT_EQ(Keys(page), (std::vector<int>{1, 2}));
  collector->ResetCollector();
  collector->ReadNextEvents(10, page);
  EXPECT_EQ(Keys(page), (std::vector<int>{7, 8, 9}));
  // Pages are copies: changing one leaves the history alone.
  page->Get(0)->userName = "mallory";
  EXPECT_EQ(All()->Get(6)->userName, kortypes::demo::kDefaultUser);
}

TEST_F(EventHistory, CollectorsOnlySeeTheirFilter) {
  Populate();
  Ref<Kor::Event::EventHistoryCollector> host = Collector(ByEntity(HostRef(), Recursion::self));
  Ref<Movel::DataArray<Kor::Event::Event>> page;
  host->GetLatestPage(page);
  EXPECT_EQ(Keys(page), std::vector<int>{3});
  host->ReadNextEvents(10, page);
  EXPECT_EQ(Keys(page), std::vector<int>{3});
  // Events about other entities do not reach it; one about the host does.
  Ref<Movel::MoRef> task;
  vm->PowerOn(nullptr, task);
  host->ReadNextEvents(10, page);
  EXPECT_TRUE(Keys(page).empty());
  events->LogUserEvent(HostRef(), "fan replaced");
  host->ReadNextEvents(10, page);
  EXPECT_EQ(Classes(page), std::vector<std::string>{"kor.event.GeneralUserEvent"});
  EXPECT_EQ(Keys(page), std::vector<int>{static_cast<int>(server.GetEventCount())});
}

TEST_F(EventHistory, BadCountsDestroyAndTheCollectorLimit) {
  Populate();
  Ref<Kor::Event::EventFilterSpec> filter(new Kor::Event::EventFilterSpec());
  Ref<Kor::Event::EventHistoryCollector> collector = Collector(filter);
  Ref<Movel::DataArray<Kor::Event::Event>> page;
  EXPECT_THROW(collector->ReadNextEvents(0, page), Movel::Fault::InvalidArgument::Exception);
  EXPECT_THROW(collector->ReadPreviousEvents(-1, page), Movel::Fault::InvalidArgument::Exception);
  EXPECT_THROW(collector->SetCollectorPageSize(0), Movel::Fault::InvalidArgument::Exception);
  EXPECT_EQ(page.Get(), nullptr);  // a refused call leaves the out-parameter alone
  Ref<Movel::MoRef> none;
  EXPECT_THROW(events->CreateCollectorForEvents(nullptr, none), Movel::Fault::InvalidArgument::Exception);
  std::size_t objects = server.GetObjectCount();
  collector->DestroyCollector();
  EXPECT_EQ(server.GetObjectCount(), objects - 1);
  EXPECT_THROW(collector->ReadNextEvents(1, page), Movel::Fault::ManagedObjectNotFound::Exception);
  EXPECT_THROW(collector->DestroyCollector(), Movel::Fault::ManagedObjectNotFound::Exception);

  std::vector<Ref<Kor::Event::EventHistoryCollector>> open;
  for (int i = 0; i < kortypes::demo::kMaxCollectors; ++i) open.push_back(Collector(filter));
  Ref<Movel::MoRef> refused;
  EXPECT_THROW(events->CreateCollectorForEvents(filter, refused), Kor::Fault::InvalidState::Exception);
  EXPECT_EQ(refused.Get(), nullptr);
  open.back()->DestroyCollector();
  open.pop_back();
  EXPECT_NO_THROW(open.push_back(Collector(filter)));
}

}  // namespace
}  // namespace demotest
