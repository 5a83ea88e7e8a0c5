// Stub factories: stubs for the well-known managed objects of a server or of
// the hosts it manages, without a round trip to learn their references.
//
// Well-known ids (the id part of each object's reference):
//   service level: "ServiceInstance", "SessionManager", "PerfMgr",
//     "AuthorizationManager", "group-d1" (root folder), "propertyCollector",
//     "UserDirectory";
//   per host, for host key H: "H" is the host itself; the host's own objects
//     are "<kind>-H" with the type's name, first letter lowered, e.g.
//     "storageSystem-H", "datastoreSystem-H", "environmentBrowser-H".
// The mockup factory adds the host configuration mockup system
// ("mockupSystem-H"), which test servers use to seed host configuration.
// Stubs are not cached: every call makes a new stub on the given adapter.
#pragma once

#include <string>

#include "kortypes/kortypes.h"

namespace Kor {

// The service-level well-known objects.
class KOR_API MoFactory : public virtual Basekit::Object {
 public:
  virtual Basekit::Ref<Kor::ServiceInstance> CreateServiceInstance(
      Movel::StubAdapter* adapter, Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::SessionManager> CreateSessionManager(
      Movel::StubAdapter* adapter, Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::PerformanceManager> CreatePerformanceManager(
      Movel::StubAdapter* adapter, Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::AuthorizationManager> CreateAuthorizationManager(
      Movel::StubAdapter* adapter, Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::Folder> CreateRootFolder(Movel::StubAdapter* adapter,
                                                     Movel::RequestContext* context = nullptr) = 0;
  // The property collector is a runtime type: its stub is the generic one.
  virtual Basekit::Ref<Movel::Stub> CreatePropertyCollector(
      Movel::StubAdapter* adapter, Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::UserDirectory> CreateUserDirectory(
      Movel::StubAdapter* adapter, Movel::RequestContext* context = nullptr) = 0;
  // Asks the service instance for its content.
  virtual Basekit::Ref<Kor::ServiceInstanceContent> RetrieveContent(
      Movel::StubAdapter* adapter, Movel::RequestContext* context = nullptr) = 0;
  // A stub of the reference's own type; null for a null reference or a type
  // without a stub.
  virtual Basekit::Ref<Movel::Stub> Dereference(Movel::MoRef* ref, Movel::StubAdapter* adapter,
                                                Movel::RequestContext* context = nullptr) = 0;

 protected:
  ~MoFactory() override;
};

// The objects of the hosts a server manages, by host key.
class KOR_API MultiHostMoFactory : public virtual Basekit::Object {
 public:
  virtual Basekit::Ref<Kor::HostSystem> CreateHostSystem(const std::string& host,
                                                         Movel::StubAdapter* adapter,
                                                         Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::Folder> CreateFolder(const std::string& id, Movel::StubAdapter* adapter,
                                                 Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::VirtualMachine> CreateVirtualMachine(
      const std::string& id, Movel::StubAdapter* adapter, Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::Datastore> CreateDatastore(const std::string& id,
                                                       Movel::StubAdapter* adapter,
                                                       Movel::RequestContext* context = nullptr) = 0;
  // The host's own objects; their ids are "<kind>-<host>".
  virtual Basekit::Ref<Kor::Host::DatastoreSystem> CreateDatastoreSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::EnvironmentBrowser> CreateEnvironmentBrowser(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::Host::CpuSchedulerSystem> CreateCpuSchedulerSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::Host::MemoryManagerSystem> CreateMemoryManagerSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::Host::FirewallSystem> CreateFirewallSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::Host::ServiceSystem> CreateServiceSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::Host::NetworkSystem> CreateNetworkSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::Host::PciPassthruSystem> CreatePciPassthruSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::Host::StorageSystem> CreateStorageSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::Host::IscsiManager> CreateIscsiManager(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::Host::MessageBusProxy> CreateMessageBusProxy(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::Host::DiagnosticSystem> CreateDiagnosticSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::Host::DateTimeSystem> CreateDateTimeSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::Host::HealthStatusSystem> CreateHealthStatusSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) = 0;
  virtual Basekit::Ref<Kor::Host::CvolSystem> CreateCvolSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) = 0;
  // Any per-host object by the wire name of its type ("kor.host.StorageSystem"):
  // the id is "<kind>-<host>" with the type's name, first letter lowered.
  virtual Basekit::Ref<Movel::Stub> CreateHostObject(const std::string& wireType,
                                                     const std::string& host,
                                                     Movel::StubAdapter* adapter,
                                                     Movel::RequestContext* context = nullptr) = 0;

 protected:
  ~MultiHostMoFactory() override;
};

// Host factories for test servers: adds the configuration mockup system.
class KOR_API MoMockupFactory : public virtual MultiHostMoFactory {
 public:
  virtual Basekit::Ref<Movel::Stub> CreateHostConfigMockupSystem(
      const std::string& host, Movel::StubAdapter* adapter, Movel::RequestContext* context = nullptr) = 0;

 protected:
  ~MoMockupFactory() override;
};

class KOR_API HostMoStubFactoryImpl : public virtual MultiHostMoFactory, public Basekit::ObjectImpl {
 public:
  HostMoStubFactoryImpl() = default;
  Basekit::Ref<Kor::HostSystem> CreateHostSystem(const std::string& host, Movel::StubAdapter* adapter,
                                                 Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Folder> CreateFolder(const std::string& id, Movel::StubAdapter* adapter,
                                         Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::VirtualMachine> CreateVirtualMachine(const std::string& id,
                                                         Movel::StubAdapter* adapter,
                                                         Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Datastore> CreateDatastore(const std::string& id, Movel::StubAdapter* adapter,
                                               Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Host::DatastoreSystem> CreateDatastoreSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::EnvironmentBrowser> CreateEnvironmentBrowser(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Host::CpuSchedulerSystem> CreateCpuSchedulerSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Host::MemoryManagerSystem> CreateMemoryManagerSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Host::FirewallSystem> CreateFirewallSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Host::ServiceSystem> CreateServiceSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Host::NetworkSystem> CreateNetworkSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Host::PciPassthruSystem> CreatePciPassthruSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Host::StorageSystem> CreateStorageSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Host::IscsiManager> CreateIscsiManager(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Host::MessageBusProxy> CreateMessageBusProxy(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Host::DiagnosticSystem> CreateDiagnosticSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Host::DateTimeSystem> CreateDateTimeSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Host::HealthStatusSystem> CreateHealthStatusSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Host::CvolSystem> CreateCvolSystem(const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Movel::Stub> CreateHostObject(const std::string& wireType, const std::string& host,
                                             Movel::StubAdapter* adapter,
                                             Movel::RequestContext* context = nullptr) override;

 protected:
  ~HostMoStubFactoryImpl() override;
};

class KOR_API MoStubFactoryImpl : public virtual MoFactory, public HostMoStubFactoryImpl {
 public:
  MoStubFactoryImpl() = default;
  Basekit::Ref<Kor::ServiceInstance> CreateServiceInstance(
      Movel::StubAdapter* adapter, Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::SessionManager> CreateSessionManager(
      Movel::StubAdapter* adapter, Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::PerformanceManager> CreatePerformanceManager(
      Movel::StubAdapter* adapter, Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::AuthorizationManager> CreateAuthorizationManager(
      Movel::StubAdapter* adapter, Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::Folder> CreateRootFolder(Movel::StubAdapter* adapter,
                                             Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Movel::Stub> CreatePropertyCollector(Movel::StubAdapter* adapter,
                                                    Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::UserDirectory> CreateUserDirectory(Movel::StubAdapter* adapter,
                                                       Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Kor::ServiceInstanceContent> RetrieveContent(
      Movel::StubAdapter* adapter, Movel::RequestContext* context = nullptr) override;
  Basekit::Ref<Movel::Stub> Dereference(Movel::MoRef* ref, Movel::StubAdapter* adapter,
                                        Movel::RequestContext* context = nullptr) override;

 protected:
  ~MoStubFactoryImpl() override;
};

class KOR_API HostMoMockupStubFactoryImpl : public virtual MoMockupFactory,
                                            public HostMoStubFactoryImpl {
 public:
  HostMoMockupStubFactoryImpl() = default;
  Basekit::Ref<Movel::Stub> CreateHostConfigMockupSystem(
      const std::string& host, Movel::StubAdapter* adapter,
      Movel::RequestContext* context = nullptr) override;

 protected:
  ~HostMoMockupStubFactoryImpl() override;
};

// The process-wide factories, made on first use and kept for the life of the
// process.
KOR_API MoStubFactoryImpl* GetMoStubFactory();
KOR_API HostMoMockupStubFactoryImpl* GetMoMockupStubFactory();

// The well-known id of a service-level object's type, or "" if none.
KOR_API std::string GetWellKnownId(const std::string& wireType);

}  // namespace Kor
