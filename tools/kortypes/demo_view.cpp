#include "demo_view.h"

#include <map>

#include "movel/message.h"

namespace kortypes {
namespace demo {
namespace {

// The held value of a property found by name, as the type's property
// functions give it; null when the object has no such property or it is
// unset.
const void* PeekByName(const Movel::DataObject* object, const char* name,
                       const Movel::Property** found = nullptr) {
  const Movel::DataObjectType* type = object ? object->_GetDataType() : nullptr;
  const Movel::Property* property = type ? type->FindProperty(name) : nullptr;
  if (!property) return nullptr;
  if (found) *found = property;
  const auto* owner = static_cast<const Movel::DataObjectType*>(property->GetOwner());
  return owner->GetRecord()->propPeek(object, property->GetIndex());
}

std::string TextByName(const Movel::DataObject* object, const char* name) {
  const Movel::Property* property = nullptr;
  const void* p = PeekByName(object, name, &property);
  if (!p) return std::string();
  const Movel::Type* type = property->GetType();
  if (!type || property->IsArray()) return std::string();
  const std::string& kind = type->GetName();
  if (kind == "string") return *static_cast<const std::string*>(p);
  if (kind == "int") return std::to_string(*static_cast<const int*>(p));
  if (kind == "long") return std::to_string(*static_cast<const long long*>(p));
  if (kind == "dateTime") return static_cast<const Basekit::System::DateTime*>(p)->ToString();
  if (type->IsEnum()) {
    return static_cast<const Movel::EnumType*>(type)->ToName(*static_cast<const int*>(p));
  }
  return std::string();
}

std::string ShortName(const std::string& wireName) {
  std::size_t dot = wireName.rfind('.');
  return dot == std::string::npos ? wireName : wireName.substr(dot + 1);
}

}  // namespace

std::string EventEntityName(const Movel::DataObject* event) {
  if (!event || !event->_GetDataType()) return std::string();
  static const char* const kPreferred[] = {"vm", "host", "ds", "net", "dvs", "computeResource",
                                           "datacenter"};
  for (const char* name : kPreferred) {
    const Movel::Property* property = nullptr;
    const void* p = PeekByName(event, name, &property);
    if (p && !property->IsArray()) {
      std::string text = TextByName(static_cast<const Movel::DataObject*>(p), "name");
      if (!text.empty()) return text;
    }
  }
  const Movel::Type* argument = Movel::FindType("kor.event.EntityEventArgument");
  for (const Movel::Property* property : event->_GetDataType()->GetAllProperties()) {
    const Movel::Type* type = property->GetType();
    if (property->IsArray() || !type || !type->IsDataObject() ||
        !static_cast<const Movel::StructuredType*>(type)->IsA(argument)) {
      continue;
    }
    const void* p = PeekByName(event, property->GetName().c_str());
    if (p) {
      std::string text = TextByName(static_cast<const Movel::DataObject*>(p), "name");
      if (!text.empty()) return text;
    }
  }
  return std::string();
}

std::string EventLine(const Movel::DataObject* event) {
  if (!event) return "(no event)";
  std::string user = TextByName(event, "userName");
  std::string entity = EventEntityName(event);
  std::string message = TextByName(event, "fullFormattedMessage");
  if (message.empty()) message = Movel::RenderMessage(event);
  return ShortName(event->_GetType()->GetName()) + " #" + TextByName(event, "key") + " " +
         (entity.empty() ? "-" : entity) + " " + TextByName(event, "createdTime") + " " +
         (user.empty() ? "-" : user) + ": " + message;
}

const char* KindName(DeviceChange::Kind kind) {
  switch (kind) {
    case DeviceChange::Kind::added:
      return "added";
    case DeviceChange::Kind::removed:
      return "removed";
    case DeviceChange::Kind::replaced:
      return "replaced";
    case DeviceChange::Kind::changed:
      return "changed";
  }
  return "?";
}

std::vector<DeviceChange> DiffDevices(const Movel::DataArray<Kor::Vm::Device::VirtualDevice>* before,
                                      const Movel::DataArray<Kor::Vm::Device::VirtualDevice>* after) {
  using Device = Kor::Vm::Device::VirtualDevice;
  auto label = [](const Device* d) {
    return d->PeekDeviceInfo() ? d->PeekDeviceInfo()->label : std::string();
  };
  auto make = [&](DeviceChange::Kind kind, const Device* d) {
    return DeviceChange{kind, d->key, d->_GetType()->GetName(), label(d), {}};
  };
  std::map<int, const Device*> old, now;
  if (before) {
    for (const Device* d : *before) {
      if (d) old[d->key] = d;
    }
  }
  if (after) {
    for (const Device* d : *after) {
      if (d) now[d->key] = d;
    }
  }
  std::vector<DeviceChange> changes;
  if (before) {
    for (const Device* d : *before) {
      if (d && !now.count(d->key)) changes.push_back(make(DeviceChange::Kind::removed, d));
    }
  }
  if (after) {
    for (const Device* d : *after) {
      if (!d) continue;
      auto it = old.find(d->key);
      if (it == old.end()) {
        changes.push_back(make(DeviceChange::Kind::added, d));
      } else if (it->second->_GetType() != d->_GetType()) {
        changes.push_back(make(DeviceChange::Kind::replaced, d));
      } else {
        Movel::PropertyDiffSet diff;
        it->second->_DiffProperties(d, "", diff);
        if (diff.empty()) continue;
        DeviceChange change = make(DeviceChange::Kind::changed, d);
        for (const Movel::PropertyPath& path : diff.GetChanged()) {
          const std::string& text = path.str();
          change.paths.push_back(!text.empty() && text[0] == '.' ? text.substr(1) : text);
        }
        changes.push_back(std::move(change));
      }
    }
  }
  return changes;
}

}  // namespace demo
}  // namespace kortypes
