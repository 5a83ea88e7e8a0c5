// Server-side dispatch by method index with arbitrary argument vectors: any
// registered managed type, any index (also outside its methods), vectors of
// any length holding values of any class, null, and targets of the wrong
// type. The target is the type's own stub on an adapter of an empty server,
// so a call that gets through the unboxing goes on through the stub's boxing
// and the adapter, and comes back as the ManagedObjectNotFound fault.
//
// Invariants: wrong arguments give the type-mismatch exception, a missing
// object its fault, an index outside the methods nothing; no other failure,
// no crash, no leak.
#include <string>
#include <vector>

#include "fuzz_values.h"
#include "movel/inprocess.h"

namespace {

using Basekit::Ref;

struct Server {
  Server() : server(new Movel::LocalServer), adapter(new Movel::LocalStubAdapter(server)) {}
  Ref<Movel::LocalServer> server;
  Ref<Movel::LocalStubAdapter> adapter;
};

Ref<Movel::Stub> StubOf(Movel::ManagedObjectType* type, Movel::StubAdapter* adapter) {
  const Movel::ManagedTypeInfo* rec = type->GetRecord();
  if (!rec || !rec->createStub) return nullptr;
  Ref<Movel::MoRef> ref = Movel::MakeMoRef(type, "fuzz-1");
  return Ref<Movel::Stub>(rec->createStub(ref, adapter, nullptr));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Server* server = new Server;  // lives for the process
  FuzzedDataProvider in(data, size);
  auto* type = static_cast<Movel::ManagedObjectType*>(fuzz::Pick(in, fuzz::ManagedTypes()));
  if (!type || !type->GetRecord() || !type->GetRecord()->dispatch) return 0;
  // Usually a target of the type itself; sometimes of another type, or none.
  Movel::ManagedObjectType* targetType = type;
  if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
    targetType = static_cast<Movel::ManagedObjectType*>(fuzz::Pick(in, fuzz::ManagedTypes()));
  }
  Ref<Movel::Stub> target = in.ConsumeIntegralInRange<int>(0, 15) == 0
                                ? nullptr
                                : StubOf(targetType, server->adapter);

  const int methods = static_cast<int>(type->GetMethodObjects().size());
  const int index = in.ConsumeIntegralInRange<int>(-1, methods + 1);
  Basekit::RefVector<Movel::Any> args(in.ConsumeIntegralInRange<std::size_t>(0, 6));
  for (auto& arg : args) arg = fuzz::AnyValue(in);

  Ref<Movel::Any> result = fuzz::AnyValue(in);  // dispatch clears it first
  try {
    type->GetRecord()->dispatch(target.Get(), index, args, result);
    if (result && (index < 0 || index >= methods)) fuzz::Broken("an unknown index answered");
  } catch (const Basekit::TypeMismatchException&) {
  } catch (const Movel::Fault::ManagedObjectNotFound::Exception&) {
    if (index < 0 || index >= methods) fuzz::Broken("an unknown index was called");
  }
  return 0;
}
