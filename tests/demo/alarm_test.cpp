// The alarm manager: its method table as the bindings describe it, dispatch
// by index, and alarms on the demo server end to end.
#include "demo_fixture.h"

namespace demotest {
namespace {

using Status = Kor::ManagedEntity::Status;

TEST(AlarmManagerTable, ThirteenMethodsThenThreePropertiesWithConstants) {
  Movel::ManagedObjectType* type = Movel::GetMoType<Kor::Alarm::AlarmManager>();
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(type->GetName(), "kor.alarm.AlarmManager");
  const std::vector<Movel::ManagedMethod*>& methods = type->GetMethodObjects();
  struct Entry {
    const char* name;
    const char* wsdl;
    const char* constant;  // null for properties
  };
  const Entry expected[] = {
      {"create", "CreateAlarm", Kor::Alarm::AlarmManager::METHOD_CREATE},
      {"getAlarm", "GetAlarm", Kor::Alarm::AlarmManager::METHOD_GETALARM},
      {"getAlarmActionsEnabled", "AreAlarmActionsEnabled",
       Kor::Alarm::AlarmManager::METHOD_GETALARMACTIONSENABLED},
      {"setAlarmActionsEnabled", "EnableAlarmActions",
       Kor::Alarm::AlarmManager::METHOD_SETALARMACTIONSENABLED},
      {"getAlarmState", "GetAlarmState", Kor::Alarm::AlarmManager::METHOD_GETALARMSTATE},
      {"acknowledgeAlarm", "AcknowledgeAlarm", Kor::Alarm::AlarmManager::METHOD_ACKNOWLEDGEALARM},
      {"setAlarmStatus", "SetAlarmStatus", Kor::Alarm::AlarmManager::METHOD_SETALARMSTATUS},
      {"clearTriggeredAlarms", "ClearTriggeredAlarms",
       Kor::Alarm::AlarmManager::METHOD_CLEARTRIGGEREDALARMS},
      {"testSMTPSetup", "TestSMTPSetup", Kor::Alarm::AlarmManager::METHOD_TESTSMTPSETUP},
      {"createPrivateAlarm", "CreatePrivateAlarm", Kor::Alarm::AlarmManager::METHOD_CREATEPRIVATEALARM},
      {"queryPrivateAlarms", "QueryPrivateAlarms", Kor::Alarm::AlarmManager::METHOD_QUERYPRIVATEALARMS},
      {"syncTriggeredAlarms", "SyncTriggeredAlarms",
       Kor::Alarm::AlarmManager::METHOD_SYNCTRIGGEREDALARMS},
      {"retrieveTriggers", "RetrieveTriggers", Kor::Alarm::AlarmManager::METHOD_RETRIEVETRIGGERS},
      {"defaultExpression", nullptr, nullptr},
      {"description", nullptr, nullptr},
      {"lastTriggerId", nullptr, nullptr},
  };
  constexpr int kCount = sizeof expected / sizeof expected[0];
  ASSERT_EQ(static_cast<int>(methods.size()), kCount);
  EXPECT_EQ(type->GetOwnMethodCount(), 13);
  for (int i = 0; i < kCount; ++i) {
    SCOPED_TRACE(expected[i].name);
    ASSERT_NE(methods[i], nullptr);
    EXPECT_EQ(methods[i], gKorAlarmAlarmManagerMethodObjects[i]);
    EXPECT_EQ(methods[i]->GetIndex(), i);
    EXPECT_EQ(methods[i]->GetName(), expected[i].name);
    EXPECT_EQ(methods[i]->IsPropertyRead(), i >= 13);
    EXPECT_EQ(methods[i]->GetFullName(), std::string("kor.alarm.AlarmManager.") + expected[i].name);
    if (expected[i].constant) {
      EXPECT_EQ(methods[i]->GetWsdlName(), expected[i].wsdl);
      EXPECT_EQ(std::string(expected[i].constant), methods[i]->GetFullName());
      EXPECT_EQ(type->FindMethod(expected[i].wsdl), methods[i]);
    }
  }
  EXPECT_EQ(methods[0]->GetParameters().size(), 2u);
  EXPECT_EQ(methods[5]->GetResult().GetType(), nullptr);  // acknowledgeAlarm answers nothing
}

class Alarms : public DemoTest {
 protected:
  // Red while the machine is powered on, defined on the datacenter.
  Ref<Kor::Alarm::AlarmSpec> RunningSpec(const std::string& name = "running") {
    Ref<Kor::Alarm::StateAlarmExpression> expression(new Kor::Alarm::StateAlarmExpression());
    expression->operator_ = Kor::Alarm::StateAlarmExpression::StateOperator::isEqual;
    expression->type = Movel::TypeName("kor.VirtualMachine");
    expression->statePath = Movel::PropertyPath("runtime.powerState");
    Movel::SetOptionalString(expression->red, "poweredOn");
    Ref<Kor::Alarm::AlarmSpec> spec(new Kor::Alarm::AlarmSpec());
    spec->name = name;
    spec->description = "machine running";
    spec->enabled = true;
    spec->SetExpression(expression);
    return spec;
  }
  Ref<Kor::Alarm::AlarmState> StateOnVm() {
    Ref<Movel::DataArray<Kor::Alarm::AlarmState>> states;
    alarms->GetAlarmState(VmRef(), states);
    EXPECT_EQ(states->GetLength(), 1);
    return states->GetLength() ? Ref<Kor::Alarm::AlarmState>(states->Get(0)) : nullptr;
  }
  Ref<Movel::DataArray<Kor::Event::Event>> AlarmEvents() {
    Ref<Kor::Event::EventFilterSpec> filter(new Kor::Event::EventFilterSpec());
    filter->GetType()->Append(Movel::TypeName("kor.event.AlarmEvent"));
    return Query(filter);
  }
};

TEST_F(Alarms, DispatchByIndexReachesTheServedManager) {
  Ref<Movel::ManagedObject> impl = server.GetLocalServer()->Find(
      RefTo(Movel::GetMoType<Kor::Alarm::AlarmManager>(), kortypes::demo::kAlarmManagerId));
  ASSERT_NE(impl.Get(), nullptr);
  Movel::DispatchFn dispatch = Movel::GetMoType<Kor::Alarm::AlarmManager>()->GetRecord()->dispatch;
  Basekit::RefVector<Movel::Any> none;
  Ref<Movel::Any> result;
  dispatch(impl, 15, none, result);  // lastTriggerId
  auto* box = dynamic_cast<Movel::Primitive<int>*>(result.Get());
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->GetValue(), 0);

  Ref<Movel::MoRef> alarm;
  alarms->Create(DatacenterRef(), RunningSpec(), alarm);
  Basekit::RefVector<Movel::Any> entity(1);
  entity[0] = VmRef().Get();
  dispatch(impl, 4, entity, result);  // getAlarmState
  auto* states = dynamic_cast<Movel::DataArray<Kor::Alarm::AlarmState>*>(result.Get());
  ASSERT_NE(states, nullptr);
  ASSERT_EQ(states->GetLength(), 1);
  EXPECT_EQ(states->Get(0)->PeekAlarm()->GetId(), alarm->GetId());

  dispatch(impl, 16, none, result);  // past the table: nothing runs
  EXPECT_EQ(result.Get(), nullptr);
  entity[0] = new Movel::Primitive<int>(31);
  EXPECT_THROW(dispatch(impl, 4, entity, result), Basekit::TypeMismatchException);
  // Methods the demo does not serve answer NotSupported through the stub.
  EXPECT_THROW(alarms->TestSMTPSetup("ops@example.invalid"), Movel::Fault::NotSupported::Exception);
}

TEST_F(Alarms, PowerOnTurnsTheAlarmRedAcknowledgeAndEvents) {
  Ref<Movel::MoRef> alarm;
  alarms->Create(DatacenterRef(), RunningSpec(), alarm);
  Ref<Kor::Alarm::AlarmState> state = StateOnVm();
  EXPECT_EQ(state->overallStatus, Status::green);
  EXPECT_EQ(alarms->GetLastTriggerId(), 1);  // gray to green when first evaluated

  Ref<Movel::MoRef> task;
  vm->PowerOn(nullptr, task);
  state = StateOnVm();
  EXPECT_EQ(state->overallStatus, Status::red);
  EXPECT_FALSE(state->acknowledged.GetValue());
  EXPECT_EQ(alarms->GetLastTriggerId(), 2);
  Ref<Movel::DataArray<Kor::Alarm::AlarmTrigger>> triggers;
  alarms->RetrieveTriggers(VmRef(), triggers);
  ASSERT_EQ(triggers->GetLength(), 2);
  EXPECT_EQ(triggers->Get(1)->type, Kor::Alarm::AlarmTrigger::Type::state);

  As<Kor::Alarm::AlarmManagerStub>("alice", kortypes::demo::kAlarmManagerId)->AcknowledgeAlarm(alarm, VmRef());
  state = StateOnVm();
  EXPECT_TRUE(state->acknowledged.GetValue());
  ASSERT_NE(state->acknowledgedByUser, nullptr);
  EXPECT_EQ(*state->acknowledgedByUser, "alice");
  alarms->AcknowledgeAlarm(alarm, VmRef());  // again: nothing new
  EXPECT_EQ(*StateOnVm()->acknowledgedByUser, "alice");

  Ref<Movel::DataArray<Kor::Event::Event>> alarmEvents = AlarmEvents();
  EXPECT_EQ(Classes(alarmEvents),
            (std::vector<std::string>{"kor.event.AlarmCreatedEvent", "kor.event.AlarmStatusChangedEvent",
                                      "kor.event.AlarmStatusChangedEvent",
                                      "kor.event.AlarmAcknowledgedEvent"}));
  auto* changed = dynamic_cast<Kor::Event::AlarmStatusChangedEvent*>(alarmEvents->Get(2));
  ASSERT_NE(changed, nullptr);
  EXPECT_EQ(changed->from, Status::green);
  EXPECT_EQ(changed->to, Status::red);
  EXPECT_TRUE(changed->userName.empty());  // the server's own doing
  EXPECT_EQ(changed->PeekEntity()->name, "web-frontend");
  EXPECT_EQ(changed->PeekSource()->name, "lab");
  EXPECT_EQ(changed->PeekAlarm()->PeekAlarm()->GetId(), alarm->GetId());
  EXPECT_EQ(StateOnVm()->eventKey.GetValue(), changed->key);
  // The change belongs to the power-on's chain.
  Ref<Kor::Event::EventFilterSpec> chain(new Kor::Event::EventFilterSpec());
  chain->eventChainId = changed->chainId;
  EXPECT_EQ(Classes(Query(chain)),
            (std::vector<std::string>{"kor.event.VmPoweredOnEvent", "kor.event.AlarmStatusChangedEvent",
                                      "kor.event.TaskEvent"}));
  EXPECT_EQ(alarmEvents->Get(3)->userName, "alice");
  // Filters by alarm and by the system user find the same events.
  Ref<Kor::Event::EventFilterSpec> byAlarm(new Kor::Event::EventFilterSpec());
  byAlarm->SetAlarm(alarm);
  EXPECT_EQ(Keys(Query(byAlarm)), Keys(alarmEvents));
  Ref<Kor::Event::EventFilterSpec> system(new Kor::Event::EventFilterSpec());
  Ref<Kor::Event::EventFilterSpec::ByUsername> users(new Kor::Event::EventFilterSpec::ByUsername());
  users->systemUser = true;
  system->SetUserName(users);
  EXPECT_EQ(Keys(Query(system)), (std::vector<int>{alarmEvents->Get(1)->key, alarmEvents->Get(2)->key}));

  // Powering off brings it back to green and clears the acknowledgement.
  vm->PowerOff(task);
  state = StateOnVm();
  EXPECT_EQ(state->overallStatus, Status::green);
  EXPECT_FALSE(state->acknowledged.GetValue());
  EXPECT_THROW(alarms->AcknowledgeAlarm(alarm, VmRef()), Movel::Fault::InvalidArgument::Exception);
}

TEST_F(Alarms, CombinedConditionsAndManualStatus) {
  // Yellow while not powered off, red while powered on: or takes the worst.
  Ref<Kor::Alarm::StateAlarmExpression> notOff(new Kor::Alarm::StateAlarmExpression());
  notOff->operator_ = Kor::Alarm::StateAlarmExpression::StateOperator::isUnequal;
  notOff->type = Movel::TypeName("kor.VirtualMachine");
  notOff->statePath = Movel::PropertyPath("runtime.powerState");
  Movel::SetOptionalString(notOff->yellow, "poweredOff");
  Ref<Kor::Alarm::OrAlarmExpression> any(new Kor::Alarm::OrAlarmExpression());
  any->GetExpression()->Append(notOff);
  any->GetExpression()->Append(const_cast<Kor::Alarm::AlarmExpression*>(RunningSpec()->PeekExpression()));
  Ref<Kor::Alarm::AlarmSpec> spec = RunningSpec("worst of");
  spec->SetExpression(any);
  Ref<Movel::MoRef> alarm;
  alarms->Create(VmRef(), spec, alarm);
  EXPECT_EQ(StateOnVm()->overallStatus, Status::green);
  Ref<Movel::MoRef> task;
  vm->PowerOn(nullptr, task);
  EXPECT_EQ(StateOnVm()->overallStatus, Status::red);
  alarms->SetAlarmStatus(alarm, VmRef(), Status::yellow);
  EXPECT_EQ(StateOnVm()->overallStatus, Status::yellow);
  Ref<Movel::DataArray<Movel::MoRef>> defined;
  alarms->GetAlarm(VmRef(), defined);
  ASSERT_EQ(defined->GetLength(), 1);
  Ref<Kor::Alarm::Alarm> stub(new Kor::Alarm::AlarmStub(alarm, adapter, nullptr));
  Ref<Kor::Alarm::AlarmInfo> info;
  stub->GetInfo(info);
  EXPECT_EQ(info->name, "worst of");
  EXPECT_EQ(info->PeekEntity()->GetId(), kortypes::demo::kVmId);
  EXPECT_EQ(info->creationEventId, AlarmEvents()->Get(0)->key);
  stub->RemoveAlarm();
  alarms->GetAlarm(nullptr, defined);
  EXPECT_EQ(defined->GetLength(), 0);
  Ref<Movel::DataArray<Kor::Alarm::AlarmState>> states;
  alarms->GetAlarmState(VmRef(), states);
  EXPECT_EQ(states->GetLength(), 0);
  EXPECT_EQ(Classes(AlarmEvents()).back(), "kor.event.AlarmRemovedEvent");
}

TEST_F(Alarms, BadDefinitionsAreRefusedAndLeaveNothingBehind) {
  Ref<Movel::MoRef> alarm;
  alarms->Create(DatacenterRef(), RunningSpec(), alarm);
  std::size_t objects = server.GetObjectCount();
  std::size_t logged = server.GetEventCount();
  Ref<Movel::MoRef> result;
  EXPECT_THROW(alarms->Create(DatacenterRef(), RunningSpec(), result), Kor::Fault::DuplicateName::Exception);
  EXPECT_THROW(alarms->Create(DatacenterRef(), RunningSpec(""), result), Kor::Fault::InvalidName::Exception);
  EXPECT_THROW(alarms->Create(nullptr, RunningSpec("x"), result), Movel::Fault::InvalidArgument::Exception);
  EXPECT_THROW(alarms->Create(DatacenterRef(), nullptr, result), Movel::Fault::InvalidArgument::Exception);
  Ref<Movel::MoRef> gone = RefTo(Movel::GetMoType<Kor::HostSystem>(), "host-404");
  EXPECT_THROW(alarms->Create(gone, RunningSpec("x"), result), Movel::Fault::ManagedObjectNotFound::Exception);

  auto refused = [&](Kor::Alarm::AlarmExpression* expression, const char* property) {
    Ref<Kor::Alarm::AlarmSpec> spec = RunningSpec("bad");
    spec->SetExpression(expression);
    try {
      alarms->Create(DatacenterRef(), spec, result);
      ADD_FAILURE() << "accepted; expected a fault on " << property;
    } catch (const Movel::Fault::InvalidArgument::Exception& e) {
      ASSERT_NE(e.GetFault()->GetInvalidProperty(), nullptr);
      EXPECT_EQ(e.GetFault()->GetInvalidProperty()->str(), property);
    }
  };
  refused(nullptr, "spec.expression");
  Ref<Kor::Alarm::StateAlarmExpression> badType(static_cast<Kor::Alarm::StateAlarmExpression*>(
      RunningSpec()->PeekExpression()->_Clone()));
  badType->type = Movel::TypeName("kor.vm.ConfigSpec");
  refused(badType, "spec.expression.type");
  Ref<Kor::Alarm::StateAlarmExpression> badPath(static_cast<Kor::Alarm::StateAlarmExpression*>(
      RunningSpec()->PeekExpression()->_Clone()));
  badPath->statePath = Movel::PropertyPath("noSuchProperty.state");
  refused(badPath, "spec.expression.statePath");
  Ref<Kor::Alarm::MetricAlarmExpression> metric(new Kor::Alarm::MetricAlarmExpression());
  refused(metric, "spec.expression");
  Ref<Kor::Alarm::AndAlarmExpression> nested(new Kor::Alarm::AndAlarmExpression());
  nested->GetExpression()->Append(badPath);
  refused(nested, "spec.expression.expression[0].statePath");

  EXPECT_EQ(server.GetObjectCount(), objects);
  EXPECT_EQ(server.GetEventCount(), logged);
  Ref<Movel::DataArray<Movel::MoRef>> defined;
  alarms->GetAlarm(nullptr, defined);
  EXPECT_EQ(defined->GetLength(), 1);
  Ref<Movel::MoRef> unknownAlarm = RefTo(Movel::GetMoType<Kor::Alarm::Alarm>(), "alarm-404");
  EXPECT_THROW(alarms->AcknowledgeAlarm(unknownAlarm, VmRef()), Movel::Fault::ManagedObjectNotFound::Exception);
  EXPECT_THROW(alarms->AcknowledgeAlarm(alarm, HostRef()), Movel::Fault::InvalidArgument::Exception);
}

TEST_F(Alarms, ActionsEnabledPerEntity) {
  EXPECT_TRUE(alarms->GetAlarmActionsEnabled(HostRef()));
  alarms->SetAlarmActionsEnabled(HostRef(), false);
  EXPECT_FALSE(alarms->GetAlarmActionsEnabled(HostRef()));
  EXPECT_TRUE(alarms->GetAlarmActionsEnabled(VmRef()));
  alarms->SetAlarmActionsEnabled(HostRef(), true);
  EXPECT_TRUE(alarms->GetAlarmActionsEnabled(HostRef()));
  EXPECT_THROW(alarms->GetAlarmActionsEnabled(nullptr), Movel::Fault::InvalidArgument::Exception);
}

}  // namespace
}  // namespace demotest
