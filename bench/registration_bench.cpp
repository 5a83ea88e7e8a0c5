// Start-up registration benchmarks.
//
// BM_DlopenToRegistered: a fresh child process per iteration dlopens the
// library and reports, through a pipe, the time from the dlopen call until it
// returned with every type registered (the loaders run inside dlopen). The
// reported time is the mean over the 30 processes; the counters median_ms,
// min_ms and max_ms give their spread, and types the number registered.
// cpu_median_ms is the median CPU time (user and system, page faults
// included) the loading thread spent in the same call: on a machine busy
// with other work the wall time mostly measures waiting, this does not.
// --library=PATH (before the benchmark flags) names the library to load;
// without it, the kor-types library of this build.
//
// BM_DlopenOnly: the same for a library that registers nothing (footprint.sh's
// floor).
//
// BM_RegisterDataTypes: the runtime's cost of creating and entering N data
// types with a few properties each, to show how start-up grows with the size
// of the catalogue.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "movel/movel.h"

namespace {

const char* g_library = KORTYPES_LIBRARY;

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Wall seconds of the dlopen in a fresh child, or -1; *cpuSeconds receives
// the loading thread's CPU time for the same call.
double TimeDlopenInChild(int* typeCount, double* cpuSeconds) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    size_t before = Movel::GetAllTypes().size();
    double cpuStart = ThreadCpuSeconds();
    auto start = std::chrono::steady_clock::now();
    void* handle = dlopen(g_library, RTLD_NOW | RTLD_GLOBAL);
    auto end = std::chrono::steady_clock::now();
    double cpuEnd = ThreadCpuSeconds();
    double result[3] = {handle ? std::chrono::duration<double>(end - start).count() : -1.0,
                        static_cast<double>(Movel::GetAllTypes().size() - before),
                        cpuEnd - cpuStart};
    ssize_t written = write(fds[1], result, sizeof(result));
    _exit(written == sizeof(result) ? 0 : 1);
  }
  close(fds[1]);
  double result[3] = {-1, 0, 0};
  ssize_t got = read(fds[0], result, sizeof(result));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (got != sizeof(result)) return -1;
  *typeCount = static_cast<int>(result[1]);
  *cpuSeconds = result[2];
  return result[0];
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Times one dlopen per iteration in fresh children and sets the time
// counters; the number of types the library registered, or -1 when a child
// failed (the benchmark then reports the error).
int TimeDlopens(benchmark::State& state) {
  int types = 0;
  std::vector<double> times, cpuTimes;
  for (auto _ : state) {
    double cpu = 0;
    double seconds = TimeDlopenInChild(&types, &cpu);
    if (seconds < 0) {
      state.SkipWithError((std::string("dlopen failed in the child: ") + g_library).c_str());
      return -1;
    }
    times.push_back(seconds);
    cpuTimes.push_back(cpu);
    state.SetIterationTime(seconds);
  }
  state.counters["median_ms"] = Median(times) * 1e3;
  state.counters["min_ms"] = *std::min_element(times.begin(), times.end()) * 1e3;
  state.counters["max_ms"] = *std::max_element(times.begin(), times.end()) * 1e3;
  state.counters["cpu_median_ms"] = Median(cpuTimes) * 1e3;
  return types;
}

void BM_DlopenToRegistered(benchmark::State& state) {
  const int types = TimeDlopens(state);
  if (types < 0) return;
  if (types == 0) {
    state.SkipWithError("the library registered no types");
    return;
  }
  state.counters["types"] = types;
  state.counters["ns_per_type"] = benchmark::Counter(
      types, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DlopenToRegistered)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

// The same measurement for a library that registers nothing: the footprint
// script's floor, a library holding only as many relocated pointers as the
// bindings' relocated tables, so the loader's share of the time shows apart
// from registration.
void BM_DlopenOnly(benchmark::State& state) { TimeDlopens(state); }
BENCHMARK(BM_DlopenOnly)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

// Synthetic records: N data types of four string properties each, all with
// unique names so they can be registered side by side.
struct Synthetic {
  std::vector<std::string> names;
  std::vector<Movel::TypeInfo> infos;
  std::vector<Movel::DataTypeInfo> records;
};

const Movel::PropertyInfo kProps[] = {
    {"a", nullptr, nullptr, &gStringTypeInfo, 0, "kor.version.version1"},
    {"b", nullptr, nullptr, &gStringTypeInfo, 2, "kor.version.version1"},
    {"c", nullptr, nullptr, &gIntTypeInfo, 0, "kor.version.version1"},
    {"d", nullptr, nullptr, &gBoolTypeInfo, 2, "kor.version.version1"},
    {nullptr, nullptr, nullptr, nullptr, Movel::kFlagsEndOfList, nullptr}};

void BM_RegisterDataTypes(benchmark::State& state) {
  static int generation = 0;
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto s = std::make_unique<Synthetic>();
    int g = generation++;
    s->names.reserve(2 * n);
    for (int i = 0; i < n; ++i) {
      s->names.push_back("bench.g" + std::to_string(g) + ".T" + std::to_string(i));
      s->names.push_back("BenchG" + std::to_string(g) + "T" + std::to_string(i));
    }
    s->infos.resize(n);
    s->records.resize(n);
    for (int i = 0; i < n; ++i) {
      s->infos[i] = {Movel::kTypeKindData, s->names[2 * i].c_str(), s->names[2 * i + 1].c_str(),
                     "kor.version.version1"};
      s->records[i] = {&s->infos[i], &gTydefDynamicDataTypeInfo, kProps, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, 0};
    }
    state.ResumeTiming();
    for (int i = 0; i < n; ++i) benchmark::DoNotOptimize(Movel::CreateDataObjectType(&s->records[i]));
    state.PauseTiming();
    s.release();  // registered types keep pointing into the records
    state.ResumeTiming();
  }
  state.SetComplexityN(n);
}
BENCHMARK(BM_RegisterDataTypes)->RangeMultiplier(4)->Range(64, 4096)->Complexity()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  // Our own flag first, so that the benchmark library does not reject it.
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--library=", 10) == 0) {
      g_library = argv[i] + 10;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  argv[argc] = nullptr;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::AddCustomContext("library", g_library);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
