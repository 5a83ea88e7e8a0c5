// What the demo client shows: one line per event, and the changes between
// two device lists of a virtual machine.
#pragma once

#include <string>
#include <vector>

#include "kortypes/kortypes.h"

namespace kortypes {
namespace demo {

// One line for an event: its class, key, the entity it is about, when it was
// created and by whom ("-" for the server itself), read through the runtime's
// generic property access, so every event class prints without code of its
// own. The single place that renders events for the demo.
std::string EventLine(const Movel::DataObject* event);

// The name of the entity an event is about: the most specific of the entity
// arguments it carries (virtual machine, host, datastore, network, switch,
// compute resource, datacenter, then any other entity argument), or empty.
std::string EventEntityName(const Movel::DataObject* event);

// One difference between two device lists, matched by device key.
struct DeviceChange {
  enum class Kind { added, removed, replaced, changed };
  Kind kind;
  int key;
  std::string type;  // wire name of the device class (the new one when replaced)
  std::string label;  // the device's label, when it has one
  std::vector<std::string> paths;  // changed: the differing properties
};

const char* KindName(DeviceChange::Kind kind);

// Removed devices first (old order), then added, replaced and changed ones in
// the new list's order. A device whose class differs under the same key is
// replaced; one of the same class is changed when any property differs.
std::vector<DeviceChange> DiffDevices(const Movel::DataArray<Kor::Vm::Device::VirtualDevice>* before,
                                      const Movel::DataArray<Kor::Vm::Device::VirtualDevice>* after);

}  // namespace demo
}  // namespace kortypes
