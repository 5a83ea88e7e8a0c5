// Data object operations on a filled-in task: deep copy, equality, difference
// and size, and a stub call through the in-process server.
#include <benchmark/benchmark.h>

#include "kortypes/kortypes.h"
#include "kortypes/stub_factory.h"
#include "movel/inprocess.h"

namespace {

using Basekit::Ref;

unsigned Identity(unsigned n) { return n; }

Ref<Kor::TaskInfo> MakeTask() {
  Ref<Kor::TaskInfo> t(new Kor::TaskInfo());
  t->key = "task-1017";
  t->SetTask(Movel::MakeMoRef(Movel::GetMoType<Kor::Task>(), "task-1017"));
  t->descriptionId = "VirtualMachine.powerOn";
  t->SetEntity(Movel::MakeMoRef(Movel::GetMoType<Kor::VirtualMachine>(), "vm-31"));
  Movel::SetOptionalString(t->entityName, "web-frontend");
  for (int i = 0; i < 4; ++i) {
    t->GetLocked()->Append(Movel::MakeMoRef(Movel::GetMoType<Kor::Folder>(), "group-" + std::to_string(i)));
  }
  t->state = Kor::TaskInfo::State::running;
  t->progress = 40;
  t->SetReason(new Kor::TaskReasonUser());
  t->queueTime = Basekit::System::DateTime::FromCivil(2026, 12, 5, 18, 0, 0);
  return t;
}

void BM_CloneTaskInfo(benchmark::State& state) {
  Ref<Kor::TaskInfo> t = MakeTask();
  for (auto _ : state) {
    Ref<Movel::Any> copy(t->_Clone());
    benchmark::DoNotOptimize(copy.Get());
  }
}
BENCHMARK(BM_CloneTaskInfo);

void BM_CompareEqualTaskInfo(benchmark::State& state) {
  Ref<Kor::TaskInfo> a = MakeTask();
  Ref<Movel::Any> b(a->_Clone());
  for (auto _ : state) benchmark::DoNotOptimize(Movel::AreEqualAnysInt(a, b, 0, false));
}
BENCHMARK(BM_CompareEqualTaskInfo);

void BM_DiffTaskInfo(benchmark::State& state) {
  Ref<Kor::TaskInfo> a = MakeTask();
  Ref<Kor::TaskInfo> b(static_cast<Kor::TaskInfo*>(a->_Clone()));
  b->progress = 60;
  b->GetLocked()->Set(2, Movel::MakeMoRef(Movel::GetMoType<Kor::Folder>(), "group-9"));
  for (auto _ : state) {
    Movel::PropertyDiffSet diff;
    a->_DiffProperties(b, "info", diff);
    benchmark::DoNotOptimize(diff.size());
  }
}
BENCHMARK(BM_DiffTaskInfo);

void BM_SizeTaskInfo(benchmark::State& state) {
  Ref<Kor::TaskInfo> t = MakeTask();
  for (auto _ : state) benchmark::DoNotOptimize(t->_GetSize(&Identity));
}
BENCHMARK(BM_SizeTaskInfo);

// A synchronous stub call through the in-process server: box, dispatch,
// unbox.
void BM_StubCallQueryOverhead(benchmark::State& state) {
  struct Host : Kor::HostSystemSkeleton {
    long long QueryOverhead(long long memory, const Basekit::Optional<int>&, int cpus) override {
      return memory / 100 + cpus;
    }
  };
  Ref<Movel::LocalServer> server(new Movel::LocalServer());
  Ref<Movel::LocalStubAdapter> adapter(new Movel::LocalStubAdapter(server));
  server->Register(new Host(), "host-1");
  Ref<Kor::HostSystem> host = Kor::GetMoStubFactory()->CreateHostSystem("host-1", adapter);
  for (auto _ : state) benchmark::DoNotOptimize(host->QueryOverhead(1 << 30, 16, 2));
}
BENCHMARK(BM_StubCallQueryOverhead);

}  // namespace

BENCHMARK_MAIN();
