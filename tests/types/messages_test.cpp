// Readable faults and events over the real catalogue: the fault hierarchy
// below the runtime's roots, the event family, and the messages rendered
// from the catalogue's templates.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "kortypes/types/kor.HostSystem.h"
#include "kortypes/types/kor.event.Event.h"
#include "kortypes/types/kor.event.HostEventArgument.h"
#include "kortypes/types/kor.event.DatacenterEventArgument.h"
#include "kortypes/types/kor.event.VmEventArgument.h"
#include "kortypes/types/kor.event.HostDisconnectedEvent.h"
#include "kortypes/types/kor.event.HostConnectedEvent.h"
#include "kortypes/types/kor.event.HostInAuditModeEvent.h"
#include "kortypes/types/kor.event.VmFailedToPowerOnEvent.h"
#include "kortypes/types/kor.event.AccountCreatedEvent.h"
#include "kortypes/types/kor.host.LocalAccountManager.AccountSpecification.h"
#include "kortypes/types/kor.fault.FileNotFound.h"
#include "kortypes/types/kor.fault.FileFault.h"
#include "kortypes/types/kor.fault.TooManyWrites.h"
#include "kortypes/types/kor.fault.InvalidIpmiMacAddress.h"
#include "kortypes/types/kor.fault.KorFault.h"
#include "movel/message.h"

namespace {

using Basekit::Ref;

std::vector<const Movel::DataObjectType*> LibraryDataTypes(const std::string& module) {
  std::vector<const Movel::DataObjectType*> found;
  for (const Movel::LoadedModule& m : Movel::GetLoadedModules()) {
    for (int i = 0; i < m.count; ++i) {
      const Movel::Type* t = m.types[i];
      if (!t->IsDataObject()) continue;
      if (!module.empty() && t->GetName().rfind(module + ".", 0) != 0) continue;
      found.push_back(static_cast<const Movel::DataObjectType*>(t));
    }
  }
  return found;
}

bool Descends(const Movel::Type* type, const Movel::Type* ancestor) {
  const auto* s = dynamic_cast<const Movel::StructuredType*>(type);
  return s && s->IsA(ancestor);
}

// --- the hierarchy -----------------------------------------------------------------

TEST(FaultHierarchy, LibraryFaultsHangBelowTheRuntimeRootsAsDeclared) {
  std::map<std::string, int> byRuntimeParent;
  int faults = 0;
  for (const Movel::DataObjectType* t : LibraryDataTypes("")) {
    if (!t->IsFault()) continue;
    ++faults;
    const Movel::TypeInfo* parent = t->GetParentTypeInfo();
    // Every fault reaches the runtime's MethodFault through fault types.
    EXPECT_TRUE(Descends(t, Movel::GetDoType<Movel::MethodFault>())) << t->GetName();
    if (std::string(parent->name).rfind("tydef.", 0) == 0) ++byRuntimeParent[parent->name];
  }
  EXPECT_EQ(faults, 708);
  const std::map<std::string, int> expected = {
      {"tydef.RuntimeFault", 16},       {"tydef.fault.NotEnoughLicenses", 16},
      {"tydef.fault.InvalidArgument", 5}, {"tydef.fault.SecurityError", 2},
      {"tydef.MethodFault", 1},         {"tydef.fault.NotSupported", 1},
  };
  EXPECT_EQ(byRuntimeParent, expected);
}

TEST(EventHierarchy, EveryEventDescendsFromEventAndNothingElseDoes) {
  const Movel::Type* event = Movel::GetDoType<Kor::Event::Event>();
  ASSERT_NE(event, nullptr);
  int events = 0;
  for (const Movel::DataObjectType* t : LibraryDataTypes("kor.event")) {
    const std::string& name = t->GetName();
    // What the module holds besides events: the arguments that name the
    // entities involved, the queries over the history, the descriptions
    // of event kinds, and the pairs an extended event carries.
    const bool helper = name.find("Argument") != std::string::npos ||
                        name.find("FilterSpec") != std::string::npos ||
                        name.rfind("kor.event.EventDescription", 0) == 0 ||
                        name == "kor.event.ExtendedEvent.Pair";
    if (Descends(t, event)) {
      ++events;
      EXPECT_FALSE(helper) << name << " is an event named like a helper";
    } else {
      EXPECT_TRUE(helper) << name << " does not descend from kor.event.Event";
    }
  }
  EXPECT_GT(events, 400);
}

// --- rendering -------------------------------------------------------------------------

Ref<Kor::Event::HostEventArgument> HostArgument(const std::string& name) {
  Ref<Kor::Event::HostEventArgument> host(new Kor::Event::HostEventArgument());
  host->name = name;
  host->SetHost(Movel::MakeMoRef(Movel::GetMoType<Kor::HostSystem>(), "host-12"));
  return host;
}

Ref<Kor::Event::DatacenterEventArgument> DatacenterArgument(const std::string& name) {
  Ref<Kor::Event::DatacenterEventArgument> dc(new Kor::Event::DatacenterEventArgument());
  dc->name = name;
  return dc;
}

TEST(Messages, TemplatesRenderSetUnsetAndNestedArguments) {
  Ref<Kor::Fault::FileNotFound> notFound(new Kor::Fault::FileNotFound());
  notFound->file = "ds1/web-frontend/disk-0.img";
  EXPECT_EQ(Movel::RenderMessage(notFound), "File ds1/web-frontend/disk-0.img was not found");

  // Nested paths through event arguments.
  Ref<Kor::Event::HostDisconnectedEvent> disconnected(new Kor::Event::HostDisconnectedEvent());
  disconnected->SetHost(HostArgument("hv-01.lab"));
  disconnected->SetDatacenter(DatacenterArgument("lab"));
  EXPECT_EQ(Movel::RenderMessage(disconnected), "Host hv-01.lab in lab is disconnected");

  // An argument that is missing says so; an empty text too.
  disconnected->SetDatacenter(nullptr);
  EXPECT_EQ(Movel::RenderMessage(disconnected),
            "Host hv-01.lab in <datacenter.name unset> is disconnected");
  Ref<Kor::Fault::FileNotFound> empty(new Kor::Fault::FileNotFound());
  EXPECT_EQ(Movel::RenderMessage(empty), "File <file empty> was not found");

  // A fault inside an event renders as its own message.
  Ref<Kor::Event::VmFailedToPowerOnEvent> failed(new Kor::Event::VmFailedToPowerOnEvent());
  Ref<Kor::Event::VmEventArgument> vm(new Kor::Event::VmEventArgument());
  vm->name = "web-frontend";
  failed->SetVm(vm);
  failed->SetHost(HostArgument("hv-02.lab"));
  failed->SetDatacenter(DatacenterArgument("lab"));
  failed->SetReason(notFound);
  EXPECT_EQ(Movel::RenderMessage(failed),
            "Cannot power on web-frontend on hv-02.lab in lab: File "
            "ds1/web-frontend/disk-0.img was not found");

  // Enumerations show their value names; one outside the values shows its
  // number instead of failing.
  Ref<Kor::Event::HostDisconnectedEvent> withReason(new Kor::Event::HostDisconnectedEvent());
  withReason->reason = static_cast<Kor::Event::HostDisconnectedEvent::ReasonCode>(0);
  const std::string first = Movel::GetEnumType<Kor::Event::HostDisconnectedEvent::ReasonCode>()
                                ->GetValues()
                                .front();
  EXPECT_EQ(Movel::RenderTemplate(withReason, "reason {reason}"), "reason " + first);
  withReason->reason = static_cast<Kor::Event::HostDisconnectedEvent::ReasonCode>(42);
  EXPECT_EQ(Movel::RenderTemplate(withReason, "reason {reason}"), "reason <enum value 42>");
  EXPECT_EQ(Movel::RenderTemplate(withReason, "{nope} {host.nope} {{x}}"),
            "<nope unknown> <host.nope unset> {x}");
}

TEST(Messages, ATypeWithoutTemplateUsesItsNearestAncestorsOrTheDefault) {
  // FileLocked has its own template; TooManyWrites (a FileFault) has none and
  // takes FileFault's.
  Ref<Kor::Fault::TooManyWrites> writes(new Kor::Fault::TooManyWrites());
  writes->file = "a.vmdk";
  const Movel::Type* owner = nullptr;
  EXPECT_NE(Movel::FindMessageTemplate(writes->_GetDataType(), &owner), nullptr);
  EXPECT_EQ(owner, Movel::GetDoType<Kor::Fault::FileFault>());
  EXPECT_EQ(Movel::GetMessageTemplate(writes->_GetDataType()), nullptr);
  EXPECT_EQ(Movel::RenderMessage(writes), "The operation on file a.vmdk failed");

  // No template anywhere up the chain: the type's name and set properties.
  Ref<Kor::Fault::InvalidIpmiMacAddress> mac(new Kor::Fault::InvalidIpmiMacAddress());
  ASSERT_EQ(Movel::FindMessageTemplate(mac->_GetDataType()), nullptr);
  mac->userProvidedMacAddress = "00:11:22:33:44:55";
  mac->observedMacAddress = "66:77:88:99:aa:bb";
  EXPECT_EQ(Movel::RenderMessage(mac),
            "InvalidIpmiMacAddress: userProvidedMacAddress=\"00:11:22:33:44:55\", "
            "observedMacAddress=\"66:77:88:99:aa:bb\"");
  // The exception says the same, and so does the debug print.
  try {
    mac->Throw();
  } catch (const Kor::Fault::KorFault::Exception& e) {
    EXPECT_EQ(std::string(e.what()), Movel::RenderMessage(mac));
  }
  EXPECT_NE(Movel::DebugString(mac).find(
                "(kor.fault.InvalidIpmiMacAddress) \"InvalidIpmiMacAddress: "),
            std::string::npos)
      << Movel::DebugString(mac);

  // A cause follows the message.
  Ref<Kor::Fault::FileNotFound> cause(new Kor::Fault::FileNotFound());
  cause->file = "b.vmdk";
  mac->SetFaultCause(cause);
  EXPECT_NE(Movel::RenderMessage(mac).find(" (caused by: File b.vmdk was not found)"),
            std::string::npos);
}

TEST(Messages, SecretValuesNeverShow) {
  Ref<Kor::Host::LocalAccountManager::AccountSpecification> spec(
      new Kor::Host::LocalAccountManager::AccountSpecification());
  spec->id = "operator";
  Movel::SetOptionalString(spec->password, "hunter2-secret");
  Ref<Kor::Event::AccountCreatedEvent> created(new Kor::Event::AccountCreatedEvent());
  created->SetSpec(spec);
  created->SetHost(HostArgument("hv-03.lab"));

  EXPECT_EQ(Movel::RenderMessage(created), "Account operator created on host hv-03.lab");
  EXPECT_EQ(Movel::RenderTemplate(created, "{spec.password}"), "<secret>");
  const std::string plain = Movel::RenderDefault(created);
  EXPECT_NE(plain.find("password=<secret>"), std::string::npos) << plain;
  for (const std::string& shown : {plain, Movel::RenderDefault(spec), Movel::DebugString(created)}) {
    EXPECT_EQ(shown.find("hunter2"), std::string::npos) << shown;
  }
}

TEST(Messages, FillFormattedMessageStoresTheLineOnTheEvent) {
  Ref<Kor::Event::HostConnectedEvent> connected(new Kor::Event::HostConnectedEvent());
  connected->SetHost(HostArgument("hv-01.lab"));
  connected->SetDatacenter(DatacenterArgument("lab"));
  ASSERT_TRUE(Movel::FillFormattedMessage(connected));
  ASSERT_NE(connected->fullFormattedMessage, nullptr);
  EXPECT_EQ(*connected->fullFormattedMessage, "Host hv-01.lab in lab is connected");

  // Without a template the default rendering leaves the message itself out,
  // so filling twice gives the same line.
  Ref<Kor::Event::HostInAuditModeEvent> audit(new Kor::Event::HostInAuditModeEvent());
  audit->userName = "root";
  ASSERT_EQ(Movel::FindMessageTemplate(audit->_GetDataType()), nullptr);
  ASSERT_TRUE(Movel::FillFormattedMessage(audit));
  const std::string once = *audit->fullFormattedMessage;
  ASSERT_TRUE(Movel::FillFormattedMessage(audit));
  EXPECT_EQ(*audit->fullFormattedMessage, once);
  EXPECT_EQ(once.find("fullFormattedMessage"), std::string::npos) << once;
  EXPECT_EQ(once.rfind("HostInAuditModeEvent: ", 0), 0u) << once;
  EXPECT_NE(once.find("userName=\"root\""), std::string::npos) << once;

  // An object without the property is left alone.
  Ref<Kor::Fault::FileNotFound> fault(new Kor::Fault::FileNotFound());
  EXPECT_FALSE(Movel::FillFormattedMessage(fault));
  EXPECT_FALSE(Movel::FillFormattedMessage(connected, "userName.nope"));
}

TEST(Messages, BoxedEnumerationsOutsideTheirValuesPrintWithoutThrowing) {
  using Code = Kor::Event::HostDisconnectedEvent::ReasonCode;
  Ref<Movel::Any> boxed(new Movel::Primitive<Code>(static_cast<Code>(42)));
  std::string text;
  EXPECT_NO_THROW(text = Movel::DebugString(boxed));
  EXPECT_NE(text.find("<enum value 42>"), std::string::npos) << text;
  // Inside a property it prints alike.
  Ref<Kor::Event::HostDisconnectedEvent> event(new Kor::Event::HostDisconnectedEvent());
  event->reason = static_cast<Code>(42);
  EXPECT_NE(Movel::DebugString(event).find("reason = <enum value 42>"), std::string::npos);
  // An array holding such a value cannot be converted name by name; it says
  // so instead of failing.
  Ref<Movel::Any> values(new Movel::Array<Code>{static_cast<Code>(0), static_cast<Code>(42)});
  EXPECT_NO_THROW(text = Movel::DebugString(values));
  EXPECT_NE(text.find("not all in kor.event.HostDisconnectedEvent.ReasonCode"), std::string::npos)
      << text;
}

}  // namespace
