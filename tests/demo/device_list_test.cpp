// Device lists hold many device classes under one base-typed array: copies,
// equality and diffs must follow each element's own class.
#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

#include "demo_view.h"
#include "kortypes/kortypes.h"

namespace {

using Basekit::Ref;
using Device = Kor::Vm::Device::VirtualDevice;
using DeviceList = Movel::DataArray<Device>;

Ref<DeviceList> MixedList() {
  Ref<DeviceList> list(new DeviceList());
  Ref<Kor::Vm::Device::VirtualDisk> disk(new Kor::Vm::Device::VirtualDisk());
  disk->key = 2000;
  disk->capacityInKB = 1 << 20;
  disk->controllerKey = 1000;
  Ref<Kor::Vm::Device::VirtualDisk::FlatVer2BackingInfo> backing(
      new Kor::Vm::Device::VirtualDisk::FlatVer2BackingInfo());
  backing->fileName = "[ds] a.vmdk";
  disk->SetBacking(backing);
  Ref<Kor::Vm::Device::VirtualE1000> nic(new Kor::Vm::Device::VirtualE1000());
  nic->key = 4000;
  Movel::SetOptionalString(nic->macAddress, "00:50:56:00:00:01");
  Ref<Kor::Vm::Device::ParaVirtualSCSIController> scsi(new Kor::Vm::Device::ParaVirtualSCSIController());
  scsi->key = 1000;
  scsi->busNumber = 0;
  scsi->GetDevice()->Append(2000);
  Ref<Kor::Vm::Device::VirtualCdrom> cdrom(new Kor::Vm::Device::VirtualCdrom());
  cdrom->key = 3000;
  list->Append(disk);
  list->Append(nic);
  list->Append(scsi);
  list->Append(cdrom);
  return list;
}

Ref<DeviceList> CloneList(const DeviceList* list) {
  return Ref<DeviceList>(static_cast<DeviceList*>(list->_Clone()));
}

std::vector<std::string> Diff(const DeviceList* a, const DeviceList* b) {
  Movel::PropertyDiffSet set;
  Movel::DiffAnyPropertiesInt(a, b, "devices", 0, set);
  std::vector<std::string> paths;
  for (const Movel::PropertyPath& p : set.GetChanged()) paths.push_back(p.str());
  return paths;
}

TEST(PolymorphicDeviceList, CloneKeepsEachElementsClassAndSharesNothing) {
  Ref<DeviceList> list = MixedList();
  Ref<DeviceList> copy = CloneList(list);
  ASSERT_EQ(copy->GetLength(), list->GetLength());
  for (int i = 0; i < list->GetLength(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_NE(copy->Get(i), list->Get(i));
    const Movel::Any& copied = *copy->Get(i);
    const Movel::Any& original = *list->Get(i);
    EXPECT_EQ(typeid(copied), typeid(original));
    EXPECT_EQ(copy->Get(i)->_GetType(), list->Get(i)->_GetType());
  }
  EXPECT_TRUE(Movel::AreEqualAnysInt(list, copy, 0, false));
  EXPECT_TRUE(Diff(list, copy).empty());
  // The nested backing kept its class too, and changing the copy leaves the
  // source alone.
  auto* disk = static_cast<Kor::Vm::Device::VirtualDisk*>(copy->Get(0));
  EXPECT_NE(dynamic_cast<const Kor::Vm::Device::VirtualDisk::FlatVer2BackingInfo*>(disk->PeekBacking()),
            nullptr);
  disk->capacityInKB = 2 << 20;
  EXPECT_EQ(static_cast<Kor::Vm::Device::VirtualDisk*>(list->Get(0))->capacityInKB, 1 << 20);
}

TEST(PolymorphicDeviceList, EqualityAndDiffCompareBySubclassMembers) {
  Ref<DeviceList> list = MixedList();
  Ref<DeviceList> copy = CloneList(list);
  static_cast<Kor::Vm::Device::VirtualDisk*>(copy->Get(0))->capacityInKB = 3 << 20;
  static_cast<Kor::Vm::Device::VirtualController*>(copy->Get(2))->GetDevice()->Append(2001);
  Movel::SetOptionalString(static_cast<Kor::Vm::Device::VirtualEthernetCard*>(copy->Get(1))->macAddress,
                           "00:50:56:00:00:02");
  copy->Get(3)->unitNumber = 1;
  EXPECT_FALSE(Movel::AreEqualAnysInt(list, copy, 0, false));
  EXPECT_EQ(Diff(list, copy),
            (std::vector<std::string>{"devices[0].capacityInKB", "devices[1].macAddress",
                                      "devices[2].device", "devices[3].unitNumber"}));
}

TEST(PolymorphicDeviceList, AnotherSubclassInTheSameSlotIsAChange) {
  Ref<DeviceList> list = MixedList();
  Ref<DeviceList> copy = CloneList(list);
  // Same key and base members, but an E1000e where the E1000 was.
  Ref<Kor::Vm::Device::VirtualE1000e> other(new Kor::Vm::Device::VirtualE1000e());
  other->key = 4000;
  Movel::SetOptionalString(other->macAddress, "00:50:56:00:00:01");
  copy->Set(1, other);
  EXPECT_FALSE(Movel::AreEqualAnysInt(list, copy, 0, false));
  EXPECT_EQ(Diff(list, copy), std::vector<std::string>{"devices[1]"});
  // The same holds one level down, for a backing of another class.
  Ref<DeviceList> sparse = CloneList(list);
  Ref<Kor::Vm::Device::VirtualDisk::SparseVer2BackingInfo> backing(
      new Kor::Vm::Device::VirtualDisk::SparseVer2BackingInfo());
  backing->fileName = "[ds] a.vmdk";
  sparse->Get(0)->SetBacking(backing);
  EXPECT_EQ(Diff(list, sparse), std::vector<std::string>{"devices[0].backing"});
}

TEST(DeviceDiffByKey, ReportsAddedRemovedReplacedAndChangedDevices) {
  Ref<DeviceList> before = MixedList();
  Ref<DeviceList> after = CloneList(before);
  after->Erase(3);  // the CD-ROM goes
  Ref<Kor::Vm::Device::VirtualE1000e> nic(new Kor::Vm::Device::VirtualE1000e());
  nic->key = 4000;
  after->Set(1, nic);  // same key, other class
  static_cast<Kor::Vm::Device::VirtualDisk*>(after->Get(0))->capacityInKB = 5;
  Ref<Kor::Vm::Device::VirtualDisk> added(new Kor::Vm::Device::VirtualDisk());
  added->key = 2001;
  after->Append(added);

  std::vector<kortypes::demo::DeviceChange> changes = kortypes::demo::DiffDevices(before, after);
  ASSERT_EQ(changes.size(), 4u);
  using Kind = kortypes::demo::DeviceChange::Kind;
  EXPECT_EQ(changes[0].kind, Kind::removed);
  EXPECT_EQ(changes[0].key, 3000);
  EXPECT_EQ(changes[0].type, "kor.vm.device.VirtualCdrom");
  EXPECT_EQ(changes[1].kind, Kind::changed);
  EXPECT_EQ(changes[1].key, 2000);
  EXPECT_EQ(changes[1].paths, std::vector<std::string>{"capacityInKB"});
  EXPECT_EQ(changes[2].kind, Kind::replaced);
  EXPECT_EQ(changes[2].type, "kor.vm.device.VirtualE1000e");
  EXPECT_EQ(changes[3].kind, Kind::added);
  EXPECT_EQ(changes[3].key, 2001);
  // Equal lists, and missing lists, give nothing or everything.
  EXPECT_TRUE(kortypes::demo::DiffDevices(before, CloneList(before)).empty());
  EXPECT_EQ(kortypes::demo::DiffDevices(nullptr, before).size(), 4u);
  EXPECT_EQ(kortypes::demo::DiffDevices(before, nullptr).size(), 4u);
}

}  // namespace
