// `kortypes serve`: the demo server's objects over HTTP until SIGINT or
// SIGTERM, for clients of other processes (`kortypes demo --connect URL`).
#include <csignal>
#include <pthread.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

#include "commands.h"
#include "demo_server.h"
#include "json_writer.h"
#include "movel/http.h"

namespace kortypes {
namespace {

// Reads option as a whole number in [low, high] into value; false (after
// saying why on err) when it is not one.
bool ReadCount(const Invocation& inv, const Options& opt, const char* option, long low, long high,
               int* value) {
  const std::string* text = opt.Value(option);
  if (!text) return true;
  char* end = nullptr;
  errno = 0;
  long n = text->empty() ? -1 : std::strtol(text->c_str(), &end, 10);
  if (text->empty() || *end != '\0' || errno != 0 || n < low || n > high) {
    inv.err << "kortypes serve: " << option << " takes a whole number from " << low << " to "
            << high << ", not \"" << *text << "\"\n";
    return false;
  }
  *value = static_cast<int>(n);
  return true;
}

}  // namespace

int RunServe(const Invocation& inv) {
  Options opt;
  if (int status = ParseOptions(inv, {},
                                {"--port", "--host", "--threads", "--datacenters", "--clusters",
                                 "--hosts", "--vms"},
                                0, 0, &opt);
      status >= 0) {
    return status;
  }
  Movel::HttpServerOptions options;
  // Datacenters, clusters per datacenter (0: hosts stand in the host
  // folder), hosts per cluster, virtual machines per host.
  demo::InventoryOptions inventory;
  int threads = static_cast<int>(options.threads);
  if (!ReadCount(inv, opt, "--port", 0, 65535, &options.port) ||
      !ReadCount(inv, opt, "--threads", 1, 1024, &threads) ||
      !ReadCount(inv, opt, "--datacenters", 1, demo::kMaxInventoryObjects,
                 &inventory.datacenters) ||
      !ReadCount(inv, opt, "--clusters", 0, demo::kMaxInventoryObjects,
                 &inventory.clustersPerDatacenter) ||
      !ReadCount(inv, opt, "--hosts", 0, demo::kMaxInventoryObjects, &inventory.hostsPerCluster) ||
      !ReadCount(inv, opt, "--vms", 0, demo::kMaxInventoryObjects, &inventory.vmsPerHost)) {
    return kExitUsage;
  }
  demo::InventorySize size;
  try {
    size = demo::SizeOf(inventory);
  } catch (const std::invalid_argument& e) {
    inv.err << "kortypes serve: " << e.what() << "\n";
    return kExitUsage;
  }
  options.threads = static_cast<std::size_t>(threads);
  if (const std::string* host = opt.Value("--host")) options.host = *host;

  // SIGINT and SIGTERM are taken by sigwait below: blocked before any
  // thread starts, so every thread inherits the mask and none is
  // interrupted.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
  struct RestoreMask {
    sigset_t mask;
    ~RestoreMask() { pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
  } restore{previous};

  demo::DemoServer server(demo::Clock(), inventory);

  std::unique_ptr<Movel::HttpServer> http;
  try {
    http = std::make_unique<Movel::HttpServer>(server.GetLocalServer(), options);
  } catch (const std::exception& e) {
    inv.err << "kortypes serve: " << e.what() << "\n";
    return kExitUnavailable;
  }
  if (opt.Has("--json")) {
    // One line, so a reader can take it as soon as it is flushed.
    inv.out << "{\"url\":" << JsonWriter::Quote(http->GetUrl())
            << ",\"objects\":" << server.GetObjectCount() << ",\"datacenters\":" << size.datacenters
            << ",\"clusters\":" << size.clusters << ",\"hosts\":" << size.hosts
            << ",\"vms\":" << size.vms << ",\"datastores\":" << size.datastores
            << ",\"networks\":" << size.networks << "}\n";
  } else {
    inv.out << "serving " << http->GetUrl() << "\n";
  }
  inv.out.flush();
  inv.err << "kortypes serve: " << server.GetObjectCount() << " objects: " << size.datacenters
          << " datacenters, " << size.clusters << " clusters, " << size.hosts << " hosts, "
          << size.vms << " virtual machines, " << size.datastores << " datastores, "
          << size.networks << " networks; root folder " << demo::kRootFolderId << "\n";

  int signal = 0;
  sigwait(&stopSignals, &signal);
  http->Stop();
  inv.err << "kortypes serve: stopped by " << (signal == SIGINT ? "SIGINT" : "SIGTERM") << " after "
          << http->GetRequestCount() << " requests on " << http->GetConnectionCount()
          << " connections\n";
  return kExitOk;
}

}  // namespace kortypes
