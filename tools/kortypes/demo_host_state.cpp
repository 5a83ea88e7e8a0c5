// Host network and storage state for the demo server, through the factories.
#include "demo_host_state.h"

#include <cstdio>

#include "kortypes/network_factory.h"
#include "kortypes/storage_factory.h"

namespace kortypes {
namespace demo {

const char* const kVmPortGroup = "VM Network";

namespace {

using Basekit::Ref;
using namespace Kor::Host;

// Two hex digits of byte n of value.
std::string Hex2(int value, int n) {
  char buf[3];
  std::snprintf(buf, sizeof buf, "%02x", (value >> (8 * n)) & 0xff);
  return buf;
}

std::string Mac(int host, int nic) {
  return "00:1b:21:" + Hex2(host, 1) + ":" + Hex2(host, 0) + ":" + Hex2(nic, 0);
}

// 10.<network>.<host high>.<host low>; host numbers stay below 65,536.
std::string Address(int network, int host) {
  return "10." + std::to_string(network) + "." + std::to_string((host >> 8) & 0xff) + "." +
         std::to_string(host & 0xff);
}

std::string Domain(const std::string& hostName) {
  std::size_t dot = hostName.find('.');
  return dot == std::string::npos ? std::string() : hostName.substr(dot + 1);
}

std::string ShortName(const std::string& hostName) { return hostName.substr(0, hostName.find('.')); }

std::string Uuid(int host, int n) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "5f1c%04x-%08x-%04x-0025904a%04x", n & 0xffff,
                static_cast<unsigned>(host), n & 0xffff, static_cast<unsigned>(host) & 0xffff);
  return buf;
}

}  // namespace

Ref<NetworkInfo> BuildHostNetwork(const HostLayout& host) {
  NetworkFactory* f = GetNetworkFactory();
  Ref<NetworkInfo> info;
  f->CreateNetworkInfo(info);

  struct Group {
    const char* name;
    int vlan;
    int vswitch;
  };
  const Group groups[] = {{"Management", 0, 0}, {kVmPortGroup, 0, 0}, {"Storage", 20, 1}};
  const char* const switchNames[] = {"switch0", "switch1"};
  for (int s = 0; s < 2; ++s) {
    Ref<VirtualSwitch> vswitch;
    f->CreateVirtualSwitch(vswitch);
    vswitch->name = switchNames[s];
    vswitch->key = std::string("key-vswitch-") + switchNames[s];
    vswitch->numPorts = 128;
    vswitch->mtu = 1500;
    const_cast<VirtualSwitch::Specification*>(vswitch->PeekSpec())->numPorts = 128;
    info->GetVswitch()->Append(vswitch.Get());
  }
  for (const Group& g : groups) {
    Ref<PortGroup> group;
    f->CreatePortGroup(group);
    VirtualSwitch* vswitch = info->GetVswitch()->Get(g.vswitch);
    Movel::SetOptionalString(group->key, std::string("key-portgroup-") + g.name);
    Movel::SetOptionalString(group->vswitch, vswitch->key);
    auto* spec = const_cast<PortGroup::Specification*>(group->PeekSpec());
    spec->name = g.name;
    spec->vlanId = g.vlan;
    spec->vswitchName = vswitch->name;
    vswitch->GetPortgroup()->Append(*group->key);
    info->GetPortgroup()->Append(group.Get());
  }
  // Each switch's ports: one per port group member so far, the rest free.
  for (VirtualSwitch* vswitch : *info->GetVswitch()) {
    vswitch->numPortsAvailable = vswitch->numPorts - vswitch->GetPortgroup()->GetLength();
  }
  for (int n = 0; n < 2; ++n) {
    Ref<PhysicalNic> pnic;
    f->CreatePhysicalNic(pnic);
    pnic->device = "nic" + std::to_string(n);
    pnic->key = "key-pnic-" + pnic->device;
    pnic->pci = "0000:0" + std::to_string(n + 3) + ":00.0";
    pnic->driver = "ixgb";
    pnic->mac = Mac(host.number, n);
    Ref<PhysicalNic::LinkSpeedDuplex> speed;
    f->CreatePhysicalNicLinkSpeedDuplex(speed);
    speed->speedMb = 10000;
    speed->duplex = true;
    pnic->SetLinkSpeed(speed);
    pnic->wakeOnLanSupported = true;
    info->GetPnic()->Append(pnic.Get());
    info->GetVswitch()->Get(n)->GetPnic()->Append(pnic->key);
  }
  const char* const vnicGroups[] = {"Management", "Storage"};
  for (int v = 0; v < 2; ++v) {
    Ref<VirtualNic> vnic;
    f->CreateVirtualNic(vnic);
    vnic->device = "vnic" + std::to_string(v);
    vnic->key = "key-vnic-" + vnic->device;
    vnic->portgroup = vnicGroups[v];
    auto* spec = const_cast<VirtualNic::Specification*>(vnic->PeekSpec());
    Movel::SetOptionalString(spec->mac, Mac(host.number, 0x80 + v));
    auto* ip = const_cast<IpConfig*>(spec->PeekIp());
    ip->dhcp = false;
    ip->ipAddress = Address(v == 0 ? 10 : 20, host.number);
    ip->subnetMask = "255.255.0.0";
    spec->mtu = v == 0 ? 1500 : 9000;
    info->GetVnic()->Append(vnic.Get());
  }
  Ref<DnsConfig> dns;
  f->CreateDnsConfig(dns);
  dns->hostName = ShortName(host.name);
  dns->domainName = Domain(host.name);
  dns->GetAddress()->Append("10.10.0.2");
  if (!dns->domainName.empty()) dns->GetSearchDomain()->Append(dns->domainName);
  info->SetDnsConfig(dns);
  Ref<IpRouteConfig> route;
  f->CreateIpRouteConfig(route);
  Movel::SetOptionalString(route->defaultGateway, "10.10.0.1");
  info->SetIpRouteConfig(route);
  info->ipV6Enabled = false;
  return info;
}

HostStorageState BuildHostStorage(const HostLayout& host, Basekit::System::DateTime now) {
  StorageFactory* f = GetStorageFactory();
  HostStorageState state;
  f->CreateStorageDeviceInfo(state.devices);
  StorageDeviceInfo* devices = state.devices;

  // The adapter and the disk behind it.
  Ref<ParallelScsiHba> hba;
  f->CreateParallelScsiHba(hba);
  hba->device = "hba0";
  Movel::SetOptionalString(hba->key, "key-hba-hba0");
  hba->status = "online";
  hba->model = "Serial Attached SCSI controller";
  Movel::SetOptionalString(hba->driver, "sas3");
  Movel::SetOptionalString(hba->pci, "0000:02:00.0");
  devices->GetHostBusAdapter()->Append(hba.Get());

  Ref<ScsiDisk> disk;
  f->CreateScsiDisk(disk);
  char canonical[48];
  std::snprintf(canonical, sizeof canonical, "naa.600508b1001c%016x", static_cast<unsigned>(host.number));
  Movel::SetOptionalString(disk->key, std::string("key-lun-") + canonical);
  disk->uuid = std::string("0200000000") + (canonical + 4);
  Movel::SetOptionalString(disk->canonicalName, canonical);
  Movel::SetOptionalString(disk->displayName, std::string("Local disk (") + canonical + ")");
  disk->lunType = "disk";
  Movel::SetOptionalString(disk->vendor, "KORSTOR");
  Movel::SetOptionalString(disk->model, "LOCAL SSD 960G");
  disk->GetOperationalState()->Append("ok");
  Ref<DiskDimensions::Lba> capacity(new DiskDimensions::Lba());
  capacity->blockSize = 512;
  capacity->block = 1875385008LL;  // 960 GB
  disk->SetCapacity(capacity);
  disk->devicePath = std::string("/dev/disks/") + canonical;
  disk->ssd = true;
  disk->localDisk = true;
  Ref<ScsiLun> lun(disk.Get());
  devices->GetScsiLun()->Append(lun.Get());

  // One path: adapter, target 0, LUN 0.
  const std::string pathName = "hba0:C0:T0:L0";
  Ref<Kor::Host::TargetTransport> transport;
  f->CreateTargetTransport(hba, transport);
  Ref<MultipathInfo::LogicalUnit> unit;
  f->CreateMPInfoLogicUnit(unit);
  unit->key = std::string("key-unit-") + canonical;
  unit->id = disk->uuid;
  unit->lun = *disk->key;
  Ref<MultipathInfo::Path> path;
  f->CreateMPInfoPath(path);
  path->key = "key-path-" + pathName;
  path->name = pathName;
  path->pathState = "active";
  path->isWorkingPath = true;
  path->adapter = *hba->key;
  path->lun = unit->key;
  path->SetTransport(transport);
  unit->GetPath()->Append(path.Get());
  auto* multipath = const_cast<MultipathInfo*>(devices->PeekMultipathInfo());
  multipath->GetLun()->Append(unit.Get());
  multipath->lastUpdateTime = now;
  multipath->statusReason = "ok";

  Ref<ScsiTopology::Interface> interface;
  f->CreateScsiTopologyInterface(interface);
  interface->key = "key-interface-hba0";
  interface->adapter = *hba->key;
  Ref<ScsiTopology::Target> target;
  f->CreateScsiTopologyTarget(target);
  target->key = "key-target-hba0-0";
  target->target = 0;
  Ref<Kor::Host::TargetTransport> targetTransport;
  f->CreateTargetTransport(hba, targetTransport);
  target->SetTransport(targetTransport);
  Ref<ScsiTopology::Lun> topologyLun(new ScsiTopology::Lun());
  topologyLun->key = "key-topology-lun-" + pathName;
  topologyLun->lun = 0;
  topologyLun->scsiLun = *disk->key;
  topologyLun->datastoreName = host.localDatastore;
  target->GetLun()->Append(topologyLun.Get());
  interface->GetTarget()->Append(target.Get());
  auto* topology = const_cast<ScsiTopology*>(devices->PeekScsiTopology());
  topology->GetAdapter()->Append(interface.Get());
  topology->sharedBus = "noSharing";
  topology->maxTargets = 16;
  devices->softwareInternetScsiEnabled = false;

  state.paths = new MultipathStateInfo();
  Ref<MultipathStateInfo::Path> pathState(new MultipathStateInfo::Path());
  pathState->name = pathName;
  pathState->pathState = path->pathState;
  state.paths->GetPath()->Append(pathState.Get());

  // The local volume fills the disk's first partition.
  f->CreateFileSystemVolumeInfo(state.volumes);
  Ref<ClfsVolume> clfs;
  f->CreateClfs(clfs, 3);
  clfs->name = host.localDatastore;
  clfs->capacity = capacity->block * capacity->blockSize - (1LL << 30);
  clfs->accessTime = now;
  clfs->uuid = Uuid(host.number, 1);
  clfs->local = true;
  clfs->ssd = true;
  Ref<ScsiDisk::Partition> extent(new ScsiDisk::Partition());
  extent->diskName = *disk->canonicalName;
  extent->partition = 1;
  extent->datastoreName = host.localDatastore;
  extent->capacityInMB = clfs->capacity >> 20;
  clfs->GetExtent()->Append(extent.Get());
  auto mount = [&](FileSystemVolume* volume, const std::string& where) {
    Ref<FileSystemMountInfo> info(new FileSystemMountInfo());
    Ref<MountInfo> at(new MountInfo());
    Movel::SetOptionalString(at->path, where);
    at->accessMode = MountInfo::AccessMode::readWrite;
    at->mounted = true;
    at->accessible = true;
    info->SetMountInfo(at);
    info->SetVolume(volume);
    Movel::SetOptionalString(info->vStorageSupport, "vStorageUnsupported");
    state.volumes->GetMountInfo()->Append(info.Get());
  };
  mount(clfs, "/volumes/" + clfs->uuid);
  if (!host.sharedDatastore.empty()) {
    Ref<NasVolume> nas;
    f->CreateNasVolume(nas);
    nas->name = host.sharedDatastore;
    nas->capacity = 8LL << 40;
    nas->accessTime = now;
    nas->remoteHost = host.nasHost;
    nas->remotePath = "/export/" + host.sharedDatastore;
    // Every host mounts the shared volume at the same place, named after
    // its server and export.
    mount(nas, "/volumes/" + host.nasHost + "-" + host.sharedDatastore);
  }
  return state;
}

std::string VolumeUrl(const FileSystemMountInfo* mount) {
  const MountInfo* at = mount ? mount->PeekMountInfo() : nullptr;
  if (!at || !at->path) return std::string();
  return "ds://" + *at->path + "/";
}

const FileSystemMountInfo* FindMount(const FileSystemVolumeInfo* volumes, const std::string& name) {
  const auto* mounts = volumes ? volumes->PeekMountInfo() : nullptr;
  if (!mounts) return nullptr;
  for (const FileSystemMountInfo* m : *mounts) {
    if (m && m->PeekVolume() && m->PeekVolume()->name == name) return m;
  }
  return nullptr;
}

}  // namespace demo
}  // namespace kortypes
