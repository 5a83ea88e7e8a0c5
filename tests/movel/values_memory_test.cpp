// Values come from per-thread caches of blocks: blocks released on another
// thread than the one that made them, values released while a thread exits,
// and values too large for the caches all go back where they belong.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "basekit/ref.h"
#include "movel/array.h"
#include "movel/data_types.h"
#include "movel/fault.h"
#include "movel/primitive.h"

using Basekit::Ref;
using namespace Movel;

namespace {

// A value larger than any cached block.
class Bulky : public Any {
 public:
  explicit Bulky(char fill) { std::fill(std::begin(bytes), std::end(bytes), fill); }
  Type* _GetType() const override { return nullptr; }
  Any* _Clone() const override { return new Bulky(*this); }
  char bytes[4096];
};

// Values of several block sizes, each told apart by n.
std::vector<Ref<Any>> Make(int count, int n) {
  std::vector<Ref<Any>> made;
  made.reserve(static_cast<std::size_t>(count) * 4);
  for (int i = 0; i < count; ++i) {
    made.emplace_back(new Primitive<int>(n + i));
    made.emplace_back(new KeyAnyValue("k" + std::to_string(n + i), new Primitive<int>(i)));
    Ref<LocalizableMessage> m = new LocalizableMessage("m" + std::to_string(n + i));
    m->GetOrCreateArg()->Append(new KeyAnyValue("a", nullptr));
    made.emplace_back(m.Get());
    if (i % 64 == 0) made.emplace_back(new Bulky(static_cast<char>(i)));
  }
  return made;
}

bool HoldsWhatMakeMade(const std::vector<Ref<Any>>& made, int n) {
  std::size_t at = 0;
  for (int i = 0; at < made.size(); ++i) {
    const auto* box = dynamic_cast<const Primitive<int>*>(made[at++].Get());
    const auto* kv = dynamic_cast<const KeyAnyValue*>(made[at++].Get());
    const auto* m = dynamic_cast<const LocalizableMessage*>(made[at++].Get());
    if (!box || !kv || !m || box->GetValue() != n + i || kv->GetKey() != "k" + std::to_string(n + i) ||
        m->GetKey() != "m" + std::to_string(n + i) || m->GetArg()->GetLength() != 1) {
      return false;
    }
    if (i % 64 == 0) {
      const auto* bulky = dynamic_cast<const Bulky*>(made[at++].Get());
      if (!bulky || bulky->bytes[4095] != static_cast<char>(i)) return false;
    }
  }
  return true;
}

TEST(ValuesMemory, BlocksReleasedOnOtherThreadsAreReusedIntact) {
  // Made here, dropped on a worker that then exits (its cache goes back to
  // the heap); made again here and on fresh workers, each batch intact.
  for (int round = 0; round < 4; ++round) {
    std::vector<Ref<Any>> made = Make(3000, round * 10000);
    std::thread dropper([batch = std::move(made)]() mutable { batch.clear(); });
    dropper.join();
    std::vector<Ref<Any>> again;
    std::thread maker([&again, round] { again = Make(3000, round * 10000 + 5000); });
    maker.join();
    std::vector<Ref<Any>> here = Make(3000, round * 10000 + 7000);
    EXPECT_TRUE(HoldsWhatMakeMade(again, round * 10000 + 5000));
    EXPECT_TRUE(HoldsWhatMakeMade(here, round * 10000 + 7000));
    // Released here: the blocks join this thread's cache.
  }
}

TEST(ValuesMemory, ClonesOfLargeAndSmallValuesAreSeparateAndEqual) {
  std::vector<Ref<Any>> made = Make(500, 1);
  std::vector<Ref<Any>> copies;
  for (const Ref<Any>& v : made) {
    copies.emplace_back();
    copies.back().ExchangeRaw(CloneOwned(v.Get()));  // the clone's one reference
  }
  made.clear();  // the originals' blocks are free for the next values
  std::vector<Ref<Any>> next = Make(500, 90000);
  EXPECT_TRUE(HoldsWhatMakeMade(copies, 1));
  EXPECT_TRUE(HoldsWhatMakeMade(next, 90000));
}

// Held by a thread-local made before the thread's first release: its value
// is released after the thread's cache has been handed back.
struct LateHolder {
  Ref<Any> value;
};

TEST(ValuesMemory, ValuesReleasedWhileAThreadExitsGoToTheHeap) {
  std::thread worker([] {
    thread_local LateHolder holder;
    holder.value = new LocalizableMessage(std::string(100, 'x'));
    // Releases here engage this thread's cache after the holder exists.
    std::vector<Ref<Any>> made = Make(200, 3);
    made.clear();
    holder.value->IncRef();
    holder.value->DecRef();
  });
  worker.join();
  // Reaching here without the allocator's complaint is the check; a value
  // made now still works.
  Ref<LocalizableMessage> after = new LocalizableMessage("after");
  EXPECT_EQ(after->GetKey(), "after");
}

// Values may still be made with the nothrow and placement forms of new.
TEST(ValuesMemory, NothrowAndPlacementNewStillWork) {
  Ref<KeyAnyValue> a = new (std::nothrow) KeyAnyValue("a", new (std::nothrow) Primitive<int>(1));
  ASSERT_NE(a.Get(), nullptr);
  // A nothrow block serves a later value of its size once released.
  a = nullptr;
  Ref<KeyAnyValue> b = new KeyAnyValue("b", nullptr);
  EXPECT_EQ(b->GetKey(), "b");

  alignas(KeyAnyValue) unsigned char storage[sizeof(KeyAnyValue)];
  auto* placed = new (storage) KeyAnyValue("placed", nullptr);
  EXPECT_EQ(placed->GetKey(), "placed");
  Ref<KeyAnyValue> copy(static_cast<KeyAnyValue*>(placed->_Clone()));
  EXPECT_TRUE(copy->_IsEqual(placed, false));
  placed->~KeyAnyValue();
}

}  // namespace
