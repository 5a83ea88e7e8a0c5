// Handles of work started elsewhere (asynchronous calls).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "basekit/export.h"
#include "basekit/object.h"

namespace Basekit {
namespace System {

// A started piece of work. Whoever runs it calls MarkDone() once, after its
// completion callback has returned; anyone holding the item may wait for it.
class BASEKIT_API ScheduledItem : public ObjectImpl {
 public:
  ScheduledItem();
  ~ScheduledItem() override;

  bool IsDone() const;
  void Wait() const;
  // True when the work finished within the timeout.
  bool WaitFor(std::chrono::milliseconds timeout) const;
  void MarkDone();

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable done_cv_;
  bool done_;
};

}  // namespace System
}  // namespace Basekit
