// The in-process server and its adapter.
#include "movel/inprocess.h"

#include "completion.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <thread>

#include "movel/data_types.h"
#include "movel/fault.h"
#include "movel/type.h"

namespace Movel {

// ---------------------------------------------------------------------------
// LocalServer

LocalServer::LocalServer() = default;

LocalServer::~LocalServer() {
  try {
    UnregisterAll();
  } catch (...) {
    // An object's _Unregistered() failed; a destructor has nobody to tell.
  }
}

Basekit::Ref<MoRef> LocalServer::Register(ManagedObject* impl, const std::string& id) {
  // Holding impl from the start means that an object nobody else holds is
  // released again when registration fails, like any counted argument.
  Basekit::Ref<ManagedObject> hold(impl);
  if (!impl) throw Basekit::Exception("LocalServer: cannot register a null object");
  if (id.empty()) throw Basekit::Exception("LocalServer: cannot register an object under an empty id");
  ManagedObjectType* type = impl->_GetType();
  if (!type) {
    throw Basekit::Exception("LocalServer: cannot register \"" + id +
                             "\": its managed type is not registered");
  }
  Basekit::Ref<MoRef> ref = MakeMoRef(type, id);
  std::lock_guard<std::mutex> lock(mutex_);
  Key key(type, id);
  if (objects_.count(key)) {
    throw Basekit::Exception("LocalServer: " + ref->ToString() + " is registered already");
  }
  if (!impl->_BindRef(ref.Get())) {
    throw Basekit::Exception("LocalServer: cannot register " + ref->ToString() +
                             ": the object is " + impl->_GetRef()->ToString() + " already");
  }
  objects_.emplace(std::move(key), Entry{ref, std::move(hold)});
  return ref;
}

bool LocalServer::Unregister(MoRef* ref) {
  if (!ref) return false;
  Entry entry;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(Key(ref->GetType(), ref->GetId()));
    if (it == objects_.end()) return false;
    entry = std::move(it->second);
    objects_.erase(it);
  }
  // Outside the lock, so that the object may call back into the server.
  entry.impl->_Unregistered();
  return true;
}

void LocalServer::UnregisterAll() {
  std::map<Key, Entry> removed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    removed.swap(objects_);
  }
  // Every object hears of its removal even when an earlier one fails; the
  // first failure is passed on afterwards.
  std::exception_ptr failure;
  for (auto& entry : removed) {
    try {
      entry.second.impl->_Unregistered();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  removed.clear();
  if (failure) std::rethrow_exception(failure);
}

Basekit::Ref<ManagedObject> LocalServer::Find(MoRef* ref) const {
  if (!ref) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = objects_.find(Key(ref->GetType(), ref->GetId()));
  return it == objects_.end() ? nullptr : it->second.impl;
}

std::size_t LocalServer::GetCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return objects_.size();
}

// ---------------------------------------------------------------------------
// Calling an implementation

namespace {

thread_local RequestContext* tCurrentContext = nullptr;
// True on the worker threads of the pool below.
thread_local bool tOnWorker = false;

// Makes context the current one for the life of the scope.
class ContextScope {
 public:
  explicit ContextScope(RequestContext* context) : saved_(tCurrentContext) {
    tCurrentContext = context;
  }
  ~ContextScope() { tCurrentContext = saved_; }
  ContextScope(const ContextScope&) = delete;
  ContextScope& operator=(const ContextScope&) = delete;

 private:
  RequestContext* saved_;
};

// Throws fault, as its class's Exception, with one message: a key naming the
// condition and its text.
template <class F>
[[noreturn]] void ThrowFault(F* fault, const char* key, const std::string& text) {
  Basekit::Ref<F> hold(fault);
  Basekit::Ref<LocalizableMessage> message = new LocalizableMessage(key);
  message->SetMessage(text);
  fault->GetOrCreateFaultMessage()->Append(message.Get());
  throw typename F::Exception(fault);
}

void InvokeLocal(LocalServer* server, MoRef* ref, ManagedMethod* method,
                 Basekit::RefVector<Any>& args, RequestContext* context,
                 Basekit::Ref<Any>& result) {
  if (!method) throw Basekit::Exception("LocalStubAdapter: invoke without a method");
  Basekit::Ref<ManagedObject> impl = server->Find(ref);
  if (!impl) {
    auto* fault = new Fault::ManagedObjectNotFound;
    Basekit::Ref<Fault::ManagedObjectNotFound> hold(fault);
    fault->SetObj(ref);
    ThrowFault(fault, "movel.local.objectNotFound",
               (ref ? ref->ToString() : std::string("null reference")) + " is not registered");
  }
  const ManagedObjectType* owner = method->GetOwner();
  const ManagedObjectType* type = impl->_GetType();
  if (!owner || !type || !type->IsA(owner)) {
    ThrowFault(new Fault::NotSupported, "movel.local.methodNotSupported",
               method->GetFullName() + " is not a method of " +
                   (type ? type->GetName() : std::string("an untyped object")));
  }
  const ManagedTypeInfo* record = owner->GetRecord();
  DispatchFn dispatch = record ? record->dispatch : nullptr;
  if (!dispatch) {
    ThrowFault(new Fault::NotSupported, "movel.local.noDispatch",
               owner->GetName() + " has no dispatch function");
  }
  ContextScope scope(context);
  result = nullptr;
  dispatch(impl.Get(), method->GetIndex(), args, result);
}

}  // namespace

// ---------------------------------------------------------------------------
// Asynchronous calls
//
// Each adapter has a lane: its queue of calls and the count of its calls on
// workers. Workers take calls lane by lane in turn, and a lane has at most
// kPerLane calls running at once, so slow calls of one adapter occupy at most
// that many workers and every other adapter keeps moving: when every worker
// is busy, a new worker is started for a lane that has nothing running, up
// to kMaxThreads.

namespace {
struct AsyncCall;
}  // namespace

namespace detail {

struct PendingCalls {
  // Guarded by mutex: what Shutdown waits on.
  std::mutex mutex;
  std::condition_variable idle;
  int count = 0;  // queued and running calls
  bool closed = false;
  std::size_t maxQueued = 0;

  // Guarded by the pool's mutex.
  std::deque<std::unique_ptr<AsyncCall>> queue;
  int running = 0;
  bool listed = false;  // in the pool's list of lanes with queued calls

  void Finish() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      --count;
    }
    idle.notify_all();
  }
};

}  // namespace detail

namespace {

using Lane = std::shared_ptr<detail::PendingCalls>;

// One asynchronous call. Holds everything it uses, the adapter excepted.
struct AsyncCall {
  Lane pending;
  Basekit::Ref<LocalServer> server;
  Basekit::Ref<MoRef> ref;
  ManagedMethod* method;
  Basekit::RefVector<Any> args;
  Basekit::Ref<RequestContext> context;
  Completion callback;
  Basekit::Ref<Basekit::System::ScheduledItem> item;
};

void RunCall(AsyncCall& call) {
  detail::CompleteCall(call.callback, call.item.Get(), [&call](Basekit::Ref<Any>& result) {
    InvokeLocal(call.server.Get(), call.ref.Get(), call.method, call.args, call.context.Get(),
                result);
  });
}

// Completes queued calls that will not run: their callbacks get the
// RequestCanceled fault, their items are marked done.
void CancelCalls(std::deque<std::unique_ptr<AsyncCall>>& calls, const char* why) {
  for (auto& call : calls) {
    try {
      Basekit::Ref<Fault::RequestCanceled> fault = new Fault::RequestCanceled;
      Basekit::Ref<LocalizableMessage> message = new LocalizableMessage("movel.local.canceled");
      message->SetMessage(why);
      fault->GetOrCreateFaultMessage()->Append(message.Get());
      Fault::RequestCanceled::Exception canceled(fault.Get());
      detail::Deliver(call->callback, call->item.Get(), &canceled, nullptr);
    } catch (...) {
      // No memory for the fault: the item is still marked done below.
    }
    call->item->MarkDone();
    call->pending->Finish();
    call.reset();
  }
  calls.clear();
}

// Set once the pool below is destroyed (at process exit): adapters that go
// away later find their calls canceled already and must not reach the pool.
std::atomic<bool> gPoolGone{false};

// The worker threads of every LocalStubAdapter, started on demand. At
// process exit, queued calls are canceled and running ones awaited.
class WorkerPool {
 public:
  static constexpr std::size_t kMinThreads = 2;
  static constexpr std::size_t kMaxThreads = 16;
  static constexpr int kPerLane = 2;

  static WorkerPool& Get() {
    static WorkerPool pool;
    return pool;
  }

  WorkerPool() = default;
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  ~WorkerPool() {
    std::deque<std::unique_ptr<AsyncCall>> queued;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      for (const Lane& lane : lanes_) {
        for (auto& call : lane->queue) queued.push_back(std::move(call));
        lane->queue.clear();
        lane->listed = false;
      }
      lanes_.clear();
    }
    wake_.notify_all();
    gPoolGone = true;
    CancelCalls(queued, "the process is exiting");
    for (std::thread& t : threads_) {
      // exit() called from a callback runs this on a worker, which cannot
      // join itself; it is on its way out of the process anyway.
      if (t.get_id() == std::this_thread::get_id()) {
        t.detach();
      } else {
        t.join();
      }
    }
  }

  // Queues call on its lane. Throws when the pool is stopping, the lane's
  // queue is full or no thread can be started; call is untouched then.
  void Submit(std::unique_ptr<AsyncCall>& call) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) throw Basekit::Exception("LocalStubAdapter: the process is shutting down");
      const Lane& lane = call->pending;
      if (lane->queue.size() >= lane->maxQueued) {
        throw Basekit::Exception("LocalStubAdapter: " + std::to_string(lane->queue.size()) +
                                 " asynchronous calls are queued already, the most this adapter "
                                 "queues; the call was not started");
      }
      // A lane with nothing running gets a worker of its own when every
      // worker is busy, so it does not wait behind other lanes' calls.
      const bool wantWorker = threads_.size() < kMinThreads ||
                              (idle_ == 0 && lane->running == 0 && threads_.size() < kMaxThreads);
      if (wantWorker) threads_.emplace_back([this] { Run(); });
      lane->queue.push_back(std::move(call));
      if (!lane->listed) {
        lane->listed = true;
        lanes_.push_back(lane);
      }
    }
    wake_.notify_one();
  }

  // Takes the queued calls of lane out of the pool.
  std::deque<std::unique_ptr<AsyncCall>> Withdraw(const Lane& lane) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::deque<std::unique_ptr<AsyncCall>> queued;
    queued.swap(lane->queue);
    if (lane->listed) {
      lane->listed = false;
      lanes_.erase(std::find(lanes_.begin(), lanes_.end(), lane));
    }
    return queued;
  }

 private:
  // The next call of the first lane, in turn, that may run one more; the
  // lane goes to the back of the list. Null when none may.
  std::unique_ptr<AsyncCall> PickLocked() {
    for (auto it = lanes_.begin(); it != lanes_.end(); ++it) {
      Lane lane = *it;
      if (lane->running >= kPerLane) continue;
      std::unique_ptr<AsyncCall> call = std::move(lane->queue.front());
      lane->queue.pop_front();
      ++lane->running;
      lanes_.erase(it);
      if (lane->queue.empty()) {
        lane->listed = false;
      } else {
        lanes_.push_back(std::move(lane));
      }
      return call;
    }
    return nullptr;
  }

  void Run() {
    tOnWorker = true;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      std::unique_ptr<AsyncCall> call;
      ++idle_;
      wake_.wait(lock, [&] { return stopping_ || (call = PickLocked()) != nullptr; });
      --idle_;
      if (!call) return;  // stopping
      lock.unlock();
      Lane lane = call->pending;
      RunCall(*call);
      call->pending->Finish();
      // Dropping the call's references may destroy objects (the server, the
      // arguments, whatever the callback captured): none of that reaches the
      // adapter.
      call.reset();
      lock.lock();
      --lane->running;
      // The lane may run another call now; let a waiting worker look.
      if (!lane->queue.empty()) wake_.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Lane> lanes_;  // lanes with queued calls, in turn
  std::vector<std::thread> threads_;
  std::size_t idle_ = 0;
  bool stopping_ = false;
};

}  // namespace

LocalStubAdapter::LocalStubAdapter(LocalServer* server, std::size_t maxQueued)
    : server_(server), pending_(std::make_shared<detail::PendingCalls>()) {
  if (!server) throw Basekit::Exception("LocalStubAdapter: needs a server");
  if (maxQueued == 0) throw Basekit::Exception("LocalStubAdapter: needs room for a queued call");
  pending_->maxQueued = maxQueued;
}

LocalStubAdapter::~LocalStubAdapter() { Shutdown(); }

void LocalStubAdapter::Invoke(MoRef* ref, ManagedMethod* method, Basekit::RefVector<Any>& args,
                              RequestContext* context, Basekit::Ref<Any>& result) {
  InvokeLocal(server_.Get(), ref, method, args, context, result);
}

void LocalStubAdapter::StartInvoke(MoRef* ref, ManagedMethod* method,
                                   Basekit::RefVector<Any>& args, RequestContext* context,
                                   const Completion& callback,
                                   Basekit::Ref<Basekit::System::ScheduledItem>& item) {
  auto call = std::make_unique<AsyncCall>();
  call->pending = pending_;
  call->server = server_;
  call->ref = ref;
  call->method = method;
  call->args = args;  // shares the argument objects
  call->context = context;
  call->callback = callback;
  call->item = new Basekit::System::ScheduledItem;
  {
    std::lock_guard<std::mutex> lock(pending_->mutex);
    if (pending_->closed) {
      throw Basekit::Exception("LocalStubAdapter: shut down, no further asynchronous calls");
    }
    ++pending_->count;
  }
  // Stored before the call is queued, so that a callback may read the
  // caller's handle.
  item = call->item;
  try {
    WorkerPool::Get().Submit(call);
  } catch (...) {
    item = nullptr;
    pending_->Finish();
    throw;
  }
}

void LocalStubAdapter::Shutdown() {
  bool anyCalls = false;
  {
    std::lock_guard<std::mutex> lock(pending_->mutex);
    pending_->closed = true;
    anyCalls = pending_->count > 0;
  }
  // Calls still queued will not run: they complete at once, canceled.
  if (anyCalls && !gPoolGone) {
    std::deque<std::unique_ptr<AsyncCall>> queued = WorkerPool::Get().Withdraw(pending_);
    CancelCalls(queued, "the adapter was shut down before the call started");
  }
  // A worker must not wait for running calls here: one of them may be the
  // very call that is waiting. Calls do not use the adapter, so leaving them
  // to finish on their own is safe.
  if (tOnWorker) return;
  std::unique_lock<std::mutex> lock(pending_->mutex);
  pending_->idle.wait(lock, [this] { return pending_->count == 0; });
}

RequestContext* LocalStubAdapter::GetCurrentRequestContext() { return tCurrentContext; }

}  // namespace Movel
