// One budget for the memory that all requests hold together: their bodies and answers, taken
// by the server, and what their document work allocates, counted by a guard around that work.
// The stand-in replaces the global operator new for this: only a thread inside a guard is
// counted, and only its C++ allocations (qpdf keeps everything it decodes in those).
#pragma once

#include <cstddef>

namespace durovaderiz::memory {

inline constexpr size_t kDefaultBudget = 640u * 1024 * 1024;

void set_budget(size_t bytes);
size_t budget();
size_t held();

// False, and nothing taken, when `n` more would pass the budget.
bool take(size_t n);
void give(size_t n);
// Counts `n` whatever the budget says: memory that is already there, such as a finished answer.
void add(size_t n);

// While it lives, this thread's allocations count against the budget and against `limit` of
// their own; one past either fails with std::bad_alloc and is remembered.
class Guard {
 public:
  enum class Trip { None, Request, Budget };

  explicit Guard(size_t limit);
  ~Guard();
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

  Trip tripped() const { return trip_; }

 private:
  friend struct Accounting;
  Guard* outer_;
  size_t limit_;
  size_t used_ = 0;      // allocated within the guard and not yet freed
  size_t reserved_ = 0;  // taken from the budget, in chunks ahead of use
  Trip trip_ = Trip::None;
};

}  // namespace durovaderiz::memory
