#include <cstddef>
#include <cstring>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>

#include "basekit/functor.h"
#include "basekit/optional.h"
#include "basekit/scheduled_item.h"
#include "basekit/throwable.h"

using Basekit::Nil;
using Basekit::Optional;

// Generated records read an optional field as the value followed by a flag
// byte, so the layout is part of the contract.
template <class T>
bool FlagByte(const Optional<T>& o) {
  bool flag;
  std::memcpy(&flag, reinterpret_cast<const char*>(&o) + sizeof(T), sizeof flag);
  return flag;
}

TEST(Optional, ValueThenFlagLayout) {
  static_assert(std::is_standard_layout<Optional<int>>::value, "");
  static_assert(sizeof(Optional<int>) == 2 * sizeof(int), "");
  static_assert(sizeof(Optional<double>) == 2 * sizeof(double), "");
  Optional<double> d;
  EXPECT_EQ(static_cast<const void*>(&d.GetValue()), static_cast<const void*>(&d));
  EXPECT_FALSE(FlagByte(d));
  d = 2.5;
  EXPECT_TRUE(FlagByte(d));
  double stored;
  std::memcpy(&stored, &d, sizeof stored);
  EXPECT_EQ(stored, 2.5);
  d.Unset();
  EXPECT_FALSE(FlagByte(d));
  EXPECT_EQ(d.GetValue(), 2.5);  // Unset keeps the value, Reset clears it
  d.Reset();
  EXPECT_EQ(d.GetValue(), 0.0);
}

TEST(Optional, EqualityLooksAtValuesOnlyWhenSet) {
  Optional<std::string> unset, alsoUnset("stale"), set("a"), same("a"), other("b");
  alsoUnset.Unset();
  EXPECT_EQ(unset, alsoUnset);
  EXPECT_EQ(set, same);
  EXPECT_NE(set, other);
  EXPECT_NE(set, unset);
  Optional<std::string> empty("");
  EXPECT_NE(empty, unset);  // set to the default value is still set
  set.Swap(unset);
  EXPECT_FALSE(set.IsSet());
  EXPECT_EQ(*unset, "a");
}

namespace {
struct Any {};
}  // namespace

TEST(Functor, CompletionShapeTakesThreeArguments) {
  using Completion = Basekit::Functor<void, Basekit::System::ScheduledItem*, Basekit::Exception*,
                                      Any*, Nil, Nil, Nil, Nil>;
  static_assert(std::is_same<Completion::Function,
                             std::function<void(Basekit::System::ScheduledItem*,
                                                Basekit::Exception*, Any*)>>::value,
                "");
  Completion empty;
  EXPECT_FALSE(empty);
  int calls = 0;
  const Basekit::Exception* seenError = nullptr;
  Any* seenResult = nullptr;
  Completion done = [&](Basekit::System::ScheduledItem* item, Basekit::Exception* e, Any* r) {
    ++calls;
    EXPECT_EQ(item, nullptr);
    seenError = e;
    seenResult = r;
  };
  Completion copy = done;
  Basekit::Exception error("boom");
  Any result;
  copy(nullptr, &error, &result);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seenError, &error);
  EXPECT_EQ(seenResult, &result);
}

TEST(Functor, NoArguments) {
  static_assert(std::is_same<Basekit::Functor<int>::Function, std::function<int()>>::value, "");
  int n = 0;
  Basekit::Functor<int> next = [&n] { return ++n; };
  Basekit::Functor<int> copy(next);
  EXPECT_TRUE(copy);
  EXPECT_EQ(next(), 1);
  EXPECT_EQ(copy(), 2);
}
