#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "basekit/functor.h"
#include "basekit/optional.h"

using Basekit::Nil;
using Basekit::Optional;

// Generated records read an optional field as the value followed by a flag
// byte, so the layout is part of the contract.
TEST(Optional, LayoutIsValueThenFlag) {
  static_assert(sizeof(Optional<double>) == 2 * sizeof(double), "");
  Optional<double> d;
  auto flag = [&d] { return reinterpret_cast<const char*>(&d)[sizeof(double)]; };
  EXPECT_EQ(static_cast<const void*>(&d.GetValue()), static_cast<const void*>(&d));
  EXPECT_EQ(flag(), 0);
  d = 2.5;
  EXPECT_EQ(flag(), 1);
  d.Unset();
  EXPECT_EQ(flag(), 0);
  EXPECT_EQ(d.GetValue(), 2.5);  // Unset keeps the value, Reset clears it
  d.Reset();
  EXPECT_EQ(d.GetValue(), 0.0);
}

TEST(Optional, EqualityComparesValuesOnlyWhenSet) {
  Optional<std::string> unset, stale("stale"), a("a"), alsoA("a"), b("b"), empty("");
  stale.Unset();
  EXPECT_EQ(unset, stale);
  EXPECT_EQ(a, alsoA);
  EXPECT_NE(a, b);
  EXPECT_NE(empty, unset);  // set to the default value is still set
}

struct Item {};
struct Error {};
struct Result {};

TEST(Functor, ArityFollowsTheNonNilArguments) {
  using Completion = Basekit::Functor<void, Item*, Error*, Result*, Nil, Nil, Nil, Nil>;
  static_assert(
      std::is_same<Completion::Function, std::function<void(Item*, Error*, Result*)>>::value, "");
  EXPECT_FALSE(Completion());
  Item item;
  Error error;
  Result result;
  int calls = 0;
  Completion done = [&](Item* i, Error* e, Result* r) {
    calls += i == &item && e == &error && r == &result;
  };
  Completion copy = done;
  copy(&item, &error, &result);
  EXPECT_EQ(calls, 1);

  int n = 0;
  Basekit::Functor<int> next = [&n] { return ++n; };
  Basekit::Functor<int> nextCopy(next);
  EXPECT_EQ(next() + nextCopy(), 3);
}
