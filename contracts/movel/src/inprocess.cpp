// The in-process server and its adapter.
#include "movel/inprocess.h"

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

namespace detail {

struct PendingCalls {
  std::mutex mutex;
  std::condition_variable idle;
  int count = 0;
  bool closed = false;

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

// One asynchronous call. Holds everything it uses, the adapter excepted.
struct AsyncCall {
  std::shared_ptr<detail::PendingCalls> pending;
  Basekit::Ref<LocalServer> server;
  Basekit::Ref<MoRef> ref;
  ManagedMethod* method;
  Basekit::RefVector<Any> args;
  Basekit::Ref<RequestContext> context;
  Completion callback;
  Basekit::Ref<Basekit::System::ScheduledItem> item;
};

void Deliver(const Completion& callback, Basekit::System::ScheduledItem* item,
             Basekit::Exception* error, Any* result) {
  if (!callback) return;
  try {
    callback(item, error, result);
  } catch (...) {
    // The caller has gone on and nobody else awaits the callback's outcome;
    // dropping the exception keeps the worker, and every later call, alive.
  }
}

void RunCall(AsyncCall& call) {
  Basekit::System::ScheduledItem* item = call.item.Get();
  Basekit::Ref<Any> result;
  bool failed = true;
  try {
    InvokeLocal(call.server.Get(), call.ref.Get(), call.method, call.args, call.context.Get(),
                result);
    failed = false;
  } catch (Basekit::Exception& e) {
    Deliver(call.callback, item, &e, nullptr);
  } catch (const std::exception& e) {
    Basekit::Exception wrapped(e.what());
    Deliver(call.callback, item, &wrapped, nullptr);
  } catch (...) {
    Basekit::Exception wrapped("unknown exception");
    Deliver(call.callback, item, &wrapped, nullptr);
  }
  if (!failed) Deliver(call.callback, item, nullptr, result.Get());
  item->MarkDone();
}

// The worker threads of every LocalStubAdapter: two threads started on first
// use. Joined when the library's statics are destroyed, after running what is
// still queued.
class WorkerPool {
 public:
  static WorkerPool& Get() {
    static WorkerPool pool;
    return pool;
  }

  WorkerPool() = default;
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  ~WorkerPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
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

  // Queues call. Throws when the pool is stopping or no thread can be
  // started; call is untouched then.
  void Submit(std::unique_ptr<AsyncCall>& call) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) throw Basekit::Exception("LocalStubAdapter: the process is shutting down");
      while (threads_.size() < kThreads) threads_.emplace_back([this] { Run(); });
      queue_.push_back(std::move(call));
    }
    wake_.notify_one();
  }

 private:
  static constexpr std::size_t kThreads = 2;

  void Run() {
    tOnWorker = true;
    for (;;) {
      std::unique_ptr<AsyncCall> call;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        call = std::move(queue_.front());
        queue_.pop_front();
      }
      RunCall(*call);
      call->pending->Finish();
      // Dropping the call's references may destroy objects (the server, the
      // arguments, whatever the callback captured): none of that reaches the
      // adapter.
      call.reset();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::unique_ptr<AsyncCall>> queue_;
  std::vector<std::thread> threads_;
  bool stopping_ = false;
};

}  // namespace

LocalStubAdapter::LocalStubAdapter(LocalServer* server)
    : server_(server), pending_(std::make_shared<detail::PendingCalls>()) {
  if (!server) throw Basekit::Exception("LocalStubAdapter: needs a server");
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
  std::unique_lock<std::mutex> lock(pending_->mutex);
  pending_->closed = true;
  // A worker must not wait here: the calls awaited may be queued behind the
  // very call that is waiting. Calls do not use the adapter, so leaving them
  // to finish on their own is safe.
  if (tOnWorker) return;
  pending_->idle.wait(lock, [this] { return pending_->count == 0; });
}

RequestContext* LocalStubAdapter::GetCurrentRequestContext() { return tCurrentContext; }

}  // namespace Movel
