// Every fault of the catalogue, end to end: filled through the property
// functions, thrown by an implementation behind the in-process server and
// received through a generated stub. It must arrive as its own Exception
// class, be caught as the Exception of each ancestor up to the runtime's
// MethodFault (and as no other), carry the very fault with every property
// as it was set, and render a readable one-line message.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fault_probes.h"
#include "kortypes/types/kor.ServiceInstance.h"
#include "movel/inprocess.h"
#include "movel/message.h"

namespace {

using Basekit::Ref;

constexpr int kMaxFailuresReported = 20;

// --- probes of the runtime's own faults ------------------------------------------

std::vector<kortest::FaultProbe> RuntimeFaultProbes() {
  using namespace Movel;
  return {
      {&gTydefMethodFaultTypeInfo, &typeid(MethodFault::Exception), &kortest::CaughtAs<MethodFault>},
      {&gTydefRuntimeFaultTypeInfo, &typeid(RuntimeFault::Exception),
       &kortest::CaughtAs<RuntimeFault>},
      {&gTydefFaultNotEnoughLicensesTypeInfo, &typeid(Fault::NotEnoughLicenses::Exception),
       &kortest::CaughtAs<Fault::NotEnoughLicenses>},
      {&gTydefFaultNotSupportedTypeInfo, &typeid(Fault::NotSupported::Exception),
       &kortest::CaughtAs<Fault::NotSupported>},
      {&gTydefFaultInvalidArgumentTypeInfo, &typeid(Fault::InvalidArgument::Exception),
       &kortest::CaughtAs<Fault::InvalidArgument>},
      {&gTydefFaultSecurityErrorTypeInfo, &typeid(Fault::SecurityError::Exception),
       &kortest::CaughtAs<Fault::SecurityError>},
      {&gTydefFaultRequestCanceledTypeInfo, &typeid(Fault::RequestCanceled::Exception),
       &kortest::CaughtAs<Fault::RequestCanceled>},
      {&gTydefFaultSystemErrorTypeInfo, &typeid(Fault::SystemError::Exception),
       &kortest::CaughtAs<Fault::SystemError>},
      {&gTydefFaultInvalidTypeTypeInfo, &typeid(Fault::InvalidType::Exception),
       &kortest::CaughtAs<Fault::InvalidType>},
      {&gTydefFaultManagedObjectNotFoundTypeInfo,
       &typeid(Fault::ManagedObjectNotFound::Exception),
       &kortest::CaughtAs<Fault::ManagedObjectNotFound>},
  };
}

// --- the library's faults as registered --------------------------------------------

std::vector<const Movel::DataObjectType*> LibraryFaults() {
  std::vector<const Movel::DataObjectType*> faults;
  for (const Movel::LoadedModule& m : Movel::GetLoadedModules()) {
    for (int i = 0; i < m.count; ++i) {
      if (m.types[i]->IsFault()) {
        faults.push_back(static_cast<const Movel::DataObjectType*>(m.types[i]));
      }
    }
  }
  return faults;
}

// The type and its ancestors, up to and including the runtime's MethodFault.
std::vector<const Movel::Type*> FaultChain(const Movel::DataObjectType* type) {
  std::vector<const Movel::Type*> chain;
  for (const Movel::Type* t = type; t && t->IsFault();
       t = static_cast<const Movel::StructuredType*>(t)->GetParent()) {
    chain.push_back(t);
  }
  return chain;
}

// --- filling a fault through the property functions ----------------------------------

bool IsRootProperty(const Movel::Property& p) {
  const std::string& owner = p.GetOwner()->GetName();
  return owner == "tydef.DynamicData" || owner == "tydef.MethodFault";
}

class Filler {
 public:
  // Sets every property of o that the library declares; nested data objects
  // are filled too, to a depth of two. Counts what it could not fill.
  void Fill(Movel::DataObject* o, int depth) {
    const Movel::DataObjectType* type = o->_GetDataType();
    for (const Movel::Property* p : type->GetAllProperties()) {
      if (IsRootProperty(*p)) continue;
      const auto* owner = static_cast<const Movel::DataObjectType*>(p->GetOwner());
      const Movel::DataTypeInfo* rec = owner->GetRecord();
      if (p->IsArray()) {
        Ref<Movel::Any> array = NewArray(*p, depth);
        if (!array) {
          if (depth < 2) ++skipped;  // deeper objects are cut short on purpose
          continue;
        }
        Movel::Any* in = array.Get();
        rec->propSet(o, p->GetIndex(), &in);
      } else if (!SetValue(o, *p, rec, depth)) {
        ++skipped;
      }
    }
  }

  int skipped = 0;

 private:
  static std::string Text(const Movel::Property& p) { return p.GetName() + "-value"; }

  Ref<Movel::Any> NewObject(const Movel::Property& p, int depth) {
    const Movel::TypeInfo* info = p.GetTypeInfo();
    if (info == &gAnyTypeInfo) return Ref<Movel::Any>(new Movel::Primitive<int>(42));
    Movel::Type* type = p.GetType();
    if (auto* managed = dynamic_cast<Movel::ManagedObjectType*>(type)) {
      return Ref<Movel::Any>(Movel::MakeMoRef(managed, p.GetName() + "-1").Get());
    }
    auto* data = dynamic_cast<Movel::DataObjectType*>(type);
    if (!data || depth >= 2) return nullptr;
    Ref<Movel::DataObject> made(data->CreateInstance());
    if (made) Fill(made, depth + 1);
    return Ref<Movel::Any>(made.Get());
  }

  bool SetValue(Movel::DataObject* o, const Movel::Property& p, const Movel::DataTypeInfo* rec,
                int depth) {
    const Movel::TypeInfo* t = p.GetTypeInfo();
    const int i = p.GetIndex();
    if (t == &gStringTypeInfo) {
      const std::string v = Text(p);
      rec->propSet(o, i, &v);
    } else if (t == &gBoolTypeInfo) {
      const bool v = true;
      rec->propSet(o, i, &v);
    } else if (t == &gByteTypeInfo) {
      const signed char v = 7;
      rec->propSet(o, i, &v);
    } else if (t == &gShortTypeInfo) {
      const short v = 7;
      rec->propSet(o, i, &v);
    } else if (t == &gIntTypeInfo) {
      const int v = 7;
      rec->propSet(o, i, &v);
    } else if (t == &gLongTypeInfo) {
      const long long v = 7000000000LL;
      rec->propSet(o, i, &v);
    } else if (t == &gFloatTypeInfo) {
      const float v = 1.5f;
      rec->propSet(o, i, &v);
    } else if (t == &gDoubleTypeInfo) {
      const double v = 2.5;
      rec->propSet(o, i, &v);
    } else if (t == &gDateTimeTypeInfo) {
      const auto v = Basekit::System::DateTime::FromCivil(2026, 12, 6, 1, 2, 3);
      rec->propSet(o, i, &v);
    } else if (t == &gBinaryTypeInfo) {
      const std::vector<unsigned char> v{1, 2, 3};
      rec->propSet(o, i, &v);
    } else if (t == &gTypeNameTypeInfo) {
      const Movel::TypeName v(Text(p));
      rec->propSet(o, i, &v);
    } else if (t == &gMethodNameTypeInfo) {
      const Movel::MethodName v(Text(p));
      rec->propSet(o, i, &v);
    } else if (t == &gPropertyPathTypeInfo) {
      const Movel::PropertyPath v(Text(p));
      rec->propSet(o, i, &v);
    } else if (t == &gUriTypeInfo) {
      const Movel::Uri v(Text(p));
      rec->propSet(o, i, &v);
    } else if (t && t->kind == Movel::kTypeKindEnum) {
      const auto* e = dynamic_cast<const Movel::EnumType*>(p.GetType());
      if (!e) return false;
      const int v = static_cast<int>(e->GetValues().size()) - 1;
      rec->propSet(o, i, &v);
    } else {
      Ref<Movel::Any> v = NewObject(p, depth);
      if (!v) return depth >= 2;  // cut short on purpose below the top
      Movel::Any* in = v.Get();
      rec->propSet(o, i, &in);
    }
    return true;
  }

  Ref<Movel::Any> NewArray(const Movel::Property& p, int depth) {
    const Movel::TypeInfo* t = p.GetTypeInfo();
    if (t == &gStringTypeInfo) {
      return Ref<Movel::Any>(new Movel::Array<std::string>{Text(p), "second"});
    }
    if (t == &gIntTypeInfo) return Ref<Movel::Any>(new Movel::Array<int>{1, 2});
    if (t == &gLongTypeInfo) return Ref<Movel::Any>(new Movel::Array<long long>{1, 2});
    if (t == &gBoolTypeInfo) return Ref<Movel::Any>(new Movel::Array<bool>{true});
    if (t && t->kind == Movel::kTypeKindEnum) {
      const auto* e = dynamic_cast<const Movel::EnumType*>(p.GetType());
      if (!e) return nullptr;
      Ref<Movel::Array<std::string>> names(new Movel::Array<std::string>{e->GetValues().front()});
      return Ref<Movel::Any>(e->GetFuncs().arrayFromNames(names, e));
    }
    Ref<Movel::Any> element = NewObject(p, depth);
    if (!element) return nullptr;
    Ref<Movel::Any> array;
    if (t == &gAnyTypeInfo) {
      array = new Movel::DataArray<Movel::Any>();
    } else if (dynamic_cast<Movel::ManagedObjectType*>(p.GetType())) {
      array = new Movel::DataArray<Movel::MoRef>();
    } else {
      array = static_cast<Movel::DataObjectType*>(p.GetType())->CreateArrayInstance();
    }
    static_cast<Movel::DataArrayBase*>(array.Get())->Append(element);
    return array;
  }
};

// --- the server ----------------------------------------------------------------------

// Answers every CurrentTime call by throwing the fault it holds.
class FaultingServiceInstance : public Kor::ServiceInstanceSkeleton {
 public:
  Ref<Movel::MethodFault> fault;
  Basekit::System::DateTime CurrentTime() override {
    if (fault) fault->Throw();
    return {};
  }
};

struct Server {
  Ref<Movel::LocalServer> server{new Movel::LocalServer()};
  Ref<Movel::LocalStubAdapter> adapter{new Movel::LocalStubAdapter(server)};
  Ref<FaultingServiceInstance> impl{new FaultingServiceInstance()};
  Ref<Kor::ServiceInstanceStub> stub;
  Server() {
    Ref<Movel::MoRef> ref = server->Register(impl, "ServiceInstance");
    stub = new Kor::ServiceInstanceStub(ref, adapter, nullptr);
  }
};

// --- the test -----------------------------------------------------------------------

TEST(FaultConformance, EveryFaultCrossesAStubAsItsOwnExceptionAndRendersItsMessage) {
  std::map<const Movel::TypeInfo*, kortest::FaultProbe> probes;
  for (const kortest::FaultProbe& p : kortest::GeneratedFaultProbes()) probes[p.type] = p;
  for (const kortest::FaultProbe& p : RuntimeFaultProbes()) probes[p.type] = p;

  const std::vector<const Movel::DataObjectType*> faults = LibraryFaults();
  ASSERT_FALSE(faults.empty());
  // One generated probe per registered fault, and none for anything else.
  EXPECT_EQ(kortest::GeneratedFaultProbes().size(), faults.size());

  Server server;
  int failures = 0;
  int checkedAncestors = 0;
  int templated = 0;
  auto fail = [&failures](const std::string& what) {
    if (++failures <= kMaxFailuresReported) ADD_FAILURE() << what;
  };

  for (std::size_t n = 0; n < faults.size(); ++n) {
    const Movel::DataObjectType* type = faults[n];
    const std::string name = type->GetName();
    auto own = probes.find(type->GetTypeInfo());
    if (own == probes.end()) {
      fail(name + ": no probe");
      continue;
    }

    Ref<Movel::DataObject> made(type->CreateInstance());
    auto* fault = dynamic_cast<Movel::MethodFault*>(made.Get());
    if (!fault) {
      fail(name + ": its creator does not make a MethodFault");
      continue;
    }
    Filler filler;
    filler.Fill(fault, 0);
    if (filler.skipped) fail(name + ": " + std::to_string(filler.skipped) + " properties not filled");
    Ref<Movel::Any> before(fault->_Clone());
    server.impl->fault = fault;

    std::unique_ptr<Basekit::Exception> arrived;
    try {
      server.stub->CurrentTime();
      fail(name + ": the call returned");
      continue;
    } catch (const Basekit::Exception& e) {
      arrived.reset(e.Clone());
    }

    // Its own class, carrying the very fault, unchanged.
    if (typeid(*arrived) != *own->second.exception) {
      fail(name + ": arrived as " + Basekit::DemangleTypeName(typeid(*arrived).name()));
    }
    const auto* asFault = dynamic_cast<const Movel::MethodFault::Exception*>(arrived.get());
    if (!asFault || asFault->GetFault() != fault) {
      fail(name + ": the exception does not carry the fault thrown");
      continue;
    }
    if (!fault->_IsEqual(before, false)) fail(name + ": properties changed on the way");

    // Caught as each ancestor's Exception, and as no other fault's.
    const std::vector<const Movel::Type*> chain = FaultChain(type);
    if (chain.back()->GetTypeInfo() != &gTydefMethodFaultTypeInfo) {
      fail(name + ": its ancestry does not end at the runtime's MethodFault");
    }
    std::set<const Movel::TypeInfo*> ancestry;
    for (const Movel::Type* a : chain) {
      ancestry.insert(a->GetTypeInfo());
      auto probe = probes.find(a->GetTypeInfo());
      if (probe == probes.end()) {
        fail(name + ": no probe for ancestor " + a->GetName());
        continue;
      }
      ++checkedAncestors;
      if (probe->second.caughtAs(*arrived) != fault) {
        fail(name + ": not caught as " + a->GetName() + "'s Exception");
      }
    }
    for (std::size_t k = 1; k < faults.size(); ++k) {
      const Movel::DataObjectType* other = faults[(n + k) % faults.size()];
      if (ancestry.count(other->GetTypeInfo())) continue;
      if (probes.at(other->GetTypeInfo()).caughtAs(*arrived) != nullptr) {
        fail(name + ": caught as the Exception of unrelated " + other->GetName());
      }
      break;
    }
    const kortest::FaultProbe& foreignRoot =
        probes.at(ancestry.count(&gTydefRuntimeFaultTypeInfo) ? &gTydefFaultNotEnoughLicensesTypeInfo
                                                              : &gTydefRuntimeFaultTypeInfo);
    if (foreignRoot.caughtAs(*arrived) != nullptr) fail(name + ": caught under the wrong root");

    // The message: one line, what() and the debug print alike, every
    // argument of its template resolved.
    const std::string message = arrived->what();
    if (message != Movel::RenderMessage(fault)) fail(name + ": what() is not the rendered message");
    if (message.empty() || message.find('\n') != std::string::npos) {
      fail(name + ": message is not one line: " + message);
    }
    if (message.find(" unset>") != std::string::npos ||
        message.find(" unknown>") != std::string::npos) {
      fail(name + ": message misses an argument: " + message);
    }
    if (Movel::FindMessageTemplate(type)) {
      ++templated;
    } else {
      // The default rendering names the type.
      const std::string shortName = name.substr(name.rfind('.') + 1);
      if (message.compare(0, shortName.size(), shortName) != 0) {
        fail(name + ": default message does not start with the type: " + message);
      }
    }
    std::string quoted = "\"";
    for (char c : message) {
      if (c == '"' || c == '\\') quoted += '\\';
      quoted += c;
    }
    quoted += '"';
    if (Movel::DebugString(fault).find(quoted) == std::string::npos) {
      fail(name + ": the debug print does not show the message");
    }
  }
  EXPECT_EQ(failures, 0) << failures << " failures (the first " << kMaxFailuresReported
                         << " are listed)";
  // Faults have two levels of ancestry at the least (themselves and the
  // runtime's MethodFault).
  EXPECT_GE(checkedAncestors, 2 * static_cast<int>(faults.size()));
  EXPECT_GT(templated, 0);
  std::printf("%zu faults, %d ancestor catches, %d rendered from a template\n", faults.size(),
              checkedAncestors, templated);
}

}  // namespace
