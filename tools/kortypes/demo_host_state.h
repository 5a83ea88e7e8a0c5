// The network and storage state the demo server's hosts report, built with
// the host network and storage factories.
//
// Every host has the same layout, told apart by its number (addresses, MACs,
// LUN identifiers):
//
//   network  switch0: port groups "Management" and "VM Network", uplink nic0
//            switch1: port group "Storage", uplink nic1
//            vnic0 on "Management", vnic1 on "Storage"
//   storage  one local disk behind adapter hba0 (one path), formatted as the
//            host's local clustered volume; plus, when the host has one, an
//            NFS mount shared by the hosts of its datacenter.
//
// Links inside the state are keys, as the host reports them: a port group
// names its switch's key, a switch lists its port groups' keys, a multipath
// unit names its LUN, a path its adapter.
#pragma once

#include <string>

#include "basekit/datetime.h"
#include "basekit/ref.h"
#include "kortypes/kor.host.h"

namespace kortypes {
namespace demo {

// The port group virtual machines connect to; every datacenter has one
// network of this name.
extern const char* const kVmPortGroup;

struct HostLayout {
  std::string name;             // the host's name, also its DNS name
  int number = 0;               // unique within the server, from 1
  std::string localDatastore;   // name of the local volume
  std::string sharedDatastore;  // name of the shared NFS volume; empty: none
  std::string nasHost;          // server of the shared volume
};

struct HostStorageState {
  Basekit::Ref<Kor::Host::StorageDeviceInfo> devices;
  Basekit::Ref<Kor::Host::FileSystemVolumeInfo> volumes;
  Basekit::Ref<Kor::Host::MultipathStateInfo> paths;
};

Basekit::Ref<Kor::Host::NetworkInfo> BuildHostNetwork(const HostLayout& host);
HostStorageState BuildHostStorage(const HostLayout& host, Basekit::System::DateTime now);

// The URL of a mounted volume as datastores report it.
std::string VolumeUrl(const Kor::Host::FileSystemMountInfo* mount);

// The mount of the volume called name, or null.
const Kor::Host::FileSystemMountInfo* FindMount(const Kor::Host::FileSystemVolumeInfo* volumes,
                                                const std::string& name);

}  // namespace demo
}  // namespace kortypes
