// Stub calls over HTTP on the loopback interface: calls per second with one
// and eight client threads, synchronous and asynchronous, XML and JSON, for
// a small method and a W2-sized result.
//
//   Small  HostSystem.QueryOverhead: three scalars in, one out.
//   W2     HostNetworkSystem.networkInfo read: a host network state tree of
//          2,872 data objects, the shape of data_object_bench's W2 (16
//          switches, 128 port groups of 4 ports, 16 physical NICs with 4 link
//          speeds, 16 + 2 virtual NICs, a DNS configuration, every policy
//          full).
//
// Names are "<workload>/<mode>/<format>"; Sync runs 1 and 8 benchmark
// threads on one adapter (up to 8 kept-alive connections); Async has one
// caller keep 64 calls in flight on an adapter with 1 or 8 threads and as
// many connections. items_per_second is calls per second (wall clock).
// Beside them, for where the time goes: the same calls through the
// in-process adapter (no encoding, no HTTP), and the encoding and decoding of
// each answer alone. Every benchmark checks its answers after timing; a
// wrong one is reported and the program exits 1.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "kortypes/kortypes.h"
#include "kortypes/stub_factory.h"
#include "movel/http.h"
#include "movel/inprocess.h"
#include "w2_shape.h"

namespace {

using Basekit::Ref;
using Movel::WireFormat;

int g_failures = 0;
void Fail(benchmark::State& state, const std::string& why) {
  ++g_failures;
  state.SkipWithError(why.c_str());
}

// ---- the W2 tree ----------------------------------------------------------------

constexpr int kPortgroups = w2shape::kPortgroups;

Kor::Host::NetworkInfo* BuildW2() { return w2shape::BuildNetworkInfo(w2shape::Pool()); }

// ---- the server -----------------------------------------------------------------

long long Overhead(long long memory, int cpus) { return memory / 100 + cpus; }

class BenchHost : public Kor::HostSystemSkeleton {
 public:
  long long QueryOverhead(long long memory, const Basekit::Optional<int>&, int cpus) override {
    return Overhead(memory, cpus);
  }
};

class BenchNetwork : public Kor::Host::NetworkSystemSkeleton {
 public:
  explicit BenchNetwork(Kor::Host::NetworkInfo* info) : info_(info) {}
  // The tree is shared, never changed: encoding only reads it.
  void GetNetworkInfo(Ref<Kor::Host::NetworkInfo>& result) override { result = info_; }

 private:
  const Ref<Kor::Host::NetworkInfo> info_;
};

struct World {
  Ref<Kor::Host::NetworkInfo> w2;
  Ref<Movel::LocalServer> server;
  Ref<Movel::LocalStubAdapter> local;
  std::unique_ptr<Movel::HttpServer> http;

  World() : w2(BuildW2()), server(new Movel::LocalServer()) {
    server->Register(new BenchHost(), "host-1");
    server->Register(new BenchNetwork(w2), "networkSystem-1");
    local = new Movel::LocalStubAdapter(server);
    // A kept-alive connection holds a server thread until it closes or
    // idles out: enough threads for both shared adapters' connections and
    // an asynchronous benchmark's beside them.
    Movel::HttpServerOptions options;
    options.threads = 64;
    http = std::make_unique<Movel::HttpServer>(server, options);
  }

  Ref<Movel::HttpStubAdapter> Adapter(WireFormat format, std::size_t threads) const {
    Movel::HttpClientOptions options;
    options.format = format;
    options.maxConnections = threads;
    options.asyncThreads = threads;
    return Ref<Movel::HttpStubAdapter>(new Movel::HttpStubAdapter(http->GetUrl(), options));
  }
};

World* g_world = nullptr;

Ref<Kor::HostSystemStub> HostOn(Movel::StubAdapter* adapter) {
  return Ref<Kor::HostSystemStub>(new Kor::HostSystemStub("host-1", adapter, nullptr));
}
Ref<Kor::Host::NetworkSystemStub> NetworkOn(Movel::StubAdapter* adapter) {
  return Ref<Kor::Host::NetworkSystemStub>(
      new Kor::Host::NetworkSystemStub("networkSystem-1", adapter, nullptr));
}

// ---- one call of each workload --------------------------------------------------

struct Small {
  static constexpr const char* kName = "Small";
  using Stub = Kor::HostSystemStub;
  static Ref<Stub> On(Movel::StubAdapter* adapter) { return HostOn(adapter); }
  static bool Call(Stub* stub) { return stub->QueryOverhead(1LL << 30, 16, 2) == Overhead(1LL << 30, 2); }
  static void Start(Stub* stub, const Movel::Completion& done, Ref<Basekit::System::ScheduledItem>& item) {
    stub->QueryOverhead(1LL << 30, 16, 2, done, item);
  }
  static bool Right(Movel::Any* result) {
    auto* boxed = dynamic_cast<Movel::Primitive<long long>*>(result);
    return boxed && boxed->GetValue() == Overhead(1LL << 30, 2);
  }
};

struct W2 {
  static constexpr const char* kName = "W2";
  using Stub = Kor::Host::NetworkSystemStub;
  static Ref<Stub> On(Movel::StubAdapter* adapter) { return NetworkOn(adapter); }
  static bool Call(Stub* stub) {
    Ref<Kor::Host::NetworkInfo> info;
    stub->GetNetworkInfo(info);
    // A full comparison would cost as much as the call; the sizes of the
    // big arrays stand for it here, the full check runs after timing.
    return info && info->PeekPortgroup() && info->PeekPortgroup()->GetLength() == kPortgroups;
  }
  static void Start(Stub* stub, const Movel::Completion& done, Ref<Basekit::System::ScheduledItem>& item) {
    stub->GetNetworkInfo(done, item);
  }
  static bool Right(Movel::Any* result) {
    auto* info = dynamic_cast<Kor::Host::NetworkInfo*>(result);
    return info && info->PeekPortgroup() && info->PeekPortgroup()->GetLength() == kPortgroups;
  }
  static bool Whole(Stub* stub) {
    Ref<Kor::Host::NetworkInfo> info;
    stub->GetNetworkInfo(info);
    return Movel::AreEqualAnysInt(info, g_world->w2, 0, false);
  }
};

template <class W>
bool WholeAnswer(typename W::Stub* stub) {
  if constexpr (std::is_same<W, W2>::value) {
    return W2::Whole(stub);
  } else {
    return W::Call(stub);
  }
}

// Adapters shared by the threads of the Sync benchmarks, one per format.
Movel::HttpStubAdapter* SharedAdapter(WireFormat format) {
  static Ref<Movel::HttpStubAdapter> adapters[2];
  Ref<Movel::HttpStubAdapter>& slot = adapters[format == WireFormat::kJson];
  if (!slot) slot = g_world->Adapter(format, 8);
  return slot.Get();
}

template <class W>
void Sync(benchmark::State& state, WireFormat format) {
  Ref<typename W::Stub> stub = W::On(SharedAdapter(format));
  bool right = true;
  for (auto _ : state) right = W::Call(stub) && right;
  state.SetItemsProcessed(state.iterations());
  if (!right || (state.thread_index() == 0 && !WholeAnswer<W>(stub))) Fail(state, "wrong answer");
}

template <class W>
void Async(benchmark::State& state, WireFormat format, std::size_t threads) {
  constexpr int kWindow = 64;
  Ref<Movel::HttpStubAdapter> adapter = g_world->Adapter(format, threads);
  Ref<typename W::Stub> stub = W::On(adapter);
  std::atomic<int> wrong{0};
  Movel::Completion done = [&](Basekit::System::ScheduledItem*, Basekit::Exception* e,
                               Movel::Any* result) {
    if (e || !W::Right(result)) ++wrong;
  };
  std::vector<Ref<Basekit::System::ScheduledItem>> items(kWindow);
  for (auto _ : state) {
    for (auto& item : items) W::Start(stub, done, item);
    for (auto& item : items) item->Wait();
  }
  state.SetItemsProcessed(state.iterations() * kWindow);
  if (wrong.load() != 0 || !WholeAnswer<W>(stub)) Fail(state, "wrong answer");
}

template <class W>
void InProcess(benchmark::State& state) {
  Ref<typename W::Stub> stub = W::On(g_world->local);
  bool right = true;
  for (auto _ : state) right = W::Call(stub) && right;
  state.SetItemsProcessed(state.iterations());
  if (!right) Fail(state, "wrong answer");
}

// The wire work of one call without the transport: the server encodes the
// answer, the client decodes it.
template <class W>
void Codec(benchmark::State& state, WireFormat format) {
  Ref<Movel::Any> result;
  Movel::ManagedMethod* method = nullptr;
  if constexpr (std::is_same<W, W2>::value) {
    result = g_world->w2.Get();
    method = const_cast<Movel::ManagedMethod*>(
        Movel::GetMoType<Kor::Host::NetworkSystem>()->FindMethod("networkInfo"));
  } else {
    result = new Movel::Primitive<long long>(Overhead(1LL << 30, 2));
    method = const_cast<Movel::ManagedMethod*>(
        Movel::GetMoType<Kor::HostSystem>()->FindMethod("QueryOverhead"));
  }
  if (!method) {
    Fail(state, "no such method");
    return;
  }
  std::size_t bytes = 0;
  bool right = true;
  for (auto _ : state) {
    std::string document = Movel::EncodeResponse(format, method, result);
    bytes = document.size();
    Ref<Movel::Any> back = Movel::DecodeResponse(format, document, method);
    right = W::Right(back) && right;
  }
  state.counters["answer_bytes"] = static_cast<double>(bytes);
  state.SetItemsProcessed(state.iterations());
  if (!right) Fail(state, "wrong answer");
}

const char* FormatName(WireFormat format) { return format == WireFormat::kXml ? "xml" : "json"; }

template <class W>
void RegisterWorkload() {
  const std::string name = W::kName;
  for (WireFormat format : {WireFormat::kXml, WireFormat::kJson}) {
    const std::string suffix = std::string("/") + FormatName(format);
    benchmark::RegisterBenchmark((name + "/Sync" + suffix).c_str(),
                                 [format](benchmark::State& s) { Sync<W>(s, format); })
        ->Threads(1)
        ->Threads(8)
        ->UseRealTime();
    for (std::size_t threads : {1u, 8u}) {
      benchmark::RegisterBenchmark(
          (name + "/Async" + suffix + "/threads:" + std::to_string(threads)).c_str(),
          [format, threads](benchmark::State& s) { Async<W>(s, format, threads); })
          ->UseRealTime();
    }
    benchmark::RegisterBenchmark((name + "/Codec" + suffix).c_str(),
                                 [format](benchmark::State& s) { Codec<W>(s, format); });
  }
  benchmark::RegisterBenchmark((name + "/InProcess").c_str(), InProcess<W>);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  World world;
  g_world = &world;
  RegisterWorkload<Small>();
  RegisterWorkload<W2>();
  benchmark::AddCustomContext("server", world.http->GetUrl());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_world = nullptr;
  return g_failures == 0 ? 0 : 1;
}
