// The demo server's objects: inventory, tasks, the event history with its
// collectors, and the alarm manager. See demo_server.h for the inventory and
// the rules events follow.
#include "demo_server.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "kortypes/kortypes.h"
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

struct Node {
  Ref<Movel::MoRef> ref;
  std::string name;
  std::string parent;  // id, empty at the root
  std::string host;    // virtual machines: the host they run on
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
  std::map<std::string, Node> nodes;  // fixed once the server is built
  DemoAlarmManager* alarms = nullptr;  // registered with server, lives as long

  mutable std::mutex mutex;  // guards what follows
  std::vector<Logged> events;
  std::map<std::string, int> categoryOf;  // event type name -> EventCategory
  int collectors = 0;
  int collectorSerial = 0;
  int tasks = 0;

  DateTime Now() const { return clock ? clock() : DateTime::Now(); }

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
      arg->name = node->name;
      arg->SetVm(node->ref);
      event->SetVm(arg);
      if (!node->host.empty()) FillArguments(event, node->host);
    } else if (type == Movel::GetMoType<Kor::HostSystem>()) {
      Ref<Kor::Event::HostEventArgument> arg(new Kor::Event::HostEventArgument());
      arg->name = node->name;
      arg->SetHost(node->ref);
      event->SetHost(arg);
    } else if (type == Movel::GetMoType<Kor::Datacenter>()) {
      Ref<Kor::Event::DatacenterEventArgument> arg(new Kor::Event::DatacenterEventArgument());
      arg->name = node->name;
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
    Movel::SetOptionalString(info->entityName, node->name);
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
  arg->name = state_->NodeOf(entity).name;
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
    arg->name = node.name;
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

template <class Skeleton>
class DemoEntity : public Skeleton {
 public:
  explicit DemoEntity(std::string name) : name_(std::move(name)) {}
  std::string GetName() override { return name_; }
  EntityStatus GetOverallStatus() override { return EntityStatus::green; }

 private:
  const std::string name_;
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

class DemoVirtualMachine : public DemoEntity<Kor::VirtualMachineSkeleton> {
 public:
  DemoVirtualMachine(std::shared_ptr<State> state, std::string name, Movel::MoRef* host)
      : DemoEntity(std::move(name)), state_(std::move(state)), host_(host) {
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
    backing->fileName = "[datastore1] web-frontend/web-frontend.vmdk";
    backing->diskMode = Kor::Vm::Device::VirtualDiskOption::DiskMode::persistent;
    disk->SetBacking(backing);
    disk->controllerKey = 1000;
    disk->unitNumber = 0;
    static_cast<Kor::Vm::Device::VirtualController*>(scsi.Get())->GetDevice()->Append(2000);
    auto nic = Labelled(new Kor::Vm::Device::VirtualE1000(), 4000, "Network adapter 1");
    nic->controllerKey = 100;
    Movel::SetOptionalString(static_cast<Kor::Vm::Device::VirtualEthernetCard*>(nic.Get())->macAddress,
                             "00:50:56:01:02:03");
    for (auto* d : {pci.Get(), ide.Get(), scsi.Get(), disk.Get(), nic.Get()}) devices_->Append(d);
  }

  void GetRuntime(Ref<Kor::Vm::RuntimeInfo>& result) override {
    Ref<Kor::Vm::RuntimeInfo> runtime(new Kor::Vm::RuntimeInfo());
    std::lock_guard<std::mutex> lock(mutex_);
    runtime->powerState = powerState_;
    runtime->connectionState = Kor::VirtualMachine::ConnectionState::connected;
    runtime->SetHost(host_);
    runtime->numMksConnections = 0;
    result = runtime;
  }
  void GetConfig(Ref<Kor::Vm::ConfigInfo>& result) override {
    Ref<Kor::Vm::ConfigInfo> config(new Kor::Vm::ConfigInfo());
    Ref<Kor::Vm::VirtualHardware> hardware(new Kor::Vm::VirtualHardware());
    std::lock_guard<std::mutex> lock(mutex_);
    config->name = GetName();
    config->guestId = "otherLinux64Guest";
    config->guestFullName = "Other Linux (64-bit)";
    config->version = "vmx-14";
    config->uuid = "4211b1f2-demo-0031";
    config->changeVersion = std::to_string(changeVersion_);
    config->modified = modified_;
    if (!annotation_.empty()) Movel::SetOptionalString(config->annotation, annotation_);
    hardware->numCPU = numCpus_;
    hardware->memoryMB = memoryMB_;
    hardware->SetDevice(static_cast<Movel::DataArray<Kor::Vm::Device::VirtualDevice>*>(devices_->_Clone()));
    config->SetHardware(hardware);
    result = config;
  }
  void PowerOn(Movel::MoRef*, Ref<Movel::MoRef>& result) override {
    SetPower(Kor::VirtualMachine::PowerState::poweredOn, new Kor::Event::VmPoweredOnEvent(),
             "VirtualMachine.powerOn", result);
  }
  void PowerOff(Ref<Movel::MoRef>& result) override {
    SetPower(Kor::VirtualMachine::PowerState::poweredOff, new Kor::Event::VmPoweredOffEvent(),
             "VirtualMachine.powerOff", result);
  }
  void Reconfigure(Kor::Vm::ConfigSpec* spec, Ref<Movel::MoRef>& result) override;

 private:
  void SetPower(Kor::VirtualMachine::PowerState to, Kor::Event::Event* made,
                const std::string& descriptionId, Ref<Movel::MoRef>& result) {
    Ref<Kor::Event::Event> event(made);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (powerState_ == to) {
        Ref<Kor::Fault::InvalidPowerState> fault(new Kor::Fault::InvalidPowerState());
        fault->existingState = powerState_;
        fault->requestedState = to;
        fault->Throw();
      }
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

  const std::shared_ptr<State> state_;
  const Ref<Movel::MoRef> host_;
  std::mutex mutex_;  // guards what follows
  Kor::VirtualMachine::PowerState powerState_ = Kor::VirtualMachine::PowerState::poweredOff;
  Ref<Movel::DataArray<Kor::Vm::Device::VirtualDevice>> devices_;
  int numCpus_ = 2;
  int memoryMB_ = 4096;
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
  const Ref<Movel::MoRef> vm_;
};

class DemoFolder : public DemoEntity<Kor::FolderSkeleton> {
 public:
  DemoFolder(std::string name, Movel::MoRef* child) : DemoEntity(std::move(name)), child_(child) {}
  void GetChildEntity(Ref<Movel::DataArray<Movel::MoRef>>& result) override {
    result = new Movel::DataArray<Movel::MoRef>();
    result->Append(child_);
  }

 private:
  const Ref<Movel::MoRef> child_;
};

class DemoDatacenter : public DemoEntity<Kor::DatacenterSkeleton> {
 public:
  DemoDatacenter(std::string name, Movel::MoRef* hostFolder, Movel::MoRef* vmFolder)
      : DemoEntity(std::move(name)), hostFolder_(hostFolder), vmFolder_(vmFolder) {}
  void GetHostFolder(Ref<Movel::MoRef>& result) override { result = hostFolder_; }
  void GetVmFolder(Ref<Movel::MoRef>& result) override { result = vmFolder_; }

 private:
  const Ref<Movel::MoRef> hostFolder_, vmFolder_;
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

DemoServer::DemoServer(Clock clock) : state_(std::make_shared<State>()) {
  State& s = *state_;
  s.clock = std::move(clock);
  auto node = [&](Movel::ManagedObjectType* type, const char* id, const char* name,
                  const char* parent) -> Ref<Movel::MoRef> {
    Node& n = s.nodes[id];
    n.ref = RefOf(type, id);
    n.name = name;
    n.parent = parent;
    return n.ref;
  };
  Ref<Movel::MoRef> root = node(Movel::GetMoType<Kor::Folder>(), kRootFolderId, "Datacenters", "");
  Ref<Movel::MoRef> datacenter =
      node(Movel::GetMoType<Kor::Datacenter>(), kDatacenterId, "lab", kRootFolderId);
  Ref<Movel::MoRef> hostFolder = node(Movel::GetMoType<Kor::Folder>(), kHostFolderId, "host", kDatacenterId);
  Ref<Movel::MoRef> vmFolder = node(Movel::GetMoType<Kor::Folder>(), kVmFolderId, "vm", kDatacenterId);
  Ref<Movel::MoRef> host = node(Movel::GetMoType<Kor::HostSystem>(), kHostId, "hv-01.lab", kHostFolderId);
  Ref<Movel::MoRef> vm = node(Movel::GetMoType<Kor::VirtualMachine>(), kVmId, "web-frontend", kVmFolderId);
  s.nodes[kVmId].host = kHostId;

  s.server->Register(new DemoServiceInstance(), kServiceInstanceId);
  s.server->Register(new DemoEventManager(state_), kEventManagerId);
  Ref<DemoAlarmManager> alarms(new DemoAlarmManager(state_.get()));
  s.alarms = alarms.Get();
  s.server->Register(alarms, kAlarmManagerId);
  s.server->Register(new DemoFolder("Datacenters", datacenter), kRootFolderId);
  s.server->Register(new DemoDatacenter("lab", hostFolder, vmFolder), kDatacenterId);
  s.server->Register(new DemoFolder("host", host), kHostFolderId);
  s.server->Register(new DemoFolder("vm", vm), kVmFolderId);
  s.server->Register(new DemoHost("hv-01.lab", vm), kHostId);
  s.server->Register(new DemoVirtualMachine(state_, "web-frontend", host), kVmId);
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

}  // namespace demo
}  // namespace kortypes
