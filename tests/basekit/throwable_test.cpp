#include <memory>
#include <sstream>
#include <string>
#include <typeinfo>

#include <gtest/gtest.h>

#include "basekit/object.h"
#include "basekit/throwable.h"

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
  auto raise = [] { Basekit::ThrowTypeMismatchException(typeid(kortest::Expected), typeid(kortest::Box<int>)); };
  try {
    raise();
    FAIL() << "no exception";
  } catch (const TypeMismatchException& e) {
    EXPECT_EQ(e.GetExpected(), "kortest::Expected");
    EXPECT_EQ(e.GetActual(), "kortest::Box<int>");
    EXPECT_STREQ(e.what(), "type mismatch: expected kortest::Expected, got kortest::Box<int>");
    EXPECT_FALSE(e.GetBacktrace().empty());
    EXPECT_LE(e.GetBacktrace().size(), 32u);
  }
  EXPECT_THROW(raise(), Basekit::Exception);
  EXPECT_THROW(raise(), Basekit::Throwable);
  EXPECT_THROW(raise(), std::exception);
}

TEST(Throwable, CloneAndRethrowKeepTheMostDerivedClass) {
  const TypeMismatchException original(typeid(int), typeid(double));
  const Basekit::Exception& asBase = original;
  std::unique_ptr<Basekit::Exception> clone(asBase.Clone());
  EXPECT_EQ(typeid(*clone), typeid(TypeMismatchException));
  EXPECT_STREQ(clone->what(), original.what());
  EXPECT_EQ(clone->GetBacktrace(), original.GetBacktrace());
  EXPECT_THROW(clone->Rethrow(), TypeMismatchException);

  const Basekit::Exception plain("plain");
  std::unique_ptr<Basekit::Exception> plainClone(plain.Clone());
  EXPECT_EQ(typeid(*plainClone), typeid(Basekit::Exception));
  try {
    plainClone->Rethrow();
  } catch (const Basekit::Exception& e) {
    EXPECT_EQ(typeid(e), typeid(Basekit::Exception));
    EXPECT_EQ(e.GetMessage(), "plain");
  }
}

TEST(Throwable, WhereSkipsTheExceptionMachineryAndDumpListsEveryFrame) {
  // Not through Ref, whose constructor is noexcept.
  std::unique_ptr<kortest::RaisesOnFirstRef> object(new kortest::RaisesOnFirstRef);
  try {
    object->IncRef();
    FAIL() << "no exception";
  } catch (const TypeMismatchException& e) {
    const std::string where = e.Where();
    for (const char* machinery : {"Basekit::Throwable::", "Basekit::Exception::",
                                  "Basekit::TypeMismatchException::",
                                  "Basekit::ThrowTypeMismatchException"}) {
      EXPECT_NE(where.rfind(machinery, 0), 0u) << where;
    }
#ifndef NDEBUG  // an optimised build may turn the hook call into a jump
    EXPECT_EQ(where, "Basekit::ObjectImpl::IncRef() const");
#endif
    std::istringstream dump(e.Dump());
    std::string line;
    std::getline(dump, line);
    EXPECT_EQ(line, e.GetMessage());
    std::getline(dump, line);  // the frame that captured the backtrace
    EXPECT_NE(line.find("#0 0x"), std::string::npos) << line;
    EXPECT_NE(line.find("Basekit::Throwable::Throwable"), std::string::npos) << line;
    std::size_t frames = 1;
    while (std::getline(dump, line)) ++frames;
    EXPECT_EQ(frames, e.GetBacktrace().size());
  }
}

TEST(ThrowableDeathTest, PanicVerifyReportsAndAborts) {
  EXPECT_DEATH(Basekit::PanicVerify("count > 0", "pool.cpp", 42),
               "fatal: verify failed: count > 0 at pool.cpp:42");
  int count = 0;
  EXPECT_DEATH(BASEKIT_VERIFY(count == 1), "verify failed: count == 1 at .*throwable_test.cpp");
  BASEKIT_VERIFY(count == 0);
}
