// Faults the inventory raises, each as its own class with its properties,
// and power operations on many machines from several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "demo_fixture.h"

namespace {

using Basekit::Ref;
using Power = Kor::VirtualMachine::PowerState;
using Refs = Ref<Movel::DataArray<Movel::MoRef>>;

class InventoryFaults : public demotest::DemoTest {
 protected:
  Ref<Kor::HostSystem> host{new Kor::HostSystemStub(kortypes::demo::kHostId, adapter, nullptr)};

  Ref<Kor::Host::NetworkSystem> NetworkSystem() {
    Ref<Kor::Host::ConfigManager> manager;
    host->GetConfigManager(manager);
    return Ref<Kor::Host::NetworkSystem>(new Kor::Host::NetworkSystemStub(
        const_cast<Movel::MoRef*>(manager->PeekNetworkSystem()), adapter, nullptr));
  }
  std::vector<std::string> PortGroups() {
    Ref<Kor::Host::ConfigInfo> config;
    host->GetConfig(config);
    std::vector<std::string> names;
    for (const Kor::Host::PortGroup* g : *const_cast<Kor::Host::NetworkInfo*>(config->PeekNetwork())->GetPortgroup()) {
      names.push_back(g->PeekSpec()->name);
    }
    return names;
  }
  Power PowerOf(Kor::VirtualMachine* machine) {
    Ref<Kor::Vm::RuntimeInfo> runtime;
    machine->GetRuntime(runtime);
    return runtime->powerState;
  }
};

TEST_F(InventoryFaults, PowerOperationsTheStateForbidsSayWhichStates) {
  Ref<Movel::MoRef> task;
  struct Case {
    const char* what;
    std::function<void()> call;
    Power existing, requested;
  };
  const std::vector<Case> whileOff = {
      {"power off", [&] { vm->PowerOff(task); }, Power::poweredOff, Power::poweredOff},
      {"suspend", [&] { vm->Suspend(task); }, Power::poweredOff, Power::suspended},
      {"reset", [&] { vm->Reset(task); }, Power::poweredOff, Power::poweredOn},
      {"shut down the guest", [&] { vm->ShutdownGuest(); }, Power::poweredOff, Power::poweredOn}};
  for (const Case& c : whileOff) {
    SCOPED_TRACE(c.what);
    try {
      c.call();
      ADD_FAILURE() << "no fault";
    } catch (const Kor::Fault::InvalidPowerState::Exception& e) {
      EXPECT_EQ(e.GetFault()->existingState, c.existing);
      ASSERT_TRUE(e.GetFault()->requestedState.IsSet());
      EXPECT_EQ(e.GetFault()->requestedState.GetValue(), c.requested);
    }
  }
  EXPECT_EQ(server.GetEventCount(), 0u);  // refused operations log nothing

  vm->PowerOn(nullptr, task);
  try {
    vm->PowerOn(nullptr, task);
    ADD_FAILURE() << "no fault";
  } catch (const Kor::Fault::InvalidPowerState::Exception& e) {
    EXPECT_EQ(e.GetFault()->existingState, Power::poweredOn);
  }
  // Running: reset keeps it on, suspend then resume through power-on.
  vm->Reset(task);
  EXPECT_EQ(TaskOf(task)->state, Kor::TaskInfo::State::success);
  EXPECT_EQ(PowerOf(vm), Power::poweredOn);
  vm->Suspend(task);
  EXPECT_EQ(PowerOf(vm), Power::suspended);
  EXPECT_THROW(vm->Reset(task), Kor::Fault::InvalidPowerState::Exception);
  vm->PowerOn(nullptr, task);
  EXPECT_EQ(PowerOf(vm), Power::poweredOn);
  // No guest tools run, so guest operations are refused as such.
  EXPECT_THROW(vm->ShutdownGuest(), Kor::Fault::ToolsUnavailable::Exception);
  EXPECT_EQ(Classes(All()), (std::vector<std::string>{
                                "kor.event.VmPoweredOnEvent", "kor.event.TaskEvent",
                                "kor.event.VmResettingEvent", "kor.event.TaskEvent",
                                "kor.event.VmSuspendedEvent", "kor.event.TaskEvent",
                                "kor.event.VmPoweredOnEvent", "kor.event.TaskEvent"}));
}

TEST_F(InventoryFaults, UnknownReferencesAndBadArgumentsNameWhatIsWrong) {
  Ref<Movel::MoRef> task;
  // An id the server never made, and a known id under another type.
  for (Ref<Movel::MoRef> unknown : {RefTo(Movel::GetMoType<Kor::VirtualMachine>(), "vm-999999"),
                                    RefTo(Movel::GetMoType<Kor::VirtualMachine>(), kortypes::demo::kHostId)}) {
    if (unknown->GetId() == "vm-999999") {
      Ref<Kor::VirtualMachine> ghost(new Kor::VirtualMachineStub(unknown, adapter, nullptr));
      try {
        ghost->PowerOn(nullptr, task);
        ADD_FAILURE() << "no fault";
      } catch (const Movel::Fault::ManagedObjectNotFound::Exception& e) {
        ASSERT_NE(e.GetFault()->GetObj(), nullptr);
        EXPECT_EQ(*e.GetFault()->GetObj(), *unknown);
      }
    }
    try {
      vm->PowerOn(unknown, task);
      ADD_FAILURE() << "no fault";
    } catch (const Movel::Fault::ManagedObjectNotFound::Exception& e) {
      EXPECT_EQ(*e.GetFault()->GetObj(), *unknown);
    }
  }
  EXPECT_EQ(PowerOf(vm), Power::poweredOff);
  // Another host of the inventory is a host the machine is not on.
  kortypes::demo::DemoServer bigger(kortypes::demo::Clock(), [] {
    kortypes::demo::InventoryOptions o;
    o.hostsPerCluster = 2;
    return o;
  }());
  Ref<Kor::Folder> hostFolder(new Kor::FolderStub(kortypes::demo::kHostFolderId, bigger.GetAdapter(), nullptr));
  Refs children;
  hostFolder->GetChildEntity(children);
  ASSERT_EQ(children->GetLength(), 2);  // the standalone host, then the cluster
  Refs clustered;
  Ref<Kor::ClusterComputeResource>(new Kor::ClusterComputeResourceStub(children->Get(1), bigger.GetAdapter(), nullptr))
      ->GetHost(clustered);
  ASSERT_EQ(clustered->GetLength(), 1);
  Ref<Kor::VirtualMachine> firstVm(new Kor::VirtualMachineStub(kortypes::demo::kVmId, bigger.GetAdapter(), nullptr));
  try {
    firstVm->PowerOn(clustered->Get(0), task);
    ADD_FAILURE() << "no fault";
  } catch (const Movel::Fault::InvalidArgument::Exception& e) {
    ASSERT_NE(e.GetFault()->GetInvalidProperty(), nullptr);
    EXPECT_EQ(e.GetFault()->GetInvalidProperty()->str(), "host");
  }
  firstVm->PowerOn(children->Get(0), task);  // its own host is fine

  try {
    host->QueryOverhead(1 << 30, Basekit::Optional<int>(), 0);
    ADD_FAILURE() << "no fault";
  } catch (const Movel::Fault::InvalidArgument::Exception& e) {
    EXPECT_EQ(e.GetFault()->GetInvalidProperty()->str(), "numVcpus");
  }
}

TEST_F(InventoryFaults, RenameChecksNamesAgainstTheSiblings) {
  kortypes::demo::InventoryOptions o;
  o.vmsPerHost = 3;
  kortypes::demo::DemoServer three(kortypes::demo::Clock(), o);
  Ref<Kor::Folder> vms(new Kor::FolderStub(kortypes::demo::kVmFolderId, three.GetAdapter(), nullptr));
  Refs children;
  vms->GetChildEntity(children);
  ASSERT_EQ(children->GetLength(), 3);
  Ref<Kor::VirtualMachine> a(new Kor::VirtualMachineStub(children->Get(0), three.GetAdapter(), nullptr));
  Ref<Kor::VirtualMachine> b(new Kor::VirtualMachineStub(children->Get(1), three.GetAdapter(), nullptr));
  const std::string before = a->GetName();
  Ref<Movel::MoRef> task;
  try {
    a->Rename(b->GetName(), task);
    ADD_FAILURE() << "no fault";
  } catch (const Kor::Fault::DuplicateName::Exception& e) {
    EXPECT_EQ(e.GetFault()->name, b->GetName());
    ASSERT_NE(e.GetFault()->PeekObject(), nullptr);
    EXPECT_EQ(e.GetFault()->PeekObject()->GetId(), kortypes::demo::kVmFolderId);
  }
  for (const std::string& bad : {std::string(), std::string(81, 'x')}) {
    try {
      a->Rename(bad, task);
      ADD_FAILURE() << "no fault for '" << bad << "'";
    } catch (const Kor::Fault::InvalidName::Exception& e) {
      EXPECT_EQ(e.GetFault()->name, bad);
      ASSERT_NE(e.GetFault()->PeekEntity(), nullptr);
      EXPECT_EQ(*e.GetFault()->PeekEntity(), *children->Get(0));
    }
  }
  EXPECT_EQ(a->GetName(), before);
  EXPECT_EQ(three.GetEventCount(), 0u);

  // A free name is taken at once, shows everywhere the name is read, and
  // leaves a rename event; the old name is free again.
  a->Rename("renamed-frontend", task);
  EXPECT_EQ(a->GetName(), "renamed-frontend");
  Ref<Kor::Vm::ConfigInfo> config;
  a->GetConfig(config);
  EXPECT_EQ(config->name, "renamed-frontend");
  Ref<Kor::Task> taskStub(new Kor::TaskStub(task, three.GetAdapter(), nullptr));
  Ref<Kor::TaskInfo> info;
  taskStub->GetInfo(info);
  EXPECT_EQ(info->state, Kor::TaskInfo::State::success);
  EXPECT_EQ(*info->entityName, "renamed-frontend");
  b->Rename(before, task);
  EXPECT_EQ(b->GetName(), before);
  // The same name in another container is no duplicate.
  Ref<Kor::HostSystem> h(new Kor::HostSystemStub(kortypes::demo::kHostId, three.GetAdapter(), nullptr));
  h->Rename("renamed-frontend", task);
  EXPECT_EQ(h->GetName(), "renamed-frontend");
}

TEST_F(InventoryFaults, MaintenanceModeAndPowerOnExcludeEachOther) {
  Ref<Movel::MoRef> task;
  vm->PowerOn(nullptr, task);
  EXPECT_THROW(host->EnterMaintenanceMode(0, Basekit::Optional<bool>(), nullptr, task),
               Kor::Fault::InvalidState::Exception);
  EXPECT_THROW(host->ExitMaintenanceMode(0, task), Kor::Fault::InvalidState::Exception);
  vm->PowerOff(task);
  host->EnterMaintenanceMode(0, Basekit::Optional<bool>(), nullptr, task);
  Ref<Kor::Host::RuntimeInfo> runtime;
  host->GetRuntime(runtime);
  EXPECT_TRUE(runtime->inMaintenanceMode);
  try {
    vm->PowerOn(nullptr, task);
    ADD_FAILURE() << "no fault";
  } catch (const Kor::Fault::InvalidState::Exception& e) {
    // Refused for the host's state, not the machine's.
    EXPECT_EQ(dynamic_cast<Kor::Fault::InvalidPowerState*>(e.GetFault()), nullptr);
  }
  EXPECT_EQ(PowerOf(vm), Power::poweredOff);
  host->ExitMaintenanceMode(0, task);
  vm->PowerOn(nullptr, task);
  EXPECT_EQ(PowerOf(vm), Power::poweredOn);
}

TEST_F(InventoryFaults, TheNetworkSystemChecksEditsLikeAHost) {
  Ref<Kor::Host::NetworkSystem> ns = NetworkSystem();
  const std::vector<std::string> before = PortGroups();
  auto spec = [](const std::string& name, const std::string& vswitch, int vlan) {
    Ref<Kor::Host::PortGroup::Specification> s(new Kor::Host::PortGroup::Specification());
    s->name = name;
    s->vswitchName = vswitch;
    s->vlanId = vlan;
    Ref<Kor::Host::NetworkPolicy> policy(new Kor::Host::NetworkPolicy());
    s->SetPolicy(policy);
    return s;
  };
  try {
    ns->AddPortGroup(spec(before[0], "switch0", 0));
    ADD_FAILURE() << "no fault";
  } catch (const Kor::Fault::AlreadyExists::Exception& e) {
    ASSERT_TRUE(e.GetFault()->name);
    EXPECT_EQ(*e.GetFault()->name, before[0]);
  }
  EXPECT_THROW(ns->AddPortGroup(spec("Backup", "no-such-switch", 0)), Kor::Fault::NotFound::Exception);
  try {
    ns->AddPortGroup(spec("Backup", "switch0", 5000));
    ADD_FAILURE() << "no fault";
  } catch (const Movel::Fault::InvalidArgument::Exception& e) {
    EXPECT_EQ(e.GetFault()->GetInvalidProperty()->str(), "portgrp.vlanId");
  }
  try {
    ns->RemovePortGroup("Management");  // a virtual NIC uses it
    ADD_FAILURE() << "no fault";
  } catch (const Kor::Fault::ResourceInUse::Exception& e) {
    EXPECT_EQ(*e.GetFault()->name, "Management");
  }
  EXPECT_THROW(ns->RemoveVirtualSwitch("switch1"), Kor::Fault::ResourceInUse::Exception);
  EXPECT_THROW(ns->RemovePortGroup("Backup"), Kor::Fault::NotFound::Exception);
  EXPECT_EQ(PortGroups(), before);  // nothing refused changed anything

  // Accepted edits show in the host's configuration, with their links.
  ns->AddVirtualSwitch("switch2", nullptr);
  EXPECT_THROW(ns->AddVirtualSwitch("switch2", nullptr), Kor::Fault::AlreadyExists::Exception);
  ns->AddPortGroup(spec("Backup", "switch2", 30));
  std::vector<std::string> expected = before;
  expected.push_back("Backup");
  EXPECT_EQ(PortGroups(), expected);
  Ref<Kor::Host::NetworkInfo> info;
  ns->GetNetworkInfo(info);
  const Kor::Host::PortGroup* added = info->GetPortgroup()->Get(info->GetPortgroup()->GetLength() - 1);
  const Kor::Host::VirtualSwitch* vswitch = info->GetVswitch()->Get(info->GetVswitch()->GetLength() - 1);
  EXPECT_EQ(*added->vswitch, vswitch->key);
  EXPECT_EQ(vswitch->PeekPortgroup()->GetValues(), std::vector<std::string>{*added->key});
  // A switch whose port groups nothing uses goes with them.
  ns->RemoveVirtualSwitch("switch2");
  EXPECT_EQ(PortGroups(), before);
  EXPECT_THROW(ns->RemoveVirtualSwitch("switch2"), Kor::Fault::NotFound::Exception);
}

// ---- concurrency ------------------------------------------------------------------

TEST(InventoryThreads, ConcurrentPowerOperationsGiveOneWinnerPerMachine) {
  kortypes::demo::InventoryOptions o;
  o.clustersPerDatacenter = 2;
  o.hostsPerCluster = 2;
  o.vmsPerHost = 3;
  kortypes::demo::DemoServer server(kortypes::demo::Clock(), o);
  Movel::StubAdapter* adapter = server.GetAdapter();
  Refs ids;
  Ref<Kor::Folder>(new Kor::FolderStub(kortypes::demo::kVmFolderId, adapter, nullptr))->GetChildEntity(ids);
  ASSERT_EQ(ids->GetLength(), 12);
  std::vector<Ref<Kor::VirtualMachine>> machines;
  for (Movel::MoRef* ref : *ids) machines.push_back(Ref<Kor::VirtualMachine>(new Kor::VirtualMachineStub(ref, adapter, nullptr)));

  // Every thread tries every power operation on every machine; per machine
  // and round exactly one power-on and one power-off win.
  constexpr int kThreads = 4, kRounds = 3;
  std::atomic<int> wins{0}, refusals{0}, other{0};
  auto run = [&](bool on) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (std::size_t i = 0; i < machines.size(); ++i) {
          Kor::VirtualMachine* m = machines[(i + static_cast<std::size_t>(t) * 5) % machines.size()];
          Ref<Movel::MoRef> task;
          try {
            if (on) {
              m->PowerOn(nullptr, task);
            } else {
              m->PowerOff(task);
            }
            ++wins;
          } catch (const Kor::Fault::InvalidPowerState::Exception&) {
            ++refusals;
          } catch (...) {
            ++other;
          }
        }
      });
    }
    for (std::thread& th : threads) th.join();
  };
  for (int round = 0; round < kRounds; ++round) {
    run(true);
    run(false);
  }
  const int expectedWins = 2 * kRounds * static_cast<int>(machines.size());
  EXPECT_EQ(wins.load(), expectedWins);
  EXPECT_EQ(refusals.load(), 2 * kRounds * kThreads * static_cast<int>(machines.size()) - expectedWins);
  EXPECT_EQ(other.load(), 0);

  // The history: per machine, power events alternate on, off, on, ...,
  // each followed in its chain by its task's event; keys are unique.
  Ref<Kor::Event::EventManager> events(
      new Kor::Event::EventManagerStub(kortypes::demo::kEventManagerId, adapter, nullptr));
  Ref<Kor::Event::EventFilterSpec> any(new Kor::Event::EventFilterSpec());
  Ref<Movel::DataArray<Kor::Event::Event>> all;
  events->QueryEvents(any, all);
  ASSERT_EQ(all->GetLength(), 2 * expectedWins);
  std::map<std::string, std::vector<std::string>> sequence;
  std::map<int, int> perChain;
  for (const Kor::Event::Event* e : *all) {
    ++perChain[e->chainId];
    if (dynamic_cast<const Kor::Event::TaskEvent*>(e)) continue;
    ASSERT_NE(e->PeekVm(), nullptr);
    sequence[e->PeekVm()->PeekVm()->GetId()].push_back(e->_GetType()->GetName());
  }
  EXPECT_EQ(static_cast<int>(perChain.size()), expectedWins);
  for (const auto& chain : perChain) EXPECT_EQ(chain.second, 2);
  ASSERT_EQ(sequence.size(), machines.size());
  for (const auto& entry : sequence) {
    ASSERT_EQ(static_cast<int>(entry.second.size()), 2 * kRounds) << entry.first;
    for (std::size_t i = 0; i < entry.second.size(); ++i) {
      EXPECT_EQ(entry.second[i], i % 2 == 0 ? "kor.event.VmPoweredOnEvent" : "kor.event.VmPoweredOffEvent")
          << entry.first << " #" << i;
    }
  }
  // Every host counts no running machine any more: each may enter
  // maintenance mode.
  for (const Ref<Kor::VirtualMachine>& m : machines) {
    Ref<Kor::Vm::RuntimeInfo> runtime;
    m->GetRuntime(runtime);
    EXPECT_EQ(runtime->powerState, Power::poweredOff);
  }
  Ref<Kor::HostSystem> first(new Kor::HostSystemStub(kortypes::demo::kHostId, adapter, nullptr));
  Ref<Movel::MoRef> task;
  first->EnterMaintenanceMode(0, Basekit::Optional<bool>(), nullptr, task);
}

}  // namespace
