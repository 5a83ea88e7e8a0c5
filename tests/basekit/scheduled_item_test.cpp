#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "basekit/ref.h"
#include "basekit/scheduled_item.h"

using Basekit::System::ScheduledItem;
using namespace std::chrono_literals;

TEST(ScheduledItem, WaitersWakeWhenAnotherThreadMarksItDone) {
  Basekit::Ref<ScheduledItem> item(new ScheduledItem);
  EXPECT_FALSE(item->IsDone());
  EXPECT_FALSE(item->WaitFor(20ms));

  std::vector<std::thread> waiters;
  std::vector<char> woke(3, 0);
  for (std::size_t i = 0; i < woke.size(); ++i) {
    waiters.emplace_back([item, &woke, i] {
      item->Wait();
      woke[i] = 1;
    });
  }
  std::thread worker([item] {
    std::this_thread::sleep_for(30ms);
    item->MarkDone();
  });
  EXPECT_TRUE(item->WaitFor(10s));
  EXPECT_TRUE(item->IsDone());
  worker.join();
  for (auto& w : waiters) w.join();
  EXPECT_EQ(woke, std::vector<char>(3, 1));
  EXPECT_TRUE(item->WaitFor(0ms));
}
