// The W2 workload of the benchmarks: a host's network state tree of 2,872
// objects (16 switches, 128 port groups of 4 ports, 16 physical NICs, 18
// virtual NICs, a DNS configuration), with the values of the protobuf peer's
// W2 so that both sides build, copy and encode the same tree.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "kortypes/kortypes.h"

namespace w2shape {


constexpr int kVswitches = 16;
constexpr int kPortgroups = 128;
constexpr int kPortsPerPortgroup = 4;
constexpr int kPnics = 16;
constexpr int kLinkSpecsPerPnic = 4;
constexpr int kVnics = 16;
constexpr int kConsoleVnics = 2;

inline std::string Fmt(const char* fmt, int a, int b = 0, int c = 0) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, a, b, c);
  return buf;
}

struct Pool {
  std::vector<std::string> vs_name, vs_key, pg_key, pg_name, port_key, port_mac;
  std::string port_type_vm, port_type_host;
  std::vector<std::string> pnic_key, pnic_device, pnic_pci, pnic_driver, pnic_mac, pnic_ip;
  std::vector<std::string> vnic_device, vnic_key, vnic_ip, vnic_mac;
  std::string subnet_mask, teaming_policy, check_speed;
  std::vector<std::string> nic_name;
  std::string dns_host, dns_domain;
  std::vector<std::string> dns_address, dns_search;

  Pool() {
    for (int i = 0; i < kVswitches; ++i) {
      vs_name.push_back(Fmt("vswitch-%02d", i));
      vs_key.push_back(Fmt("key-vswitch-%02d", i));
    }
    for (int j = 0; j < kPortgroups; ++j) {
      pg_key.push_back(Fmt("key-portgroup-%03d", j));
      pg_name.push_back(Fmt("pg-%03d-vlan%04d", j, 100 + j));
      for (int k = 0; k < kPortsPerPortgroup; ++k) {
        port_key.push_back(Fmt("key-port-%03d-%d", j, k));
        port_mac.push_back(Fmt("02:00:5e:%02x:%02x:%02x", j >> 4, (j & 15) << 4 | k, 0x10 + k));
      }
    }
    port_type_vm = "virtualMachine";
    port_type_host = "hostKernel";
    for (int k = 0; k < kPnics; ++k) {
      pnic_key.push_back(Fmt("key-pnic-%02d", k));
      pnic_device.push_back(Fmt("nic%d", k));
      pnic_pci.push_back(Fmt("0000:%02x:00.%d", 0x18 + k / 2, k % 2));
      pnic_driver.push_back(k < 8 ? "ixgbe-1.9.2" : "i40e-2.22.18");
      pnic_mac.push_back(Fmt("3c:fd:fe:%02x:%02x:%02x", 0xa0, k, 0x01));
      pnic_ip.push_back(Fmt("10.20.%d.%d", k, 11));
    }
    for (int v = 0; v < kVnics + kConsoleVnics; ++v) {
      vnic_device.push_back(Fmt("vnic%d", v));
      vnic_key.push_back(Fmt("key-vnic-%02d", v));
      vnic_ip.push_back(Fmt("10.30.%d.%d", v, 21));
      vnic_mac.push_back(Fmt("02:00:5e:ff:%02x:%02x", v, 0x42));
    }
    subnet_mask = "255.255.255.0";
    teaming_policy = "loadbalance_srcid";
    check_speed = "minimum";
    nic_name = {"nic0", "nic1", "nic2", "nic3"};
    dns_host = "node17";
    dns_domain = "dc-east.example.net";
    dns_address = {"10.0.0.53", "10.0.1.53"};
    dns_search = {"dc-east.example.net", "example.net"};
  }
};

using Kor::Host::NetworkPolicy;

// Keys are required strings in some catalogues and optional in others.
[[maybe_unused]] inline void SetKey(std::string& member, const std::string& value) { member = value; }
[[maybe_unused]] inline void SetKey(Movel::OptionalString& member, const std::string& value) {
  member = value;
}

inline NetworkPolicy* BuildPolicy(const Pool& p, int variant) {
  auto* pol = new NetworkPolicy();
  auto* sec = new NetworkPolicy::SecurityPolicy();
  sec->allowPromiscuous = false;
  sec->macChanges = variant % 2 == 0;
  sec->forgedTransmits = true;
  pol->SetSecurity(sec);

  auto* team = new NetworkPolicy::NicTeamingPolicy();
  Movel::SetOptionalString(team->policy, p.teaming_policy);
  team->reversePolicy = true;
  team->notifySwitches = true;
  team->rollingOrder = false;
  auto* fc = new NetworkPolicy::NicFailureCriteria();
  Movel::SetOptionalString(fc->checkSpeed, p.check_speed);
  fc->speed = 10;
  fc->checkDuplex = false;
  fc->fullDuplex = false;
  fc->checkErrorPercent = false;
  fc->percentage = 0;
  fc->checkBeacon = false;
  team->SetFailureCriteria(fc);
  auto* order = new NetworkPolicy::NicOrderPolicy();
  order->GetActiveNic()->Append(p.nic_name[variant % 2]);
  order->GetActiveNic()->Append(p.nic_name[2 + variant % 2]);
  order->GetStandbyNic()->Append(p.nic_name[1 - variant % 2]);
  team->SetNicOrder(order);
  pol->SetNicTeaming(team);

  auto* shape = new NetworkPolicy::TrafficShapingPolicy();
  shape->enabled = false;
  shape->averageBandwidth = 100000000LL;
  shape->peakBandwidth = 100000000LL;
  shape->burstSize = 104857600LL;
  pol->SetShapingPolicy(shape);

  auto* off = new Kor::Host::NetOffloadCapabilities();
  off->csumOffload = true;
  off->tcpSegmentation = true;
  off->zeroCopyXmit = true;
  pol->SetOffloadPolicy(off);
  return pol;
}

inline Kor::Host::IpConfig* BuildIp(const Pool& p, const std::string& addr) {
  auto* ip = new Kor::Host::IpConfig();
  ip->dhcp = false;
  ip->ipAddress = addr;
  ip->subnetMask = p.subnet_mask;
  return ip;
}

inline Kor::Host::VirtualNic* BuildVnic(const Pool& p, int v) {
  auto* n = new Kor::Host::VirtualNic();
  n->device = p.vnic_device[v];
  n->key = p.vnic_key[v];
  n->portgroup = p.pg_name[v % kPortgroups];
  Movel::SetOptionalString(n->port, p.port_key[(v % kPortgroups) * kPortsPerPortgroup + 3]);
  auto* spec = new Kor::Host::VirtualNic::Specification();
  spec->SetIp(BuildIp(p, p.vnic_ip[v]));
  Movel::SetOptionalString(spec->mac, p.vnic_mac[v]);
  spec->mtu = v < kVnics ? 9000 : 1500;
  n->SetSpec(spec);
  return n;
}

inline Kor::Host::NetworkInfo* BuildNetworkInfo(const Pool& p) {
  constexpr int kPgPerVs = kPortgroups / kVswitches;
  auto* m = new Kor::Host::NetworkInfo();
  auto* vswitches = m->GetVswitch();
  for (int i = 0; i < kVswitches; ++i) {
    auto* vs = new Kor::Host::VirtualSwitch();
    vs->name = p.vs_name[i];
    SetKey(vs->key, p.vs_key[i]);
    vs->numPorts = 1024;
    vs->numPortsAvailable = 1024 - kPgPerVs * kPortsPerPortgroup;
    vs->mtu = 9000;
    for (int j = 0; j < kPgPerVs; ++j) vs->GetPortgroup()->Append(p.pg_key[i * kPgPerVs + j]);
    vs->GetPnic()->Append(p.pnic_key[i]);
    auto* spec = new Kor::Host::VirtualSwitch::Specification();
    spec->numPorts = 1024;
    spec->SetPolicy(BuildPolicy(p, i));
    spec->mtu = 9000;
    vs->SetSpec(spec);
    vswitches->Append(vs);
  }
  auto* portgroups = m->GetPortgroup();
  for (int j = 0; j < kPortgroups; ++j) {
    auto* pg = new Kor::Host::PortGroup();
    SetKey(pg->key, p.pg_key[j]);
    auto* ports = pg->GetPort();
    for (int k = 0; k < kPortsPerPortgroup; ++k) {
      auto* port = new Kor::Host::PortGroup::Port();
      port->key = p.port_key[j * kPortsPerPortgroup + k];
      port->GetMac()->Append(p.port_mac[j * kPortsPerPortgroup + k]);
      port->type = k == 3 ? p.port_type_host : p.port_type_vm;
      ports->Append(port);
    }
    Movel::SetOptionalString(pg->vswitch, p.vs_key[j / kPgPerVs]);
    pg->SetComputedPolicy(BuildPolicy(p, j));
    auto* spec = new Kor::Host::PortGroup::Specification();
    spec->name = p.pg_name[j];
    spec->vlanId = 100 + j;
    spec->vswitchName = p.vs_name[j / kPgPerVs];
    spec->SetPolicy(BuildPolicy(p, j));
    pg->SetSpec(spec);
    portgroups->Append(pg);
  }
  static const int kSpeeds[kLinkSpecsPerPnic] = {100, 1000, 10000, 25000};
  auto* pnics = m->GetPnic();
  for (int k = 0; k < kPnics; ++k) {
    auto* n = new Kor::Host::PhysicalNic();
    SetKey(n->key, p.pnic_key[k]);
    n->device = p.pnic_device[k];
    n->pci = p.pnic_pci[k];
    n->driver = p.pnic_driver[k];
    n->mac = p.pnic_mac[k];
    n->wakeOnLanSupported = true;
    auto* links = n->GetValidLinkSpecification();
    for (int s = 0; s < kLinkSpecsPerPnic; ++s) {
      auto* l = new Kor::Host::PhysicalNic::LinkSpeedDuplex();
      l->speedMb = kSpeeds[s];
      l->duplex = true;
      links->Append(l);
    }
    auto* spec = new Kor::Host::PhysicalNic::Specification();
    spec->SetIp(BuildIp(p, p.pnic_ip[k]));
    n->SetSpec(spec);
    pnics->Append(n);
  }
  for (int v = 0; v < kVnics; ++v) m->GetVnic()->Append(BuildVnic(p, v));
  for (int v = 0; v < kConsoleVnics; ++v) m->GetConsoleVnic()->Append(BuildVnic(p, kVnics + v));
  auto* dns = new Kor::Host::DnsConfig();
  dns->dhcp = false;
  dns->hostName = p.dns_host;
  dns->domainName = p.dns_domain;
  for (const std::string& a : p.dns_address) dns->GetAddress()->Append(a);
  for (const std::string& s : p.dns_search) dns->GetSearchDomain()->Append(s);
  m->SetDnsConfig(dns);
  m->ipV6Enabled = true;
  return m;
}

}  // namespace w2shape
