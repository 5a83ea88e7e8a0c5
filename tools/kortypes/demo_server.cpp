// The demo server's objects: inventory, tasks, the event history with its
// collectors, and the alarm manager. See demo_server.h for the inventory and
// the rules events follow.
#include "demo_server.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <stdexcept>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "demo_host_state.h"
#include "kortypes/kortypes.h"
#include "kortypes/network_factory.h"
#include "movel/fault.h"
#include "movel/message.h"

namespace kortypes {
namespace demo {

const char* const kDefaultUser = "demo";
const char* const kUserNameKey = "userName";
const char* const kServiceInstanceId = "ServiceInstance";
const char* const kEventManagerId = "EventManager";
const char* const kAlarmManagerId = "AlarmManager";
const char* const kRootFolderId = "group-d1";
const char* const kDatacenterId = "datacenter-2";
const char* const kHostFolderId = "group-h4";
const char* const kVmFolderId = "group-v3";
const char* const kHostId = "host-12";
const char* const kVmId = "vm-31";

using Basekit::Ref;
using Basekit::System::DateTime;
using EntityStatus = Kor::ManagedEntity::Status;
using Recursion = Kor::Event::EventFilterSpec::RecursionOption;
using Category = Kor::Event::EventDescription::EventCategory;

class DemoAlarmManager;

namespace {

// ---- faults ------------------------------------------------------------------

void AddMessage(Movel::MethodFault* fault, const std::string& key, const std::string& text) {
  Ref<Movel::LocalizableMessage> message(new Movel::LocalizableMessage(key));
  message->SetMessage(text);
  fault->GetOrCreateFaultMessage()->Append(message.Get());
}

[[noreturn]] void ThrowInvalidArgument(const std::string& property, const std::string& text) {
  Ref<Movel::Fault::InvalidArgument> fault(new Movel::Fault::InvalidArgument());
  if (!property.empty()) fault->SetInvalidProperty(Movel::PropertyPath(property));
  AddMessage(fault, "demo.fault.InvalidArgument", text);
  throw Movel::Fault::InvalidArgument::Exception(fault.Get());
}

[[noreturn]] void ThrowNotFound(Movel::MoRef* ref) {
  Ref<Movel::Fault::ManagedObjectNotFound> fault(new Movel::Fault::ManagedObjectNotFound());
  fault->SetObj(ref);
  AddMessage(fault, "demo.fault.NotFound", "no such object: " + ref->ToString());
  throw Movel::Fault::ManagedObjectNotFound::Exception(fault.Get());
}

std::string CurrentUser() {
  if (Movel::RequestContext* context = Movel::LocalStubAdapter::GetCurrentRequestContext()) {
    Basekit::Optional<std::string> user = context->Get(kUserNameKey);
    if (user.IsSet()) return user.GetValue();
  }
  return kDefaultUser;
}

Ref<Movel::MoRef> RefOf(Movel::ManagedObjectType* type, const std::string& id) {
  Ref<Movel::MoRef> ref = Movel::MakeMoRef(type, id);
  return ref;
}

// ---- generic property reads --------------------------------------------------

// Text of a value-kind property value at p whose type is type; false when the
// kind has no plain text form here.
bool ValueText(const Movel::Type* type, const void* p, std::string& out) {
  if (!type || !p) return false;
  if (type->IsEnum()) {
    out = static_cast<const Movel::EnumType*>(type)->ToName(*static_cast<const int*>(p));
    return true;
  }
  const std::string& kind = type->GetName();
  if (kind == "string") {
    out = *static_cast<const std::string*>(p);
  } else if (kind == "boolean") {
    out = *static_cast<const bool*>(p) ? "true" : "false";
  } else if (kind == "int") {
    out = std::to_string(*static_cast<const int*>(p));
  } else if (kind == "long") {
    out = std::to_string(*static_cast<const long long*>(p));
  } else if (kind == "dateTime") {
    out = static_cast<const DateTime*>(p)->ToString();
  } else {
    return false;
  }
  return true;
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t dot = path.find('.', start);
    if (dot == std::string::npos) dot = path.size();
    parts.push_back(path.substr(start, dot - start));
    start = dot + 1;
  }
  return parts;
}

}  // namespace

// ---- shared server state --------------------------------------------------------

// One inventory entity. Everything but the name is fixed once the server is
// built; the name is guarded by State::namesMutex.
struct Node {
  Ref<Movel::MoRef> ref;
  std::string name;
  std::string parent;  // id, empty at the root
  std::string host;    // virtual machines: the host they run on
  std::string datacenter;  // the datacenter it lies in; empty for the root
  std::vector<Ref<Movel::MoRef>> children;  // folders, clusters: what they contain
  // Related entities, by kind: a cluster's or datastore's hosts, a host's or
  // network's virtual machines, the datastores and networks an entity uses.
  std::vector<Ref<Movel::MoRef>> hosts, vms, datastores, networks;
};

// What a collector or a query selects, checked and resolved once.
struct Selection {
  std::string entity;  // empty: any
  Recursion recursion = Recursion::self;
  Basekit::Optional<DateTime> begin, end;
  bool byUser = false;
  bool systemUser = false;
  std::set<std::string> users;
  Basekit::Optional<int> chainId;
  std::string alarm;  // empty: any
  std::set<int> categories;
  std::vector<const Movel::Type*> types;
  std::set<std::string> eventTypeIds;
  bool dropMessages = false;
};

struct Logged {
  Ref<Kor::Event::Event> event;
  Ref<Movel::MoRef> entity;  // what the event is about; may be null
};

struct DemoServer::State {
  Clock clock;
  Ref<Movel::LocalServer> server{new Movel::LocalServer()};
  Ref<Movel::LocalStubAdapter> adapter{new Movel::LocalStubAdapter(server)};
  std::map<std::string, Node> nodes;  // fixed once the server is built, names aside
  DemoAlarmManager* alarms = nullptr;  // registered with server, lives as long
  InventorySize size;

  mutable std::mutex namesMutex;  // guards Node::name

  mutable std::mutex mutex;  // guards what follows
  std::vector<Logged> events;
  std::map<std::string, int> categoryOf;  // event type name -> EventCategory
  int collectors = 0;
  int collectorSerial = 0;
  int tasks = 0;

  DateTime Now() const { return clock ? clock() : DateTime::Now(); }

  std::string NameOf(const std::string& id) const {
    std::lock_guard<std::mutex> lock(namesMutex);
    auto it = nodes.find(id);
    return it == nodes.end() ? std::string() : it->second.name;
  }

  const Node* FindNode(const std::string& id) const {
    auto it = nodes.find(id);
    return it == nodes.end() ? nullptr : &it->second;
  }
  // The node behind ref; unknown references throw ManagedObjectNotFound.
  const Node& NodeOf(Movel::MoRef* ref) const {
    const Node* node = ref ? FindNode(ref->GetId()) : nullptr;
    if (!node || *node->ref != *ref) ThrowNotFound(ref);
    return *node;
  }
  // True when entity lies within ancestor as recursion allows.
  bool Within(const std::string& entity, const std::string& ancestor, Recursion recursion) const {
    if (entity == ancestor) return true;
    if (recursion == Recursion::self) return false;
    const Node* node = FindNode(entity);
    for (int depth = 1; node && !node->parent.empty(); ++depth) {
      if (node->parent == ancestor) return recursion == Recursion::all || depth == 1;
      node = FindNode(node->parent);
    }
    return false;
  }
  std::vector<std::string> Subtree(const std::string& root) const {
    std::vector<std::string> ids;
    for (const auto& entry : nodes) {
      if (Within(entry.first, root, Recursion::all)) ids.push_back(entry.first);
    }
    return ids;
  }

  // Names the entity and what contains it in the event's argument
  // properties.
  void FillArguments(Kor::Event::Event* event, const std::string& id) const {
    const Node* node = FindNode(id);
    if (!node) return;
    Movel::ManagedObjectType* type = node->ref->GetType();
    if (type == Movel::GetMoType<Kor::VirtualMachine>()) {
      Ref<Kor::Event::VmEventArgument> arg(new Kor::Event::VmEventArgument());
      arg->name = NameOf(id);
      arg->SetVm(node->ref);
      event->SetVm(arg);
      if (!node->host.empty()) FillArguments(event, node->host);
    } else if (type == Movel::GetMoType<Kor::HostSystem>()) {
      Ref<Kor::Event::HostEventArgument> arg(new Kor::Event::HostEventArgument());
      arg->name = NameOf(id);
      arg->SetHost(node->ref);
      event->SetHost(arg);
      const Node* up = FindNode(node->parent);
      if (up && up->ref->GetType()->IsA(Movel::GetMoType<Kor::ComputeResource>())) {
        FillArguments(event, node->parent);  // the cluster, and its datacenter
        return;
      }
    } else if (type->IsA(Movel::GetMoType<Kor::ComputeResource>())) {
      Ref<Kor::Event::ComputeResourceEventArgument> arg(new Kor::Event::ComputeResourceEventArgument());
      arg->name = NameOf(id);
      arg->SetComputeResource(node->ref);
      event->SetComputeResource(arg);
    } else if (type == Movel::GetMoType<Kor::Datacenter>()) {
      Ref<Kor::Event::DatacenterEventArgument> arg(new Kor::Event::DatacenterEventArgument());
      arg->name = NameOf(id);
      arg->SetDatacenter(node->ref);
      event->SetDatacenter(arg);
      return;
    }
    for (const Node* up = FindNode(node->parent); up; up = FindNode(up->parent)) {
      if (up->ref->GetType() == Movel::GetMoType<Kor::Datacenter>()) {
        FillArguments(event, up->ref->GetId());
        break;
      }
    }
  }

  // Stamps and stores an event; chain 0 starts a new chain. Returns the key.
  int Log(Kor::Event::Event* event, Movel::MoRef* entity, const std::string& user, int chain) {
    std::lock_guard<std::mutex> lock(mutex);
    int key = static_cast<int>(events.size()) + 1;
    event->key = key;
    event->chainId = chain > 0 ? chain : key;
    event->createdTime = Now();
    event->userName = user;
    // The stored event carries its readable line, as a server hands it out.
    Movel::FillFormattedMessage(event);
    events.push_back(Logged{Ref<Kor::Event::Event>(event), Ref<Movel::MoRef>(entity)});
    return key;
  }

  Ref<Kor::Event::Event> NewEvent(Kor::Event::Event* event, Movel::MoRef* entity) const {
    Ref<Kor::Event::Event> held(event);
    if (entity) FillArguments(held, entity->GetId());
    return held;
  }

  int CategoryOf(const Kor::Event::Event* event) const {
    if (const auto* ex = dynamic_cast<const Kor::Event::EventEx*>(event)) {
      if (ex->severity.IsSet()) return static_cast<int>(ex->severity.GetValue());
    }
    for (const Movel::Type* type = event->_GetType(); type && type->IsDataObject();
         type = static_cast<const Movel::StructuredType*>(type)->GetParent()) {
      auto it = categoryOf.find(type->GetName());
      if (it != categoryOf.end()) return it->second;
    }
    return static_cast<int>(Category::info);
  }

  // Checks a filter and resolves its names. Bad filters throw InvalidArgument
  // naming the offending property; unknown entities ManagedObjectNotFound.
  Selection Select(const Kor::Event::EventFilterSpec* spec) const {
    if (!spec) ThrowInvalidArgument("filter", "a filter is required");
    Selection s;
    if (const auto* byEntity = spec->PeekEntity()) {
      const Movel::MoRef* ref = byEntity->PeekEntity();
      if (!ref) ThrowInvalidArgument("filter.entity.entity", "the entity filter names no entity");
      s.entity = NodeOf(const_cast<Movel::MoRef*>(ref)).ref->GetId();
      s.recursion = byEntity->recursion;
    }
    if (const auto* byTime = spec->PeekTime()) {
      s.begin = byTime->beginTime;
      s.end = byTime->endTime;
      if (s.begin.IsSet() && s.end.IsSet() && s.end.GetValue() < s.begin.GetValue()) {
        ThrowInvalidArgument("filter.time", "the time range ends before it begins");
      }
    }
    if (const auto* byUser = spec->PeekUserName()) {
      s.byUser = true;
      s.systemUser = byUser->systemUser;
      if (const auto* list = byUser->PeekUserList()) {
        s.users.insert(list->GetValues().begin(), list->GetValues().end());
      }
    }
    s.chainId = spec->eventChainId;
    if (const Movel::MoRef* alarm = spec->PeekAlarm()) s.alarm = alarm->GetId();
    if (const auto* categories = spec->PeekCategory()) {
      for (Category c : categories->GetValues()) s.categories.insert(static_cast<int>(c));
    }
    const Movel::Type* eventType = Movel::GetDoType<Kor::Event::Event>();
    if (const auto* types = spec->PeekType()) {
      for (const Movel::TypeName& name : types->GetValues()) {
        const Movel::Type* type = Movel::FindType(name.str());
        if (!type || !type->IsDataObject() ||
            !static_cast<const Movel::StructuredType*>(type)->IsA(eventType)) {
          ThrowInvalidArgument("filter.type", "not an event type: " + name.str());
        }
        s.types.push_back(type);
      }
    }
    if (const auto* ids = spec->PeekEventTypeId()) {
      s.eventTypeIds.insert(ids->GetValues().begin(), ids->GetValues().end());
    }
    s.dropMessages = spec->disableFullMessage.IsSet() && spec->disableFullMessage.GetValue();
    return s;
  }

  bool Matches(const Logged& logged, const Selection& s) const {
    const Kor::Event::Event* e = logged.event;
    if (!s.entity.empty() &&
        (!logged.entity || !Within(logged.entity->GetId(), s.entity, s.recursion))) {
      return false;
    }
    if (s.begin.IsSet() && e->createdTime < s.begin.GetValue()) return false;
    if (s.end.IsSet() && s.end.GetValue() < e->createdTime) return false;
    if (s.byUser) {
      bool system = e->userName.empty();
      if (!(system ? s.systemUser : s.users.count(e->userName) > 0)) return false;
    }
    if (s.chainId.IsSet() && e->chainId != s.chainId.GetValue()) return false;
    if (!s.alarm.empty()) {
      const auto* alarmEvent = dynamic_cast<const Kor::Event::AlarmEvent*>(e);
      const Kor::Event::AlarmEventArgument* arg = alarmEvent ? alarmEvent->PeekAlarm() : nullptr;
      if (!arg || !arg->PeekAlarm() || arg->PeekAlarm()->GetId() != s.alarm) return false;
    }
    if (!s.categories.empty() && !s.categories.count(CategoryOf(e))) return false;
    if (!s.types.empty()) {
      const auto* type = static_cast<const Movel::StructuredType*>(e->_GetType());
      if (std::none_of(s.types.begin(), s.types.end(),
                       [&](const Movel::Type* t) { return type->IsA(t); })) {
        return false;
      }
    }
    if (!s.eventTypeIds.empty()) {
      const auto* ex = dynamic_cast<const Kor::Event::EventEx*>(e);
      if (!ex || !s.eventTypeIds.count(ex->eventTypeId)) return false;
    }
    return true;
  }

  // The matching events, oldest first, as shared records (not copies).
  std::vector<Ref<Kor::Event::Event>> Matching(const Selection& s) const {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<Ref<Kor::Event::Event>> out;
    for (const Logged& logged : events) {
      if (Matches(logged, s)) out.push_back(logged.event);
    }
    return out;
  }

  // Copies for a client, so nobody outside changes the history.
  static Ref<Movel::DataArray<Kor::Event::Event>> Copies(
      const std::vector<Ref<Kor::Event::Event>>& events, std::size_t from, std::size_t to,
      bool dropMessages) {
    Ref<Movel::DataArray<Kor::Event::Event>> out(new Movel::DataArray<Kor::Event::Event>());
    for (std::size_t i = from; i < to && i < events.size(); ++i) {
      Ref<Kor::Event::Event> copy(static_cast<Kor::Event::Event*>(events[i]->_Clone()));
      if (dropMessages) Movel::UnsetOptionalString(copy->fullFormattedMessage);
      out->Append(copy);
    }
    return out;
  }

  Ref<Movel::MoRef> FinishTask(const std::string& descriptionId, Movel::MoRef* entity,
                               const std::string& user, Movel::MethodFault* error, int chain);
};

namespace {

using State = DemoServer::State;

// A task the server finished at once; its info is what clients poll.
class DemoTask : public Kor::TaskSkeleton {
 public:
  explicit DemoTask(Kor::TaskInfo* info) : info_(info) {}
  void GetInfo(Ref<Kor::TaskInfo>& result) override {
    result = static_cast<Kor::TaskInfo*>(info_->_Clone());
  }

 private:
  const Ref<Kor::TaskInfo> info_;  // complete before registration, never changed
};

}  // namespace

Ref<Movel::MoRef> State::FinishTask(const std::string& descriptionId, Movel::MoRef* entity,
                                    const std::string& user, Movel::MethodFault* error,
                                    int chain) {
  std::string id;
  {
    std::lock_guard<std::mutex> lock(mutex);
    id = "task-" + std::to_string(++tasks);
  }
  Ref<Kor::TaskInfo> info(new Kor::TaskInfo());
  info->key = id;
  info->descriptionId = descriptionId;
  info->SetEntity(entity);
  if (const Node* node = entity ? FindNode(entity->GetId()) : nullptr) {
    Movel::SetOptionalString(info->entityName, NameOf(node->ref->GetId()));
  }
  info->state = error ? Kor::TaskInfo::State::error : Kor::TaskInfo::State::success;
  info->SetError(error);
  info->cancelable = false;
  info->cancelled = false;
  info->progress = 100;
  Ref<Kor::TaskReasonUser> reason(new Kor::TaskReasonUser());
  reason->userName = user;
  info->SetReason(reason);
  info->queueTime = Now();
  info->startTime = info->queueTime;
  info->completeTime = info->queueTime;
  info->SetTask(RefOf(Movel::GetMoType<Kor::Task>(), id));
  Ref<Movel::MoRef> ref = server->Register(new DemoTask(info), id);
  Ref<Kor::Event::TaskEvent> event(new Kor::Event::TaskEvent());
  event->SetInfo(static_cast<Kor::TaskInfo*>(info->_Clone()));
  if (entity) FillArguments(event, entity->GetId());
  Log(event, entity, user, chain);
  return ref;
}

// ---- alarms ------------------------------------------------------------------------

class DemoAlarm : public Kor::Alarm::AlarmSkeleton {
 public:
  DemoAlarm(DemoAlarmManager* manager, Kor::Alarm::AlarmInfo* info)
      : manager_(manager), info_(info) {}
  void GetInfo(Ref<Kor::Alarm::AlarmInfo>& result) override;
  void RemoveAlarm() override;

  Ref<Kor::Alarm::AlarmInfo> Info() {
    std::lock_guard<std::mutex> lock(mutex_);
    return info_;
  }

 private:
  DemoAlarmManager* manager_;
  std::mutex mutex_;
  Ref<Kor::Alarm::AlarmInfo> info_;
};

// Keeps the alarms and their states. Alarm conditions are evaluated when an
// alarm is made and whenever an entity it watches changes; a status change
// is recorded as a trigger and logged as an event of the operation that
// caused it.
class DemoAlarmManager : public Kor::Alarm::AlarmManagerSkeleton {
 public:
  explicit DemoAlarmManager(State* state) : state_(state) {}

  void GetDefaultExpression(Ref<Movel::DataArray<Kor::Alarm::AlarmExpression>>& result) override {
    result = new Movel::DataArray<Kor::Alarm::AlarmExpression>();
  }
  void GetDescription(Ref<Kor::Alarm::AlarmDescription>& result) override {
    Ref<Kor::Alarm::AlarmDescription> description(new Kor::Alarm::AlarmDescription());
    auto add = [](Movel::DataArray<Kor::ElementDescription>* list, const std::string& key,
                  const std::string& label) {
      Ref<Kor::ElementDescription> e(new Kor::ElementDescription());
      e->key = key;
      e->label = label;
      e->summary = label;
      list->Append(e);
    };
    add(description->GetExpr(), "kor.alarm.StateAlarmExpression", "State condition");
    add(description->GetExpr(), "kor.alarm.AndAlarmExpression", "All of");
    add(description->GetExpr(), "kor.alarm.OrAlarmExpression", "Any of");
    for (const std::string& op : Movel::GetEnumType<Kor::Alarm::StateAlarmExpression::StateOperator>()->GetValues()) {
      add(description->GetStateOperator(), op, op);
    }
    result = description;
  }
  int GetLastTriggerId() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastTriggerId_;
  }

  void Create(Movel::MoRef* entity, Kor::Alarm::AlarmSpec* spec, Ref<Movel::MoRef>& result) override;
  void GetAlarm(Movel::MoRef* entity, Ref<Movel::DataArray<Movel::MoRef>>& result) override;
  bool GetAlarmActionsEnabled(Movel::MoRef* entity) override {
    const Node& node = NodeOf(entity, "entity");
    std::lock_guard<std::mutex> lock(mutex_);
    return !actionsDisabled_.count(node.ref->GetId());
  }
  void SetAlarmActionsEnabled(Movel::MoRef* entity, bool enabled) override {
    const Node& node = NodeOf(entity, "entity");
    std::lock_guard<std::mutex> lock(mutex_);
    if (enabled) {
      actionsDisabled_.erase(node.ref->GetId());
    } else {
      actionsDisabled_.insert(node.ref->GetId());
    }
  }
  void GetAlarmState(Movel::MoRef* entity, Ref<Movel::DataArray<Kor::Alarm::AlarmState>>& result) override;
  void AcknowledgeAlarm(Movel::MoRef* alarm, Movel::MoRef* entity) override;
  void SetAlarmStatus(Movel::MoRef* alarm, Movel::MoRef* entity, EntityStatus status) override;
  void RetrieveTriggers(Movel::MoRef* entity, Ref<Movel::DataArray<Kor::Alarm::AlarmTrigger>>& result) override;

  // Re-evaluates every alarm that watches entity; status changes are logged
  // in chain.
  void EntityChanged(Movel::MoRef* entity, int chain);
  void Remove(Movel::MoRef* alarm);

 private:
  struct Alarm {
    Ref<DemoAlarm> impl;
    Ref<Movel::MoRef> ref;
  };
  struct Status {
    Ref<Kor::Alarm::AlarmState> state;
  };
  using StateKey = std::pair<std::string, std::string>;  // alarm id, entity id

  const Node& NodeOf(Movel::MoRef* ref, const char* what) const {
    if (!ref) ThrowInvalidArgument(what, std::string(what) + " is required");
    return state_->NodeOf(ref);
  }
  // Checks an expression; the managed type it watches goes to type.
  void Check(const Kor::Alarm::AlarmExpression* expression, const std::string& path,
             const Movel::ManagedObjectType*& type) const;
  // The status the expression gives entity; reads the entity's properties
  // through the adapter, so it must run without the manager's lock.
  EntityStatus Evaluate(const Kor::Alarm::AlarmExpression* expression, Movel::MoRef* entity) const;
  std::string ReadProperty(Movel::MoRef* entity, const std::string& path) const;
  // Entities of the alarm's subtree that its expression watches.
  std::vector<Ref<Movel::MoRef>> Watched(const Kor::Alarm::AlarmInfo* info) const;
  Alarm FindAlarm(Movel::MoRef* ref) const;
  // Sets the status of (alarm, entity), logging and recording a trigger
  // when it changes. Caller holds no lock.
  void Apply(const Alarm& alarm, Movel::MoRef* entity, EntityStatus status, int chain,
             const std::string& user);
  Ref<Kor::Event::AlarmEventArgument> AlarmArgument(const Alarm& alarm) const;
  Ref<Kor::Event::ManagedEntityEventArgument> EntityArgument(Movel::MoRef* entity) const;

  State* state_;
  mutable std::mutex mutex_;  // guards what follows
  std::vector<Alarm> alarms_;
  std::map<StateKey, Ref<Kor::Alarm::AlarmState>> states_;
  std::vector<Ref<Kor::Alarm::AlarmTrigger>> triggers_;
  std::set<std::string> actionsDisabled_;
  int lastTriggerId_ = 0;
  int serial_ = 0;
};

void DemoAlarm::GetInfo(Ref<Kor::Alarm::AlarmInfo>& result) {
  result = static_cast<Kor::Alarm::AlarmInfo*>(Info()->_Clone());
}

void DemoAlarm::RemoveAlarm() { manager_->Remove(_GetRef()); }

void DemoAlarmManager::Check(const Kor::Alarm::AlarmExpression* expression,
                             const std::string& path,
                             const Movel::ManagedObjectType*& type) const {
  if (!expression) ThrowInvalidArgument(path, "an expression is required");
  if (const auto* state = dynamic_cast<const Kor::Alarm::StateAlarmExpression*>(expression)) {
    const Movel::Type* watched = Movel::FindType(state->type.str());
    if (!watched || !watched->IsManaged()) {
      ThrowInvalidArgument(path + ".type", "not a managed type: " + state->type.str());
    }
    if (type && type != watched) {
      ThrowInvalidArgument(path + ".type", "one alarm watches one type of entity");
    }
    type = static_cast<const Movel::ManagedObjectType*>(watched);
    std::vector<std::string> parts = SplitPath(state->statePath.str());
    const Movel::ManagedMethod* read = type->FindMethod(parts[0]);
    if (parts[0].empty() || !read || !read->IsPropertyRead()) {
      ThrowInvalidArgument(path + ".statePath",
                           "no property " + state->statePath.str() + " on " + type->GetName());
    }
    if (!state->red && !state->yellow) {
      ThrowInvalidArgument(path, "a state condition names a red or a yellow value");
    }
    return;
  }
  const Movel::DataArray<Kor::Alarm::AlarmExpression>* parts = nullptr;
  if (const auto* all = dynamic_cast<const Kor::Alarm::AndAlarmExpression*>(expression)) {
    parts = all->PeekExpression();
  } else if (const auto* any = dynamic_cast<const Kor::Alarm::OrAlarmExpression*>(expression)) {
    parts = any->PeekExpression();
  } else {
    ThrowInvalidArgument(path, "this server evaluates state, and and or conditions only, not " +
                                   expression->_GetType()->GetName());
  }
  if (!parts) ThrowInvalidArgument(path + ".expression", "a combination needs conditions");
  for (int i = 0; i < parts->GetLength(); ++i) {
    Check(parts->Get(i), path + ".expression[" + std::to_string(i) + "]", type);
  }
}

std::string DemoAlarmManager::ReadProperty(Movel::MoRef* entity, const std::string& path) const {
  std::vector<std::string> parts = SplitPath(path);
  const Movel::ManagedMethod* read = entity->GetType()->FindMethod(parts[0]);
  if (!read || !read->IsPropertyRead()) return std::string();
  Basekit::RefVector<Movel::Any> args;
  Ref<Movel::Any> value;
  try {
    state_->adapter->Invoke(entity, const_cast<Movel::ManagedMethod*>(read), args, nullptr, value);
  } catch (const Movel::MethodFault::Exception&) {
    return std::string();  // a property the entity does not serve reads as unset
  }
  // Below the managed property: data object properties, by name.
  const Movel::Any* current = value.Get();
  std::string text;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const auto* data = dynamic_cast<const Movel::DataObject*>(current);
    const Movel::DataObjectType* type = data ? data->_GetDataType() : nullptr;
    const Movel::Property* property = type ? type->FindProperty(parts[i]) : nullptr;
    if (!property) return std::string();
    const auto* owner = static_cast<const Movel::DataObjectType*>(property->GetOwner());
    const void* slot = owner->GetRecord()->propPeek(data, property->GetIndex());
    const Movel::Type* propertyType = property->GetType();
    if (i + 1 == parts.size() && !property->IsArray()) {
      if (!ValueText(propertyType, slot, text)) return std::string();
      return text;
    }
    if (!propertyType || !propertyType->IsDataObject() || property->IsArray()) return std::string();
    current = static_cast<const Movel::Any*>(slot);
  }
  if (parts.size() == 1) {
    // The managed property is itself a value: read its box generically.
    if (const auto* box = dynamic_cast<const Movel::Primitive<std::string>*>(current)) {
      return box->GetValue();
    }
  }
  return std::string();
}

EntityStatus DemoAlarmManager::Evaluate(const Kor::Alarm::AlarmExpression* expression,
                                        Movel::MoRef* entity) const {
  if (const auto* state = dynamic_cast<const Kor::Alarm::StateAlarmExpression*>(expression)) {
    std::string value = ReadProperty(entity, state->statePath.str());
    bool equal = state->operator_ == Kor::Alarm::StateAlarmExpression::StateOperator::isEqual;
    if (state->red && (value == *state->red) == equal) return EntityStatus::red;
    if (state->yellow && (value == *state->yellow) == equal) return EntityStatus::yellow;
    return EntityStatus::green;
  }
  bool all = dynamic_cast<const Kor::Alarm::AndAlarmExpression*>(expression) != nullptr;
  const Movel::DataArray<Kor::Alarm::AlarmExpression>* parts =
      all ? static_cast<const Kor::Alarm::AndAlarmExpression*>(expression)->PeekExpression()
          : static_cast<const Kor::Alarm::OrAlarmExpression*>(expression)->PeekExpression();
  EntityStatus result = all ? EntityStatus::red : EntityStatus::green;
  for (const Kor::Alarm::AlarmExpression* part : *parts) {
    EntityStatus s = Evaluate(part, entity);
    result = all ? std::min(result, s) : std::max(result, s);
  }
  return result;
}

std::vector<Ref<Movel::MoRef>> DemoAlarmManager::Watched(const Kor::Alarm::AlarmInfo* info) const {
  const Movel::ManagedObjectType* type = nullptr;
  Check(info->PeekExpression(), "spec.expression", type);
  std::vector<Ref<Movel::MoRef>> out;
  for (const std::string& id : state_->Subtree(info->PeekEntity()->GetId())) {
    const Node* node = state_->FindNode(id);
    if (node->ref->GetType()->IsA(type)) out.push_back(node->ref);
  }
  return out;
}

DemoAlarmManager::Alarm DemoAlarmManager::FindAlarm(Movel::MoRef* ref) const {
  if (!ref) ThrowInvalidArgument("alarm", "alarm is required");
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Alarm& alarm : alarms_) {
    if (*alarm.ref == *ref) return alarm;
  }
  ThrowNotFound(ref);
}

Ref<Kor::Event::AlarmEventArgument> DemoAlarmManager::AlarmArgument(const Alarm& alarm) const {
  Ref<Kor::Event::AlarmEventArgument> arg(new Kor::Event::AlarmEventArgument());
  arg->name = alarm.impl->Info()->name;
  arg->SetAlarm(alarm.ref);
  return arg;
}

Ref<Kor::Event::ManagedEntityEventArgument> DemoAlarmManager::EntityArgument(
    Movel::MoRef* entity) const {
  Ref<Kor::Event::ManagedEntityEventArgument> arg(new Kor::Event::ManagedEntityEventArgument());
  arg->name = state_->NameOf(state_->NodeOf(entity).ref->GetId());
  arg->SetEntity(entity);
  return arg;
}

void DemoAlarmManager::Apply(const Alarm& alarm, Movel::MoRef* entity, EntityStatus status,
                             int chain, const std::string& user) {
  EntityStatus from;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    StateKey key(alarm.ref->GetId(), entity->GetId());
    auto it = states_.find(key);
    if (it == states_.end()) {
      Ref<Kor::Alarm::AlarmState> state(new Kor::Alarm::AlarmState());
      state->key = key.first + "." + key.second;
      state->SetEntity(entity);
      state->SetAlarm(alarm.ref);
      state->overallStatus = EntityStatus::gray;
      state->time = state_->Now();
      state->acknowledged = false;
      it = states_.emplace(key, state).first;
    }
    Kor::Alarm::AlarmState* state = it->second;
    from = state->overallStatus;
    if (from == status) return;
    // States handed out are copies, so this one may change in place.
    state->overallStatus = status;
    state->time = state_->Now();
    state->acknowledged = false;
    Movel::UnsetOptionalString(state->acknowledgedByUser);
    state->acknowledgedTime.Unset();
    Ref<Kor::Alarm::AlarmTrigger> trigger(new Kor::Alarm::AlarmTrigger());
    trigger->triggerId = ++lastTriggerId_;
    trigger->type = Kor::Alarm::AlarmTrigger::Type::state;
    trigger->SetAlarm(alarm.ref);
    trigger->SetEntity(entity);
    trigger->time = state->time;
    triggers_.push_back(trigger);
  }
  Ref<Kor::Event::AlarmStatusChangedEvent> event(new Kor::Event::AlarmStatusChangedEvent());
  state_->FillArguments(event, entity->GetId());
  event->SetAlarm(AlarmArgument(alarm));
  event->SetEntity(EntityArgument(entity));
  event->SetSource(EntityArgument(const_cast<Movel::MoRef*>(alarm.impl->Info()->PeekEntity())));
  event->from = from;
  event->to = status;
  int key = state_->Log(event, entity, user, chain);
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = states_.find(StateKey(alarm.ref->GetId(), entity->GetId()));
  if (it != states_.end()) it->second->eventKey = key;
}

void DemoAlarmManager::Create(Movel::MoRef* entity, Kor::Alarm::AlarmSpec* spec,
                              Ref<Movel::MoRef>& result) {
  const Node& node = NodeOf(entity, "entity");
  if (!spec) ThrowInvalidArgument("spec", "spec is required");
  if (spec->name.empty()) {
    Ref<Kor::Fault::InvalidName> fault(new Kor::Fault::InvalidName());
    fault->name = spec->name;
    fault->SetEntity(node.ref);
    AddMessage(fault, "demo.fault.InvalidName", "an alarm needs a name");
    fault->Throw();
  }
  const Movel::ManagedObjectType* type = nullptr;
  Check(spec->PeekExpression(), "spec.expression", type);
  std::string user = CurrentUser();
  Alarm alarm;
  Ref<Kor::Alarm::AlarmInfo> info(new Kor::Alarm::AlarmInfo());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Alarm& other : alarms_) {
      Ref<Kor::Alarm::AlarmInfo> otherInfo = other.impl->Info();
      if (otherInfo->name == spec->name && otherInfo->PeekEntity()->GetId() == node.ref->GetId()) {
        Ref<Kor::Fault::DuplicateName> fault(new Kor::Fault::DuplicateName());
        fault->name = spec->name;
        fault->SetObject(other.ref);
        AddMessage(fault, "demo.fault.DuplicateName",
                   "an alarm named " + spec->name + " is defined on " + node.name + " already");
        fault->Throw();
      }
    }
    std::string id = "alarm-" + std::to_string(++serial_);
    info->name = spec->name;
    if (spec->systemName) Movel::SetOptionalString(info->systemName, *spec->systemName);
    info->description = spec->description;
    info->enabled = spec->enabled;
    info->SetExpression(static_cast<Kor::Alarm::AlarmExpression*>(spec->PeekExpression()->_Clone()));
    if (spec->PeekAction()) {
      info->SetAction(static_cast<Kor::Alarm::AlarmAction*>(spec->PeekAction()->_Clone()));
    }
    info->actionFrequency = spec->actionFrequency;
    if (spec->PeekSetting()) {
      info->SetSetting(static_cast<Kor::Alarm::AlarmSetting*>(spec->PeekSetting()->_Clone()));
    }
    if (spec->alarmMetadata) Movel::SetOptionalString(info->alarmMetadata, *spec->alarmMetadata);
    info->key = id;
    info->SetEntity(node.ref);
    info->lastModifiedTime = state_->Now();
    info->lastModifiedUser = user;
    alarm.impl = new DemoAlarm(this, info);
    alarm.ref = state_->server->Register(alarm.impl, id);
    info->SetAlarm(alarm.ref);
    alarms_.push_back(alarm);
  }
  Ref<Kor::Event::AlarmCreatedEvent> event(new Kor::Event::AlarmCreatedEvent());
  state_->FillArguments(event, node.ref->GetId());
  event->SetAlarm(AlarmArgument(alarm));
  event->SetEntity(EntityArgument(node.ref));
  int chain = state_->Log(event, node.ref, user, 0);
  info->creationEventId = chain;
  if (info->enabled) {
    for (const Ref<Movel::MoRef>& watched : Watched(info)) {
      Apply(alarm, watched, Evaluate(info->PeekExpression(), watched), chain, std::string());
    }
  }
  result = alarm.ref;
}

void DemoAlarmManager::GetAlarm(Movel::MoRef* entity, Ref<Movel::DataArray<Movel::MoRef>>& result) {
  std::string id = entity ? state_->NodeOf(entity).ref->GetId() : std::string();
  Ref<Movel::DataArray<Movel::MoRef>> out(new Movel::DataArray<Movel::MoRef>());
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Alarm& alarm : alarms_) {
    if (id.empty() || alarm.impl->Info()->PeekEntity()->GetId() == id) out->Append(alarm.ref);
  }
  result = out;
}

void DemoAlarmManager::GetAlarmState(Movel::MoRef* entity,
                                     Ref<Movel::DataArray<Kor::Alarm::AlarmState>>& result) {
  const Node& node = NodeOf(entity, "entity");
  Ref<Movel::DataArray<Kor::Alarm::AlarmState>> out(new Movel::DataArray<Kor::Alarm::AlarmState>());
  std::lock_guard<std::mutex> lock(mutex_);
  // The states on the entity itself and those of the alarms defined on it.
  for (const auto& entry : states_) {
    bool definedHere = false;
    for (const Alarm& alarm : alarms_) {
      if (alarm.ref->GetId() == entry.first.first) {
        definedHere = alarm.impl->Info()->PeekEntity()->GetId() == node.ref->GetId();
      }
    }
    if (entry.first.second == node.ref->GetId() || definedHere) {
      out->Append(static_cast<Kor::Alarm::AlarmState*>(entry.second->_Clone()));
    }
  }
  result = out;
}

void DemoAlarmManager::AcknowledgeAlarm(Movel::MoRef* alarmRef, Movel::MoRef* entity) {
  Alarm alarm = FindAlarm(alarmRef);
  const Node& node = NodeOf(entity, "entity");
  std::string user = CurrentUser();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = states_.find(StateKey(alarm.ref->GetId(), node.ref->GetId()));
    if (it == states_.end()) {
      ThrowInvalidArgument("entity", "alarm " + alarm.ref->GetId() + " does not watch " + node.name);
    }
    Kor::Alarm::AlarmState* state = it->second;
    if (state->overallStatus != EntityStatus::yellow && state->overallStatus != EntityStatus::red) {
      ThrowInvalidArgument("alarm", "only a yellow or red alarm can be acknowledged");
    }
    if (state->acknowledged.IsSet() && state->acknowledged.GetValue()) return;
    state->acknowledged = true;
    Movel::SetOptionalString(state->acknowledgedByUser, user);
    state->acknowledgedTime = state_->Now();
  }
  Ref<Kor::Event::AlarmAcknowledgedEvent> event(new Kor::Event::AlarmAcknowledgedEvent());
  state_->FillArguments(event, node.ref->GetId());
  event->SetAlarm(AlarmArgument(alarm));
  event->SetEntity(EntityArgument(node.ref));
  event->SetSource(EntityArgument(const_cast<Movel::MoRef*>(alarm.impl->Info()->PeekEntity())));
  state_->Log(event, node.ref, user, 0);
}

void DemoAlarmManager::SetAlarmStatus(Movel::MoRef* alarmRef, Movel::MoRef* entity,
                                      EntityStatus status) {
  Alarm alarm = FindAlarm(alarmRef);
  const Node& node = NodeOf(entity, "entity");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!states_.count(StateKey(alarm.ref->GetId(), node.ref->GetId()))) {
      ThrowInvalidArgument("entity", "alarm " + alarm.ref->GetId() + " does not watch " + node.name);
    }
  }
  Apply(alarm, node.ref, status, 0, CurrentUser());
}

void DemoAlarmManager::RetrieveTriggers(Movel::MoRef* entity,
                                        Ref<Movel::DataArray<Kor::Alarm::AlarmTrigger>>& result) {
  std::string id = entity ? state_->NodeOf(entity).ref->GetId() : std::string();
  Ref<Movel::DataArray<Kor::Alarm::AlarmTrigger>> out(
      new Movel::DataArray<Kor::Alarm::AlarmTrigger>());
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& trigger : triggers_) {
    if (id.empty() || trigger->PeekEntity()->GetId() == id) {
      out->Append(static_cast<Kor::Alarm::AlarmTrigger*>(trigger->_Clone()));
    }
  }
  result = out;
}

void DemoAlarmManager::EntityChanged(Movel::MoRef* entity, int chain) {
  std::vector<Alarm> alarms;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    alarms = alarms_;
  }
  for (const Alarm& alarm : alarms) {
    Ref<Kor::Alarm::AlarmInfo> info = alarm.impl->Info();
    if (!info->enabled) continue;
    for (const Ref<Movel::MoRef>& watched : Watched(info)) {
      if (*watched == *entity) {
        Apply(alarm, watched, Evaluate(info->PeekExpression(), watched), chain, std::string());
      }
    }
  }
}

void DemoAlarmManager::Remove(Movel::MoRef* ref) {
  Alarm alarm = FindAlarm(ref);
  std::string user = CurrentUser();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    alarms_.erase(std::remove_if(alarms_.begin(), alarms_.end(),
                                 [&](const Alarm& a) { return *a.ref == *ref; }),
                  alarms_.end());
    for (auto it = states_.begin(); it != states_.end();) {
      it = it->first.first == ref->GetId() ? states_.erase(it) : std::next(it);
    }
  }
  Ref<Kor::Event::AlarmRemovedEvent> event(new Kor::Event::AlarmRemovedEvent());
  Movel::MoRef* entity = const_cast<Movel::MoRef*>(alarm.impl->Info()->PeekEntity());
  state_->FillArguments(event, entity->GetId());
  event->SetAlarm(AlarmArgument(alarm));
  event->SetEntity(EntityArgument(entity));
  state_->Log(event, entity, user, 0);
  state_->server->Unregister(alarm.ref);
}

namespace {

// ---- the event history ------------------------------------------------------

// Pages through the events that match its filter. Positions count matching
// events from the oldest; new matching events join at the newest end, so a
// position stays valid as the history grows. Both reads return events oldest
// first.
class DemoEventCollector : public Kor::Event::EventHistoryCollectorSkeleton {
 public:
  DemoEventCollector(std::shared_ptr<State> state, Kor::Event::EventFilterSpec* spec,
                     Selection selection)
      : state_(std::move(state)), spec_(spec), selection_(std::move(selection)) {
    std::size_t count = state_->Matching(selection_).size();
    cursor_ = count - std::min<std::size_t>(count, static_cast<std::size_t>(pageSize_));
  }

  void GetFilter(Ref<Movel::Any>& result) override { result = spec_->_Clone(); }
  void GetLatestPage(Ref<Movel::DataArray<Kor::Event::Event>>& result) override {
    auto events = state_->Matching(selection_);
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t page = std::min<std::size_t>(events.size(), static_cast<std::size_t>(pageSize_));
    result = State::Copies(events, events.size() - page, events.size(), selection_.dropMessages);
  }
  void ReadNextEvents(int maxCount, Ref<Movel::DataArray<Kor::Event::Event>>& result) override {
    CheckCount(maxCount);
    auto events = state_->Matching(selection_);
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t from = std::min(cursor_, events.size());
    std::size_t to = std::min(events.size(), from + static_cast<std::size_t>(maxCount));
    cursor_ = to;
    result = State::Copies(events, from, to, selection_.dropMessages);
  }
  void ReadPreviousEvents(int maxCount, Ref<Movel::DataArray<Kor::Event::Event>>& result) override {
    CheckCount(maxCount);
    auto events = state_->Matching(selection_);
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t to = std::min(cursor_, events.size());
    std::size_t from = to - std::min(to, static_cast<std::size_t>(maxCount));
    cursor_ = from;
    result = State::Copies(events, from, to, selection_.dropMessages);
  }
  void SetCollectorPageSize(int maxCount) override {
    CheckCount(maxCount);
    std::lock_guard<std::mutex> lock(mutex_);
    pageSize_ = maxCount;
  }
  // To the oldest event: reading next starts there.
  void RewindCollector() override {
    std::lock_guard<std::mutex> lock(mutex_);
    cursor_ = 0;
  }
  // To just before the latest page: reading next gives that page, reading
  // previous what came before it.
  void ResetCollector() override {
    std::size_t count = state_->Matching(selection_).size();
    std::lock_guard<std::mutex> lock(mutex_);
    cursor_ = count - std::min<std::size_t>(count, static_cast<std::size_t>(pageSize_));
  }
  void DestroyCollector() override {
    Ref<Movel::MoRef> self(_GetRef());
    if (state_->server->Unregister(self)) {
      std::lock_guard<std::mutex> lock(state_->mutex);
      --state_->collectors;
    }
  }

 private:
  static void CheckCount(int maxCount) {
    if (maxCount <= 0) ThrowInvalidArgument("maxCount", "maxCount must be positive");
  }

  const std::shared_ptr<State> state_;
  const Ref<Kor::Event::EventFilterSpec> spec_;  // a copy of the caller's
  const Selection selection_;
  std::mutex mutex_;
  int pageSize_ = kDefaultPageSize;
  std::size_t cursor_ = 0;
};

class DemoEventManager : public Kor::Event::EventManagerSkeleton {
 public:
  explicit DemoEventManager(std::shared_ptr<State> state) : state_(std::move(state)) {
    description_ = new Kor::Event::EventDescription();
    Movel::EnumType* categories = Movel::GetEnumType<Category>();
    for (const std::string& name : categories->GetValues()) {
      Ref<Kor::ElementDescription> e(new Kor::ElementDescription());
      e->key = name;
      e->label = name;
      e->summary = name;
      description_->GetCategory()->Append(e);
    }
    // The event types this server logs, and the free-text ones clients may
    // post, with their categories.
    const std::pair<const char*, Category> kinds[] = {
        {"kor.event.VmPoweredOnEvent", Category::info},
        {"kor.event.VmPoweredOffEvent", Category::info},
        {"kor.event.VmReconfiguredEvent", Category::info},
        {"kor.event.TaskEvent", Category::info},
        {"kor.event.AlarmCreatedEvent", Category::info},
        {"kor.event.AlarmRemovedEvent", Category::info},
        {"kor.event.AlarmStatusChangedEvent", Category::warning},
        {"kor.event.AlarmAcknowledgedEvent", Category::info},
        {"kor.event.GeneralUserEvent", Category::user},
        {"kor.event.GeneralVmInfoEvent", Category::info},
        {"kor.event.GeneralVmWarningEvent", Category::warning},
        {"kor.event.GeneralVmErrorEvent", Category::error},
        {"kor.event.GeneralHostInfoEvent", Category::info},
        {"kor.event.GeneralHostWarningEvent", Category::warning},
        {"kor.event.GeneralHostErrorEvent", Category::error},
    };
    for (const auto& kind : kinds) {
      Ref<Kor::Event::EventDescription::EventDetail> detail(
          new Kor::Event::EventDescription::EventDetail());
      detail->key = Movel::TypeName(kind.first);
      detail->category = kind.second;
      detail->fullFormat = kind.first;
      description_->GetEventInfo()->Append(detail);
      state_->categoryOf[kind.first] = static_cast<int>(kind.second);
    }
  }

  void GetDescription(Ref<Kor::Event::EventDescription>& result) override {
    result = static_cast<Kor::Event::EventDescription*>(description_->_Clone());
  }
  void CreateCollectorForEvents(Kor::Event::EventFilterSpec* filter,
                                Ref<Movel::MoRef>& result) override {
    Selection selection = state_->Select(filter);
    int serial;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      if (state_->collectors >= kMaxCollectors) {
        Ref<Kor::Fault::InvalidState> fault(new Kor::Fault::InvalidState());
        AddMessage(fault, "demo.fault.TooManyCollectors",
                   "at most " + std::to_string(kMaxCollectors) +
                       " collectors at once: destroy one first");
        fault->Throw();
      }
      ++state_->collectors;
      serial = ++state_->collectorSerial;
    }
    Ref<Kor::Event::EventFilterSpec> copy(static_cast<Kor::Event::EventFilterSpec*>(filter->_Clone()));
    result = state_->server->Register(new DemoEventCollector(state_, copy, std::move(selection)),
                                      "event-collector-" + std::to_string(serial));
  }
  void QueryEvents(Kor::Event::EventFilterSpec* filter,
                   Ref<Movel::DataArray<Kor::Event::Event>>& result) override {
    Selection selection = state_->Select(filter);
    auto events = state_->Matching(selection);
    result = State::Copies(events, 0, events.size(), selection.dropMessages);
  }
  void QueryEventsByKey(Movel::Array<int>* keys,
                        Ref<Movel::DataArray<Kor::Event::Event>>& result) override {
    if (!keys) ThrowInvalidArgument("key", "keys are required");
    std::vector<Ref<Kor::Event::Event>> found;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      for (int key : keys->GetValues()) {
        if (key >= 1 && static_cast<std::size_t>(key) <= state_->events.size()) {
          found.push_back(state_->events[static_cast<std::size_t>(key) - 1].event);
        }
      }
    }
    result = State::Copies(found, 0, found.size(), false);
  }
  long long CountEvents(Kor::Event::EventFilterSpec* filter) override {
    return static_cast<long long>(state_->Matching(state_->Select(filter)).size());
  }
  void LogUserEvent(Movel::MoRef* entity, const std::string& msg) override {
    if (!entity) ThrowInvalidArgument("entity", "entity is required");
    const Node& node = state_->NodeOf(entity);
    Ref<Kor::Event::GeneralUserEvent> event(new Kor::Event::GeneralUserEvent());
    state_->FillArguments(event, node.ref->GetId());
    event->message = msg;
    Ref<Kor::Event::ManagedEntityEventArgument> arg(new Kor::Event::ManagedEntityEventArgument());
    arg->name = state_->NameOf(node.ref->GetId());
    arg->SetEntity(node.ref);
    event->SetEntity(arg);
    state_->Log(event, node.ref, CurrentUser(), 0);
  }
  // Logs a copy of the event. The server stamps key, chain, time and user;
  // the entity it is about is the most specific entity argument it names.
  void PostEvent(Kor::Event::Event* eventToPost, Kor::TaskInfo* taskInfo) override {
    if (!eventToPost) ThrowInvalidArgument("eventToPost", "an event is required");
    Ref<Kor::Event::Event> event(static_cast<Kor::Event::Event*>(eventToPost->_Clone()));
    Ref<Movel::MoRef> entity;
    const Kor::Event::EntityEventArgument* args[] = {event->PeekVm(), event->PeekHost(),
                                                     event->PeekComputeResource(),
                                                     event->PeekDatacenter()};
    const Movel::MoRef* refs[] = {
        event->PeekVm() ? event->PeekVm()->PeekVm() : nullptr,
        event->PeekHost() ? event->PeekHost()->PeekHost() : nullptr,
        event->PeekComputeResource() ? event->PeekComputeResource()->PeekComputeResource() : nullptr,
        event->PeekDatacenter() ? event->PeekDatacenter()->PeekDatacenter() : nullptr};
    for (int i = 0; i < 4 && !entity; ++i) {
      if (args[i] && refs[i]) entity = state_->NodeOf(const_cast<Movel::MoRef*>(refs[i])).ref;
    }
    int chain = 0;
    if (taskInfo) {
      // Joins the chain of the task's own events.
      std::lock_guard<std::mutex> lock(state_->mutex);
      for (const Logged& logged : state_->events) {
        const auto* taskEvent = dynamic_cast<const Kor::Event::TaskEvent*>(logged.event.Get());
        if (taskEvent && taskEvent->PeekInfo() && taskEvent->PeekInfo()->key == taskInfo->key) {
          chain = logged.event->chainId;
          break;
        }
      }
    }
    state_->Log(event, entity, CurrentUser(), chain);
  }

 private:
  const std::shared_ptr<State> state_;
  Ref<Kor::Event::EventDescription> description_;
};

// ---- inventory ----------------------------------------------------------------

// Longest name an entity may take.
constexpr std::size_t kMaxNameLength = 80;

[[noreturn]] void ThrowInvalidName(const std::string& name, Movel::MoRef* entity,
                                   const std::string& text) {
  Ref<Kor::Fault::InvalidName> fault(new Kor::Fault::InvalidName());
  fault->name = name;
  fault->SetEntity(entity);
  AddMessage(fault, "demo.fault.InvalidName", text);
  throw Kor::Fault::InvalidName::Exception(fault.Get());
}

[[noreturn]] void ThrowInvalidState(const std::string& text) {
  Ref<Kor::Fault::InvalidState> fault(new Kor::Fault::InvalidState());
  AddMessage(fault, "demo.fault.InvalidState", text);
  throw Kor::Fault::InvalidState::Exception(fault.Get());
}

[[noreturn]] void ThrowItemNotFound(const std::string& text) {
  Ref<Kor::Fault::NotFound> fault(new Kor::Fault::NotFound());
  AddMessage(fault, "demo.fault.NotFound", text);
  throw Kor::Fault::NotFound::Exception(fault.Get());
}

Ref<Movel::DataArray<Movel::MoRef>> RefList(const std::vector<Ref<Movel::MoRef>>& refs) {
  Ref<Movel::DataArray<Movel::MoRef>> out(new Movel::DataArray<Movel::MoRef>());
  for (const Ref<Movel::MoRef>& ref : refs) out->Append(ref);
  return out;
}

template <class T>
Ref<T> CloneOf(const T* object) {
  return Ref<T>(object ? static_cast<T*>(object->_Clone()) : nullptr);
}

// What a host's entities share: its reported network and storage state,
// which its network and storage systems change, and its maintenance mode
// with the count of its powered-on machines, which power operations and
// maintenance mode check against each other. Lock order: a host's mutex
// before any of its machines' own.
struct HostState {
  std::mutex mutex;  // guards what follows
  Ref<Kor::Host::NetworkInfo> network;
  HostStorageState storage;
  bool maintenance = false;
  int poweredOn = 0;
};

// The parts every inventory entity serves from the shared state: name,
// parent, status, rename.
template <class Skeleton>
class DemoEntity : public Skeleton {
 public:
  explicit DemoEntity(std::shared_ptr<State> state) : state_(std::move(state)) {}
  std::string GetName() override { return state_->NameOf(Id()); }
  void GetParent(Ref<Movel::MoRef>& result) override {
    const Node* up = state_->FindNode(Self().parent);
    result = up ? up->ref.Get() : nullptr;
  }
  EntityStatus GetOverallStatus() override { return EntityStatus::green; }
  EntityStatus GetConfigStatus() override { return EntityStatus::green; }
  void Reload() override {}

  // A new name must be non-empty, at most kMaxNameLength characters, and
  // free among the entity's siblings.
  void Rename(const std::string& newName, Ref<Movel::MoRef>& result) override {
    Ref<Movel::MoRef> self(this->_GetRef());
    if (newName.empty()) ThrowInvalidName(newName, self, "a name must not be empty");
    if (newName.size() > kMaxNameLength) {
      ThrowInvalidName(newName, self,
                       "a name has at most " + std::to_string(kMaxNameLength) + " characters");
    }
    std::string oldName;
    {
      std::lock_guard<std::mutex> lock(state_->namesMutex);
      Node& node = state_->nodes.at(self->GetId());
      if (const Node* parent = state_->FindNode(node.parent)) {
        for (const Ref<Movel::MoRef>& sibling : parent->children) {
          if (sibling->GetId() != self->GetId() && state_->nodes.at(sibling->GetId()).name == newName) {
            Ref<Kor::Fault::DuplicateName> fault(new Kor::Fault::DuplicateName());
            fault->name = newName;
            fault->SetObject(parent->ref);
            AddMessage(fault, "demo.fault.DuplicateName",
                       "the name " + newName + " is taken in " + parent->name);
            throw Kor::Fault::DuplicateName::Exception(fault.Get());
          }
        }
      }
      oldName = node.name;
      node.name = newName;
    }
    std::string user = CurrentUser();
    int chain = 0;
    if (self->GetType() == Movel::GetMoType<Kor::VirtualMachine>()) {
      Ref<Kor::Event::VmRenamedEvent> event(new Kor::Event::VmRenamedEvent());
      state_->FillArguments(event, self->GetId());
      event->oldName = oldName;
      event->newName = newName;
      chain = state_->Log(event, self, user, 0);
    }
    std::string type = self->GetType()->GetName();
    if (type.rfind("kor.", 0) == 0) type = type.substr(4);
    result = state_->FinishTask(type + ".rename", self, user, nullptr, chain);
  }

 protected:
  std::string Id() const { return this->_GetRef()->GetId(); }
  // Registered entities are always nodes of the inventory.
  const Node& Self() const { return *state_->FindNode(Id()); }

  const std::shared_ptr<State> state_;
};

Ref<Kor::Vm::Device::VirtualDevice> Labelled(Kor::Vm::Device::VirtualDevice* device, int key,
                                             const std::string& label) {
  Ref<Kor::Vm::Device::VirtualDevice> held(device);
  held->key = key;
  Ref<Kor::Description> info(new Kor::Description());
  info->label = label;
  info->summary = label;
  held->SetDeviceInfo(info);
  return held;
}

Ref<Kor::Fault::InvalidDeviceSpec> DeviceFault(int index, const std::string& text,
                                               bool notFound = false) {
  Ref<Kor::Fault::InvalidDeviceSpec> fault(notFound ? new Kor::Fault::DeviceNotFound()
                                                    : new Kor::Fault::InvalidDeviceSpec());
  fault->deviceIndex = index;
  fault->property = Movel::PropertyPath("deviceChange[" + std::to_string(index) + "]");
  AddMessage(fault, "demo.fault.InvalidDeviceSpec", text);
  return fault;
}

// Where a virtual machine lives and how big it is.
struct VmLayout {
  std::string name;  // its first name, which its files keep
  int number = 0;    // of its id
  Ref<Movel::MoRef> host;
  std::shared_ptr<HostState> hostState;
  Ref<Movel::MoRef> datastore;
  std::string datastoreName;
  Ref<Movel::MoRef> network;
  int numCpus = 2;
  int memoryMB = 4096;
};

class DemoVirtualMachine : public DemoEntity<Kor::VirtualMachineSkeleton> {
 public:
  using Power = Kor::VirtualMachine::PowerState;

  DemoVirtualMachine(std::shared_ptr<State> state, const VmLayout& layout)
      : DemoEntity(std::move(state)),
        host_(layout.host),
        hostState_(layout.hostState),
        numCpus_(layout.numCpus),
        memoryMB_(layout.memoryMB) {
    char text[64];
    std::snprintf(text, sizeof text, "4211b1f2-demo-%04d", layout.number);
    uuid_ = text;
    const std::string files = "[" + layout.datastoreName + "] " + layout.name + "/" + layout.name;
    vmPath_ = files + ".vmx";
    devices_ = new Movel::DataArray<Kor::Vm::Device::VirtualDevice>();
    auto pci = Labelled(new Kor::Vm::Device::VirtualPCIController(), 100, "PCI controller 0");
    auto ide = Labelled(new Kor::Vm::Device::VirtualIDEController(), 200, "IDE 0");
    auto scsi = Labelled(new Kor::Vm::Device::ParaVirtualSCSIController(), 1000, "SCSI controller 0");
    static_cast<Kor::Vm::Device::VirtualController*>(scsi.Get())->busNumber = 0;
    scsi->controllerKey = 100;
    auto disk = Labelled(new Kor::Vm::Device::VirtualDisk(), 2000, "Hard disk 1");
    static_cast<Kor::Vm::Device::VirtualDisk*>(disk.Get())->capacityInKB = 16LL << 20;
    Ref<Kor::Vm::Device::VirtualDisk::FlatVer2BackingInfo> backing(
        new Kor::Vm::Device::VirtualDisk::FlatVer2BackingInfo());
    backing->fileName = files + ".vmdk";
    backing->SetDatastore(layout.datastore);
    backing->diskMode = Kor::Vm::Device::VirtualDiskOption::DiskMode::persistent;
    disk->SetBacking(backing);
    disk->controllerKey = 1000;
    disk->unitNumber = 0;
    static_cast<Kor::Vm::Device::VirtualController*>(scsi.Get())->GetDevice()->Append(2000);
    auto nic = Labelled(new Kor::Vm::Device::VirtualE1000(), 4000, "Network adapter 1");
    nic->controllerKey = 100;
    std::snprintf(text, sizeof text, "00:50:56:%02x:%02x:%02x", (layout.number >> 16) & 0xff,
                  (layout.number >> 8) & 0xff, layout.number & 0xff);
    Movel::SetOptionalString(static_cast<Kor::Vm::Device::VirtualEthernetCard*>(nic.Get())->macAddress, text);
    Ref<Kor::Vm::Device::VirtualEthernetCard::NetworkBackingInfo> network(
        new Kor::Vm::Device::VirtualEthernetCard::NetworkBackingInfo());
    network->deviceName = kVmPortGroup;
    network->SetNetwork(layout.network);
    nic->SetBacking(network);
    for (auto* d : {pci.Get(), ide.Get(), scsi.Get(), disk.Get(), nic.Get()}) devices_->Append(d);
  }

  void GetRuntime(Ref<Kor::Vm::RuntimeInfo>& result) override {
    std::lock_guard<std::mutex> lock(mutex_);
    result = RuntimeLocked();
  }
  void GetConfig(Ref<Kor::Vm::ConfigInfo>& result) override {
    Ref<Kor::Vm::ConfigInfo> config(new Kor::Vm::ConfigInfo());
    Ref<Kor::Vm::VirtualHardware> hardware(new Kor::Vm::VirtualHardware());
    config->name = GetName();
    std::lock_guard<std::mutex> lock(mutex_);
    config->guestId = "otherLinux64Guest";
    config->guestFullName = "Other Linux (64-bit)";
    config->version = "vmx-14";
    config->uuid = uuid_;
    config->changeVersion = std::to_string(changeVersion_);
    config->modified = modified_;
    if (!annotation_.empty()) Movel::SetOptionalString(config->annotation, annotation_);
    hardware->numCPU = numCpus_;
    hardware->memoryMB = memoryMB_;
    hardware->SetDevice(CloneOf(devices_.Get()));
    config->SetHardware(hardware);
    result = config;
  }
  void GetSummary(Ref<Kor::Vm::Summary>& result) override {
    Ref<Kor::Vm::Summary> summary(new Kor::Vm::Summary());
    Ref<Kor::Vm::Summary::ConfigSummary> config(new Kor::Vm::Summary::ConfigSummary());
    config->name = GetName();
    summary->SetVm(_GetRef());
    summary->SetQuickStats(Ref<Kor::Vm::Summary::QuickStats>(new Kor::Vm::Summary::QuickStats()));
    summary->overallStatus = EntityStatus::green;
    std::lock_guard<std::mutex> lock(mutex_);
    summary->SetRuntime(RuntimeLocked());
    config->template_ = false;
    config->vmPathName = vmPath_;
    config->memorySizeMB = memoryMB_;
    config->numCpu = numCpus_;
    for (const Kor::Vm::Device::VirtualDevice* d : *devices_) {
      if (dynamic_cast<const Kor::Vm::Device::VirtualEthernetCard*>(d)) ++config->numEthernetCards;
      if (dynamic_cast<const Kor::Vm::Device::VirtualDisk*>(d)) ++config->numVirtualDisks;
    }
    Movel::SetOptionalString(config->uuid, uuid_);
    Movel::SetOptionalString(config->guestId, "otherLinux64Guest");
    Movel::SetOptionalString(config->guestFullName, "Other Linux (64-bit)");
    if (!annotation_.empty()) Movel::SetOptionalString(config->annotation, annotation_);
    summary->SetConfig(config);
    result = summary;
  }
  void GetDatastore(Ref<Movel::DataArray<Movel::MoRef>>& result) override { result = RefList(Self().datastores); }
  void GetNetwork(Ref<Movel::DataArray<Movel::MoRef>>& result) override { result = RefList(Self().networks); }
  // No guest tools run in these machines, so no heartbeat either.
  EntityStatus GetGuestHeartbeatStatus() override { return EntityStatus::gray; }

  void PowerOn(Movel::MoRef* host, Ref<Movel::MoRef>& result) override {
    if (host && *state_->NodeOf(host).ref != *host_) {
      ThrowInvalidArgument("host", "the machine is registered on " + state_->NameOf(host_->GetId()) +
                                       "; running it elsewhere takes a migration");
    }
    SetPower(Power::poweredOn, {Power::poweredOff, Power::suspended}, new Kor::Event::VmPoweredOnEvent(),
             "VirtualMachine.powerOn", result);
  }
  void PowerOff(Ref<Movel::MoRef>& result) override {
    SetPower(Power::poweredOff, {Power::poweredOn, Power::suspended}, new Kor::Event::VmPoweredOffEvent(),
             "VirtualMachine.powerOff", result);
  }
  void Suspend(Ref<Movel::MoRef>& result) override {
    SetPower(Power::suspended, {Power::poweredOn}, new Kor::Event::VmSuspendedEvent(),
             "VirtualMachine.suspend", result);
  }
  void Reset(Ref<Movel::MoRef>& result) override {
    SetPower(Power::poweredOn, {Power::poweredOn}, new Kor::Event::VmResettingEvent(),
             "VirtualMachine.reset", result);
  }
  // The guest operations need guest tools, which these machines lack.
  void ShutdownGuest() override { GuestOperation(); }
  void RebootGuest() override { GuestOperation(); }
  void StandbyGuest() override { GuestOperation(); }
  void Reconfigure(Kor::Vm::ConfigSpec* spec, Ref<Movel::MoRef>& result) override;

 private:
  Ref<Kor::Vm::RuntimeInfo> RuntimeLocked() const {
    Ref<Kor::Vm::RuntimeInfo> runtime(new Kor::Vm::RuntimeInfo());
    runtime->powerState = powerState_;
    runtime->connectionState = Kor::VirtualMachine::ConnectionState::connected;
    runtime->SetHost(host_);
    runtime->numMksConnections = 0;
    runtime->toolsInstallerMounted = false;
    return runtime;
  }

  [[noreturn]] void ThrowPowerState(Power requested) const {
    Ref<Kor::Fault::InvalidPowerState> fault(new Kor::Fault::InvalidPowerState());
    fault->existingState = powerState_;
    fault->requestedState = requested;
    throw Kor::Fault::InvalidPowerState::Exception(fault.Get());
  }

  void GuestOperation() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (powerState_ != Power::poweredOn) ThrowPowerState(Power::poweredOn);
    Ref<Kor::Fault::ToolsUnavailable> fault(new Kor::Fault::ToolsUnavailable());
    AddMessage(fault, "demo.fault.ToolsUnavailable", "no guest tools run in " + GetName());
    throw Kor::Fault::ToolsUnavailable::Exception(fault.Get());
  }

  // Moves to state to when the machine is in one of the states from; else
  // InvalidPowerState. Powering on on a host in maintenance mode is
  // InvalidState.
  void SetPower(Power to, std::initializer_list<Power> from, Kor::Event::Event* made,
                const std::string& descriptionId, Ref<Movel::MoRef>& result) {
    Ref<Kor::Event::Event> event(made);
    {
      std::lock_guard<std::mutex> hostLock(hostState_->mutex);
      std::lock_guard<std::mutex> lock(mutex_);
      if (std::find(from.begin(), from.end(), powerState_) == from.end()) ThrowPowerState(to);
      if (to == Power::poweredOn && powerState_ != Power::poweredOn && hostState_->maintenance) {
        ThrowInvalidState("host " + state_->NameOf(host_->GetId()) + " is in maintenance mode");
      }
      if (powerState_ == Power::poweredOn) --hostState_->poweredOn;
      if (to == Power::poweredOn) ++hostState_->poweredOn;
      powerState_ = to;
    }
    Ref<Movel::MoRef> self(_GetRef());
    std::string user = CurrentUser();
    state_->FillArguments(event, self->GetId());
    int chain = state_->Log(event, self, user, 0);
    state_->alarms->EntityChanged(self, chain);
    result = state_->FinishTask(descriptionId, self, user, nullptr, chain);
  }

  // Applies the device changes to a copy of the device list; the first bad
  // change gives its fault and nothing is applied.
  Ref<Kor::Fault::VmConfigFault> Apply(const Kor::Vm::ConfigSpec* spec,
                                       Ref<Movel::DataArray<Kor::Vm::Device::VirtualDevice>>& devices);

  const Ref<Movel::MoRef> host_;
  const std::shared_ptr<HostState> hostState_;
  std::string uuid_, vmPath_;
  mutable std::mutex mutex_;  // guards what follows
  Power powerState_ = Power::poweredOff;
  Ref<Movel::DataArray<Kor::Vm::Device::VirtualDevice>> devices_;
  int numCpus_;
  int memoryMB_;
  std::string annotation_;
  int changeVersion_ = 1;
  DateTime modified_;
};

Ref<Kor::Fault::VmConfigFault> DemoVirtualMachine::Apply(
    const Kor::Vm::ConfigSpec* spec, Ref<Movel::DataArray<Kor::Vm::Device::VirtualDevice>>& devices) {
  using Op = Kor::Vm::Device::VirtualDeviceSpec::Operation;
  using Device = Kor::Vm::Device::VirtualDevice;
  auto find = [&](int key) -> int {
    for (int i = 0; i < devices->GetLength(); ++i) {
      if (devices->Get(i) && devices->Get(i)->key == key) return i;
    }
    return -1;
  };
  auto controllerOf = [&](int key) -> Kor::Vm::Device::VirtualController* {
    int at = find(key);
    return at < 0 ? nullptr : dynamic_cast<Kor::Vm::Device::VirtualController*>(devices->Get(at));
  };
  auto detach = [&](const Device* device) {
    if (!device->controllerKey.IsSet()) return;
    Kor::Vm::Device::VirtualController* controller = controllerOf(device->controllerKey.GetValue());
    if (!controller || !controller->PeekDevice()) return;
    auto& keys = controller->GetDevice()->GetValues();
    keys.erase(std::remove(keys.begin(), keys.end(), device->key), keys.end());
  };
  std::map<int, int> assigned;  // temporary (negative) keys of added devices
  const auto* changes = spec->PeekDeviceChange();
  for (int i = 0; changes && i < changes->GetLength(); ++i) {
    const Kor::Vm::Device::VirtualDeviceSpec* change = changes->Get(i);
    if (!change || !change->PeekDevice()) return DeviceFault(i, "a device change names no device");
    if (!change->operation.IsSet()) return DeviceFault(i, "a device change needs an operation");
    Ref<Device> device(static_cast<Device*>(change->PeekDevice()->_Clone()));
    if (device->controllerKey.IsSet()) {
      auto temp = assigned.find(device->controllerKey.GetValue());
      if (temp != assigned.end()) device->controllerKey = temp->second;
    }
    int at = find(device->key);
    switch (change->operation.GetValue()) {
      case Op::add: {
        if (device->key > 0 && at >= 0) {
          return DeviceFault(i, "device key " + std::to_string(device->key) + " is taken");
        }
        if (device->key <= 0) {
          // Next key after the newest device of the same class, or after
          // every key when the class is new to this machine.
          int key = 0, sameClass = 0;
          for (const Device* d : *devices) {
            key = std::max(key, d->key);
            if (d->_GetType() == device->_GetType()) sameClass = std::max(sameClass, d->key);
          }
          int next = (sameClass ? sameClass : key) + 1;
          while (find(next) >= 0) ++next;
          if (device->key < 0) assigned[device->key] = next;
          device->key = next;
        }
        if (device->controllerKey.IsSet()) {
          Kor::Vm::Device::VirtualController* controller = controllerOf(device->controllerKey.GetValue());
          if (!controller) {
            return DeviceFault(i, "no controller with key " +
                                      std::to_string(device->controllerKey.GetValue()));
          }
          if (device->unitNumber.IsSet()) {
            for (const Device* d : *devices) {
              if (d->controllerKey.IsSet() && d->controllerKey.GetValue() == controller->key &&
                  d->unitNumber.IsSet() && d->unitNumber.GetValue() == device->unitNumber.GetValue()) {
                return DeviceFault(i, "unit " + std::to_string(device->unitNumber.GetValue()) +
                                          " of controller " + std::to_string(controller->key) +
                                          " is taken");
              }
            }
          }
          if (dynamic_cast<Kor::Vm::Device::VirtualController*>(device.Get()) == nullptr) {
            controller->GetDevice()->Append(device->key);
          }
        }
        devices->Append(device);
        break;
      }
      case Op::remove: {
        if (at < 0) return DeviceFault(i, "no device with key " + std::to_string(device->key), true);
        auto* controller = dynamic_cast<Kor::Vm::Device::VirtualController*>(devices->Get(at));
        if (controller && controller->PeekDevice()) {
          return DeviceFault(i, "controller " + std::to_string(device->key) + " still has devices");
        }
        detach(devices->Get(at));
        devices->Erase(at);
        break;
      }
      case Op::edit: {
        if (at < 0) return DeviceFault(i, "no device with key " + std::to_string(device->key), true);
        if (devices->Get(at)->_GetType() != device->_GetType()) {
          return DeviceFault(i, "an edit cannot change a device's class");
        }
        devices->Set(at, device);
        break;
      }
    }
  }
  return nullptr;
}

void DemoVirtualMachine::Reconfigure(Kor::Vm::ConfigSpec* spec, Ref<Movel::MoRef>& result) {
  if (!spec) ThrowInvalidArgument("spec", "spec is required");
  Ref<Movel::MoRef> self(_GetRef());
  std::string user = CurrentUser();
  Ref<Kor::Fault::VmConfigFault> fault;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Ref<Movel::DataArray<Kor::Vm::Device::VirtualDevice>> devices(
        static_cast<Movel::DataArray<Kor::Vm::Device::VirtualDevice>*>(devices_->_Clone()));
    fault = Apply(spec, devices);
    auto invalid = [&](const char* property, const std::string& text) {
      Ref<Kor::Fault::InvalidVmConfig> bad(new Kor::Fault::InvalidVmConfig());
      bad->property = Movel::PropertyPath(property);
      AddMessage(bad, "demo.fault.InvalidVmConfig", text);
      fault = bad.Get();
    };
    if (!fault && spec->numCPUs.IsSet() && spec->numCPUs.GetValue() <= 0) {
      invalid("numCPUs", "a machine needs at least one virtual CPU");
    }
    if (!fault && spec->memoryMB.IsSet() && spec->memoryMB.GetValue() <= 0) {
      invalid("memoryMB", "a machine needs memory");
    }
    if (!fault) {
      devices_ = devices;
      if (spec->numCPUs.IsSet()) numCpus_ = spec->numCPUs.GetValue();
      if (spec->memoryMB.IsSet()) memoryMB_ = static_cast<int>(spec->memoryMB.GetValue());
      if (spec->annotation) annotation_ = *spec->annotation;
      ++changeVersion_;
      modified_ = state_->Now();
    }
  }
  int chain = 0;
  if (!fault) {
    Ref<Kor::Event::VmReconfiguredEvent> event(new Kor::Event::VmReconfiguredEvent());
    state_->FillArguments(event, self->GetId());
    event->SetConfigSpec(static_cast<Kor::Vm::ConfigSpec*>(spec->_Clone()));
    chain = state_->Log(event, self, user, 0);
    state_->alarms->EntityChanged(self, chain);
  }
  result = state_->FinishTask("VirtualMachine.reconfigure", self, user, fault, chain);
}

// The product a host reports itself as.
Ref<Kor::AboutInfo> HostProduct() {
  return Ref<Kor::AboutInfo>(new Kor::AboutInfo(
      "kor hypervisor", "kor hypervisor 6.0.0 build-1207", "kor project", "6.0.0", "1207",
      std::string("INTL"), std::string("000"), "linux-x64", "korhv", "HostAgent", "6.0",
      Basekit::Optional<std::string>(), Basekit::Optional<std::string>(),
      Basekit::Optional<std::string>()));
}

// Hardware every demo host has: two sockets of 16 cores at 2.4 GHz, 512 GiB.
constexpr int kHostCpuMhz = 2400;
constexpr int kHostCores = 32;
constexpr long long kHostMemory = 512LL << 30;

class DemoHost : public DemoEntity<Kor::HostSystemSkeleton> {
 public:
  DemoHost(std::shared_ptr<State> state, std::shared_ptr<HostState> host, Movel::MoRef* networkSystem,
           Movel::MoRef* storageSystem, int number)
      : DemoEntity(std::move(state)),
        host_(std::move(host)),
        networkSystem_(networkSystem),
        storageSystem_(storageSystem),
        number_(number) {}

  void GetRuntime(Ref<Kor::Host::RuntimeInfo>& result) override {
    Ref<Kor::Host::RuntimeInfo> runtime(new Kor::Host::RuntimeInfo());
    runtime->connectionState = Kor::HostSystem::ConnectionState::connected;
    runtime->powerState = Kor::HostSystem::PowerState::poweredOn;
    runtime->standbyMode = Kor::HostSystem::StandbyMode::none;
    std::lock_guard<std::mutex> lock(host_->mutex);
    runtime->inMaintenanceMode = host_->maintenance;
    result = runtime;
  }
  void GetSummary(Ref<Kor::Host::Summary>& result) override {
    Ref<Kor::Host::Summary> summary(new Kor::Host::Summary());
    summary->SetHost(_GetRef());
    Ref<Kor::Host::Summary::HardwareSummary> hardware(new Kor::Host::Summary::HardwareSummary());
    hardware->vendor = "kor systems";
    hardware->model = "KS-2200";
    char uuid[40];
    std::snprintf(uuid, sizeof uuid, "4c4c4544-0000-1000-8000-%012x", static_cast<unsigned>(number_));
    hardware->uuid = uuid;
    hardware->memorySize = kHostMemory;
    hardware->cpuModel = "Generic 16-core processor @ 2.40GHz";
    hardware->cpuMhz = kHostCpuMhz;
    hardware->numCpuPkgs = 2;
    hardware->numCpuCores = kHostCores;
    hardware->numCpuThreads = 2 * kHostCores;
    summary->SetHardware(hardware);
    Ref<Kor::Host::RuntimeInfo> runtime;
    GetRuntime(runtime);
    summary->SetRuntime(runtime);
    Ref<Kor::Host::Summary::ConfigSummary> config(new Kor::Host::Summary::ConfigSummary());
    config->name = GetName();
    config->port = 443;
    config->SetProduct(HostProduct());
    config->liveMigrationEnabled = true;
    summary->SetConfig(config);
    summary->SetQuickStats(Ref<Kor::Host::Summary::QuickStats>(new Kor::Host::Summary::QuickStats()));
    summary->overallStatus = EntityStatus::green;
    summary->rebootRequired = false;
    {
      std::lock_guard<std::mutex> lock(host_->mutex);
      hardware->numNics = host_->network->GetPnic()->GetLength();
      hardware->numHBAs = host_->storage.devices->GetHostBusAdapter()->GetLength();
    }
    result = summary;
  }
  void GetConfigManager(Ref<Kor::Host::ConfigManager>& result) override {
    Ref<Kor::Host::ConfigManager> manager(new Kor::Host::ConfigManager());
    manager->SetNetworkSystem(networkSystem_);
    manager->SetStorageSystem(storageSystem_);
    result = manager;
  }
  // The configuration as the host reports it: copies of its network and
  // storage state, taken together.
  void GetConfig(Ref<Kor::Host::ConfigInfo>& result) override {
    Ref<Kor::Host::ConfigInfo> config(new Kor::Host::ConfigInfo());
    config->SetHost(_GetRef());
    config->SetProduct(HostProduct());
    {
      std::lock_guard<std::mutex> lock(host_->mutex);
      config->SetNetwork(CloneOf(host_->network.Get()));
      config->SetStorageDevice(CloneOf(host_->storage.devices.Get()));
      config->SetMultipathState(CloneOf(host_->storage.paths.Get()));
      config->SetFileSystemVolume(CloneOf(host_->storage.volumes.Get()));
    }
    Ref<Kor::Host::NetCapabilities> capabilities;
    Kor::Host::GetNetworkFactory()->CreateHvxNetCapabilities(capabilities);
    config->SetCapabilities(capabilities);
    result = config;
  }
  void GetVm(Ref<Movel::DataArray<Movel::MoRef>>& result) override { result = RefList(Self().vms); }
  void GetNetwork(Ref<Movel::DataArray<Movel::MoRef>>& result) override { result = RefList(Self().networks); }
  long long QueryOverhead(long long memorySize, const Basekit::Optional<int>& videoRamSize,
                          int numVcpus) override {
    if (memorySize < 0) ThrowInvalidArgument("memorySize", "memory size must not be negative");
    if (numVcpus <= 0) ThrowInvalidArgument("numVcpus", "a machine needs at least one virtual CPU");
    // A simple model: 1% of memory, the video memory, 2 MiB per virtual CPU.
    return memorySize / 100 + (videoRamSize.IsSet() ? videoRamSize.GetValue() : 0) +
           numVcpus * 2048LL * 1024;
  }

  // Maintenance mode needs every machine on the host powered off (these
  // hosts do not move machines away by themselves).
  void EnterMaintenanceMode(int timeout, const Basekit::Optional<bool>&, Kor::Host::MaintenanceSpec*,
                            Ref<Movel::MoRef>& result) override {
    if (timeout < 0) ThrowInvalidArgument("timeout", "timeout must not be negative");
    {
      std::lock_guard<std::mutex> lock(host_->mutex);
      if (host_->maintenance) ThrowInvalidState("the host is in maintenance mode already");
      if (host_->poweredOn > 0) {
        ThrowInvalidState(std::to_string(host_->poweredOn) + " virtual machines on the host are powered on");
      }
      host_->maintenance = true;
    }
    Changed(new Kor::Event::EnteredMaintenanceModeEvent(), "HostSystem.enterMaintenanceMode", result);
  }
  void ExitMaintenanceMode(int timeout, Ref<Movel::MoRef>& result) override {
    if (timeout < 0) ThrowInvalidArgument("timeout", "timeout must not be negative");
    {
      std::lock_guard<std::mutex> lock(host_->mutex);
      if (!host_->maintenance) ThrowInvalidState("the host is not in maintenance mode");
      host_->maintenance = false;
    }
    Changed(new Kor::Event::ExitMaintenanceModeEvent(), "HostSystem.exitMaintenanceMode", result);
  }

 private:
  void Changed(Kor::Event::Event* made, const std::string& descriptionId, Ref<Movel::MoRef>& result) {
    Ref<Kor::Event::Event> event(made);
    Ref<Movel::MoRef> self(_GetRef());
    std::string user = CurrentUser();
    state_->FillArguments(event, self->GetId());
    int chain = state_->Log(event, self, user, 0);
    state_->alarms->EntityChanged(self, chain);
    result = state_->FinishTask(descriptionId, self, user, nullptr, chain);
  }

  const std::shared_ptr<HostState> host_;
  const Ref<Movel::MoRef> networkSystem_, storageSystem_;
  const int number_;
};

// A host's network system: reads and edits the host's reported network
// state. Edits are checked as the host checks them and then applied whole.
class DemoNetworkSystem : public Kor::Host::NetworkSystemSkeleton {
 public:
  explicit DemoNetworkSystem(std::shared_ptr<HostState> host) : host_(std::move(host)) {}

  void GetNetworkInfo(Ref<Kor::Host::NetworkInfo>& result) override { result = Info(); }
  // The configuration that gives the state as it stands.
  void GetNetworkConfig(Ref<Kor::Host::NetworkConfig>& result) override {
    Ref<Kor::Host::NetworkInfo> info = Info();
    Kor::Host::GetNetworkFactory()->CreateNetworkConfig(result, info);
  }
  void GetDnsConfig(Ref<Kor::Host::DnsConfig>& result) override {
    std::lock_guard<std::mutex> lock(host_->mutex);
    result = CloneOf(host_->network->PeekDnsConfig());
  }
  void GetIpRouteConfig(Ref<Kor::Host::IpRouteConfig>& result) override {
    std::lock_guard<std::mutex> lock(host_->mutex);
    result = CloneOf(host_->network->PeekIpRouteConfig());
  }
  void GetCapabilities(Ref<Kor::Host::NetCapabilities>& result) override {
    Kor::Host::GetNetworkFactory()->CreateHvxNetCapabilities(result);
  }
  void GetOffloadCapabilities(Ref<Kor::Host::NetOffloadCapabilities>& result) override {
    Kor::Host::GetNetworkFactory()->CreateNetOffloadCapabilities(result, true);
  }

  void AddVirtualSwitch(const std::string& vswitchName, Kor::Host::VirtualSwitch::Specification* spec) override {
    if (vswitchName.empty()) ThrowInvalidArgument("vswitchName", "a switch needs a name");
    Kor::Host::NetworkFactory* f = Kor::Host::GetNetworkFactory();
    Ref<Kor::Host::VirtualSwitch> vswitch;
    f->CreateVirtualSwitch(vswitch);
    vswitch->name = vswitchName;
    vswitch->key = "key-vswitch-" + vswitchName;
    if (spec) vswitch->SetSpec(CloneOf(spec));
    vswitch->numPorts = vswitch->PeekSpec()->numPorts;
    if (vswitch->numPorts < 0) ThrowInvalidArgument("spec.numPorts", "a port count must not be negative");
    vswitch->numPortsAvailable = vswitch->numPorts;
    std::lock_guard<std::mutex> lock(host_->mutex);
    if (FindSwitch(vswitchName) >= 0) ThrowAlreadyExists(vswitchName);
    host_->network->GetVswitch()->Append(vswitch);
  }
  // Removing a switch removes its port groups; a switch whose port groups a
  // virtual NIC uses stays.
  void RemoveVirtualSwitch(const std::string& vswitchName) override {
    std::lock_guard<std::mutex> lock(host_->mutex);
    int at = FindSwitch(vswitchName);
    if (at < 0) ThrowItemNotFound("no virtual switch " + vswitchName);
    Kor::Host::NetworkInfo* info = host_->network;
    for (const Kor::Host::PortGroup* group : *info->GetPortgroup()) {
      if (group->PeekSpec()->vswitchName == vswitchName && InUse(group->PeekSpec()->name)) {
        ThrowInUse("kor.host.VirtualSwitch", vswitchName);
      }
    }
    auto* groups = info->GetPortgroup();
    for (int i = groups->GetLength() - 1; i >= 0; --i) {
      if (groups->Get(i)->PeekSpec()->vswitchName == vswitchName) groups->Erase(i);
    }
    info->GetVswitch()->Erase(at);
  }
  void AddPortGroup(Kor::Host::PortGroup::Specification* portgrp) override {
    if (!portgrp) ThrowInvalidArgument("portgrp", "portgrp is required");
    if (portgrp->name.empty()) ThrowInvalidArgument("portgrp.name", "a port group needs a name");
    if (portgrp->vlanId < 0 || portgrp->vlanId > 4095) {
      ThrowInvalidArgument("portgrp.vlanId", "a VLAN id lies between 0 and 4095");
    }
    Kor::Host::NetworkFactory* f = Kor::Host::GetNetworkFactory();
    Ref<Kor::Host::PortGroup> group;
    f->CreatePortGroup(group);
    group->SetSpec(CloneOf(portgrp));
    Movel::SetOptionalString(group->key, "key-portgroup-" + portgrp->name);
    std::lock_guard<std::mutex> lock(host_->mutex);
    if (FindGroup(portgrp->name) >= 0) ThrowAlreadyExists(portgrp->name);
    int at = FindSwitch(portgrp->vswitchName);
    if (at < 0) ThrowItemNotFound("no virtual switch " + portgrp->vswitchName);
    Kor::Host::VirtualSwitch* vswitch = host_->network->GetVswitch()->Get(at);
    Movel::SetOptionalString(group->vswitch, vswitch->key);
    vswitch->GetPortgroup()->Append(*group->key);
    host_->network->GetPortgroup()->Append(group);
  }
  void RemovePortGroup(const std::string& pgName) override {
    std::lock_guard<std::mutex> lock(host_->mutex);
    int at = FindGroup(pgName);
    if (at < 0) ThrowItemNotFound("no port group " + pgName);
    if (InUse(pgName)) ThrowInUse("kor.host.PortGroup", pgName);
    auto* groups = host_->network->GetPortgroup();
    const Kor::Host::PortGroup* group = groups->Get(at);
    if (group->key) {
      for (Kor::Host::VirtualSwitch* vswitch : *host_->network->GetVswitch()) {
        auto& keys = vswitch->GetPortgroup()->GetValues();
        keys.erase(std::remove(keys.begin(), keys.end(), *group->key), keys.end());
      }
    }
    groups->Erase(at);
  }

 private:
  Ref<Kor::Host::NetworkInfo> Info() const {
    std::lock_guard<std::mutex> lock(host_->mutex);
    return CloneOf(host_->network.Get());
  }
  // Callers hold the host's mutex.
  int FindSwitch(const std::string& name) const {
    auto* list = host_->network->GetVswitch();
    for (int i = 0; i < list->GetLength(); ++i) {
      if (list->Get(i)->name == name) return i;
    }
    return -1;
  }
  int FindGroup(const std::string& name) const {
    auto* list = host_->network->GetPortgroup();
    for (int i = 0; i < list->GetLength(); ++i) {
      if (list->Get(i)->PeekSpec()->name == name) return i;
    }
    return -1;
  }
  bool InUse(const std::string& group) const {
    for (const Kor::Host::VirtualNic* vnic : *host_->network->GetVnic()) {
      if (vnic->portgroup == group) return true;
    }
    return false;
  }
  [[noreturn]] static void ThrowAlreadyExists(const std::string& name) {
    Ref<Kor::Fault::AlreadyExists> fault(new Kor::Fault::AlreadyExists());
    Movel::SetOptionalString(fault->name, name);
    AddMessage(fault, "demo.fault.AlreadyExists", name + " exists already");
    throw Kor::Fault::AlreadyExists::Exception(fault.Get());
  }
  [[noreturn]] static void ThrowInUse(const char* type, const std::string& name) {
    Ref<Kor::Fault::ResourceInUse> fault(new Kor::Fault::ResourceInUse());
    fault->type = Movel::TypeName(type);
    Movel::SetOptionalString(fault->name, name);
    AddMessage(fault, "demo.fault.ResourceInUse", name + " is in use by a virtual NIC");
    throw Kor::Fault::ResourceInUse::Exception(fault.Get());
  }

  const std::shared_ptr<HostState> host_;
};

// A host's storage system: reads the host's storage state.
class DemoStorageSystem : public Kor::Host::StorageSystemSkeleton {
 public:
  explicit DemoStorageSystem(std::shared_ptr<HostState> host) : host_(std::move(host)) {}
  void GetStorageDeviceInfo(Ref<Kor::Host::StorageDeviceInfo>& result) override {
    std::lock_guard<std::mutex> lock(host_->mutex);
    result = CloneOf(host_->storage.devices.Get());
  }
  void GetFileSystemVolumeInfo(Ref<Kor::Host::FileSystemVolumeInfo>& result) override {
    std::lock_guard<std::mutex> lock(host_->mutex);
    result = CloneOf(host_->storage.volumes.Get());
  }
  void GetMultipathStateInfo(Ref<Kor::Host::MultipathStateInfo>& result) override {
    std::lock_guard<std::mutex> lock(host_->mutex);
    result = CloneOf(host_->storage.paths.Get());
  }
  // The adapters are local and never change, so a rescan finds what is there.
  void RescanAllHba() override {}
  void RescanHba(const std::string& hbaDevice) override {
    std::lock_guard<std::mutex> lock(host_->mutex);
    for (const Kor::Host::HostBusAdapter* hba : *host_->storage.devices->GetHostBusAdapter()) {
      if (hba->device == hbaDevice) return;
    }
    ThrowItemNotFound("no host bus adapter " + hbaDevice);
  }

 private:
  const std::shared_ptr<HostState> host_;
};

class DemoDatastore : public DemoEntity<Kor::DatastoreSkeleton> {
 public:
  // volume: the name of the volume behind the datastore on the hosts of
  // hosts, each of which mounts it.
  DemoDatastore(std::shared_ptr<State> state, std::string volume,
                std::vector<std::shared_ptr<HostState>> hosts)
      : DemoEntity(std::move(state)), volume_(std::move(volume)), hosts_(std::move(hosts)) {}

  void GetInfo(Ref<Kor::Datastore::Info>& result) override {
    Ref<Kor::Host::FileSystemMountInfo> mount = Mount();
    const Kor::Host::FileSystemVolume* volume = mount ? mount->PeekVolume() : nullptr;
    Ref<Kor::Datastore::Info> info;
    if (const auto* clfs = dynamic_cast<const Kor::Host::ClfsVolume*>(volume)) {
      Ref<Kor::Host::ClfsDatastoreInfo> clfsInfo(new Kor::Host::ClfsDatastoreInfo());
      clfsInfo->SetClfs(CloneOf(clfs));
      info = clfsInfo.Get();
    } else if (const auto* nas = dynamic_cast<const Kor::Host::NasVolume*>(volume)) {
      Ref<Kor::Host::NasDatastoreInfo> nasInfo(new Kor::Host::NasDatastoreInfo());
      nasInfo->SetNas(CloneOf(nas));
      info = nasInfo.Get();
    } else {
      info = new Kor::Datastore::Info();
    }
    info->name = GetName();
    info->url = VolumeUrl(mount);
    info->freeSpace = FreeSpace(volume);
    info->maxFileSize = 62LL << 40;
    result = info;
  }
  void GetSummary(Ref<Kor::Datastore::Summary>& result) override {
    Ref<Kor::Host::FileSystemMountInfo> mount = Mount();
    const Kor::Host::FileSystemVolume* volume = mount ? mount->PeekVolume() : nullptr;
    Ref<Kor::Datastore::Summary> summary(new Kor::Datastore::Summary());
    summary->SetDatastore(_GetRef());
    summary->name = GetName();
    summary->url = VolumeUrl(mount);
    summary->capacity = volume ? volume->capacity : 0;
    summary->freeSpace = FreeSpace(volume);
    summary->accessible = mount != nullptr;
    summary->multipleHostAccess = hosts_.size() > 1;
    summary->type = volume ? volume->type : std::string();
    result = summary;
  }
  void GetHost(Ref<Movel::DataArray<Kor::Datastore::HostMount>>& result) override {
    Ref<Movel::DataArray<Kor::Datastore::HostMount>> out(new Movel::DataArray<Kor::Datastore::HostMount>());
    const std::vector<Ref<Movel::MoRef>>& hosts = Self().hosts;
    for (std::size_t i = 0; i < hosts.size() && i < hosts_.size(); ++i) {
      Ref<Kor::Datastore::HostMount> mount(new Kor::Datastore::HostMount());
      mount->SetKey(hosts[i]);
      std::lock_guard<std::mutex> lock(hosts_[i]->mutex);
      const Kor::Host::FileSystemMountInfo* info = FindMount(hosts_[i]->storage.volumes, volume_);
      mount->SetMountInfo(info ? CloneOf(info->PeekMountInfo()) : Ref<Kor::Host::MountInfo>(new Kor::Host::MountInfo()));
      out->Append(mount);
    }
    result = out;
  }
  void GetVm(Ref<Movel::DataArray<Movel::MoRef>>& result) override { result = RefList(Self().vms); }
  void GetCapability(Ref<Kor::Datastore::Capability>& result) override {
    Ref<Kor::Datastore::Capability> capability(new Kor::Datastore::Capability());
    capability->directoryHierarchySupported = true;
    capability->rawDiskMappingsSupported = false;
    capability->perFileThinProvisioningSupported = true;
    result = capability;
  }
  void RefreshDatastore() override {}

 private:
  // The volume's mount on the first host, copied.
  Ref<Kor::Host::FileSystemMountInfo> Mount() const {
    if (hosts_.empty()) return Ref<Kor::Host::FileSystemMountInfo>();
    std::lock_guard<std::mutex> lock(hosts_[0]->mutex);
    return CloneOf(FindMount(hosts_[0]->storage.volumes, volume_));
  }
  // Each machine on the datastore takes its 16 GiB disk.
  long long FreeSpace(const Kor::Host::FileSystemVolume* volume) const {
    if (!volume) return 0;
    return std::max(0LL, volume->capacity - static_cast<long long>(Self().vms.size()) * (16LL << 30));
  }

  const std::string volume_;
  const std::vector<std::shared_ptr<HostState>> hosts_;  // in the order of the node's hosts
};

class DemoNetwork : public DemoEntity<Kor::NetworkSkeleton> {
 public:
  using DemoEntity::DemoEntity;
  void GetSummary(Ref<Kor::Network::Summary>& result) override {
    Ref<Kor::Network::Summary> summary(new Kor::Network::Summary());
    summary->SetNetwork(_GetRef());
    summary->name = GetName();
    summary->accessible = !Self().hosts.empty();
    result = summary;
  }
  void GetHost(Ref<Movel::DataArray<Movel::MoRef>>& result) override { result = RefList(Self().hosts); }
  void GetVm(Ref<Movel::DataArray<Movel::MoRef>>& result) override { result = RefList(Self().vms); }
};

class DemoCluster : public DemoEntity<Kor::ClusterComputeResourceSkeleton> {
 public:
  using DemoEntity::DemoEntity;
  void GetHost(Ref<Movel::DataArray<Movel::MoRef>>& result) override { result = RefList(Self().hosts); }
  void GetDatastore(Ref<Movel::DataArray<Movel::MoRef>>& result) override {
    result = RefList(Self().datastores);
  }
  void GetNetwork(Ref<Movel::DataArray<Movel::MoRef>>& result) override { result = RefList(Self().networks); }
  void GetSummary(Ref<Kor::ComputeResource::Summary>& result) override {
    Ref<Kor::ClusterComputeResource::Summary> summary;
    GetSummaryEx(summary);
    result = summary.Get();
  }
  // Totals over the cluster's hosts, all of which count as usable.
  void GetSummaryEx(Ref<Kor::ClusterComputeResource::Summary>& result) override {
    Ref<Kor::ClusterComputeResource::Summary> summary(new Kor::ClusterComputeResource::Summary());
    const int hosts = static_cast<int>(Self().hosts.size());
    summary->totalCpu = hosts * kHostCores * kHostCpuMhz;
    summary->totalMemory = hosts * kHostMemory;
    summary->numCpuCores = static_cast<short>(std::min(hosts * kHostCores, 32767));
    summary->numCpuThreads = static_cast<short>(std::min(hosts * kHostCores * 2, 32767));
    summary->effectiveCpu = summary->totalCpu;
    summary->effectiveMemory = summary->totalMemory >> 20;
    summary->numHosts = hosts;
    summary->numEffectiveHosts = hosts;
    summary->overallStatus = EntityStatus::green;
    summary->currentFailoverLevel = hosts > 1 ? 1 : 0;
    summary->numLiveMigrations = 0;
    result = summary;
  }
  void GetConfigurationEx(Ref<Kor::ComputeResource::ConfigInfo>& result) override {
    Ref<Kor::ComputeResource::ConfigInfo> config(new Kor::ComputeResource::ConfigInfo());
    config->vmSwapPlacement = "vmDirectory";
    result = config;
  }
};

// What a folder may hold, by the folder's role.
enum class FolderRole { root, host, vm, datastore, network };

class DemoFolder : public DemoEntity<Kor::FolderSkeleton> {
 public:
  DemoFolder(std::shared_ptr<State> state, FolderRole role) : DemoEntity(std::move(state)), role_(role) {}
  void GetChildEntity(Ref<Movel::DataArray<Movel::MoRef>>& result) override {
    result = RefList(Self().children);
  }
  void GetChildType(Ref<Movel::Array<std::string>>& result) override {
    Ref<Movel::Array<std::string>> types(new Movel::Array<std::string>());
    types->Append("Folder");
    switch (role_) {
      case FolderRole::root: types->Append("Datacenter"); break;
      case FolderRole::host: types->Append("ComputeResource"); break;
      case FolderRole::vm: types->Append("VirtualMachine"); types->Append("VirtualApp"); break;
      case FolderRole::datastore: types->Append("Datastore"); types->Append("StoragePod"); break;
      case FolderRole::network: types->Append("Network"); types->Append("DistributedVirtualSwitch"); break;
    }
    result = types;
  }

 private:
  const FolderRole role_;
};

class DemoDatacenter : public DemoEntity<Kor::DatacenterSkeleton> {
 public:
  // folders: host, vm, datastore and network folder, in that order.
  DemoDatacenter(std::shared_ptr<State> state, std::vector<Ref<Movel::MoRef>> folders)
      : DemoEntity(std::move(state)), folders_(std::move(folders)) {}
  void GetHostFolder(Ref<Movel::MoRef>& result) override { result = folders_[0]; }
  void GetVmFolder(Ref<Movel::MoRef>& result) override { result = folders_[1]; }
  void GetDatastoreFolder(Ref<Movel::MoRef>& result) override { result = folders_[2]; }
  void GetNetworkFolder(Ref<Movel::MoRef>& result) override { result = folders_[3]; }
  void GetDatastore(Ref<Movel::DataArray<Movel::MoRef>>& result) override { result = RefList(Self().datastores); }
  void GetNetwork(Ref<Movel::DataArray<Movel::MoRef>>& result) override { result = RefList(Self().networks); }
  void GetConfiguration(Ref<Kor::Datacenter::ConfigInfo>& result) override {
    Ref<Kor::Datacenter::ConfigInfo> config(new Kor::Datacenter::ConfigInfo());
    Movel::SetOptionalString(config->defaultHardwareVersionKey, "vmx-14");
    result = config;
  }

 private:
  const std::vector<Ref<Movel::MoRef>> folders_;
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
    content->SetRootFolder(RefOf(Movel::GetMoType<Kor::Folder>(), kRootFolderId));
    content->SetEventManager(RefOf(Movel::GetMoType<Kor::Event::EventManager>(), kEventManagerId));
    content->SetAlarmManager(RefOf(Movel::GetMoType<Kor::Alarm::AlarmManager>(), kAlarmManagerId));
    result = content;
  }
  DateTime CurrentTime() override { return DateTime::Now(); }
};

}  // namespace

// ---- the server ----------------------------------------------------------------------

InventorySize SizeOf(const InventoryOptions& options) {
  auto check = [](int value, const char* name) {
    if (value < 0 || value > kMaxInventoryObjects) {
      throw std::invalid_argument(std::string("inventory: ") + name + " must lie between 0 and " +
                                  std::to_string(kMaxInventoryObjects) + ", not " + std::to_string(value));
    }
  };
  check(options.datacenters, "datacenters");
  check(options.clustersPerDatacenter, "clusters per datacenter");
  check(options.hostsPerCluster, "hosts per cluster");
  check(options.vmsPerHost, "virtual machines per host");
  // Each factor is at most kMaxInventoryObjects, so no product of two
  // overflows; the host count is checked before it is multiplied again.
  InventorySize size;
  const long long d = options.datacenters, c = options.clustersPerDatacenter;
  const long long hostsPerDatacenter = c > 0 ? c * options.hostsPerCluster : options.hostsPerCluster;
  auto tooMany = [&](long long total) {
    throw std::invalid_argument(
        "inventory: " + std::to_string(d) + " datacenters, " + std::to_string(c) +
        " clusters each, " + std::to_string(options.hostsPerCluster) + " hosts per cluster and " +
        std::to_string(options.vmsPerHost) + " virtual machines per host make " +
        (total > 0 ? std::to_string(total) : std::string("too many")) +
        " managed objects, more than the " + std::to_string(kMaxInventoryObjects) + " one server holds");
  };
  if (hostsPerDatacenter > kMaxInventoryObjects || d * hostsPerDatacenter > kMaxInventoryObjects) tooMany(0);
  size.datacenters = d;
  size.folders = 1 + 4 * d;
  size.clusters = d * c;
  size.hosts = d * hostsPerDatacenter;
  size.vms = size.hosts * options.vmsPerHost;
  size.datastores = size.hosts + d;  // one local per host, one shared per datacenter
  size.networks = d;
  size.hostSystems = 2 * size.hosts;
  if (size.Total() > kMaxInventoryObjects) tooMany(size.Total());
  return size;
}

namespace {

// Names of the machines, by role; the first machine of the first datacenter
// is "web-frontend", the others a role and a number.
const char* const kVmRoles[] = {"web-frontend", "app-server", "db-primary", "cache",
                                "build-agent",  "mail-relay", "monitor",    "file-server"};
constexpr int kVmRoleCount = sizeof kVmRoles / sizeof kVmRoles[0];

std::string Numbered(const std::string& stem, long long n) {
  char digits[24];
  std::snprintf(digits, sizeof digits, "%02lld", n);
  return stem + digits;
}

}  // namespace

DemoServer::DemoServer(Clock clock, InventoryOptions inventory) : state_(std::make_shared<State>()) {
  State& s = *state_;
  s.size = SizeOf(inventory);
  s.clock = std::move(clock);
  // When the hosts came up: stamps their volumes and paths. Fixed, so that
  // building the server reads no clock.
  const DateTime booted = DateTime::FromCivil(2026, 12, 1, 6, 0, 0);
  Movel::ManagedObjectType* folderType = Movel::GetMoType<Kor::Folder>();

  // Ids: the well-known ones, then the next free number for each new object.
  int serial = 4;
  const std::set<int> reserved = {12, 31};
  auto next = [&]() {
    do ++serial;
    while (reserved.count(serial));
    return serial;
  };
  auto node = [&](Movel::ManagedObjectType* type, const std::string& id, const std::string& name,
                  const std::string& parent) -> Node& {
    Node& n = s.nodes[id];
    n.ref = RefOf(type, id);
    n.name = name;
    n.parent = parent;
    if (!parent.empty()) {
      Node& up = s.nodes.at(parent);
      up.children.push_back(n.ref);
      n.datacenter = up.ref->GetType() == Movel::GetMoType<Kor::Datacenter>() ? parent : up.datacenter;
    }
    return n;
  };
  auto link = [](std::vector<Ref<Movel::MoRef>>& list, Movel::MoRef* ref) {
    for (const Ref<Movel::MoRef>& r : list) {
      if (*r == *ref) return;
    }
    list.push_back(Ref<Movel::MoRef>(ref));
  };

  s.server->Register(new DemoServiceInstance(), kServiceInstanceId);
  s.server->Register(new DemoEventManager(state_), kEventManagerId);
  Ref<DemoAlarmManager> alarms(new DemoAlarmManager(state_.get()));
  s.alarms = alarms.Get();
  s.server->Register(alarms, kAlarmManagerId);

  node(folderType, kRootFolderId, "Datacenters", "");
  s.server->Register(new DemoFolder(state_, FolderRole::root), kRootFolderId);
  bool firstHost = true, firstVm = true;
  for (int d = 0; d < inventory.datacenters; ++d) {
    const bool first = d == 0;
    const std::string dcId = first ? kDatacenterId : "datacenter-" + std::to_string(next());
    const std::string dcName = first ? "lab" : Numbered("dc-", d + 1);
    Node& dc = node(Movel::GetMoType<Kor::Datacenter>(), dcId, dcName, kRootFolderId);
    dc.datacenter = dcId;
    const std::string hostFolder = first ? kHostFolderId : "group-h" + std::to_string(next());
    const std::string vmFolder = first ? kVmFolderId : "group-v" + std::to_string(next());
    const std::string dsFolder = "group-s" + std::to_string(next());
    const std::string netFolder = "group-n" + std::to_string(next());
    std::vector<Ref<Movel::MoRef>> folders;
    const std::pair<std::string, FolderRole> roles[] = {{hostFolder, FolderRole::host},
                                                        {vmFolder, FolderRole::vm},
                                                        {dsFolder, FolderRole::datastore},
                                                        {netFolder, FolderRole::network}};
    const char* const folderNames[] = {"host", "vm", "datastore", "network"};
    for (int f = 0; f < 4; ++f) {
      folders.push_back(node(folderType, roles[f].first, folderNames[f], dcId).ref);
      s.server->Register(new DemoFolder(state_, roles[f].second), roles[f].first);
    }
    s.server->Register(new DemoDatacenter(state_, folders), dcId);

    const std::string networkId = "network-" + std::to_string(next());
    Node& network = node(Movel::GetMoType<Kor::Network>(), networkId, kVmPortGroup, netFolder);
    link(s.nodes.at(dcId).networks, network.ref);
    const std::string sharedId = "datastore-" + std::to_string(next());
    const std::string sharedName = "nfs-shared";
    Node& shared = node(Movel::GetMoType<Kor::Datastore>(), sharedId, sharedName, dsFolder);
    link(s.nodes.at(dcId).datastores, shared.ref);
    std::vector<std::shared_ptr<HostState>> sharedHosts;

    std::vector<std::string> clusters;
    for (int c = 0; c < inventory.clustersPerDatacenter; ++c) {
      clusters.push_back("domain-c" + std::to_string(next()));
      Node& cluster = node(Movel::GetMoType<Kor::ClusterComputeResource>(), clusters.back(),
                           Numbered("cluster-", c + 1), hostFolder);
      link(cluster.networks, network.ref);
      link(cluster.datastores, shared.ref);
      s.server->Register(new DemoCluster(state_), clusters.back());
    }

    const long long hostCount = clusters.empty()
                                    ? inventory.hostsPerCluster
                                    : static_cast<long long>(clusters.size()) * inventory.hostsPerCluster;
    long long vmIndex = 0;
    for (long long k = 0; k < hostCount; ++k) {
      const bool standalone = clusters.empty() || firstHost;
      const int number = firstHost ? 12 : next();
      firstHost = false;
      const std::string hostId = "host-" + std::to_string(number);
      const std::string parent = standalone ? hostFolder : clusters[static_cast<std::size_t>(k / inventory.hostsPerCluster)];
      Node& host = node(Movel::GetMoType<Kor::HostSystem>(), hostId, Numbered("hv-", k + 1) + "." + dcName, parent);
      HostLayout layout;
      layout.name = host.name;
      layout.number = number;
      layout.localDatastore = "datastore" + std::to_string(k + 1);
      layout.sharedDatastore = sharedName;
      layout.nasHost = "nas01." + dcName;
      auto hostState = std::make_shared<HostState>();
      hostState->network = BuildHostNetwork(layout);
      hostState->storage = BuildHostStorage(layout, booted);
      sharedHosts.push_back(hostState);

      const std::string localId = "datastore-" + std::to_string(next());
      Node& local = node(Movel::GetMoType<Kor::Datastore>(), localId, layout.localDatastore, dsFolder);
      link(s.nodes.at(dcId).datastores, local.ref);
      Node& hostNode = s.nodes.at(hostId);
      link(hostNode.datastores, local.ref);
      link(hostNode.datastores, shared.ref);
      link(hostNode.networks, network.ref);
      link(local.hosts, hostNode.ref);
      link(shared.hosts, hostNode.ref);
      link(network.hosts, hostNode.ref);
      if (!standalone) {
        Node& cluster = s.nodes.at(parent);
        link(cluster.hosts, hostNode.ref);
        link(cluster.datastores, local.ref);
      }

      for (int v = 0; v < inventory.vmsPerHost; ++v, ++vmIndex) {
        VmLayout vm;
        vm.number = firstVm ? 31 : next();
        vm.name = firstVm ? std::string(kVmRoles[0])
                          : Numbered(std::string(kVmRoles[vmIndex % kVmRoleCount]) + "-", vmIndex / kVmRoleCount + 1);
        firstVm = false;
        const std::string vmId = "vm-" + std::to_string(vm.number);
        Node& vmNode = node(Movel::GetMoType<Kor::VirtualMachine>(), vmId, vm.name, vmFolder);
        vmNode.host = hostId;
        vm.host = hostNode.ref;
        vm.hostState = hostState;
        vm.datastore = local.ref;
        vm.datastoreName = local.name;
        vm.network = network.ref;
        const int sizes[][2] = {{2, 4096}, {1, 2048}, {4, 8192}};  // CPUs, MB
        vm.numCpus = sizes[vmIndex % 3][0];
        vm.memoryMB = sizes[vmIndex % 3][1];
        link(vmNode.datastores, local.ref);
        link(vmNode.networks, network.ref);
        link(hostNode.vms, vmNode.ref);
        link(local.vms, vmNode.ref);
        link(network.vms, vmNode.ref);
        s.server->Register(new DemoVirtualMachine(state_, vm), vmId);
      }

      const std::string networkSystem = "networkSystem-" + std::to_string(number);
      const std::string storageSystem = "storageSystem-" + std::to_string(number);
      Ref<Movel::MoRef> networkSystemRef =
          s.server->Register(new DemoNetworkSystem(hostState), networkSystem);
      Ref<Movel::MoRef> storageSystemRef =
          s.server->Register(new DemoStorageSystem(hostState), storageSystem);
      s.server->Register(new DemoHost(state_, hostState, networkSystemRef, storageSystemRef, number), hostId);
      s.server->Register(new DemoDatastore(state_, layout.localDatastore, {hostState}), localId);
    }
    // Standalone hosts come first in the host folder, as the first host
    // always has.
    std::vector<Ref<Movel::MoRef>>& inFolder = s.nodes.at(hostFolder).children;
    std::stable_partition(inFolder.begin(), inFolder.end(), [](const Ref<Movel::MoRef>& ref) {
      return ref->GetType() == Movel::GetMoType<Kor::HostSystem>();
    });
    s.server->Register(new DemoDatastore(state_, sharedName, sharedHosts), sharedId);
    s.server->Register(new DemoNetwork(state_), networkId);
  }
}

DemoServer::~DemoServer() {
  state_->adapter->Shutdown();
  // Objects hold the state; withdrawing them breaks that cycle.
  state_->server->UnregisterAll();
}

Movel::StubAdapter* DemoServer::GetAdapter() const { return state_->adapter.Get(); }
Movel::LocalServer* DemoServer::GetLocalServer() const { return state_->server.Get(); }
std::size_t DemoServer::GetObjectCount() const { return state_->server->GetCount(); }
std::size_t DemoServer::GetEventCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->events.size();
}
InventorySize DemoServer::GetInventorySize() const { return state_->size; }

}  // namespace demo
}  // namespace kortypes
