// Failure answers shared by generated server code.
#include "movel/dispatch_support.h"

#include <string>

#include "movel/data_types.h"
#include "movel/fault.h"

namespace Movel {

void ThrowNotImplemented(const char* operation) {
  Basekit::Ref<Fault::NotSupported> fault(new Fault::NotSupported());
  Basekit::Ref<LocalizableMessage> message(new LocalizableMessage("movel.fault.NotImplemented"));
  message->SetMessage(std::string("operation not implemented: ") + operation);
  Basekit::Ref<DataArray<LocalizableMessage>> messages(new DataArray<LocalizableMessage>());
  messages->Append(message.Get());
  fault->SetFaultMessage(messages.Get());
  throw Fault::NotSupported::Exception(fault.Get());
}

}  // namespace Movel
