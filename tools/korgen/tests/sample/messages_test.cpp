// The sample's message templates as the generated loaders hand them to the
// runtime: one per templated type, found through the parent chain across
// modules, rendered with literal braces and enumeration values.
#include <gtest/gtest.h>

#include <string>

#include "kortypes/kortypes.h"
#include "movel/message.h"

namespace sample {
namespace {

using Basekit::Ref;

TEST(SampleMessages, LoadersRegisterEachModulesTemplates) {
  EXPECT_STREQ(Movel::GetMessageTemplate(Movel::GetDoType<Smp::SampleFault>()),
               "Sample failed: {reason}");
  EXPECT_STREQ(Movel::GetMessageTemplate(Movel::GetDoType<Smp::Extra::Leaf>()),
               "Leaf {key} at depth {depth}");
  // DeepFault (another module) has none of its own and takes SampleFault's.
  const Movel::Type* owner = nullptr;
  EXPECT_EQ(Movel::GetMessageTemplate(Movel::GetDoType<Smp::Extra::DeepFault>()), nullptr);
  EXPECT_NE(Movel::FindMessageTemplate(Movel::GetDoType<Smp::Extra::DeepFault>(), &owner), nullptr);
  EXPECT_EQ(owner, Movel::GetDoType<Smp::SampleFault>());
  EXPECT_EQ(Movel::FindMessageTemplate(Movel::GetDoType<Smp::Base>()), nullptr);
}

TEST(SampleMessages, FaultsThrowTheirRenderedLine) {
  Ref<Smp::Extra::DeepFault> deep(new Smp::Extra::DeepFault());
  Movel::SetOptionalString(deep->reason, "the disk is gone");
  deep->code = 5;
  try {
    deep->Throw();
  } catch (const Smp::SampleFault::Exception& e) {
    EXPECT_STREQ(e.what(), "Sample failed: the disk is gone");
  }
  Ref<Smp::StateFault> state(new Smp::StateFault());
  state->state = Smp::Machine::State::delete_;
  try {
    state->Throw();
  } catch (const Movel::RuntimeFault::Exception& e) {
    EXPECT_STREQ(e.what(), "The machine is delete, not {ready}");
  }
  // Data objects render too: Leaf's own template, Middle's, and Base's
  // default.
  Ref<Smp::Extra::Leaf> leaf(new Smp::Extra::Leaf());
  leaf->key = "l1";
  leaf->depth = 3;
  EXPECT_EQ(Movel::RenderMessage(leaf), "Leaf l1 at depth 3");
  Ref<Smp::Middle> middle(new Smp::Middle());
  middle->key = "m1";
  middle->weight = 12;
  EXPECT_EQ(Movel::RenderMessage(middle), "m1 weighs 12");
  Ref<Smp::Base> base(new Smp::Base());
  base->key = "b1";
  EXPECT_EQ(Movel::RenderMessage(base), "Base: key=\"b1\"");
}

}  // namespace
}  // namespace sample
