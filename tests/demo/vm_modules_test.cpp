// Catalogue-wide checks over the virtual machine modules: every enumeration
// round-trips, and every operation of every managed type reaches its server
// implementation through a stub.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "kortypes/kortypes.h"
#include "movel/errors.h"
#include "movel/inprocess.h"

namespace {

using Basekit::Ref;

bool IsVmModule(const std::string& ns) {
  return ns == "kor.vm" || ns.rfind("kor.vm.", 0) == 0 || ns == "kor.vApp";
}

template <class Pred>
std::vector<const Movel::Type*> VmModuleTypes(Pred pred) {
  // Loader i registers the module the library names at position i.
  std::vector<const Movel::Type*> out;
  std::vector<Movel::LoadedModule> modules = Movel::GetLoadedModules();
  int nameCount = 0;
  const char* const* names = Kor::GetModuleNames(nameCount);
  for (std::size_t m = 0; m < modules.size() && static_cast<int>(m) < nameCount; ++m) {
    const Movel::LoadedModule& module = modules[m];
    if (!names[m] || !IsVmModule(names[m]) || !module.types) continue;
    for (int i = 0; i < module.count; ++i) {
      if (pred(module.types[i])) out.push_back(module.types[i]);
    }
  }
  return out;
}

TEST(VmModuleEnums, EveryValueRoundTripsThroughNamesBoxesAndArrays) {
  std::vector<const Movel::Type*> enums =
      VmModuleTypes([](const Movel::Type* t) { return t->IsEnum(); });
  ASSERT_GE(enums.size(), 74u);  // the vm modules' own enumerations at least
  for (std::size_t n = 0; n < enums.size(); ++n) {
    const auto* type = static_cast<const Movel::EnumType*>(enums[n]);
    SCOPED_TRACE(type->GetName());
    const std::vector<std::string>& values = type->GetValues();
    ASSERT_FALSE(values.empty());
    const Movel::EnumFuncs& funcs = type->GetFuncs();
    Ref<Movel::Array<std::string>> names(new Movel::Array<std::string>());
    for (int i = 0; i < static_cast<int>(values.size()); ++i) {
      EXPECT_EQ(type->ToName(i), values[static_cast<std::size_t>(i)]);
      EXPECT_EQ(type->ToInt(values[static_cast<std::size_t>(i)]), i);
      EXPECT_EQ(type->FindValue(values[static_cast<std::size_t>(i)]), i);
      Ref<Movel::Any> box(funcs.boxValue(i));
      EXPECT_EQ(box->_GetType(), type);
      EXPECT_EQ(funcs.unboxValue(box), i);
      names->Append(values[static_cast<std::size_t>(i)]);
    }
    // Names to a typed array and back; the typed array is the enumeration's
    // own class.
    Ref<Movel::Any> typed(funcs.arrayFromNames(names, type));
    ASSERT_NE(typed.Get(), nullptr);
    Ref<Movel::Any> empty(funcs.createEnumArray());
    const Movel::Any& typedArray = *typed;
    const Movel::Any& emptyArray = *empty;
    EXPECT_EQ(typeid(typedArray), typeid(emptyArray));
    Ref<Movel::Any> back;
    funcs.namesFromArray(typed, back, type);
    EXPECT_TRUE(Movel::AreEqualAnysInt(back, names, 0, false));
    // Out of range and unknown names fail loudly.
    EXPECT_EQ(type->FindValue("noSuchValue"), -1);
    EXPECT_THROW(type->ToInt("noSuchValue"), Movel::InvalidEnumValue);
    EXPECT_THROW(type->ToName(static_cast<int>(values.size())), Basekit::Exception);
    names->Append("noSuchValue");
    EXPECT_THROW(Ref<Movel::Any>(funcs.arrayFromNames(names, type)), Movel::InvalidEnumValue);
    // Each enumeration boxes into its own class: a neighbour's box does not fit.
    const auto* other = static_cast<const Movel::EnumType*>(enums[(n + 1) % enums.size()]);
    Ref<Movel::Any> foreign(other->GetFuncs().boxValue(0));
    EXPECT_THROW(funcs.unboxValue(foreign), Basekit::TypeMismatchException);
  }
}

// A served object of skeleton class S: every operation answers NotSupported
// naming itself.
template <class S>
struct Served : S {};

template <class S>
Movel::ManagedObject* Serve() {
  return new Served<S>();
}

// The server side of each managed type of the modules. The test below fails
// when a type is missing here, so the table follows the catalogue.
const std::map<std::string, std::function<Movel::ManagedObject*()>>& Skeletons() {
  static const std::map<std::string, std::function<Movel::ManagedObject*()>> table = {
      {"kor.vm.BackupAgent", Serve<Kor::Vm::BackupAgentSkeleton>},
      {"kor.vm.check.CompatibilityChecker", Serve<Kor::Vm::Check::CompatibilityCheckerSkeleton>},
      {"kor.vm.check.ProvisioningChecker", Serve<Kor::Vm::Check::ProvisioningCheckerSkeleton>},
      {"kor.vm.customization.GuestInstallManager",
       Serve<Kor::Vm::Customization::GuestInstallManagerSkeleton>},
      {"kor.vm.guest.AliasManager", Serve<Kor::Vm::Guest::AliasManagerSkeleton>},
      {"kor.vm.guest.AuthManager", Serve<Kor::Vm::Guest::AuthManagerSkeleton>},
      {"kor.vm.guest.FileManager", Serve<Kor::Vm::Guest::FileManagerSkeleton>},
      {"kor.vm.guest.GuestOperationsManager", Serve<Kor::Vm::Guest::GuestOperationsManagerSkeleton>},
      {"kor.vm.guest.ProcessManager", Serve<Kor::Vm::Guest::ProcessManagerSkeleton>},
      {"kor.vm.guest.WindowsRegistryManager", Serve<Kor::Vm::Guest::WindowsRegistryManagerSkeleton>},
      {"kor.vm.MetadataManager", Serve<Kor::Vm::MetadataManagerSkeleton>},
      {"kor.vm.NamespaceManager", Serve<Kor::Vm::NamespaceManagerSkeleton>},
      {"kor.vm.PauseManager", Serve<Kor::Vm::PauseManagerSkeleton>},
      {"kor.vm.Snapshot", Serve<Kor::Vm::SnapshotSkeleton>},
  };
  return table;
}

// A boxed default for a required scalar parameter; null for everything a
// pointer carries (objects, references, arrays) and for unset optionals.
Movel::Any* DefaultArgument(const Movel::Parameter& parameter) {
  const Movel::Type* type = parameter.GetType();
  if (!type || parameter.IsArray() || parameter.IsOptional()) return nullptr;
  if (type->IsEnum()) return static_cast<const Movel::EnumType*>(type)->GetFuncs().boxValue(0);
  if (!type->IsPrimitive()) return nullptr;
  const std::string& kind = type->GetName();
  if (kind == "string") return new Movel::Primitive<std::string>("x");
  if (kind == "boolean") return new Movel::Primitive<bool>(false);
  if (kind == "int") return new Movel::Primitive<int>(0);
  if (kind == "long") return new Movel::Primitive<long long>(0);
  if (kind == "short") return new Movel::Primitive<short>(0);
  if (kind == "byte") return new Movel::Primitive<signed char>(0);
  if (kind == "float") return new Movel::Primitive<float>(0);
  if (kind == "double") return new Movel::Primitive<double>(0);
  if (kind == "dateTime") return new Movel::Primitive<Basekit::System::DateTime>(Basekit::System::DateTime());
  if (kind == "typeName") return new Movel::Primitive<Movel::TypeName>(Movel::TypeName("kor.vm.ConfigSpec"));
  if (kind == "methodName") return new Movel::Primitive<Movel::MethodName>(Movel::MethodName("x"));
  if (kind == "propertyPath") return new Movel::Primitive<Movel::PropertyPath>(Movel::PropertyPath("x"));
  if (kind == "binary") return new Movel::Primitive<std::vector<unsigned char>>(std::vector<unsigned char>());
  return nullptr;
}

TEST(VmModuleStubs, EveryOperationReachesItsImplementationByIndex) {
  std::vector<const Movel::Type*> managed =
      VmModuleTypes([](const Movel::Type* t) { return t->IsManaged(); });
  EXPECT_EQ(managed.size(), Skeletons().size());
  Ref<Movel::LocalServer> server(new Movel::LocalServer());
  Ref<Movel::LocalStubAdapter> adapter(new Movel::LocalStubAdapter(server));
  int calls = 0;
  for (const Movel::Type* t : managed) {
    const auto* type = static_cast<const Movel::ManagedObjectType*>(t);
    SCOPED_TRACE(type->GetName());
    auto skeleton = Skeletons().find(type->GetName());
    ASSERT_NE(skeleton, Skeletons().end()) << "no skeleton in the table";
    Ref<Movel::ManagedObject> impl(skeleton->second());
    EXPECT_EQ(impl->_GetType(), type);
    Ref<Movel::MoRef> ref = server->Register(impl, "obj-" + std::to_string(calls));
    Ref<Movel::Stub> stub(type->GetRecord()->createStub(ref, adapter, nullptr));
    ASSERT_NE(stub.Get(), nullptr);
    EXPECT_EQ(stub->_GetType(), type);
    const std::vector<Movel::ManagedMethod*>& methods = type->GetMethodObjects();
    ASSERT_FALSE(methods.empty());
    for (Movel::ManagedMethod* method : methods) {
      SCOPED_TRACE(method->GetName());
      Basekit::RefVector<Movel::Any> args(method->GetParameters().size());
      for (std::size_t i = 0; i < method->GetParameters().size(); ++i) {
        args[i] = DefaultArgument(method->GetParameters()[i]);
      }
      Ref<Movel::Any> result;
      try {
        stub->_Invoke_Task(method, args, result);
        ADD_FAILURE() << "the skeleton answered";
      } catch (const Movel::Fault::NotSupported::Exception& e) {
        // The fault names the operation that ran: the stub's index reached
        // the dispatch case and the skeleton operation of this very method.
        const Movel::DataArray<Movel::LocalizableMessage>* messages = e.GetFault()->GetFaultMessage();
        ASSERT_NE(messages, nullptr);
        ASSERT_NE(messages->Get(0)->GetMessage(), nullptr);
        EXPECT_EQ(*messages->Get(0)->GetMessage(),
                  "operation not implemented: " + method->GetFullName());
      }
      ++calls;
    }
  }
  EXPECT_GT(calls, 50);
}

}  // namespace
