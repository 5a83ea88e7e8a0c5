// One-line messages over the runtime's own types: template registration and
// lookup through the parent chain, and what rendering does with values of
// every shape, including templates that no generator checked.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "basekit/ref.h"
#include "movel/builtin.h"
#include "movel/data_types.h"
#include "movel/fault.h"
#include "movel/message.h"
#include "movel/moref.h"
#include "movel/primitive.h"

using Basekit::Ref;
using namespace Movel;

namespace {

// Registers templates for the test's duration and removes them afterwards,
// so other tests of this program see the runtime's faults as they are.
class ScopedTemplates {
 public:
  explicit ScopedTemplates(std::initializer_list<MessageTemplate> entries) : entries_(entries) {
    RegisterMessageTemplates(entries_.data(), static_cast<int>(entries_.size()));
  }
  ~ScopedTemplates() {
    for (MessageTemplate& e : entries_) e.text = nullptr;
    RegisterMessageTemplates(entries_.data(), static_cast<int>(entries_.size()));
  }

 private:
  std::vector<MessageTemplate> entries_;
};

TEST(Message, TemplatesAreFoundOnTheTypeOrItsNearestAncestor) {
  const Type* invalidType = GetDoType<Fault::InvalidType>();
  const Type* runtime = GetDoType<RuntimeFault>();
  EXPECT_EQ(FindMessageTemplate(invalidType), nullptr);
  {
    ScopedTemplates scoped({{&gTydefRuntimeFaultTypeInfo, "Runtime failure"}});
    const Type* owner = nullptr;
    EXPECT_STREQ(FindMessageTemplate(invalidType, &owner), "Runtime failure");
    EXPECT_EQ(owner, runtime);
    EXPECT_EQ(GetMessageTemplate(invalidType), nullptr);
    {
      // The nearer template wins; a later registration replaces an earlier.
      ScopedTemplates own({{&gTydefFaultInvalidTypeTypeInfo, "first"},
                           {&gTydefFaultInvalidTypeTypeInfo, "Argument {argument} has the wrong type"}});
      EXPECT_STREQ(FindMessageTemplate(invalidType, &owner), "Argument {argument} has the wrong type");
      EXPECT_EQ(owner, invalidType);
      Ref<Fault::InvalidType> fault = new Fault::InvalidType;
      fault->SetArgument(PropertyPath("spec.numCpu"));
      EXPECT_EQ(RenderMessage(fault), "Argument spec.numCpu has the wrong type");
      EXPECT_EQ(Fault::InvalidType::Exception(fault).GetMessage(), RenderMessage(fault));
    }
    // Removed again: the ancestor's applies.
    Ref<Fault::InvalidType> plain = new Fault::InvalidType;
    EXPECT_EQ(RenderMessage(plain), "Runtime failure");
  }
  EXPECT_EQ(FindMessageTemplate(invalidType), nullptr);
  // Null and empty tables register nothing.
  RegisterMessageTemplates(nullptr, 3);
  MessageTemplate one{&gTydefRuntimeFaultTypeInfo, "x"};
  RegisterMessageTemplates(&one, 0);
  EXPECT_EQ(FindMessageTemplate(runtime), nullptr);
  EXPECT_EQ(FindMessageTemplate(nullptr), nullptr);
}

TEST(Message, UncheckedTemplatesAndMissingValuesRenderReadably) {
  Ref<Fault::SystemError> fault = new Fault::SystemError("line one\nline two");
  EXPECT_EQ(RenderTemplate(fault, "{reason}"), "line one line two");
  EXPECT_EQ(RenderTemplate(fault, "{ reason } {missing} {reason.deeper} {{}}"),
            "line one line two <missing unknown> <reason.deeper unknown> {}");
  // Braces that open or close nothing stay as text.
  EXPECT_EQ(RenderTemplate(fault, "a } c {"), "a } c {");
  EXPECT_EQ(RenderTemplate(fault, "{x{reason}"), "{xline one line two");
  EXPECT_EQ(RenderTemplate(fault, "{faultCause}"), "<faultCause unset>");
  // Quoted values escape what would break the line.
  EXPECT_EQ(RenderDefault(fault), "SystemError: reason=\"line one\\nline two\"");
  EXPECT_EQ(RenderMessage(nullptr), "null");
  EXPECT_EQ(RenderTemplate(nullptr, "x"), "null");
  EXPECT_EQ(RenderDefault(nullptr), "null");
}

TEST(Message, ReferencesNestedObjectsAndListsRenderCompactly) {
  Ref<Fault::ManagedObjectNotFound> gone = new Fault::ManagedObjectNotFound;
  gone->SetObj(MakeMoRef(GetManagedObjectRootType(), "vm-42"));
  EXPECT_EQ(RenderTemplate(gone, "{obj} is gone"), "vm-42 is gone");
  EXPECT_EQ(RenderDefault(gone), "ManagedObjectNotFound: obj=tydef.ManagedObject:vm-42");

  Ref<LocalizableMessage> message = new LocalizableMessage("msg.key");
  for (int i = 0; i < 10; ++i) {
    message->GetOrCreateArg()->Append(
        new KeyAnyValue("k" + std::to_string(i), new Primitive<int>(i)));
  }
  const std::string text = RenderDefault(message);
  EXPECT_EQ(text.rfind("LocalizableMessage: key=\"msg.key\", arg=[KeyAnyValue{key=\"k0\", value=0}, "
                       "KeyAnyValue{key=\"k1\", value=1}, ",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("KeyAnyValue{key=\"k7\", value=7}, ... (2 more)]"), std::string::npos) << text;
  EXPECT_EQ(text.find("k8"), std::string::npos) << text;

  // A localizable message inside a template shows its text, else its key.
  Ref<Fault::SystemError> fault = new Fault::SystemError("x");
  fault->GetOrCreateFaultMessage()->Append(message);
  EXPECT_EQ(RenderTemplate(fault, "{faultMessage}"), "msg.key");
  message->SetMessage(std::string("Readable text"));
  EXPECT_EQ(RenderTemplate(fault, "{faultMessage}"), "Readable text");
}

TEST(Message, CausesFollowAndCyclesEnd) {
  Ref<Fault::SystemError> outer = new Fault::SystemError("outer");
  Ref<Fault::SystemError> inner = new Fault::SystemError("inner");
  outer->SetFaultCause(inner);
  EXPECT_EQ(RenderMessage(outer),
            "SystemError: reason=\"outer\" (caused by: SystemError: reason=\"inner\")");
  // A fault that is its own cause still renders, cut short.
  inner->SetFaultCause(outer);
  const std::string text = RenderMessage(outer);
  EXPECT_NE(text.find("(caused by: ...)"), std::string::npos) << text;
  EXPECT_EQ(text.find('\n'), std::string::npos);
  inner->SetFaultCause(nullptr);
}

}  // namespace
