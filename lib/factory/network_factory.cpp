// The host network configuration factory.
#include "kortypes/network_factory.h"

#include "movel/link.h"

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

// The Peek accessors give read-only views; the factory stores the objects it
// was handed (or made) into new parents and filters them in place, which its
// callers hand over for that purpose.
template <class T>
T* Mutable(const T* p) {
  return const_cast<T*>(p);
}

// The teaming policies of the hypervisor's network stack.
const char* const kHvxTeamingPolicies[] = {"loadbalance_ip", "loadbalance_srcmac", "loadbalance_srcid",
                                           "failover_explicit", nullptr};

const char kManualOrigin[] = "manual";

// The port groups named by a switch's key list, in key order, into groups
// (made when absent, cleared otherwise). An unknown key gives a null entry;
// a key naming an object of another type is reported to the resolver's
// handler, and gives a null entry if the handler lets the work go on.
void ResolvePortGroups(const Movel::LinkResolver& resolver, const Movel::Array<std::string>& keys,
                       Ref<Movel::DataArray<PortGroup>>& groups) {
  if (!groups) {
    groups = new Movel::DataArray<PortGroup>();
  } else {
    groups->Clear();
  }
  if (keys.GetLength() == 0) return;
  std::vector<Movel::Any*> found;
  resolver.Resolve(keys, found);
  groups->Reserve(static_cast<int>(found.size()));
  for (std::size_t i = 0; i < found.size(); ++i) {
    Movel::Any* object = found[i];
    if (!object) {
      groups->Append(nullptr);
    } else if (auto* group = dynamic_cast<PortGroup*>(object)) {
      groups->Append(group);
    } else {
      resolver.ReportTypeMismatch(keys.Get(static_cast<int>(i)), static_cast<int>(i),
                                  Movel::GetDoType<PortGroup>(), object);
      groups->Append(nullptr);
    }
  }
}

}  // namespace

NetworkFactory::~NetworkFactory() = default;
NetworkFactoryImpl::~NetworkFactoryImpl() = default;

// ---- capabilities ----

void NetworkFactoryImpl::CreateHvxNetCapabilities(Ref<NetCapabilities>& out) {
  NetCapabilities* c = Make(out);
  c->canSetPhysicalNicLinkSpeed = true;
  c->supportsNicTeaming = true;
  Movel::Array<std::string>* policies = c->GetNicTeamingPolicy();
  for (const char* const* p = kHvxTeamingPolicies; *p; ++p) policies->Append(*p);
  c->supportsVlan = true;
  c->usesServiceConsoleNic = true;
  c->supportsNetworkHints = true;
  c->vswitchConfigSupported = true;
  c->vnicConfigSupported = true;
  c->ipRouteConfigSupported = true;
  c->dnsConfigSupported = true;
  c->dhcpOnVnicSupported = false;
  c->maxPortGroupsPerVswitch.Reset();
}

void NetworkFactoryImpl::CreateHostedNetCapabilities(Ref<NetCapabilities>& out) {
  NetCapabilities* c = Make(out);
  c->canSetPhysicalNicLinkSpeed = false;
  c->supportsNicTeaming = false;
  c->GetNicTeamingPolicy();
  c->supportsVlan = false;
  c->usesServiceConsoleNic = false;
  c->supportsNetworkHints = false;
  c->maxPortGroupsPerVswitch = 1;
  c->vswitchConfigSupported = false;
  c->vnicConfigSupported = false;
  c->ipRouteConfigSupported = false;
  c->dnsConfigSupported = false;
  c->dhcpOnVnicSupported = false;
}

// ---- policies ----

void NetworkFactoryImpl::CreateNetworkPolicy(Ref<NetworkPolicy>& out, bool setDefaults) {
  NetworkPolicy* p = Make(out);
  Ref<NetworkPolicy::SecurityPolicy> security;
  CreateNetSecurityPolicy(security, setDefaults);
  p->SetSecurity(security);
  Ref<NetworkPolicy::NicTeamingPolicy> teaming;
  CreateNicTeamingPolicy(teaming, setDefaults);
  p->SetNicTeaming(teaming);
  p->SetShapingPolicy(Ref<NetworkPolicy::TrafficShapingPolicy>(new NetworkPolicy::TrafficShapingPolicy()));
  Ref<NetOffloadCapabilities> offload;
  CreateNetOffloadCapabilities(offload, setDefaults);
  p->SetOffloadPolicy(offload);
}

void NetworkFactoryImpl::CreateNicFailureCriteria(Ref<NetworkPolicy::NicFailureCriteria>& out,
                                                  bool setDefaults) {
  NetworkPolicy::NicFailureCriteria* c = Make(out);
  if (!setDefaults) return;
  Movel::SetOptionalString(c->checkSpeed, std::string());
  c->speed = 0;
  c->checkDuplex = false;
  c->fullDuplex = false;
  c->checkErrorPercent = false;
  c->percentage = 0;
  c->checkBeacon = false;
}

void NetworkFactoryImpl::CreateNicOrderPolicy(Ref<NetworkPolicy::NicOrderPolicy>& out) {
  NetworkPolicy::NicOrderPolicy* o = Make(out);
  o->GetActiveNic();
  o->GetStandbyNic();
}

void NetworkFactoryImpl::CreateNicTeamingPolicy(Ref<NetworkPolicy::NicTeamingPolicy>& out,
                                                bool setDefaults) {
  NetworkPolicy::NicTeamingPolicy* t = Make(out);
  if (setDefaults) {
    Movel::SetOptionalString(t->policy, "loadbalance_srcid");
    t->reversePolicy = true;
    t->notifySwitches = true;
    t->rollingOrder = false;
  }
  Ref<NetworkPolicy::NicOrderPolicy> order;
  CreateNicOrderPolicy(order);
  t->SetNicOrder(order);
  Ref<NetworkPolicy::NicFailureCriteria> criteria;
  CreateNicFailureCriteria(criteria, setDefaults);
  t->SetFailureCriteria(criteria);
}

void NetworkFactoryImpl::CreateNetSecurityPolicy(Ref<NetworkPolicy::SecurityPolicy>& out,
                                                 bool setDefaults) {
  NetworkPolicy::SecurityPolicy* s = Make(out);
  if (!setDefaults) return;
  s->allowPromiscuous = false;
  s->macChanges = false;
  s->forgedTransmits = false;
}

void NetworkFactoryImpl::CreateNetOffloadCapabilities(Ref<NetOffloadCapabilities>& out,
                                                      bool setDefaults) {
  NetOffloadCapabilities* o = Make(out);
  if (!setDefaults) return;
  o->csumOffload = false;
  o->tcpSegmentation = false;
  o->zeroCopyXmit = false;
}

// ---- IP, routing, DNS ----

void NetworkFactoryImpl::CreateIpConfig(Ref<IpConfig>& out) {
  IpConfig* ip = Make(out);
  ip->dhcp = false;
  ip->ipAddress.clear();
  ip->subnetMask.clear();
}

void NetworkFactoryImpl::CreateIpRouteConfig(Ref<IpRouteConfig>& out) {
  IpRouteConfig* r = Make(out);
  Movel::UnsetOptionalString(r->defaultGateway);
}

void NetworkFactoryImpl::CreateDnsConfig(Ref<DnsConfig>& out) {
  DnsConfig* d = Make(out);
  d->dhcp = false;
  d->hostName.clear();
  d->domainName.clear();
  d->GetAddress();
  d->GetSearchDomain();
}

// ---- switches ----

void NetworkFactoryImpl::CreateOpaqueSwitch(Ref<OpaqueSwitch>& out) {
  OpaqueSwitch* s = Make(out);
  s->key.clear();
  s->GetPnic();
}

void NetworkFactoryImpl::CreateVirtualSwitch(Ref<VirtualSwitch>& out) {
  VirtualSwitch* s = Make(out);
  s->name.clear();
  s->numPorts = 0;
  s->numPortsAvailable = 0;
  s->GetPortgroup();
  Ref<VirtualSwitch::Specification> spec;
  CreateVirtualSwitchSpecification(spec);
  s->SetSpec(spec);
  s->GetPnic();
}

void NetworkFactoryImpl::CreateVirtualSwitchSpecification(Ref<VirtualSwitch::Specification>& out) {
  VirtualSwitch::Specification* s = Make(out);
  s->numPorts = 0;
  Ref<NetworkPolicy> policy;
  CreateNetworkPolicy(policy, true);
  s->SetPolicy(policy);
}

void NetworkFactoryImpl::CreateVirtualSwitchConfig(Ref<VirtualSwitch::Config>& out,
                                                   VirtualSwitch* vswitch) {
  CreateVirtualSwitchConfig(out);
  if (!vswitch) return;
  out->name = vswitch->name;
  out->SetSpec(Mutable(vswitch->PeekSpec()));
}

void NetworkFactoryImpl::CreateVirtualSwitchConfig(Ref<VirtualSwitch::Config>& out) {
  VirtualSwitch::Config* c = Make(out);
  c->name.clear();
  Ref<VirtualSwitch::Specification> spec;
  CreateVirtualSwitchSpecification(spec);
  c->SetSpec(spec);
}

void NetworkFactoryImpl::CreateHostProxySwitchSpecification(Ref<HostProxySwitch::Specification>& out) {
  Make(out);  // backing stays unset
}

void NetworkFactoryImpl::CreateHostProxySwitchConfig(Ref<HostProxySwitch::Config>& out,
                                                     HostProxySwitch* proxy) {
  CreateHostProxySwitchConfig(out);
  if (!proxy) return;
  out->uuid = proxy->dvsUuid;
  out->SetSpec(Mutable(proxy->PeekSpec()));
}

void NetworkFactoryImpl::CreateHostProxySwitchConfig(Ref<HostProxySwitch::Config>& out) {
  HostProxySwitch::Config* c = Make(out);
  c->uuid.clear();
  Ref<HostProxySwitch::Specification> spec;
  NetworkFactoryImpl::CreateHostProxySwitchSpecification(spec);
  c->SetSpec(spec);
}

// ---- port groups ----

void NetworkFactoryImpl::CreatePortGroupSpecification(Ref<PortGroup::Specification>& out) {
  PortGroup::Specification* s = Make(out);
  s->name.clear();
  s->vlanId = 0;
  Ref<NetworkPolicy> policy;
  CreateNetworkPolicy(policy, false);
  s->SetPolicy(policy);
}

void NetworkFactoryImpl::CreatePortGroupConfig(Ref<PortGroup::Config>& out,
                                               PortGroup::Specification* spec) {
  PortGroup::Config* c = Make(out);
  c->SetSpec(spec);
}

void NetworkFactoryImpl::CreatePortGroupConfig(Ref<PortGroup::Config>& out) {
  PortGroup::Config* c = Make(out);
  Ref<PortGroup::Specification> spec;
  CreatePortGroupSpecification(spec);
  c->SetSpec(spec);
}

void NetworkFactoryImpl::CreatePort(Ref<PortGroup::Port>& out) {
  PortGroup::Port* p = Make(out);
  p->key.clear();
  p->GetMac();
  p->type = "unknown";
}

void NetworkFactoryImpl::CreatePortGroup(Ref<PortGroup>& out) {
  PortGroup* g = Make(out);
  Ref<PortGroup::Specification> spec;
  CreatePortGroupSpecification(spec);
  g->SetSpec(spec);
  Ref<NetworkPolicy> computed;
  CreateNetworkPolicy(computed, true);
  g->SetComputedPolicy(computed);
  g->GetPort();
}

// ---- physical NICs ----

void NetworkFactoryImpl::CreatePhysicalNic(Ref<PhysicalNic>& out) {
  PhysicalNic* n = Make(out);
  n->key.clear();
  n->device.clear();
  n->pci.clear();
  n->driver.clear();
  n->mac.clear();
  n->wakeOnLanSupported = false;
  n->GetValidLinkSpecification();
  Ref<PhysicalNic::Specification> spec;
  CreatePhysicalNicSpecification(spec);
  n->SetSpec(spec);
}

void NetworkFactoryImpl::CreatePhysicalNicSpecification(Ref<PhysicalNic::Specification>& out) {
  PhysicalNic::Specification* s = Make(out);
  Ref<IpConfig> ip;
  CreateIpConfig(ip);
  s->SetIp(ip);
}

void NetworkFactoryImpl::CreatePhysicalNicConfig(Ref<PhysicalNic::Config>& out, PhysicalNic* pnic) {
  CreatePhysicalNicConfig(out);
  if (!pnic) return;
  out->device = pnic->device;
  out->SetSpec(Mutable(pnic->PeekSpec()));
}

void NetworkFactoryImpl::CreatePhysicalNicConfig(Ref<PhysicalNic::Config>& out) {
  PhysicalNic::Config* c = Make(out);
  c->device.clear();
  Ref<PhysicalNic::Specification> spec;
  CreatePhysicalNicSpecification(spec);
  c->SetSpec(spec);
}

void NetworkFactoryImpl::CreatePhysicalNicLinkSpeedDuplex(Ref<PhysicalNic::LinkSpeedDuplex>& out) {
  PhysicalNic::LinkSpeedDuplex* l = Make(out);
  l->speedMb = 0;
  l->duplex = false;
}

// ---- FCoE ----

void NetworkFactoryImpl::CreateFcoeConfig(Ref<FcoeConfig>& out) {
  FcoeConfig* f = Make(out);
  f->priorityClass = 0;
  f->sourceMac.clear();
  f->GetVlanRange();
  Ref<FcoeConfig::FcoeCapabilities> capabilities;
  CreateFcoeConfigCapabilities(capabilities);
  f->SetCapabilities(capabilities);
  f->fcoeActive = false;
}

void NetworkFactoryImpl::CreateFcoeConfigCapabilities(Ref<FcoeConfig::FcoeCapabilities>& out) {
  FcoeConfig::FcoeCapabilities* c = Make(out);
  c->priorityClass = false;
  c->sourceMacAddress = false;
  c->vlanRange = false;
}

void NetworkFactoryImpl::CreateFcoeConfigSpecification(Ref<FcoeConfig::FcoeSpecification>& out) {
  FcoeConfig::FcoeSpecification* s = Make(out);
  s->underlyingPnic.clear();
  s->priorityClass = 0;
  s->sourceMac.clear();
  Ref<FcoeConfig::VlanRange> range(new FcoeConfig::VlanRange());
  range->vlanLow = 0;
  range->vlanHigh = 0;
  s->GetVlanRange()->Append(range.Get());
}

// ---- network state and configuration ----

void NetworkFactoryImpl::CreateNetworkInfo(Ref<NetworkInfo>& out) {
  NetworkInfo* i = Make(out);
  i->GetVswitch();
  i->GetPortgroup();
  i->GetPnic();
  i->GetVnic();
  i->GetConsoleVnic();
  i->GetDhcp();
  i->GetNat();
  i->GetNetStackInstance();
}

void NetworkFactoryImpl::CreateNetworkConfig(Ref<NetworkConfig>& out) {
  NetworkConfig* c = Make(out);
  c->GetVswitch();
  c->GetPortgroup();
  c->GetPnic();
  c->GetVnic();
  c->GetConsoleVnic();
  c->GetNetStackSpec();
}

// The configuration is built aside and stored into out only once complete: a
// bad link leaves out as it was.
void NetworkFactoryImpl::CreateNetworkConfig(Ref<NetworkConfig>& out, NetworkInfo* info) {
  Ref<NetworkConfig> config;
  CreateNetworkConfig(config);
  if (!info) {
    out = config;
    return;
  }
  // Every list of the result exists, empty when info has nothing for it.
  config->GetVswitch();
  config->GetPortgroup();
  config->GetProxySwitch();
  config->GetPnic();
  config->GetVnic();
  config->GetConsoleVnic();
  config->GetNetStackSpec();
  Movel::PanicLinkErrorHandler handler;
  Ref<Movel::LinkResolver> resolver;
  Movel::CreateLinkResolver(info, handler, resolver);

  // Switches, each followed by the port groups it lists, in its order; port
  // groups no switch lists are not carried over.
  Ref<Movel::DataArray<PortGroup>> groups;
  for (VirtualSwitch* vswitch : *info->GetVswitch()) {
    if (!vswitch) continue;
    Ref<VirtualSwitch::Config> switchConfig;
    CreateVirtualSwitchConfig(switchConfig, vswitch);
    ResolvePortGroups(*resolver, *vswitch->GetPortgroup(), groups);
    for (PortGroup* group : *groups) {
      if (!group) continue;
      Ref<PortGroup::Config> groupConfig;
      CreatePortGroupConfig(groupConfig, Mutable(group->PeekSpec()));
      config->GetPortgroup()->Append(groupConfig.Get());
    }
    config->GetVswitch()->Append(switchConfig.Get());
  }
  for (HostProxySwitch* proxy : *info->GetProxySwitch()) {
    if (!proxy) continue;
    Ref<HostProxySwitch::Config> proxyConfig;
    CreateHostProxySwitchConfig(proxyConfig, proxy);
    config->GetProxySwitch()->Append(proxyConfig.Get());
  }
  for (PhysicalNic* pnic : *info->GetPnic()) {
    if (!pnic) continue;
    Ref<PhysicalNic::Config> pnicConfig;
    CreatePhysicalNicConfig(pnicConfig, pnic);
    config->GetPnic()->Append(pnicConfig.Get());
  }
  for (VirtualNic* vnic : *info->GetVnic()) {
    if (!vnic) continue;
    Ref<VirtualNic::Config> vnicConfig;
    CreateVirtualNicConfig(vnicConfig, vnic);
    config->GetVnic()->Append(vnicConfig.Get());
  }
  for (VirtualNic* vnic : *info->GetConsoleVnic()) {
    if (!vnic) continue;
    Ref<VirtualNic::Config> vnicConfig;
    CreateVirtualNicConfig(vnicConfig, vnic);
    config->GetConsoleVnic()->Append(vnicConfig.Get());
  }
  if (const DnsConfig* dns = info->PeekDnsConfig()) config->SetDnsConfig(Mutable(dns));
  config->ipV6Enabled = info->ipV6Enabled;
  for (NetStackInstance* stack : *info->GetNetStackInstance()) {
    if (!stack) continue;
    Ref<NetworkConfig::NetStackSpec> spec(new NetworkConfig::NetStackSpec());
    spec->SetNetStackInstance(stack);
    config->GetNetStackSpec()->Append(spec.Get());
  }
  out = config;
}

// ---- bridges ----

void NetworkFactoryImpl::CreateAutoBridge(Ref<VirtualSwitch::AutoBridge>& out) { Make(out); }

void NetworkFactoryImpl::CreateSimpleBridge(Ref<VirtualSwitch::SimpleBridge>& out) {
  Make(out)->nicDevice.clear();
}

void NetworkFactoryImpl::CreateBondBridge(Ref<VirtualSwitch::BondBridge>& out) {
  Make(out)->GetNicDevice();
}

// ---- virtual NICs ----

void NetworkFactoryImpl::CreateVirtualNic(Ref<VirtualNic>& out) {
  VirtualNic* n = Make(out);
  Ref<VirtualNic::Specification> spec;
  CreateVirtualNicSpecification(spec);
  n->SetSpec(spec);
}

void NetworkFactoryImpl::CreateVirtualNicSpecification(Ref<VirtualNic::Specification>& out) {
  VirtualNic::Specification* s = Make(out);
  Ref<IpConfig> ip;
  CreateIpConfig(ip);
  s->SetIp(ip);
}

void NetworkFactoryImpl::CreateVirtualNicConfig(Ref<VirtualNic::Config>& out, VirtualNic* vnic) {
  CreateVirtualNicConfig(out);
  if (!vnic) return;
  Movel::SetOptionalString(out->device, vnic->device);
  out->portgroup = vnic->portgroup;
  Ref<VirtualNic::Specification> spec(Mutable(vnic->PeekSpec()));
  NetworkFactoryImpl::FilterIpv6Config(spec);
  out->SetSpec(spec);
}

void NetworkFactoryImpl::CreateVirtualNicConfig(Ref<VirtualNic::Config>& out) {
  VirtualNic::Config* c = Make(out);
  c->portgroup.clear();
  Ref<VirtualNic::Specification> spec;
  CreateVirtualNicSpecification(spec);
  c->SetSpec(spec);
}

void NetworkFactoryImpl::FilterIpv6Config(Ref<VirtualNic::Specification>& spec) {
  if (!spec) return;
  const IpConfig* ip = spec->PeekIp();
  const IpConfig::IpV6AddressConfiguration* v6 = ip ? ip->PeekIpV6Config() : nullptr;
  // Peek gives null for an absent or empty list: nothing to filter then.
  auto* addresses = Mutable(v6 ? v6->PeekIpV6Address() : nullptr);
  if (!addresses) return;
  for (int i = addresses->GetLength() - 1; i >= 0; --i) {
    const IpConfig::IpV6Address* address = addresses->Get(i);
    // Only addresses configured by hand are configuration; an entry without
    // an origin (or a null entry) is not one of them.
    if (!address || !address->origin || *address->origin != kManualOrigin) addresses->Erase(i);
  }
}

// ---- network stacks, hints, discovery protocols ----

void NetworkFactoryImpl::CreateNetworkStackInstance(Ref<NetStackInstance>& out) {
  NetStackInstance* s = Make(out);
  Ref<DnsConfig> dns;
  CreateDnsConfig(dns);
  s->SetDnsConfig(dns);
  Ref<IpRouteConfig> route;
  CreateIpRouteConfig(route);
  s->SetIpRouteConfig(route);
}

void NetworkFactoryImpl::CreateNetworkStackRuntimeInfo(
    Ref<RuntimeInfo::NetStackInstanceRuntimeInfo>& out) {
  Make(out);
}

void NetworkFactoryImpl::CreateNetworkHint(Ref<PhysicalNic::NetworkHint>& out) {
  PhysicalNic::NetworkHint* h = Make(out);
  h->device.clear();
  h->GetSubnet();
  h->GetNetwork();
}

void NetworkFactoryImpl::CreateCdpInfo(Ref<PhysicalNic::CdpInfo>& out) { Make(out); }

void NetworkFactoryImpl::CreateLldpInfo(Ref<PhysicalNic::LldpInfo>& out) { Make(out); }

void NetworkFactoryImpl::CreateCdpDeviceCapability(Ref<PhysicalNic::CdpDeviceCapability>& out,
                                                   unsigned int& bits) {
  PhysicalNic::CdpDeviceCapability* c = Make(out);
  c->router = (bits & 0x01u) != 0;
  c->transparentBridge = (bits & 0x02u) != 0;
  c->sourceRouteBridge = (bits & 0x04u) != 0;
  c->networkSwitch = (bits & 0x08u) != 0;
  c->host = (bits & 0x10u) != 0;
  c->igmpEnabled = (bits & 0x20u) != 0;
  c->repeater = (bits & 0x40u) != 0;
}

// ---- the process-wide factory ----

NetworkFactory* GetNetworkFactory() {
  // Made once, safely among threads; the reference is released when the
  // library's static objects are destroyed at unload.
  static const Ref<NetworkFactoryImpl> factory(new NetworkFactoryImpl());
  return factory.Get();
}

}  // namespace Host
}  // namespace Kor
