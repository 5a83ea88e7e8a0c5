// Memory of values: a per-thread cache of freed blocks, by size.
//
// Data objects, arrays and boxes are small, and whole trees of them are
// copied and dropped at once: a tree of a few thousand objects frees blocks
// of a handful of sizes by the thousand, far past what the C library keeps
// per thread for quick reuse. Each thread keeps the blocks it frees, in lists
// by size class, up to a bound, and hands them out again on allocation. A
// block freed on another thread than the one that allocated it simply joins
// the freeing thread's lists: every block comes from and goes back to the
// global heap, so threads never touch each other's lists. A thread's lists
// go back to the heap when it exits.
//
// Under the address and thread sanitizers every block goes straight to the
// heap, so their checks see each allocation and each use after free.
#include <cstddef>
#include <cstdlib>
#include <new>

#include "internal.h"
#include "movel/any.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MOVEL_VALUE_CACHE 0
#endif
#endif
#if !defined(MOVEL_VALUE_CACHE) && \
    (defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__))
#define MOVEL_VALUE_CACHE 0
#endif
#ifndef MOVEL_VALUE_CACHE
#define MOVEL_VALUE_CACHE 1
#endif

namespace Movel {

#if MOVEL_VALUE_CACHE

namespace {

constexpr std::size_t kGrain = 16;                // block sizes are multiples of this
constexpr std::size_t kClasses = 32;              // cached sizes: 16 to 512 bytes
constexpr std::size_t kCachedBytes = 2u << 20;    // per thread

std::size_t ClassOf(std::size_t size) { return (size + kGrain - 1) / kGrain - 1; }
std::size_t BlockSize(std::size_t sizeClass) { return (sizeClass + 1) * kGrain; }

struct FreeBlock {
  FreeBlock* next;
};

// The blocks a thread has freed, by class; returned to the heap when the
// thread exits.
struct Cache {
  FreeBlock* heads[kClasses] = {};
  std::size_t bytes = 0;  // held in the lists
  ~Cache() {
    for (FreeBlock* head : heads) {
      while (head) {
        FreeBlock* next = head->next;
        ::operator delete(head);
        head = next;
      }
    }
  }
};

// A block of at least size bytes: from the thread's cache, else from the
// heap rounded up to its class, so any block of a class can serve any value
// of that class later.
void* Allocate(std::size_t size, bool nothrow) {
  const std::size_t sizeClass = ClassOf(size);
  if (sizeClass < kClasses) {
    if (Cache* cache = detail::PerThread<Cache>::Peek()) {
      if (FreeBlock* block = cache->heads[sizeClass]) {
        cache->heads[sizeClass] = block->next;
        cache->bytes -= BlockSize(sizeClass);
        return block;
      }
    }
    size = BlockSize(sizeClass);
  }
  return nothrow ? ::operator new(size, std::nothrow) : ::operator new(size);
}

void Release(void* p, std::size_t size) noexcept {
  if (!p) return;
  const std::size_t sizeClass = ClassOf(size);
  if (sizeClass < kClasses) {
    Cache* cache = detail::PerThread<Cache>::Get();
    if (cache && cache->bytes + BlockSize(sizeClass) <= kCachedBytes) {
      auto* block = static_cast<FreeBlock*>(p);
      block->next = cache->heads[sizeClass];
      cache->heads[sizeClass] = block;
      cache->bytes += BlockSize(sizeClass);
      return;
    }
  }
  ::operator delete(p);
}

}  // namespace

#else  // no cache: every block to and from the heap

namespace {
void* Allocate(std::size_t size, bool nothrow) {
  return nothrow ? ::operator new(size, std::nothrow) : ::operator new(size);
}
void Release(void* p, std::size_t /*size*/) noexcept { ::operator delete(p); }
}  // namespace

#endif

void* Any::operator new(std::size_t size) { return Allocate(size, false); }
void* Any::operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, true);
}
void Any::operator delete(void* p, std::size_t size) noexcept { Release(p, size); }
// Only reached when a constructor throws after a nothrow allocation, whose
// size is not known here: such a block goes back to the heap.
void Any::operator delete(void* p, const std::nothrow_t&) noexcept { ::operator delete(p); }

}  // namespace Movel
