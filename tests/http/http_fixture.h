// A demo server and a probe served over HTTP on an ephemeral port of
// 127.0.0.1, and a raw socket client for requests no adapter would send.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "demo_server.h"
#include "kortypes/kortypes.h"
#include "kortypes/stub_factory.h"
#include "movel/http.h"

namespace httptest {

using Basekit::Ref;

// A service instance that reports what the server handed it: the session
// and user of the call's context come back in the about info. CurrentTime
// can be held at a gate, to keep calls in flight.
class Probe : public Kor::ServiceInstanceSkeleton {
 public:
  void RetrieveContent(Ref<Kor::ServiceInstanceContent>& result) override {
    Ref<Kor::ServiceInstanceContent> content(new Kor::ServiceInstanceContent());
    Ref<Kor::AboutInfo> about(new Kor::AboutInfo());
    if (Movel::RequestContext* context = Movel::LocalStubAdapter::GetCurrentRequestContext()) {
      about->name = ValueOf(context, Movel::kSessionContextKey);
      about->fullName = ValueOf(context, "userName");
    }
    content->SetAbout(about);
    result = content;
  }
  Basekit::System::DateTime CurrentTime() override {
    std::unique_lock<std::mutex> lock(mutex_);
    ++entered_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return open_; });
    return Basekit::System::DateTime::FromCivil(2026, 12, 6, 3, 0, 0);
  }
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
  }
  void Open() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  // Waits until count calls have entered CurrentTime.
  bool AwaitEntered(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return entered_ >= count; });
  }

 private:
  static std::string ValueOf(Movel::RequestContext* context, const char* key) {
    Basekit::Optional<std::string> value = context->Get(key);
    return value.IsSet() ? value.GetValue() : std::string();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = true;
  int entered_ = 0;
};

// An answer read off a raw connection.
struct RawAnswer {
  int status = 0;  // 0: the connection closed without an answer
  std::string contentType;
  std::string body;
};

// Sends bytes on a new connection to 127.0.0.1:port, half-closes it when
// asked, and reads the answer until the server closes the connection or the
// body is complete.
inline RawAnswer SendRaw(int port, const std::string& bytes, bool halfClose = false) {
  RawAnswer answer;
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return answer;
  timeval timeout{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return answer;
  }
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;  // the server may close early on an oversized request
    sent += static_cast<std::size_t>(n);
  }
  if (halfClose) ::shutdown(fd, SHUT_WR);
  std::string in;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    in.append(buffer, static_cast<std::size_t>(n));
    std::size_t end = in.find("\r\n\r\n");
    if (end == std::string::npos) continue;
    std::size_t lengthAt = in.find("Content-Length: ");
    if (lengthAt != std::string::npos && lengthAt < end) {
      std::size_t length = std::stoul(in.substr(lengthAt + 16));
      if (in.size() >= end + 4 + length) break;
    }
  }
  ::close(fd);
  if (in.compare(0, 9, "HTTP/1.1 ") != 0) return answer;
  answer.status = std::stoi(in.substr(9, 3));
  std::size_t end = in.find("\r\n\r\n");
  if (end == std::string::npos) return answer;
  std::size_t typeAt = in.find("Content-Type: ");
  if (typeAt != std::string::npos && typeAt < end) {
    answer.contentType = in.substr(typeAt + 14, in.find("\r\n", typeAt) - typeAt - 14);
  }
  answer.body = in.substr(end + 4);
  return answer;
}

// Sends bytes on a new connection and resets the connection at once,
// without reading anything.
inline bool SendAndReset(int port, const std::string& bytes) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool sent = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  linger reset{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(fd);
  return sent;
}

// A POST of body with the given content type to path.
inline std::string Post(const std::string& path, const std::string& contentType,
                        const std::string& body) {
  return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + contentType +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
         body;
}

class HttpTest : public ::testing::Test {
 protected:
  HttpTest() : probe(new Probe()) {
    probeServer = new Movel::LocalServer();
    probeRef = probeServer->Register(probe.Get(), kortypes::demo::kServiceInstanceId);
  }

  // Starts serving the demo server (and a second server with the probe);
  // options apply to both.
  void Serve(const Movel::HttpServerOptions& options = {}) {
    http = std::make_unique<Movel::HttpServer>(demo.GetLocalServer(), options);
    probeHttp = std::make_unique<Movel::HttpServer>(probeServer.Get(), options);
  }
  void SetUp() override { Serve(); }

  Ref<Movel::HttpStubAdapter> Client(const Movel::HttpClientOptions& options = {}) {
    return Ref<Movel::HttpStubAdapter>(new Movel::HttpStubAdapter(http->GetUrl(), options));
  }
  Ref<Movel::HttpStubAdapter> ProbeClient(const Movel::HttpClientOptions& options = {}) {
    return Ref<Movel::HttpStubAdapter>(new Movel::HttpStubAdapter(probeHttp->GetUrl(), options));
  }

  kortypes::demo::DemoServer demo;
  Ref<Probe> probe;
  Ref<Movel::LocalServer> probeServer;
  Ref<Movel::MoRef> probeRef;
  std::unique_ptr<Movel::HttpServer> http;
  std::unique_ptr<Movel::HttpServer> probeHttp;
};

}  // namespace httptest
