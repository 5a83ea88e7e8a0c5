// Encoding and decoding of the W1 workload (one Kor::TaskInfo with all 23
// properties set) and the W2 workload (a host network state tree of 2,872
// objects), the same values as data_object_bench and the protobuf peer,
// through the XML and JSON wire forms. compare_wire.sh runs it beside the
// peer's binary and JSON serialisation and prints the ratios.
//
// Each benchmark checks its result after the timed loop: a decoded copy
// must equal the source; a wrong result is an error and the program exits 1.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kortypes/kortypes.h"
#include "movel/wire.h"
#include "w2_shape.h"

namespace {

using Basekit::Ref;
using Basekit::System::DateTime;

int g_failures = 0;

// W1 as data_object_bench builds it (values of the peer's pool).
Kor::TaskInfo* BuildTaskInfo() {
  auto* t = new Kor::TaskInfo();
  t->key = "task-2024-000187431";
  t->SetTask(Movel::MakeMoRef(Movel::GetMoType<Kor::Task>(), "task-000187431"));
  auto* desc = new Movel::LocalizableMessage("com.example.host.network.reconfigure");
  desc->SetMessage("Reconfigure network settings on host");
  t->SetDescription(desc);
  t->name = Movel::MethodName("ReconfigureNetwork_Task");
  t->descriptionId = "HostNetworkSystem.reconfigure";
  t->SetEntity(Movel::MakeMoRef(Movel::GetMoType<Kor::HostSystem>(), "host-00002841"));
  Movel::SetOptionalString(t->entityName, "node17.rack04.dc-east.example.net");
  auto* locked = t->GetLocked();
  locked->Append(Movel::MakeMoRef(Movel::GetMoType<Kor::Datastore>(), "datastore-00001203"));
  locked->Append(Movel::MakeMoRef(Movel::GetMoType<Kor::Network>(), "network-000000415"));
  locked->Append(Movel::MakeMoRef(Movel::GetMoType<Kor::ResourcePool>(), "resgroup-00000071"));
  t->state = Kor::TaskInfo::State::error;
  t->cancelled = false;
  t->cancelable = true;
  auto* fault = new Movel::MethodFault();
  auto* message = new Movel::LocalizableMessage();
  message->SetMessage("Operation timed out after 300 seconds");
  fault->GetOrCreateFaultMessage()->Append(message);
  t->SetError(fault);
  t->SetResult(new Movel::Primitive<std::string>("result-token-7f3a9c21e4"));
  t->progress = 73;
  auto* reason = new Kor::TaskReasonUser();
  reason->userName = "EXAMPLE\\svc-automation";
  t->SetReason(reason);
  t->queueTime = DateTime(1733400000123LL * 1000);
  t->startTime = DateTime(1733400000573LL * 1000);
  t->completeTime = DateTime(1733400301574LL * 1000);
  t->eventChainId = 918273;
  Movel::SetOptionalString(t->changeTag, "ctag-00000000000004f1");
  Movel::SetOptionalString(t->parentTaskKey, "task-2024-000187400");
  Movel::SetOptionalString(t->rootTaskKey, "task-2024-000187399");
  Movel::SetOptionalString(t->activationId, "act-5d1e0a4c-9b7e-4c3f");
  return t;
}

const Movel::Any* W1() {
  static Kor::TaskInfo* task = [] {
    Kor::TaskInfo* t = BuildTaskInfo();
    t->IncRef();
    return t;
  }();
  return task;
}

// ---- W2 ---------------------------------------------------------------------
// The host network state tree (bench/w2_shape.h), as data_object_bench and
// the protobuf peer build it.

const Movel::Any* W2() {
  static Kor::Host::NetworkInfo* tree = [] {
    Kor::Host::NetworkInfo* t = w2shape::BuildNetworkInfo(w2shape::Pool());
    t->IncRef();
    return t;
  }();
  return tree;
}

using Workload = const Movel::Any* (*)();

void Encode(benchmark::State& state, Workload workload, Movel::WireFormat format) {
  const Movel::Any* source = workload();
  std::string doc;
  for (auto _ : state) {
    doc = Movel::EncodeValue(format, source);
    benchmark::DoNotOptimize(doc.data());
  }
  state.counters["bytes"] = static_cast<double>(doc.size());
  Ref<Movel::Any> back = Movel::DecodeValue(format, doc);
  if (!Movel::AreEqualAnysInt(source, back, 0, false)) {
    ++g_failures;
    state.SkipWithError("the encoded document does not decode to the source");
  }
}

void Decode(benchmark::State& state, Workload workload, Movel::WireFormat format) {
  const Movel::Any* source = workload();
  const std::string doc = Movel::EncodeValue(format, source);
  Ref<Movel::Any> back;
  for (auto _ : state) {
    back = Movel::DecodeValue(format, doc);
    benchmark::DoNotOptimize(back.Get());
  }
  state.counters["bytes"] = static_cast<double>(doc.size());
  if (!Movel::AreEqualAnysInt(source, back, 0, false)) {
    ++g_failures;
    state.SkipWithError("the decoded copy differs from the source");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::pair<const char*, Workload> workloads[] = {{"W1", &W1}, {"W2", &W2}};
  const std::pair<const char*, Movel::WireFormat> formats[] = {{"xml", Movel::WireFormat::kXml},
                                                               {"json", Movel::WireFormat::kJson}};
  for (const auto& [wname, workload] : workloads) {
    for (const auto& [fname, format] : formats) {
      const std::string prefix = std::string(wname) + "/" + fname;
      benchmark::RegisterBenchmark((prefix + "/encode").c_str(), Encode, workload, format);
      benchmark::RegisterBenchmark((prefix + "/decode").c_str(), Decode, workload, format);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return g_failures == 0 ? 0 : 1;
}
