#include "basekit/ref.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>
#include <vector>

#include "basekit/object.h"

namespace bktest {
struct Counters {
  std::atomic<int> increfs{0}, firsts{0}, destroyed{0};
};

class Counted : public Basekit::ObjectImpl {
 public:
  explicit Counted(Counters& c) : c_(c) {}
  ~Counted() override { ++c_.destroyed; }
  void IncRef() const override { ++c_.increfs, ObjectImpl::IncRef(); }

 protected:
  void FirstIncRef() const override { ++c_.firsts; }

 private:
  Counters& c_;
};

struct Derived : Counted {
  using Counted::Counted;
};
Basekit::TmpRef<Derived> Make(Counters& c) { return Basekit::TmpRef<Derived>(new Derived(c)); }
}  // namespace bktest

using Basekit::Ref;
using bktest::Counted;
using bktest::Counters;

TEST(RefCount, LastReleaseDestroysOnceAndSelfAssignmentKeepsTheObject) {
  Counters c;
  auto* raw = new bktest::Derived(c);
  EXPECT_EQ(raw->GetRefCount(), 0);  // a new object carries no reference
  Ref<Counted> a(raw);
  a = a.Get();  // with a single reference, releasing first would destroy it
  const Ref<Counted>& alias = a;
  a = alias;
  ASSERT_EQ(c.destroyed, 0);
  Ref<Basekit::Object> b = a;
  EXPECT_EQ(raw->GetRefCount(), 2);
  EXPECT_EQ(c.firsts, 1);
  EXPECT_TRUE(std::regex_match(b->ToString(), std::regex("bktest::Derived@0x[0-9a-f]+")));
  Ref<Counted> copy(new Counted(*raw));  // a copy has its own count
  EXPECT_EQ(copy->GetRefCount(), 1);
  a.Reset();
  EXPECT_EQ(c.destroyed, 0);
  b = nullptr;
  EXPECT_EQ(c.destroyed, 1);
}

TEST(RefCount, MovesAndTmpRefsHandTheReferenceOver) {
  Counters c;
  Ref<bktest::Derived> d(new bktest::Derived(c));
  Ref<Counted> base(std::move(d)), other;
  other = std::move(base);
  EXPECT_FALSE(d || base);
  Counted* raw = other.Release();
  EXPECT_EQ(other.ExchangeRaw(raw), nullptr);
  EXPECT_EQ(raw->GetRefCount(), 1);
  other = bktest::Make(c);  // replaces, and so destroys, the first object
  Ref<Counted> fromTmp = bktest::Make(c);
  EXPECT_EQ(c.increfs, 3);  // one per TmpRef, none for the handovers
  EXPECT_EQ(c.destroyed, 1);
  auto kept = bktest::Make(c);
  other = kept;  // an lvalue TmpRef is shared, not emptied
  EXPECT_EQ(kept->GetRefCount(), 2);

  // A TmpRef may give its reference up, to a holder that is not a Ref.
  auto given = bktest::Make(c);
  bktest::Derived* owned = given.Release();
  EXPECT_FALSE(given);
  EXPECT_EQ(owned->GetRefCount(), 1);
  const int destroyedBefore = c.destroyed;
  given = Basekit::TmpRef<bktest::Derived>();  // holds nothing: releases nothing
  EXPECT_EQ(c.destroyed, destroyedBefore);
  owned->DecRef();
  EXPECT_EQ(c.destroyed, destroyedBefore + 1);

  Basekit::RefVector<Counted> args(3);
  EXPECT_TRUE(args.size() == 3 && !args[0] && !args[1] && !args[2]);
  args[1] = fromTmp;
  fromTmp = nullptr;
  args.clear();
  EXPECT_EQ(c.destroyed, 4);
}

TEST(RefCount, ConcurrentReferencesBalanceAndTheLastDestroysOnce) {
  Counters c;
  std::vector<Ref<Counted>> held(8, Ref<Counted>(new Counted(c)));
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (auto& mine : held) {
    threads.emplace_back([&go, &mine] {
      while (!go) std::this_thread::yield();
      for (int i = 0; i < 20000; ++i) Ref<Counted> copy = mine;
      mine.Reset();  // all threads race to drop the last reference
    });
  }
  go = true;
  for (auto& th : threads) th.join();
  EXPECT_EQ(c.destroyed, 1);
}

TEST(RefCountDeathTest, ReleasingAnUnheldObjectAborts) {
  Counters c;
  Counted unheld(c);
  EXPECT_DEATH(unheld.DecRef(), "fatal: verify failed: .* at .*object.cpp:");
}
