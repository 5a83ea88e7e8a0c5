// The host storage configuration factory.
#include "kortypes/storage_factory.h"

#include <typeinfo>

#include "basekit/throwable.h"

namespace Kor {
namespace Host {
namespace {

using Basekit::Ref;

// Replaces out with a new default T and returns it.
template <class T>
T* Make(Ref<T>& out) {
  out = new T();
  return out.Get();
}

// Where the adapter check reports itself: the factory's source and line as
// the host agents' crash reports know them.
const char kAdapterCheck[] = "hba != 0";
const char kAdapterCheckFile[] = "lib\\factory\\storageFactory";
constexpr int kAdapterCheckLine = 388;

void VerifyAdapter(const HostBusAdapter* hba) {
  if (!hba) Basekit::PanicVerify(kAdapterCheck, kAdapterCheckFile, kAdapterCheckLine);
}

// Block counts of a volume, by major version.
constexpr int kClfs3MaxBlocks = 0xC0000;  // 786432
constexpr int kClfsMaxBlocks = 0x72000;   // 466944
constexpr int kIScsiPort = 3260;
// The durable name of a LUN that has not reported one.
constexpr signed char kUnknownDurableNameByte = 9;

}  // namespace

StorageFactory::~StorageFactory() = default;
StorageFactoryImpl::~StorageFactoryImpl() = default;

// ---- multipath ----

void StorageFactoryImpl::CreateMultiPathInfo(Ref<MultipathInfo>& out) { Make(out)->GetLun(); }

void StorageFactoryImpl::CreateMPInfoPath(Ref<MultipathInfo::Path>& out) {
  MultipathInfo::Path* p = Make(out);
  p->pathState = "unknown";
  p->name.clear();
  p->adapter.clear();
  p->lun.clear();
}

void StorageFactoryImpl::CreateMPInfoLogicUnit(Ref<MultipathInfo::LogicalUnit>& out) {
  MultipathInfo::LogicalUnit* u = Make(out);
  Ref<MultipathInfo::FixedLogicalUnitPolicy> policy;
  CreateMPInfoFixedLogicalUnitPolicy(policy);
  u->SetPolicy(policy.Get());
  u->GetPath();
}

void StorageFactoryImpl::CreateMPInfoFixedLogicalUnitPolicy(
    Ref<MultipathInfo::FixedLogicalUnitPolicy>& out) {
  Make(out);
}

// ---- SCSI topology ----

void StorageFactoryImpl::CreateScsiTopology(Ref<ScsiTopology>& out) { Make(out)->GetAdapter(); }

void StorageFactoryImpl::CreateScsiTopologyInterface(Ref<ScsiTopology::Interface>& out) {
  ScsiTopology::Interface* i = Make(out);
  i->key.clear();
  i->adapter.clear();
  i->GetTarget();
}

void StorageFactoryImpl::CreateScsiTopologyTarget(Ref<ScsiTopology::Target>& out) {
  ScsiTopology::Target* t = Make(out);
  t->key.clear();
  t->target = -1;
  t->GetLun();
}

// The exact class of the adapter decides; rows are tried in this order.
void StorageFactoryImpl::CreateTargetTransport(HostBusAdapter* hba, Ref<TargetTransport>& out) {
  VerifyAdapter(hba);
  const std::type_info& kind = typeid(*hba);
  if (kind == typeid(ParallelScsiHba)) {
    out = new ParallelScsiTargetTransport();
  } else if (kind == typeid(FibreChannelHba)) {
    auto* t = new FibreChannelTargetTransport();
    out = t;
    t->portWorldWideName = 0;
    t->nodeWorldWideName = 0;
  } else if (kind == typeid(FibreChannelOverEthernetHba)) {
    auto* t = new FibreChannelOverEthernetTargetTransport();
    out = t;
    t->portWorldWideName = 0;
    t->nodeWorldWideName = 0;
    t->vnportMac.clear();
    t->fcfMac.clear();
    t->vlanId = 0;
  } else if (kind == typeid(InternetScsiHba)) {
    out = new InternetScsiTargetTransport();
  } else if (kind == typeid(BlockHba)) {
    out = new BlockAdapterTargetTransport();
  } else {
    out = new TargetTransport();
  }
}

// ---- adapters ----

void StorageFactoryImpl::CreateHostBusAdapter(Ref<HostBusAdapter>& out) { Make(out)->bus = 0; }
void StorageFactoryImpl::CreateParallelScsiHba(Ref<ParallelScsiHba>& out) { Make(out)->bus = 0; }
void StorageFactoryImpl::CreateBlockHba(Ref<BlockHba>& out) { Make(out)->bus = 0; }

void StorageFactoryImpl::CreateInternetScsiHba(Ref<InternetScsiHba>& out) {
  InternetScsiHba* h = Make(out);
  h->bus = 0;
  Ref<InternetScsiHba::AuthenticationCapabilities> authCapabilities;
  CreateIScsiAuthenticationCapabilities(authCapabilities);
  h->SetAuthenticationCapabilities(authCapabilities.Get());
  Ref<InternetScsiHba::AuthenticationProperties> authProperties;
  CreateIScsiAuthenticationProperties(authProperties);
  h->SetAuthenticationProperties(authProperties.Get());
  Ref<InternetScsiHba::DiscoveryCapabilities> discoveryCapabilities;
  CreateIScsiDiscoveryCapabilities(discoveryCapabilities);
  h->SetDiscoveryCapabilities(discoveryCapabilities.Get());
  Ref<InternetScsiHba::DiscoveryProperties> discoveryProperties;
  CreateIScsiDiscoveryProperties(discoveryProperties);
  h->SetDiscoveryProperties(discoveryProperties.Get());
  Ref<InternetScsiHba::IPCapabilities> ipCapabilities;
  CreateIScsiIPCapabilities(ipCapabilities);
  h->SetIpCapabilities(ipCapabilities.Get());
  Ref<InternetScsiHba::IPProperties> ipProperties;
  CreateIScsiIPProperties(ipProperties);
  h->SetIpProperties(ipProperties.Get());
  h->iScsiName.clear();
  Movel::SetOptionalString(h->iScsiAlias, std::string());
  h->isSoftwareBased = false;
  h->canBeDisabled = false;
  h->networkBindingSupport = InternetScsiHba::NetworkBindingSupportType::notsupported;
}

void StorageFactoryImpl::CreateIScsiAuthenticationCapabilities(
    Ref<InternetScsiHba::AuthenticationCapabilities>& out) {
  InternetScsiHba::AuthenticationCapabilities* c = Make(out);
  c->chapAuthSettable = false;
  c->krb5AuthSettable = false;
  c->srpAuthSettable = false;
  c->spkmAuthSettable = false;
}

void StorageFactoryImpl::CreateIScsiAuthenticationProperties(
    Ref<InternetScsiHba::AuthenticationProperties>& out) {
  Make(out)->chapAuthEnabled = false;
}

void StorageFactoryImpl::CreateIScsiDiscoveryCapabilities(
    Ref<InternetScsiHba::DiscoveryCapabilities>& out) {
  InternetScsiHba::DiscoveryCapabilities* c = Make(out);
  c->iSnsDiscoverySettable = false;
  c->slpDiscoverySettable = false;
  c->staticTargetDiscoverySettable = false;
  c->sendTargetsDiscoverySettable = false;
}

void StorageFactoryImpl::CreateIScsiDiscoveryProperties(Ref<InternetScsiHba::DiscoveryProperties>& out) {
  InternetScsiHba::DiscoveryProperties* p = Make(out);
  p->iSnsDiscoveryEnabled = false;
  p->slpDiscoveryEnabled = false;
  p->staticTargetDiscoveryEnabled = false;
  p->sendTargetsDiscoveryEnabled = false;
}

void StorageFactoryImpl::CreateIScsiIPCapabilities(Ref<InternetScsiHba::IPCapabilities>& out) {
  InternetScsiHba::IPCapabilities* c = Make(out);
  c->addressSettable = false;
  c->ipConfigurationMethodSettable = false;
  c->subnetMaskSettable = false;
  c->defaultGatewaySettable = false;
  c->primaryDnsServerAddressSettable = false;
  c->alternateDnsServerAddressSettable = false;
}

void StorageFactoryImpl::CreateIScsiIPProperties(Ref<InternetScsiHba::IPProperties>& out) {
  InternetScsiHba::IPProperties* p = Make(out);
  const std::string empty;
  Movel::SetOptionalString(p->address, empty);
  p->dhcpConfigurationEnabled = false;
  Movel::SetOptionalString(p->subnetMask, empty);
  Movel::SetOptionalString(p->defaultGateway, empty);
  Movel::SetOptionalString(p->primaryDnsServerAddress, empty);
  Movel::SetOptionalString(p->alternateDnsServerAddress, empty);
}

void StorageFactoryImpl::CreateIScsiSendTarget(Ref<InternetScsiHba::SendTarget>& out) {
  InternetScsiHba::SendTarget* t = Make(out);
  t->address.clear();
  t->port = kIScsiPort;
}

void StorageFactoryImpl::CreateIScsiStaticTarget(Ref<InternetScsiHba::StaticTarget>& out) {
  InternetScsiHba::StaticTarget* t = Make(out);
  t->address.clear();
  t->port = kIScsiPort;
  t->iScsiName.clear();
  t->discoveryMethod = InternetScsiHba::StaticTarget::TargetDiscoveryMethod::unknownMethod;
}

void StorageFactoryImpl::CreateFibreChannelHba(Ref<FibreChannelHba>& out) {
  FibreChannelHba* h = Make(out);
  h->bus = 0;
  h->portWorldWideName = 0;
  h->nodeWorldWideName = 0;
  h->speed = 0;
  h->portType = FibreChannelHba::PortType::unknown;
}

// Repeats the Fibre Channel defaults rather than calling CreateFibreChannelHba,
// which makes a plain Fibre Channel adapter.
void StorageFactoryImpl::CreateFibreChannelOverEthernetHba(Ref<FibreChannelOverEthernetHba>& out) {
  FibreChannelOverEthernetHba* h = Make(out);
  h->bus = 0;
  h->portWorldWideName = 0;
  h->nodeWorldWideName = 0;
  h->speed = 0;
  h->portType = FibreChannelHba::PortType::unknown;
  Ref<FibreChannelOverEthernetHba::LinkInfo> link(new FibreChannelOverEthernetHba::LinkInfo());
  link->vnportMac.clear();
  link->fcfMac.clear();
  link->vlanId = 0;
  h->SetLinkInfo(link.Get());
  h->underlyingNic.clear();
  h->isSoftwareFcoe = false;
}

// ---- LUNs and disks ----

void StorageFactoryImpl::CreateScsiLun(Ref<ScsiLun>& out) {
  Make(out);
  InitScsiLun(out);
}

void StorageFactoryImpl::InitScsiLun(Ref<ScsiLun>& out) {
  ScsiLun* lun = out.Get();
  if (!lun) return;
  lun->lunType = "unknown";
  lun->scsiLevel = 0;
  lun->queueDepth = 0;
  Ref<ScsiLun::DurableName> name(new ScsiLun::DurableName());
  name->namespace_ = "Unknown";
  name->namespaceId = 0;
  name->GetData()->Append(kUnknownDurableNameByte);
  lun->SetDurableName(name.Get());
}

void StorageFactoryImpl::CreateScsiDisk(Ref<ScsiDisk>& out) {
  Make(out);
  Ref<ScsiLun> lun(out.Get());
  InitScsiLun(lun);
}

// ---- partitions ----

void StorageFactoryImpl::CreateDiskPartitionInfo(Ref<DiskPartitionInfo>& out) {
  Ref<DiskPartitionInfo::Specification> spec;
  CreateDiskPartitionInfoSpecification(spec);
  Ref<DiskPartitionInfo::Layout> layout;
  CreateDiskPartitionInfoLayout(layout);
  DiskPartitionInfo* info = Make(out);
  info->deviceName.clear();
  info->SetSpec(spec.Get());
  info->SetLayout(layout.Get());
}

void StorageFactoryImpl::CreateDiskPartitionInfoLayout(Ref<DiskPartitionInfo::Layout>& out) {
  DiskPartitionInfo::Layout* l = Make(out);
  Ref<DiskDimensions::Lba> total(new DiskDimensions::Lba());
  total->blockSize = 0;
  total->block = 0;
  l->SetTotal(total.Get());
  l->GetPartition();
}

void StorageFactoryImpl::CreateDiskPartitionInfoSpecification(
    Ref<DiskPartitionInfo::Specification>& out) {
  DiskPartitionInfo::Specification* s = Make(out);
  Ref<DiskDimensions::Chs> chs;
  CreateDiskDimensions(chs);
  s->SetChs(chs.Get());
  s->totalSectors = 0;
  s->GetPartition();
}

void StorageFactoryImpl::CreateDiskDimensions(Ref<DiskDimensions::Chs>& out) {
  DiskDimensions::Chs* c = Make(out);
  c->cylinder = 0;
  c->head = 0;
  c->sector = 0;
}

void StorageFactoryImpl::CreateDiskPartitionInfoPartition(Ref<DiskPartitionInfo::Partition>& out) {
  DiskPartitionInfo::Partition* p = Make(out);
  p->partition = 0;
  p->startSector = 0;
  p->endSector = 0;
  p->type = "none";
  p->logical = false;
  p->attributes = 0;
}

// ---- volumes ----

void StorageFactoryImpl::CreateFileSystemVolumeInfo(Ref<FileSystemVolumeInfo>& out) {
  FileSystemVolumeInfo* v = Make(out);
  v->GetMountInfo();
  Movel::Array<std::string>* types = v->GetVolumeTypeList();
  types->Append("clfs");
  types->Append("nfs");
}

void StorageFactoryImpl::CreateClfs(Ref<ClfsVolume>& out, int majorVersion) {
  ClfsVolume* v = Make(out);
  v->type = "clfs";
  v->capacity = 0;
  v->blockSizeMb = 1;
  v->majorVersion = majorVersion;
  v->version = "3.00";  // whatever the major version
  v->maxBlocks = majorVersion == 3 ? kClfs3MaxBlocks : kClfsMaxBlocks;
  v->GetExtent();
}

void StorageFactoryImpl::CreateNasVolume(Ref<NasVolume>& out) {
  NasVolume* v = Make(out);
  v->type = "nfs";
  v->capacity = 0;
}

void StorageFactoryImpl::CreateStorageDeviceInfo(Ref<StorageDeviceInfo>& out) {
  Ref<MultipathInfo> multipath;
  CreateMultiPathInfo(multipath);
  Ref<ScsiTopology> topology;
  CreateScsiTopology(topology);
  Ref<PlugStoreTopology> plugStore;
  CreatePlugStoreTopology(plugStore);
  StorageDeviceInfo* info = Make(out);
  info->GetHostBusAdapter();
  info->GetScsiLun();
  info->SetMultipathInfo(multipath.Get());
  info->SetScsiTopology(topology.Get());
  info->SetPlugStoreTopology(plugStore.Get());
}

// ---- plug-store topology ----

void StorageFactoryImpl::CreatePlugStoreTopology(Ref<PlugStoreTopology>& out) {
  PlugStoreTopology* t = Make(out);
  t->GetAdapter();
  t->GetPath();
  t->GetTarget();
  t->GetDevice();
  t->GetPlugin();
}

void StorageFactoryImpl::CreatePlugStoreTopologyAdapter(Ref<PlugStoreTopology::Adapter>& out) {
  PlugStoreTopology::Adapter* a = Make(out);
  a->key.clear();
  a->adapter.clear();
  a->GetPath();
}

void StorageFactoryImpl::CreatePlugStoreTopologyPath(Ref<PlugStoreTopology::Path>& out) { Make(out); }

void StorageFactoryImpl::CreatePlugStoreTopologyTarget(HostBusAdapter* hba,
                                                       Ref<PlugStoreTopology::Target>& out) {
  VerifyAdapter(hba);
  Ref<TargetTransport> transport;
  CreateTargetTransport(hba, transport);
  PlugStoreTopology::Target* t = Make(out);
  t->SetTransport(transport.Get());
  t->key.clear();
}

void StorageFactoryImpl::CreatePlugStoreTopologyDevice(Ref<PlugStoreTopology::Device>& out) {
  PlugStoreTopology::Device* d = Make(out);
  d->key.clear();
  d->lun.clear();
  d->GetPath();
}

void StorageFactoryImpl::CreatePlugStoreTopologyPlugin(Ref<PlugStoreTopology::Plugin>& out) {
  PlugStoreTopology::Plugin* p = Make(out);
  p->key.clear();
  p->name.clear();
  p->GetDevice();
  p->GetClaimedPath();
}

void StorageFactoryImpl::CreateDiagnosticPartition(Ref<DiagnosticPartition>& out) {
  DiagnosticPartition* d = Make(out);
  d->storageType = DiagnosticPartition::StorageType::none;
  d->slots = 0;
  d->SetId(Ref<ScsiDisk::Partition>(new ScsiDisk::Partition()).Get());
}

// ---- the process-wide factory ----

StorageFactory* GetStorageFactory() {
  // Made once, safely among threads; the reference is released when the
  // library's static objects are destroyed at unload.
  static const Ref<StorageFactoryImpl> factory(new StorageFactoryImpl());
  return factory.Get();
}

}  // namespace Host
}  // namespace Kor
