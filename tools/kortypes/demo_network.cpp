// `kortypes demo`, host network section: state to configuration through the
// network factory.
#include "demo_network.h"

#include <iomanip>
#include <string>
#include <vector>

#include "kortypes/network_factory.h"

namespace kortypes {
namespace {

using Basekit::Ref;
using namespace Kor::Host;

void Line(std::ostream& out, const std::string& label, const std::string& value) {
  out << "   " << std::left << std::setw(30) << label << value << "\n";
}

std::string Join(const std::vector<std::string>& items) {
  std::string s;
  for (const std::string& item : items) s += (s.empty() ? "" : ", ") + item;
  return s.empty() ? "-" : s;
}

// "address (origin)" of each IPv6 address a NIC specification holds.
std::vector<std::string> Ipv6Addresses(const VirtualNic::Specification* spec) {
  std::vector<std::string> out;
  const IpConfig* ip = spec ? spec->PeekIp() : nullptr;
  const auto* v6 = ip ? ip->PeekIpV6Config() : nullptr;
  const auto* list = v6 ? v6->PeekIpV6Address() : nullptr;
  if (!list) return out;
  for (const IpConfig::IpV6Address* a : *list) {
    if (a) out.push_back(a->ipAddress + " (" + (a->origin ? *a->origin : "no origin") + ")");
  }
  return out;
}

struct Address {
  const char* ip;
  const char* origin;
};

// The state a host reports: two switches listing three of four port groups,
// two physical NICs, two virtual NICs with addresses of several origins.
Ref<NetworkInfo> BuildState(NetworkFactory* f) {
  Ref<NetworkInfo> info;
  f->CreateNetworkInfo(info);
  const char* groups[][2] = {{"key-pg-vm", "Guests"},
                             {"key-pg-mgmt", "Management"},
                             {"key-pg-storage", "Storage"},
                             {"key-pg-old", "Retired"}};
  for (const auto& g : groups) {
    Ref<PortGroup> group;
    f->CreatePortGroup(group);
    Movel::SetOptionalString(group->key, g[0]);
    const_cast<PortGroup::Specification*>(group->PeekSpec())->name = g[1];
    info->GetPortgroup()->Append(group.Get());
  }
  const char* switches[][3] = {{"key-vs0", "switch0", "key-pg-mgmt key-pg-vm"},
                               {"key-vs1", "switch1", "key-pg-storage"}};
  for (const auto& s : switches) {
    Ref<VirtualSwitch> vswitch;
    f->CreateVirtualSwitch(vswitch);
    vswitch->key = s[0];
    vswitch->name = s[1];
    std::string keys = s[2];
    for (std::size_t at = 0; at < keys.size();) {
      std::size_t end = keys.find(' ', at);
      if (end == std::string::npos) end = keys.size();
      vswitch->GetPortgroup()->Append(keys.substr(at, end - at));
      at = end + 1;
    }
    info->GetVswitch()->Append(vswitch.Get());
  }
  for (int n = 0; n < 2; ++n) {
    Ref<PhysicalNic> pnic;
    f->CreatePhysicalNic(pnic);
    pnic->key = "key-nic" + std::to_string(n);
    pnic->device = "nic" + std::to_string(n);
    info->GetPnic()->Append(pnic.Get());
  }
  const std::vector<std::vector<Address>> vnics = {
      {{"2001:db8::10", "manual"}, {"fe80::200:5eff:fe6a:1", "linklayer"}, {"2001:db8::11", "dhcp"}},
      {{"2001:db8:1::20", "manual"}, {"2001:db8:1::21", "random"}}};
  for (std::size_t v = 0; v < vnics.size(); ++v) {
    Ref<VirtualNic> vnic;
    f->CreateVirtualNic(vnic);
    vnic->device = "vnic" + std::to_string(v);
    vnic->portgroup = v == 0 ? "Management" : "Storage";
    Ref<IpConfig::IpV6AddressConfiguration> v6(new IpConfig::IpV6AddressConfiguration());
    for (const Address& a : vnics[v]) {
      Ref<IpConfig::IpV6Address> address(new IpConfig::IpV6Address());
      address->ipAddress = a.ip;
      address->prefixLength = 64;
      Movel::SetOptionalString(address->origin, a.origin);
      v6->GetIpV6Address()->Append(address.Get());
    }
    const_cast<IpConfig*>(vnic->PeekSpec()->PeekIp())->SetIpV6Config(v6);
    info->GetVnic()->Append(vnic.Get());
  }
  Ref<DnsConfig> dns;
  f->CreateDnsConfig(dns);
  dns->hostName = "host-07";
  dns->domainName = "lab.example.net";
  info->SetDnsConfig(dns);
  info->ipV6Enabled = true;
  return info;
}

}  // namespace

void ShowHostNetwork(std::ostream& out) {
  out << "\nHost network: configuration derived from the reported state\n";
  NetworkFactory* f = GetNetworkFactory();
  Ref<NetworkInfo> info = BuildState(f);
  Ref<NetworkInfo> reported(static_cast<NetworkInfo*>(info->_Clone()));  // before filtering
  Ref<NetworkConfig> config;
  f->CreateNetworkConfig(config, info);

  Line(out, "state", std::to_string(info->GetVswitch()->GetLength()) + " switches, " +
                         std::to_string(info->GetPortgroup()->GetLength()) + " port groups, " +
                         std::to_string(info->GetPnic()->GetLength()) + " physical and " +
                         std::to_string(info->GetVnic()->GetLength()) + " virtual NICs");
  std::vector<std::string> switches, groups;
  for (const VirtualSwitch::Config* s : *config->GetVswitch()) switches.push_back(s->name);
  for (const PortGroup::Config* g : *config->GetPortgroup()) groups.push_back(g->PeekSpec()->name);
  Line(out, "configured switches", Join(switches));
  Line(out, "configured port groups", Join(groups) + " (by switch; unlisted ones left out)");
  Line(out, "DNS", config->PeekDnsConfig()->hostName + "." + config->PeekDnsConfig()->domainName +
                       (config->PeekDnsConfig() == info->PeekDnsConfig() ? " (shared with the state)" : ""));
  Line(out, "IPv6 enabled", config->ipV6Enabled.IsSet() ? (config->ipV6Enabled.GetValue() ? "yes" : "no")
                                                          : "unset");
  for (int v = 0; v < config->GetVnic()->GetLength(); ++v) {
    const VirtualNic::Config* vnic = config->GetVnic()->Get(v);
    const std::vector<std::string> kept = Ipv6Addresses(vnic->PeekSpec());
    std::vector<std::string> dropped;
    for (const std::string& a : Ipv6Addresses(reported->GetVnic()->Get(v)->PeekSpec())) {
      bool stays = false;
      for (const std::string& k : kept) stays = stays || k == a;
      if (!stays) dropped.push_back(a);
    }
    Line(out, *vnic->device + " on " + vnic->portgroup, "keeps " + Join(kept));
    Line(out, "", "IPv6 filter dropped " + Join(dropped));
  }
}

}  // namespace kortypes
