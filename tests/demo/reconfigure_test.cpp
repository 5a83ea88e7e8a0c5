// Reconfiguring the demo's virtual machine through its stub: device changes
// apply as a whole or not at all, and the outcome is the task's.
#include <functional>
#include <set>

#include "demo_fixture.h"
#include "demo_view.h"

namespace demotest {
namespace {

using Op = Kor::Vm::Device::VirtualDeviceSpec::Operation;
using Devices = Movel::DataArray<Kor::Vm::Device::VirtualDevice>;

class Reconfigure : public DemoTest {
 protected:
  Ref<Devices> CurrentDevices() {
    Ref<Kor::Vm::ConfigInfo> config;
    vm->GetConfig(config);
    return Ref<Devices>(config->PeekHardware()->GetDevice());
  }
  static void Change(Kor::Vm::ConfigSpec* spec, Op op, Kor::Vm::Device::VirtualDevice* device) {
    Ref<Kor::Vm::Device::VirtualDeviceSpec> change(new Kor::Vm::Device::VirtualDeviceSpec());
    change->operation = op;
    change->SetDevice(device);
    spec->GetDeviceChange()->Append(change);
  }
  static Ref<Kor::Vm::Device::VirtualDisk> Disk(int key, int controller, int unit) {
    Ref<Kor::Vm::Device::VirtualDisk> disk(new Kor::Vm::Device::VirtualDisk());
    disk->key = key;
    disk->controllerKey = controller;
    disk->unitNumber = unit;
    disk->capacityInKB = 1 << 20;
    return disk;
  }
  Ref<Kor::TaskInfo> Run(Kor::Vm::ConfigSpec* spec) {
    Ref<Movel::MoRef> task;
    vm->Reconfigure(spec, task);
    return TaskOf(task);
  }
  const Kor::Vm::Device::VirtualDevice* ByKey(const Devices* devices, int key) {
    for (const Kor::Vm::Device::VirtualDevice* d : *devices) {
      if (d->key == key) return d;
    }
    return nullptr;
  }
};

TEST_F(Reconfigure, AddsDevicesWithNewKeysAndAttachesThem) {
  Ref<Devices> before = CurrentDevices();
  Ref<Kor::Vm::ConfigSpec> spec(new Kor::Vm::ConfigSpec());
  Change(spec, Op::add, Disk(-1, 1000, 1));
  Ref<Kor::Vm::Device::VirtualE1000e> nic(new Kor::Vm::Device::VirtualE1000e());
  nic->key = -2;
  Change(spec, Op::add, nic);
  // A controller added in the same change takes a disk by its temporary key.
  Ref<Kor::Vm::Device::VirtualLsiLogicController> scsi(new Kor::Vm::Device::VirtualLsiLogicController());
  scsi->key = -3;
  scsi->busNumber = 1;
  Change(spec, Op::add, scsi);
  Change(spec, Op::add, Disk(-4, -3, 0));
  Ref<Kor::TaskInfo> info = Run(spec);
  ASSERT_EQ(info->state, Kor::TaskInfo::State::success);
  EXPECT_EQ(info->descriptionId, "VirtualMachine.reconfigure");

  Ref<Devices> after = CurrentDevices();
  std::vector<kortypes::demo::DeviceChange> changes = kortypes::demo::DiffDevices(before, after);
  ASSERT_EQ(changes.size(), 5u);
  // The existing controller changed: it lists its new disk.
  EXPECT_EQ(changes[0].kind, kortypes::demo::DeviceChange::Kind::changed);
  EXPECT_EQ(changes[0].key, 1000);
  EXPECT_EQ(changes[0].paths, std::vector<std::string>{"device"});
  std::set<int> keys;
  for (std::size_t i = 1; i < changes.size(); ++i) {
    EXPECT_EQ(changes[i].kind, kortypes::demo::DeviceChange::Kind::added);
    EXPECT_GT(changes[i].key, 0);
    keys.insert(changes[i].key);
  }
  EXPECT_EQ(keys.size(), 4u);
  EXPECT_EQ(changes[1].type, "kor.vm.device.VirtualDisk");
  EXPECT_EQ(changes[2].type, "kor.vm.device.VirtualE1000e");
  const auto* newDisk = ByKey(after, changes[4].key);
  ASSERT_NE(newDisk, nullptr);
  EXPECT_EQ(newDisk->controllerKey.GetValue(), changes[3].key);  // the temporary key resolved
  const auto* controller =
      dynamic_cast<const Kor::Vm::Device::VirtualController*>(ByKey(after, 1000));
  ASSERT_NE(controller, nullptr);
  EXPECT_EQ(controller->PeekDevice()->GetValues().back(), changes[1].key);
}

TEST_F(Reconfigure, ABadChangeFailsTheTaskAndChangesNothing) {
  Ref<Devices> before = CurrentDevices();
  std::size_t logged = server.GetEventCount();
  struct Case {
    const char* what;
    std::function<void(Kor::Vm::ConfigSpec*)> fill;
    const char* fault;
  };
  const std::vector<Case> cases = {
      {"unit taken", [](Kor::Vm::ConfigSpec* s) { Change(s, Op::add, Disk(-1, 1000, 0)); },
       "kor.fault.InvalidDeviceSpec"},
      {"no such controller", [](Kor::Vm::ConfigSpec* s) { Change(s, Op::add, Disk(-1, 1234, 0)); },
       "kor.fault.InvalidDeviceSpec"},
      {"key taken", [](Kor::Vm::ConfigSpec* s) { Change(s, Op::add, Disk(2000, 1000, 5)); },
       "kor.fault.InvalidDeviceSpec"},
      {"remove missing", [](Kor::Vm::ConfigSpec* s) { Change(s, Op::remove, Disk(2999, 1000, 0)); },
       "kor.fault.DeviceNotFound"},
      {"controller in use", [](Kor::Vm::ConfigSpec* s) {
         Ref<Kor::Vm::Device::ParaVirtualSCSIController> c(new Kor::Vm::Device::ParaVirtualSCSIController());
         c->key = 1000;
         Change(s, Op::remove, c);
       }, "kor.fault.InvalidDeviceSpec"},
      {"edit to another class", [](Kor::Vm::ConfigSpec* s) {
         Ref<Kor::Vm::Device::VirtualE1000e> nic(new Kor::Vm::Device::VirtualE1000e());
         nic->key = 4000;
         Change(s, Op::edit, nic);
       }, "kor.fault.InvalidDeviceSpec"},
      {"good then bad", [](Kor::Vm::ConfigSpec* s) {
         Change(s, Op::add, Disk(-1, 1000, 3));
         Change(s, Op::remove, Disk(2999, 1000, 0));
       }, "kor.fault.DeviceNotFound"},
      {"no CPUs", [](Kor::Vm::ConfigSpec* s) { s->numCPUs = 0; }, "kor.fault.InvalidVmConfig"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Ref<Kor::Vm::ConfigSpec> spec(new Kor::Vm::ConfigSpec());
    c.fill(spec);
    Ref<Kor::TaskInfo> info = Run(spec);
    EXPECT_EQ(info->state, Kor::TaskInfo::State::error);
    ASSERT_NE(info->PeekError(), nullptr);
    EXPECT_EQ(info->PeekError()->_GetType()->GetName(), c.fault);
    ASSERT_NE(info->PeekError()->GetFaultMessage(), nullptr);  // says why
    EXPECT_TRUE(Movel::AreEqualAnysInt(CurrentDevices(), before, 0, false));
  }
  // Only the failed tasks were logged, no reconfiguration.
  Ref<Kor::Event::EventFilterSpec> filter(new Kor::Event::EventFilterSpec());
  filter->GetType()->Append(Movel::TypeName("kor.event.VmReconfiguredEvent"));
  EXPECT_EQ(Query(filter)->GetLength(), 0);
  EXPECT_EQ(server.GetEventCount(), logged + cases.size());
  // A missing spec is refused before any task exists.
  Ref<Movel::MoRef> task;
  EXPECT_THROW(vm->Reconfigure(nullptr, task), Movel::Fault::InvalidArgument::Exception);
  EXPECT_EQ(task.Get(), nullptr);
}

TEST_F(Reconfigure, RemoveAndEditApply) {
  Ref<Kor::Vm::ConfigSpec> spec(new Kor::Vm::ConfigSpec());
  Ref<Kor::Vm::Device::VirtualDisk> disk = Disk(2000, 1000, 0);
  disk->capacityInKB = 32 << 20;
  Change(spec, Op::edit, disk);
  Ref<Kor::Vm::Device::VirtualE1000> nic(new Kor::Vm::Device::VirtualE1000());
  nic->key = 4000;
  Change(spec, Op::remove, nic);
  spec->memoryMB = 8192;
  ASSERT_EQ(Run(spec)->state, Kor::TaskInfo::State::success);
  Ref<Kor::Vm::ConfigInfo> config;
  vm->GetConfig(config);
  EXPECT_EQ(config->PeekHardware()->memoryMB, 8192);
  const Devices* devices = config->PeekHardware()->PeekDevice();
  EXPECT_EQ(ByKey(devices, 4000), nullptr);
  const auto* edited = dynamic_cast<const Kor::Vm::Device::VirtualDisk*>(ByKey(devices, 2000));
  ASSERT_NE(edited, nullptr);
  EXPECT_EQ(edited->capacityInKB, 32LL << 20);
  EXPECT_EQ(config->changeVersion, "2");
}

}  // namespace
}  // namespace demotest
