// The host storage configuration factory: consistently defaulted host storage
// data objects (SCSI LUNs and disks, partition tables, host bus adapters of
// every transport, iSCSI settings, multipath and plug-store topologies,
// volumes, diagnostic partitions), and the target transport that matches an
// adapter.
//
// Every builder but InitScsiLun replaces its out reference with a new object
// and fills it; composite builders make their children through this
// interface, so a subclass that overrides one builder changes every
// composite holding its product.
#pragma once

#include "basekit/object.h"
#include "basekit/ref.h"
#include "kortypes/kor.host.h"

namespace Kor {
namespace Host {

class KOR_API StorageFactory : public virtual Basekit::Object {
 public:
  virtual void CreateMultiPathInfo(Basekit::Ref<MultipathInfo>& out) = 0;
  virtual void CreateMPInfoPath(Basekit::Ref<MultipathInfo::Path>& out) = 0;
  virtual void CreateMPInfoLogicUnit(Basekit::Ref<MultipathInfo::LogicalUnit>& out) = 0;
  virtual void CreateMPInfoFixedLogicalUnitPolicy(
      Basekit::Ref<MultipathInfo::FixedLogicalUnitPolicy>& out) = 0;
  virtual void CreateScsiTopology(Basekit::Ref<ScsiTopology>& out) = 0;
  virtual void CreateScsiTopologyInterface(Basekit::Ref<ScsiTopology::Interface>& out) = 0;
  virtual void CreateScsiTopologyTarget(Basekit::Ref<ScsiTopology::Target>& out) = 0;
  // The transport of the adapter's exact class (a subclass does not match its
  // parent's transport): parallel SCSI, Fibre Channel, FCoE, iSCSI, block, or
  // the base transport for any other adapter. hba must not be null: a null
  // adapter is a fatal verification failure.
  virtual void CreateTargetTransport(HostBusAdapter* hba, Basekit::Ref<TargetTransport>& out) = 0;
  virtual void CreateHostBusAdapter(Basekit::Ref<HostBusAdapter>& out) = 0;
  virtual void CreateScsiLun(Basekit::Ref<ScsiLun>& out) = 0;
  // Gives the LUN (or disk) out holds the LUN defaults; allocates nothing
  // but its durable name. Does nothing when out is empty.
  virtual void InitScsiLun(Basekit::Ref<ScsiLun>& out) = 0;
  virtual void CreateScsiDisk(Basekit::Ref<ScsiDisk>& out) = 0;
  virtual void CreateDiskPartitionInfo(Basekit::Ref<DiskPartitionInfo>& out) = 0;
  virtual void CreateDiskPartitionInfoLayout(Basekit::Ref<DiskPartitionInfo::Layout>& out) = 0;
  virtual void CreateDiskPartitionInfoSpecification(
      Basekit::Ref<DiskPartitionInfo::Specification>& out) = 0;
  virtual void CreateDiskDimensions(Basekit::Ref<DiskDimensions::Chs>& out) = 0;
  virtual void CreateDiskPartitionInfoPartition(Basekit::Ref<DiskPartitionInfo::Partition>& out) = 0;
  virtual void CreateParallelScsiHba(Basekit::Ref<ParallelScsiHba>& out) = 0;
  virtual void CreateBlockHba(Basekit::Ref<BlockHba>& out) = 0;
  virtual void CreateInternetScsiHba(Basekit::Ref<InternetScsiHba>& out) = 0;
  virtual void CreateIScsiAuthenticationCapabilities(
      Basekit::Ref<InternetScsiHba::AuthenticationCapabilities>& out) = 0;
  virtual void CreateIScsiAuthenticationProperties(
      Basekit::Ref<InternetScsiHba::AuthenticationProperties>& out) = 0;
  virtual void CreateIScsiDiscoveryCapabilities(
      Basekit::Ref<InternetScsiHba::DiscoveryCapabilities>& out) = 0;
  virtual void CreateIScsiDiscoveryProperties(Basekit::Ref<InternetScsiHba::DiscoveryProperties>& out) = 0;
  virtual void CreateIScsiIPCapabilities(Basekit::Ref<InternetScsiHba::IPCapabilities>& out) = 0;
  virtual void CreateIScsiIPProperties(Basekit::Ref<InternetScsiHba::IPProperties>& out) = 0;
  virtual void CreateIScsiSendTarget(Basekit::Ref<InternetScsiHba::SendTarget>& out) = 0;
  virtual void CreateIScsiStaticTarget(Basekit::Ref<InternetScsiHba::StaticTarget>& out) = 0;
  virtual void CreateFibreChannelHba(Basekit::Ref<FibreChannelHba>& out) = 0;
  virtual void CreateFibreChannelOverEthernetHba(Basekit::Ref<FibreChannelOverEthernetHba>& out) = 0;
  virtual void CreateFileSystemVolumeInfo(Basekit::Ref<FileSystemVolumeInfo>& out) = 0;
  // A volume of the given major version; its block count follows from it.
  virtual void CreateClfs(Basekit::Ref<ClfsVolume>& out, int majorVersion) = 0;
  virtual void CreateNasVolume(Basekit::Ref<NasVolume>& out) = 0;
  virtual void CreateStorageDeviceInfo(Basekit::Ref<StorageDeviceInfo>& out) = 0;
  virtual void CreatePlugStoreTopology(Basekit::Ref<PlugStoreTopology>& out) = 0;
  virtual void CreatePlugStoreTopologyAdapter(Basekit::Ref<PlugStoreTopology::Adapter>& out) = 0;
  virtual void CreatePlugStoreTopologyPath(Basekit::Ref<PlugStoreTopology::Path>& out) = 0;
  // A target whose transport matches hba (see CreateTargetTransport).
  virtual void CreatePlugStoreTopologyTarget(HostBusAdapter* hba,
                                             Basekit::Ref<PlugStoreTopology::Target>& out) = 0;
  virtual void CreatePlugStoreTopologyDevice(Basekit::Ref<PlugStoreTopology::Device>& out) = 0;
  virtual void CreatePlugStoreTopologyPlugin(Basekit::Ref<PlugStoreTopology::Plugin>& out) = 0;
  virtual void CreateDiagnosticPartition(Basekit::Ref<DiagnosticPartition>& out) = 0;

 protected:
  ~StorageFactory() override;
};

class KOR_API StorageFactoryImpl : public StorageFactory, public Basekit::ObjectImpl {
 public:
  StorageFactoryImpl() = default;

  void CreateMultiPathInfo(Basekit::Ref<MultipathInfo>& out) override;
  void CreateMPInfoPath(Basekit::Ref<MultipathInfo::Path>& out) override;
  void CreateMPInfoLogicUnit(Basekit::Ref<MultipathInfo::LogicalUnit>& out) override;
  void CreateMPInfoFixedLogicalUnitPolicy(
      Basekit::Ref<MultipathInfo::FixedLogicalUnitPolicy>& out) override;
  void CreateScsiTopology(Basekit::Ref<ScsiTopology>& out) override;
  void CreateScsiTopologyInterface(Basekit::Ref<ScsiTopology::Interface>& out) override;
  void CreateScsiTopologyTarget(Basekit::Ref<ScsiTopology::Target>& out) override;
  void CreateTargetTransport(HostBusAdapter* hba, Basekit::Ref<TargetTransport>& out) override;
  void CreateHostBusAdapter(Basekit::Ref<HostBusAdapter>& out) override;
  void CreateScsiLun(Basekit::Ref<ScsiLun>& out) override;
  void InitScsiLun(Basekit::Ref<ScsiLun>& out) override;
  void CreateScsiDisk(Basekit::Ref<ScsiDisk>& out) override;
  void CreateDiskPartitionInfo(Basekit::Ref<DiskPartitionInfo>& out) override;
  void CreateDiskPartitionInfoLayout(Basekit::Ref<DiskPartitionInfo::Layout>& out) override;
  void CreateDiskPartitionInfoSpecification(
      Basekit::Ref<DiskPartitionInfo::Specification>& out) override;
  void CreateDiskDimensions(Basekit::Ref<DiskDimensions::Chs>& out) override;
  void CreateDiskPartitionInfoPartition(Basekit::Ref<DiskPartitionInfo::Partition>& out) override;
  void CreateParallelScsiHba(Basekit::Ref<ParallelScsiHba>& out) override;
  void CreateBlockHba(Basekit::Ref<BlockHba>& out) override;
  void CreateInternetScsiHba(Basekit::Ref<InternetScsiHba>& out) override;
  void CreateIScsiAuthenticationCapabilities(
      Basekit::Ref<InternetScsiHba::AuthenticationCapabilities>& out) override;
  void CreateIScsiAuthenticationProperties(
      Basekit::Ref<InternetScsiHba::AuthenticationProperties>& out) override;
  void CreateIScsiDiscoveryCapabilities(
      Basekit::Ref<InternetScsiHba::DiscoveryCapabilities>& out) override;
  void CreateIScsiDiscoveryProperties(Basekit::Ref<InternetScsiHba::DiscoveryProperties>& out) override;
  void CreateIScsiIPCapabilities(Basekit::Ref<InternetScsiHba::IPCapabilities>& out) override;
  void CreateIScsiIPProperties(Basekit::Ref<InternetScsiHba::IPProperties>& out) override;
  void CreateIScsiSendTarget(Basekit::Ref<InternetScsiHba::SendTarget>& out) override;
  void CreateIScsiStaticTarget(Basekit::Ref<InternetScsiHba::StaticTarget>& out) override;
  void CreateFibreChannelHba(Basekit::Ref<FibreChannelHba>& out) override;
  void CreateFibreChannelOverEthernetHba(Basekit::Ref<FibreChannelOverEthernetHba>& out) override;
  void CreateFileSystemVolumeInfo(Basekit::Ref<FileSystemVolumeInfo>& out) override;
  void CreateClfs(Basekit::Ref<ClfsVolume>& out, int majorVersion) override;
  void CreateNasVolume(Basekit::Ref<NasVolume>& out) override;
  void CreateStorageDeviceInfo(Basekit::Ref<StorageDeviceInfo>& out) override;
  void CreatePlugStoreTopology(Basekit::Ref<PlugStoreTopology>& out) override;
  void CreatePlugStoreTopologyAdapter(Basekit::Ref<PlugStoreTopology::Adapter>& out) override;
  void CreatePlugStoreTopologyPath(Basekit::Ref<PlugStoreTopology::Path>& out) override;
  void CreatePlugStoreTopologyTarget(HostBusAdapter* hba,
                                     Basekit::Ref<PlugStoreTopology::Target>& out) override;
  void CreatePlugStoreTopologyDevice(Basekit::Ref<PlugStoreTopology::Device>& out) override;
  void CreatePlugStoreTopologyPlugin(Basekit::Ref<PlugStoreTopology::Plugin>& out) override;
  void CreateDiagnosticPartition(Basekit::Ref<DiagnosticPartition>& out) override;

 protected:
  ~StorageFactoryImpl() override;
};

// The process-wide factory, made on first use (thread-safe) and released when
// the library is unloaded. The caller does not own it.
KOR_API StorageFactory* GetStorageFactory();

}  // namespace Host
}  // namespace Kor
