// The storage factory's builders, by family: LUNs and disks, adapters and
// their target transports, partitions, volumes, topologies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "factory_checks.h"
#include "kortypes/storage_factory.h"

namespace {

using Basekit::Ref;
using namespace Kor::Host;
using factory_checks::EmptyLists;
using factory_checks::Unset;
using factory_checks::WireName;

StorageFactory* F() { return GetStorageFactory(); }

TEST(StorageFactorySingleton, OneInstanceHeldByTheLibrary) {
  StorageFactory* a = GetStorageFactory();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, GetStorageFactory());
  EXPECT_NE(dynamic_cast<StorageFactoryImpl*>(a), nullptr);
}

// ---- LUNs and disks ----

// The LUN defaults, whatever made the LUN.
void ExpectLunDefaults(const ScsiLun* lun) {
  EXPECT_EQ(lun->lunType, "unknown");
  ASSERT_TRUE(lun->scsiLevel.IsSet());
  EXPECT_EQ(lun->scsiLevel.GetValue(), 0);
  ASSERT_TRUE(lun->queueDepth.IsSet());
  EXPECT_EQ(lun->queueDepth.GetValue(), 0);
  const ScsiLun::DurableName* name = lun->PeekDurableName();
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->namespace_, "Unknown");
  EXPECT_EQ(name->namespaceId, 0);
  ASSERT_NE(name->PeekData(), nullptr);
  EXPECT_EQ(name->PeekData()->GetValues(), std::vector<signed char>{9});
}

TEST(StorageLuns, LunsAndDisksShareTheLunDefaults) {
  Ref<ScsiLun> lun;
  F()->CreateScsiLun(lun);
  EXPECT_EQ(WireName(lun), "kor.host.ScsiLun");
  ExpectLunDefaults(lun);

  Ref<ScsiDisk> disk;
  F()->CreateScsiDisk(disk);
  EXPECT_EQ(WireName(disk), "kor.host.ScsiDisk");
  ExpectLunDefaults(disk);
  EXPECT_TRUE(Unset(disk, {"capacity", "ssd", "localDisk"})) << "nothing disk-specific";
  EXPECT_TRUE(Movel::AreEqualAnysInt(lun->PeekDurableName(), disk->PeekDurableName(), 0, false));
  EXPECT_NE(lun->PeekDurableName(), disk->PeekDurableName()) << "each LUN has its own name";
}

TEST(StorageLuns, InitFillsTheObjectItIsGiven) {
  Ref<ScsiDisk> disk(new ScsiDisk());
  disk->devicePath = "/dev/disks/x";
  Ref<ScsiLun> asLun(disk.Get());
  F()->InitScsiLun(asLun);
  EXPECT_EQ(asLun.Get(), disk.Get()) << "no new object";
  EXPECT_EQ(disk->devicePath, "/dev/disks/x");
  ExpectLunDefaults(disk);

  Ref<ScsiLun> empty;
  F()->InitScsiLun(empty);
  EXPECT_EQ(empty.Get(), nullptr);
}

// Disks made by a subclass whose LUN defaults differ carry them too.
class QueueDepth32 : public StorageFactoryImpl {
 public:
  void InitScsiLun(Ref<ScsiLun>& out) override {
    StorageFactoryImpl::InitScsiLun(out);
    out->queueDepth = 32;
  }
  void CreateIScsiIPProperties(Ref<InternetScsiHba::IPProperties>& out) override {
    StorageFactoryImpl::CreateIScsiIPProperties(out);
    out->dhcpConfigurationEnabled = true;
  }
  void CreatePlugStoreTopology(Ref<PlugStoreTopology>& out) override {
    StorageFactoryImpl::CreatePlugStoreTopology(out);
    out->GetPlugin()->Append(Ref<PlugStoreTopology::Plugin>(new PlugStoreTopology::Plugin()).Get());
  }

 protected:
  ~QueueDepth32() override = default;
};

TEST(StorageOverrides, CompositesUseTheOverriddenBuilders) {
  Ref<QueueDepth32> factory(new QueueDepth32());
  StorageFactory* f = factory.Get();
  Ref<ScsiDisk> disk;
  f->CreateScsiDisk(disk);
  EXPECT_EQ(disk->queueDepth.GetValue(), 32);
  Ref<ScsiLun> lun;
  f->CreateScsiLun(lun);
  EXPECT_EQ(lun->queueDepth.GetValue(), 32);
  Ref<InternetScsiHba> hba;
  f->CreateInternetScsiHba(hba);
  EXPECT_TRUE(hba->PeekIpProperties()->dhcpConfigurationEnabled);
  Ref<StorageDeviceInfo> info;
  f->CreateStorageDeviceInfo(info);
  EXPECT_EQ(info->PeekPlugStoreTopology()->PeekPlugin()->GetLength(), 1);
}

// ---- adapters and target transports ----

TEST(StorageAdapters, TransportFollowsTheExactAdapterClass) {
  struct Case {
    Ref<HostBusAdapter> hba;
    const char* transport;
  };
  Ref<FibreChannelHba> fc;
  F()->CreateFibreChannelHba(fc);
  Ref<FibreChannelOverEthernetHba> fcoe;
  F()->CreateFibreChannelOverEthernetHba(fcoe);
  Ref<ParallelScsiHba> parallel;
  F()->CreateParallelScsiHba(parallel);
  Ref<InternetScsiHba> iscsi;
  F()->CreateInternetScsiHba(iscsi);
  Ref<BlockHba> block;
  F()->CreateBlockHba(block);
  Ref<HostBusAdapter> plain;
  F()->CreateHostBusAdapter(plain);
  const Case cases[] = {
      {fc.Get(), "kor.host.FibreChannelTargetTransport"},
      {fcoe.Get(), "kor.host.FibreChannelOverEthernetTargetTransport"},
      {parallel.Get(), "kor.host.ParallelScsiTargetTransport"},
      {iscsi.Get(), "kor.host.InternetScsiTargetTransport"},
      {block.Get(), "kor.host.BlockAdapterTargetTransport"},
      {plain.Get(), "kor.host.TargetTransport"},
  };
  for (const Case& c : cases) {
    Ref<TargetTransport> transport;
    F()->CreateTargetTransport(c.hba, transport);
    EXPECT_EQ(WireName(transport), c.transport) << "for a " << WireName(c.hba);
    Ref<PlugStoreTopology::Target> target;
    F()->CreatePlugStoreTopologyTarget(c.hba, target);
    EXPECT_EQ(WireName(target->PeekTransport()), c.transport);
    EXPECT_EQ(target->key, "");
  }

  Ref<TargetTransport> transport;
  F()->CreateTargetTransport(fcoe, transport);
  const auto* t = dynamic_cast<const FibreChannelOverEthernetTargetTransport*>(transport.Get());
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->portWorldWideName, 0);
  EXPECT_EQ(t->nodeWorldWideName, 0);
  EXPECT_EQ(t->vlanId, 0);
  EXPECT_EQ(t->vnportMac, "");
}

TEST(StorageAdaptersDeathTest, ANullAdapterIsAFatalVerification) {
  Ref<TargetTransport> transport;
  EXPECT_DEATH(F()->CreateTargetTransport(nullptr, transport), "hba != 0");
  Ref<PlugStoreTopology::Target> target;
  EXPECT_DEATH(F()->CreatePlugStoreTopologyTarget(nullptr, target), "hba != 0");
}

TEST(StorageAdapters, FibreChannelDefaults) {
  Ref<FibreChannelHba> fc;
  F()->CreateFibreChannelHba(fc);
  EXPECT_EQ(fc->portType, FibreChannelHba::PortType::unknown);
  EXPECT_EQ(fc->bus, 0);
  EXPECT_EQ(fc->speed, 0);

  Ref<FibreChannelOverEthernetHba> fcoe;
  F()->CreateFibreChannelOverEthernetHba(fcoe);
  EXPECT_EQ(fcoe->portType, FibreChannelHba::PortType::unknown);
  ASSERT_NE(fcoe->PeekLinkInfo(), nullptr);
  EXPECT_EQ(fcoe->PeekLinkInfo()->vlanId, 0);
  EXPECT_EQ(fcoe->underlyingNic, "");
  EXPECT_FALSE(fcoe->isSoftwareFcoe);
  EXPECT_TRUE(Unset(fcoe, {"markedForRemoval"}));
}

TEST(StorageAdapters, IScsiAdapterAndTargets) {
  Ref<InternetScsiHba> hba;
  F()->CreateInternetScsiHba(hba);
  EXPECT_TRUE(factory_checks::Set(hba, {"authenticationCapabilities", "authenticationProperties",
                                        "discoveryCapabilities", "discoveryProperties",
                                        "ipCapabilities", "ipProperties", "iScsiAlias",
                                        "canBeDisabled", "networkBindingSupport"}));
  EXPECT_EQ(*hba->iScsiAlias, "");
  EXPECT_EQ(hba->networkBindingSupport.GetValue(), InternetScsiHba::NetworkBindingSupportType::notsupported);
  EXPECT_TRUE(Unset(hba, {"digestCapabilities", "digestProperties", "configuredSendTarget"}));
  const auto* ip = hba->PeekIpProperties();
  EXPECT_TRUE(factory_checks::Set(ip, {"address", "subnetMask", "defaultGateway",
                                       "primaryDnsServerAddress", "alternateDnsServerAddress"}));
  EXPECT_TRUE(Unset(ip, {"mac", "mtu"}));
  EXPECT_TRUE(Unset(hba->PeekAuthenticationProperties(), {"chapName", "chapSecret"}));

  Ref<InternetScsiHba::SendTarget> send;
  F()->CreateIScsiSendTarget(send);
  EXPECT_EQ(send->port.GetValue(), 3260);
  Ref<InternetScsiHba::StaticTarget> fixed;
  F()->CreateIScsiStaticTarget(fixed);
  EXPECT_EQ(fixed->port.GetValue(), 3260);
  ASSERT_TRUE(fixed->discoveryMethod.IsSet());
  EXPECT_EQ(Movel::GetEnumType<InternetScsiHba::StaticTarget::TargetDiscoveryMethod>()->ToName(
                static_cast<int>(fixed->discoveryMethod.GetValue())),
            "unknownMethod");
}

// ---- partitions ----

TEST(StoragePartitions, PartitionInfoHoldsItsSpecificationAndLayout) {
  Ref<DiskPartitionInfo> info;
  F()->CreateDiskPartitionInfo(info);
  EXPECT_EQ(info->deviceName, "");
  const auto* spec = info->PeekSpec();
  ASSERT_NE(spec, nullptr);
  ASSERT_NE(spec->PeekChs(), nullptr);
  EXPECT_EQ(spec->PeekChs()->cylinder, 0);
  ASSERT_TRUE(spec->totalSectors.IsSet());
  EXPECT_TRUE(EmptyLists(spec, {"partition"}));
  EXPECT_TRUE(Unset(spec, {"partitionFormat"}));
  const auto* layout = info->PeekLayout();
  ASSERT_NE(layout, nullptr);
  EXPECT_EQ(WireName(layout->PeekTotal()), "kor.host.DiskDimensions.Lba");
  EXPECT_TRUE(EmptyLists(layout, {"partition"}));

  Ref<DiskPartitionInfo::Partition> partition;
  F()->CreateDiskPartitionInfoPartition(partition);
  EXPECT_EQ(partition->type, "none");
  EXPECT_FALSE(partition->logical);
  EXPECT_TRUE(Unset(partition, {"guid", "partitionAlignment"}));

  Ref<DiagnosticPartition> diagnostic;
  F()->CreateDiagnosticPartition(diagnostic);
  EXPECT_EQ(diagnostic->storageType, DiagnosticPartition::StorageType::none);
  ASSERT_NE(diagnostic->PeekId(), nullptr);
  EXPECT_EQ(diagnostic->PeekId()->diskName, "");
}

// ---- volumes ----

TEST(StorageVolumes, BlockCountsFollowTheMajorVersion) {
  struct Case {
    int major;
    int maxBlocks;
  };
  for (const Case& c : {Case{3, 786432}, Case{5, 466944}, Case{2, 466944}, Case{6, 466944}}) {
    Ref<ClfsVolume> v;
    F()->CreateClfs(v, c.major);
    EXPECT_EQ(v->majorVersion, c.major);
    EXPECT_EQ(v->maxBlocks, c.maxBlocks) << "major version " << c.major;
    EXPECT_EQ(v->version, "3.00");
    EXPECT_EQ(v->blockSizeMb, 1);
    EXPECT_EQ(v->type, "clfs");
    EXPECT_TRUE(EmptyLists(v, {"extent"}));
  }
  Ref<NasVolume> nas;
  F()->CreateNasVolume(nas);
  EXPECT_EQ(nas->type, "nfs");
  Ref<FileSystemVolumeInfo> volumes;
  F()->CreateFileSystemVolumeInfo(volumes);
  EXPECT_EQ(volumes->PeekVolumeTypeList()->GetValues(), (std::vector<std::string>{"clfs", "nfs"}));
  EXPECT_TRUE(EmptyLists(volumes, {"mountInfo"}));
}

// ---- topologies ----

TEST(StorageTopologies, DeviceInfoStartsWithThreeEmptyTopologies) {
  Ref<StorageDeviceInfo> info;
  F()->CreateStorageDeviceInfo(info);
  EXPECT_TRUE(EmptyLists(info, {"hostBusAdapter", "scsiLun"}));
  ASSERT_NE(info->PeekMultipathInfo(), nullptr);
  EXPECT_TRUE(EmptyLists(info->PeekMultipathInfo(), {"lun"}));
  ASSERT_NE(info->PeekScsiTopology(), nullptr);
  EXPECT_TRUE(EmptyLists(info->PeekScsiTopology(), {"adapter"}));
  ASSERT_NE(info->PeekPlugStoreTopology(), nullptr);
  EXPECT_TRUE(EmptyLists(info->PeekPlugStoreTopology(), {"adapter", "path", "target", "device", "plugin"}));
}

TEST(StorageTopologies, LinksStartAsEmptyKeys) {
  Ref<MultipathInfo::Path> path;
  F()->CreateMPInfoPath(path);
  EXPECT_EQ(path->pathState, "unknown");
  EXPECT_EQ(path->adapter, "");
  EXPECT_EQ(path->lun, "");

  Ref<MultipathInfo::LogicalUnit> unit;
  F()->CreateMPInfoLogicUnit(unit);
  EXPECT_EQ(WireName(unit->PeekPolicy()), "kor.host.MultipathInfo.FixedLogicalUnitPolicy");
  EXPECT_TRUE(EmptyLists(unit, {"path"}));
  EXPECT_TRUE(Unset(unit, {"storageArrayTypePolicy"}));

  Ref<ScsiTopology::Target> target;
  F()->CreateScsiTopologyTarget(target);
  EXPECT_EQ(target->target, -1);
  EXPECT_TRUE(Unset(target, {"transport"}));

  Ref<PlugStoreTopology::Adapter> adapter;
  F()->CreatePlugStoreTopologyAdapter(adapter);
  EXPECT_TRUE(EmptyLists(adapter, {"path"}));
  Ref<PlugStoreTopology::Plugin> plugin;
  F()->CreatePlugStoreTopologyPlugin(plugin);
  EXPECT_TRUE(EmptyLists(plugin, {"device", "claimedPath"}));
  Ref<PlugStoreTopology::Path> psPath;
  F()->CreatePlugStoreTopologyPath(psPath);
  EXPECT_TRUE(Unset(psPath, {"adapter", "target", "device", "channelNumber"}));
}

}  // namespace
