// Deriving a host's network configuration from its network state: one group
// per step (switches and their port groups, NICs and the IPv6 filter, the
// rest of the state, bad links).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "factory_checks.h"
#include "kortypes/network_factory.h"
#include "movel/link.h"

namespace {

using Basekit::Ref;
using namespace Kor::Host;
using factory_checks::EmptyLists;
using factory_checks::Unset;

NetworkFactory* F() { return GetNetworkFactory(); }

// A small network state, made with the factory's own builders.
struct State {
  Ref<NetworkInfo> info;

  State() { F()->CreateNetworkInfo(info); }

  PortGroup* AddPortGroup(const std::string& key, const std::string& name) {
    Ref<PortGroup> group;
    F()->CreatePortGroup(group);
    Movel::SetOptionalString(group->key, key);
    const_cast<PortGroup::Specification*>(group->PeekSpec())->name = name;
    info->GetPortgroup()->Append(group.Get());
    return group.Get();
  }

  VirtualSwitch* AddSwitch(const std::string& key, const std::vector<std::string>& groupKeys) {
    Ref<VirtualSwitch> vswitch;
    F()->CreateVirtualSwitch(vswitch);
    vswitch->key = key;
    vswitch->name = "name-of-" + key;
    for (const std::string& k : groupKeys) vswitch->GetPortgroup()->Append(k);
    info->GetVswitch()->Append(vswitch.Get());
    return vswitch.Get();
  }

  VirtualNic* AddVnic(Movel::DataArray<VirtualNic>* list, const std::string& device,
                      const std::vector<const char*>& origins) {
    Ref<VirtualNic> vnic;
    F()->CreateVirtualNic(vnic);
    vnic->device = device;
    vnic->portgroup = "pg-" + device;
    if (!origins.empty()) {
      auto* ip = const_cast<IpConfig*>(vnic->PeekSpec()->PeekIp());
      Ref<IpConfig::IpV6AddressConfiguration> v6(new IpConfig::IpV6AddressConfiguration());
      int n = 0;
      for (const char* origin : origins) {
        Ref<IpConfig::IpV6Address> address(new IpConfig::IpV6Address());
        address->ipAddress = "fe80::" + std::to_string(++n);
        if (origin) Movel::SetOptionalString(address->origin, origin);
        v6->GetIpV6Address()->Append(address.Get());
      }
      ip->SetIpV6Config(v6);
    }
    list->Append(vnic.Get());
    return vnic.Get();
  }

  Ref<NetworkConfig> Derive() {
    Ref<NetworkConfig> config;
    F()->CreateNetworkConfig(config, info);
    return config;
  }
};

std::vector<std::string> Addresses(const VirtualNic::Specification* spec) {
  std::vector<std::string> out;
  const auto* list = spec->PeekIp()->PeekIpV6Config()->PeekIpV6Address();
  if (!list) return out;
  for (const IpConfig::IpV6Address* a : *list) out.push_back(a->ipAddress);
  return out;
}

// ---- switches and port groups ----

TEST(DeriveSwitches, PortGroupsFollowTheirSwitchesInKeyOrder) {
  State s;
  PortGroup* a = s.AddPortGroup("key-A", "A");
  PortGroup* b = s.AddPortGroup("key-B", "B");
  PortGroup* c = s.AddPortGroup("key-C", "C");
  s.AddPortGroup("key-D", "D");  // listed by no switch
  VirtualSwitch* first = s.AddSwitch("key-vs0", {"key-B", "key-A"});
  VirtualSwitch* second = s.AddSwitch("key-vs1", {"key-C"});

  Ref<NetworkConfig> config = s.Derive();
  const auto* groups = config->PeekPortgroup();
  ASSERT_NE(groups, nullptr);
  ASSERT_EQ(groups->GetLength(), 3) << "the unlisted port group is dropped";
  EXPECT_EQ(groups->Get(0)->PeekSpec(), b->PeekSpec());
  EXPECT_EQ(groups->Get(1)->PeekSpec(), a->PeekSpec());
  EXPECT_EQ(groups->Get(2)->PeekSpec(), c->PeekSpec());
  for (const PortGroup::Config* g : *groups) EXPECT_EQ(g->changeOperation, nullptr);

  const auto* switches = config->PeekVswitch();
  ASSERT_NE(switches, nullptr);
  ASSERT_EQ(switches->GetLength(), 2);
  EXPECT_EQ(switches->Get(0)->name, first->name);
  EXPECT_EQ(switches->Get(0)->PeekSpec(), first->PeekSpec());
  EXPECT_EQ(switches->Get(1)->PeekSpec(), second->PeekSpec());
  EXPECT_EQ(switches->Get(1)->changeOperation, nullptr);
}

TEST(DeriveSwitches, UnknownKeysAndNullEntriesAreSkipped) {
  State s;
  PortGroup* a = s.AddPortGroup("key-A", "A");
  s.AddSwitch("key-vs0", {"no-such-key", "key-A"});
  s.info->GetVswitch()->Append(nullptr);
  s.AddSwitch("key-vs1", {});

  Ref<NetworkConfig> config = s.Derive();
  ASSERT_EQ(config->GetPortgroup()->GetLength(), 1);
  EXPECT_EQ(config->GetPortgroup()->Get(0)->PeekSpec(), a->PeekSpec());
  EXPECT_EQ(config->GetVswitch()->GetLength(), 2);
}

TEST(DeriveSwitches, ASwitchWithoutKeyListGainsAnEmptyOne) {
  State s;
  Ref<VirtualSwitch> bare(new VirtualSwitch());
  bare->name = "bare";
  s.info->GetVswitch()->Append(bare.Get());
  Ref<NetworkConfig> config = s.Derive();
  EXPECT_EQ(config->GetVswitch()->GetLength(), 1);
  EXPECT_EQ(config->GetPortgroup()->GetLength(), 0);
  EXPECT_TRUE(EmptyLists(bare, {"portgroup"}));
}

// ---- NICs and the IPv6 filter ----

TEST(DeriveNics, OnlyManualIpv6AddressesSurviveInConfigAndInfo) {
  State s;
  VirtualNic* vnic = s.AddVnic(s.info->GetVnic(), "vnic0", {"manual", "dhcp", "manual"});
  VirtualNic* console = s.AddVnic(s.info->GetConsoleVnic(), "console0", {"linklayer", "manual", nullptr});

  Ref<NetworkConfig> config = s.Derive();
  ASSERT_EQ(config->GetVnic()->GetLength(), 1);
  const VirtualNic::Config* vnicConfig = config->GetVnic()->Get(0);
  EXPECT_EQ(vnicConfig->PeekSpec(), vnic->PeekSpec()) << "the NIC's own spec, filtered in place";
  EXPECT_EQ(Addresses(vnicConfig->PeekSpec()), (std::vector<std::string>{"fe80::1", "fe80::3"}));
  ASSERT_NE(vnicConfig->device, nullptr);
  EXPECT_EQ(*vnicConfig->device, "vnic0");
  EXPECT_EQ(vnicConfig->portgroup, "pg-vnic0");

  ASSERT_EQ(config->GetConsoleVnic()->GetLength(), 1);
  EXPECT_EQ(Addresses(console->PeekSpec()), (std::vector<std::string>{"fe80::2"}))
      << "an address without origin is not a manual one";
}

TEST(DeriveNics, FilterLeavesSpecificationsWithoutAddressesAlone) {
  auto* impl = dynamic_cast<NetworkFactoryImpl*>(F());
  ASSERT_NE(impl, nullptr);
  Ref<VirtualNic::Specification> none;
  impl->FilterIpv6Config(none);  // no spec at all
  EXPECT_EQ(none.Get(), nullptr);

  Ref<VirtualNic::Specification> bare(new VirtualNic::Specification());
  impl->FilterIpv6Config(bare);  // no ip
  EXPECT_TRUE(Unset(bare, {"ip"}));

  F()->CreateVirtualNicSpecification(bare);
  auto* ip = const_cast<IpConfig*>(bare->PeekIp());
  ip->SetIpV6Config(Ref<IpConfig::IpV6AddressConfiguration>(new IpConfig::IpV6AddressConfiguration()));
  impl->FilterIpv6Config(bare);  // no address list: nothing to filter, nothing made
  EXPECT_TRUE(factory_checks::AbsentLists(ip->PeekIpV6Config(), {"ipV6Address"}));

  auto* list = const_cast<IpConfig::IpV6AddressConfiguration*>(ip->PeekIpV6Config())->GetIpV6Address();
  list->Append(nullptr);
  Ref<IpConfig::IpV6Address> dhcp(new IpConfig::IpV6Address());
  Movel::SetOptionalString(dhcp->origin, "dhcp");
  list->Append(dhcp.Get());
  impl->FilterIpv6Config(bare);
  EXPECT_EQ(list->GetLength(), 0);
}

TEST(DeriveNics, PhysicalAndProxySwitchesShareTheirSpecifications) {
  State s;
  Ref<PhysicalNic> pnic;
  F()->CreatePhysicalNic(pnic);
  pnic->device = "nic0";
  s.info->GetPnic()->Append(pnic.Get());
  s.info->GetPnic()->Append(nullptr);
  Ref<HostProxySwitch> proxy(new HostProxySwitch());
  proxy->dvsUuid = "uuid-1";
  proxy->SetSpec(Ref<HostProxySwitch::Specification>(new HostProxySwitch::Specification()));
  s.info->GetProxySwitch()->Append(proxy.Get());

  Ref<NetworkConfig> config = s.Derive();
  ASSERT_EQ(config->GetPnic()->GetLength(), 1);
  EXPECT_EQ(config->GetPnic()->Get(0)->device, "nic0");
  EXPECT_EQ(config->GetPnic()->Get(0)->PeekSpec(), pnic->PeekSpec());
  ASSERT_EQ(config->GetProxySwitch()->GetLength(), 1);
  EXPECT_EQ(config->GetProxySwitch()->Get(0)->uuid, "uuid-1");
  EXPECT_EQ(config->GetProxySwitch()->Get(0)->PeekSpec(), proxy->PeekSpec());
}

// ---- DNS, IPv6, network stacks and what is not carried over ----

TEST(DeriveRest, EmptyStateGivesEmptyConfiguration) {
  State s;
  Ref<NetworkConfig> config = s.Derive();
  EXPECT_TRUE(EmptyLists(config, {"vswitch", "portgroup", "pnic", "vnic", "consoleVnic", "netStackSpec",
                                  "proxySwitch"}));
  EXPECT_TRUE(Unset(config, {"dnsConfig", "ipV6Enabled", "ipRouteConfig", "dhcp", "nat"}));
  EXPECT_TRUE(EmptyLists(s.info, {"proxySwitch"})) << "lists are read through Get, made on demand";
}

TEST(DeriveRest, DnsIsSharedIpv6CopiedAndStacksWrapped) {
  State s;
  Ref<DnsConfig> dns;
  F()->CreateDnsConfig(dns);
  s.info->SetDnsConfig(dns);
  s.info->ipV6Enabled = false;
  Ref<NetStackInstance> stack;
  F()->CreateNetworkStackInstance(stack);
  s.info->GetNetStackInstance()->Append(stack.Get());
  Ref<IpRouteConfig> route;
  F()->CreateIpRouteConfig(route);
  s.info->SetIpRouteConfig(route);
  s.info->atBootIpV6Enabled = true;

  Ref<NetworkConfig> config = s.Derive();
  EXPECT_EQ(config->PeekDnsConfig(), dns.Get());
  ASSERT_TRUE(config->ipV6Enabled.IsSet());
  EXPECT_FALSE(config->ipV6Enabled.GetValue());
  ASSERT_EQ(config->GetNetStackSpec()->GetLength(), 1);
  EXPECT_EQ(config->GetNetStackSpec()->Get(0)->PeekNetStackInstance(), stack.Get());
  EXPECT_EQ(config->GetNetStackSpec()->Get(0)->operation, nullptr);
  EXPECT_TRUE(Unset(config, {"ipRouteConfig"})) << "routing is not carried over";
}

TEST(DeriveRest, NoInfoGivesTheEmptyConfiguration) {
  Ref<NetworkConfig> config;
  F()->CreateNetworkConfig(config, nullptr);
  ASSERT_NE(config.Get(), nullptr);
  EXPECT_TRUE(EmptyLists(config, {"vswitch", "portgroup"}));
}

// ---- bad links ----

TEST(DeriveBadLinks, AKeyNamingAnotherTypeStopsWithAClearError) {
  State s;
  s.AddPortGroup("key-A", "A");
  s.AddSwitch("key-vs0", {"key-A"});
  s.AddSwitch("key-vs1", {"key-A", "key-vs0"});  // a switch's key where a port group belongs
  VirtualNic* vnic = s.AddVnic(s.info->GetVnic(), "vnic0", {"dhcp"});

  Ref<NetworkConfig> config;
  F()->CreateNetworkConfig(config);
  NetworkConfig* before = config.Get();
  try {
    F()->CreateNetworkConfig(config, s.info);
    FAIL() << "a wrong link was followed";
  } catch (const Movel::LinkError& e) {
    EXPECT_EQ(e.GetKey(), "key-vs0");
    EXPECT_EQ(e.GetExpectedType(), "kor.host.PortGroup");
    EXPECT_EQ(e.GetActualType(), "kor.host.VirtualSwitch");
    EXPECT_NE(std::string(e.what()).find("key-vs0"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("entry 1"), std::string::npos);
  }
  EXPECT_EQ(config.Get(), before) << "a failed derivation leaves the output as it was";
  EXPECT_EQ(config->GetVswitch()->GetLength(), 0);
  EXPECT_EQ(Addresses(vnic->PeekSpec()).size(), 1u) << "the state was not filtered";
}

TEST(DeriveBadLinks, TwoObjectsWithOneKeyAreRejected) {
  State s;
  s.AddPortGroup("dup", "A");
  s.AddPortGroup("dup", "B");
  s.AddSwitch("key-vs0", {"dup"});
  Ref<NetworkConfig> config;
  EXPECT_THROW(F()->CreateNetworkConfig(config, s.info), Movel::LinkError);
  EXPECT_EQ(config.Get(), nullptr);
}

}  // namespace
