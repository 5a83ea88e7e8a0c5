// The protobuf peer's W1 (a task info) and W2 (a host network state tree)
// through protobuf's own binary and JSON serialisation, the reference for
// wire_bench (see compare_wire.sh). Built against the peer harness's
// workload library; needs only Debian packages.
#include <benchmark/benchmark.h>
#include <google/protobuf/util/json_util.h>

#include <string>

#include "workloads.h"

namespace {

int g_failures = 0;

struct W1 {
  using Message = pbpeer::TaskInfo;
  static const Message& Get() {
    static const Message* m = [] {
      auto* t = new Message();
      pbpeer::BuildTaskInfo(pbpeer::DefaultPool(), t);
      return t;
    }();
    return *m;
  }
};

struct W2 {
  using Message = pbpeer::NetworkInfo;
  static const Message& Get() {
    static const Message* m = [] {
      auto* t = new Message();
      pbpeer::BuildNetworkInfo(pbpeer::DefaultPool(), t);
      return t;
    }();
    return *m;
  }
};

template <class W>
void Check(benchmark::State& state, const typename W::Message& back) {
  if (back.SerializeAsString() != W::Get().SerializeAsString()) {
    ++g_failures;
    state.SkipWithError("the decoded copy differs from the source");
  }
}

template <class W>
void BinaryEncode(benchmark::State& state) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    W::Get().SerializeToString(&out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["bytes"] = static_cast<double>(out.size());
}

template <class W>
void BinaryDecode(benchmark::State& state) {
  const std::string doc = W::Get().SerializeAsString();
  for (auto _ : state) {
    typename W::Message m;
    m.ParseFromString(doc);
    benchmark::DoNotOptimize(&m);
  }
  typename W::Message back;
  back.ParseFromString(doc);
  Check<W>(state, back);
}

template <class W>
void JsonEncode(benchmark::State& state) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    (void)google::protobuf::util::MessageToJsonString(W::Get(), &out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["bytes"] = static_cast<double>(out.size());
}

template <class W>
void JsonDecode(benchmark::State& state) {
  std::string doc;
  (void)google::protobuf::util::MessageToJsonString(W::Get(), &doc);
  for (auto _ : state) {
    typename W::Message m;
    (void)google::protobuf::util::JsonStringToMessage(doc, &m);
    benchmark::DoNotOptimize(&m);
  }
  typename W::Message back;
  (void)google::protobuf::util::JsonStringToMessage(doc, &back);
  Check<W>(state, back);
}

template <class W>
void Register(const char* name) {
  const std::string n(name);
  benchmark::RegisterBenchmark((n + "/binary/encode").c_str(), BinaryEncode<W>);
  benchmark::RegisterBenchmark((n + "/binary/decode").c_str(), BinaryDecode<W>);
  benchmark::RegisterBenchmark((n + "/json/encode").c_str(), JsonEncode<W>);
  benchmark::RegisterBenchmark((n + "/json/decode").c_str(), JsonDecode<W>);
}

}  // namespace

int main(int argc, char** argv) {
  Register<W1>("W1");
  Register<W2>("W2");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return g_failures == 0 ? 0 : 1;
}
