// Probes of the fault conformance test: one per fault class, generated from
// the catalogue (make_fault_probes.py) or written here for the runtime's own
// faults.
#pragma once

#include <typeinfo>
#include <vector>

#include "basekit/throwable.h"
#include "movel/fault.h"
#include "movel/records.h"

namespace kortest {

struct FaultProbe {
  const Movel::TypeInfo* type;
  // The fault class's nested Exception.
  const std::type_info* exception;
  // Throws a copy of e; the fault the copy carries when it is caught as the
  // fault class's Exception (reached through that class's GetFault), else
  // null.
  const Movel::MethodFault* (*caughtAs)(const Basekit::Exception& e);
};

template <class F>
const Movel::MethodFault* CaughtAs(const Basekit::Exception& e) {
  try {
    e.Rethrow();
  } catch (const typename F::Exception& caught) {
    const F* fault = caught.GetFault();
    return fault;
  } catch (...) {
  }
  return nullptr;
}

// Every generated probe, in catalogue order.
std::vector<FaultProbe> GeneratedFaultProbes();

}  // namespace kortest
