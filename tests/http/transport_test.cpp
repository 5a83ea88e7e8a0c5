// Stub calls over HTTP: answers and faults as the in-process adapter gives
// them, transport failures, asynchronous calls, shutdown, kept-alive
// connections, sessions and request contexts.
#include <atomic>
#include <thread>
#include <vector>

#include "http_fixture.h"
#include "movel/diff.h"

namespace httptest {
namespace {

using Movel::WireFormat;

const WireFormat kFormats[] = {WireFormat::kXml, WireFormat::kJson};

Movel::HttpClientOptions InFormat(WireFormat format) {
  Movel::HttpClientOptions options;
  options.format = format;
  return options;
}

std::string FormatName(WireFormat format) { return format == WireFormat::kXml ? "XML" : "JSON"; }

TEST_F(HttpTest, AnswersEqualThoseOfTheInProcessAdapter) {
  Movel::StubAdapter* local = demo.GetAdapter();
  for (WireFormat format : kFormats) {
    SCOPED_TRACE(FormatName(format));
    Ref<Movel::HttpStubAdapter> remote = Client(InFormat(format));
    Kor::MoStubFactoryImpl* factory = Kor::GetMoStubFactory();

    Ref<Kor::ServiceInstanceContent> here, there;
    factory->CreateServiceInstance(local)->RetrieveContent(here);
    factory->CreateServiceInstance(remote)->RetrieveContent(there);
    ASSERT_TRUE(there);
    EXPECT_TRUE(Movel::AreEqualAnysInt(here, there, 0, false));

    Ref<Kor::HostSystem> hostHere = factory->CreateHostSystem(kortypes::demo::kHostId, local);
    Ref<Kor::HostSystem> hostThere = factory->CreateHostSystem(kortypes::demo::kHostId, remote);
    EXPECT_EQ(hostHere->GetName(), hostThere->GetName());
    EXPECT_EQ(hostHere->QueryOverhead(3LL << 30, Basekit::Optional<int>(16), 3),
              hostThere->QueryOverhead(3LL << 30, Basekit::Optional<int>(16), 3));
    Ref<Movel::DataArray<Movel::MoRef>> vmsHere, vmsThere;
    hostHere->GetVm(vmsHere);
    hostThere->GetVm(vmsThere);
    EXPECT_TRUE(Movel::AreEqualAnysInt(vmsHere, vmsThere, 0, false));

    Ref<Kor::VirtualMachine> vmHere = factory->CreateVirtualMachine(kortypes::demo::kVmId, local);
    Ref<Kor::VirtualMachine> vmThere = factory->CreateVirtualMachine(kortypes::demo::kVmId, remote);
    Ref<Kor::Vm::ConfigInfo> configHere, configThere;
    vmHere->GetConfig(configHere);
    vmThere->GetConfig(configThere);
    EXPECT_TRUE(Movel::AreEqualAnysInt(configHere, configThere, 0, false));
  }
}

TEST_F(HttpTest, FaultsArriveAsTheirOwnClassAndAsTheirAncestors) {
  Kor::MoStubFactoryImpl* factory = Kor::GetMoStubFactory();
  for (WireFormat format : kFormats) {
    SCOPED_TRACE(FormatName(format));
    Ref<Movel::HttpStubAdapter> remote = Client(InFormat(format));
    Ref<Kor::VirtualMachine> vm = factory->CreateVirtualMachine(kortypes::demo::kVmId, remote);
    Ref<Kor::Vm::RuntimeInfo> runtime;
    vm->GetRuntime(runtime);
    Ref<Movel::MoRef> task;
    if (runtime->powerState != Kor::VirtualMachine::PowerState::poweredOn) {
      vm->PowerOn(nullptr, task);
      Ref<Kor::TaskInfo> info;
      Ref<Kor::TaskStub>(new Kor::TaskStub(task, remote, nullptr))->GetInfo(info);
      ASSERT_EQ(info->state, Kor::TaskInfo::State::success);
    }
    // A powered-on machine refuses another power-on.
    EXPECT_THROW(vm->PowerOn(nullptr, task), Kor::Fault::InvalidPowerState::Exception);
    EXPECT_THROW(vm->PowerOn(nullptr, task), Kor::Fault::InvalidState::Exception);
    EXPECT_THROW(vm->PowerOn(nullptr, task), Movel::MethodFault::Exception);
    try {
      vm->PowerOn(nullptr, task);
      ADD_FAILURE() << "the second power-on succeeded";
    } catch (const Kor::Fault::InvalidState::Exception& e) {
      auto* fault = dynamic_cast<Kor::Fault::InvalidPowerState*>(e.GetFault());
      ASSERT_NE(fault, nullptr);
      vm->GetRuntime(runtime);
      EXPECT_EQ(fault->existingState, runtime->powerState);
    }

    // An object the server does not have.
    Ref<Kor::VirtualMachine> missing = factory->CreateVirtualMachine("vm-404", remote);
    try {
      missing->GetName();
      ADD_FAILURE() << "a missing machine answered";
    } catch (const Movel::Fault::ManagedObjectNotFound::Exception& e) {
      ASSERT_NE(e.GetFault()->GetObj(), nullptr);
      EXPECT_EQ(e.GetFault()->GetObj()->GetId(), "vm-404");
    }

    // A read the server does not serve fails with the same fault class as
    // in-process.
    std::string localFault, remoteFault;
    Ref<Movel::DataArray<Movel::MoRef>> stores;
    try {
      factory->CreateHostSystem(kortypes::demo::kHostId, demo.GetAdapter())->GetDatastore(stores);
    } catch (const Movel::MethodFault::Exception& e) {
      localFault = e.GetFault()->_GetType()->GetName();
    }
    try {
      factory->CreateHostSystem(kortypes::demo::kHostId, remote)->GetDatastore(stores);
    } catch (const Movel::MethodFault::Exception& e) {
      remoteFault = e.GetFault()->_GetType()->GetName();
    }
    EXPECT_FALSE(localFault.empty());
    EXPECT_EQ(localFault, remoteFault);
  }
}

TEST_F(HttpTest, TransportFailuresAreSystemErrors) {
  // A port nobody listens on any more.
  std::string url = http->GetUrl();
  http->Stop();
  Ref<Movel::HttpStubAdapter> remote(new Movel::HttpStubAdapter(url));
  Ref<Kor::ServiceInstanceStub> si(
      new Kor::ServiceInstanceStub(kortypes::demo::kServiceInstanceId, remote, nullptr));
  try {
    si->CurrentTime();
    ADD_FAILURE() << "a call to a stopped server answered";
  } catch (const Movel::Fault::SystemError::Exception& e) {
    EXPECT_NE(e.GetFault()->GetReason().find(url), std::string::npos) << e.GetFault()->GetReason();
  }
  // The same failure reaches an asynchronous caller through its callback.
  std::string asyncFault;
  Ref<Basekit::System::ScheduledItem> item;
  si->CurrentTime(
          [&](Basekit::System::ScheduledItem*, Basekit::Exception* e, Movel::Any* result) {
            auto* fault = dynamic_cast<Movel::MethodFault::Exception*>(e);
            asyncFault = fault ? fault->GetFault()->_GetType()->GetName()
                               : result ? "a result" : "another exception";
          },
          item);
  item->Wait();
  EXPECT_EQ(asyncFault, Movel::GetDoType<Movel::Fault::SystemError>()->GetName());

  for (const char* bad : {"ftp://127.0.0.1/sdk", "http://", "http://host:99999/sdk",
                          "http://host:port/sdk", "http://[::1/sdk"}) {
    EXPECT_THROW(Ref<Movel::HttpStubAdapter>(new Movel::HttpStubAdapter(bad)), Basekit::Exception)
        << bad;
  }
}

TEST_F(HttpTest, AnAnswerLaterThanTheReadTimeoutIsASystemError) {
  Movel::HttpClientOptions options;
  // Long enough for a good answer on a loaded machine.
  options.readTimeout = std::chrono::milliseconds(1000);
  Ref<Movel::HttpStubAdapter> remote = ProbeClient(options);
  Ref<Kor::ServiceInstanceStub> si(new Kor::ServiceInstanceStub(probeRef, remote, nullptr));
  probe->Close();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(si->CurrentTime(), Movel::Fault::SystemError::Exception);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(10));
  probe->Open();
  // The timed-out connection is dropped; the next call gets a fresh one.
  EXPECT_EQ(si->CurrentTime(), Basekit::System::DateTime::FromCivil(2026, 12, 6, 3, 0, 0));
}

TEST_F(HttpTest, AnswersLeaveOutWhatTheClientsVersionLacks) {
  const Movel::Version* oldest = Movel::FindVersion("kor.version.version1");
  ASSERT_NE(oldest, nullptr);
  const Movel::Property* uuid = Movel::GetDoType<Kor::AboutInfo>()->FindProperty("instanceUuid");
  ASSERT_NE(uuid, nullptr);
  ASSERT_FALSE(Movel::IsInVersion(Movel::FindVersion(uuid->GetVersionName()), oldest));

  Movel::HttpClientOptions options;
  options.version = oldest;
  Ref<Kor::ServiceInstanceContent> current, old;
  Kor::GetMoStubFactory()->CreateServiceInstance(Client())->RetrieveContent(current);
  Kor::GetMoStubFactory()->CreateServiceInstance(Client(options))->RetrieveContent(old);
  ASSERT_TRUE(current->PeekAbout()->instanceUuid);
  EXPECT_FALSE(old->PeekAbout()->instanceUuid);
  EXPECT_EQ(old->PeekAbout()->fullName, current->PeekAbout()->fullName);

  // A method newer than the client's version is refused before it is sent.
  const Movel::ManagedMethod* overhead = Movel::GetMoType<Kor::HostSystem>()->FindMethod("QueryOverhead");
  ASSERT_NE(overhead, nullptr);
  ASSERT_FALSE(Movel::IsInVersion(Movel::FindVersion(overhead->GetVersionName()), oldest));
  Ref<Kor::HostSystem> host =
      Kor::GetMoStubFactory()->CreateHostSystem(kortypes::demo::kHostId, Client(options));
  const std::size_t requests = http->GetRequestCount();
  try {
    host->QueryOverhead(1LL << 30, Basekit::Optional<int>(), 1);
    ADD_FAILURE() << "a method newer than the client's version was sent";
  } catch (const Movel::WireError& e) {
    EXPECT_EQ(e.GetKind(), Movel::WireError::Kind::kNotInVersion);
  }
  EXPECT_EQ(http->GetRequestCount(), requests);
}

TEST_F(HttpTest, AsynchronousCallsCompleteOnceEachWithTheSynchronousAnswer) {
  Movel::HttpClientOptions options;
  options.asyncThreads = 3;
  options.maxConnections = 2;
  Ref<Movel::HttpStubAdapter> remote = Client(options);
  Ref<Kor::VirtualMachineStub> vm(new Kor::VirtualMachineStub(kortypes::demo::kVmId, remote, nullptr));
  Ref<Kor::Vm::ConfigInfo> expected;
  vm->GetConfig(expected);

  constexpr int kCalls = 40;
  std::vector<std::atomic<int>> completions(kCalls);
  std::vector<Ref<Basekit::System::ScheduledItem>> items(kCalls);
  std::atomic<int> equal{0};
  for (int i = 0; i < kCalls; ++i) {
    vm->GetConfig(
        [&, i](Basekit::System::ScheduledItem* item, Basekit::Exception* e, Movel::Any* result) {
          ++completions[i];
          if (!e && item && Movel::AreEqualAnysInt(expected, result, 0, false)) ++equal;
          // A throwing callback must not stop the adapter's threads.
          if (i % 7 == 0) throw std::runtime_error("callback failure");
        },
        items[i]);
  }
  for (auto& item : items) ASSERT_TRUE(item->WaitFor(std::chrono::seconds(30)));
  EXPECT_EQ(equal.load(), kCalls);
  for (int i = 0; i < kCalls; ++i) EXPECT_EQ(completions[i].load(), 1) << "call " << i;
}

TEST_F(HttpTest, ShutdownCancelsQueuedCallsAndAwaitsTheRunningOne) {
  Movel::HttpClientOptions options;
  options.asyncThreads = 1;
  Ref<Movel::HttpStubAdapter> remote = ProbeClient(options);
  Ref<Kor::ServiceInstanceStub> si(new Kor::ServiceInstanceStub(probeRef, remote, nullptr));

  probe->Close();
  std::atomic<int> succeeded{0}, canceled{0}, other{0};
  auto tally = [&](Basekit::System::ScheduledItem*, Basekit::Exception* e, Movel::Any*) {
    if (!e) {
      ++succeeded;
    } else if (dynamic_cast<Movel::Fault::RequestCanceled::Exception*>(e)) {
      ++canceled;
    } else {
      ++other;
    }
  };
  Ref<Basekit::System::ScheduledItem> running;
  si->CurrentTime(tally, running);
  ASSERT_TRUE(probe->AwaitEntered(1));
  constexpr int kQueued = 5;
  std::vector<Ref<Basekit::System::ScheduledItem>> queued(kQueued);
  for (auto& item : queued) si->CurrentTime(tally, item);

  std::thread stopper([&] { remote->Shutdown(); });
  // Queued calls are canceled at once; the running one is still waited for.
  for (auto& item : queued) ASSERT_TRUE(item->WaitFor(std::chrono::seconds(10)));
  EXPECT_EQ(canceled.load(), kQueued);
  EXPECT_FALSE(running->IsDone());
  probe->Open();
  stopper.join();
  EXPECT_TRUE(running->IsDone());
  EXPECT_EQ(succeeded.load(), 1);
  EXPECT_EQ(other.load(), 0);

  Ref<Basekit::System::ScheduledItem> refused;
  EXPECT_THROW(si->CurrentTime(tally, refused), Basekit::Exception);
  // Synchronous calls still work after the shutdown.
  EXPECT_EQ(si->CurrentTime(), Basekit::System::DateTime::FromCivil(2026, 12, 6, 3, 0, 0));
}

TEST_F(HttpTest, ServerStopLetsTheCallInFlightFinish) {
  Ref<Movel::HttpStubAdapter> remote = ProbeClient();
  Ref<Kor::ServiceInstanceStub> si(new Kor::ServiceInstanceStub(probeRef, remote, nullptr));
  probe->Close();
  std::atomic<bool> answered{false};
  std::thread caller([&] {
    try {
      si->CurrentTime();
      answered = true;
    } catch (const std::exception&) {
    }
  });
  ASSERT_TRUE(probe->AwaitEntered(1));
  std::thread stopper([&] { probeHttp->Stop(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  probe->Open();
  stopper.join();
  caller.join();
  EXPECT_TRUE(answered.load());
  EXPECT_THROW(si->CurrentTime(), Movel::Fault::SystemError::Exception);
}

TEST_F(HttpTest, AClientGoneBeforeItsAnswerLeavesTheServerServing) {
  const Movel::ManagedMethod* currentTime =
      Movel::GetMoType<Kor::ServiceInstance>()->FindMethod("CurrentTime");
  ASSERT_NE(currentTime, nullptr);
  Basekit::RefVector<Movel::Any> none;
  const std::string body = Movel::EncodeRequest(WireFormat::kXml, probeRef, currentTime, none);
  const std::string request = "POST /sdk HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml\r\n"
                              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  // The answer is written after the client has reset the connection: the
  // write fails, and must not take the process down.
  probe->Close();
  ASSERT_TRUE(SendAndReset(probeHttp->GetPort(), request));
  ASSERT_TRUE(probe->AwaitEntered(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  probe->Open();
  Ref<Kor::ServiceInstanceStub> si(new Kor::ServiceInstanceStub(probeRef, ProbeClient(), nullptr));
  EXPECT_EQ(si->CurrentTime(), Basekit::System::DateTime::FromCivil(2026, 12, 6, 3, 0, 0));
}

TEST_F(HttpTest, ConnectionsAreKeptAliveAndShared) {
  Ref<Movel::HttpStubAdapter> remote = Client();
  Ref<Kor::HostSystem> host = Kor::GetMoStubFactory()->CreateHostSystem(kortypes::demo::kHostId, remote);
  const std::size_t connections = http->GetConnectionCount();
  const std::size_t requests = http->GetRequestCount();
  for (int i = 0; i < 20; ++i) host->GetName();
  EXPECT_EQ(http->GetConnectionCount() - connections, 1u);
  EXPECT_EQ(http->GetRequestCount() - requests, 20u);

  // Four threads share at most two connections.
  Movel::HttpClientOptions options;
  options.maxConnections = 2;
  Ref<Movel::HttpStubAdapter> shared = Client(options);
  Ref<Kor::HostSystem> sharedHost =
      Kor::GetMoStubFactory()->CreateHostSystem(kortypes::demo::kHostId, shared);
  const std::size_t before = http->GetConnectionCount();
  std::atomic<int> right{0};
  const std::string name = host->GetName();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 25; ++i) right += sharedHost->GetName() == name;
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(right.load(), 100);
  EXPECT_GE(http->GetConnectionCount() - before, 1u);
  EXPECT_LE(http->GetConnectionCount() - before, 2u);
}

TEST_F(HttpTest, SessionAndContextReachTheImplementation) {
  Ref<Movel::HttpStubAdapter> first = ProbeClient();
  EXPECT_TRUE(first->GetSessionId().empty());
  Ref<Movel::RequestContext> context(new Movel::RequestContext());
  const std::string user = "alice & bob = 100% \xc3\xa9";
  context->Set("userName", user);
  context->Set(Movel::kSessionContextKey, "forged");
  Ref<Kor::ServiceInstanceStub> si(new Kor::ServiceInstanceStub(probeRef, first, context));
  Ref<Kor::ServiceInstanceContent> content;
  si->RetrieveContent(content);
  const std::string session = first->GetSessionId();
  EXPECT_FALSE(session.empty());
  EXPECT_EQ(content->PeekAbout()->name, session);
  EXPECT_EQ(content->PeekAbout()->fullName, user);
  si->RetrieveContent(content);
  EXPECT_EQ(content->PeekAbout()->name, session);
  EXPECT_EQ(first->GetSessionId(), session);
  EXPECT_EQ(probeHttp->GetSessionCount(), 1u);

  // Another client is another session.
  Ref<Movel::HttpStubAdapter> second = ProbeClient();
  Ref<Kor::ServiceInstanceStub> other(new Kor::ServiceInstanceStub(probeRef, second, nullptr));
  other->RetrieveContent(content);
  EXPECT_FALSE(second->GetSessionId().empty());
  EXPECT_NE(second->GetSessionId(), session);
  EXPECT_EQ(content->PeekAbout()->name, second->GetSessionId());
  EXPECT_EQ(content->PeekAbout()->fullName, "");
  EXPECT_EQ(probeHttp->GetSessionCount(), 2u);
}

TEST_F(HttpTest, TheOldestSessionsAreForgottenFirst) {
  Movel::HttpServerOptions options;
  options.maxSessions = 2;
  Serve(options);
  std::vector<Ref<Movel::HttpStubAdapter>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(ProbeClient());
    Ref<Kor::ServiceInstanceContent> content;
    Ref<Kor::ServiceInstanceStub>(new Kor::ServiceInstanceStub(probeRef, clients.back(), nullptr))
        ->RetrieveContent(content);
  }
  EXPECT_EQ(probeHttp->GetSessionCount(), 2u);
  // The first client's session is gone: its next call gets a new one.
  const std::string old = clients[0]->GetSessionId();
  Ref<Kor::ServiceInstanceContent> content;
  Ref<Kor::ServiceInstanceStub>(new Kor::ServiceInstanceStub(probeRef, clients[0], nullptr))
      ->RetrieveContent(content);
  EXPECT_NE(clients[0]->GetSessionId(), old);
  EXPECT_EQ(content->PeekAbout()->name, clients[0]->GetSessionId());
}

}  // namespace
}  // namespace httptest
