#pragma once
// Reading a fuzz input as a sequence of small fields. Every read succeeds:
// past the end of the input it yields zeros and empty chunks, so a harness
// never has to reject an input.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace qarn::fuzz {

class FuzzBytes {
 public:
  FuzzBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool empty() const { return used_ >= size_; }
  size_t left() const { return size_ - used_; }

  uint8_t Byte() { return used_ < size_ ? data_[used_++] : 0; }
  uint16_t Word() {
    const uint16_t low = Byte();
    return static_cast<uint16_t>(low | Byte() << 8);
  }

  // Up to `count` bytes (fewer at the end of the input).
  std::string Chunk(size_t count) {
    const size_t n = count < left() ? count : left();
    std::string chunk(reinterpret_cast<const char*>(data_ + used_), n);
    used_ += n;
    return chunk;
  }
  std::string Rest() { return Chunk(left()); }

  // Chunks of a 16-bit length prefix each (taken modulo `max_length` + 1),
  // at most `max_count` of them.
  std::vector<std::string> Chunks(size_t max_length, size_t max_count) {
    std::vector<std::string> chunks;
    while (!empty() && chunks.size() < max_count) chunks.push_back(Chunk(Word() % (max_length + 1)));
    return chunks;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t used_ = 0;
};

}  // namespace qarn::fuzz
