// The HTTP server: calls decoded from POSTed documents and answered by the
// objects of a LocalServer; the shared pieces of both ends.
#include <httplib.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <list>
#include <random>
#include <thread>
#include <unordered_map>

#include "http_internal.h"
#include "movel/data_types.h"
#include "movel/fault.h"
#include "movel/http.h"

namespace Movel {

// ---------------------------------------------------------------------------
// Shared pieces

namespace http {

bool ParseUrl(const std::string& url, Url* out, std::string* error) {
  const std::string scheme = "http://";
  if (url.compare(0, scheme.size(), scheme) != 0) {
    *error = "\"" + url + "\" is not an http:// URL";
    return false;
  }
  std::size_t pos = scheme.size();
  std::size_t slash = url.find('/', pos);
  std::string authority = url.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
  out->text = url;
  out->path = slash == std::string::npos ? "/" : url.substr(slash);
  std::string port;
  if (!authority.empty() && authority[0] == '[') {
    std::size_t close = authority.find(']');
    if (close == std::string::npos) {
      *error = "\"" + url + "\": unclosed '[' in the host";
      return false;
    }
    out->host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') {
        *error = "\"" + url + "\": unexpected text after the host";
        return false;
      }
      port = authority.substr(close + 2);
    }
  } else {
    std::size_t colon = authority.find(':');
    out->host = authority.substr(0, colon);
    if (colon != std::string::npos) port = authority.substr(colon + 1);
  }
  if (out->host.empty()) {
    *error = "\"" + url + "\" names no host";
    return false;
  }
  if (port.empty()) {
    out->port = 80;
    return true;
  }
  if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(port) == 0 || std::stoi(port) > 65535) {
    *error = "\"" + url + "\": \"" + port + "\" is not a port number";
    return false;
  }
  out->port = std::stoi(port);
  return true;
}

namespace {

void Percent(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unpercent(std::string_view text, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out->push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return false;
    int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

namespace {

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Base64 with the URL-safe alphabet and no padding.
std::string ToBase64(std::string_view bytes) {
  std::string out;
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                 (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                 static_cast<unsigned char>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += kBase64[(v >> shift) & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kBase64[(v >> 18) & 63];
    out += kBase64[(v >> 12) & 63];
    if (i + 1 < bytes.size()) out += kBase64[(v >> 6) & 63];
  }
  return out;
}

bool FromBase64(std::string_view text, std::string* out) {
  out->clear();
  if (text.size() % 4 == 1) return false;
  unsigned v = 0;
  int bits = 0;
  for (char c : text) {
    const char* at = c ? std::strchr(kBase64, c) : nullptr;
    if (!at) return false;
    v = (v << 6) | static_cast<unsigned>(at - kBase64);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out->push_back(static_cast<char>((v >> bits) & 0xFF));
    }
  }
  return true;
}

}  // namespace

// The pairs are percent-encoded and joined, and the whole travels as
// base64, which header parsers leave alone (some decode percent escapes in
// header values themselves).
std::string EncodeContext(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string out;
  for (const auto& entry : entries) {
    if (!out.empty()) out += '&';
    Percent(out, entry.first);
    out += '=';
    Percent(out, entry.second);
  }
  return ToBase64(out);
}

bool DecodeContext(std::string_view header, std::vector<std::pair<std::string, std::string>>* out) {
  out->clear();
  std::string decoded;
  if (!FromBase64(Trim(header), &decoded)) return false;
  std::string_view text = decoded;
  while (!text.empty()) {
    std::size_t amp = text.find('&');
    std::string_view pair = text.substr(0, amp);
    text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
    std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos || eq == 0) return false;
    std::string key, value;
    if (!Unpercent(pair.substr(0, eq), &key) || !Unpercent(pair.substr(eq + 1), &value)) {
      return false;
    }
    out->emplace_back(std::move(key), std::move(value));
  }
  return true;
}

bool FindCookie(std::string_view header, std::string_view name, std::string* value,
                bool setCookie) {
  while (!header.empty()) {
    std::size_t semi = header.find(';');
    std::string_view pair = Trim(header.substr(0, semi));
    header = semi == std::string_view::npos ? std::string_view() : header.substr(semi + 1);
    std::size_t eq = pair.find('=');
    if (eq != std::string_view::npos && Trim(pair.substr(0, eq)) == name) {
      std::string_view v = Trim(pair.substr(eq + 1));
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      value->assign(v.data(), v.size());
      return true;
    }
    if (setCookie) return false;  // attributes follow the cookie itself
  }
  return false;
}

const char* ContentType(WireFormat format) {
  return format == WireFormat::kJson ? "application/json" : "text/xml; charset=utf-8";
}

bool FormatOf(std::string_view contentType, WireFormat* format) {
  std::string type(Trim(contentType.substr(0, contentType.find(';'))));
  for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (type == "text/xml" || type == "application/xml" || type == "application/soap+xml") {
    *format = WireFormat::kXml;
    return true;
  }
  if (type == "application/json") {
    *format = WireFormat::kJson;
    return true;
  }
  return false;
}

}  // namespace http

// ---------------------------------------------------------------------------
// The server

namespace {

// The library's thread pool, counting the connections it is handed (one
// task per accepted connection).
class CountingPool : public httplib::ThreadPool {
 public:
  CountingPool(std::size_t threads, std::atomic<std::size_t>* connections)
      : httplib::ThreadPool(threads), connections_(connections) {}
  void enqueue(std::function<void()> fn) override {
    connections_->fetch_add(1, std::memory_order_relaxed);
    httplib::ThreadPool::enqueue(std::move(fn));
  }

 private:
  std::atomic<std::size_t>* connections_;
};

std::string NewSessionId() {
  static std::mutex mutex;
  static std::random_device device;
  std::lock_guard<std::mutex> lock(mutex);
  static const char kHex[] = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 8; ++i) {
    unsigned word = device();
    for (int j = 0; j < 4; ++j) {
      id += kHex[(word >> (8 * j + 4)) & 15];
      id += kHex[(word >> (8 * j)) & 15];
    }
  }
  return id;
}

time_t Seconds(std::chrono::milliseconds ms) { return static_cast<time_t>(ms.count() / 1000); }
time_t Micros(std::chrono::milliseconds ms) {
  return static_cast<time_t>((ms.count() % 1000) * 1000);
}

}  // namespace

namespace detail {

struct HttpServerCore {
  HttpServerOptions options;
  Basekit::Ref<LocalServer> server;
  Basekit::Ref<LocalStubAdapter> adapter;
  httplib::Server http;
  std::thread listener;
  int port = 0;
  std::atomic<std::size_t> connections{0};
  std::atomic<std::size_t> requests{0};
  std::atomic<bool> listenEnded{false};
  std::mutex stopMutex;
  bool stopped = false;

  // Sessions, most recently used first.
  mutable std::mutex sessionMutex;
  std::list<std::string> sessionOrder;
  std::unordered_map<std::string, std::list<std::string>::iterator> sessions;

  // The caller's session: the one its cookie names when the server knows
  // it, else a new one (set in the answer's cookie).
  std::string Session(const httplib::Request& request, httplib::Response& response) {
    std::string id;
    bool given = false;
    for (std::size_t i = 0, n = request.get_header_value_count("Cookie"); i < n && !given; ++i) {
      given = http::FindCookie(request.get_header_value("Cookie", i), kHttpSessionCookie, &id,
                               false);
    }
    std::lock_guard<std::mutex> lock(sessionMutex);
    if (given) {
      auto it = sessions.find(id);
      if (it != sessions.end()) {
        sessionOrder.splice(sessionOrder.begin(), sessionOrder, it->second);
        return id;
      }
    }
    id = NewSessionId();
    sessionOrder.push_front(id);
    sessions.emplace(id, sessionOrder.begin());
    while (sessions.size() > options.maxSessions) {
      sessions.erase(sessionOrder.back());
      sessionOrder.pop_back();
    }
    response.set_header("Set-Cookie", std::string(kHttpSessionCookie) + "=" + id +
                                          "; Path=/; HttpOnly");
    return id;
  }

  static void Answer(httplib::Response& response, int status, WireFormat format,
                     const std::string& body) {
    response.status = status;
    response.set_content(body, http::ContentType(format));
  }

  // Answers with fault; a fault that cannot be encoded for the peer is
  // answered as SystemError, and that failing too as plain text.
  static void AnswerFault(httplib::Response& response, int status, WireFormat format,
                          const MethodFault* fault, const Version* peer) {
    EncodeOptions encode;
    encode.peerVersion = peer;
    try {
      Answer(response, status, format, EncodeFault(format, fault, encode));
      return;
    } catch (const std::exception& e) {
      try {
        Basekit::Ref<Fault::SystemError> fallback =
            new Fault::SystemError(std::string("the fault could not be encoded: ") + e.what());
        Answer(response, status, format, EncodeFault(format, fallback.Get()));
        return;
      } catch (const std::exception&) {
      }
    }
    response.status = status;
    response.set_content("the server could not encode its answer", "text/plain");
  }

  static void AnswerWireError(httplib::Response& response, int status, WireFormat format,
                              const WireError& error) {
    Basekit::Ref<MethodFault> fault = error.ToFault();
    AnswerFault(response, status, format, fault.Get(), nullptr);
  }

  void Handle(const httplib::Request& request, httplib::Response& response) {
    requests.fetch_add(1, std::memory_order_relaxed);
    WireFormat format = WireFormat::kXml;
    const std::string contentType = request.get_header_value("Content-Type");
    if (!http::FormatOf(contentType, &format)) {
      AnswerWireError(response, 415, WireFormat::kXml,
                      WireError(WireError::Kind::kMalformed, "/",
                                "content type \"" + contentType +
                                    "\" is not text/xml or application/json"));
      return;
    }
    const Version* peer = nullptr;
    if (request.has_header(kHttpVersionHeader)) {
      const std::string name = request.get_header_value(kHttpVersionHeader);
      peer = FindVersion(name);
      if (!peer) {
        AnswerWireError(response, 500, format,
                        WireError(WireError::Kind::kMalformed, "/",
                                  std::string(kHttpVersionHeader) + " names no known version \"" +
                                      name + "\""));
        return;
      }
    }
    Basekit::Ref<RequestContext> context = new RequestContext;
    if (request.has_header(kHttpContextHeader)) {
      std::vector<std::pair<std::string, std::string>> entries;
      if (!http::DecodeContext(request.get_header_value(kHttpContextHeader), &entries)) {
        AnswerWireError(response, 500, format,
                        WireError(WireError::Kind::kMalformed, "/",
                                  std::string(kHttpContextHeader) +
                                      " is not base64 of percent-encoded key=value pairs"));
        return;
      }
      for (const auto& entry : entries) context->Set(entry.first, entry.second);
    }
    context->Set(kSessionContextKey, Session(request, response));

    DecodeOptions decode;
    decode.limits = options.limits;
    WireRequest call;
    try {
      call = DecodeRequest(format, request.body, decode);
    } catch (const WireError& e) {
      AnswerWireError(response, 500, format, e);
      return;
    }
    EncodeOptions encode;
    encode.peerVersion = peer;
    try {
      Basekit::Ref<Any> result;
      adapter->Invoke(call.target.Get(), const_cast<ManagedMethod*>(call.method), call.args,
                      context.Get(), result);
      Answer(response, 200, format, EncodeResponse(format, call.method, result.Get(), encode));
    } catch (const MethodFault::Exception& e) {
      AnswerFault(response, 500, format, e.GetFault(), peer);
    } catch (const WireError& e) {
      // The result cannot be written for this peer.
      AnswerWireError(response, 500, format, e);
    } catch (const std::exception& e) {
      Basekit::Ref<Fault::SystemError> fault = new Fault::SystemError(e.what());
      AnswerFault(response, 500, format, fault.Get(), peer);
    } catch (...) {
      Basekit::Ref<Fault::SystemError> fault = new Fault::SystemError("unknown exception");
      AnswerFault(response, 500, format, fault.Get(), peer);
    }
  }

  // Runs before the body is read. A compressed body would be expanded by
  // the library before any size limit applies (a few kilobytes can become
  // gigabytes), and no client of ours compresses: such requests are refused
  // unread. The library then reads the unread body as the next request on
  // the connection, which fails as malformed; nothing is expanded.
  httplib::Server::HandlerResponse Screen(const httplib::Request& request,
                                          httplib::Response& response) {
    const std::string encoding = request.get_header_value("Content-Encoding");
    if (encoding.empty() || encoding == "identity") {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    requests.fetch_add(1, std::memory_order_relaxed);
    WireFormat format = WireFormat::kXml;
    if (!http::FormatOf(request.get_header_value("Content-Type"), &format)) {
      format = WireFormat::kXml;
    }
    AnswerWireError(response, 415, format,
                    WireError(WireError::Kind::kForbidden, "/",
                              "content encoding \"" + encoding +
                                  "\" is not accepted; send the document uncompressed"));
    return httplib::Server::HandlerResponse::Handled;
  }

  // Statuses the library sets by itself (no such path, body too large,
  // malformed HTTP) get a fault document too.
  httplib::Server::HandlerResponse HandleError(const httplib::Request& request,
                                               httplib::Response& response) {
    if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    WireFormat format = WireFormat::kXml;
    if (!http::FormatOf(request.get_header_value("Content-Type"), &format)) {
      format = WireFormat::kXml;
    }
    std::string what;
    WireError::Kind kind = WireError::Kind::kMalformed;
    switch (response.status) {
      case 404:
        what = "nothing is served at \"" + request.path + "\"; calls go to " + options.path;
        break;
      case 405:
        what = "method " + request.method + " is not served; calls are POSTed";
        break;
      case 413:
        kind = WireError::Kind::kLimit;
        what = "the request is larger than " + std::to_string(options.limits.maxMessageBytes) +
               " bytes";
        break;
      default:
        what = "the request could not be read (HTTP " + std::to_string(response.status) + ")";
        break;
    }
    const int status = response.status;
    AnswerWireError(response, status, format, WireError(kind, "/", what));
    return httplib::Server::HandlerResponse::Handled;
  }
};

}  // namespace detail

HttpServer::HttpServer(LocalServer* server, const HttpServerOptions& options)
    : core_(std::make_unique<detail::HttpServerCore>()) {
  if (!server) throw Basekit::Exception("HttpServer: needs a server");
  if (options.threads == 0) throw Basekit::Exception("HttpServer: needs at least one thread");
  detail::HttpServerCore& c = *core_;
  c.options = options;
  c.server = server;
  c.adapter = new LocalStubAdapter(server);
  httplib::Server& http = c.http;
  const std::size_t threads = options.threads;
  std::atomic<std::size_t>* connections = &c.connections;
  http.new_task_queue = [threads, connections] { return new CountingPool(threads, connections); };
  http.set_read_timeout(Seconds(options.readTimeout), Micros(options.readTimeout));
  http.set_write_timeout(Seconds(options.writeTimeout), Micros(options.writeTimeout));
  http.set_keep_alive_timeout(static_cast<time_t>(options.keepAliveTimeout.count()));
  http.set_keep_alive_max_count(options.keepAliveMaxCount);
  http.set_payload_max_length(options.limits.maxMessageBytes);
  http.set_tcp_nodelay(true);
  http.Post(options.path, [&c](const httplib::Request& request, httplib::Response& response) {
    c.Handle(request, response);
  });
  http.set_pre_routing_handler([&c](const httplib::Request& request, httplib::Response& response) {
    return c.Screen(request, response);
  });
  http.set_error_handler(httplib::Server::HandlerWithResponse(
      [&c](const httplib::Request& request, httplib::Response& response) {
        return c.HandleError(request, response);
      }));
  c.port = options.port == 0 ? http.bind_to_any_port(options.host)
                             : (http.bind_to_port(options.host, options.port) ? options.port : -1);
  if (c.port <= 0) {
    throw Basekit::Exception("HttpServer: cannot listen on " + options.host + ":" +
                             std::to_string(options.port));
  }
  std::atomic<bool>* ended = &c.listenEnded;
  c.listener = std::thread([&http, ended] {
    http.listen_after_bind();
    ended->store(true);
  });
  // Stop() only reaches a server that is running.
  while (!http.is_running() && !ended->load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!http.is_running()) {
    c.listener.join();
    throw Basekit::Exception("HttpServer: the listener on " + options.host + ":" +
                             std::to_string(c.port) + " stopped at once");
  }
}

HttpServer::~HttpServer() { Stop(); }

int HttpServer::GetPort() const noexcept { return core_->port; }

std::string HttpServer::GetUrl() const {
  const std::string& host = core_->options.host;
  const bool v6 = host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(core_->port) +
         core_->options.path;
}

void HttpServer::Stop() {
  std::lock_guard<std::mutex> lock(core_->stopMutex);
  if (core_->stopped) return;
  core_->stopped = true;
  core_->http.stop();
  if (core_->listener.joinable()) core_->listener.join();
  core_->adapter->Shutdown();
}

std::size_t HttpServer::GetConnectionCount() const { return core_->connections.load(); }
std::size_t HttpServer::GetRequestCount() const { return core_->requests.load(); }
std::size_t HttpServer::GetSessionCount() const {
  std::lock_guard<std::mutex> lock(core_->sessionMutex);
  return core_->sessions.size();
}

}  // namespace Movel
