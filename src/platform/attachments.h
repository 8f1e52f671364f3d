// The files of attachment columns as Access stores them in the FileData of the column's
// hidden table.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "support/value.h"

namespace ferrolyte {

// The file a stored FileData value holds: 4 bytes of kind (0 stored as it is, 1 deflated),
// the length of the rest once inflated, then a header (its own length, a version, the
// characters of the file type, the type in UTF-16) and the file's bytes. Throws
// DamagedStructure (access_rows.h) saying why when the value is not of that form, the
// deflated part does not inflate, or the lengths disagree.
Bytes AttachmentFileBytes(std::span<const uint8_t> stored);

}  // namespace ferrolyte
