// Client-side proxies of managed objects, and the transport they call
// through.
//
// A stub implements a managed interface by packing each call into a method
// object plus a vector of boxed arguments and handing it to its StubAdapter,
// which carries it to wherever the object lives (a remote server, or a
// LocalServer in the same process) and returns the boxed result or throws the
// fault the object raised.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "basekit/functor.h"
#include "basekit/object.h"
#include "basekit/optional.h"
#include "basekit/ref.h"
#include "basekit/scheduled_item.h"
#include "basekit/throwable.h"
#include "movel/any.h"
#include "movel/export.h"
#include "movel/managed_object.h"
#include "movel/moref.h"
#include "movel/type.h"

namespace Movel {

class RequestContext;
class StubAdapter;

// Completion of an asynchronous call: (item, exception, result). Exactly one
// of exception and result describes the outcome: on failure exception points
// at the caught exception and result is null; on success exception is null
// and result is the boxed result (null for a method without one). Both
// pointers are valid only while the callback runs; take a reference on the
// result, or Clone() the exception, to keep them.
using Completion = Basekit::Functor<void, Basekit::System::ScheduledItem*, Basekit::Exception*,
                                    Any*, Basekit::Nil, Basekit::Nil, Basekit::Nil, Basekit::Nil>;

// The calling side of a stub, used by the generated stub methods.
class MOVEL_API Stub : public virtual ManagedObject {
 public:
  // Calls method on the referenced object and stores the boxed result (null
  // for a method without one). Faults raised by the object are thrown as
  // their own Exception classes.
  virtual void _Invoke(ManagedMethod* method, Basekit::RefVector<Any>& args,
                       Basekit::Ref<Any>& result) = 0;
  // The same for a task method; the result is the task's reference.
  virtual void _Invoke_Task(ManagedMethod* method, Basekit::RefVector<Any>& args,
                            Basekit::Ref<Any>& result) = 0;
  // Starts the call and returns at once; item receives the handle of the
  // call before this returns. callback runs when the call ends, possibly on
  // another thread and possibly before this returns.
  virtual void _StartInvoke(ManagedMethod* method, Basekit::RefVector<Any>& args,
                            const Completion& callback,
                            Basekit::Ref<Basekit::System::ScheduledItem>& item) = 0;
  virtual void _StartInvoke_Task(ManagedMethod* method, Basekit::RefVector<Any>& args,
                                 const Completion& callback,
                                 Basekit::Ref<Basekit::System::ScheduledItem>& item) = 0;
  virtual StubAdapter* _GetStubAdapter() const = 0;
  // The context later calls carry; may be null.
  virtual RequestContext* _GetRequestContext() const = 0;
  virtual void _SetRequestContext(RequestContext* context) = 0;

 protected:
  Stub() = default;
  ~Stub() override;
};

// The base of every generated stub class. Holds the reference, the adapter
// and the request context, and forwards every call to the adapter.
//
// A generated stub TStub derives from "public virtual T" and from its parent
// type's stub, down to StubImpl. Reference counting comes from ObjectImpl,
// _GetType from the interface.
class MOVEL_API StubImpl : public virtual Stub, public Basekit::ObjectImpl {
 public:
  // A stub for ref, which must not be null. adapter must not be null;
  // context may be.
  StubImpl(MoRef* ref, StubAdapter* adapter, RequestContext* context);
  // A stub for the object of the stub's own type with the given id. The
  // reference is made on first use, since the type is not known while the
  // stub is being constructed.
  StubImpl(const std::string& id, StubAdapter* adapter, RequestContext* context);
  StubImpl(const StubImpl&) = delete;
  StubImpl& operator=(const StubImpl&) = delete;

  // The overrides below are defined here and forward to the runtime, so that
  // the virtual tables of the generated stub classes (and of the virtual
  // bases they are built with) point into the library that holds them.

  // Throws Basekit::Exception when the reference has to be made and the
  // stub's type is not registered.
  MoRef* _GetRef() const override { return CurrentRef(); }

  void _Invoke(ManagedMethod* method, Basekit::RefVector<Any>& args,
               Basekit::Ref<Any>& result) override {
    InvokeNow(method, args, result);
  }
  void _Invoke_Task(ManagedMethod* method, Basekit::RefVector<Any>& args,
                    Basekit::Ref<Any>& result) override {
    InvokeNow(method, args, result);
  }
  void _StartInvoke(ManagedMethod* method, Basekit::RefVector<Any>& args,
                    const Completion& callback,
                    Basekit::Ref<Basekit::System::ScheduledItem>& item) override {
    StartInvokeNow(method, args, callback, item);
  }
  void _StartInvoke_Task(ManagedMethod* method, Basekit::RefVector<Any>& args,
                         const Completion& callback,
                         Basekit::Ref<Basekit::System::ScheduledItem>& item) override {
    StartInvokeNow(method, args, callback, item);
  }
  StubAdapter* _GetStubAdapter() const override { return adapter_.Get(); }
  // The returned pointer stays valid only while the context is not replaced;
  // callers that share the stub across threads should take a reference.
  RequestContext* _GetRequestContext() const override { return PeekContext(); }
  void _SetRequestContext(RequestContext* context) override { ReplaceContext(context); }

 protected:
  ~StubImpl() override;
  // Calls a task method whose reference the caller does not want.
  void _Invoke_Task(ManagedMethod* method, Basekit::RefVector<Any>& args);

 private:
  Basekit::Ref<RequestContext> CurrentContext() const;
  MoRef* CurrentRef() const;
  void InvokeNow(ManagedMethod* method, Basekit::RefVector<Any>& args, Basekit::Ref<Any>& result);
  void StartInvokeNow(ManagedMethod* method, Basekit::RefVector<Any>& args,
                      const Completion& callback,
                      Basekit::Ref<Basekit::System::ScheduledItem>& item);
  RequestContext* PeekContext() const;
  void ReplaceContext(RequestContext* context);

  mutable std::atomic<MoRef*> ref_;  // owns a reference once set
  const std::string pendingId_;      // id of a reference not made yet
  const Basekit::Ref<StubAdapter> adapter_;
  mutable std::mutex contextMutex_;
  Basekit::Ref<RequestContext> context_;
};

// Carries calls from stubs to objects. Implementations must be safe to use
// from several threads at once.
class MOVEL_API StubAdapter : public Basekit::ObjectImpl {
 public:
  // Calls method on the object ref names, on the calling thread. Stores the
  // boxed result, or throws the object's fault as its Exception class.
  virtual void Invoke(MoRef* ref, ManagedMethod* method, Basekit::RefVector<Any>& args,
                      RequestContext* context, Basekit::Ref<Any>& result) = 0;
  // Starts the call and returns; see Stub::_StartInvoke. The adapter keeps
  // what it needs of ref, args and context: the caller may drop them once
  // this returns.
  virtual void StartInvoke(MoRef* ref, ManagedMethod* method, Basekit::RefVector<Any>& args,
                           RequestContext* context, const Completion& callback,
                           Basekit::Ref<Basekit::System::ScheduledItem>& item) = 0;

 protected:
  StubAdapter() = default;
  ~StubAdapter() override;
};

// String keys and values that travel with calls ("sessionKey",
// "callerVersion", ...). Safe to use from several threads.
class MOVEL_API RequestContext : public Basekit::ObjectImpl {
 public:
  RequestContext();
  // Copies the entries; the copy starts with no reference.
  RequestContext(const RequestContext& other);
  RequestContext& operator=(const RequestContext&) = delete;

  // The value of key, unset when there is none.
  Basekit::Optional<std::string> Get(const std::string& key) const;
  void Set(const std::string& key, const std::string& value);
  // True when key was present.
  bool Erase(const std::string& key);
  // The keys, sorted.
  std::vector<std::string> Keys() const;

 protected:
  ~RequestContext() override;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::string> values_;
};

}  // namespace Movel
