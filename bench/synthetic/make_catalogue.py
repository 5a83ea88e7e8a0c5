#!/usr/bin/env python3
"""Writes a full-size synthetic catalogue schema for footprint and build-time
measurements.

    python3 make_catalogue.py --out DIR [--seed N]

The result is a schema folder korgen accepts: a copy of the real
kor.catalogue (versions and module order) and one <module>.schema per module,
declaring every type of the complete type list (wire name, kind, module) with
invented but realistic contents:

  * totals equal to those of the complete catalogue (TARGETS below): types by
    kind, own properties, methods, parameters, flag bits, parents;
  * a property kind mix taken from the hand-written catalogue (strings first,
    then booleans, ints, references, nested objects, longs, enums, arrays of
    objects, a few date-times, binaries and anyType values);
  * parent hierarchies: faults under kor.fault.KorFault and a few runtime
    fault roots, data types under shorter-named types whose name they end with
    (kor.event.VmEvent under kor.event.Event) or under a type of their module;
  * special flags (linkable, link, secret, statistics, secret parameters and
    results) exactly where the flag list allows them, so the catalogue also
    passes the consistency checks;
  * a few types with fixed contents, so that benchmarks can build the same
    object trees on the synthetic library as on the real one: the task info
    family (kor.TaskInfo, kor.TaskReason, kor.TaskReasonUser) and the host
    network state tree (kor.host.NetworkInfo and the types below it).

Everything is drawn from one seeded random generator, so the same seed gives
byte-identical files. Class definitions that need each other (a nested type
named from another class's header) cannot be emitted, so every such reference
points to a type earlier in one fixed order, as do parents; the generated
catalogue therefore has no header cycles.
"""
import argparse
import math
import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))

# What the complete catalogue holds. The script meets every one of these
# exactly; check_catalogue.py recounts them from the written schema.
TARGETS = {
    "types.managed": 178,
    "types.data": 2158,
    "types.fault": 708,
    "types.enum": 349,
    "properties.data": 6884,
    "properties.managed": 267,
    "methods": 1132,
    "parameters": 1740,
    "methods.task": 258,
    "methods.internal": 162,
    "methods.withPrivilegeOverrides": 2,
    "methodConstants.types": 160,
    "parents.dynamicData": 1086,
    "parents.managedObject": 126,
    "parents.runtimeFault": 16,
    "parents.notEnoughLicenses": 16,
    "parents.invalidArgument": 5,
    "parents.securityError": 2,
    "parents.methodFault": 1,
    "parents.notSupported": 1,
    "redeclaresDynamicProperty": 10,
    "managedProperties.privilegeNull": 145,
    "dataProperties.withPrivilege": 11,
    "dataProperties.localizable": 56,
    "flags.array.dataProps": 1004,
    "flags.array.managedProps": 107,
    "flags.array.params": 272,
    "flags.array.results": 220,
    "flags.optional.dataProps": 3390,
    "flags.optional.managedProps": 163,
    "flags.optional.params": 468,
    "flags.optional.results": 244,
    "flags.readonly.dataProps": 2704,
    "flags.readonly.managedProps": 267,
    "flags.linkable.dataProps": 15,
    "flags.link.dataProps": 22,
    "flags.secret.dataProps": 23,
    "flags.secret.params": 8,
    "flags.secret.results": 4,
    "flags.stat.dataProps": 10,
    "flags.stat.managedProps": 1,
}

VERSIONS = ["version1", "version2", "version3", "version4", "version5", "version6", "version7",
            "version8", "version9", "version10", "dev", "r16i6", "r16i7", "r16i8", "unstable"]
VERSION_WEIGHTS = [34, 6, 2, 1, 14, 6, 9, 7, 7, 8, 2, 1, 1, 1, 1]

# The 10 types whose own property list starts with the re-declared
# dynamicProperty.
DYNAMIC_PROPERTY_TYPES = [
    "kor.DistributedVirtualSwitch.ConfigSpec", "kor.vm.device.VirtualEthernetCard",
    "kor.host.OpaqueNetworkInfo", "kor.host.OpaqueSwitch", "kor.host.VirtualNic.Specification",
    "kor.dvs.HostMember", "kor.dvs.HostMember.ConfigSpec", "kor.dvs.NetworkResourcePool.ConfigSpec",
    "kor.dvs.PortCriteria", "kor.dvs.DistributedVirtualPortgroup.ConfigSpec"]

# Runtime fault roots and how many catalogue faults sit directly on each.
RUNTIME_FAULT_PARENTS = [("tydef.RuntimeFault", 16), ("tydef.fault.NotEnoughLicenses", 16),
                         ("tydef.fault.InvalidArgument", 5), ("tydef.fault.SecurityError", 2),
                         ("tydef.fault.NotSupported", 1)]
FAULT_ROOT = "kor.fault.KorFault"  # the one fault on tydef.MethodFault

# The managed types that carry the methods whose parameters or results the
# flag list marks secret (any managed type serves when one is missing).
SECRET_METHOD_OWNERS = {
    "login": "kor.SessionManager", "loginBySessionTicket": "kor.SessionManager",
    "cloneSession": "kor.SessionManager", "acquireSessionTicket": "kor.SessionManager",
    "acquireCloneTicket": "kor.SessionManager", "queryConnectionInfo": "kor.Datacenter",
    "joinDomain": "kor.host.ActiveDirectoryAuthentication",
    "configureDatastorePrincipal": "kor.host.DatastoreSystem",
    "setNFSUser": "kor.host.StorageSystem", "changeNFSUserPassword": "kor.host.StorageSystem",
    "fetchCvolSharedSecret": "kor.host.CvolSystem", "FetchIoFilterSharedSecret": "kor.IoFilterManager",
}
OVERRIDE_OWNER = "kor.ManagedEntity"  # rename and destroy carry privilege overrides

# Link properties and the data type they refer to.
LINK_TARGETS = {
    ("kor.host.PortGroup", "vswitch"): "kor.host.VirtualSwitch",
    ("kor.host.VirtualSwitch", "portgroup"): "kor.host.PortGroup",
    ("kor.host.VirtualSwitch", "pnic"): "kor.host.PhysicalNic",
    ("kor.host.HostProxySwitch", "pnic"): "kor.host.PhysicalNic",
    ("kor.host.OpaqueSwitch", "pnic"): "kor.host.PhysicalNic",
    ("kor.host.VirtualNic", "port"): "kor.host.PortGroup.Port",
    ("kor.host.LiveMigSystem.NetConfig", "selectedVnic"): "kor.host.VirtualNic",
    ("kor.host.VirtualNicManager.NetConfig", "selectedVnic"): "kor.host.VirtualNic",
    ("kor.host.MultipathInfo.LogicalUnit", "lun"): "kor.host.ScsiLun",
    ("kor.host.MultipathInfo.Path", "adapter"): "kor.host.HostBusAdapter",
    ("kor.host.MultipathInfo.Path", "lun"): "kor.host.MultipathInfo.LogicalUnit",
    ("kor.host.ScsiTopology.Interface", "adapter"): "kor.host.HostBusAdapter",
    ("kor.host.ScsiTopology.Lun", "scsiLun"): "kor.host.ScsiLun",
    ("kor.host.PlugStoreTopology.Adapter", "adapter"): "kor.host.HostBusAdapter",
    ("kor.host.PlugStoreTopology.Adapter", "path"): "kor.host.PlugStoreTopology.Path",
    ("kor.host.PlugStoreTopology.Path", "adapter"): "kor.host.PlugStoreTopology.Adapter",
    ("kor.host.PlugStoreTopology.Path", "target"): "kor.host.PlugStoreTopology.Target",
    ("kor.host.PlugStoreTopology.Path", "device"): "kor.host.PlugStoreTopology.Device",
    ("kor.host.PlugStoreTopology.Device", "lun"): "kor.host.ScsiLun",
    ("kor.host.PlugStoreTopology.Device", "path"): "kor.host.PlugStoreTopology.Path",
    ("kor.host.PlugStoreTopology.Plugin", "device"): "kor.host.PlugStoreTopology.Device",
    ("kor.host.PlugStoreTopology.Plugin", "claimedPath"): "kor.host.PlugStoreTopology.Path",
}
# Allowed flag words of the special data-property flags (array, optional and
# read-only bits included).
SPECIAL_WORDS = {"linkable": [0x013, 0x017], "link": [0x022, 0x024, 0x026, 0x027],
                 "secret": [0x200, 0x202, 0x204], "stat": [0x403, 0x404, 0x406]}

# Property kinds and their weights, after the mix of the hand-written part of
# the catalogue. "data", "managed", "enum" and "fault" pick a catalogue type.
DATA_PROPERTY_KINDS = [
    ("string", 560), ("boolean", 188), ("int", 183), ("managed", 180), ("data", 243),
    ("long", 106), ("enum", 46), ("dateTime", 31), ("tydef.MethodFault", 20), ("fault", 6),
    ("tydef.KeyAnyValue", 15), ("short", 10), ("methodName", 5), ("typeName", 5),
    ("tydef.ManagedObject", 5), ("double", 6), ("anyType", 3), ("binary", 3),
    ("tydef.LocalizableMessage", 2), ("float", 1), ("byte", 1), ("propertyPath", 1)]
MANAGED_PROPERTY_KINDS = [("data", 55), ("managed", 35), ("string", 4), ("boolean", 2),
                          ("tydef.ManagedObject", 2), ("enum", 2)]
PARAM_KINDS = [("string", 222), ("managed", 164), ("data", 98), ("boolean", 48), ("int", 35),
               ("enum", 6), ("anyType", 6), ("tydef.ManagedObject", 3), ("tydef.MethodFault", 2),
               ("long", 2), ("dateTime", 2), ("tydef.LocalizableMessage", 1),
               ("tydef.KeyAnyValue", 1), ("methodName", 1), ("typeName", 1)]
RESULT_KINDS = [("data", 118), ("managed", 29), ("string", 24), ("boolean", 9), ("anyType", 9),
                ("long", 5), ("int", 3), ("dateTime", 1), ("enum", 1)]
METHODS_WITH_RESULT = 0.5

# How likely a property of each kind is an array (relative weights).
ARRAY_WEIGHT = {"data": 6.0, "tydef.KeyAnyValue": 9.0, "tydef.MethodFault": 7.0, "fault": 5.0,
                "managed": 2.0, "tydef.ManagedObject": 2.0, "string": 1.0, "enum": 0.6}

PROPERTY_PREFIXES = (
    "", "", "", "", "host", "vm", "port", "disk", "network", "config", "runtime", "max", "min",
    "current", "default", "total", "local", "remote", "target", "source", "primary", "backup",
    "device", "storage", "cpu", "memory", "datastore", "cluster", "switch", "uplink", "policy",
    "service", "license", "guest", "agent", "boot", "cache", "vlan", "lease", "snapshot",
    "profile", "event", "alarm", "task", "session", "user", "group", "role", "entity", "owner")
PROPERTY_NOUNS = (
    "key", "name", "id", "uuid", "label", "description", "summary", "state", "status", "mode",
    "type", "version", "path", "url", "address", "port", "count", "size", "capacity", "limit",
    "reservation", "shares", "level", "priority", "enabled", "supported", "required", "active",
    "connected", "timeout", "interval", "time", "date", "info", "spec", "config", "option",
    "value", "values", "data", "entry", "entries", "list", "map", "policy", "rule", "filter",
    "group", "member", "owner", "parent", "child", "target", "source", "host", "vm", "network",
    "datastore", "disk", "device", "controller", "adapter", "link", "speed", "bandwidth", "mtu",
    "ip", "mac", "mask", "gateway", "dns", "domain", "server", "client", "user", "password",
    "token", "ticket", "certificate", "thumbprint", "signature", "digest", "flags", "reason",
    "message", "fault", "error", "warning", "progress", "result", "usage", "stats", "metric",
    "counter", "instance", "unit", "offset", "length", "block", "sector", "extent", "partition",
    "volume", "file", "folder", "image", "backing", "mapping", "binding", "slot", "index")
VERBS = ("query", "update", "create", "remove", "reconfigure", "refresh", "retrieve", "rename",
         "move", "register", "unregister", "enable", "disable", "reset", "apply", "validate",
         "check", "change", "add", "mount", "unmount", "attach", "detach", "scan", "rescan",
         "export", "import", "upgrade", "install", "uninstall", "start", "stop", "restart",
         "mark", "clear", "compute", "estimate", "generate", "find", "search", "acquire",
         "release", "configure", "deploy", "promote", "revert", "relocate", "replicate")
ENUM_WORDS = (
    "none", "unknown", "ok", "green", "yellow", "red", "gray", "enabled", "disabled", "on", "off",
    "pending", "running", "success", "error", "failed", "queued", "canceled", "connected",
    "disconnected", "notResponding", "maintenance", "standby", "poweredOn", "poweredOff",
    "suspended", "manual", "automatic", "partiallyAutomated", "fullyAutomated", "low", "normal",
    "high", "custom", "read", "write", "readWrite", "readOnly", "ipv4", "ipv6", "dhcp", "static",
    "tcp", "udp", "inbound", "outbound", "both", "primary", "secondary", "local", "remote",
    "shared", "exclusive", "thin", "thick", "eagerZeroed", "sparse", "flat", "raw", "physical",
    "virtual", "host", "vm", "cluster", "datacenter", "folder", "network", "datastore", "add",
    "remove", "edit", "replace", "ignore", "fail", "warn", "info", "debug", "verbose", "trivia",
    "bios", "efi", "fixed", "variable", "allowed", "denied", "accept", "reject", "drop", "active",
    "passive", "loop", "fabric", "pointToPoint", "other", "legacy", "deprecated", "preview")
PRIVILEGES = ("System.View", "System.Read", "System.Anonymous", "Host.Config.Network",
              "Host.Config.Storage", "Host.Config.Settings", "Host.Config.Maintenance",
              "Host.Inventory.EditCluster", "VirtualMachine.Config.Settings",
              "VirtualMachine.Interact.PowerOn", "VirtualMachine.Provisioning.Clone",
              "Datastore.Browse", "Datastore.Config", "Network.Assign", "DVSwitch.Modify",
              "Resource.AssignVMToPool", "Global.Settings", "Global.Licenses", "Sessions.TerminateSession",
              "Extension.Register", "Alarm.Create", "ScheduledTask.Create", "Task.Update",
              "Profile.Edit", "StoragePod.Config", "Folder.Create", "Datacenter.Create")

NAMES_TO_AVOID = {"dynamicType", "dynamicProperty", "faultCause", "faultMessage"}


# -- pinned types ------------------------------------------------------------
# Types whose contents are fixed: (kind, parent, readonly, wsdl, properties,
# enum values). A property is (name, type as written, attributes).

def _p(name, typ, *attrs):
    return (name, typ, list(attrs))


PINNED = {
    # The task info family: the same declarations as the hand-written schema.
    "kor.TaskInfo": ("data", None, True, None, [
        _p("key", "string"), _p("task", "Task"),
        _p("description", "tydef.LocalizableMessage?", "since=version5"),
        _p("name", "methodName?"), _p("descriptionId", "string"), _p("entity", "ManagedEntity?"),
        _p("entityName", "string?"), _p("locked", "ManagedEntity[]?"), _p("state", "TaskInfo.State"),
        _p("cancelled", "boolean"), _p("cancelable", "boolean"), _p("error", "tydef.MethodFault?"),
        _p("result", "anyType?"), _p("progress", "int?"), _p("reason", "TaskReason"),
        _p("queueTime", "dateTime"), _p("startTime", "dateTime?"), _p("completeTime", "dateTime?"),
        _p("eventChainId", "int"), _p("changeTag", "string?", "since=version5"),
        _p("parentTaskKey", "string?", "since=version5"), _p("rootTaskKey", "string?", "since=version5"),
        _p("activationId", "string?", "since=version10")], None),
    "kor.TaskInfo.State": ("enum", None, False, None, [], ["queued", "running", "success", "error"]),
    "kor.TaskReason": ("data", None, True, None, [], None),
    "kor.TaskReasonUser": ("data", "TaskReason", True, None, [_p("userName", "string")], None),
    # The host network state tree.
    "kor.host.NetworkInfo": ("data", None, True, "HostNetworkInfo", [
        _p("vswitch", "VirtualSwitch[]?", "linkable"), _p("portgroup", "PortGroup[]?", "linkable"),
        _p("pnic", "PhysicalNic[]?", "linkable"), _p("vnic", "VirtualNic[]?"),
        _p("consoleVnic", "VirtualNic[]?"), _p("dnsConfig", "DnsConfig?"),
        _p("ipV6Enabled", "boolean?")], None),
    "kor.host.VirtualSwitch": ("data", None, True, "HostVirtualSwitch", [
        _p("name", "string"), _p("key", "string"), _p("numPorts", "int"),
        _p("numPortsAvailable", "int"), _p("mtu", "int?"), _p("portgroup", "string[]?"),
        _p("pnic", "string[]?"), _p("spec", "VirtualSwitch.Specification")], None),
    "kor.host.VirtualSwitch.Specification": ("data", None, False, "HostVirtualSwitchSpec", [
        _p("numPorts", "int"), _p("policy", "NetworkPolicy?"), _p("mtu", "int?")], None),
    "kor.host.NetworkPolicy": ("data", None, False, "HostNetworkPolicy", [
        _p("security", "NetworkPolicy.SecurityPolicy?"), _p("nicTeaming", "NetworkPolicy.NicTeamingPolicy?"),
        _p("shapingPolicy", "NetworkPolicy.TrafficShapingPolicy?"),
        _p("offloadPolicy", "NetOffloadCapabilities?")], None),
    "kor.host.NetworkPolicy.SecurityPolicy": ("data", None, False, "HostNetworkSecurityPolicy", [
        _p("allowPromiscuous", "boolean?"), _p("macChanges", "boolean?"),
        _p("forgedTransmits", "boolean?")], None),
    "kor.host.NetworkPolicy.NicFailureCriteria": ("data", None, False, "HostNicFailureCriteria", [
        _p("checkSpeed", "string?"), _p("speed", "int?"), _p("checkDuplex", "boolean?"),
        _p("fullDuplex", "boolean?"), _p("checkErrorPercent", "boolean?"), _p("percentage", "int?"),
        _p("checkBeacon", "boolean?")], None),
    "kor.host.NetworkPolicy.NicOrderPolicy": ("data", None, False, "HostNicOrderPolicy", [
        _p("activeNic", "string[]?"), _p("standbyNic", "string[]?")], None),
    "kor.host.NetworkPolicy.NicTeamingPolicy": ("data", None, False, "HostNicTeamingPolicy", [
        _p("policy", "string?"), _p("reversePolicy", "boolean?"), _p("notifySwitches", "boolean?"),
        _p("rollingOrder", "boolean?"), _p("failureCriteria", "NetworkPolicy.NicFailureCriteria?"),
        _p("nicOrder", "NetworkPolicy.NicOrderPolicy?")], None),
    "kor.host.NetworkPolicy.TrafficShapingPolicy": ("data", None, False, "HostNetworkTrafficShapingPolicy", [
        _p("enabled", "boolean?"), _p("averageBandwidth", "long?"), _p("peakBandwidth", "long?"),
        _p("burstSize", "long?")], None),
    "kor.host.NetOffloadCapabilities": ("data", None, False, "HostNetOffloadCapabilities", [
        _p("csumOffload", "boolean?"), _p("tcpSegmentation", "boolean?"),
        _p("zeroCopyXmit", "boolean?")], None),
    "kor.host.PortGroup": ("data", None, True, "HostPortGroup", [
        _p("key", "string"), _p("port", "PortGroup.Port[]?", "linkable"), _p("vswitch", "string?"),
        _p("computedPolicy", "NetworkPolicy"), _p("spec", "PortGroup.Specification")], None),
    "kor.host.PortGroup.Port": ("data", None, True, "HostPortGroupPort", [
        _p("key", "string"), _p("mac", "string[]?"), _p("type", "string")], None),
    "kor.host.PortGroup.Specification": ("data", None, False, "HostPortGroupSpec", [
        _p("name", "string"), _p("vlanId", "int"), _p("vswitchName", "string"),
        _p("policy", "NetworkPolicy")], None),
    "kor.host.PhysicalNic": ("data", None, True, "PhysicalNic", [
        _p("key", "string"), _p("device", "string"), _p("pci", "string"), _p("driver", "string"),
        _p("mac", "string"), _p("wakeOnLanSupported", "boolean"),
        _p("validLinkSpecification", "PhysicalNic.LinkSpeedDuplex[]?"),
        _p("spec", "PhysicalNic.Specification")], None),
    "kor.host.PhysicalNic.LinkSpeedDuplex": ("data", None, True, "PhysicalNicLinkInfo", [
        _p("speedMb", "int"), _p("duplex", "boolean")], None),
    "kor.host.PhysicalNic.Specification": ("data", None, False, "PhysicalNicSpec", [
        _p("ip", "IpConfig?")], None),
    "kor.host.IpConfig": ("data", None, False, "HostIpConfig", [
        _p("dhcp", "boolean"), _p("ipAddress", "string"), _p("subnetMask", "string")], None),
    "kor.host.VirtualNic": ("data", None, True, "HostVirtualNic", [
        _p("device", "string"), _p("key", "string"), _p("portgroup", "string"), _p("port", "string?"),
        _p("spec", "VirtualNic.Specification")], None),
    "kor.host.VirtualNic.Specification": ("data", None, False, "HostVirtualNicSpec", [
        _p("dynamicProperty", "tydef.DynamicProperty[]?", "rw", "since=tydef.version.version0"),
        _p("ip", "IpConfig?"), _p("mac", "string?"), _p("mtu", "int?")], None),
    "kor.host.DnsConfig": ("data", None, False, "HostDnsConfig", [
        _p("dhcp", "boolean"), _p("hostName", "string"), _p("domainName", "string"),
        _p("address", "string[]?"), _p("searchDomain", "string[]?")], None),
}

BUILTIN_KINDS = {
    "string": "primitive", "boolean": "primitive", "byte": "primitive", "short": "primitive",
    "int": "primitive", "long": "primitive", "float": "primitive", "double": "primitive",
    "dateTime": "primitive", "binary": "primitive", "typeName": "primitive",
    "methodName": "primitive", "propertyPath": "primitive", "anyType": "any",
    "tydef.KeyAnyValue": "data", "tydef.LocalizableMessage": "data", "tydef.DynamicProperty": "data",
    "tydef.MethodFault": "fault", "tydef.ManagedObject": "managed",
}
BUILTIN_WSDL = {"DynamicData", "DynamicProperty", "KeyAnyValue", "LocalizableMessage",
                "ManagedObject", "PropertyCollector", "DynamicTypeManager", "ManagedMethodExecuter",
                "PropertyChangeOp", "MethodFault", "RuntimeFault", "InvalidArgument", "InvalidType",
                "ManagedObjectNotFound", "NotEnoughLicenses", "NotSupported", "RequestCanceled",
                "SecurityError", "SystemError", "string", "boolean", "byte", "short", "int", "long",
                "float", "double", "dateTime", "binary", "typeName", "methodName", "propertyPath",
                "uri", "anyType"}
WSDL_PREFIX = {"kor.host": "Host", "kor.vm": "Vm", "kor.vm.device": "", "kor.vm.guest": "Guest",
               "kor.dvs": "DVS", "kor.cluster": "Cluster", "kor.profile.host": "", "kor.net": "Net",
               "kor.storageDrs": "StorageDrs", "kor.cvol.host": "CvolHost",
               "kor.cvol.cluster": "CvolCluster", "kor.vm.customization": "Customization"}


# -- model -------------------------------------------------------------------

class Prop:
    __slots__ = ("name", "type", "array", "optional", "ro", "special", "loc", "priv", "since")

    def __init__(self, name, typ, array=False, optional=False):
        self.name, self.type, self.array, self.optional = name, typ, array, optional
        self.ro = None
        self.special = None
        self.loc = False
        self.priv = None
        self.since = None


class Method:
    def __init__(self, name):
        self.name = name
        self.result = None  # Prop named "result", or None
        self.result_secret = False
        self.params = []
        self.task = False
        self.internal = False
        self.throws = []
        self.priv = None
        self.overrides = []
        self.since = None
        self.fixed = False


class T:
    def __init__(self, index, wire, kind, module):
        self.index, self.wire, self.kind, self.module = index, wire, kind, module
        rest = wire[len(module) + 1:]
        self.rel = rest
        self.simple = rest.rsplit(".", 1)[-1]
        self.depth = rest.count(".")
        self.outer = module + "." + rest.rsplit(".", 1)[0] if "." in rest else None
        self.parent = None
        self.readonly = False
        self.wsdl = None
        self.since = "version1"
        self.props = []
        self.methods = []
        self.values = []
        self.pinned = wire in PINNED
        self.order = 0
        self.children = 0


def weighted(rng, items):
    total = sum(w for _, w in items)
    x = rng.random() * total
    for item, w in items:
        x -= w
        if x < 0:
            return item
    return items[-1][0]


def sample_exact(rng, items, weights, k):
    """k distinct items, drawn with probability growing with weight (weighted
    sampling without replacement by exponential keys)."""
    if k <= 0:
        return []
    if k > len(items):
        raise SystemExit(f"make_catalogue: cannot pick {k} of {len(items)} items")
    keyed = sorted(((-math.log(1.0 - rng.random()) / max(w, 1e-9), i) for i, w in enumerate(weights)))
    return [items[i] for _, i in keyed[:k]]


def split_total(rng, weights, total, cap):
    """Integer counts proportional to weights, each at most cap, summing to total."""
    counts = [0] * len(weights)
    remaining = total
    active = [i for i, w in enumerate(weights) if w > 0]
    while remaining > 0 and active:
        s = sum(weights[i] for i in active)
        shares = {i: remaining * weights[i] / s for i in active}
        given = 0
        for i in active:
            add = min(int(shares[i]), cap - counts[i])
            counts[i] += add
            given += add
        remaining -= given
        # hand out what rounding left, largest remainders first
        rest = sorted(active, key=lambda i: (-(shares[i] - int(shares[i])), rng.random()))
        for i in rest:
            if remaining == 0:
                break
            if counts[i] < cap:
                counts[i] += 1
                remaining -= 1
        active = [i for i in active if counts[i] < cap]
        if given == 0 and remaining > 0 and not active:
            break
    if remaining:
        raise SystemExit("make_catalogue: the caps leave no room for the requested total")
    return counts


# -- building ----------------------------------------------------------------

class Builder:
    def __init__(self, rows, seed, flag_rows):
        self.rng = random.Random(seed)
        self.types = [T(i, w, k, m) for i, (w, k, m) in enumerate(rows)]
        self.by_name = {t.wire: t for t in self.types}
        self.modules = []
        for t in self.types:
            if t.module not in self.modules:
                self.modules.append(t.module)
        self.flag_rows = flag_rows
        self.notes = []

    def resolve(self, text, module):
        """Wire name of a type as written in a pinned declaration."""
        name = text.rstrip("?").replace("[]", "")
        if name in BUILTIN_KINDS or name.startswith("kor."):
            return name
        return module + "." + name

    # -- order and parents -------------------------------------------------

    def set_order(self):
        """One fixed order: parents and every class a header needs come first."""
        key = {}
        for t in self.types:
            first = 0 if t.wire == FAULT_ROOT else 1
            key[t.wire] = (t.depth, first, len(t.simple), self.rng.random())
        for i, t in enumerate(sorted(self.types, key=lambda t: key[t.wire])):
            t.order = i

    def depth_of_chain(self, t):
        d = 0
        while t.parent and t.parent in self.by_name:
            d += 1
            t = self.by_name[t.parent]
        return d

    def assign_parents(self):
        rng = self.rng
        for wire, decl in PINNED.items():
            t = self.by_name[wire]
            if decl[1]:
                t.parent = self.resolve(decl[1], t.module)
                self.by_name[t.parent].children += 1
        fixed = {t.wire for t in self.types if t.pinned}
        # Property names decided before the contents: those of the flag list and
        # of the fixed types. A type may not inherit a name it declares itself.
        self.fixed_names = {}
        for flag, owner, name in self.flag_rows:
            if flag in SPECIAL_WORDS:
                self.fixed_names.setdefault(owner, set()).add(name)
        for wire, decl in PINNED.items():
            self.fixed_names.setdefault(wire, set()).update(p[0] for p in decl[4])

        def chain_names(c):
            names = set(self.fixed_names.get(c.wire, ()))
            for a in self.ancestors(c):
                names |= self.fixed_names.get(a.wire, set())
            return names

        def candidates(t, suffix_only):
            out = []
            mine = self.fixed_names.get(t.wire)
            for c in self.types:
                if c.kind != t.kind or c.order >= t.order or c.wire == t.wire:
                    continue
                if self.depth_of_chain(c) >= 6:
                    continue
                if mine and mine & chain_names(c):
                    continue
                if suffix_only:
                    if c.simple != t.simple and t.simple.endswith(c.simple) and len(c.simple) >= 4:
                        out.append(c)
                else:
                    out.append(c)
            return out

        # Faults: one on tydef.MethodFault, a few on runtime faults, the rest on
        # catalogue faults (mostly the root and a handful of busy ones).
        faults = sorted((t for t in self.types if t.kind == "fault"), key=lambda t: t.order)
        root = self.by_name[FAULT_ROOT]
        root.parent = "tydef.MethodFault"
        others = [t for t in faults if t is not root]
        runtime_pick = sample_exact(rng, others, [1.0] * len(others),
                                    sum(n for _, n in RUNTIME_FAULT_PARENTS))
        i = 0
        for parent, n in RUNTIME_FAULT_PARENTS:
            for t in runtime_pick[i:i + n]:
                t.parent = parent
            i += n
        hubs = {}
        for t in others:
            if t.parent:
                continue
            cands = [c for c in faults if c.order < t.order and self.depth_of_chain(c) < 5]
            suffix = [c for c in cands if c.simple != t.simple and t.simple.endswith(c.simple)
                      and len(c.simple) >= 5]
            if suffix and rng.random() < 0.7:
                p = max(suffix, key=lambda c: len(c.simple))
            elif rng.random() < 0.45:
                p = root
            else:
                p = weighted(rng, [(c, 1 + 3 * hubs.get(c.wire, 0)) for c in cands])
            t.parent = p.wire
            hubs[p.wire] = hubs.get(p.wire, 0) + 1

        # Data types: exactly the required number on a catalogue parent.
        data = [t for t in self.types if t.kind == "data" and t.wire not in fixed]
        n_fixed = sum(1 for w in fixed if self.by_name[w].kind == "data" and self.by_name[w].parent)
        want = TARGETS["types.data"] - (TARGETS["parents.dynamicData"]) - n_fixed
        self._parent_some(data, want, candidates, fixed)

        managed = [t for t in self.types if t.kind == "managed"]
        want = TARGETS["types.managed"] - TARGETS["parents.managedObject"]
        self._parent_some(managed, want, candidates, fixed)

    def _parent_some(self, pool, want, candidates, fixed):
        rng = self.rng
        pool = sorted(pool, key=lambda t: t.order)
        suffix = {t.wire: candidates(t, True) for t in pool}
        with_suffix = [t for t in pool if suffix[t.wire]]
        chosen = set(t.wire for t in sample_exact(rng, with_suffix, [1.0] * len(with_suffix),
                                                  min(want, len(with_suffix))))
        rest = [t for t in pool if t.wire not in chosen and t.order > 0]
        # the others get a parent of their own module where one comes earlier
        same = [t for t in rest if any(c.module == t.module for c in candidates(t, False))]
        chosen |= set(t.wire for t in sample_exact(rng, same, [1.0] * len(same), want - len(chosen)))
        for t in sorted(pool, key=lambda t: t.order):
            if t.wire not in chosen:
                continue
            if suffix[t.wire]:
                p = max(suffix[t.wire], key=lambda c: (len(c.simple), -c.order))
            else:
                cands = [c for c in candidates(t, False) if c.module == t.module]
                p = weighted(rng, [(c, 1 + 4 * c.children) for c in cands])
            if self.depth_of_chain(p) >= 6:
                cands = [c for c in candidates(t, False) if c.module == t.module]
                p = weighted(rng, [(c, 1 + 4 * c.children) for c in cands])
            t.parent = p.wire
            p.children += 1

    def ancestors(self, t):
        out, name = [], t.parent
        while name in self.by_name:
            out.append(self.by_name[name])
            name = self.by_name[name].parent
        return out

    # -- versions and names --------------------------------------------------

    def assign_versions_and_wsdl(self):
        rng = self.rng
        used = set(BUILTIN_WSDL)
        for t in self.types:
            t.since = weighted(rng, list(zip(VERSIONS, VERSION_WEIGHTS)))
        for wire, decl in PINNED.items():
            self.by_name[wire].since = "version1"
            if decl[3]:
                self.by_name[wire].wsdl = decl[3]
                used.add(decl[3])
        for t in self.types:
            if t.wsdl:
                continue
            base = WSDL_PREFIX.get(t.module, "") + t.rel.replace(".", "")
            cand, n = base, 2
            while cand in used:
                cand = f"{base}{n}"
                n += 1
            used.add(cand)
            t.wsdl = cand

    def later_version(self, since):
        i = VERSIONS.index(since)
        return self.rng.choice(VERSIONS[i:])

    # -- property types ------------------------------------------------------

    def usable_from(self, t, c):
        """Whether t's header may name type c: a nested type needs its
        enclosing class complete first."""
        if c.outer is None or c.outer == t.wire:
            return True
        return self.by_name[c.outer].order < t.order

    def build_pools(self):
        self.pool = {k: [c for c in self.types if c.kind == k] for k in ("data", "managed", "enum", "fault")}
        self.pool_by_module = {}
        for c in self.types:
            self.pool_by_module.setdefault((c.kind, c.module), []).append(c)

    def pick_type(self, t, kind):
        """A catalogue type of `kind` that t may name; None when there is none."""
        rng = self.rng
        if kind == "enum":
            own = [c for c in self.pool_by_module.get(("enum", t.module), []) if c.outer == t.wire]
            if own and rng.random() < 0.75:
                return rng.choice(own)
        for _ in range(40):
            if kind in ("data", "managed", "enum") and rng.random() < 0.6:
                c = rng.choice(self.pool_by_module.get((kind, t.module)) or self.pool[kind])
            elif kind == "fault" and rng.random() < 0.4:
                c = self.by_name[FAULT_ROOT]
            else:
                c = rng.choice(self.pool[kind])
            if self.usable_from(t, c) and not (c.kind == "data" and c.wire in PINNED and not t.pinned
                                               and rng.random() < 0.8):
                return c
        return None

    def make_type_name(self, t, table):
        for _ in range(10):
            kind = weighted(self.rng, table)
            if kind in ("data", "managed", "enum", "fault"):
                c = self.pick_type(t, kind)
                if c is None:
                    continue
                return c.wire, kind
            return kind, kind
        return "string", "string"

    # -- contents ------------------------------------------------------------

    def fresh_name(self, taken, nouns=PROPERTY_NOUNS):
        rng = self.rng
        for _ in range(200):
            pre = rng.choice(PROPERTY_PREFIXES)
            noun = rng.choice(nouns)
            name = pre + noun[0].upper() + noun[1:] if pre else noun
            if name not in taken and name not in NAMES_TO_AVOID:
                taken.add(name)
                return name
        n = 2
        while f"value{n}" in taken:
            n += 1
        taken.add(f"value{n}")
        return f"value{n}"

    def inherited_names(self, t):
        names = set()
        for a in self.ancestors(t):
            names |= {p.name for p in a.props}
        return names

    def fill(self):
        rng = self.rng
        self.build_pools()
        ordered = sorted(self.types, key=lambda t: t.order)

        # Pinned contents.
        for wire, (kind, _, ro, _, props, values) in PINNED.items():
            t = self.by_name[wire]
            t.readonly = ro
            if values:
                t.values = list(values)
            for name, text, attrs in props:
                p = Prop(name, self.resolve(text, t.module), "[]" in text, text.endswith("?"))
                p.ro = ro
                for a in attrs:
                    if a == "rw":
                        p.ro = False
                    elif a.startswith("since="):
                        v = a[len("since="):]
                        p.since = v
                    elif a == "linkable":
                        p.special = ("linkable", None)
                t.props.append(p)
        for p in self.by_name["kor.host.VirtualNic.Specification"].props[:1]:
            p.special = ("dynamic", None)

        # Special data and managed properties from the flag list.
        special_props = {}  # (owner, name) -> flag
        self.secret_params, self.secret_results = [], []
        for flag, owner, name in self.flag_rows:
            if flag in ("linkable", "link", "secret", "stat"):
                special_props[(owner, name)] = flag
            elif flag == "secret-param":
                self.secret_params.append((owner, name))
            elif flag == "secret-result":
                self.secret_results.append(owner)
        for (owner, name), flag in special_props.items():
            t = self.by_name.get(owner)
            if t is None:
                self.notes.append(f"flag list names {owner}, which is not in the type list")
                continue
            existing = next((p for p in t.props if p.name == name), None)
            if t.pinned:
                if existing is None or existing.special is None or existing.special[0] != flag:
                    self.notes.append(f"{flag} {owner}.{name}: fixed contents differ, flag left out")
                continue
            if flag == "stat" and t.kind == "managed":
                p = Prop(name, self.pick_type(t, "data").wire, True, True)
                p.special = ("stat", 0x407)
            else:
                word = rng.choice(SPECIAL_WORDS[flag])
                if flag == "linkable":
                    typ = self.pick_type(t, "data").wire
                elif flag == "link":
                    typ = LINK_TARGETS.get((owner, name)) or self.pick_type(t, "data").wire
                    if not self.usable_from(t, self.by_name[typ]):
                        typ = self.pick_type(t, "data").wire
                elif flag == "secret":
                    typ = "string"
                else:
                    typ = rng.choice(["long", "int"]) if word != 0x403 else "int"
                    if name == "quickStats":
                        c = self.pick_type(t, "data")
                        typ = c.wire if c else typ
                p = Prop(name, typ, bool(word & 1), bool(word & 2))
                p.ro = bool(word & 4)
                p.special = (flag, word)
            t.props.append(p)
        for wire in DYNAMIC_PROPERTY_TYPES:
            t = self.by_name[wire]
            if t.pinned:
                continue
            p = Prop("dynamicProperty", "tydef.DynamicProperty", True, True)
            p.ro = False
            p.special = ("dynamic", 0x003)
            t.props.insert(0, p)

        # How many own properties each remaining data or fault type gets.
        data_types = [t for t in ordered if t.kind in ("data", "fault") and not t.pinned]
        already = sum(len(t.props) for t in self.types if t.kind in ("data", "fault"))
        weights = []
        for t in data_types:
            if t.kind == "fault":
                w = 0.0 if rng.random() < 0.45 else rng.lognormvariate(0.2, 0.8)
            else:
                w = 0.0 if rng.random() < 0.12 else rng.lognormvariate(0.9, 0.85)
            weights.append(w)
        counts = split_total(rng, weights, TARGETS["properties.data"] - already, 60)
        for t, n in zip(data_types, counts):
            taken = self.inherited_names(t) | {p.name for p in t.props}
            for _ in range(n):
                typ, _ = self.make_type_name(t, DATA_PROPERTY_KINDS)
                t.props.append(Prop(self.fresh_name(taken), typ))

        # Managed properties.
        managed = [t for t in ordered if t.kind == "managed"]
        already = sum(len(t.props) for t in managed)
        weights = [0.0 if rng.random() < 0.55 else rng.lognormvariate(0.5, 0.7) for _ in managed]
        counts = split_total(rng, weights, TARGETS["properties.managed"] - already, 14)
        for t, n in zip(managed, counts):
            taken = self.inherited_names(t) | {p.name for p in t.props}
            for _ in range(n):
                typ, _ = self.make_type_name(t, MANAGED_PROPERTY_KINDS)
                t.props.append(Prop(self.fresh_name(taken), typ))

        self.fill_methods(managed)
        self.fill_enums()
        self.assign_flags()

    def fill_methods(self, managed):
        rng = self.rng
        with_methods = sample_exact(rng, managed, [1.0] * len(managed), TARGETS["methodConstants.types"])
        must = {SECRET_METHOD_OWNERS.get(m) for m in SECRET_METHOD_OWNERS} | {OVERRIDE_OWNER}
        must = [self.by_name[w] for w in must if w in self.by_name and self.by_name[w].kind == "managed"]
        for t in must:
            if t not in with_methods:
                # swap out one that has no fixed method
                for i, o in enumerate(with_methods):
                    if o not in must:
                        with_methods[i] = t
                        break
        with_methods = sorted(with_methods, key=lambda t: t.order)
        # fixed methods first
        fixed_methods = {}
        for name, owner in SECRET_METHOD_OWNERS.items():
            t = self.by_name.get(owner)
            if t is None or t.kind != "managed":
                t = with_methods[0]
            fixed_methods.setdefault(t.wire, []).append(name)
        ent = self.by_name.get(OVERRIDE_OWNER)
        if ent is not None:
            fixed_methods.setdefault(ent.wire, []).extend(["rename", "destroy"])
        n_fixed = sum(len(v) for v in fixed_methods.values())
        weights = [rng.lognormvariate(1.2, 0.9) for _ in with_methods]
        counts = split_total(rng, weights, TARGETS["methods"] - n_fixed, 60)
        counts = [c + len(fixed_methods.get(t.wire, [])) for t, c in zip(with_methods, counts)]
        # every type in with_methods needs at least one method
        for i, t in enumerate(with_methods):
            if counts[i] == 0:
                j = max(range(len(counts)), key=lambda k: counts[k] - len(fixed_methods.get(with_methods[k].wire, [])))
                counts[j] -= 1
                counts[i] += 1
        all_methods = []
        # Operation names are unique across the catalogue, so a generated
        # name is used once wherever it stands.
        used_anywhere = {name for names in fixed_methods.values() for name in names}
        for t, n in zip(with_methods, counts):
            taken = set()
            for a in self.ancestors(t):
                taken |= {m.name for m in a.methods}
            prop_names = {p.name for p in t.props}
            for name in fixed_methods.get(t.wire, []):
                taken.add(name)
                m = Method(name)
                m.fixed = True
                t.methods.append(m)
            while len(t.methods) < n:
                verb = rng.choice(VERBS)
                noun = rng.choice(PROPERTY_NOUNS)
                name = verb + noun[0].upper() + noun[1:]
                if rng.random() < 0.1:
                    name += "Ex"
                if name in taken or name in prop_names or name in used_anywhere:
                    continue
                taken.add(name)
                used_anywhere.add(name)
                t.methods.append(Method(name))
            all_methods += [(t, m) for m in t.methods]
        self.all_methods = all_methods

        # Fixed parts: secret parameters and results, overrides.
        for t, m in all_methods:
            if not m.fixed:
                continue
            for owner_method, pname in self.secret_params:
                if m.name == owner_method:
                    p = Prop(pname, "string")
                    p.special = ("secret", 0x200)
                    m.params.append(p)
            if m.name in self.secret_results:
                m.result = Prop("result", "string")
                m.result_secret = True
            if t.wire == OVERRIDE_OWNER and m.name in ("rename", "destroy"):
                m.task = True
                others = [c for c in self.pool["managed"] if c is not t]
                picks = sample_exact(rng, others, [1.0] * len(others), 11 if m.name == "rename" else 14)
                verb = "Rename" if m.name == "rename" else "Delete"
                m.overrides = [(c.wire, rng.choice(["System.Read", c.simple.replace("Distributed", "DV")
                                                    + "." + verb])) for c in picks]
        # Parameter counts.
        n_fixed = sum(len(m.params) for _, m in all_methods)
        weights = [0.0 if rng.random() < 0.3 else rng.lognormvariate(0.3, 0.7) for _ in all_methods]
        counts = split_total(rng, weights, TARGETS["parameters"] - n_fixed, 12)
        for (t, m), n in zip(all_methods, counts):
            taken = {p.name for p in m.params}
            for _ in range(n):
                typ, _ = self.make_type_name(t, PARAM_KINDS)
                m.params.append(Prop(self.fresh_name(taken), typ))
            if m.result is None and rng.random() < METHODS_WITH_RESULT:
                typ, _ = self.make_type_name(t, RESULT_KINDS)
                m.result = Prop("result", typ)
            if not m.overrides:
                m.priv = rng.choice(PRIVILEGES)
            if rng.random() < 0.55:
                k = rng.choice([1, 1, 1, 2, 2, 3, 4])
                faults = []
                for _ in range(k):
                    f = self.pick_type(t, "fault")
                    if f and f.wire not in faults:
                        faults.append(f.wire)
                m.throws = faults
            if rng.random() < 0.12:
                m.since = self.later_version(t.since)

        # Task and internal flags, exactly.
        free = [(t, m) for t, m in all_methods if not m.fixed]
        fixed_tasks = sum(1 for _, m in all_methods if m.task)
        for t, m in sample_exact(rng, free, [1.0] * len(free), TARGETS["methods.task"] - fixed_tasks):
            m.task = True
        for t, m in sample_exact(rng, all_methods, [1.0] * len(all_methods), TARGETS["methods.internal"]):
            m.internal = True

    def fill_enums(self):
        rng = self.rng
        for t in self.types:
            if t.kind != "enum" or t.values:
                continue
            n = min(len(ENUM_WORDS), max(2, int(rng.lognormvariate(1.3, 0.55))))
            t.values = rng.sample(ENUM_WORDS, n)

    # -- flags ----------------------------------------------------------------

    def assign_flags(self):
        rng = self.rng
        data_props = [(t, p) for t in self.types if t.kind in ("data", "fault") for p in t.props]
        free = [(t, p) for t, p in data_props if not p.special and not t.pinned]
        fixed = [(t, p) for t, p in data_props if p.special or t.pinned]

        def kind_of(p):
            if p.type in BUILTIN_KINDS:
                return p.type
            return self.by_name[p.type].kind

        # arrays
        want = TARGETS["flags.array.dataProps"] - sum(p.array for _, p in fixed)
        for _, p in sample_exact(rng, free, [ARRAY_WEIGHT.get(kind_of(p), 0.15) for _, p in free], want):
            p.array = True
        want = TARGETS["flags.optional.dataProps"] - sum(p.optional for _, p in fixed)
        for _, p in sample_exact(rng, free, [3.0 if p.array else 1.0 for _, p in free], want):
            p.optional = True
        # read-only: whole types first, then single properties to meet the total
        want = TARGETS["flags.readonly.dataProps"] - sum(bool(p.ro) for _, p in fixed)
        types = [t for t in self.types if t.kind in ("data", "fault") and not t.pinned]
        rng.shuffle(types)
        marked = 0
        for t in types:
            n = sum(1 for p in t.props if not p.special)
            if marked + n <= want and rng.random() < 0.6:
                t.readonly = True
                marked += n
        for t in types:
            for p in t.props:
                if not p.special:
                    p.ro = t.readonly
        rest = [(t, p) for t, p in free if not p.ro]
        for _, p in sample_exact(rng, rest, [1.0] * len(rest), want - marked):
            p.ro = True
        # localizable strings and privileges
        strings = [(t, p) for t, p in free if p.type == "string" and not p.array]
        for _, p in sample_exact(rng, strings, [1.0] * len(strings), TARGETS["dataProperties.localizable"]):
            p.loc = True
        for _, p in sample_exact(rng, free, [1.0] * len(free), TARGETS["dataProperties.withPrivilege"]):
            p.priv = rng.choice(PRIVILEGES)
        for t, p in free:
            if rng.random() < 0.1:
                p.since = self.later_version(t.since)

        # managed properties
        mprops = [(t, p) for t in self.types if t.kind == "managed" for p in t.props]
        free = [(t, p) for t, p in mprops if not p.special]
        fixed_arr = sum(p.array for _, p in mprops if p.special)
        fixed_opt = sum(p.optional for _, p in mprops if p.special)
        for _, p in sample_exact(rng, free, [ARRAY_WEIGHT.get(kind_of(p), 0.15) for _, p in free],
                                 TARGETS["flags.array.managedProps"] - fixed_arr):
            p.array = True
        for _, p in sample_exact(rng, free, [2.0 if p.array else 1.0 for _, p in free],
                                 TARGETS["flags.optional.managedProps"] - fixed_opt):
            p.optional = True
        with_priv = len(mprops) - TARGETS["managedProperties.privilegeNull"]
        for _, p in sample_exact(rng, mprops, [1.0] * len(mprops), with_priv):
            p.priv = rng.choice(PRIVILEGES)
        for t, p in mprops:
            p.ro = True

        # parameters and results
        params = [p for _, m in self.all_methods for p in m.params]
        free = [p for p in params if not p.special]
        for p in sample_exact(rng, free, [ARRAY_WEIGHT.get(kind_of(p), 0.2) for p in free],
                              TARGETS["flags.array.params"]):
            p.array = True
        for p in sample_exact(rng, free, [1.0] * len(free), TARGETS["flags.optional.params"]):
            p.optional = True
        results = [m.result for _, m in self.all_methods if m.result is not None and not m.result_secret]
        for p in sample_exact(rng, results, [ARRAY_WEIGHT.get(kind_of(p), 0.3) for p in results],
                              TARGETS["flags.array.results"]):
            p.array = True
        for p in sample_exact(rng, results, [2.0 if p.array else 1.0 for p in results],
                              TARGETS["flags.optional.results"]):
            p.optional = True

    # -- writing --------------------------------------------------------------

    @staticmethod
    def relative(name, module):
        """The name as written in `module`: relative for the module's own types."""
        if name.startswith(module + "."):
            rel = name[len(module) + 1:]
            if rel[:1].isupper():
                return rel
        return name

    def type_text(self, ref, module):
        name = self.relative(ref.type, module)
        return name + ("[]" if ref.array else "") + ("?" if ref.optional else "")

    def module_text(self, module):
        out = [f"module {module}", "",
               "# Synthetic contents, written by bench/synthetic/make_catalogue.py.", ""]
        for t in self.types:
            if t.module != module:
                continue
            head = [t.kind, t.rel]
            if t.parent:
                head += [":", self.relative(t.parent, module)]
            default_wsdl = t.rel.replace(".", "")
            if t.wsdl != default_wsdl:
                head.append(f"wsdl={t.wsdl}")
            head.append(f"since={t.since}")
            if t.kind in ("data", "fault") and t.readonly:
                head.append("readonly")
            out.append(" ".join(head))
            if t.kind == "enum":
                out.append("  " + " ".join(t.values))
            default_ro = t.readonly or t.kind == "managed"
            for p in t.props:
                words = [f"  {p.name}: {self.type_text(p, module)}"]
                if p.special and p.special[0] == "dynamic":
                    words += ["rw", "since=tydef.version.version0"]
                else:
                    if t.kind != "managed" and bool(p.ro) != default_ro:
                        words.append("ro" if p.ro else "rw")
                    if p.special and p.special[0] in ("linkable", "link", "secret"):
                        words.append(p.special[0])
                    if p.special and p.special[0] == "stat":
                        words.append("stat")
                    if p.loc:
                        words.append("loc")
                    if p.priv:
                        words.append(f"priv={p.priv}")
                    if p.since and p.since != t.since:
                        words.append(f"since={p.since}")
                out.append(" ".join(words))
            for m in t.methods:
                words = [f"  method {m.name}"]
                if m.result is not None:
                    words += ["->", self.type_text(m.result, module)]
                if m.task:
                    words.append("task")
                if m.internal:
                    words.append("internal")
                if m.result_secret:
                    words.append("secret")
                if m.priv:
                    words.append(f"priv={m.priv}")
                if m.throws:
                    words.append("throws=" + ",".join(m.throws))
                if m.since and m.since != t.since:
                    words.append(f"since={m.since}")
                out.append(" ".join(words))
                for p in m.params:
                    pw = [f"    {p.name}: {self.type_text(p, module)}"]
                    if p.special:
                        pw.append("secret")
                    out.append(" ".join(pw))
                for type_name, priv in m.overrides:
                    out.append(f"    override {type_name} {priv}")
            out.append("")
        return "\n".join(out)

    def build(self):
        self.set_order()
        self.assign_parents()
        self.assign_versions_and_wsdl()
        self.fill()


def read_type_list(path):
    rows = []
    with open(path, encoding="utf-8") as fh:
        for line in fh:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            cols = line.split("\t")
            if cols[0] == "wire":
                continue
            rows.append((cols[0], cols[1], cols[2]))
    return rows


def read_flag_list(path):
    rows = []
    with open(path, encoding="utf-8") as fh:
        for line in fh:
            line = line.rstrip("\n")
            if line and not line.startswith("#"):
                rows.append(tuple(line.split("\t")))
    return rows


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", required=True, help="schema folder to write (created; old .schema files removed)")
    ap.add_argument("--seed", type=int, default=20261205)
    ap.add_argument("--catalogue", default=os.path.join(ROOT, "schema", "kor.catalogue"))
    ap.add_argument("--type-list", default=os.path.join(ROOT, "tests", "data", "catalogue-types.tsv"))
    ap.add_argument("--flag-list", default=os.path.join(ROOT, "tests", "data", "special-flags.tsv"))
    args = ap.parse_args(argv)

    b = Builder(read_type_list(args.type_list), args.seed, read_flag_list(args.flag_list))
    b.build()
    os.makedirs(args.out, exist_ok=True)
    with open(args.catalogue, encoding="utf-8") as fh:
        files = {os.path.basename(args.catalogue): fh.read()}
    for module in b.modules:
        files[module + ".schema"] = b.module_text(module)
    for f in os.listdir(args.out):
        if f.endswith((".schema", ".catalogue")) and f not in files:
            os.remove(os.path.join(args.out, f))
    written = 0
    for name, text in files.items():
        # Unchanged files keep their time stamps, so builds that depend on them
        # do not rerun.
        path = os.path.join(args.out, name)
        try:
            with open(path, encoding="utf-8") as fh:
                if fh.read() == text:
                    continue
        except FileNotFoundError:
            pass
        with open(path + ".tmp", "w", encoding="utf-8") as fh:
            fh.write(text)
        os.replace(path + ".tmp", path)
        written += 1
    for n in b.notes:
        print(f"make_catalogue: note: {n}", file=sys.stderr)
    print(f"make_catalogue: {len(b.types)} types in {len(b.modules)} modules, {written} file(s) updated in {args.out}",
          file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
