// The size of the complete catalogue: per module the number of types it
// holds, and the totals over all modules. `stats` shows the schema's progress
// toward them.
#pragma once

namespace kortypes {

struct ModuleTarget {
  const char* module;
  int managed, dataAndFault, enums;
};

inline constexpr ModuleTarget kModuleTargets[] = {
    {"kor", 66, 306, 65},
    {"kor.fault", 0, 716, 29},
    {"kor.net", 0, 21, 5},
    {"kor.vm", 5, 125, 42},
    {"kor.vm.device", 0, 191, 21},
    {"kor.vm.guest", 6, 32, 2},
    {"kor.host", 48, 427, 87},
    {"kor.cluster", 2, 88, 20},
    {"kor.event", 2, 474, 11},
    {"kor.action", 0, 7, 1},
    {"kor.option", 1, 10, 1},
    {"kor.alarm", 2, 19, 6},
    {"kor.scheduler", 2, 14, 2},
    {"kor.view", 6, 0, 0},
    {"kor.dvs", 4, 158, 22},
    {"kor.vm.customization", 1, 39, 3},
    {"kor.vm.check", 2, 2, 1},
    {"kor.vApp", 0, 19, 5},
    {"kor.profile", 3, 45, 2},
    {"kor.profile.host", 3, 70, 7},
    {"kor.profile.host.profileEngine", 3, 9, 0},
    {"kor.profile.cluster", 2, 5, 1},
    {"kor.ext", 0, 5, 0},
    {"kor.storageDrs", 0, 24, 5},
    {"kor.cbrc", 0, 8, 0},
    {"kor.modularity", 8, 10, 2},
    {"kor.cvol.cluster", 0, 2, 0},
    {"kor.cvol.host", 0, 19, 5},
    {"kor.external", 6, 0, 0},
    {"kor.vdcs", 2, 5, 2},
    {"kor.rvob", 1, 13, 2},
    {"kor.internal", 3, 3, 0},
};

// Totals of the complete catalogue, in the order of the stats columns.
struct CatalogueTotals {
  long long managed = 178, data = 2158, fault = 708, enums = 349;
  long long dataProperties = 6884, managedProperties = 267;
  long long methods = 1132, parameters = 1740, methodObjects = 1399;
  long long arrayProperties = 1004 + 107, optionalProperties = 3390 + 163;
};

}  // namespace kortypes
