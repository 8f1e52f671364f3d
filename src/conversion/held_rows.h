// Rows kept as their values in a compact form, row after row in one buffer: what an open COPY
// chunk holds so that a rejected chunk can be replayed as INSERTs. A held row takes about the
// size of its COPY line, a fraction of what Value objects would take.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "support/value.h"

namespace ferrolyte {

class HeldRows {
 public:
  // Keeps room for this many bytes, so that the buffer never moves while it fills.
  void Reserve(size_t bytes) { data_.reserve(bytes); }
  void Add(std::span<const Value* const> values);
  // The values of the row, as they were added.
  std::vector<Value> Row(size_t row) const;
  // Forgets the rows from `rows` on.
  void Truncate(size_t rows);
  void Clear() { Truncate(0); }

  size_t rows() const { return starts_.size(); }
  size_t bytes() const { return data_.size(); }

 private:
  std::string data_;
  std::vector<size_t> starts_;
  // Values of kinds no row holds (lists, dictionaries), kept whole.
  std::vector<Value> others_;
};

}  // namespace ferrolyte
