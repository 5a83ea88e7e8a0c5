// Running an asynchronous call and handing its outcome to the caller's
// completion, shared by the adapters that run calls on their own threads.
#pragma once

#include <exception>
#include <utility>

#include "basekit/ref.h"
#include "basekit/throwable.h"
#include "movel/stub.h"

namespace Movel {
namespace detail {

// Calls callback, if any, with the outcome. Nobody awaits what the callback
// itself throws: it is dropped, which keeps the worker, and every later call,
// alive.
inline void Deliver(const Completion& callback, Basekit::System::ScheduledItem* item,
                    Basekit::Exception* error, Any* result) {
  if (!callback) return;
  try {
    callback(item, error, result);
  } catch (...) {
  }
}

// Runs call (which stores the result), delivers the outcome exactly once
// (Basekit::Exception as caught, other exceptions wrapped with their text)
// and marks item done after the callback returns.
template <class Call>
void CompleteCall(const Completion& callback, Basekit::System::ScheduledItem* item, Call&& call) {
  Basekit::Ref<Any> result;
  bool failed = true;
  try {
    std::forward<Call>(call)(result);
    failed = false;
  } catch (Basekit::Exception& e) {
    Deliver(callback, item, &e, nullptr);
  } catch (const std::exception& e) {
    Basekit::Exception wrapped(e.what());
    Deliver(callback, item, &wrapped, nullptr);
  } catch (...) {
    Basekit::Exception wrapped("unknown exception");
    Deliver(callback, item, &wrapped, nullptr);
  }
  if (!failed) Deliver(callback, item, nullptr, result.Get());
  item->MarkDone();
}

}  // namespace detail
}  // namespace Movel
