// The demo server: a service instance and a small inventory served in-process
// through the generated skeletons, with an event history and alarms.
//
// Inventory (ids fixed, so clients and tests can name objects directly):
//
//   group-d1  Folder      "Datacenters"   (root folder)
//   datacenter-2 Datacenter "lab"
//     group-h4  Folder    "host"          host folder
//       host-12 HostSystem "hv-01.lab"
//     group-v3  Folder    "vm"            virtual machine folder
//       vm-31   VirtualMachine "web-frontend" (runs on host-12)
//
// plus the service instance ("ServiceInstance"), the event manager
// ("EventManager") and the alarm manager ("AlarmManager"). Collectors, tasks
// and alarms are registered as they are made.
//
// Events: every operation that changes something logs events (power
// operations, reconfiguration, task completion, alarm creation, status
// changes and acknowledgements). Events of one operation share a chainId, the
// key of its first event. The user of an event is the "userName" entry of the
// caller's request context, "demo" when the caller gives none, and empty for
// what the server does by itself (alarm status changes).
//
// The server is for one process: everything runs on the caller's thread or
// the in-process adapter's workers, guarded by the server's own locks.
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

class DemoServer {
 public:
  // clock stamps events, tasks and alarm states; empty means the system
  // clock.
  explicit DemoServer(Clock clock = Clock());
  ~DemoServer();
  DemoServer(const DemoServer&) = delete;
  DemoServer& operator=(const DemoServer&) = delete;

  Movel::StubAdapter* GetAdapter() const;
  Movel::LocalServer* GetLocalServer() const;
  std::size_t GetObjectCount() const;
  // Events logged so far.
  std::size_t GetEventCount() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace demo
}  // namespace kortypes
