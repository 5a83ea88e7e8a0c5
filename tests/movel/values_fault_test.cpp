// Faults thrown as exceptions.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "basekit/ref.h"
#include "basekit/throwable.h"
#include "movel/fault.h"

using Basekit::Ref;
using namespace Movel;

namespace {

TEST(ValuesFault, ThrownFaultIsCaughtAsAncestorsWithFaultReachable) {
  Ref<Fault::InvalidArgument> fault = new Fault::InvalidArgument;
  fault->SetInvalidProperty(PropertyPath("spec.memoryMB"));

  try {
    fault->Throw();
  } catch (const Basekit::Exception& e) {
    const auto* asMethodFault = dynamic_cast<const MethodFault::Exception*>(&e);
    ASSERT_NE(asMethodFault, nullptr);
    EXPECT_EQ(asMethodFault->GetFault(), fault.Get());
  }

  try {
    fault->Throw();
  } catch (const RuntimeFault::Exception& e) {
    EXPECT_EQ(e.GetFault(), fault.Get());
  }

  try {
    fault->Throw();
  } catch (const Fault::InvalidArgument::Exception& e) {
    ASSERT_NE(e.GetFault()->GetInvalidProperty(), nullptr);
    EXPECT_EQ(e.GetFault()->GetInvalidProperty()->str(), "spec.memoryMB");
  }
}

TEST(ValuesFault, RuntimeFaultIsAMethodFaultButNotEveryFaultIsRuntime) {
  Ref<RuntimeFault> runtime = new RuntimeFault;
  EXPECT_THROW(runtime->Throw(), MethodFault::Exception);
  EXPECT_THROW(runtime->Throw(), RuntimeFault::Exception);

  Ref<MethodFault> licenses = new Fault::NotEnoughLicenses;
  bool caughtAsRuntime = false;
  bool caughtAsOwn = false;
  try {
    licenses->Throw();
  } catch (const RuntimeFault::Exception&) {
    caughtAsRuntime = true;
  } catch (const Fault::NotEnoughLicenses::Exception&) {
    caughtAsOwn = true;
  }
  EXPECT_FALSE(caughtAsRuntime);
  EXPECT_TRUE(caughtAsOwn);
}

TEST(ValuesFault, MessageNamesTypeSetPropertiesAndFaultMessages) {
  Ref<Fault::SystemError> fault = new Fault::SystemError("disk full");
  Fault::SystemError::Exception plain(fault);
  EXPECT_EQ(plain.GetMessage(), "SystemError: reason=\"disk full\"");

  // The server's messages follow: their text, or their key without one.
  LocalizableMessage* first = new LocalizableMessage("fault.disk");
  first->SetMessage(std::string("The disk is full"));
  fault->GetOrCreateFaultMessage()->Append(first);
  fault->GetOrCreateFaultMessage()->Append(new LocalizableMessage("fault.other"));
  Fault::SystemError::Exception described(fault);
  EXPECT_EQ(described.GetMessage(),
            "SystemError: reason=\"disk full\"; The disk is full; fault.other");
  EXPECT_STREQ(described.what(), described.GetMessage().c_str());
  EXPECT_EQ(described.GetFault()->GetReason(), "disk full");

  // Without properties to show, the messages follow the name directly.
  Ref<Fault::RequestCanceled> canceled = new Fault::RequestCanceled;
  LocalizableMessage* why = new LocalizableMessage("canceled");
  why->SetMessage(std::string("The user canceled"));
  canceled->GetOrCreateFaultMessage()->Append(why);
  EXPECT_EQ(Fault::RequestCanceled::Exception(canceled).GetMessage(),
            "RequestCanceled: The user canceled");
}

TEST(ValuesFault, CloneAndRethrowKeepTheMostDerivedClassAndTheFault) {
  Ref<Fault::RequestCanceled> fault = new Fault::RequestCanceled;
  std::unique_ptr<Basekit::Exception> copy;
  try {
    fault->Throw();
  } catch (const Basekit::Exception& e) {
    copy.reset(e.Clone());
  }
  ASSERT_TRUE(copy);
  // The exception keeps the fault alive on its own.
  RuntimeFault* raw = fault.Get();
  fault.Reset();
  try {
    copy->Rethrow();
  } catch (const Fault::RequestCanceled::Exception& e) {
    EXPECT_EQ(e.GetFault(), raw);
    // Held by the stored clone and by the exception in flight.
    EXPECT_EQ(e.GetFault()->GetRefCount(), 2);
    EXPECT_THROW(e.Throw(), Fault::RequestCanceled::Exception);
  }
}

}  // namespace
