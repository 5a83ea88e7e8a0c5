// The protobuf peer's W1 through protobuf's own binary and JSON
// serialisation, the reference for wire_bench (see compare_wire.sh). Built
// against the peer harness's workload library; needs only Debian packages.
#include <benchmark/benchmark.h>
#include <google/protobuf/util/json_util.h>

#include <string>

#include "workloads.h"

namespace {

int g_failures = 0;

const pbpeer::TaskInfo& W1() {
  static const pbpeer::TaskInfo* task = [] {
    auto* t = new pbpeer::TaskInfo();
    pbpeer::BuildTaskInfo(pbpeer::DefaultPool(), t);
    return t;
  }();
  return *task;
}

void Check(benchmark::State& state, const pbpeer::TaskInfo& back) {
  if (back.SerializeAsString() != W1().SerializeAsString()) {
    ++g_failures;
    state.SkipWithError("the decoded copy differs from the source");
  }
}

void BinaryEncode(benchmark::State& state) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    W1().SerializeToString(&out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["bytes"] = static_cast<double>(out.size());
}

void BinaryDecode(benchmark::State& state) {
  const std::string doc = W1().SerializeAsString();
  pbpeer::TaskInfo back;
  for (auto _ : state) {
    pbpeer::TaskInfo m;
    m.ParseFromString(doc);
    benchmark::DoNotOptimize(&m);
    if (state.iterations() == 1) back = m;
  }
  back.ParseFromString(doc);
  Check(state, back);
}

void JsonEncode(benchmark::State& state) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    (void)google::protobuf::util::MessageToJsonString(W1(), &out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["bytes"] = static_cast<double>(out.size());
}

void JsonDecode(benchmark::State& state) {
  std::string doc;
  (void)google::protobuf::util::MessageToJsonString(W1(), &doc);
  for (auto _ : state) {
    pbpeer::TaskInfo m;
    (void)google::protobuf::util::JsonStringToMessage(doc, &m);
    benchmark::DoNotOptimize(&m);
  }
  pbpeer::TaskInfo back;
  (void)google::protobuf::util::JsonStringToMessage(doc, &back);
  Check(state, back);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("W1/binary/encode", BinaryEncode);
  benchmark::RegisterBenchmark("W1/binary/decode", BinaryDecode);
  benchmark::RegisterBenchmark("W1/json/encode", JsonEncode);
  benchmark::RegisterBenchmark("W1/json/decode", JsonDecode);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return g_failures == 0 ? 0 : 1;
}
