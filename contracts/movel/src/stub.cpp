// Stubs, the adapter interface, request contexts, and the reference binding
// of managed objects.
#include "movel/stub.h"

#include <utility>

#include "movel/managed_object.h"

namespace Movel {

// ---------------------------------------------------------------------------
// ManagedObject

bool ManagedObject::_BindRef(MoRef* ref) { return boundRef_.Bind(ref); }

ManagedObject::BoundRef::~BoundRef() {
  MoRef* ref = ref_.load(std::memory_order_acquire);
  if (ref) ref->DecRef();
}

bool ManagedObject::BoundRef::Bind(MoRef* ref) {
  if (!ref) return false;
  MoRef* expected = nullptr;
  ref->IncRef();
  if (ref_.compare_exchange_strong(expected, ref, std::memory_order_acq_rel)) return true;
  ref->DecRef();
  // Bound already (expected now holds the bound reference, which is never
  // replaced, so it stays valid while the object lives).
  return *expected == *ref;
}

// ---------------------------------------------------------------------------
// Stub

Stub::~Stub() = default;

namespace {

StubAdapter* RequireAdapter(StubAdapter* adapter) {
  if (!adapter) throw Basekit::Exception("a stub needs an adapter");
  return adapter;
}

MoRef* RequireRef(MoRef* ref) {
  if (!ref) throw Basekit::Exception("a stub needs a managed object reference");
  return ref;
}

}  // namespace

StubImpl::StubImpl(MoRef* ref, StubAdapter* adapter, RequestContext* context)
    : ref_(RequireRef(ref)), adapter_(RequireAdapter(adapter)), context_(context) {
  ref->IncRef();
}

StubImpl::StubImpl(const std::string& id, StubAdapter* adapter, RequestContext* context)
    : ref_(nullptr), pendingId_(id), adapter_(RequireAdapter(adapter)), context_(context) {}

StubImpl::~StubImpl() {
  MoRef* ref = ref_.load(std::memory_order_acquire);
  if (ref) ref->DecRef();
}

MoRef* StubImpl::CurrentRef() const {
  MoRef* ref = ref_.load(std::memory_order_acquire);
  if (ref) return ref;
  ManagedObjectType* type = _GetType();
  if (!type) {
    throw Basekit::Exception("cannot make the reference of stub \"" + pendingId_ +
                             "\": its managed type is not registered");
  }
  Basekit::Ref<MoRef> made = MakeMoRef(type, pendingId_);
  MoRef* expected = nullptr;
  if (ref_.compare_exchange_strong(expected, made.Get(), std::memory_order_acq_rel)) {
    return made.Release();  // ref_ owns the reference now
  }
  return expected;  // another thread made it first; ours is dropped
}

Basekit::Ref<RequestContext> StubImpl::CurrentContext() const {
  std::lock_guard<std::mutex> lock(contextMutex_);
  return context_;
}

void StubImpl::InvokeNow(ManagedMethod* method, Basekit::RefVector<Any>& args,
                         Basekit::Ref<Any>& result) {
  Basekit::Ref<RequestContext> context = CurrentContext();
  adapter_->Invoke(_GetRef(), method, args, context.Get(), result);
}

void StubImpl::_Invoke_Task(ManagedMethod* method, Basekit::RefVector<Any>& args) {
  Basekit::Ref<Any> ignored;
  _Invoke_Task(method, args, ignored);
}

void StubImpl::StartInvokeNow(ManagedMethod* method, Basekit::RefVector<Any>& args,
                              const Completion& callback,
                              Basekit::Ref<Basekit::System::ScheduledItem>& item) {
  Basekit::Ref<RequestContext> context = CurrentContext();
  adapter_->StartInvoke(_GetRef(), method, args, context.Get(), callback, item);
}

RequestContext* StubImpl::PeekContext() const {
  std::lock_guard<std::mutex> lock(contextMutex_);
  return context_.Get();
}

void StubImpl::ReplaceContext(RequestContext* context) {
  Basekit::Ref<RequestContext> old;
  {
    std::lock_guard<std::mutex> lock(contextMutex_);
    old = std::move(context_);
    context_ = context;
  }
  // old is released here, outside the lock.
}

// ---------------------------------------------------------------------------
// StubAdapter

StubAdapter::~StubAdapter() = default;

// ---------------------------------------------------------------------------
// RequestContext

RequestContext::RequestContext() = default;

RequestContext::RequestContext(const RequestContext& other) : Basekit::Object(), ObjectImpl() {
  std::lock_guard<std::mutex> lock(other.mutex_);
  values_ = other.values_;
}

RequestContext::~RequestContext() = default;

Basekit::Optional<std::string> RequestContext::Get(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return {};
  return it->second;
}

void RequestContext::Set(const std::string& key, const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_[key] = value;
}

bool RequestContext::Erase(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  return values_.erase(key) > 0;
}

std::vector<std::string> RequestContext::Keys() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> keys;
  keys.reserve(values_.size());
  for (const auto& entry : values_) keys.push_back(entry.first);
  return keys;
}

}  // namespace Movel
