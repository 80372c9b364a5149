// Block management of the arena and the reader scratch stack.
#include "arena.hpp"

#include <cstdlib>
#include <utility>

namespace velmor {

namespace {
constexpr std::size_t kMaxBlock = std::size_t(64) << 20;
}

Arena::~Arena() {
  while (head_ != nullptr) {
    Block* prev = head_->prev;
    std::free(head_);
    head_ = prev;
  }
}

void Arena::rewind(const Mark& m) {
  while (head_ != m.head) {
    Block* prev = head_->prev;
    std::free(head_);
    head_ = prev;
  }
  cur_ = m.cur;
  end_ = m.end;
  next_size_ = m.next_size;
}

void* Arena::grow(std::size_t bytes, std::size_t align) {
  std::size_t header = (sizeof(Block) + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
  std::size_t lead = std::exchange(lead_, 0);
  if (bytes > SIZE_MAX - header - align || lead > SIZE_MAX - header - bytes - align ||
      next_size_ > SIZE_MAX - lead) {
    throw std::bad_alloc();
  }
  std::size_t size = std::max(next_size_, header + bytes + align) + lead;
  void* raw = std::malloc(size);
  if (raw == nullptr) throw std::bad_alloc();
  auto* block = static_cast<Block*>(raw);
  block->prev = head_;
  head_ = block;
  cur_ = static_cast<char*>(raw) + header + lead;
  end_ = static_cast<char*>(raw) + size;
  next_size_ = std::min(next_size_ * 2, kMaxBlock);
  return allocate(bytes, align);
}

void Scratch::grow(std::size_t need) {
  std::size_t cap = std::max<std::size_t>(cap_ * 2, 4096);
  while (cap - size_ < need) {
    if (cap > SIZE_MAX / 2) throw std::bad_alloc();
    cap *= 2;
  }
  void* p = std::realloc(buf_, cap);
  if (p == nullptr) throw std::bad_alloc();
  buf_ = static_cast<char*>(p);
  cap_ = cap;
}

}  // namespace velmor
