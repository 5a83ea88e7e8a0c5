// The sized inventory, read through stubs: shape and counts for several
// sizes, the host network and storage state, machine devices, faults, and
// power operations from several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "demo_host_state.h"
#include "demo_server.h"
#include "kortypes/kortypes.h"

namespace {

using Basekit::Ref;
using kortypes::demo::DemoServer;
using kortypes::demo::InventoryOptions;
using Refs = Ref<Movel::DataArray<Movel::MoRef>>;
using Power = Kor::VirtualMachine::PowerState;

InventoryOptions Sized(int datacenters, int clusters, int hosts, int vms) {
  InventoryOptions o;
  o.datacenters = datacenters;
  o.clustersPerDatacenter = clusters;
  o.hostsPerCluster = hosts;
  o.vmsPerHost = vms;
  return o;
}

template <class StubT>
Ref<StubT> StubOf(Movel::StubAdapter* adapter, const Movel::MoRef* ref) {
  return Ref<StubT>(new StubT(const_cast<Movel::MoRef*>(ref), adapter, nullptr));
}

std::vector<Ref<Movel::MoRef>> ListOf(const Movel::DataArray<Movel::MoRef>* list) {
  std::vector<Ref<Movel::MoRef>> out;
  if (list) {
    for (Movel::MoRef* ref : *list) out.push_back(Ref<Movel::MoRef>(ref));
  }
  return out;
}

bool Holds(const Movel::DataArray<Movel::MoRef>* list, const Movel::MoRef* ref) {
  for (const Ref<Movel::MoRef>& r : ListOf(list)) {
    if (*r == *ref) return true;
  }
  return false;
}

// Everything reachable from the root folder through folders, datacenters
// and clusters, each checked to name the container it was found in as its
// parent.
struct Walk {
  std::map<std::string, std::vector<Ref<Movel::MoRef>>> byType;  // wire type name -> entities
  std::map<std::string, std::string> parentOf;                   // id -> parent id
  std::set<std::string> names;                                   // "parent id/name", to find duplicates
  int duplicateNames = 0;

  void Visit(Movel::StubAdapter* adapter, Movel::MoRef* ref, const std::string& parent) {
    byType[ref->GetType()->GetName()].push_back(Ref<Movel::MoRef>(ref));
    Ref<Kor::ManagedEntity> entity = StubOf<Kor::ManagedEntityStub>(adapter, ref);
    Ref<Movel::MoRef> up;
    entity->GetParent(up);
    EXPECT_EQ(up ? up->GetId() : std::string(), parent) << ref->ToString();
    parentOf[ref->GetId()] = parent;
    if (!names.insert(parent + "/" + entity->GetName()).second) ++duplicateNames;
    Refs children;
    if (ref->GetType() == Movel::GetMoType<Kor::Folder>()) {
      StubOf<Kor::FolderStub>(adapter, ref)->GetChildEntity(children);
    } else if (ref->GetType() == Movel::GetMoType<Kor::Datacenter>()) {
      Ref<Kor::Datacenter> dc = StubOf<Kor::DatacenterStub>(adapter, ref);
      children = new Movel::DataArray<Movel::MoRef>();
      Ref<Movel::MoRef> folder;
      dc->GetHostFolder(folder);
      children->Append(folder);
      dc->GetVmFolder(folder);
      children->Append(folder);
      dc->GetDatastoreFolder(folder);
      children->Append(folder);
      dc->GetNetworkFolder(folder);
      children->Append(folder);
    } else if (ref->GetType() == Movel::GetMoType<Kor::ClusterComputeResource>()) {
      StubOf<Kor::ClusterComputeResourceStub>(adapter, ref)->GetHost(children);
    }
    for (const Ref<Movel::MoRef>& child : ListOf(children)) Visit(adapter, child, ref->GetId());
  }
  std::size_t Count(const char* type) const {
    auto it = byType.find(type);
    return it == byType.end() ? 0 : it->second.size();
  }
  const std::vector<Ref<Movel::MoRef>>& Of(const char* type) { return byType[type]; }
};

Walk WalkFromRoot(DemoServer& server) {
  Ref<Kor::ServiceInstance> si(
      new Kor::ServiceInstanceStub(kortypes::demo::kServiceInstanceId, server.GetAdapter(), nullptr));
  Ref<Kor::ServiceInstanceContent> content;
  si->RetrieveContent(content);
  Walk walk;
  walk.Visit(server.GetAdapter(), const_cast<Movel::MoRef*>(content->PeekRootFolder()), "");
  return walk;
}

// ---- sizes and shape ------------------------------------------------------------

TEST(InventorySize, EverySizeGivesItsCountsAndTree) {
  const InventoryOptions cases[] = {InventoryOptions(), Sized(2, 3, 2, 2), Sized(1, 0, 3, 2),
                                    Sized(3, 1, 1, 0), Sized(0, 4, 4, 4), Sized(2, 2, 0, 5)};
  for (const InventoryOptions& o : cases) {
    SCOPED_TRACE(std::to_string(o.datacenters) + "/" + std::to_string(o.clustersPerDatacenter) + "/" +
                 std::to_string(o.hostsPerCluster) + "/" + std::to_string(o.vmsPerHost));
    DemoServer server(kortypes::demo::Clock(), o);
    Walk walk = WalkFromRoot(server);
    const std::size_t hostsPerDc = static_cast<std::size_t>(
        o.clustersPerDatacenter > 0 ? o.clustersPerDatacenter * o.hostsPerCluster : o.hostsPerCluster);
    const std::size_t dcs = static_cast<std::size_t>(o.datacenters);
    const std::size_t hosts = dcs * hostsPerDc;
    EXPECT_EQ(walk.Count("kor.Datacenter"), dcs);
    EXPECT_EQ(walk.Count("kor.ClusterComputeResource"), dcs * static_cast<std::size_t>(o.clustersPerDatacenter));
    EXPECT_EQ(walk.Count("kor.HostSystem"), hosts);
    EXPECT_EQ(walk.Count("kor.VirtualMachine"), hosts * static_cast<std::size_t>(o.vmsPerHost));
    EXPECT_EQ(walk.Count("kor.Datastore"), hosts + dcs);  // local ones and one shared each
    EXPECT_EQ(walk.Count("kor.Network"), dcs);
    EXPECT_EQ(walk.Count("kor.Folder"), 1 + 4 * dcs);
    EXPECT_EQ(walk.duplicateNames, 0);

    // The reported size agrees with the walk and with what is registered:
    // the entities, two systems per host and the three managers.
    kortypes::demo::InventorySize size = server.GetInventorySize();
    EXPECT_EQ(size.hosts, static_cast<long long>(hosts));
    EXPECT_EQ(size.vms, static_cast<long long>(walk.Count("kor.VirtualMachine")));
    EXPECT_EQ(server.GetObjectCount(), static_cast<std::size_t>(size.Total()) + 3);

    // Hosts: standalone in a host folder or in a cluster, never both; each
    // machine's host lists it.
    for (const Ref<Movel::MoRef>& host : walk.Of("kor.HostSystem")) {
      const std::string& parent = walk.parentOf[host->GetId()];
      const bool inCluster = parent.rfind("domain-c", 0) == 0;
      EXPECT_TRUE(inCluster || parent.rfind("group-h", 0) == 0) << parent;
      if (o.clustersPerDatacenter == 0) {
        EXPECT_FALSE(inCluster);
      }
    }
    for (const Ref<Movel::MoRef>& vm : walk.Of("kor.VirtualMachine")) {
      Ref<Kor::Vm::RuntimeInfo> runtime;
      StubOf<Kor::VirtualMachineStub>(server.GetAdapter(), vm)->GetRuntime(runtime);
      ASSERT_NE(runtime->PeekHost(), nullptr);
      Refs onHost;
      StubOf<Kor::HostSystemStub>(server.GetAdapter(), runtime->PeekHost())->GetVm(onHost);
      EXPECT_TRUE(Holds(onHost, vm)) << vm->ToString();
      EXPECT_EQ(runtime->powerState, Power::poweredOff);
    }
    // A cluster's summary counts the hosts it lists.
    for (const Ref<Movel::MoRef>& cluster : walk.Of("kor.ClusterComputeResource")) {
      Ref<Kor::ClusterComputeResource> stub = StubOf<Kor::ClusterComputeResourceStub>(server.GetAdapter(), cluster);
      Refs members;
      stub->GetHost(members);
      Ref<Kor::ComputeResource::Summary> summary;
      stub->GetSummary(summary);
      EXPECT_EQ(summary->numHosts, members->GetLength());
    }
  }
}

TEST(InventorySize, TheFirstDatacenterKeepsItsWellKnownObjects) {
  DemoServer server(kortypes::demo::Clock(), Sized(2, 2, 3, 2));
  Movel::StubAdapter* adapter = server.GetAdapter();
  Ref<Kor::Folder> hostFolder(new Kor::FolderStub(kortypes::demo::kHostFolderId, adapter, nullptr));
  Refs children;
  hostFolder->GetChildEntity(children);
  ASSERT_GT(children->GetLength(), 0);
  EXPECT_EQ(children->Get(0)->GetId(), kortypes::demo::kHostId);
  Ref<Kor::HostSystem> host(new Kor::HostSystemStub(kortypes::demo::kHostId, adapter, nullptr));
  EXPECT_EQ(host->GetName(), "hv-01.lab");
  Refs vms;
  host->GetVm(vms);
  ASSERT_EQ(vms->GetLength(), 2);
  EXPECT_EQ(vms->Get(0)->GetId(), kortypes::demo::kVmId);
  Ref<Kor::VirtualMachine> vm(new Kor::VirtualMachineStub(kortypes::demo::kVmId, adapter, nullptr));
  EXPECT_EQ(vm->GetName(), "web-frontend");
  Ref<Movel::MoRef> parent;
  vm->GetParent(parent);
  EXPECT_EQ(parent->GetId(), kortypes::demo::kVmFolderId);
}

TEST(InventorySize, NegativeOrOversizedInventoriesAreRefused) {
  const InventoryOptions bad[] = {Sized(-1, 1, 1, 1), Sized(1, -1, 1, 1), Sized(1, 1, -2, 1),
                                  Sized(1, 1, 1, -1), Sized(1000, 10, 10, 1),
                                  Sized(100000, 100000, 100000, 100000), Sized(1, 0, 100000, 1)};
  for (const InventoryOptions& o : bad) {
    EXPECT_THROW(kortypes::demo::SizeOf(o), std::invalid_argument);
    EXPECT_THROW(DemoServer(kortypes::demo::Clock(), o), std::invalid_argument);
  }
  try {
    kortypes::demo::SizeOf(Sized(1, 1, -2, 1));
    ADD_FAILURE() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("hosts per cluster"), std::string::npos) << e.what();
  }
  // Each machine is one object more: the largest inventory is allowed,
  // one machine more is not.
  const long long empty = kortypes::demo::SizeOf(Sized(1, 0, 1, 0)).Total();
  const int room = static_cast<int>(kortypes::demo::kMaxInventoryObjects - empty);
  EXPECT_EQ(kortypes::demo::SizeOf(Sized(1, 0, 1, room)).Total(), kortypes::demo::kMaxInventoryObjects);
  EXPECT_THROW(kortypes::demo::SizeOf(Sized(1, 0, 1, room + 1)), std::invalid_argument);
}

// ---- host state -----------------------------------------------------------------

std::set<std::string> Keys(const std::vector<std::string>& keys) { return {keys.begin(), keys.end()}; }

TEST(InventoryHosts, NetworkAndStorageStateHangTogether) {
  DemoServer server(kortypes::demo::Clock(), Sized(2, 1, 2, 1));
  Movel::StubAdapter* adapter = server.GetAdapter();
  Walk walk = WalkFromRoot(server);
  ASSERT_EQ(walk.Count("kor.HostSystem"), 4u);
  std::set<std::string> macs;
  for (const Ref<Movel::MoRef>& ref : walk.Of("kor.HostSystem")) {
    SCOPED_TRACE(ref->ToString());
    Ref<Kor::HostSystem> host = StubOf<Kor::HostSystemStub>(adapter, ref);
    Ref<Kor::Host::ConfigInfo> config;
    host->GetConfig(config);
    ASSERT_NE(config->PeekNetwork(), nullptr);
    ASSERT_NE(config->PeekStorageDevice(), nullptr);
    ASSERT_NE(config->PeekFileSystemVolume(), nullptr);
    EXPECT_EQ(*config->PeekHost(), *ref);

    // Network: links by key, names by name.
    Kor::Host::NetworkInfo* net = const_cast<Kor::Host::NetworkInfo*>(config->PeekNetwork());
    std::map<std::string, std::string> switchByKey;
    std::vector<std::string> groupKeys, pnicKeys, listedGroups, listedPnics, groupNames;
    for (const Kor::Host::VirtualSwitch* s : *net->GetVswitch()) {
      switchByKey[s->key] = s->name;
      for (const std::string& k : s->PeekPortgroup()->GetValues()) listedGroups.push_back(k);
      for (const std::string& k : s->PeekPnic()->GetValues()) listedPnics.push_back(k);
    }
    EXPECT_FALSE(switchByKey.empty());
    for (const Kor::Host::PortGroup* g : *net->GetPortgroup()) {
      ASSERT_TRUE(g->key && g->vswitch);
      groupKeys.push_back(*g->key);
      groupNames.push_back(g->PeekSpec()->name);
      ASSERT_EQ(switchByKey.count(*g->vswitch), 1u) << *g->vswitch;
      EXPECT_EQ(switchByKey[*g->vswitch], g->PeekSpec()->vswitchName);
    }
    for (const Kor::Host::PhysicalNic* p : *net->GetPnic()) {
      pnicKeys.push_back(p->key);
      EXPECT_TRUE(macs.insert(p->mac).second) << "MAC used twice: " << p->mac;
    }
    EXPECT_EQ(Keys(listedGroups), Keys(groupKeys));
    EXPECT_EQ(listedGroups.size(), groupKeys.size());
    for (const std::string& k : listedPnics) EXPECT_EQ(Keys(pnicKeys).count(k), 1u) << k;
    for (const Kor::Host::VirtualNic* v : *net->GetVnic()) {
      EXPECT_EQ(Keys(groupNames).count(v->portgroup), 1u) << v->portgroup;
    }
    EXPECT_EQ(Keys(groupNames).count(kortypes::demo::kVmPortGroup), 1u);

    // The network system serves the same state, and the configuration the
    // factory derives from it names every listed port group.
    Ref<Kor::Host::ConfigManager> manager;
    host->GetConfigManager(manager);
    ASSERT_NE(manager->PeekNetworkSystem(), nullptr);
    Ref<Kor::Host::NetworkSystem> ns = StubOf<Kor::Host::NetworkSystemStub>(adapter, manager->PeekNetworkSystem());
    Ref<Kor::Host::NetworkInfo> served;
    ns->GetNetworkInfo(served);
    EXPECT_TRUE(served->_IsEqual(net, false));
    Ref<Kor::Host::NetworkConfig> derived;
    ns->GetNetworkConfig(derived);
    std::vector<std::string> configured;
    for (const Kor::Host::PortGroup::Config* g : *derived->GetPortgroup()) configured.push_back(g->PeekSpec()->name);
    EXPECT_EQ(Keys(configured), Keys(groupNames));

    // Storage: multipath units name LUNs, paths name adapters and units,
    // the topology names LUNs, volumes sit on LUNs.
    Kor::Host::StorageDeviceInfo* storage = const_cast<Kor::Host::StorageDeviceInfo*>(config->PeekStorageDevice());
    std::set<std::string> lunKeys, canonical, hbaKeys;
    for (const Kor::Host::ScsiLun* lun : *storage->GetScsiLun()) {
      ASSERT_TRUE(lun->key && lun->canonicalName);
      lunKeys.insert(*lun->key);
      canonical.insert(*lun->canonicalName);
    }
    for (const Kor::Host::HostBusAdapter* hba : *storage->GetHostBusAdapter()) {
      ASSERT_TRUE(hba->key);
      hbaKeys.insert(*hba->key);
    }
    EXPECT_FALSE(lunKeys.empty());
    const Kor::Host::MultipathInfo* multipath = storage->PeekMultipathInfo();
    ASSERT_NE(multipath, nullptr);
    std::set<std::string> pathNames;
    for (const Kor::Host::MultipathInfo::LogicalUnit* unit : *const_cast<Kor::Host::MultipathInfo*>(multipath)->GetLun()) {
      EXPECT_EQ(lunKeys.count(unit->lun), 1u) << unit->lun;
      ASSERT_NE(unit->PeekPath(), nullptr);
      for (const Kor::Host::MultipathInfo::Path* path : *unit->PeekPath()) {
        EXPECT_EQ(hbaKeys.count(path->adapter), 1u) << path->adapter;
        EXPECT_EQ(path->lun, unit->key);
        pathNames.insert(path->name);
      }
    }
    std::set<std::string> stateNames;
    ASSERT_NE(config->PeekMultipathState(), nullptr);
    for (const auto* p : *const_cast<Kor::Host::MultipathStateInfo*>(config->PeekMultipathState())->GetPath()) {
      stateNames.insert(p->name);
    }
    EXPECT_EQ(stateNames, pathNames);
    for (const auto* adapter_ : *const_cast<Kor::Host::ScsiTopology*>(storage->PeekScsiTopology())->GetAdapter()) {
      EXPECT_EQ(hbaKeys.count(adapter_->adapter), 1u);
      for (const auto* target : *adapter_->PeekTarget()) {
        for (const auto* lun : *target->PeekLun()) EXPECT_EQ(lunKeys.count(lun->scsiLun), 1u);
      }
    }
    std::set<std::string> volumes;
    for (const Kor::Host::FileSystemMountInfo* m :
         *const_cast<Kor::Host::FileSystemVolumeInfo*>(config->PeekFileSystemVolume())->GetMountInfo()) {
      volumes.insert(m->PeekVolume()->name);
      if (const auto* clfs = dynamic_cast<const Kor::Host::ClfsVolume*>(m->PeekVolume())) {
        ASSERT_GT(clfs->PeekExtent()->GetLength(), 0);
        for (const Kor::Host::ScsiDisk::Partition* extent : *clfs->PeekExtent()) {
          EXPECT_EQ(canonical.count(extent->diskName), 1u) << extent->diskName;
        }
      }
    }
    // Every datastore that lists this host among its mounts is a volume the
    // host has mounted, at the datastore's URL.
    for (const Ref<Movel::MoRef>& ds : walk.Of("kor.Datastore")) {
      Ref<Kor::Datastore> store = StubOf<Kor::DatastoreStub>(adapter, ds);
      Ref<Movel::DataArray<Kor::Datastore::HostMount>> mounts;
      store->GetHost(mounts);
      for (const Kor::Datastore::HostMount* mount : *mounts) {
        if (*mount->PeekKey() != *ref) continue;
        Ref<Kor::Datastore::Summary> summary;
        store->GetSummary(summary);
        EXPECT_EQ(volumes.count(summary->name), 1u) << summary->name;
        EXPECT_EQ(summary->url, "ds://" + *mount->PeekMountInfo()->path + "/");
        EXPECT_GT(summary->capacity, 0);
      }
    }
  }
}

// ---- machines ---------------------------------------------------------------------

TEST(InventoryVms, EveryMachineHasDevicesOnItsOwnDatastoreAndNetwork) {
  DemoServer server(kortypes::demo::Clock(), Sized(2, 2, 2, 2));
  Movel::StubAdapter* adapter = server.GetAdapter();
  Walk walk = WalkFromRoot(server);
  ASSERT_EQ(walk.Count("kor.VirtualMachine"), 16u);
  std::set<std::string> uuids, macs;
  for (const Ref<Movel::MoRef>& ref : walk.Of("kor.VirtualMachine")) {
    SCOPED_TRACE(ref->ToString());
    Ref<Kor::VirtualMachine> vm = StubOf<Kor::VirtualMachineStub>(adapter, ref);
    Ref<Kor::Vm::ConfigInfo> config;
    vm->GetConfig(config);
    EXPECT_TRUE(uuids.insert(config->uuid).second);
    Refs datastores, networks;
    vm->GetDatastore(datastores);
    vm->GetNetwork(networks);
    std::map<int, const Kor::Vm::Device::VirtualDevice*> byKey;
    const auto* devices = config->PeekHardware()->PeekDevice();
    ASSERT_NE(devices, nullptr);
    for (const Kor::Vm::Device::VirtualDevice* d : *devices) byKey[d->key] = d;
    int disks = 0, cards = 0;
    for (const Kor::Vm::Device::VirtualDevice* d : *devices) {
      if (d->controllerKey.IsSet()) {
        EXPECT_NE(dynamic_cast<const Kor::Vm::Device::VirtualController*>(byKey[d->controllerKey.GetValue()]), nullptr);
      }
      if (const auto* disk = dynamic_cast<const Kor::Vm::Device::VirtualDisk*>(d)) {
        ++disks;
        const auto* backing = dynamic_cast<const Kor::Vm::Device::VirtualDevice::FileBackingInfo*>(disk->PeekBacking());
        ASSERT_NE(backing, nullptr);
        ASSERT_NE(backing->PeekDatastore(), nullptr);
        EXPECT_TRUE(Holds(datastores, backing->PeekDatastore()));
        const auto* controller = dynamic_cast<const Kor::Vm::Device::VirtualController*>(byKey[disk->controllerKey.GetValue()]);
        ASSERT_NE(controller, nullptr);
        const auto& listed = controller->PeekDevice()->GetValues();
        EXPECT_NE(std::find(listed.begin(), listed.end(), disk->key), listed.end());
      }
      if (const auto* card = dynamic_cast<const Kor::Vm::Device::VirtualEthernetCard*>(d)) {
        ++cards;
        ASSERT_TRUE(card->macAddress);
        EXPECT_TRUE(macs.insert(*card->macAddress).second) << *card->macAddress;
        const auto* backing = dynamic_cast<const Kor::Vm::Device::VirtualEthernetCard::NetworkBackingInfo*>(card->PeekBacking());
        ASSERT_NE(backing, nullptr);
        ASSERT_NE(backing->PeekNetwork(), nullptr);
        EXPECT_TRUE(Holds(networks, backing->PeekNetwork()));
      }
    }
    EXPECT_GE(disks, 1);
    EXPECT_GE(cards, 1);
    Ref<Kor::Vm::Summary> summary;
    vm->GetSummary(summary);
    EXPECT_EQ(summary->PeekConfig()->numVirtualDisks, disks);
    EXPECT_EQ(summary->PeekConfig()->numEthernetCards, cards);
    EXPECT_EQ(summary->PeekConfig()->name, vm->GetName());
    // The machine's datastores list it back.
    for (const Ref<Movel::MoRef>& ds : ListOf(datastores)) {
      Refs onDatastore;
      StubOf<Kor::DatastoreStub>(adapter, ds)->GetVm(onDatastore);
      EXPECT_TRUE(Holds(onDatastore, ref));
    }
  }
}

}  // namespace
