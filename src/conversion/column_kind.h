// How a column's values are written, shared by every destination: each renders a Value of the
// column in its own form (an INSERT literal, a COPY field) from this alone.
#pragma once

namespace ferrolyte {

enum class ColumnKind { kString, kNumber, kBoolean, kDateTime, kBinary, kText, kBytea };

struct ColumnSpec {
  ColumnKind kind = ColumnKind::kText;
  // Binary: a missing value is stored as an empty one, not as NULL.
  bool required = false;
  // Binary: a value over kMaxBlobSize is left out instead of failing the row.
  bool ignore_large_blobs = false;
};

// The kind that carries values of the provider's type code; unknown codes go as text.
ColumnKind KindOfType(int type);

}  // namespace ferrolyte
