// The demo server: a service instance and an inventory sized by
// InventoryOptions, served in-process through the generated skeletons, with
// tasks, an event history and alarms.
//
// Inventory. The first datacenter keeps fixed ids, so clients and tests can
// name its objects directly:
//
//   group-d1  Folder      "Datacenters"   (root folder)
//   datacenter-2 Datacenter "lab"
//     group-h4  Folder    "host"          host folder
//       host-12 HostSystem "hv-01.lab"    standalone host (the first host)
//       domain-cN ClusterComputeResource "cluster-01", ... with their hosts
//     group-v3  Folder    "vm"            virtual machine folder
//       vm-31   VirtualMachine "web-frontend" (runs on host-12), ...
//     group-sN  Folder    "datastore"     datastores: one local per host
//                                          ("datastore1", ...) and "nfs-shared"
//     group-nN  Folder    "network"       the network "VM Network"
//
// Every further object takes the next free number: datacenter-N, domain-cN,
// host-N, vm-N, datastore-N, network-N, group-hN/-vN/-sN/-nN. Each
// datacenter holds clustersPerDatacenter clusters of hostsPerCluster hosts
// (hostsPerCluster standalone hosts in the host folder when there are no
// clusters), and each host runs vmsPerHost virtual machines. The first host
// of the first datacenter stands alone in the host folder, as it always
// has, so the first cluster there holds one host fewer. Each host has a
// network system (networkSystem-<host number>) and a storage system
// (storageSystem-<host number>) whose state comes from the host network and
// storage factories; see demo_host_state.h.
//
// Besides the inventory: the service instance ("ServiceInstance"), the event
// manager ("EventManager") and the alarm manager ("AlarmManager").
// Collectors, tasks and alarms are registered as they are made.
//
// Events: every operation that changes something logs events (power
// operations, renames, reconfiguration, maintenance mode, task completion,
// alarm creation, status changes and acknowledgements). Events of one
// operation share a chainId, the key of its first event. The user of an
// event is the "userName" entry of the caller's request context, "demo" when
// the caller gives none, and empty for what the server does by itself (alarm
// status changes).
//
// Faults come as a real server raises them: InvalidPowerState for a power
// operation the machine's state forbids, InvalidState for powering on a
// machine on a host in maintenance mode, ManagedObjectNotFound for unknown
// references, InvalidArgument naming the parameter, InvalidName and
// DuplicateName on rename, AlreadyExists, NotFound and ResourceInUse from
// the host network system. What the server does not serve answers
// NotSupported.
//
// The server is for one process: everything runs on the caller's thread or
// the in-process adapter's workers, guarded by the server's own locks; any
// number of threads may call it at once.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "basekit/datetime.h"
#include "basekit/ref.h"
#include "movel/inprocess.h"

namespace kortypes {
namespace demo {

// The user an event records when the request context names none.
extern const char* const kDefaultUser;
// The request-context key that names the calling user.
extern const char* const kUserNameKey;

// Ids of the well-known objects.
extern const char* const kServiceInstanceId;
extern const char* const kEventManagerId;
extern const char* const kAlarmManagerId;
extern const char* const kRootFolderId;
extern const char* const kDatacenterId;
extern const char* const kHostFolderId;
extern const char* const kVmFolderId;
extern const char* const kHostId;
extern const char* const kVmId;

// Collectors one server keeps at most at once; creating another is refused
// with kor.fault.InvalidState until one is destroyed.
constexpr int kMaxCollectors = 32;
// Page size of a new collector.
constexpr int kDefaultPageSize = 10;

using Clock = std::function<Basekit::System::DateTime()>;

// How big the inventory is. Each number is at least 0; together they may
// make at most kMaxInventoryObjects managed objects.
struct InventoryOptions {
  int datacenters = 1;
  int clustersPerDatacenter = 1;
  int hostsPerCluster = 1;
  int vmsPerHost = 1;
};

// The most managed objects an inventory may hold.
constexpr long long kMaxInventoryObjects = 100000;

// What an inventory holds, counted by kind.
struct InventorySize {
  long long datacenters = 0;
  long long folders = 0;
  long long clusters = 0;
  long long hosts = 0;
  long long vms = 0;
  long long datastores = 0;
  long long networks = 0;
  long long hostSystems = 0;  // network and storage systems of the hosts
  long long Total() const {
    return datacenters + folders + clusters + hosts + vms + datastores + networks + hostSystems;
  }
};

// The size options give; throws std::invalid_argument, naming the option,
// when a number is negative or the total exceeds kMaxInventoryObjects.
InventorySize SizeOf(const InventoryOptions& options);

class DemoServer {
 public:
  // clock stamps events, tasks and alarm states; empty means the system
  // clock. Throws std::invalid_argument when SizeOf(inventory) does.
  explicit DemoServer(Clock clock = Clock(), InventoryOptions inventory = InventoryOptions());
  ~DemoServer();
  DemoServer(const DemoServer&) = delete;
  DemoServer& operator=(const DemoServer&) = delete;

  Movel::StubAdapter* GetAdapter() const;
  Movel::LocalServer* GetLocalServer() const;
  std::size_t GetObjectCount() const;
  // Events logged so far.
  std::size_t GetEventCount() const;
  // What the inventory holds.
  InventorySize GetInventorySize() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace demo
}  // namespace kortypes
