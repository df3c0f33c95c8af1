#pragma once
// A view of consecutive words numbered from 1, the way block_kinds.h numbers a block's words and
// the dictionary numbers a descriptor's: a block copied out of the pool, a descriptor, one entry
// or pair inside a block. Every access is checked against the view's length, so a count or an
// offset read from a damaged block can never lead outside the words viewed; readers test their
// counts first and report a bad one, and a read outside the view is a fault of the reader (it
// throws std::out_of_range). The words must outlive the view.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace dbio {

class WordView {
 public:
  WordView() = default;
  // `first` points to `count` words; a negative count throws std::invalid_argument.
  WordView(const int32_t* first, int64_t count) : first_(first), count_(count) {
    if (count < 0) throw std::invalid_argument("a view of " + std::to_string(count) + " words");
  }
  explicit WordView(const std::vector<int32_t>& words) : WordView(words.data(), static_cast<int64_t>(words.size())) {}
  explicit WordView(std::vector<int32_t>&&) = delete;  // the words would not outlive the view

  int64_t size() const { return count_; }

  // Word k, 1 <= k <= size().
  int32_t operator()(int64_t k) const {
    if (k < 1 || k > count_) [[unlikely]] fault(k, 1);
    return first_[k - 1];
  }

  // Words k .. k + n - 1 (n >= 0; k = size() + 1 with n = 0 is the empty end) as a view that
  // numbers them from 1 again.
  WordView part(int64_t k, int64_t n) const {
    if (k < 1 || n < 0 || k - 1 > count_ || n > count_ - (k - 1)) [[unlikely]] fault(k, n);
    return WordView(first_ + (k - 1), n);
  }

  // The words viewed as a range, for copying and comparing them as a whole.
  const int32_t* begin() const { return first_; }
  const int32_t* end() const { return first_ + count_; }

 private:
  [[noreturn]] void fault(int64_t k, int64_t n) const {
    throw std::out_of_range(std::to_string(n) + " words from word " + std::to_string(k) + " lie outside a view of " +
                            std::to_string(count_) + " words");
  }

  const int32_t* first_ = nullptr;
  int64_t count_ = 0;
};

}  // namespace dbio
