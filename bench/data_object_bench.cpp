// Data object benchmarks on two workloads, with the operations a client pays
// for: deep copy, equality, one-leaf difference, size, property read by index,
// and building a tree from scratch. The workloads and the values they hold are
// the same as those of the protobuf peer harness (see compare_peer.sh), so the
// two programs can be run side by side and compared by ratio:
//
//   W1  one Kor::TaskInfo with all 23 properties set.
//   W2  a host network state tree, Kor::Host::NetworkInfo: 16 virtual switches,
//       128 port groups of 4 ports, 16 physical NICs with 4 link speeds each,
//       16 + 2 virtual NICs, a DNS configuration; every network policy full.
//       2,872 data objects and 3,828 strings, as in the peer. Switches, port
//       groups and virtual NICs name one another by key (link properties).
//       On the real library W2 adds the derivation of the host's network
//       configuration from this state by the network factory.
//   Chain  TaskInfo objects linked through `result`, 64 to 4,096 deep, one
//       changed leaf at the bottom: the cost of a diff per level of nesting.
//
// Benchmark names are "<workload>/<operation>/<variant>". Every copy and create
// iteration also releases what it made. Each benchmark checks its result after
// the timed loop (a copy equal to its source, equality true and false where it
// should be, exactly the expected diff path, the right value read); a wrong
// result is reported as an error and the program exits 1.
//
// Differences from the peer's W1 that follow from the object model: a managed
// object reference holds its type and one id string (the peer's MoRef message
// holds two strings); `error` is a Movel::MethodFault whose message is one
// LocalizableMessage in its faultMessage array (two more objects than the
// peer's one-string Fault message); `result` is a Movel::Primitive<std::string>
// box, which copies share instead of copying.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kortypes/kortypes.h"
#ifdef KORTYPES_BENCH_STUB
#include "kortypes/stub_factory.h"
#include "movel/inprocess.h"
#include "w2_shape.h"
#endif
#ifdef KORTYPES_BENCH_FACTORY
#include "kortypes/network_factory.h"
#endif

namespace {

using Basekit::Ref;
using Basekit::System::DateTime;

// Optimisation barriers for scalars and pointers, register operands only: the
// benchmark library's DoNotOptimize(lvalue) may let the compiler hand a field's
// memory to the empty asm and never load it, which turns a sub-nanosecond read
// into an empty loop.
template <class T>
inline __attribute__((always_inline)) void Opaque(T& v) {  // forget what v holds
  asm volatile("" : "+r"(v));
}
template <class T>
inline __attribute__((always_inline)) void Use(T v) {  // v must be computed
  asm volatile("" : : "r"(v));
}

int g_failures = 0;
void Fail(benchmark::State& state, const std::string& why) {
  ++g_failures;
  state.SkipWithError(why.c_str());
}

unsigned Identity(unsigned n) { return n; }

const char* const kPrefix = "info";

using Kor::Host::NetworkPolicy;
using w2shape::Fmt;
using w2shape::kConsoleVnics;
using w2shape::kPnics;
using w2shape::kPortgroups;
using w2shape::kVnics;
using w2shape::kVswitches;

constexpr int kLocked = 3;
constexpr int kDiffPortgroup = 64;
// Objects of the W2 tree (its shape, counted the same way as the peer's
// messages): the root, per switch 9, per port group 20, per physical NIC 7,
// per virtual NIC 3, the DNS configuration.
constexpr int kW2Objects = 1 + kVswitches * 9 + kPortgroups * 20 + kPnics * 7 +
                           (kVnics + kConsoleVnics) * 3 + 1;
static_assert(kW2Objects == 2872, "the W2 shape of the peer");

// The W1 strings, beside the W2 pool of bench/w2_shape.h.
struct Pool : w2shape::Pool {
  std::string task_key, task_value, desc_key, desc_message, task_name, description_id,
      entity_value, entity_name, error_message, result_value, reason_user, reason_user_changed,
      change_tag, parent_task_key, root_task_key, activation_id;
  std::vector<std::string> locked_value;

  Pool() {
    task_key = "task-2024-000187431";
    task_value = "task-000187431";
    desc_key = "com.example.host.network.reconfigure";
    desc_message = "Reconfigure network settings on host";
    task_name = "ReconfigureNetwork_Task";
    description_id = "HostNetworkSystem.reconfigure";
    entity_value = "host-00002841";
    entity_name = "node17.rack04.dc-east.example.net";
    error_message = "Operation timed out after 300 seconds";
    result_value = "result-token-7f3a9c21e4";
    reason_user = "EXAMPLE\\svc-automation";
    reason_user_changed = "EXAMPLE\\operator-on-call";
    change_tag = "ctag-00000000000004f1";
    parent_task_key = "task-2024-000187400";
    root_task_key = "task-2024-000187399";
    activation_id = "act-5d1e0a4c-9b7e-4c3f";
    locked_value = {"datastore-00001203", "network-000000415", "resgroup-00000071"};
  }
};

const Pool& P() {
  static const Pool* pool = new Pool();
  return *pool;
}

// Bytes of the strings of a list that cannot live in a string's inline buffer:
// a lower bound of what _GetSize must count for them.
size_t HeapBytes(const std::vector<std::string>& strings) {
  size_t n = 0;
  for (const std::string& s : strings) n += s.size() > 15 ? s.size() : 0;
  return n;
}

// ---- W1 -----------------------------------------------------------------------

Kor::TaskInfo* BuildTaskInfo(const Pool& p) {
  auto* t = new Kor::TaskInfo();
  t->key = p.task_key;
  t->SetTask(Movel::MakeMoRef(Movel::GetMoType<Kor::Task>(), p.task_value));
  auto* desc = new Movel::LocalizableMessage(p.desc_key);
  desc->SetMessage(p.desc_message);
  t->SetDescription(desc);
  t->name = Movel::MethodName(p.task_name);
  t->descriptionId = p.description_id;
  t->SetEntity(Movel::MakeMoRef(Movel::GetMoType<Kor::HostSystem>(), p.entity_value));
  Movel::SetOptionalString(t->entityName, p.entity_name);
  Movel::ManagedObjectType* lockedTypes[kLocked] = {Movel::GetMoType<Kor::Datastore>(),
                                                     Movel::GetMoType<Kor::Network>(),
                                                     Movel::GetMoType<Kor::ResourcePool>()};
  auto* locked = t->GetLocked();
  for (int i = 0; i < kLocked; ++i) locked->Append(Movel::MakeMoRef(lockedTypes[i], p.locked_value[i]));
  t->state = Kor::TaskInfo::State::error;
  t->cancelled = false;
  t->cancelable = true;
  auto* fault = new Movel::MethodFault();
  auto* message = new Movel::LocalizableMessage();
  message->SetMessage(p.error_message);
  fault->GetOrCreateFaultMessage()->Append(message);
  t->SetError(fault);
  t->SetResult(new Movel::Primitive<std::string>(p.result_value));
  t->progress = 73;
  auto* reason = new Kor::TaskReasonUser();
  reason->userName = p.reason_user;
  t->SetReason(reason);
  t->queueTime = DateTime(1733400000123LL * 1000);
  t->startTime = DateTime(1733400000573LL * 1000);
  t->completeTime = DateTime(1733400301574LL * 1000);
  t->eventChainId = 918273;
  Movel::SetOptionalString(t->changeTag, p.change_tag);
  Movel::SetOptionalString(t->parentTaskKey, p.parent_task_key);
  Movel::SetOptionalString(t->rootTaskKey, p.root_task_key);
  Movel::SetOptionalString(t->activationId, p.activation_id);
  return t;
}

struct W1 {
  using Root = Kor::TaskInfo;
  static constexpr const char* kName = "W1";
  static Root* Build() { return BuildTaskInfo(P()); }
  static void Mutate(Root* t) {
    const_cast<Kor::TaskReasonUser*>(static_cast<const Kor::TaskReasonUser*>(t->PeekReason()))
        ->userName = P().reason_user_changed;
  }
  static std::string DiffPath() { return std::string(kPrefix) + ".reason.userName"; }
  static size_t MinSize() {
    const Pool& p = P();
    return sizeof(Kor::TaskInfo) +
           HeapBytes({p.task_key, p.desc_key, p.desc_message, p.task_name, p.description_id,
                      p.entity_name, p.error_message, p.result_value, p.reason_user, p.change_tag,
                      p.parent_task_key, p.root_task_key, p.activation_id});
  }
};

// ---- W2 -----------------------------------------------------------------------

#ifdef KORTYPES_BENCH_W2
struct W2 {
  using Root = Kor::Host::NetworkInfo;
  static constexpr const char* kName = "W2";
  static Root* Build() { return w2shape::BuildNetworkInfo(P()); }
  static void Mutate(Root* m) {
    // The tree is the caller's own copy; the read accessors are const.
    const auto* criteria = m->GetPortgroup()
                               ->Get(kDiffPortgroup)
                               ->PeekSpec()
                               ->PeekPolicy()
                               ->PeekNicTeaming()
                               ->PeekFailureCriteria();
    const_cast<NetworkPolicy::NicFailureCriteria*>(criteria)->speed = 1000;
  }
  static std::string DiffPath() {
    return std::string(kPrefix) + ".portgroup[64].spec.policy.nicTeaming.failureCriteria.speed";
  }
  static size_t MinSize() {
    // Every object is at least a DynamicData; of the strings, only the MAC
    // addresses and a few others outgrow the inline buffer.
    const Pool& p = P();
    return kW2Objects * sizeof(Movel::DynamicData) + HeapBytes(p.port_mac) + HeapBytes(p.pnic_mac) +
           HeapBytes(p.vnic_mac) + HeapBytes(p.pg_key);
  }
};
#endif  // KORTYPES_BENCH_W2

// ---- the operations -------------------------------------------------------------

template <class W>
Ref<typename W::Root> Fresh() {
  return Ref<typename W::Root>(W::Build());
}

// The source tree of a workload, built once and never changed.
template <class W>
const typename W::Root* Source() {
  static typename W::Root* src = [] {
    auto* m = W::Build();
    m->IncRef();  // kept for the life of the program
    return m;
  }();
  return src;
}

template <class W>
void Copy(benchmark::State& state) {
  const auto* src = Source<W>();
  for (auto _ : state) {
    Ref<Movel::Any> copy(src->_Clone());
    Use(copy.Get());
  }
  Ref<Movel::Any> check(src->_Clone());
  if (check.Get() == src || !Movel::AreEqualAnysInt(check.Get(), src, 0, false))
    Fail(state, "the copy is not an equal, separate object");
}

template <class W>
void Equal(benchmark::State& state) {
  const auto* a = Source<W>();
  Ref<typename W::Root> b = Fresh<W>();  // built separately: nothing shared with a
  bool eq = false;
  for (auto _ : state) {
    eq = a->_IsEqual(b.Get(), false);
    Use(eq);
  }
  if (!eq) Fail(state, "equal trees compared unequal");
  Ref<typename W::Root> changed = Fresh<W>();
  W::Mutate(changed.Get());
  if (a->_IsEqual(changed.Get(), false)) Fail(state, "differing trees compared equal");
}

template <class W>
void Diff(benchmark::State& state) {
  const auto* a = Source<W>();
  Ref<typename W::Root> b = Fresh<W>();
  W::Mutate(b.Get());
  Movel::PropertyDiffSet diff;
  for (auto _ : state) {
    diff.clear();
    a->_DiffProperties(b.Get(), kPrefix, diff);
    Use(diff.size());
  }
  if (diff.size() != 1 || diff.GetChanged()[0].str() != W::DiffPath()) {
    std::string got;
    for (const auto& path : diff.GetChanged()) got += " " + path.str();
    Fail(state, "expected the one path " + W::DiffPath() + ", got" + got);
  }
}

template <class W>
void Size(benchmark::State& state) {
  const auto* a = Source<W>();
  unsigned n = 0;
  for (auto _ : state) {
    Opaque(a);
    n = a->_GetSize(&Identity);
    Use(n);
  }
  if (n < W::MinSize()) Fail(state, "the size misses owned objects or strings");
  state.counters["bytes"] = n;
}

template <class W>
void CreateDestroy(benchmark::State& state) {
  for (auto _ : state) {
    Ref<typename W::Root> m(W::Build());
    Use(m.Get());
  }
  Ref<typename W::Root> check(W::Build());
  if (!Movel::AreEqualAnysInt(check.Get(), Source<W>(), 0, false))
    Fail(state, "a new tree differs from the source");
}

// Property reads by index through the type's descriptor, as a generic client
// (a serialiser, a property collector) reaches properties. The index and the
// object are laundered each iteration so neither the lookup nor the load can
// be hoisted.
constexpr int kTaskInfoEntityNameIndex = 6;

void W1FieldPeek(benchmark::State& state) {
  const Movel::DataObject* m = Source<W1>();
  const Movel::DataTypeInfo* record = Movel::GetDoType<Kor::TaskInfo>()->GetRecord();
  size_t len = 0;
  for (auto _ : state) {
    int idx = kTaskInfoEntityNameIndex;
    Opaque(idx);
    Opaque(m);
    len = static_cast<const std::string*>(record->propPeek(m, idx))->size();
    Use(len);
  }
  if (len != P().entity_name.size()) Fail(state, "wrong property");
}

// The same property copied out into a value slot (propGet).
void W1FieldGet(benchmark::State& state) {
  Movel::DataObject* m = const_cast<Kor::TaskInfo*>(Source<W1>());
  const Movel::DataTypeInfo* record = Movel::GetDoType<Kor::TaskInfo>()->GetRecord();
  std::string v;
  for (auto _ : state) {
    int idx = kTaskInfoEntityNameIndex;
    Opaque(idx);
    Opaque(m);
    record->propGet(m, idx, &v);
    benchmark::DoNotOptimize(v.data());
  }
  if (v != P().entity_name) Fail(state, "wrong property");
}

// The public member: the floor of the loop, not a divisor.
void W1FieldMember(benchmark::State& state) {
  const Kor::TaskInfo* m = Source<W1>();
  size_t len = 0;
  for (auto _ : state) {
    Opaque(m);
    len = m->entityName->size();
    Use(len);
  }
  if (len != P().entity_name.size()) Fail(state, "wrong property");
}

#ifdef KORTYPES_BENCH_W2
// ipV6Enabled's index among NetworkInfo's own properties, from the descriptor.
int NetworkInfoIpV6EnabledIndex() {
  const Movel::Property* p = Movel::GetDoType<Kor::Host::NetworkInfo>()->FindProperty("ipV6Enabled");
  return p ? p->GetIndex() : -1;
}

void W2FieldPeek(benchmark::State& state) {
  const Movel::DataObject* m = Source<W2>();
  const Movel::DataTypeInfo* record = Movel::GetDoType<Kor::Host::NetworkInfo>()->GetRecord();
  const int index = NetworkInfoIpV6EnabledIndex();
  if (index < 0) {
    Fail(state, "NetworkInfo has no ipV6Enabled");
    return;
  }
  bool v = false;
  for (auto _ : state) {
    int idx = index;
    Opaque(idx);
    Opaque(m);
    v = *static_cast<const bool*>(record->propPeek(m, idx));
    Use(v);
  }
  if (!v) Fail(state, "wrong property");
}

void W2FieldMember(benchmark::State& state) {
  const Kor::Host::NetworkInfo* m = Source<W2>();
  bool v = false;
  for (auto _ : state) {
    Opaque(m);
    v = m->ipV6Enabled.GetValue();
    Use(v);
  }
  if (!v) Fail(state, "wrong property");
}
#endif

#ifdef KORTYPES_BENCH_FACTORY
// The host's network configuration derived from the W2 state: switch and
// port-group configurations through the link resolver, NIC configurations
// with the IPv6 filter. The state is the benchmark's own tree (the derivation
// may add empty lists to it), built once.
void W2Derive(benchmark::State& state) {
  Ref<Kor::Host::NetworkInfo> info = Fresh<W2>();
  Kor::Host::NetworkFactory* factory = Kor::Host::GetNetworkFactory();
  Ref<Kor::Host::NetworkConfig> config;
  for (auto _ : state) {
    factory->CreateNetworkConfig(config, info.Get());
    Use(config.Get());
  }
  constexpr int kPgPerVs = kPortgroups / kVswitches;
  bool ok = config && config->GetVswitch()->GetLength() == kVswitches &&
            config->GetPortgroup()->GetLength() == kPortgroups &&
            config->GetPnic()->GetLength() == kPnics && config->GetVnic()->GetLength() == kVnics &&
            config->GetConsoleVnic()->GetLength() == kConsoleVnics &&
            config->PeekDnsConfig() == info->PeekDnsConfig();
  for (int j = 0; ok && j < kPortgroups; ++j) {
    // Switch i lists its port groups i*8 .. i*8+7 in order.
    ok = config->GetPortgroup()->Get(j)->PeekSpec() == info->GetPortgroup()->Get(j)->PeekSpec();
  }
  for (int i = 0; ok && i < kVswitches; ++i) {
    ok = config->GetVswitch()->Get(i)->PeekSpec() == info->GetVswitch()->Get(i)->PeekSpec();
  }
  if (!ok) Fail(state, "the derived configuration does not match the state");
  state.counters["portgroups_per_switch"] = kPgPerVs;
}
#endif

// ---- Chain: diff cost per level of nesting -----------------------------------------

Ref<Kor::TaskInfo> BuildChain(int depth, int leaf) {
  Ref<Kor::TaskInfo> bottom(new Kor::TaskInfo());
  bottom->key = "level";
  bottom->progress = leaf;
  Ref<Kor::TaskInfo> top = bottom;
  for (int i = 1; i < depth; ++i) {
    Ref<Kor::TaskInfo> up(new Kor::TaskInfo());
    up->key = "level";
    up->SetResult(top.Get());
    top = up;
  }
  return top;
}

void ChainDiff(benchmark::State& state) {
  const int depth = static_cast<int>(state.range(0));
  Ref<Kor::TaskInfo> a = BuildChain(depth, 1);
  Ref<Kor::TaskInfo> b = BuildChain(depth, 2);
  Movel::PropertyDiffSet diff;
  for (auto _ : state) {
    diff.clear();
    a->_DiffProperties(b.Get(), kPrefix, diff);
    Use(diff.size());
  }
  std::string want = kPrefix;
  for (int i = 1; i < depth; ++i) want += ".result";
  want += ".progress";
  if (diff.size() != 1 || diff.GetChanged()[0].str() != want)
    Fail(state, "expected one path " + std::to_string(depth) + " levels deep");
  state.counters["levels"] = depth;
  state.counters["per_level"] = benchmark::Counter(
      depth, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

#ifdef KORTYPES_BENCH_STUB
// A synchronous stub call through the in-process server: box, dispatch,
// unbox.
void StubCallQueryOverhead(benchmark::State& state) {
  struct Host : Kor::HostSystemSkeleton {
    long long QueryOverhead(long long memory, const Basekit::Optional<int>&, int cpus) override {
      return memory / 100 + cpus;
    }
  };
  Ref<Movel::LocalServer> server(new Movel::LocalServer());
  Ref<Movel::LocalStubAdapter> adapter(new Movel::LocalStubAdapter(server));
  server->Register(new Host(), "host-1");
  Ref<Kor::HostSystem> host = Kor::GetMoStubFactory()->CreateHostSystem("host-1", adapter);
  long long r = 0;
  for (auto _ : state) {
    r = host->QueryOverhead(1 << 30, 16, 2);
    Use(r);
  }
  if (r != (1LL << 30) / 100 + 2) Fail(state, "wrong result");
}
#endif

template <class W>
void Register(const char* op, void (*fn)(benchmark::State&)) {
  benchmark::RegisterBenchmark((std::string(W::kName) + "/" + op).c_str(), fn);
}

template <class W>
void RegisterWorkload() {
  Register<W>("copy/_Clone", Copy<W>);
  Register<W>("equal/_IsEqual", Equal<W>);
  Register<W>("diff/_DiffProperties", Diff<W>);
  Register<W>("size/_GetSize", Size<W>);
}

}  // namespace

int main(int argc, char** argv) {
  RegisterWorkload<W1>();
  Register<W1>("field/propPeek_index", W1FieldPeek);
  Register<W1>("field/propGet_index", W1FieldGet);
  Register<W1>("field/member", W1FieldMember);
  Register<W1>("create_destroy/heap", CreateDestroy<W1>);
#ifdef KORTYPES_BENCH_W2
  RegisterWorkload<W2>();
  Register<W2>("field/propPeek_index", W2FieldPeek);
  Register<W2>("field/member", W2FieldMember);
  Register<W2>("create_destroy/heap", CreateDestroy<W2>);
#endif
#ifdef KORTYPES_BENCH_FACTORY
  Register<W2>("derive/CreateNetworkConfig", W2Derive);
#endif
  benchmark::RegisterBenchmark("Chain/diff", ChainDiff)->RangeMultiplier(4)->Range(64, 4096);
#ifdef KORTYPES_BENCH_STUB
  benchmark::RegisterBenchmark("Stub/call/QueryOverhead", StubCallQueryOverhead);
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::AddCustomContext("library", KORTYPES_BENCH_LIBRARY);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return g_failures == 0 ? 0 : 1;
}
