#include "basekit/throwable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <typeinfo>

#include "basekit/object.h"

namespace kortest {
struct Expected {};
template <class T>
struct Box {};

// Raises from inside ObjectImpl::IncRef, an exported library function, so the
// backtrace has a named frame just outside the exception machinery.
class RaisesOnFirstRef : public Basekit::ObjectImpl {
 protected:
  void FirstIncRef() const override {
    Basekit::ThrowTypeMismatchException(typeid(Expected), typeid(Box<int>));
  }
};
}  // namespace kortest

using Basekit::TypeMismatchException;

TEST(Throwable, TypeMismatchNamesBothClassesAndIsCatchableAsItsBases) {
  auto raise = [] {
    Basekit::ThrowTypeMismatchException(typeid(kortest::Expected), typeid(kortest::Box<int>));
  };
  try {
    raise();
  } catch (const TypeMismatchException& e) {
    EXPECT_EQ(e.GetExpected(), "kortest::Expected");
    EXPECT_EQ(e.GetActual(), "kortest::Box<int>");
    EXPECT_STREQ(e.what(), "type mismatch: expected kortest::Expected, got kortest::Box<int>");
    // The classes themselves travel too, and survive a copy across threads.
    EXPECT_TRUE(e.GetExpectedType() == typeid(kortest::Expected));
    EXPECT_TRUE(e.GetActualType() == typeid(kortest::Box<int>));
    std::unique_ptr<Basekit::Exception> copy(e.Clone());
    const auto* same = dynamic_cast<const TypeMismatchException*>(copy.get());
    ASSERT_NE(same, nullptr);
    EXPECT_TRUE(same->GetActualType() == typeid(kortest::Box<int>));
    EXPECT_FALSE(same->GetActualType() == typeid(kortest::Box<long>));
  }
  EXPECT_THROW(raise(), Basekit::Exception);
  EXPECT_THROW(raise(), Basekit::Throwable);
  EXPECT_THROW(raise(), std::exception);
}

TEST(Throwable, CloneAndRethrowKeepTheMostDerivedClass) {
  const TypeMismatchException original(typeid(int), typeid(double));
  std::unique_ptr<Basekit::Exception> clone(
      static_cast<const Basekit::Exception&>(original).Clone());
  const Basekit::Exception& cloned = *clone;
  EXPECT_EQ(typeid(cloned), typeid(TypeMismatchException));
  EXPECT_STREQ(clone->what(), original.what());
  EXPECT_EQ(clone->GetBacktrace(), original.GetBacktrace());
  EXPECT_THROW(clone->Rethrow(), TypeMismatchException);

  std::unique_ptr<Basekit::Exception> plain(Basekit::Exception("plain").Clone());
  try {
    plain->Rethrow();
  } catch (const Basekit::Exception& e) {
    EXPECT_EQ(typeid(e), typeid(Basekit::Exception));
    EXPECT_EQ(e.GetMessage(), "plain");
  }
}

TEST(Throwable, WhereSkipsTheExceptionMachineryAndDumpListsEveryFrame) {
  std::unique_ptr<kortest::RaisesOnFirstRef> object(new kortest::RaisesOnFirstRef);
  try {
    object->IncRef();  // not through Ref, whose constructor is noexcept
    FAIL() << "no exception";
  } catch (const TypeMismatchException& e) {
    EXPECT_LE(e.GetBacktrace().size(), 32u);
#ifndef NDEBUG  // an optimised build may turn the hook call into a jump
    EXPECT_EQ(e.Where(), "Basekit::ObjectImpl::IncRef() const");
#else
    EXPECT_EQ(e.Where().find("Basekit::Throw"), std::string::npos) << e.Where();
#endif
    const std::string dump = e.Dump();  // message, then frame #0: the capturing constructor
    EXPECT_EQ(dump.rfind(e.GetMessage() + "\n  #0 0x", 0), 0u) << dump;
    EXPECT_NE(dump.find("Basekit::Throwable::Throwable("), std::string::npos) << dump;
    EXPECT_EQ(static_cast<std::size_t>(std::count(dump.begin(), dump.end(), '\n')),
              e.GetBacktrace().size() + 1);
  }
}

TEST(ThrowableDeathTest, PanicVerifyReportsAndAborts) {
  EXPECT_DEATH(Basekit::PanicVerify("count > 0", "pool.cpp", 42),
               "fatal: verify failed: count > 0 at pool.cpp:42");
  int count = 0;
  EXPECT_DEATH(BASEKIT_VERIFY(count == 1), "verify failed: count == 1 at .*throwable_test.cpp");
  BASEKIT_VERIFY(count == 0);
}
