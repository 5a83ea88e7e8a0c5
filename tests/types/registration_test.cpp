// Registration at load: every schema type is registered with the runtime,
// records read back word by word, lists end with their terminators, and the
// method-object arrays are filled.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "kortypes/kortypes.h"

namespace {

struct IndexRow {
  std::string module, kind, wire, wsdl, version;
  int properties = 0, methods = 0;
};

std::vector<IndexRow> ReadIndex() {
  std::ifstream in(KORTYPES_CATALOGUE_INDEX);
  std::vector<IndexRow> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    IndexRow r;
    std::string props, methods;
    std::getline(fields, r.module, '\t');
    std::getline(fields, r.kind, '\t');
    std::getline(fields, r.wire, '\t');
    std::getline(fields, r.wsdl, '\t');
    std::getline(fields, r.version, '\t');
    std::getline(fields, props, '\t');
    std::getline(fields, methods, '\t');
    r.properties = std::stoi(props);
    r.methods = std::stoi(methods);
    rows.push_back(r);
  }
  return rows;
}

Movel::Word KindWord(const std::string& kind) {
  if (kind == "enum") return Movel::kTypeKindEnum;
  if (kind == "data") return Movel::kTypeKindData;
  if (kind == "fault") return Movel::kTypeKindFault;
  return Movel::kTypeKindManaged;
}

// Reads a record as the runtime does: consecutive machine words.
const Movel::Word* Words(const void* record) { return static_cast<const Movel::Word*>(record); }

TEST(Registration, EveryTypeOfTheSchemaIsRegisteredAtLoad) {
  std::vector<IndexRow> rows = ReadIndex();
  ASSERT_GT(rows.size(), 50u) << "catalogue index missing: " << KORTYPES_CATALOGUE_INDEX;
  std::map<std::string, const Movel::Type*> inModule;
  for (const Movel::LoadedModule& m : Movel::GetLoadedModules()) {
    for (int i = 0; i < m.count; ++i) inModule[m.types[i]->GetName()] = m.types[i];
  }
  for (const IndexRow& r : rows) {
    SCOPED_TRACE(r.wire);
    Movel::Type* t = Movel::FindType(r.wire);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t, Movel::FindTypeByWsdlName(r.wsdl));
    EXPECT_EQ(t->GetKind(), KindWord(r.kind));
    EXPECT_EQ(t->GetVersionName(), r.version);
    EXPECT_NE(t->GetVersion(), nullptr);
    EXPECT_EQ(inModule[r.wire], t) << "not in its module's type slots";
    if (auto* s = dynamic_cast<Movel::StructuredType*>(t)) {
      EXPECT_EQ(static_cast<int>(s->GetOwnProperties().size()), r.properties);
      EXPECT_NE(s->GetParent(), nullptr) << "parent not registered";
    }
    if (auto* m = dynamic_cast<Movel::ManagedObjectType*>(t)) {
      EXPECT_EQ(m->GetOwnMethodCount(), r.methods);
    }
  }
}

TEST(Registration, LoadersRunInModuleOrderAndTwoRegisterNothing) {
  std::vector<Movel::LoadedModule> modules = Movel::GetLoadedModules();
  ASSERT_EQ(modules.size(), 34u);
  for (size_t i = 0; i < modules.size(); ++i) {
    EXPECT_EQ(modules[i].ns, "kor");
    bool empty = i == 1 || i == 27;  // objects 2 and 28
    EXPECT_EQ(modules[i].types == nullptr, empty) << "loader " << i + 1;
  }
  // Within a module: managed types, then data and fault types, then enums.
  const Movel::LoadedModule& core = modules[0];
  ASSERT_GT(core.count, 0);
  int phase = 0;
  for (int i = 0; i < core.count; ++i) {
    Movel::Word k = core.types[i]->GetKind();
    int p = k == Movel::kTypeKindManaged ? 0 : k == Movel::kTypeKindEnum ? 2 : 1;
    EXPECT_GE(p, phase) << core.types[i]->GetName() << " out of slot order";
    phase = p;
  }
  EXPECT_EQ(Movel::GetDoType<Kor::AboutInfo>(), Movel::FindType("kor.AboutInfo"));
  EXPECT_EQ(Movel::GetMoType<Kor::ServiceInstance>(), Movel::FindType("kor.ServiceInstance"));
  EXPECT_EQ(Movel::GetEnumType<Kor::TaskInfo::State>(), Movel::FindType("kor.TaskInfo.State"));
}

TEST(Records, TypeInfoReadsBackOneWordPerField) {
  struct Expect {
    const Movel::TypeInfo* info;
    Movel::Word kind;
    const char *name, *wsdl, *version;
  };
  const Expect cases[] = {
      {&gKorAboutInfoTypeInfo, 16, "kor.AboutInfo", "AboutInfo", "kor.version.version1"},
      {&gKorServiceInstanceTypeInfo, 18, "kor.ServiceInstance", "ServiceInstance",
       "kor.version.version1"},
      {&gKorBatchResultResultTypeInfo, 15, "kor.BatchResult.Result", "BatchResultResult",
       "kor.version.version10"},
      {&gKorFaultInvalidStateTypeInfo, 17, "kor.fault.InvalidState", "InvalidState",
       "kor.version.version1"},
      {&gKorServiceInstanceContentTypeInfo, 16, "kor.ServiceInstanceContent", "ServiceContent",
       "kor.version.version1"},
  };
  for (const Expect& e : cases) {
    const Movel::Word* w = Words(e.info);
    EXPECT_EQ(w[0], e.kind);
    EXPECT_STREQ(reinterpret_cast<const char*>(w[1]), e.name);
    EXPECT_STREQ(reinterpret_cast<const char*>(w[2]), e.wsdl);
    EXPECT_STREQ(reinterpret_cast<const char*>(w[3]), e.version);
  }
  // Fault parent and the runtime roots.
  auto* invalidState = Movel::GetDoType<Kor::Fault::InvalidState>();
  EXPECT_EQ(invalidState->GetRecord()->parentTypeInfo, &gKorFaultKorFaultTypeInfo);
  EXPECT_TRUE(invalidState->IsA(Movel::FindType("tydef.MethodFault")));
  EXPECT_EQ(Movel::GetDoType<Kor::Fault::KorFault>()->GetRecord()->parentTypeInfo,
            &gTydefMethodFaultTypeInfo);
  EXPECT_EQ(Movel::GetDoType<Kor::AboutInfo>()->GetRecord()->parentTypeInfo,
            &gTydefDynamicDataTypeInfo);
  EXPECT_EQ(Movel::GetMoType<Kor::ServiceInstance>()->GetRecord()->parentTypeInfo,
            &gTydefManagedObjectTypeInfo);
}

TEST(Records, AboutInfoHasFourteenPropertiesInOrder) {
  const Movel::DataObjectType* about = Movel::GetDoType<Kor::AboutInfo>();
  ASSERT_NE(about, nullptr);
  struct P {
    const char* name;
    Movel::Word flags;
    bool localizable;
    const char* version;
  };
  const P expected[] = {
      {"name", 0x004, true, "kor.version.version1"},
      {"fullName", 0x004, true, "kor.version.version1"},
      {"vendor", 0x004, true, "kor.version.version1"},
      {"version", 0x004, false, "kor.version.version1"},
      {"build", 0x004, false, "kor.version.version1"},
      {"localeVersion", 0x006, true, "kor.version.version1"},
      {"localeBuild", 0x006, true, "kor.version.version1"},
      {"osType", 0x004, false, "kor.version.version1"},
      {"productLineId", 0x004, false, "kor.version.version1"},
      {"apiType", 0x004, false, "kor.version.version1"},
      {"apiVersion", 0x004, false, "kor.version.version1"},
      {"instanceUuid", 0x006, false, "kor.version.version5"},
      {"licenseProductName", 0x006, false, "kor.version.version5"},
      {"licenseProductVersion", 0x006, false, "kor.version.version5"},
  };
  const auto& props = about->GetOwnProperties();
  ASSERT_EQ(props.size(), 14u);
  for (size_t i = 0; i < props.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(props[i].GetName(), expected[i].name);
    EXPECT_EQ(props[i].GetIndex(), static_cast<int>(i));
    EXPECT_EQ(props[i].GetFlags(), expected[i].flags);
    EXPECT_EQ(props[i].IsLocalizable(), expected[i].localizable);
    if (expected[i].localizable) {
      EXPECT_STREQ(props[i].GetRecord().localizable, "");
    }
    EXPECT_STREQ(props[i].GetVersionName(), expected[i].version);
    EXPECT_EQ(props[i].GetTypeInfo(), &gStringTypeInfo);
    EXPECT_EQ(props[i].GetPrivilegeId(), nullptr);
  }
  // The list ends with {null, null, null, null, all-ones, null}.
  const Movel::Word* end = Words(&about->GetRecord()->properties[14]);
  EXPECT_EQ(end[0], 0u);
  EXPECT_EQ(end[1], 0u);
  EXPECT_EQ(end[2], 0u);
  EXPECT_EQ(end[3], 0u);
  EXPECT_EQ(end[4], 0xFFFFFFFFu);
  EXPECT_EQ(end[5], 0u);
  EXPECT_EQ(about->GetRecord()->redeclaresDynamicProperty, 0);
}

TEST(Records, ServiceInstanceMethodObjectsAreMethodsThenProperties) {
  const char* const entries[] = {"currentTime",       "retrieveContent",
                                 "retrieveInternalContent", "validateMigration",
                                 "queryLiveMigCompatibility", "retrieveProductComponents",
                                 "serverClock",       "capability",
                                 "content"};
  const Movel::ManagedObjectType* si = Movel::GetMoType<Kor::ServiceInstance>();
  ASSERT_EQ(si->GetMethodObjects().size(), 9u);
  EXPECT_EQ(si->GetOwnMethodCount(), 6);
  for (int i = 0; i < 9; ++i) {
    Movel::ManagedMethod* m = gKorServiceInstanceMethodObjects[i];
    ASSERT_NE(m, nullptr) << i;
    EXPECT_EQ(m->GetName(), entries[i]);
    EXPECT_EQ(m->GetIndex(), i);
    EXPECT_EQ(m->GetOwner(), si);
    EXPECT_EQ(m->IsPropertyRead(), i >= 6);
    EXPECT_EQ(m, si->GetMethodObjects()[i]);
  }
  EXPECT_EQ(sizeof(gKorServiceInstanceMethodObjects) / sizeof(gKorServiceInstanceMethodObjects[0]),
            9u);

  const Movel::ManagedMethod* validate = gKorServiceInstanceMethodObjects[3];
  EXPECT_EQ(validate->GetWsdlName(), "ValidateMigration");
  EXPECT_STREQ(validate->GetPrivilegeId(), "System.View");
  ASSERT_EQ(validate->GetParameters().size(), 5u);
  const Movel::Word paramFlags[] = {0x001, 0x002, 0x003, 0x002, 0x002};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(validate->GetParameters()[i].GetFlags(), paramFlags[i]);
  EXPECT_EQ(validate->GetParameters()[1].GetType(), Movel::FindType("kor.VirtualMachine.PowerState"));
  EXPECT_EQ(validate->GetResult().GetType(), Movel::FindType("kor.event.Event"));
  EXPECT_EQ(validate->GetResult().GetFlags(), 0x003u);
  std::vector<Movel::Type*> faults = validate->GetFaults();
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(faults[0], Movel::GetDoType<Kor::Fault::InvalidState>());

  const Movel::ManagedMethod* internal = gKorServiceInstanceMethodObjects[2];
  EXPECT_TRUE(internal->IsInternal());
  EXPECT_FALSE(internal->IsTask());
  EXPECT_STREQ(gKorServiceInstanceMethodObjects[5]->GetVersionName(), "kor.version.version2");
  EXPECT_STREQ(Kor::ServiceInstance::METHOD_RETRIEVECONTENT, "kor.ServiceInstance.retrieveContent");
  EXPECT_EQ(gKorServiceInstanceMethodObjects[1]->GetFullName(),
            Kor::ServiceInstance::METHOD_RETRIEVECONTENT);
  // A property read answers with the property's type.
  EXPECT_EQ(gKorServiceInstanceMethodObjects[8]->GetResult().GetType(),
            Movel::GetDoType<Kor::ServiceInstanceContent>());
}

TEST(Records, ListTerminators) {
  const Movel::ManagedTypeInfo* si = Movel::GetMoType<Kor::ServiceInstance>()->GetRecord();
  // A method without parameters points to a list holding only the terminator;
  // without declared faults to a list holding only null.
  const Movel::MethodInfo& currentTime = si->methods[0];
  ASSERT_NE(currentTime.parameters, nullptr);
  EXPECT_EQ(currentTime.parameters[0].name, nullptr);
  EXPECT_EQ(currentTime.parameters[0].flags, 0xFFFFFFFFu);
  ASSERT_NE(currentTime.faults, nullptr);
  EXPECT_EQ(currentTime.faults[0], nullptr);
  EXPECT_STREQ(currentTime.result.version, "tydef.version.version0");
  // The method list ends with thirteen zero words.
  const Movel::Word* end = Words(&si->methods[6]);
  for (int i = 0; i < 13; ++i) EXPECT_EQ(end[i], 0u) << "word " << i;

  // A method without result: result named "result", null type, flags 0,
  // version tydef.version.version0.
  const Movel::MethodInfo& reload = Movel::GetMoType<Kor::ManagedEntity>()->GetRecord()->methods[0];
  ASSERT_STREQ(reload.name, "reload");
  EXPECT_STREQ(reload.result.name, "result");
  EXPECT_EQ(reload.result.type, nullptr);
  EXPECT_EQ(reload.result.flags, 0u);
  EXPECT_STREQ(reload.result.version, "tydef.version.version0");

  // A type without own properties: the terminator alone, shared functions.
  const Movel::DataTypeInfo* cap = Movel::GetDoType<Kor::TaskReasonSystem>()->GetRecord();
  EXPECT_EQ(cap->properties[0].name, nullptr);
  EXPECT_EQ(cap->properties[0].flags, 0xFFFFFFFFu);
  ASSERT_NE(cap->propIsSet, nullptr);
  EXPECT_TRUE(cap->propIsSet(nullptr, 0));
  EXPECT_EQ(cap->propPeek(nullptr, 0), nullptr);
  EXPECT_EQ(cap->propGet, Movel::GetDoType<Kor::Event::HostEvent>()->GetRecord()->propGet);
  ASSERT_NE(cap->createObject, nullptr);
  Basekit::Ref<Movel::DataObject> made(cap->createObject());
  EXPECT_EQ(made->_GetDataType(), Movel::GetDoType<Kor::TaskReasonSystem>());

  // A managed type without methods: only the zero entry, and the shared
  // dispatch that only clears the result.
  const Movel::ManagedTypeInfo* folder = Movel::GetMoType<Kor::External::ContentLibrary>()->GetRecord();
  EXPECT_EQ(folder->methods[0].name, nullptr);
  ASSERT_NE(folder->dispatch, nullptr);
  Basekit::RefVector<Movel::Any> args;
  Basekit::Ref<Movel::Any> result(new Movel::Primitive<int>(5));
  folder->dispatch(nullptr, 0, args, result);
  EXPECT_EQ(result.Get(), nullptr);

  // Enumeration values: null-terminated, position is the integer.
  const Movel::EnumTypeInfo* state = Movel::GetEnumType<Kor::TaskInfo::State>()->GetRecord();
  EXPECT_STREQ(state->values[0], "queued");
  EXPECT_STREQ(state->values[3], "error");
  EXPECT_EQ(state->values[4], nullptr);
}

TEST(Records, PrivilegeOverridesOfRenameAndDestroy) {
  const Movel::ManagedObjectType* me = Movel::GetMoType<Kor::ManagedEntity>();
  const Movel::ManagedMethod* rename = me->FindMethod("rename");
  ASSERT_NE(rename, nullptr);
  EXPECT_EQ(rename->GetWsdlName(), "Rename_Task");
  EXPECT_TRUE(rename->IsTask());
  EXPECT_EQ(rename->GetPrivilegeId(), nullptr);
  EXPECT_STREQ(rename->GetPrivilegeFor("kor.Folder"), "Folder.Rename");
  EXPECT_STREQ(rename->GetPrivilegeFor("kor.dvs.CorvexDistributedVirtualSwitch"), "DVSwitch.Modify");
  EXPECT_EQ(rename->GetPrivilegeFor("kor.Task"), nullptr);
  int count = 0;
  for (const Movel::PrivilegeOverride* o = rename->GetPrivilegeOverrides(); o->typeName; ++o) ++count;
  EXPECT_EQ(count, 11);
  const Movel::ManagedMethod* destroy = me->FindMethod("Destroy_Task");
  ASSERT_NE(destroy, nullptr);
  EXPECT_STREQ(destroy->GetPrivilegeFor("kor.HostSystem"), "Host.Inventory.RemoveHostFromCluster");
  EXPECT_STREQ(me->FindMethod("addTag")->GetPrivilegeId(), "dynamic");
  // Inherited methods are found through the parent chain.
  EXPECT_EQ(Movel::GetMoType<Kor::HostSystem>()->FindMethod("rename"), rename);
}

TEST(Records, ArrayTypesAndEnumerationStrings) {
  Movel::Type* about = Movel::GetDoType<Kor::AboutInfo>();
  Movel::ArrayType* array = about->GetArrayType();
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(array, about->GetArrayType());
  EXPECT_TRUE(array->IsArray());
  EXPECT_EQ(array->GetElementType(), about);
  EXPECT_EQ(array->GetName(), "kor.AboutInfo[]");

  const Movel::EnumType* result = Movel::GetEnumType<Kor::BatchResult::Result>();
  EXPECT_STREQ(Kor::BatchResult::RESULT_SUCCESS, "success");
  EXPECT_STREQ(Kor::BatchResult::RESULT_FAIL, "fail");
  EXPECT_EQ(result->ToInt("fail"), static_cast<int>(Kor::BatchResult::Result::fail));
  EXPECT_EQ(result->ToName(static_cast<int>(Kor::BatchResult::Result::success)), "success");
  try {
    result->ToInt("failed");
    FAIL() << "an unknown string converted";
  } catch (const Movel::InvalidEnumValue& e) {
    EXPECT_NE(std::string(e.what()).find("kor.BatchResult.Result"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("failed"), std::string::npos);
  }
}

TEST(Versions, TheKorTableRowsOrderAndDescent) {
  std::vector<const Movel::Version*> rows = Movel::GetVersions("kor");
  const char* const names[] = {"version1", "version2", "version3", "version4", "version5",
                               "version6", "version7", "version8", "version9", "version10",
                               "dev",      "r16i6",    "r16i7",    "r16i8",    "unstable"};
  const char* const ids[] = {"2.0", "2.5", "2.5u2", "2.5u2server", "4.0",   "4.1",   "5.0", "5.1",
                             "5.5", "6.0", "dev2",  "r16i6",       "r16i7", "r16i8", "r16i8x89B78"};
  ASSERT_EQ(rows.size(), 15u);
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(rows[i]->GetName(), std::string("kor.version.") + names[i]);
    EXPECT_EQ(rows[i]->GetVersionId(), ids[i]);
    EXPECT_EQ(rows[i]->GetWireNamespace(), i == 0 ? "kor2" : "kor25");
    EXPECT_EQ(rows[i]->GetServiceNamespace(), "kor25");
    EXPECT_EQ(rows[i]->GetTaskType(), "kor.Task");
    EXPECT_EQ(rows[i]->GetFlagsWord(), (i == 0 || i == 2) ? 0x101u : 0x100u);
    if (i > 0) {
      EXPECT_TRUE(rows[i]->IsSameOrDescendantOf(*rows[i - 1]));
      EXPECT_FALSE(rows[i - 1]->IsSameOrDescendantOf(*rows[i]));
    }
  }
  EXPECT_EQ(Movel::GetVersionId("kor.version.version7"), "5.0");
  EXPECT_EQ(Movel::GetVersionId("kor.version.nonesuch"), "");
  EXPECT_EQ(Movel::GetImportedNamespaces("kor"),
            (std::vector<std::string>{"tydef.query", "tydef.reflect"}));

  auto pairs = Movel::GetVersionParents("kor");
  ASSERT_EQ(pairs.size(), 20u);
  // A version stands in the pairs only after every version it extends.
  for (size_t i = 0; i < pairs.size(); ++i) {
    for (size_t j = i + 1; j < pairs.size(); ++j) EXPECT_NE(pairs[i].second, pairs[j].first);
  }
  // Imported namespaces join the chain at version1, 5, 6, 7 and 10.
  const Movel::Version* unstable = Movel::FindVersion("kor.version.unstable");
  for (const char* imported : {"tydef.query.version.version4", "tydef.reflect.version.version2"}) {
    EXPECT_TRUE(unstable->IsSameOrDescendantOf(*Movel::FindVersion(imported))) << imported;
  }
  EXPECT_FALSE(Movel::FindVersion("kor.version.version6")
                   ->IsSameOrDescendantOf(*Movel::FindVersion("tydef.reflect.version.version1")));
  EXPECT_TRUE(Movel::FindVersion("kor.version.version7")
                  ->IsSameOrDescendantOf(*Movel::FindVersion("tydef.reflect.version.version1")));
  ASSERT_EQ(Movel::FindVersion("kor.version.version5")->GetParents().size(), 2u);
  EXPECT_EQ(Movel::FindVersion("kor.version.version5")->GetParents()[0]->GetName(),
            "tydef.query.version.version2");
}

}  // namespace
