// Stub factories for the well-known managed objects.
#include "kortypes/stub_factory.h"

#include <cctype>

namespace Kor {
namespace {

// A stub for a runtime managed type that has no generated stub class: it
// carries calls through the runtime's invocation path by method object.
class UntypedStub : public Movel::StubImpl {
 public:
  UntypedStub(Movel::ManagedObjectType* type, Movel::MoRef* ref, Movel::StubAdapter* adapter,
              Movel::RequestContext* context)
      : Movel::StubImpl(ref, adapter, context), type_(type) {}
  Movel::ManagedObjectType* _GetType() const override { return type_; }

 private:
  Movel::ManagedObjectType* type_;
};

// A stub of the registered type `type` for the reference (type, id): the
// type's own stub class, or an untyped stub for the runtime's types.
Basekit::Ref<Movel::Stub> MakeStub(Movel::ManagedObjectType* type, const std::string& id,
                                   Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  if (!type) return nullptr;
  Basekit::Ref<Movel::MoRef> ref = Movel::MakeMoRef(type, id);
  if (!type->GetRecord()->createStub) return new UntypedStub(type, ref, adapter, context);
  return type->GetRecord()->createStub(ref, adapter, context);
}

template <class T>
Basekit::Ref<T> MakeTypedStub(const std::string& id, Movel::StubAdapter* adapter,
                              Movel::RequestContext* context) {
  Basekit::Ref<Movel::Stub> stub = MakeStub(Movel::GetMoType<T>(), id, adapter, context);
  return Basekit::Ref<T>(dynamic_cast<T*>(stub.Get()));
}

std::string LowerFirst(std::string s) {
  if (!s.empty()) s[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[0])));
  return s;
}

// The id of a host's own object: "<kind>-<host>", kind from the type's name.
std::string HostObjectId(const Movel::Type* type, const std::string& host) {
  const std::string& wire = type->GetName();
  return LowerFirst(wire.substr(wire.rfind('.') + 1)) + "-" + host;
}

template <class T>
Basekit::Ref<T> MakeHostStub(const std::string& host, Movel::StubAdapter* adapter,
                             Movel::RequestContext* context) {
  return MakeTypedStub<T>(HostObjectId(Movel::GetMoType<T>(), host), adapter, context);
}

// A factory made on first use and never destroyed, so stubs made late in
// shutdown still work.
template <class F>
F* ProcessWide() {
  static F* factory = [] {
    auto* f = new F();
    f->IncRef();
    return f;
  }();
  return factory;
}

struct WellKnown {
  const char* wireType;
  const char* id;
};
const WellKnown kWellKnown[] = {
    {"kor.ServiceInstance", "ServiceInstance"},
    {"kor.SessionManager", "SessionManager"},
    {"kor.PerformanceManager", "PerfMgr"},
    {"kor.AuthorizationManager", "AuthorizationManager"},
    {"kor.Folder", "group-d1"},
    {"tydef.query.PropertyCollector", "propertyCollector"},
    {"kor.UserDirectory", "UserDirectory"},
};

}  // namespace

std::string GetWellKnownId(const std::string& wireType) {
  for (const WellKnown& w : kWellKnown) {
    if (wireType == w.wireType) return w.id;
  }
  return "";
}

MoFactory::~MoFactory() = default;
MultiHostMoFactory::~MultiHostMoFactory() = default;
MoMockupFactory::~MoMockupFactory() = default;
HostMoStubFactoryImpl::~HostMoStubFactoryImpl() = default;
MoStubFactoryImpl::~MoStubFactoryImpl() = default;
HostMoMockupStubFactoryImpl::~HostMoMockupStubFactoryImpl() = default;

Basekit::Ref<Kor::HostSystem> HostMoStubFactoryImpl::CreateHostSystem(
    const std::string& host, Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeTypedStub<Kor::HostSystem>(host, adapter, context);
}

Basekit::Ref<Kor::Folder> HostMoStubFactoryImpl::CreateFolder(const std::string& id,
                                                              Movel::StubAdapter* adapter,
                                                              Movel::RequestContext* context) {
  return MakeTypedStub<Kor::Folder>(id, adapter, context);
}

Basekit::Ref<Kor::VirtualMachine> HostMoStubFactoryImpl::CreateVirtualMachine(
    const std::string& id, Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeTypedStub<Kor::VirtualMachine>(id, adapter, context);
}

Basekit::Ref<Kor::Datastore> HostMoStubFactoryImpl::CreateDatastore(
    const std::string& id, Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeTypedStub<Kor::Datastore>(id, adapter, context);
}

Basekit::Ref<Kor::Host::DatastoreSystem> HostMoStubFactoryImpl::CreateDatastoreSystem(const std::string& host,
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeHostStub<Kor::Host::DatastoreSystem>(host, adapter, context);
}

Basekit::Ref<Kor::EnvironmentBrowser> HostMoStubFactoryImpl::CreateEnvironmentBrowser(const std::string& host,
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeHostStub<Kor::EnvironmentBrowser>(host, adapter, context);
}

Basekit::Ref<Kor::Host::CpuSchedulerSystem> HostMoStubFactoryImpl::CreateCpuSchedulerSystem(const std::string& host,
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeHostStub<Kor::Host::CpuSchedulerSystem>(host, adapter, context);
}

Basekit::Ref<Kor::Host::MemoryManagerSystem> HostMoStubFactoryImpl::CreateMemoryManagerSystem(const std::string& host,
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeHostStub<Kor::Host::MemoryManagerSystem>(host, adapter, context);
}

Basekit::Ref<Kor::Host::FirewallSystem> HostMoStubFactoryImpl::CreateFirewallSystem(const std::string& host,
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeHostStub<Kor::Host::FirewallSystem>(host, adapter, context);
}

Basekit::Ref<Kor::Host::ServiceSystem> HostMoStubFactoryImpl::CreateServiceSystem(const std::string& host,
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeHostStub<Kor::Host::ServiceSystem>(host, adapter, context);
}

Basekit::Ref<Kor::Host::NetworkSystem> HostMoStubFactoryImpl::CreateNetworkSystem(const std::string& host,
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeHostStub<Kor::Host::NetworkSystem>(host, adapter, context);
}

Basekit::Ref<Kor::Host::PciPassthruSystem> HostMoStubFactoryImpl::CreatePciPassthruSystem(const std::string& host,
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeHostStub<Kor::Host::PciPassthruSystem>(host, adapter, context);
}

Basekit::Ref<Kor::Host::StorageSystem> HostMoStubFactoryImpl::CreateStorageSystem(const std::string& host,
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeHostStub<Kor::Host::StorageSystem>(host, adapter, context);
}

Basekit::Ref<Kor::Host::IscsiManager> HostMoStubFactoryImpl::CreateIscsiManager(const std::string& host,
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeHostStub<Kor::Host::IscsiManager>(host, adapter, context);
}

Basekit::Ref<Kor::Host::MessageBusProxy> HostMoStubFactoryImpl::CreateMessageBusProxy(const std::string& host,
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeHostStub<Kor::Host::MessageBusProxy>(host, adapter, context);
}

Basekit::Ref<Kor::Host::DiagnosticSystem> HostMoStubFactoryImpl::CreateDiagnosticSystem(const std::string& host,
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeHostStub<Kor::Host::DiagnosticSystem>(host, adapter, context);
}

Basekit::Ref<Kor::Host::DateTimeSystem> HostMoStubFactoryImpl::CreateDateTimeSystem(const std::string& host,
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeHostStub<Kor::Host::DateTimeSystem>(host, adapter, context);
}

Basekit::Ref<Kor::Host::HealthStatusSystem> HostMoStubFactoryImpl::CreateHealthStatusSystem(const std::string& host,
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeHostStub<Kor::Host::HealthStatusSystem>(host, adapter, context);
}

Basekit::Ref<Kor::Host::CvolSystem> HostMoStubFactoryImpl::CreateCvolSystem(const std::string& host,
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeHostStub<Kor::Host::CvolSystem>(host, adapter, context);
}

Basekit::Ref<Movel::Stub> HostMoStubFactoryImpl::CreateHostObject(const std::string& wireType,
                                                                  const std::string& host,
                                                                  Movel::StubAdapter* adapter,
                                                                  Movel::RequestContext* context) {
  auto* type = dynamic_cast<Movel::ManagedObjectType*>(Movel::FindType(wireType));
  if (!type) return nullptr;
  return MakeStub(type, HostObjectId(type, host), adapter, context);
}

Basekit::Ref<Kor::ServiceInstance> MoStubFactoryImpl::CreateServiceInstance(
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeTypedStub<Kor::ServiceInstance>("ServiceInstance", adapter, context);
}

Basekit::Ref<Kor::SessionManager> MoStubFactoryImpl::CreateSessionManager(
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeTypedStub<Kor::SessionManager>("SessionManager", adapter, context);
}

Basekit::Ref<Kor::PerformanceManager> MoStubFactoryImpl::CreatePerformanceManager(
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeTypedStub<Kor::PerformanceManager>("PerfMgr", adapter, context);
}

Basekit::Ref<Kor::AuthorizationManager> MoStubFactoryImpl::CreateAuthorizationManager(
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeTypedStub<Kor::AuthorizationManager>("AuthorizationManager", adapter, context);
}

Basekit::Ref<Kor::Folder> MoStubFactoryImpl::CreateRootFolder(Movel::StubAdapter* adapter,
                                                              Movel::RequestContext* context) {
  return MakeTypedStub<Kor::Folder>("group-d1", adapter, context);
}

Basekit::Ref<Movel::Stub> MoStubFactoryImpl::CreatePropertyCollector(
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeStub(dynamic_cast<Movel::ManagedObjectType*>(
                      Movel::FindType("tydef.query.PropertyCollector")),
                  "propertyCollector", adapter, context);
}

Basekit::Ref<Kor::UserDirectory> MoStubFactoryImpl::CreateUserDirectory(
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return MakeTypedStub<Kor::UserDirectory>("UserDirectory", adapter, context);
}

Basekit::Ref<Kor::ServiceInstanceContent> MoStubFactoryImpl::RetrieveContent(
    Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  Basekit::Ref<Kor::ServiceInstanceContent> content;
  CreateServiceInstance(adapter, context)->RetrieveContent(content);
  return content;
}

Basekit::Ref<Movel::Stub> MoStubFactoryImpl::Dereference(Movel::MoRef* ref,
                                                         Movel::StubAdapter* adapter,
                                                         Movel::RequestContext* context) {
  if (!ref || !ref->GetType()) return nullptr;
  return MakeStub(ref->GetType(), ref->GetId(), adapter, context);
}

Basekit::Ref<Movel::Stub> HostMoMockupStubFactoryImpl::CreateHostConfigMockupSystem(
    const std::string& host, Movel::StubAdapter* adapter, Movel::RequestContext* context) {
  return CreateHostObject("kor.internal.MockupSystem", host, adapter, context);
}

MoStubFactoryImpl* GetMoStubFactory() { return ProcessWide<MoStubFactoryImpl>(); }

HostMoMockupStubFactoryImpl* GetMoMockupStubFactory() {
  return ProcessWide<HostMoMockupStubFactoryImpl>();
}

}  // namespace Kor
