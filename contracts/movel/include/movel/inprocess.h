// Serving managed objects inside the process: a table of implementations and
// an adapter that lets stubs call them directly.
//
// Useful for tests, and for serving objects of a process to code of the same
// process through the very interfaces a remote client uses.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "basekit/object.h"
#include "basekit/ref.h"
#include "movel/export.h"
#include "movel/managed_object.h"
#include "movel/moref.h"
#include "movel/stub.h"

namespace Movel {
namespace detail {
struct PendingCalls;
}  // namespace detail

// The implementations a server offers, by reference. Safe to use from several
// threads.
class MOVEL_API LocalServer : public Basekit::ObjectImpl {
 public:
  LocalServer();
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  // Offers impl under the reference (impl->_GetType(), id), takes a reference
  // on impl, binds the reference to impl (see ManagedObject::_BindRef) and
  // returns it. Throws Basekit::Exception when impl is null or has no type,
  // when id is empty, when the reference is taken already, or when impl is
  // bound to another reference.
  Basekit::Ref<MoRef> Register(ManagedObject* impl, const std::string& id);
  // Withdraws the object ref names, calls its _Unregistered() and releases
  // it. False when nothing is registered under ref.
  bool Unregister(MoRef* ref);
  // Withdraws every object, as Unregister does. The destructor does this.
  void UnregisterAll();
  // The implementation registered under ref (same type and id), or null.
  Basekit::Ref<ManagedObject> Find(MoRef* ref) const;
  std::size_t GetCount() const;

 protected:
  ~LocalServer() override;

 private:
  using Key = std::pair<const ManagedObjectType*, std::string>;
  struct Entry {
    Basekit::Ref<MoRef> ref;
    Basekit::Ref<ManagedObject> impl;
  };

  mutable std::mutex mutex_;
  std::map<Key, Entry> objects_;
};

// Calls objects of a LocalServer. Invoke runs the implementation on the
// calling thread through the dispatch function of the type declaring the
// method; StartInvoke runs it on a worker thread.
//
// Worker threads: asynchronous calls of every adapter share a pool of
// threads of the library, started on demand (at most 16) and joined at
// process exit. Each adapter's calls wait in its own queue, the adapters take
// turns, and at most two calls of one adapter run at once, so slow calls of
// one adapter never hold up another's. At process exit, calls still queued
// are canceled (see Shutdown) and running ones awaited.
class MOVEL_API LocalStubAdapter : public StubAdapter {
 public:
  // At most kDefaultMaxQueued asynchronous calls wait in the adapter's queue
  // unless maxQueued says otherwise (at least 1).
  static constexpr std::size_t kDefaultMaxQueued = 10000;
  explicit LocalStubAdapter(LocalServer* server, std::size_t maxQueued = kDefaultMaxQueued);
  LocalStubAdapter(const LocalStubAdapter&) = delete;
  LocalStubAdapter& operator=(const LocalStubAdapter&) = delete;

  LocalServer* GetServer() const noexcept { return server_.Get(); }

  // Throws, as the Exception of the fault:
  //  - Fault::ManagedObjectNotFound (obj set to ref) for an unknown or null
  //    reference;
  //  - Fault::NotSupported when the object's type does not have the method,
  //    or the declaring type has no dispatch function.
  // Whatever the implementation throws reaches the caller unchanged. A null
  // method throws Basekit::Exception.
  void Invoke(MoRef* ref, ManagedMethod* method, Basekit::RefVector<Any>& args,
              RequestContext* context, Basekit::Ref<Any>& result) override;
  // Queues the call for a worker and returns. Throws Basekit::Exception when
  // the adapter is shut down or its queue is full. The worker calls callback with the outcome:
  // Basekit::Exception and derived classes as caught, other std::exception
  // wrapped in a Basekit::Exception with the same text. An exception thrown
  // by the callback is dropped (it has nobody to go to) and the worker
  // carries on. The item is marked done after the callback returns.
  void StartInvoke(MoRef* ref, ManagedMethod* method, Basekit::RefVector<Any>& args,
                   RequestContext* context, const Completion& callback,
                   Basekit::Ref<Basekit::System::ScheduledItem>& item) override;

  // Refuses further asynchronous calls, cancels those still queued (their
  // callbacks get Fault::RequestCanceled, their items are marked done) and
  // waits for those running to finish, callbacks included. Synchronous calls
  // keep working. The destructor calls it. On a worker thread (in a
  // callback, or in an implementation called asynchronously) it does not
  // wait: the running calls finish on their own; they do not use the
  // adapter.
  void Shutdown();

  // While an implementation runs under one of these adapters, the context
  // of the call (may be null); null outside calls.
  static RequestContext* GetCurrentRequestContext();

 protected:
  ~LocalStubAdapter() override;

 private:
  const Basekit::Ref<LocalServer> server_;
  // Counts this adapter's queued and running asynchronous calls. Calls hold
  // it by shared pointer, so a call never touches the adapter itself and the
  // adapter may go away from inside a callback.
  const std::shared_ptr<detail::PendingCalls> pending_;
};

}  // namespace Movel
