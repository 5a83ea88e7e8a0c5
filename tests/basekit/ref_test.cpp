#include <atomic>
#include <regex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "basekit/object.h"
#include "basekit/ref.h"

namespace bktest {

// Counts hook calls, IncRef calls and destructions in caller-owned counters.
struct Counters {
  std::atomic<int> increfs{0}, firsts{0}, destroyed{0};
};

class Counted : public Basekit::ObjectImpl {
 public:
  explicit Counted(Counters& c) : c_(c) {}
  ~Counted() override { ++c_.destroyed; }
  void IncRef() const override {
    ++c_.increfs;
    ObjectImpl::IncRef();
  }

 protected:
  void FirstIncRef() const override { ++c_.firsts; }

 private:
  Counters& c_;
};

class Derived : public Counted {
 public:
  using Counted::Counted;
};

Basekit::TmpRef<Derived> MakeDerived(Counters& c) { return Basekit::TmpRef<Derived>(new Derived(c)); }

}  // namespace bktest

using Basekit::Ref;
using bktest::Counted;
using bktest::Counters;

TEST(RefCount, FirstHolderTakesTheOnlyReferenceAndLastReleaseDestroysOnce) {
  Counters c;
  auto* raw = new Counted(c);
  EXPECT_EQ(raw->GetRefCount(), 0);
  {
    Ref<Counted> a(raw);
    EXPECT_EQ(raw->GetRefCount(), 1);
    Ref<Counted> b = a;
    Ref<Basekit::Object> asBase = b;
    EXPECT_EQ(raw->GetRefCount(), 3);
    EXPECT_EQ(c.firsts, 1);
    a.Reset();
    b = nullptr;
    EXPECT_EQ(c.destroyed, 0);
  }
  EXPECT_EQ(c.destroyed, 1);
}

TEST(RefCount, AssigningTheHeldObjectKeepsItAlive) {
  Counters c;
  Ref<Counted> r(new Counted(c));
  r = r.Get();
  const Ref<Counted>& alias = r;
  r = alias;
  Ref<Counted>& same = r;
  r = std::move(same);
  EXPECT_EQ(c.destroyed, 0);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->GetRefCount(), 1);
}

TEST(RefCount, MovesAndOwnershipTransfersDoNotTouchTheCount) {
  Counters c;
  Ref<bktest::Derived> d(new bktest::Derived(c));
  Ref<Counted> base(std::move(d));
  EXPECT_FALSE(d);
  Ref<Counted> other;
  other = std::move(base);
  EXPECT_EQ(other->GetRefCount(), 1);
  Counted* raw = other.Release();
  EXPECT_EQ(raw->GetRefCount(), 1);
  EXPECT_EQ(other.ExchangeRaw(raw), nullptr);
  EXPECT_EQ(c.increfs, 1);
  other.Reset();
  EXPECT_EQ(c.destroyed, 1);
}

TEST(RefCount, TmpRefHandsItsReferenceOver) {
  Counters c;
  Ref<Counted> r = bktest::MakeDerived(c);  // converts to a Ref of a base class
  EXPECT_EQ(c.increfs, 1);
  EXPECT_EQ(r->GetRefCount(), 1);
  r = bktest::MakeDerived(c);  // the first object goes
  EXPECT_EQ(c.destroyed, 1);
  EXPECT_EQ(c.increfs, 2);
  auto kept = bktest::MakeDerived(c);
  r = kept;  // an lvalue TmpRef is shared, not emptied
  EXPECT_EQ(kept->GetRefCount(), 2);
  EXPECT_EQ(c.destroyed, 2);
  bktest::MakeDerived(c);  // discarded
  EXPECT_EQ(c.destroyed, 3);
}

TEST(RefCount, RefVectorOfNullsHoldsReferences) {
  Counters c;
  Basekit::RefVector<Counted> args(3);
  ASSERT_EQ(args.size(), 3u);
  for (const auto& a : args) EXPECT_FALSE(a);
  args[1] = new Counted(c);
  args.push_back(args[1]);
  EXPECT_EQ(args[3]->GetRefCount(), 2);
  args.clear();
  EXPECT_EQ(c.destroyed, 1);
}

TEST(RefCount, ConcurrentReferencesEndBalancedAndDestroyOnce) {
  Counters c;
  constexpr int kThreads = 8;
  std::vector<Ref<Counted>> held(kThreads, Ref<Counted>(new Counted(c)));
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go) std::this_thread::yield();
      for (int i = 0; i < 20000; ++i) {
        Ref<Counted> copy = held[t];
        Ref<Basekit::Object> again(copy.Get());
      }
      held[t].Reset();  // the last of these destroys the object
    });
  }
  go = true;
  for (auto& th : threads) th.join();
  EXPECT_EQ(c.destroyed, 1);
  EXPECT_EQ(c.firsts, 1);
}

TEST(RefCount, ToStringAndCopies) {
  Counters c;
  Ref<Counted> r(new bktest::Derived(c));
  EXPECT_TRUE(std::regex_match(r->ToString(), std::regex("bktest::Derived@0x[0-9a-f]+")))
      << r->ToString();
  Ref<Counted> copy(new Counted(*r));
  EXPECT_EQ(copy->GetRefCount(), 1);
  EXPECT_EQ(r->GetRefCount(), 1);
}

TEST(RefCountDeathTest, ReleasingAnUnheldObjectAborts) {
  Counters c;
  Counted* raw = new Counted(c);
  EXPECT_DEATH(raw->DecRef(), "fatal: verify failed: .*object.cpp");
  delete raw;
}
