// Completion handles of asynchronous work.

#include "basekit/scheduled_item.h"

namespace Basekit {
namespace System {

ScheduledItem::ScheduledItem() : done_(false) {}

ScheduledItem::~ScheduledItem() = default;

bool ScheduledItem::IsDone() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return done_;
}

void ScheduledItem::Wait() const {
  std::unique_lock<std::mutex> lock(mutex_);
  done_cv_.wait(lock, [this] { return done_; });
}

bool ScheduledItem::WaitFor(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return done_cv_.wait_for(lock, timeout, [this] { return done_; });
}

// Notifies while still holding the lock: a waiter cannot return, and so cannot
// drop what may be the last reference to the item, until the notification is
// finished with the condition variable.
void ScheduledItem::MarkDone() {
  std::lock_guard<std::mutex> lock(mutex_);
  done_ = true;
  done_cv_.notify_all();
}

}  // namespace System
}  // namespace Basekit
