// The runtime's link resolver on host state trees: keys held by link
// properties resolve to the linkable objects of the same tree, by the
// descriptors alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "factory_checks.h"
#include "kortypes/kortypes.h"
#include "movel/link.h"

namespace {

using Basekit::Ref;
using namespace Kor::Host;
using factory_checks::WireName;

// Records what it is told and lets the work go on.
class RecordingHandler : public Movel::LinkErrorHandler {
 public:
  struct Mismatch {
    std::string key;
    int index;
    std::string expected, actual;
  };
  void OnTypeMismatch(const std::string& key, int index, const Movel::Type* expected,
                      const Movel::Any* actual) override {
    mismatches.push_back({key, index, expected->GetName(), WireName(actual)});
  }
  void OnDuplicateKey(const std::string& key, const Movel::Any*, const Movel::Any*) override {
    duplicates.push_back(key);
  }
  std::vector<Mismatch> mismatches;
  std::vector<std::string> duplicates;
};

// A network state of two switches, three port groups with two ports each and
// one virtual NIC on a port.
struct Network {
  Ref<NetworkInfo> info{new NetworkInfo()};
  std::vector<Ref<PortGroup>> groups;
  std::vector<Ref<VirtualSwitch>> switches;
  Ref<VirtualNic> vnic{new VirtualNic()};

  Network() {
    for (int g = 0; g < 3; ++g) {
      Ref<PortGroup> group(new PortGroup());
      Movel::SetOptionalString(group->key, "pg-" + std::to_string(g));
      for (int p = 0; p < 2; ++p) {
        Ref<PortGroup::Port> port(new PortGroup::Port());
        port->key = "port-" + std::to_string(g) + "-" + std::to_string(p);
        group->GetPort()->Append(port.Get());
      }
      Movel::SetOptionalString(group->vswitch, g < 2 ? "vs-0" : "vs-1");
      info->GetPortgroup()->Append(group.Get());
      groups.push_back(group);
    }
    for (int s = 0; s < 2; ++s) {
      Ref<VirtualSwitch> vswitch(new VirtualSwitch());
      vswitch->key = "vs-" + std::to_string(s);
      info->GetVswitch()->Append(vswitch.Get());
      switches.push_back(vswitch);
    }
    switches[0]->GetPortgroup()->Append("pg-1");
    switches[0]->GetPortgroup()->Append("pg-0");
    switches[1]->GetPortgroup()->Append("pg-2");
    vnic->device = "vnic0";
    Movel::SetOptionalString(vnic->port, "port-2-1");
    info->GetVnic()->Append(vnic.Get());
  }
};

TEST(LinkResolver, IndexesEveryLinkableObjectOfTheTree) {
  Network n;
  Movel::PanicLinkErrorHandler handler;
  Ref<Movel::LinkResolver> resolver;
  Movel::CreateLinkResolver(n.info, handler, resolver);
  ASSERT_NE(resolver.Get(), nullptr);
  // 3 port groups, 6 ports nested in them, 2 switches; virtual NICs are not linkable here.
  EXPECT_EQ(resolver->GetLinkableCount(), 11u);
  EXPECT_EQ(resolver->Resolve("pg-2"), n.groups[2].Get());
  EXPECT_EQ(resolver->Resolve("vs-1"), n.switches[1].Get());
  EXPECT_EQ(WireName(resolver->Resolve("port-1-0")), "kor.host.PortGroup.Port");
  EXPECT_EQ(resolver->Resolve("vnic0"), nullptr);
  EXPECT_EQ(resolver->Resolve(""), nullptr);
}

TEST(LinkResolver, KeyListsResolveInOrderWithNullForUnknownKeys) {
  Network n;
  Movel::PanicLinkErrorHandler handler;
  Ref<Movel::LinkResolver> resolver;
  Movel::CreateLinkResolver(n.info, handler, resolver);
  Movel::Array<std::string> keys{"pg-2", "nothing", "pg-0", "vs-0"};
  std::vector<Movel::Any*> found{nullptr, nullptr};  // replaced, not appended to
  resolver->Resolve(keys, found);
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0], n.groups[2].Get());
  EXPECT_EQ(found[1], nullptr);
  EXPECT_EQ(found[2], n.groups[0].Get());
  EXPECT_EQ(found[3], n.switches[0].Get()) << "plain resolution does not check types";
}

TEST(LinkResolver, LinkPropertiesResolveToTheirDeclaredType) {
  Network n;
  Movel::PanicLinkErrorHandler handler;
  Ref<Movel::LinkResolver> resolver;
  Movel::CreateLinkResolver(n.info, handler, resolver);
  std::vector<Movel::Any*> found;
  resolver->ResolveLink(n.switches[0], "portgroup", found);
  EXPECT_EQ(found, (std::vector<Movel::Any*>{n.groups[1].Get(), n.groups[0].Get()}));
  resolver->ResolveLink(n.vnic, "port", found);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(static_cast<PortGroup::Port*>(found[0])->key, "port-2-1");
  resolver->ResolveLink(n.groups[2], "vswitch", found);
  EXPECT_EQ(found, (std::vector<Movel::Any*>{n.switches[1].Get()}));

  Movel::UnsetOptionalString(n.vnic->port);
  resolver->ResolveLink(n.vnic, "port", found);
  EXPECT_EQ(found, (std::vector<Movel::Any*>{nullptr})) << "an unset link";
  EXPECT_THROW(resolver->ResolveLink(n.vnic, "device", found), Basekit::Exception);
  EXPECT_THROW(resolver->ResolveLink(n.vnic, "noSuchProperty", found), Basekit::Exception);
}

TEST(LinkResolverErrors, WrongTypeBehindAKeyIsReported) {
  Network n;
  n.switches[1]->GetPortgroup()->Append("port-0-0");  // a port where a port group belongs
  RecordingHandler recorder;
  Ref<Movel::LinkResolver> resolver;
  Movel::CreateLinkResolver(n.info, recorder, resolver);
  std::vector<Movel::Any*> found;
  resolver->ResolveLink(n.switches[1], "portgroup", found);
  EXPECT_EQ(found, (std::vector<Movel::Any*>{n.groups[2].Get(), nullptr}));
  ASSERT_EQ(recorder.mismatches.size(), 1u);
  EXPECT_EQ(recorder.mismatches[0].key, "port-0-0");
  EXPECT_EQ(recorder.mismatches[0].index, 1);
  EXPECT_EQ(recorder.mismatches[0].expected, "kor.host.PortGroup");
  EXPECT_EQ(recorder.mismatches[0].actual, "kor.host.PortGroup.Port");

  Movel::PanicLinkErrorHandler panic;
  Movel::CreateLinkResolver(n.info, panic, resolver);
  try {
    resolver->ResolveLink(n.switches[1], "portgroup", found);
    FAIL() << "the panic handler lets a wrong link pass";
  } catch (const Movel::LinkError& e) {
    EXPECT_EQ(e.GetKey(), "port-0-0");
    EXPECT_EQ(e.GetExpectedType(), "kor.host.PortGroup");
    EXPECT_EQ(e.GetActualType(), "kor.host.PortGroup.Port");
  }
}

TEST(LinkResolverErrors, DuplicateKeysAreReportedOnce) {
  Network n;
  Ref<PortGroup> twin(new PortGroup());
  Movel::SetOptionalString(twin->key, "pg-1");
  n.info->GetPortgroup()->Append(twin.Get());
  n.info->GetPortgroup()->Append(n.groups[0].Get());  // the same object twice is no conflict
  RecordingHandler recorder;
  Ref<Movel::LinkResolver> resolver;
  Movel::CreateLinkResolver(n.info, recorder, resolver);
  EXPECT_EQ(recorder.duplicates, std::vector<std::string>{"pg-1"});
  EXPECT_EQ(resolver->Resolve("pg-1"), n.groups[1].Get()) << "the first one keeps the key";

  Movel::PanicLinkErrorHandler panic;
  Ref<Movel::LinkResolver> none;
  EXPECT_THROW(Movel::CreateLinkResolver(n.info, panic, none), Movel::LinkError);
  EXPECT_EQ(none.Get(), nullptr);
}

TEST(LinkResolver, StorageTreesResolveAcrossTopologies) {
  // Adapters and LUNs are listed once; the multipath paths name them by key,
  // and a Fibre Channel adapter is a host bus adapter.
  Ref<StorageDeviceInfo> info(new StorageDeviceInfo());
  Ref<FibreChannelHba> hba(new FibreChannelHba());
  Movel::SetOptionalString(hba->key, "hba-0");
  info->GetHostBusAdapter()->Append(hba.Get());
  Ref<ScsiDisk> disk(new ScsiDisk());
  Movel::SetOptionalString(disk->key, "lun-0");
  info->GetScsiLun()->Append(disk.Get());
  Ref<MultipathInfo> multipath(new MultipathInfo());
  Ref<MultipathInfo::LogicalUnit> unit(new MultipathInfo::LogicalUnit());
  unit->key = "unit-0";
  unit->lun = "lun-0";
  Ref<MultipathInfo::Path> path(new MultipathInfo::Path());
  path->key = "path-0";
  path->adapter = "hba-0";
  path->lun = "unit-0";
  unit->GetPath()->Append(path.Get());
  multipath->GetLun()->Append(unit.Get());
  info->SetMultipathInfo(multipath);

  Movel::PanicLinkErrorHandler handler;
  Ref<Movel::LinkResolver> resolver;
  Movel::CreateLinkResolver(info, handler, resolver);
  std::vector<Movel::Any*> found;
  resolver->ResolveLink(path, "adapter", found);
  EXPECT_EQ(found, (std::vector<Movel::Any*>{hba.Get()}));
  resolver->ResolveLink(path, "lun", found);
  EXPECT_EQ(found, (std::vector<Movel::Any*>{unit.Get()}));
  resolver->ResolveLink(unit, "lun", found);
  EXPECT_EQ(found, (std::vector<Movel::Any*>{disk.Get()}));

  path->adapter = "lun-0";  // a LUN where an adapter belongs
  EXPECT_THROW(resolver->ResolveLink(path, "adapter", found), Movel::LinkError);
}

TEST(LinkResolver, NoTreeKnowsNoKey) {
  Movel::PanicLinkErrorHandler handler;
  Ref<Movel::LinkResolver> resolver;
  Movel::CreateLinkResolver(nullptr, handler, resolver);
  ASSERT_NE(resolver.Get(), nullptr);
  EXPECT_EQ(resolver->GetLinkableCount(), 0u);
  EXPECT_EQ(resolver->Resolve("anything"), nullptr);
}

}  // namespace
