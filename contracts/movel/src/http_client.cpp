// The HTTP stub adapter: requests POSTed on a pool of kept-alive
// connections, asynchronous calls on the adapter's own threads.
#include <httplib.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "completion.h"
#include "http_internal.h"
#include "movel/data_types.h"
#include "movel/fault.h"
#include "movel/http.h"

namespace Movel {

const char* const kHttpSessionCookie = "korSession";
const char* const kHttpVersionHeader = "X-Kor-Version";
const char* const kHttpContextHeader = "X-Kor-Context";
const char* const kSessionContextKey = "sessionId";

namespace {

// Throws fault, with one message naming the condition, as its Exception.
template <class F>
[[noreturn]] void ThrowWithMessage(F* fault, const char* key, const std::string& text) {
  Basekit::Ref<F> hold(fault);
  Basekit::Ref<LocalizableMessage> message = new LocalizableMessage(key);
  message->SetMessage(text);
  fault->GetOrCreateFaultMessage()->Append(message.Get());
  throw typename F::Exception(fault);
}

[[noreturn]] void ThrowTransport(const std::string& reason) {
  ThrowWithMessage(new Fault::SystemError(reason), "movel.http.transport", reason);
}

struct AsyncCall {
  Basekit::Ref<MoRef> ref;
  ManagedMethod* method = nullptr;
  Basekit::RefVector<Any> args;
  Basekit::Ref<RequestContext> context;
  Completion callback;
  Basekit::Ref<Basekit::System::ScheduledItem> item;
};

// The adapter core whose thread this is, null on other threads.
thread_local const void* tWorkerOf = nullptr;

}  // namespace

namespace detail {

struct HttpClientCore : std::enable_shared_from_this<HttpClientCore> {
  http::Url url;
  HttpClientOptions options;

  // Idle kept-alive connections, and how many exist in all.
  std::mutex poolMutex;
  std::condition_variable poolFree;
  std::vector<std::unique_ptr<httplib::Client>> idle;
  std::size_t open = 0;

  mutable std::mutex sessionMutex;
  std::string session;

  // Asynchronous calls.
  std::mutex asyncMutex;
  std::condition_variable wake;      // a call was queued, or closing
  std::condition_variable finished;  // count went down
  std::deque<std::unique_ptr<AsyncCall>> queue;
  std::vector<std::thread> threads;
  std::size_t idleThreads = 0;
  std::size_t count = 0;  // queued and running
  bool closed = false;

  std::unique_ptr<httplib::Client> Acquire() {
    std::unique_lock<std::mutex> lock(poolMutex);
    poolFree.wait(lock, [&] { return !idle.empty() || open < options.maxConnections; });
    if (!idle.empty()) {
      std::unique_ptr<httplib::Client> client = std::move(idle.back());
      idle.pop_back();
      return client;
    }
    ++open;
    lock.unlock();
    try {
      auto client = std::make_unique<httplib::Client>(url.host, url.port);
      using std::chrono::duration_cast;
      using std::chrono::microseconds;
      auto split = [](std::chrono::milliseconds ms) {
        auto us = duration_cast<microseconds>(ms).count();
        return std::make_pair(static_cast<time_t>(us / 1000000), static_cast<time_t>(us % 1000000));
      };
      auto c = split(options.connectTimeout);
      auto r = split(options.readTimeout);
      client->set_connection_timeout(c.first, c.second);
      client->set_read_timeout(r.first, r.second);
      client->set_write_timeout(r.first, r.second);
      client->set_keep_alive(true);
      client->set_tcp_nodelay(true);
      return client;
    } catch (...) {
      Release(nullptr);
      throw;
    }
  }

  // Puts client back for reuse; null gives its place up.
  void Release(std::unique_ptr<httplib::Client> client) {
    {
      std::lock_guard<std::mutex> lock(poolMutex);
      if (client) {
        idle.push_back(std::move(client));
      } else {
        --open;
      }
    }
    poolFree.notify_one();
  }

  httplib::Headers Headers(RequestContext* context) const {
    httplib::Headers headers;
    {
      std::lock_guard<std::mutex> lock(sessionMutex);
      if (!session.empty()) {
        headers.emplace("Cookie", std::string(kHttpSessionCookie) + "=" + session);
      }
    }
    if (options.version) headers.emplace(kHttpVersionHeader, options.version->GetName());
    if (context) {
      std::vector<std::pair<std::string, std::string>> entries;
      for (const std::string& key : context->Keys()) {
        Basekit::Optional<std::string> value = context->Get(key);
        if (value.IsSet()) entries.emplace_back(key, value.GetValue());
      }
      if (!entries.empty()) headers.emplace(kHttpContextHeader, http::EncodeContext(entries));
    }
    return headers;
  }

  void TakeSession(const httplib::Response& response) {
    for (std::size_t i = 0, n = response.get_header_value_count("Set-Cookie"); i < n; ++i) {
      std::string value;
      if (http::FindCookie(response.get_header_value("Set-Cookie", i), kHttpSessionCookie,
                           &value, true)) {
        std::lock_guard<std::mutex> lock(sessionMutex);
        session = value;
      }
    }
  }

  Basekit::Ref<Any> Call(MoRef* ref, ManagedMethod* method, Basekit::RefVector<Any>& args,
                         RequestContext* context) {
    if (!method) throw Basekit::Exception("HttpStubAdapter: invoke without a method");
    // A client of an older version sends only what that version has; a
    // method newer than it fails here, before anything is sent.
    EncodeOptions encode;
    encode.peerVersion = options.version;
    const std::string body = EncodeRequest(options.format, ref, method, args, encode);
    const char* contentType = http::ContentType(options.format);
    const httplib::Headers headers = Headers(context);

    std::unique_ptr<httplib::Client> client = Acquire();
    httplib::Result answer = client->Post(url.path.c_str(), headers, body, contentType);
    if (!answer) {
      // The connection is in an unknown state: drop it.
      client.reset();
      Release(nullptr);
      ThrowTransport("POST " + url.text + " failed: " + httplib::to_string(answer.error()));
    }
    Release(std::move(client));
    const httplib::Response& response = answer.value();
    TakeSession(response);

    DecodeOptions decode;
    decode.version = options.version;
    decode.limits = options.limits;
    const int status = response.status;
    if (status == 200) return DecodeResponse(options.format, response.body, method, decode);
    bool isFault = false;
    try {
      isFault = !response.body.empty() && IsFaultDocument(options.format, response.body);
    } catch (const std::exception&) {
      isFault = false;
    }
    if (isFault) {
      Basekit::Ref<MethodFault> fault = DecodeFault(options.format, response.body, decode);
      fault->Throw();
    }
    ThrowTransport("POST " + url.text + " answered HTTP " + std::to_string(status) +
                   " without a fault document");
  }

  // ---- asynchronous calls ----

  void Submit(std::unique_ptr<AsyncCall>& call) {
    std::lock_guard<std::mutex> lock(asyncMutex);
    if (closed) throw Basekit::Exception("HttpStubAdapter: shut down, no further asynchronous calls");
    if (queue.size() >= options.maxQueued) {
      throw Basekit::Exception("HttpStubAdapter: " + std::to_string(queue.size()) +
                               " asynchronous calls are queued already, the most this adapter "
                               "queues; the call was not started");
    }
    if (idleThreads == 0 && threads.size() < options.asyncThreads) {
      std::shared_ptr<HttpClientCore> self = shared_from_this();
      threads.emplace_back([self] { self->Run(); });
    }
    queue.push_back(std::move(call));
    ++count;
    wake.notify_one();
  }

  void RunCall(AsyncCall& call) {
    detail::CompleteCall(call.callback, call.item.Get(), [&](Basekit::Ref<Any>& result) {
      result = Call(call.ref.Get(), call.method, call.args, call.context.Get());
    });
  }

  void Run() {
    tWorkerOf = this;
    std::unique_lock<std::mutex> lock(asyncMutex);
    for (;;) {
      ++idleThreads;
      wake.wait(lock, [&] { return closed || !queue.empty(); });
      --idleThreads;
      if (queue.empty()) break;  // closed
      std::unique_ptr<AsyncCall> call = std::move(queue.front());
      queue.pop_front();
      lock.unlock();
      RunCall(*call);
      // Dropping the call's references may run the caller's destructors,
      // the adapter's included; the core stays alive through this thread.
      call.reset();
      lock.lock();
      --count;
      finished.notify_all();
    }
  }

  void Shutdown() {
    std::deque<std::unique_ptr<AsyncCall>> canceled;
    std::vector<std::thread> toJoin;
    const bool onWorker = tWorkerOf == this;
    {
      std::lock_guard<std::mutex> lock(asyncMutex);
      closed = true;
      canceled.swap(queue);
      if (onWorker) {
        // This thread cannot join itself, nor wait for the call it runs:
        // the threads end on their own once their calls are done.
        for (std::thread& t : threads) t.detach();
        threads.clear();
      } else {
        toJoin.swap(threads);
      }
    }
    wake.notify_all();
    for (auto& call : canceled) {
      try {
        Basekit::Ref<Fault::RequestCanceled> fault = new Fault::RequestCanceled;
        Basekit::Ref<LocalizableMessage> message = new LocalizableMessage("movel.http.canceled");
        message->SetMessage("the adapter was shut down before the call started");
        fault->GetOrCreateFaultMessage()->Append(message.Get());
        Fault::RequestCanceled::Exception e(fault.Get());
        detail::Deliver(call->callback, call->item.Get(), &e, nullptr);
      } catch (...) {
        // No memory for the fault: the item is still marked done.
      }
      call->item->MarkDone();
      call.reset();
      std::lock_guard<std::mutex> lock(asyncMutex);
      --count;
    }
    finished.notify_all();
    for (std::thread& t : toJoin) t.join();
  }
};

}  // namespace detail

HttpStubAdapter::HttpStubAdapter(const std::string& url, const HttpClientOptions& options)
    : url_(url), core_(std::make_shared<detail::HttpClientCore>()) {
  std::string error;
  if (!http::ParseUrl(url, &core_->url, &error)) {
    throw Basekit::Exception("HttpStubAdapter: " + error);
  }
  if (options.maxConnections == 0 || options.asyncThreads == 0 || options.maxQueued == 0) {
    throw Basekit::Exception(
        "HttpStubAdapter: maxConnections, asyncThreads and maxQueued must be at least 1");
  }
  core_->options = options;
}

HttpStubAdapter::~HttpStubAdapter() { Shutdown(); }

std::string HttpStubAdapter::GetSessionId() const {
  std::lock_guard<std::mutex> lock(core_->sessionMutex);
  return core_->session;
}

void HttpStubAdapter::Invoke(MoRef* ref, ManagedMethod* method, Basekit::RefVector<Any>& args,
                             RequestContext* context, Basekit::Ref<Any>& result) {
  result = core_->Call(ref, method, args, context);
}

void HttpStubAdapter::StartInvoke(MoRef* ref, ManagedMethod* method,
                                  Basekit::RefVector<Any>& args, RequestContext* context,
                                  const Completion& callback,
                                  Basekit::Ref<Basekit::System::ScheduledItem>& item) {
  auto call = std::make_unique<AsyncCall>();
  call->ref = ref;
  call->method = method;
  call->args = args;
  // A copy: the caller may change its context while the call waits.
  if (context) call->context = new RequestContext(*context);
  call->callback = callback;
  call->item = new Basekit::System::ScheduledItem;
  // Stored before the call is queued, so that a callback may read it.
  item = call->item;
  try {
    core_->Submit(call);
  } catch (...) {
    item = nullptr;
    throw;
  }
}

void HttpStubAdapter::Shutdown() { core_->Shutdown(); }

}  // namespace Movel
