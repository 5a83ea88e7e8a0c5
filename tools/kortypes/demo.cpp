// `kortypes demo`: an in-process server holding a service instance and a
// small inventory, and a client that talks to it through stubs only; with
// --connect URL the same client talks to a server of another process over
// HTTP (`kortypes serve`).
#include <iomanip>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "demo_network.h"
#include "kortypes/kortypes.h"
#include "kortypes/stub_factory.h"
#include "demo_server.h"
#include "demo_view.h"
#include "movel/http.h"
#include "movel/inprocess.h"

namespace kortypes {
namespace {

using Basekit::Ref;

Ref<Movel::MoRef> RefOf(Movel::ManagedObjectType* type, const std::string& id) {
  Ref<Movel::MoRef> ref = Movel::MakeMoRef(type, id);
  return ref;
}

// --- Client side -----------------------------------------------------------------

std::string StateName(Movel::EnumType* type, int value) { return type->ToName(value); }

class Printer {
 public:
  explicit Printer(std::ostream& out) : out_(out) {}
  void Step(const std::string& title) { out_ << "\n" << ++step_ << ". " << title << "\n"; }
  void Line(const std::string& label, const std::string& value) {
    out_ << "   " << std::left << std::setw(30) << label << value << "\n";
  }
  void Text(const std::string& text) { out_ << "   " << text << "\n"; }

 private:
  std::ostream& out_;
  int step_ = 0;
};

// Every event the demo shows goes through here.
void PrintEvents(Printer& p, const std::string& title,
                 const Movel::DataArray<Kor::Event::Event>* events) {
  p.Text(title + " (" + std::to_string(events ? events->GetLength() : 0) + ")");
  if (!events) return;
  for (const Kor::Event::Event* event : *events) p.Text("  " + demo::EventLine(event));
}

// Waits for a task through its stub and returns its final info.
Ref<Kor::TaskInfo> TaskOutcome(Movel::MoRef* taskRef, Movel::StubAdapter* adapter) {
  Ref<Kor::TaskStub> task(new Kor::TaskStub(taskRef, adapter, nullptr));
  Ref<Kor::TaskInfo> info;
  task->GetInfo(info);
  return info;
}

std::string FaultText(const Movel::MethodFault* fault) {
  if (!fault) return "-";
  std::string text = fault->_GetType()->GetName();
  if (const auto* messages = fault->GetFaultMessage()) {
    for (const Movel::LocalizableMessage* m : *messages) {
      if (m && m->GetMessage()) text += ": " + *m->GetMessage();
    }
  }
  return text;
}

// The demo's client: everything it shows comes through stubs on adapter.
int RunClient(const Invocation& inv, Printer& p, Movel::StubAdapter* adapter) {
  Kor::MoStubFactoryImpl* factory = Kor::GetMoStubFactory();
  p.Step("Service content, through the service-instance stub");
  Ref<Kor::ServiceInstance> si = factory->CreateServiceInstance(adapter);
  Ref<Kor::ServiceInstanceContent> content;
  si->RetrieveContent(content);
  const Kor::AboutInfo* about = content->PeekAbout();
  p.Line("product", about->fullName);
  p.Line("vendor", about->vendor);
  p.Line("api", about->apiType + " " + about->apiVersion + " (build " + about->build + ")");
  p.Line("instance", about->instanceUuid ? *about->instanceUuid : "-");
  p.Line("server clock", si->CurrentTime().ToString());
  p.Line("root folder", content->PeekRootFolder()->ToString());

  p.Step("Inventory, read property by property through stubs");
  Ref<Movel::Stub> rootStub = factory->Dereference(const_cast<Movel::MoRef*>(content->PeekRootFolder()), adapter);
  auto* root = dynamic_cast<Kor::Folder*>(rootStub.Get());
  Ref<Movel::DataArray<Movel::MoRef>> children;
  root->GetChildEntity(children);
  Movel::EnumType* statusType = Movel::GetEnumType<Kor::ManagedEntity::Status>();
  p.Line("folder", root->GetName() + " [" +
                       StateName(statusType, static_cast<int>(root->GetOverallStatus())) + "]");
  Ref<Kor::Datacenter> datacenter(
      dynamic_cast<Kor::Datacenter*>(factory->Dereference(children->Get(0), adapter).Get()));
  p.Line("  datacenter", datacenter->GetName() + " (" + children->Get(0)->ToString() + ")");
  Ref<Movel::MoRef> hostFolderRef;
  datacenter->GetHostFolder(hostFolderRef);
  Ref<Kor::Folder> hostFolder = factory->CreateFolder(hostFolderRef->GetId(), adapter);
  hostFolder->GetChildEntity(children);
  p.Line("    host folder", hostFolder->GetName());
  Ref<Kor::HostSystem> host = factory->CreateHostSystem(children->Get(0)->GetId(), adapter);
  p.Line("      host", host->GetName() + " (" + host->_GetRef()->ToString() + ")");
  long long overhead = host->QueryOverhead(4LL << 30, Basekit::Optional<int>(), 2);
  p.Line("      overhead, 4 GiB 2 vCPUs", std::to_string(overhead / 1024) + " KiB");
  Ref<Movel::DataArray<Movel::MoRef>> vms;
  host->GetVm(vms);
  Ref<Kor::VirtualMachine> vm = factory->CreateVirtualMachine(vms->Get(0)->GetId(), adapter);
  Ref<Kor::Vm::RuntimeInfo> runtime;
  vm->GetRuntime(runtime);
  Movel::EnumType* powerType = Movel::GetEnumType<Kor::VirtualMachine::PowerState>();
  p.Line("        virtual machine",
         vm->GetName() + " [" + StateName(powerType, static_cast<int>(runtime->powerState)) + "]");

  p.Step("An alarm on the virtual machine's power state, made through the alarm manager stub");
  Ref<Kor::Alarm::AlarmManager> alarms(new Kor::Alarm::AlarmManagerStub(
      const_cast<Movel::MoRef*>(content->PeekAlarmManager()), adapter, nullptr));
  Ref<Kor::Alarm::StateAlarmExpression> expression(new Kor::Alarm::StateAlarmExpression());
  expression->operator_ = Kor::Alarm::StateAlarmExpression::StateOperator::isEqual;
  expression->type = Movel::TypeName("kor.VirtualMachine");
  expression->statePath = Movel::PropertyPath("runtime.powerState");
  Movel::SetOptionalString(expression->red, "poweredOn");
  Ref<Kor::Alarm::AlarmSpec> alarmSpec(new Kor::Alarm::AlarmSpec());
  alarmSpec->name = "Machine running";
  alarmSpec->description = "Red while a virtual machine of the datacenter is powered on";
  alarmSpec->enabled = true;
  alarmSpec->SetExpression(expression);
  Ref<Movel::MoRef> alarm;
  alarms->Create(datacenter->_GetRef(), alarmSpec, alarm);
  p.Line("created", alarm->ToString() + " on " + datacenter->GetName() +
                        " (red when runtime.powerState is poweredOn)");
  Ref<Movel::DataArray<Kor::Alarm::AlarmState>> alarmStates;
  alarms->GetAlarmState(vm->_GetRef(), alarmStates);
  for (const Kor::Alarm::AlarmState* state : *alarmStates) {
    p.Line("state on " + vm->GetName(), StateName(statusType, static_cast<int>(state->overallStatus)));
  }

  p.Step("A task method, and its task read asynchronously");
  Ref<Movel::MoRef> taskRef;
  vm->PowerOn(nullptr, taskRef);
  p.Line("PowerOn answered", taskRef->ToString());
  Ref<Kor::TaskStub> task(new Kor::TaskStub(taskRef, adapter, nullptr));
  Ref<Kor::TaskInfo> info;
  Ref<Basekit::System::ScheduledItem> item;
  std::string asyncError;
  task->GetInfo(
      [&](Basekit::System::ScheduledItem*, Basekit::Exception* e, Movel::Any* result) {
        if (e) asyncError = e->what();
        info = dynamic_cast<Kor::TaskInfo*>(result);
      },
      item);
  item->Wait();
  if (!info) {
    inv.err << "demo: the task info did not arrive: " << asyncError << "\n";
    return 1;
  }
  p.Line("task state", StateName(Movel::GetEnumType<Kor::TaskInfo::State>(),
                                 static_cast<int>(info->state)) +
                           ", progress " + std::to_string(info->progress.GetValue()) + "%");
  p.Line("on entity", *info->entityName + " (" + info->PeekEntity()->ToString() + ")");
  vm->GetRuntime(runtime);
  p.Line("virtual machine now", StateName(powerType, static_cast<int>(runtime->powerState)));

  p.Step("An API fault, caught as an exception");
  try {
    vm->PowerOn(nullptr, taskRef);
    p.Text("unexpected: the second power-on succeeded");
  } catch (const Kor::Fault::InvalidState::Exception& e) {
    auto* fault = dynamic_cast<Kor::Fault::InvalidPowerState*>(e.GetFault());
    p.Line("caught", e.GetFault()->_GetType()->GetName() + " (as kor.fault.InvalidState)");
    if (fault) p.Line("existing state", StateName(powerType, static_cast<int>(fault->existingState)));
  }
  try {
    Ref<Movel::DataArray<Movel::MoRef>> tags;
    host->GetDatastore(tags);
  } catch (const Movel::MethodFault::Exception& e) {
    p.Line("not served", e.GetFault()->_GetType()->GetName());
  }

  p.Step("The power-on set off the alarm: read its state and acknowledge it");
  alarms->GetAlarmState(vm->_GetRef(), alarmStates);
  for (const Kor::Alarm::AlarmState* state : *alarmStates) {
    p.Line("state on " + vm->GetName(), StateName(statusType, static_cast<int>(state->overallStatus)) +
                                            " since " + state->time.ToString());
  }
  alarms->AcknowledgeAlarm(alarm, vm->_GetRef());
  alarms->GetAlarmState(vm->_GetRef(), alarmStates);
  for (const Kor::Alarm::AlarmState* state : *alarmStates) {
    p.Line("acknowledged",
           std::string(state->acknowledged.IsSet() && state->acknowledged.GetValue() ? "yes" : "no") +
               (state->acknowledgedByUser ? ", by " + *state->acknowledgedByUser : std::string()));
  }
  p.Line("last trigger", std::to_string(alarms->GetLastTriggerId()));

  p.Step("Reconfiguration: a disk and a network card added, as a task");
  Ref<Kor::Vm::ConfigInfo> config;
  vm->GetConfig(config);
  Ref<Movel::DataArray<Kor::Vm::Device::VirtualDevice>> devicesBefore(
      config->PeekHardware()->GetDevice());
  p.Line("devices before", std::to_string(devicesBefore->GetLength()));
  Ref<Kor::Vm::ConfigSpec> configSpec(new Kor::Vm::ConfigSpec());
  {
    Ref<Kor::Vm::Device::VirtualDisk> disk(new Kor::Vm::Device::VirtualDisk());
    disk->key = -1;
    disk->controllerKey = 1000;
    disk->unitNumber = 1;
    disk->capacityInKB = 8LL << 20;
    Ref<Kor::Vm::Device::VirtualDisk::FlatVer2BackingInfo> backing(
        new Kor::Vm::Device::VirtualDisk::FlatVer2BackingInfo());
    backing->fileName = "[datastore1] web-frontend/web-frontend_1.vmdk";
    backing->diskMode = Kor::Vm::Device::VirtualDiskOption::DiskMode::persistent;
    backing->thinProvisioned = true;
    disk->SetBacking(backing);
    Ref<Kor::Vm::Device::VirtualE1000e> nic(new Kor::Vm::Device::VirtualE1000e());
    nic->key = -2;
    Ref<Kor::Vm::Device::VirtualEthernetCard::NetworkBackingInfo> network(
        new Kor::Vm::Device::VirtualEthernetCard::NetworkBackingInfo());
    network->deviceName = "VM Network";
    nic->SetBacking(network);
    Kor::Vm::Device::VirtualDevice* added[] = {disk.Get(), nic.Get()};
    for (Kor::Vm::Device::VirtualDevice* device : added) {
      Ref<Kor::Vm::Device::VirtualDeviceSpec> change(new Kor::Vm::Device::VirtualDeviceSpec());
      change->operation = Kor::Vm::Device::VirtualDeviceSpec::Operation::add;
      change->SetDevice(device);
      configSpec->GetDeviceChange()->Append(change);
    }
    configSpec->numCPUs = 4;
  }
  vm->Reconfigure(configSpec, taskRef);
  Ref<Kor::TaskInfo> reconfigured = TaskOutcome(taskRef, adapter);
  p.Line("Reconfigure answered", taskRef->ToString() + ", " +
                                     StateName(Movel::GetEnumType<Kor::TaskInfo::State>(),
                                               static_cast<int>(reconfigured->state)));
  if (reconfigured->state != Kor::TaskInfo::State::success) {
    inv.err << "demo: the reconfiguration failed: " << FaultText(reconfigured->PeekError()) << "\n";
    return 1;
  }
  vm->GetConfig(config);
  p.Line("devices after", std::to_string(config->PeekHardware()->PeekDevice()->GetLength()) +
                              ", " + std::to_string(config->PeekHardware()->numCPU) + " vCPUs");
  for (const demo::DeviceChange& change :
       demo::DiffDevices(devicesBefore, config->PeekHardware()->PeekDevice())) {
    std::string text = std::string(demo::KindName(change.kind)) + " " + change.type;
    for (std::size_t i = 0; i < change.paths.size(); ++i) {
      text += (i ? ", " : " (") + change.paths[i] + (i + 1 == change.paths.size() ? ")" : "");
    }
    p.Line("device " + std::to_string(change.key), text);
  }
  // A second change that cannot apply leaves the machine as it was.
  Ref<Kor::Vm::ConfigSpec> badSpec(new Kor::Vm::ConfigSpec());
  {
    Ref<Kor::Vm::Device::VirtualDeviceSpec> change(new Kor::Vm::Device::VirtualDeviceSpec());
    change->operation = Kor::Vm::Device::VirtualDeviceSpec::Operation::remove;
    Ref<Kor::Vm::Device::VirtualDisk> missing(new Kor::Vm::Device::VirtualDisk());
    missing->key = 2999;
    change->SetDevice(missing);
    badSpec->GetDeviceChange()->Append(change);
  }
  vm->Reconfigure(badSpec, taskRef);
  p.Line("removing key 2999", FaultText(TaskOutcome(taskRef, adapter)->PeekError()));

  p.Step("Event history, read page by page through a collector");
  Ref<Kor::Event::EventManager> events(new Kor::Event::EventManagerStub(
      const_cast<Movel::MoRef*>(content->PeekEventManager()), adapter, nullptr));
  Ref<Kor::Event::EventFilterSpec> filter(new Kor::Event::EventFilterSpec());
  Ref<Kor::Event::EventFilterSpec::ByEntity> byEntity(new Kor::Event::EventFilterSpec::ByEntity());
  byEntity->SetEntity(datacenter->_GetRef());
  byEntity->recursion = Kor::Event::EventFilterSpec::RecursionOption::all;
  filter->SetEntity(byEntity);
  p.Line("filter", "everything under " + datacenter->GetName() + ", " +
                       std::to_string(events->CountEvents(filter)) + " events");
  Ref<Movel::MoRef> collectorRef;
  events->CreateCollectorForEvents(filter, collectorRef);
  Ref<Kor::Event::EventHistoryCollector> collector(
      new Kor::Event::EventHistoryCollectorStub(collectorRef, adapter, nullptr));
  collector->SetCollectorPageSize(4);
  Ref<Movel::DataArray<Kor::Event::Event>> page;
  collector->GetLatestPage(page);
  PrintEvents(p, "latest page, 4 events", page);
  collector->ResetCollector();
  collector->ReadPreviousEvents(3, page);
  PrintEvents(p, "reset, previous 3 (before the latest page)", page);
  collector->RewindCollector();
  collector->ReadNextEvents(3, page);
  PrintEvents(p, "rewound, next 3", page);
  collector->ReadNextEvents(3, page);
  PrintEvents(p, "next 3", page);
  collector->ResetCollector();
  collector->ReadNextEvents(10, page);
  PrintEvents(p, "reset, next 10 (the latest page again)", page);
  collector->DestroyCollector();
  p.Line("collector", "destroyed");

  Ref<Kor::Event::EventFilterSpec> alarmFilter(new Kor::Event::EventFilterSpec());
  alarmFilter->GetType()->Append(Movel::TypeName("kor.event.AlarmEvent"));
  events->CreateCollectorForEvents(alarmFilter, collectorRef);
  collector = new Kor::Event::EventHistoryCollectorStub(collectorRef, adapter, nullptr);
  collector->RewindCollector();
  collector->ReadNextEvents(10, page);
  PrintEvents(p, "alarm events only", page);
  collector->DestroyCollector();

  p.Step("What changed between two versions of the task info");
  Ref<Kor::TaskInfo> before(static_cast<Kor::TaskInfo*>(info->_Clone()));
  info->state = Kor::TaskInfo::State::error;
  info->progress = 60;
  Movel::SetOptionalString(info->entityName, "web-frontend-2");
  info->GetLocked()->Append(RefOf(Movel::GetMoType<Kor::Folder>(), "group-d1"));
  Movel::PropertyDiffSet diff;
  before->_DiffProperties(info, "info", diff);
  for (const Movel::PropertyPath& path : diff.GetChanged()) p.Text("changed: " + path.str());
  Ref<Movel::Any> again(before->_Clone());
  p.Line("a copy equals its source", Movel::AreEqualAnysInt(before, again, 0, false) ? "yes" : "no");
  ShowHostNetwork(inv.out);  // the host network factory: state to configuration
  inv.out << "\ndone.\n";
  return kExitOk;
}

}  // namespace

int RunDemo(const Invocation& inv) {
  Options opt;
  if (int status = ParseOptions(inv, {}, {"--connect", "--wire"}, 0, 0, &opt); status >= 0) {
    return status;
  }
  const std::string* wire = opt.Value("--wire");
  if (wire && *wire != "xml" && *wire != "json") {
    inv.err << "kortypes demo: --wire takes xml or json, not \"" << *wire << "\"\n";
    return kExitUsage;
  }
  Printer p(inv.out);
  const std::string* url = opt.Value("--connect");
  if (!url) {
    if (wire) {
      inv.err << "kortypes demo: --wire applies to --connect only\n";
      return kExitUsage;
    }
    inv.out << "kortypes demo: a client and an in-process server, talking through generated stubs\n";
    demo::DemoServer server;
    p.Step("Server");
    p.Line("objects registered",
           std::to_string(server.GetObjectCount()) +
               " (service instance, event manager, alarm manager, root folder, datacenter,"
               " host and virtual machine folders, host, virtual machine)");
    return RunClient(inv, p, server.GetAdapter());
  }

  // Connected: the same client, its calls carried over HTTP to a server of
  // another process. Nothing here reaches into that server.
  Movel::HttpClientOptions options;
  options.format = wire && *wire == "json" ? Movel::WireFormat::kJson : Movel::WireFormat::kXml;
  Basekit::Ref<Movel::HttpStubAdapter> adapter;
  try {
    adapter = new Movel::HttpStubAdapter(*url, options);
  } catch (const Basekit::Exception& e) {
    inv.err << "kortypes demo: " << e.what() << "\n";
    return kExitUsage;
  }
  inv.out << "kortypes demo: a client and a server of another process, talking through generated "
             "stubs over HTTP\n";
  p.Step("Server");
  p.Line("connected to", *url + (options.format == Movel::WireFormat::kJson ? " (JSON)" : " (XML)"));
  try {
    return RunClient(inv, p, adapter);
  } catch (const Movel::Fault::SystemError::Exception& e) {
    inv.err << "kortypes demo: cannot talk to " << *url << ": " << e.GetFault()->GetReason() << "\n";
  } catch (const Movel::MethodFault::Exception& e) {
    // A server that ran the demo before holds its changes (a powered-on
    // machine, the alarm): its faults say so.
    inv.err << "kortypes demo: the server answered " << FaultText(e.GetFault())
            << " (the demo expects a freshly started server)\n";
  } catch (const Basekit::Exception& e) {
    inv.err << "kortypes demo: " << e.what() << "\n";
  }
  return 1;
}

}  // namespace kortypes
