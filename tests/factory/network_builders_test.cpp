// The network factory's builders: what each family fills in, with and
// without defaults, which children are shared rather than copied, and that
// composites reach their children through the interface.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "factory_checks.h"
#include "kortypes/network_factory.h"

namespace {

using Basekit::Ref;
using namespace Kor::Host;
using factory_checks::EmptyLists;
using factory_checks::Set;
using factory_checks::Unset;

NetworkFactory* F() { return GetNetworkFactory(); }

// ---- the process-wide factory ----

TEST(NetworkFactorySingleton, OneInstanceHeldByTheLibrary) {
  NetworkFactory* a = GetNetworkFactory();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, GetNetworkFactory());
  EXPECT_NE(dynamic_cast<NetworkFactoryImpl*>(a), nullptr);
  EXPECT_GE(a->GetRefCount(), 1);  // the library's own reference keeps it
}

// ---- policies ----

TEST(NetworkPolicies, DefaultsFillEveryScalar) {
  Ref<NetworkPolicy> policy;
  F()->CreateNetworkPolicy(policy, true);
  ASSERT_TRUE(Set(policy, {"security", "nicTeaming", "shapingPolicy", "offloadPolicy"}));

  const auto* teaming = policy->PeekNicTeaming();
  ASSERT_NE(teaming->policy, nullptr);
  EXPECT_EQ(*teaming->policy, "loadbalance_srcid");
  EXPECT_TRUE(teaming->reversePolicy.IsSet() && teaming->reversePolicy.GetValue());
  EXPECT_TRUE(teaming->notifySwitches.IsSet() && teaming->notifySwitches.GetValue());
  EXPECT_TRUE(teaming->rollingOrder.IsSet() && !teaming->rollingOrder.GetValue());

  const auto* criteria = teaming->PeekFailureCriteria();
  ASSERT_NE(criteria, nullptr);
  ASSERT_NE(criteria->checkSpeed, nullptr) << "checkSpeed is present";
  EXPECT_EQ(*criteria->checkSpeed, "");
  for (const char* name : {"speed", "checkDuplex", "fullDuplex", "checkErrorPercent", "percentage",
                           "checkBeacon"}) {
    EXPECT_TRUE(factory_checks::IsSet(criteria, name)) << name;
  }
  EXPECT_EQ(criteria->speed.GetValue(), 0);
  EXPECT_FALSE(criteria->checkBeacon.GetValue());
  EXPECT_TRUE(EmptyLists(teaming->PeekNicOrder(), {"activeNic", "standbyNic"}));

  const auto* security = policy->PeekSecurity();
  EXPECT_TRUE(Set(security, {"allowPromiscuous", "macChanges", "forgedTransmits"}));
  EXPECT_FALSE(security->allowPromiscuous.GetValue() || security->macChanges.GetValue() ||
               security->forgedTransmits.GetValue());
  const auto* offload = policy->PeekOffloadPolicy();
  EXPECT_TRUE(Set(offload, {"csumOffload", "tcpSegmentation", "zeroCopyXmit"}));
  EXPECT_FALSE(offload->csumOffload.GetValue() || offload->tcpSegmentation.GetValue() ||
               offload->zeroCopyXmit.GetValue());
  // Shaping has no defaults of its own.
  EXPECT_TRUE(Unset(policy->PeekShapingPolicy(),
                    {"enabled", "averageBandwidth", "peakBandwidth", "burstSize"}));
}

TEST(NetworkPolicies, WithoutDefaultsTheChildrenExistButSayNothing) {
  Ref<NetworkPolicy::NicTeamingPolicy> teaming;
  F()->CreateNicTeamingPolicy(teaming, false);
  EXPECT_TRUE(Set(teaming, {"nicOrder", "failureCriteria"}));
  EXPECT_TRUE(Unset(teaming, {"policy", "reversePolicy", "notifySwitches", "rollingOrder"}));
  EXPECT_TRUE(Unset(teaming->PeekFailureCriteria(), {"checkSpeed", "speed", "checkDuplex", "fullDuplex",
                                                     "checkErrorPercent", "percentage", "checkBeacon"}));

  Ref<NetworkPolicy> policy;
  F()->CreateNetworkPolicy(policy, false);
  EXPECT_TRUE(Set(policy, {"security", "nicTeaming", "shapingPolicy", "offloadPolicy"}));
  EXPECT_TRUE(Unset(policy->PeekSecurity(), {"allowPromiscuous", "macChanges", "forgedTransmits"}));
  EXPECT_TRUE(Unset(policy->PeekOffloadPolicy(), {"csumOffload", "tcpSegmentation", "zeroCopyXmit"}));
}

TEST(NetworkPolicies, PortGroupsSpecifyNothingWhileSwitchesAndComputedPoliciesDo) {
  Ref<PortGroup::Specification> spec;
  F()->CreatePortGroupSpecification(spec);
  EXPECT_EQ(spec->name, "");
  EXPECT_EQ(spec->vlanId, 0);
  EXPECT_EQ(spec->vswitchName, "");
  EXPECT_TRUE(Unset(spec->PeekPolicy()->PeekNicTeaming(), {"policy", "reversePolicy"}));

  Ref<PortGroup> group;
  F()->CreatePortGroup(group);
  EXPECT_TRUE(Unset(group, {"key", "vswitch"}));
  EXPECT_TRUE(EmptyLists(group, {"port"}));
  EXPECT_TRUE(Set(group->PeekComputedPolicy()->PeekNicTeaming(), {"policy", "reversePolicy"}));
  EXPECT_TRUE(Unset(group->PeekSpec()->PeekPolicy()->PeekSecurity(), {"allowPromiscuous"}));

  Ref<VirtualSwitch::Specification> switchSpec;
  F()->CreateVirtualSwitchSpecification(switchSpec);
  EXPECT_TRUE(Set(switchSpec->PeekPolicy()->PeekSecurity(), {"allowPromiscuous"}));
  EXPECT_TRUE(Unset(switchSpec, {"bridge", "mtu"}));
}

// ---- capabilities ----

TEST(NetworkCapabilities, HypervisorAndHostedDiffer) {
  Ref<NetCapabilities> hvx;
  F()->CreateHvxNetCapabilities(hvx);
  const std::vector<std::string> policies = hvx->GetNicTeamingPolicy()->GetValues();
  EXPECT_EQ(policies, (std::vector<std::string>{"loadbalance_ip", "loadbalance_srcmac",
                                                "loadbalance_srcid", "failover_explicit"}));
  EXPECT_TRUE(hvx->canSetPhysicalNicLinkSpeed && hvx->supportsNicTeaming && hvx->supportsVlan &&
              hvx->usesServiceConsoleNic && hvx->supportsNetworkHints && hvx->vswitchConfigSupported &&
              hvx->vnicConfigSupported && hvx->ipRouteConfigSupported && hvx->dnsConfigSupported);
  EXPECT_FALSE(hvx->dhcpOnVnicSupported);
  EXPECT_TRUE(Unset(hvx, {"maxPortGroupsPerVswitch", "ipV6Supported"}));

  Ref<NetCapabilities> hosted;
  F()->CreateHostedNetCapabilities(hosted);
  EXPECT_TRUE(EmptyLists(hosted, {"nicTeamingPolicy"}));
  EXPECT_FALSE(hosted->canSetPhysicalNicLinkSpeed || hosted->supportsNicTeaming || hosted->supportsVlan ||
               hosted->usesServiceConsoleNic || hosted->supportsNetworkHints ||
               hosted->vswitchConfigSupported || hosted->vnicConfigSupported ||
               hosted->ipRouteConfigSupported || hosted->dnsConfigSupported ||
               hosted->dhcpOnVnicSupported);
  ASSERT_TRUE(hosted->maxPortGroupsPerVswitch.IsSet());
  EXPECT_EQ(hosted->maxPortGroupsPerVswitch.GetValue(), 1);
  EXPECT_TRUE(Unset(hosted, {"ipV6Supported"}));
}

TEST(NetworkCapabilities, DiscoveryProtocolBitsMapOneToOne) {
  struct Case {
    unsigned bits;
    std::vector<const char*> set;
  };
  const std::vector<const char*> all = {"router", "transparentBridge", "sourceRouteBridge",
                                        "networkSwitch", "host", "igmpEnabled", "repeater"};
  const Case cases[] = {{0x41, {"router", "repeater"}},
                        {0x00, {}},
                        {0x7f, all},
                        {0x0c, {"sourceRouteBridge", "networkSwitch"}},
                        {0x30, {"host", "igmpEnabled"}},
                        {0x82, {"transparentBridge"}}};  // bit 7 means nothing
  for (const Case& c : cases) {
    Ref<PhysicalNic::CdpDeviceCapability> cap;
    unsigned bits = c.bits;
    F()->CreateCdpDeviceCapability(cap, bits);
    const Movel::DataTypeInfo* record = cap->_GetDataType()->GetRecord();
    for (std::size_t i = 0; i < all.size(); ++i) {
      bool want = false;
      for (const char* name : c.set) want = want || std::string(name) == all[i];
      const bool* value = static_cast<const bool*>(record->propPeek(cap, static_cast<int>(i)));
      ASSERT_NE(value, nullptr);
      EXPECT_EQ(*value, want) << all[i] << " for bits " << c.bits;
    }
  }
}

// ---- switches, NICs, FCoE and the rest ----

TEST(NetworkObjects, NewObjectsHaveTheirListsAndChildren) {
  Ref<VirtualSwitch> vswitch;
  F()->CreateVirtualSwitch(vswitch);
  EXPECT_TRUE(EmptyLists(vswitch, {"portgroup", "pnic"}));
  EXPECT_TRUE(Set(vswitch, {"spec"}));
  EXPECT_TRUE(Unset(vswitch, {"mtu"}));

  Ref<OpaqueSwitch> opaque;
  F()->CreateOpaqueSwitch(opaque);
  EXPECT_TRUE(EmptyLists(opaque, {"pnic"}));

  Ref<PhysicalNic> pnic;
  F()->CreatePhysicalNic(pnic);
  EXPECT_TRUE(EmptyLists(pnic, {"validLinkSpecification"}));
  EXPECT_TRUE(Unset(pnic, {"linkSpeed", "fcoeConfiguration", "vmDirectPathGen2Supported",
                           "resourcePoolSchedulerAllowed", "driverVersion"}));
  ASSERT_NE(pnic->PeekSpec(), nullptr);
  const IpConfig* ip = pnic->PeekSpec()->PeekIp();
  ASSERT_NE(ip, nullptr);
  EXPECT_FALSE(ip->dhcp);
  EXPECT_TRUE(Unset(ip, {"ipV6Config"}));

  Ref<PortGroup::Port> port;
  F()->CreatePort(port);
  EXPECT_EQ(port->type, "unknown");
  EXPECT_TRUE(EmptyLists(port, {"mac"}));

  Ref<DnsConfig> dns;
  F()->CreateDnsConfig(dns);
  EXPECT_TRUE(EmptyLists(dns, {"address", "searchDomain"}));
  EXPECT_TRUE(Unset(dns, {"virtualNicDevice"}));

  Ref<IpRouteConfig> route;
  F()->CreateIpRouteConfig(route);
  EXPECT_TRUE(Unset(route, {"defaultGateway", "gatewayDevice", "ipV6DefaultGateway"}));

  Ref<NetStackInstance> stack;
  F()->CreateNetworkStackInstance(stack);
  EXPECT_TRUE(Set(stack, {"dnsConfig", "ipRouteConfig"}));
  EXPECT_TRUE(Unset(stack, {"key", "name", "ipV6Enabled", "routeTableConfig"}));

  Ref<PhysicalNic::NetworkHint> hint;
  F()->CreateNetworkHint(hint);
  EXPECT_TRUE(EmptyLists(hint, {"subnet", "network"}));
  EXPECT_TRUE(Unset(hint, {"connectedSwitchPort", "lldpInfo"}));

  Ref<VirtualSwitch::BondBridge> bond;
  F()->CreateBondBridge(bond);
  EXPECT_TRUE(EmptyLists(bond, {"nicDevice"}));
  EXPECT_TRUE(Unset(bond, {"beacon"}));
}

TEST(NetworkObjects, FcoeSpecificationHoldsOneZeroRange) {
  Ref<FcoeConfig::FcoeSpecification> spec;
  F()->CreateFcoeConfigSpecification(spec);
  ASSERT_TRUE(spec->priorityClass.IsSet());
  EXPECT_EQ(spec->priorityClass.GetValue(), 0);
  const auto* ranges = spec->PeekVlanRange();
  ASSERT_NE(ranges, nullptr);
  ASSERT_EQ(ranges->GetLength(), 1);
  EXPECT_EQ(ranges->Get(0)->vlanLow, 0);
  EXPECT_EQ(ranges->Get(0)->vlanHigh, 0);

  Ref<FcoeConfig> config;
  F()->CreateFcoeConfig(config);
  EXPECT_TRUE(EmptyLists(config, {"vlanRange"}));
  ASSERT_NE(config->PeekCapabilities(), nullptr);
  EXPECT_FALSE(config->PeekCapabilities()->priorityClass || config->fcoeActive);
}

TEST(NetworkObjects, StateAndConfigurationStartEmpty) {
  Ref<NetworkInfo> info;
  F()->CreateNetworkInfo(info);
  EXPECT_TRUE(EmptyLists(info, {"vswitch", "portgroup", "pnic", "vnic", "consoleVnic", "dhcp", "nat",
                                "netStackInstance"}));
  EXPECT_TRUE(factory_checks::AbsentLists(info, {"proxySwitch", "opaqueSwitch", "opaqueNetwork"}));
  EXPECT_TRUE(Unset(info, {"dnsConfig", "ipRouteConfig", "routeTableInfo", "ipV6Enabled",
                           "atBootIpV6Enabled", "ipSecConfig"}));

  Ref<NetworkConfig> config;
  F()->CreateNetworkConfig(config);
  EXPECT_TRUE(EmptyLists(config, {"vswitch", "portgroup", "pnic", "vnic", "consoleVnic", "netStackSpec"}));
  EXPECT_TRUE(factory_checks::AbsentLists(config, {"proxySwitch", "dhcp", "nat"}));
  EXPECT_TRUE(Unset(config, {"dnsConfig", "ipRouteConfig", "consoleIpRouteConfig", "routeTableConfig",
                             "ipV6Enabled", "ipSecConfig", "consoleIpSecConfig"}));
}

TEST(NetworkObjects, BuildersReplaceWhatTheReferenceHeld) {
  Ref<IpConfig> ip;
  F()->CreateIpConfig(ip);
  ip->ipAddress = "10.0.0.1";
  Ref<IpConfig> kept = ip;
  F()->CreateIpConfig(ip);
  EXPECT_NE(ip.Get(), kept.Get());
  EXPECT_EQ(ip->ipAddress, "");
  EXPECT_EQ(kept->ipAddress, "10.0.0.1");
  EXPECT_EQ(kept->GetRefCount(), 1) << "the builder released its reference to the old object";
}

// ---- configurations of existing objects share their specifications ----

TEST(NetworkSharing, ConfigurationsHoldTheSameSpecificationObjects) {
  Ref<VirtualSwitch> vswitch;
  F()->CreateVirtualSwitch(vswitch);
  vswitch->name = "switch0";
  Ref<VirtualSwitch::Config> switchConfig;
  F()->CreateVirtualSwitchConfig(switchConfig, vswitch);
  EXPECT_EQ(switchConfig->name, "switch0");
  EXPECT_EQ(switchConfig->PeekSpec(), vswitch->PeekSpec());
  EXPECT_EQ(switchConfig->changeOperation, nullptr);

  Ref<PhysicalNic> pnic;
  F()->CreatePhysicalNic(pnic);
  pnic->device = "nic3";
  Ref<PhysicalNic::Config> pnicConfig;
  F()->CreatePhysicalNicConfig(pnicConfig, pnic);
  EXPECT_EQ(pnicConfig->device, "nic3");
  EXPECT_EQ(pnicConfig->PeekSpec(), pnic->PeekSpec());

  Ref<HostProxySwitch> proxy(new HostProxySwitch());
  proxy->dvsUuid = "50 1a 2b";
  proxy->SetSpec(Ref<HostProxySwitch::Specification>(new HostProxySwitch::Specification()));
  Ref<HostProxySwitch::Config> proxyConfig;
  F()->CreateHostProxySwitchConfig(proxyConfig, proxy);
  EXPECT_EQ(proxyConfig->uuid, "50 1a 2b");
  EXPECT_EQ(proxyConfig->PeekSpec(), proxy->PeekSpec());

  Ref<PortGroup::Specification> groupSpec;
  F()->CreatePortGroupSpecification(groupSpec);
  Ref<PortGroup::Config> groupConfig;
  F()->CreatePortGroupConfig(groupConfig, groupSpec);
  EXPECT_EQ(groupConfig->PeekSpec(), groupSpec.Get());
  EXPECT_EQ(groupConfig->changeOperation, nullptr);

  Ref<VirtualNic> vnic;
  F()->CreateVirtualNic(vnic);
  vnic->device = "vnic1";
  vnic->portgroup = "Management";
  Ref<VirtualNic::Config> vnicConfig;
  F()->CreateVirtualNicConfig(vnicConfig, vnic);
  ASSERT_NE(vnicConfig->device, nullptr);
  EXPECT_EQ(*vnicConfig->device, "vnic1");
  EXPECT_EQ(vnicConfig->portgroup, "Management");
  EXPECT_EQ(vnicConfig->PeekSpec(), vnic->PeekSpec());
}

TEST(NetworkSharing, NewConfigurationsMakeTheirOwnSpecifications) {
  Ref<VirtualNic::Config> vnicConfig;
  F()->CreateVirtualNicConfig(vnicConfig);
  EXPECT_EQ(vnicConfig->device, nullptr);
  EXPECT_EQ(vnicConfig->portgroup, "");
  ASSERT_NE(vnicConfig->PeekSpec(), nullptr);
  EXPECT_NE(vnicConfig->PeekSpec()->PeekIp(), nullptr);

  Ref<HostProxySwitch::Config> proxyConfig;
  F()->CreateHostProxySwitchConfig(proxyConfig);
  ASSERT_NE(proxyConfig->PeekSpec(), nullptr);
  EXPECT_TRUE(Unset(proxyConfig->PeekSpec(), {"backing"}));
}

// ---- composites reach their children through the interface ----

// Marks every teaming policy it makes, so the composites that hold one show it.
class MarkedTeaming : public NetworkFactoryImpl {
 public:
  void CreateNicTeamingPolicy(Ref<NetworkPolicy::NicTeamingPolicy>& out, bool setDefaults) override {
    NetworkFactoryImpl::CreateNicTeamingPolicy(out, setDefaults);
    Movel::SetOptionalString(out->policy, "marked");
    ++calls;
  }
  void CreateIpConfig(Ref<IpConfig>& out) override {
    NetworkFactoryImpl::CreateIpConfig(out);
    out->ipAddress = "marked";
  }
  void CreateVirtualSwitchConfig(Ref<VirtualSwitch::Config>& out) override {
    NetworkFactoryImpl::CreateVirtualSwitchConfig(out);
    Movel::SetOptionalString(out->changeOperation, "marked");
  }
  int calls = 0;

 protected:
  ~MarkedTeaming() override = default;
};

TEST(NetworkOverrides, OneOverriddenBuilderChangesEveryComposite) {
  Ref<MarkedTeaming> factory(new MarkedTeaming());
  NetworkFactory* f = factory.Get();

  Ref<PortGroup> group;
  f->CreatePortGroup(group);  // spec policy and computed policy: two teaming policies
  EXPECT_EQ(factory->calls, 2);
  EXPECT_EQ(*group->PeekComputedPolicy()->PeekNicTeaming()->policy, "marked");
  EXPECT_EQ(*group->PeekSpec()->PeekPolicy()->PeekNicTeaming()->policy, "marked");

  Ref<VirtualSwitch> vswitch;
  f->CreateVirtualSwitch(vswitch);
  EXPECT_EQ(*vswitch->PeekSpec()->PeekPolicy()->PeekNicTeaming()->policy, "marked");

  Ref<PhysicalNic::Config> pnicConfig;
  f->CreatePhysicalNicConfig(pnicConfig);
  EXPECT_EQ(pnicConfig->PeekSpec()->PeekIp()->ipAddress, "marked");
  Ref<VirtualNic> vnic;
  f->CreateVirtualNic(vnic);
  EXPECT_EQ(vnic->PeekSpec()->PeekIp()->ipAddress, "marked");

  // The configuration of an existing switch starts from the overridable one.
  Ref<VirtualSwitch::Config> switchConfig;
  f->CreateVirtualSwitchConfig(switchConfig, vswitch);
  ASSERT_NE(switchConfig->changeOperation, nullptr);
  EXPECT_EQ(switchConfig->PeekSpec(), vswitch->PeekSpec());

  // The process-wide factory is untouched by the subclass.
  Ref<PortGroup> plain;
  GetNetworkFactory()->CreatePortGroup(plain);
  EXPECT_EQ(*plain->PeekComputedPolicy()->PeekNicTeaming()->policy, "loadbalance_srcid");
}

}  // namespace
