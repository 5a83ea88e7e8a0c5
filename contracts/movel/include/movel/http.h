// Calls over HTTP/1.1: a stub adapter that POSTs requests to a URL, and a
// server that serves the objects of a LocalServer.
//
// One call is one POST to the service path: the body is the request document
// (movel/wire.h), XML ("text/xml") or JSON ("application/json"); the answer is
// the response document with status 200, or a fault document with status 500.
// Headers beside the body:
//   Cookie / Set-Cookie  "korSession": the session the server made on the
//                        client's first call; the client sends it back on
//                        every later call.
//   X-Kor-Version        the version the client speaks; the server leaves out
//                        of its answers what that version does not know.
//   X-Kor-Context        the entries of the call's request context, as
//                        percent-encoded key=value pairs joined by '&',
//                        the whole as base64 (URL alphabet, no padding).
//
// Connections are kept alive and reused; the server answers calls of several
// connections at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "basekit/ref.h"
#include "movel/export.h"
#include "movel/inprocess.h"
#include "movel/stub.h"
#include "movel/version.h"
#include "movel/wire.h"

namespace Movel {

// Names shared by both ends.
MOVEL_API extern const char* const kHttpSessionCookie;    // "korSession"
MOVEL_API extern const char* const kHttpVersionHeader;    // "X-Kor-Version"
MOVEL_API extern const char* const kHttpContextHeader;    // "X-Kor-Context"
// The request-context key under which the server hands implementations the
// caller's session id. A client cannot set it: the server overwrites it.
MOVEL_API extern const char* const kSessionContextKey;    // "sessionId"

struct HttpClientOptions {
  WireFormat format = WireFormat::kXml;
  // The version the client speaks: requests carry only what it has (a
  // method newer than it throws WireError kNotInVersion), the server is
  // told, and answers are decoded as it. Null speaks every version.
  const Version* version = nullptr;
  std::chrono::milliseconds connectTimeout{5000};
  // How long one call may wait for its answer (and for its request to be
  // written).
  std::chrono::milliseconds readTimeout{60000};
  // Keep-alive connections held open at most; calls beyond that wait for a
  // connection to come free.
  std::size_t maxConnections = 8;
  // Threads that run asynchronous calls (started on demand), at most.
  std::size_t asyncThreads = 8;
  // Asynchronous calls waiting for a thread, at most.
  std::size_t maxQueued = 10000;
  // Applied to every answer.
  DecodeLimits limits;
};

namespace detail {
struct HttpClientCore;
}  // namespace detail

// Calls the objects of a server at a URL ("http://127.0.0.1:8080/sdk").
//
// Invoke encodes the request, POSTs it on a kept-alive connection and
// decodes the answer: the result, or the fault the object raised, thrown as
// the fault's own Exception class. What keeps the call from reaching the
// server or its answer from arriving (no connection, a timeout, an answer
// that is not a response or fault document) is thrown as Fault::SystemError
// whose reason says what happened; a call whose answer cannot be decoded
// throws the WireError.
//
// StartInvoke keeps the contract of LocalStubAdapter: the call waits in the
// adapter's bounded queue for one of its threads; the callback runs exactly
// once, on that thread, with the outcome as Invoke would report it, and the
// item is marked done after it returns. Shutdown cancels queued calls with
// Fault::RequestCanceled and waits for running ones.
class MOVEL_API HttpStubAdapter : public StubAdapter {
 public:
  // Throws Basekit::Exception when url is not "http://HOST[:PORT][/PATH]"
  // or an option is zero where a count is needed. Connects on first use.
  explicit HttpStubAdapter(const std::string& url, const HttpClientOptions& options = {});
  HttpStubAdapter(const HttpStubAdapter&) = delete;
  HttpStubAdapter& operator=(const HttpStubAdapter&) = delete;

  const std::string& GetUrl() const noexcept { return url_; }
  // The session id the server gave, empty before the first answer.
  std::string GetSessionId() const;

  void Invoke(MoRef* ref, ManagedMethod* method, Basekit::RefVector<Any>& args,
              RequestContext* context, Basekit::Ref<Any>& result) override;
  void StartInvoke(MoRef* ref, ManagedMethod* method, Basekit::RefVector<Any>& args,
                   RequestContext* context, const Completion& callback,
                   Basekit::Ref<Basekit::System::ScheduledItem>& item) override;

  // Refuses further asynchronous calls, cancels the queued ones and waits
  // for the running ones, callbacks included (not when called from one of
  // the adapter's own threads: those calls then finish on their own).
  // Synchronous calls keep working. The destructor calls it.
  void Shutdown();

 protected:
  ~HttpStubAdapter() override;

 private:
  const std::string url_;
  // Shared with the adapter's threads, so the adapter may go away from
  // inside a callback.
  const std::shared_ptr<detail::HttpClientCore> core_;
};

struct HttpServerOptions {
  std::string host = "127.0.0.1";
  // 0 picks a free port.
  int port = 0;
  // The path calls are POSTed to.
  std::string path = "/sdk";
  // Threads answering connections. A kept-alive connection holds its thread
  // while it is open, so this bounds the clients served at once.
  std::size_t threads = 16;
  std::chrono::milliseconds readTimeout{10000};
  std::chrono::milliseconds writeTimeout{10000};
  // How long an idle connection stays open, and the calls one connection
  // may carry before the server closes it.
  std::chrono::seconds keepAliveTimeout{5};
  std::size_t keepAliveMaxCount = 100000;
  // Sessions remembered at most; the least recently used goes first.
  std::size_t maxSessions = 10000;
  // Applied to every request (maxMessageBytes also caps the body's size).
  DecodeLimits limits;
};

namespace detail {
struct HttpServerCore;
}  // namespace detail

// Serves the objects of a LocalServer over HTTP, calling them as a
// LocalStubAdapter does on the thread that reads the request, with a request
// context holding the caller's X-Kor-Context entries and its session id.
//
// Every request gets an answer: a request that cannot be decoded (not well
// formed, too large, too deep, with a document type declaration, naming an
// unknown operation, wrong content type, a compressed body, refused before
// it is read) is answered with the fault
// WireError::ToFault() gives, status 500, and the server goes on serving.
// Nothing is logged.
class MOVEL_API HttpServer {
 public:
  // Binds and starts serving. Throws Basekit::Exception when server is null
  // or the address cannot be bound.
  HttpServer(LocalServer* server, const HttpServerOptions& options = {});
  // Stops.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  int GetPort() const noexcept;
  // "http://HOST:PORT/PATH"
  std::string GetUrl() const;

  // Stops accepting, closes the connections and joins every thread; calls
  // being answered finish first. Idempotent.
  void Stop();

  // Connections accepted so far, and requests answered (any status).
  std::size_t GetConnectionCount() const;
  std::size_t GetRequestCount() const;
  std::size_t GetSessionCount() const;

 private:
  std::unique_ptr<detail::HttpServerCore> core_;
};

}  // namespace Movel
