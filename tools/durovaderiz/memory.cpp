#include "memory.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

namespace durovaderiz::memory {

namespace {

// Taken from the budget in steps, so that small allocations do not each touch the shared count.
constexpr size_t kChunk = 1024 * 1024;

std::atomic<size_t> g_budget{kDefaultBudget};
std::atomic<size_t> g_held{0};
thread_local Guard* t_guard = nullptr;

}  // namespace

void set_budget(size_t bytes) { g_budget.store(bytes); }
size_t budget() { return g_budget.load(); }
size_t held() { return g_held.load(); }

bool take(size_t n) {
  if (g_held.fetch_add(n) + n <= g_budget.load()) return true;
  g_held.fetch_sub(n);
  return false;
}

void give(size_t n) { g_held.fetch_sub(n); }
void add(size_t n) { g_held.fetch_add(n); }

struct Accounting {
  // False when the allocation must fail; the caller frees it.
  static bool allocated(void* p) {
    Guard* g = t_guard;
    if (!g || !p) return true;
    const size_t n = malloc_usable_size(p);
    g->used_ += n;
    if (g->used_ > g->limit_) return refuse(*g, n, Guard::Trip::Request);
    if (g->used_ > g->reserved_) {
      const size_t more = g->used_ - g->reserved_ + kChunk;
      if (!take(more)) return refuse(*g, n, Guard::Trip::Budget);
      g->reserved_ += more;
    }
    return true;
  }

  static void freeing(void* p) {
    Guard* g = t_guard;
    if (!g || !p) return;
    // Memory from before the guard was never counted, so it frees nothing of the guard's.
    g->used_ -= std::min(malloc_usable_size(p), g->used_);
    if (g->reserved_ > g->used_ + 2 * kChunk) {
      const size_t extra = g->reserved_ - g->used_ - kChunk;
      give(extra);
      g->reserved_ -= extra;
    }
  }

  static bool refuse(Guard& g, size_t n, Guard::Trip why) {
    g.used_ -= n;
    g.trip_ = why;
    return false;
  }
};

Guard::Guard(size_t limit) : outer_(t_guard), limit_(limit) {
  // Work nested in guarded work counts once, against the outer guard.
  if (!outer_) t_guard = this;
}

Guard::~Guard() {
  if (outer_) {
    if (trip_ == Trip::None) trip_ = outer_->trip_;
    return;
  }
  t_guard = nullptr;
  give(reserved_);
}

}  // namespace durovaderiz::memory

// The replaceable allocation functions, counting for the guard of the calling thread.
namespace {

using durovaderiz::memory::Accounting;

void* counted(void* p) {
  if (Accounting::allocated(p)) return p;
  std::free(p);
  return nullptr;
}

void* allocate(size_t n) {
  void* p = counted(std::malloc(n ? n : 1));
  if (!p) throw std::bad_alloc();
  return p;
}

void* allocate_aligned(size_t n, std::align_val_t al) {
  void* p = nullptr;
  const size_t align = std::max(static_cast<size_t>(al), sizeof(void*));
  if (posix_memalign(&p, align, n ? n : 1) != 0) p = nullptr;
  p = counted(p);
  if (!p) throw std::bad_alloc();
  return p;
}

void release(void* p) noexcept {
  Accounting::freeing(p);
  std::free(p);
}

}  // namespace

void* operator new(size_t n) { return allocate(n); }
void* operator new[](size_t n) { return allocate(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  try {
    return allocate(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept {
  try {
    return allocate(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new(size_t n, std::align_val_t al) { return allocate_aligned(n, al); }
void* operator new[](size_t n, std::align_val_t al) { return allocate_aligned(n, al); }
void* operator new(size_t n, std::align_val_t al, const std::nothrow_t&) noexcept {
  try {
    return allocate_aligned(n, al);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t n, std::align_val_t al, const std::nothrow_t&) noexcept {
  try {
    return allocate_aligned(n, al);
  } catch (...) {
    return nullptr;
  }
}

void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, size_t) noexcept { release(p); }
void operator delete[](void* p, size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }
