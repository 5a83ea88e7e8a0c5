// The host network configuration factory: consistently defaulted host
// networking data objects (switches, port groups, NICs, policies, DNS and
// routing, FCoE), and the network configuration of a host derived from its
// reported network state.
//
// Every builder replaces its out reference with a new object and fills it.
// Composite builders make their children by calling the sibling builders
// through this interface, so a subclass that overrides one builder changes
// every composite holding its product. Builders that take an existing object
// store that same object into the result (shared, not copied).
#pragma once

#include "basekit/object.h"
#include "basekit/ref.h"
#include "kortypes/kor.host.h"

namespace Kor {
namespace Host {

class KOR_API NetworkFactory : public virtual Basekit::Object {
 public:
  // Capabilities of the hypervisor's network stack, and of the hosted
  // product's (a subset).
  virtual void CreateHvxNetCapabilities(Basekit::Ref<NetCapabilities>& out) = 0;
  virtual void CreateHostedNetCapabilities(Basekit::Ref<NetCapabilities>& out) = 0;
  // Policies; with setDefaults the scalar values get the host's defaults,
  // without they stay unset. Child policies are always made.
  virtual void CreateNetworkPolicy(Basekit::Ref<NetworkPolicy>& out, bool setDefaults) = 0;
  virtual void CreateNicFailureCriteria(Basekit::Ref<NetworkPolicy::NicFailureCriteria>& out,
                                        bool setDefaults) = 0;
  virtual void CreateNicOrderPolicy(Basekit::Ref<NetworkPolicy::NicOrderPolicy>& out) = 0;
  virtual void CreateNicTeamingPolicy(Basekit::Ref<NetworkPolicy::NicTeamingPolicy>& out,
                                      bool setDefaults) = 0;
  virtual void CreateNetSecurityPolicy(Basekit::Ref<NetworkPolicy::SecurityPolicy>& out,
                                       bool setDefaults) = 0;
  virtual void CreateNetOffloadCapabilities(Basekit::Ref<NetOffloadCapabilities>& out,
                                            bool setDefaults) = 0;
  virtual void CreateIpConfig(Basekit::Ref<IpConfig>& out) = 0;
  virtual void CreateIpRouteConfig(Basekit::Ref<IpRouteConfig>& out) = 0;
  virtual void CreateDnsConfig(Basekit::Ref<DnsConfig>& out) = 0;
  virtual void CreateOpaqueSwitch(Basekit::Ref<OpaqueSwitch>& out) = 0;
  virtual void CreateVirtualSwitch(Basekit::Ref<VirtualSwitch>& out) = 0;
  virtual void CreateVirtualSwitchSpecification(Basekit::Ref<VirtualSwitch::Specification>& out) = 0;
  // The configuration of an existing switch: its name and its own spec.
  virtual void CreateVirtualSwitchConfig(Basekit::Ref<VirtualSwitch::Config>& out,
                                         VirtualSwitch* vswitch) = 0;
  virtual void CreateVirtualSwitchConfig(Basekit::Ref<VirtualSwitch::Config>& out) = 0;
  // The configuration of an existing proxy switch: its uuid and its own spec.
  virtual void CreateHostProxySwitchConfig(Basekit::Ref<HostProxySwitch::Config>& out,
                                           HostProxySwitch* proxy) = 0;
  virtual void CreateHostProxySwitchConfig(Basekit::Ref<HostProxySwitch::Config>& out) = 0;
  virtual void CreatePortGroupSpecification(Basekit::Ref<PortGroup::Specification>& out) = 0;
  // A port group configuration holding the given specification.
  virtual void CreatePortGroupConfig(Basekit::Ref<PortGroup::Config>& out,
                                     PortGroup::Specification* spec) = 0;
  virtual void CreatePortGroupConfig(Basekit::Ref<PortGroup::Config>& out) = 0;
  virtual void CreatePort(Basekit::Ref<PortGroup::Port>& out) = 0;
  virtual void CreatePortGroup(Basekit::Ref<PortGroup>& out) = 0;
  virtual void CreatePhysicalNic(Basekit::Ref<PhysicalNic>& out) = 0;
  virtual void CreatePhysicalNicSpecification(Basekit::Ref<PhysicalNic::Specification>& out) = 0;
  // The configuration of an existing physical NIC: its device and own spec.
  virtual void CreatePhysicalNicConfig(Basekit::Ref<PhysicalNic::Config>& out, PhysicalNic* pnic) = 0;
  virtual void CreatePhysicalNicConfig(Basekit::Ref<PhysicalNic::Config>& out) = 0;
  virtual void CreatePhysicalNicLinkSpeedDuplex(Basekit::Ref<PhysicalNic::LinkSpeedDuplex>& out) = 0;
  virtual void CreateFcoeConfig(Basekit::Ref<FcoeConfig>& out) = 0;
  virtual void CreateFcoeConfigCapabilities(Basekit::Ref<FcoeConfig::FcoeCapabilities>& out) = 0;
  virtual void CreateFcoeConfigSpecification(Basekit::Ref<FcoeConfig::FcoeSpecification>& out) = 0;
  virtual void CreateNetworkInfo(Basekit::Ref<NetworkInfo>& out) = 0;
  // The configuration that describes the state info reports: switches with
  // their port groups (in switch order), proxy switches, NICs (manually
  // configured IPv6 addresses only), DNS, IPv6 and network stacks. Shares
  // the specifications of info, and filters info's own NIC specifications.
  // A link in info that names an object of the wrong type throws
  // Movel::LinkError.
  virtual void CreateNetworkConfig(Basekit::Ref<NetworkConfig>& out, NetworkInfo* info) = 0;
  virtual void CreateNetworkConfig(Basekit::Ref<NetworkConfig>& out) = 0;
  virtual void CreateAutoBridge(Basekit::Ref<VirtualSwitch::AutoBridge>& out) = 0;
  virtual void CreateSimpleBridge(Basekit::Ref<VirtualSwitch::SimpleBridge>& out) = 0;
  virtual void CreateBondBridge(Basekit::Ref<VirtualSwitch::BondBridge>& out) = 0;
  virtual void CreateVirtualNic(Basekit::Ref<VirtualNic>& out) = 0;
  virtual void CreateVirtualNicSpecification(Basekit::Ref<VirtualNic::Specification>& out) = 0;
  // The configuration of an existing virtual NIC: device, port group and
  // its own spec, from which IPv6 addresses not configured by hand are
  // removed (in place).
  virtual void CreateVirtualNicConfig(Basekit::Ref<VirtualNic::Config>& out, VirtualNic* vnic) = 0;
  virtual void CreateVirtualNicConfig(Basekit::Ref<VirtualNic::Config>& out) = 0;
  virtual void CreateNetworkStackInstance(Basekit::Ref<NetStackInstance>& out) = 0;
  virtual void CreateNetworkStackRuntimeInfo(
      Basekit::Ref<RuntimeInfo::NetStackInstanceRuntimeInfo>& out) = 0;
  virtual void CreateNetworkHint(Basekit::Ref<PhysicalNic::NetworkHint>& out) = 0;
  virtual void CreateCdpInfo(Basekit::Ref<PhysicalNic::CdpInfo>& out) = 0;
  virtual void CreateLldpInfo(Basekit::Ref<PhysicalNic::LldpInfo>& out) = 0;
  // One capability per bit: router 0, transparentBridge 1, sourceRouteBridge 2,
  // networkSwitch 3, host 4, igmpEnabled 5, repeater 6.
  virtual void CreateCdpDeviceCapability(Basekit::Ref<PhysicalNic::CdpDeviceCapability>& out,
                                         unsigned int& bits) = 0;

 protected:
  ~NetworkFactory() override;
};

class KOR_API NetworkFactoryImpl : public NetworkFactory, public Basekit::ObjectImpl {
 public:
  NetworkFactoryImpl() = default;

  void CreateHvxNetCapabilities(Basekit::Ref<NetCapabilities>& out) override;
  void CreateHostedNetCapabilities(Basekit::Ref<NetCapabilities>& out) override;
  void CreateNetworkPolicy(Basekit::Ref<NetworkPolicy>& out, bool setDefaults) override;
  void CreateNicFailureCriteria(Basekit::Ref<NetworkPolicy::NicFailureCriteria>& out,
                                bool setDefaults) override;
  void CreateNicOrderPolicy(Basekit::Ref<NetworkPolicy::NicOrderPolicy>& out) override;
  void CreateNicTeamingPolicy(Basekit::Ref<NetworkPolicy::NicTeamingPolicy>& out,
                              bool setDefaults) override;
  void CreateNetSecurityPolicy(Basekit::Ref<NetworkPolicy::SecurityPolicy>& out,
                               bool setDefaults) override;
  void CreateNetOffloadCapabilities(Basekit::Ref<NetOffloadCapabilities>& out,
                                    bool setDefaults) override;
  void CreateIpConfig(Basekit::Ref<IpConfig>& out) override;
  void CreateIpRouteConfig(Basekit::Ref<IpRouteConfig>& out) override;
  void CreateDnsConfig(Basekit::Ref<DnsConfig>& out) override;
  void CreateOpaqueSwitch(Basekit::Ref<OpaqueSwitch>& out) override;
  void CreateVirtualSwitch(Basekit::Ref<VirtualSwitch>& out) override;
  void CreateVirtualSwitchSpecification(Basekit::Ref<VirtualSwitch::Specification>& out) override;
  void CreateVirtualSwitchConfig(Basekit::Ref<VirtualSwitch::Config>& out,
                                 VirtualSwitch* vswitch) override;
  void CreateVirtualSwitchConfig(Basekit::Ref<VirtualSwitch::Config>& out) override;
  void CreateHostProxySwitchConfig(Basekit::Ref<HostProxySwitch::Config>& out,
                                   HostProxySwitch* proxy) override;
  void CreateHostProxySwitchConfig(Basekit::Ref<HostProxySwitch::Config>& out) override;
  void CreatePortGroupSpecification(Basekit::Ref<PortGroup::Specification>& out) override;
  void CreatePortGroupConfig(Basekit::Ref<PortGroup::Config>& out,
                             PortGroup::Specification* spec) override;
  void CreatePortGroupConfig(Basekit::Ref<PortGroup::Config>& out) override;
  void CreatePort(Basekit::Ref<PortGroup::Port>& out) override;
  void CreatePortGroup(Basekit::Ref<PortGroup>& out) override;
  void CreatePhysicalNic(Basekit::Ref<PhysicalNic>& out) override;
  void CreatePhysicalNicSpecification(Basekit::Ref<PhysicalNic::Specification>& out) override;
  void CreatePhysicalNicConfig(Basekit::Ref<PhysicalNic::Config>& out, PhysicalNic* pnic) override;
  void CreatePhysicalNicConfig(Basekit::Ref<PhysicalNic::Config>& out) override;
  void CreatePhysicalNicLinkSpeedDuplex(Basekit::Ref<PhysicalNic::LinkSpeedDuplex>& out) override;
  void CreateFcoeConfig(Basekit::Ref<FcoeConfig>& out) override;
  void CreateFcoeConfigCapabilities(Basekit::Ref<FcoeConfig::FcoeCapabilities>& out) override;
  void CreateFcoeConfigSpecification(Basekit::Ref<FcoeConfig::FcoeSpecification>& out) override;
  void CreateNetworkInfo(Basekit::Ref<NetworkInfo>& out) override;
  void CreateNetworkConfig(Basekit::Ref<NetworkConfig>& out, NetworkInfo* info) override;
  void CreateNetworkConfig(Basekit::Ref<NetworkConfig>& out) override;
  void CreateAutoBridge(Basekit::Ref<VirtualSwitch::AutoBridge>& out) override;
  void CreateSimpleBridge(Basekit::Ref<VirtualSwitch::SimpleBridge>& out) override;
  void CreateBondBridge(Basekit::Ref<VirtualSwitch::BondBridge>& out) override;
  void CreateVirtualNic(Basekit::Ref<VirtualNic>& out) override;
  void CreateVirtualNicSpecification(Basekit::Ref<VirtualNic::Specification>& out) override;
  void CreateVirtualNicConfig(Basekit::Ref<VirtualNic::Config>& out, VirtualNic* vnic) override;
  void CreateVirtualNicConfig(Basekit::Ref<VirtualNic::Config>& out) override;
  void CreateNetworkStackInstance(Basekit::Ref<NetStackInstance>& out) override;
  void CreateNetworkStackRuntimeInfo(
      Basekit::Ref<RuntimeInfo::NetStackInstanceRuntimeInfo>& out) override;
  void CreateNetworkHint(Basekit::Ref<PhysicalNic::NetworkHint>& out) override;
  void CreateCdpInfo(Basekit::Ref<PhysicalNic::CdpInfo>& out) override;
  void CreateLldpInfo(Basekit::Ref<PhysicalNic::LldpInfo>& out) override;
  void CreateCdpDeviceCapability(Basekit::Ref<PhysicalNic::CdpDeviceCapability>& out,
                                 unsigned int& bits) override;

  // Not part of the interface.
  void CreateHostProxySwitchSpecification(Basekit::Ref<HostProxySwitch::Specification>& out);
  // Removes from the given specification's IPv6 addresses every entry whose origin is not
  // "manual" (an entry without origin included), keeping the others in
  // order. Nothing to do without a spec, an ip, an IPv6 configuration or an
  // address list.
  void FilterIpv6Config(Basekit::Ref<VirtualNic::Specification>& spec);

 protected:
  ~NetworkFactoryImpl() override;
};

// The process-wide factory, made on first use (thread-safe) and released when
// the library is unloaded. The caller does not own it.
KOR_API NetworkFactory* GetNetworkFactory();

}  // namespace Host
}  // namespace Kor
