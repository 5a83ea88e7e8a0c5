// `kortypes demo`: an in-process server holding a service instance and a
// small inventory, and a client that talks to it through stubs only.
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
#include "movel/inprocess.h"

namespace kortypes {
namespace {

using Basekit::Ref;

Ref<Movel::MoRef> RefOf(Movel::ManagedObjectType* type, const std::string& id) {
  Ref<Movel::MoRef> ref = Movel::MakeMoRef(type, id);
  return ref;
}

// --- Server side ---------------------------------------------------------------

// A task the server finished at once; its info is what clients poll.
class DemoTask : public Kor::TaskSkeleton {
 public:
  explicit DemoTask(Kor::TaskInfo* info) : info_(info) {}
  void GetInfo(Ref<Kor::TaskInfo>& result) override {
    std::lock_guard<std::mutex> lock(mutex_);
    result = info_;
  }

 private:
  std::mutex mutex_;
  Ref<Kor::TaskInfo> info_;
};

// What every inventory object of the demo serves: its name and status.
template <class Skeleton>
class DemoEntity : public Skeleton {
 public:
  explicit DemoEntity(std::string name) : name_(std::move(name)) {}
  std::string GetName() override { return name_; }
  Kor::ManagedEntity::Status GetOverallStatus() override { return Kor::ManagedEntity::Status::green; }

 private:
  std::string name_;
};

class DemoServer;

class DemoVirtualMachine : public DemoEntity<Kor::VirtualMachineSkeleton> {
 public:
  DemoVirtualMachine(DemoServer* server, std::string name)
      : DemoEntity(std::move(name)), server_(server) {}
  void GetRuntime(Ref<Kor::Vm::RuntimeInfo>& result) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Ref<Kor::Vm::RuntimeInfo> runtime(new Kor::Vm::RuntimeInfo());
    runtime->powerState = state_;
    runtime->connectionState = Kor::VirtualMachine::ConnectionState::connected;
    runtime->numMksConnections = 0;
    result = runtime;
  }
  void PowerOn(Movel::MoRef* host, Ref<Movel::MoRef>& result) override;

 private:
  DemoServer* server_;
  std::mutex mutex_;
  Kor::VirtualMachine::PowerState state_ = Kor::VirtualMachine::PowerState::poweredOff;
};

class DemoHost : public DemoEntity<Kor::HostSystemSkeleton> {
 public:
  DemoHost(std::string name, Movel::MoRef* vm) : DemoEntity(std::move(name)), vm_(vm) {}
  void GetVm(Ref<Movel::DataArray<Movel::MoRef>>& result) override {
    result = new Movel::DataArray<Movel::MoRef>();
    result->Append(vm_);
  }
  long long QueryOverhead(long long memorySize, const Basekit::Optional<int>& videoRamSize,
                          int numVcpus) override {
    // A simple model: 1% of memory, the video memory, 2 MiB per virtual CPU.
    return memorySize / 100 + (videoRamSize.IsSet() ? videoRamSize.GetValue() : 0) +
           numVcpus * 2048LL * 1024;
  }

 private:
  Ref<Movel::MoRef> vm_;
};

class DemoFolder : public DemoEntity<Kor::FolderSkeleton> {
 public:
  DemoFolder(std::string name, Movel::MoRef* child) : DemoEntity(std::move(name)), child_(child) {}
  void GetChildEntity(Ref<Movel::DataArray<Movel::MoRef>>& result) override {
    result = new Movel::DataArray<Movel::MoRef>();
    result->Append(child_);
  }

 private:
  Ref<Movel::MoRef> child_;
};

class DemoDatacenter : public DemoEntity<Kor::DatacenterSkeleton> {
 public:
  DemoDatacenter(std::string name, Movel::MoRef* hostFolder)
      : DemoEntity(std::move(name)), hostFolder_(hostFolder) {}
  void GetHostFolder(Ref<Movel::MoRef>& result) override { result = hostFolder_; }

 private:
  Ref<Movel::MoRef> hostFolder_;
};

class DemoServiceInstance : public Kor::ServiceInstanceSkeleton {
 public:
  void RetrieveContent(Ref<Kor::ServiceInstanceContent>& result) override {
    Ref<Kor::ServiceInstanceContent> content(new Kor::ServiceInstanceContent());
    Ref<Kor::AboutInfo> about(new Kor::AboutInfo(
        "kor demo server", "kor demo server 6.0.0 build-1207", "kor project", "6.0.0", "1207",
        std::string("INTL"), std::string("000"), "linux-x64", "korsrv", "HostAgent", "6.0",
        std::string("5b8c0d1e-demo"), Basekit::Optional<std::string>(),
        Basekit::Optional<std::string>()));
    content->SetAbout(about);
    content->SetRootFolder(RefOf(Movel::GetMoType<Kor::Folder>(), "group-d1"));
    result = content;
  }
  Basekit::System::DateTime CurrentTime() override { return Basekit::System::DateTime::Now(); }
};

class DemoServer {
 public:
  DemoServer() : server_(new Movel::LocalServer()), adapter_(new Movel::LocalStubAdapter(server_)) {
    Ref<Movel::MoRef> vm = RefOf(Movel::GetMoType<Kor::VirtualMachine>(), "vm-31");
    Ref<Movel::MoRef> host = RefOf(Movel::GetMoType<Kor::HostSystem>(), "host-12");
    Ref<Movel::MoRef> hostFolder = RefOf(Movel::GetMoType<Kor::Folder>(), "group-h4");
    Ref<Movel::MoRef> datacenter = RefOf(Movel::GetMoType<Kor::Datacenter>(), "datacenter-2");
    server_->Register(new DemoServiceInstance(), "ServiceInstance");
    server_->Register(new DemoFolder("Datacenters", datacenter), "group-d1");
    server_->Register(new DemoDatacenter("lab", hostFolder), "datacenter-2");
    server_->Register(new DemoFolder("host", host), "group-h4");
    server_->Register(new DemoHost("hv-01.lab", vm), "host-12");
    server_->Register(new DemoVirtualMachine(this, "web-frontend"), "vm-31");
  }
  ~DemoServer() {
    adapter_->Shutdown();
    server_->UnregisterAll();
  }
  Movel::StubAdapter* GetAdapter() const { return adapter_.Get(); }
  std::size_t GetObjectCount() const { return server_->GetCount(); }

  // Registers a finished task for an operation on entity.
  Ref<Movel::MoRef> FinishTask(const std::string& descriptionId, Movel::MoRef* entity,
                               const std::string& entityName) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string id = "task-" + std::to_string(++tasks_);
    Ref<Kor::TaskInfo> info(new Kor::TaskInfo());
    info->key = id;
    info->descriptionId = descriptionId;
    info->SetEntity(entity);
    Movel::SetOptionalString(info->entityName, entityName);
    info->state = Kor::TaskInfo::State::success;
    info->cancelable = false;
    info->cancelled = false;
    info->progress = 100;
    Ref<Kor::TaskReasonUser> reason(new Kor::TaskReasonUser());
    reason->userName = "demo";
    info->SetReason(reason);
    info->queueTime = Basekit::System::DateTime::Now();
    info->completeTime = info->queueTime;
    Ref<Movel::MoRef> ref = server_->Register(new DemoTask(info), id);
    info->SetTask(ref);
    return ref;
  }

 private:
  Ref<Movel::LocalServer> server_;
  Ref<Movel::LocalStubAdapter> adapter_;
  std::mutex mutex_;
  int tasks_ = 0;
};

void DemoVirtualMachine::PowerOn(Movel::MoRef*, Ref<Movel::MoRef>& result) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == Kor::VirtualMachine::PowerState::poweredOn) {
      Ref<Kor::Fault::InvalidPowerState> fault(new Kor::Fault::InvalidPowerState());
      fault->existingState = state_;
      fault->requestedState = Kor::VirtualMachine::PowerState::poweredOn;
      fault->Throw();
    }
    state_ = Kor::VirtualMachine::PowerState::poweredOn;
  }
  result = server_->FinishTask("VirtualMachine.powerOn", _GetRef(), GetName());
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

}  // namespace

int RunDemo(const Invocation& inv) {
  Options opt;
  if (int status = ParseOptions(inv, {}, {}, 0, 0, &opt); status >= 0) return status;
  Printer p(inv.out);
  inv.out << "kortypes demo: a client and an in-process server, talking through generated stubs\n";

  DemoServer server;
  Movel::StubAdapter* adapter = server.GetAdapter();
  Kor::MoStubFactoryImpl* factory = Kor::GetMoStubFactory();
  p.Step("Server");
  p.Line("objects registered",
         std::to_string(server.GetObjectCount()) +
             " (service instance, root folder, datacenter, host folder, host, virtual machine)");

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

}  // namespace kortypes
