// Block management of the arena and the reader scratch stack.
#include "arena.hpp"

#include <cstdlib>

#if defined(__linux__) && !defined(__EMSCRIPTEN__)
#include <sys/mman.h>
#define VELMOR_HUGE_BLOCKS 1
#else
#define VELMOR_HUGE_BLOCKS 0
#endif

namespace velmor {

namespace {

constexpr std::size_t kMaxBlock = std::size_t(64) << 20;

#if VELMOR_HUGE_BLOCKS
// Blocks from this size on are mapped by the arena itself, in 2 MiB pages where the kernel offers
// them. The C library maps requests this large afresh on every call anyway (its threshold for
// keeping memory in the heap stops growing at 32 MiB), faulting each 4 KiB page in; a large page
// costs one fault instead of 512. Unmapping returns the pages as soon as the call ends.
constexpr std::size_t kHugeBlock = std::size_t(32) << 20;
constexpr std::size_t kHugePage = std::size_t(2) << 20;

// A mapping of `size` bytes (a multiple of kHugePage) starting on a kHugePage boundary.
void* map_huge(std::size_t size) {
  void* raw = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                   -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  auto start = reinterpret_cast<std::uintptr_t>(raw);
  auto aligned = (start + kHugePage - 1) & ~(std::uintptr_t(kHugePage) - 1);
  if (aligned != start) munmap(raw, aligned - start);
  std::size_t tail = kHugePage - (aligned - start);
  if (tail != 0) munmap(reinterpret_cast<char*>(aligned) + size, tail);
#ifdef MADV_HUGEPAGE
  madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<void*>(aligned);
}
#endif

}  // namespace

void Arena::release(Block* block) {
#if VELMOR_HUGE_BLOCKS
  if (block->mapped != 0) {
    munmap(block, block->mapped);
    return;
  }
#endif
  std::free(block);
}

Arena::~Arena() {
  while (head_ != nullptr) {
    Block* prev = head_->prev;
    release(head_);
    head_ = prev;
  }
}

void Arena::rewind(const Mark& m) {
  while (head_ != m.head) {
    Block* prev = head_->prev;
    release(head_);
    head_ = prev;
  }
  cur_ = m.cur;
  end_ = m.end;
  next_size_ = m.next_size;
}

void* Arena::grow(std::size_t bytes, std::size_t align) {
  std::size_t header = (sizeof(Block) + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
  if (bytes > SIZE_MAX - header - align) throw std::bad_alloc();
  std::size_t size = std::max(next_size_, header + bytes + align);
  void* raw = nullptr;
  std::size_t mapped = 0;
#if VELMOR_HUGE_BLOCKS
  if (size >= kHugeBlock && size <= SIZE_MAX - kHugePage) {
    mapped = (size + kHugePage - 1) & ~(kHugePage - 1);
    raw = map_huge(mapped);
    if (raw == nullptr) mapped = 0;
    size = mapped == 0 ? size : mapped;
  }
#endif
  if (raw == nullptr) raw = std::malloc(size);
  if (raw == nullptr) throw std::bad_alloc();
  auto* block = static_cast<Block*>(raw);
  block->prev = head_;
  block->mapped = mapped;
  head_ = block;
  cur_ = static_cast<char*>(raw) + header;
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
