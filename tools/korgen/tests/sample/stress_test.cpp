// Many threads on one in-process server at once: synchronous and
// asynchronous stub calls from eight threads, arguments shared between them
// (so their reference counts move on every thread), arrays created on demand
// by racing callers and replaced by swaps, and the adapter shut down while
// calls are still being started. Built with ThreadSanitizer by
// scripts/sanitize.sh; in the ordinary build it checks the outcome counts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kortypes/kortypes.h"
#include "movel/inprocess.h"

namespace {

using Basekit::Ref;
using Basekit::System::ScheduledItem;

constexpr int kThreads = 8;
constexpr int kRounds = 300;

// Answers ping and login, and configure: it reads the shared spec's item
// array, creating it on first use (racing with the other workers).
class ServiceImpl : public Smp::ServiceSkeleton {
 public:
  std::string Ping() override { return "pong"; }
  std::string Login(const std::string& user, const std::string&) override { return user; }
  void Configure(Smp::Flagged* spec, Movel::DataArray<Movel::MoRef>* folders,
                 const Basekit::Optional<std::string>&, Ref<Movel::MoRef>& result) override {
    Movel::DataArray<Smp::Base>* items = spec->GetItems();
    if (!items) throw Basekit::Exception("no item array");
    ++configured;
    result = folders && folders->GetLength() > 0 ? folders->Get(0) : nullptr;
  }
  std::atomic<int> configured{0};
};

struct Outcomes {
  std::atomic<int> succeeded{0}, canceled{0}, failed{0}, refused{0}, started{0};
};

TEST(Stress, ManyThreadsCallOneServerAndShutDownWithCallsInFlight) {
  Ref<Movel::LocalServer> server(new Movel::LocalServer);
  Ref<Movel::LocalStubAdapter> adapter(new Movel::LocalStubAdapter(server));
  Ref<ServiceImpl> impl(new ServiceImpl);
  Ref<Movel::MoRef> ref = server->Register(impl, "service-1");

  // Shared by every call: their counts move on every thread.
  Ref<Smp::Flagged> spec(new Smp::Flagged());
  Ref<Movel::DataArray<Movel::MoRef>> folders(new Movel::DataArray<Movel::MoRef>());
  folders->Append(Movel::MakeMoRef(Movel::GetMoType<Smp::Folder>(), "folder-1"));
  // Swapped in and out of a second object; every array swapped out is kept
  // until the end, since a Get of the other threads may still read it.
  Ref<Smp::Flagged> swapped(new Smp::Flagged());
  std::mutex keptMutex;
  std::vector<Ref<Movel::DataArray<Smp::Base>>> kept;

  Outcomes out;
  std::atomic<int> syncCalls{0};
  std::atomic<bool> shutDown{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      Ref<Smp::ServiceStub> stub(new Smp::ServiceStub(ref, adapter, nullptr));
      std::vector<Ref<ScheduledItem>> items;
      for (int round = 0; round < kRounds; ++round) {
        if (stub->Ping() == "pong") ++syncCalls;
        if (stub->Login("user-" + std::to_string(t), "pw") == "user-" + std::to_string(t)) ++syncCalls;
        Ref<Movel::DataArray<Smp::Base>> mine(new Movel::DataArray<Smp::Base>());
        swapped->SwapItems(&mine);
        (void)swapped->GetItems();
        {
          std::lock_guard<std::mutex> lock(keptMutex);
          kept.push_back(mine);
        }
        Ref<ScheduledItem> item;
        try {
          ++out.started;
          stub->Configure(spec, folders, Basekit::Optional<std::string>("f"),
                          [&out](ScheduledItem*, Basekit::Exception* e, Movel::Any* answer) {
                            if (!e && answer) {
                              ++out.succeeded;
                            } else if (dynamic_cast<Movel::Fault::RequestCanceled::Exception*>(e)) {
                              ++out.canceled;
                            } else {
                              ++out.failed;
                            }
                          },
                          item);
          items.push_back(item);
        } catch (const Basekit::Exception&) {
          ++out.refused;  // shut down, or the queue is full
        }
        // Thread 0 shuts the adapter down half way, with calls in flight.
        if (t == 0 && round == kRounds / 2) {
          adapter->Shutdown();
          shutDown = true;
        }
      }
      for (auto& item : items) EXPECT_TRUE(item->WaitFor(std::chrono::seconds(60)));
    });
  }
  for (auto& thread : threads) thread.join();

  EXPECT_TRUE(shutDown);
  EXPECT_EQ(syncCalls, kThreads * kRounds * 2);  // synchronous calls outlive the shutdown
  EXPECT_EQ(out.failed, 0);
  EXPECT_EQ(out.succeeded + out.canceled + out.refused, out.started);
  EXPECT_EQ(out.succeeded, impl->configured);
  EXPECT_GT(out.refused, 0);  // every thread went on calling after the shutdown
  // Racing creators ended up sharing one array.
  Movel::DataArray<Smp::Base>* items = spec->GetItems();
  EXPECT_EQ(spec->GetItems(), items);
  EXPECT_EQ(items->GetLength(), 0);
}

}  // namespace
