#include "conversion/copy_text.h"

#include "conversion/literals.h"
#include "support/errors.h"
#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

// One stored byte as COPY's text format writes it: backslash and the control characters
// with a letter of their own escaped, everything else as it is.
void AppendCopyByte(std::string& out, char c) {
  switch (c) {
    case '\\':
      out += "\\\\";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\v':
      out += "\\v";
      return;
    case '\0':
      // The server refuses a zero byte in text either way; this keeps the refusal its own.
      out += "\\x00";
      return;
    default:
      out += c;
  }
}

// A text as the server stores it from the INSERT literal (a NUL becomes a space, which
// literals.h reports), escaped for COPY.
void AppendCopyText(std::string& out, std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    // Most text needs no change at all: copy it in runs.
    size_t run = i;
    while (i < text.size() && text[i] != '\\' && static_cast<unsigned char>(text[i]) >= 0x20) ++i;
    out.append(text, run, i - run);
    if (i >= text.size()) break;
    AppendCopyByte(out, text[i] == '\0' ? ' ' : text[i]);
    ++i;
  }
}

// What AppendSqlString quotes: the text, a float's shortest digits, or the value's text.
void AppendStringField(std::string& out, const Value& value) {
  if (value.IsText()) {
    AppendCopyText(out, value.Text());
  } else {
    AppendCopyText(out, TextForStringColumn(value));
  }
}

void AppendHex(std::string& out, const Bytes& bytes) {
  size_t start = out.size();
  out.resize(start + bytes.size() * 2);
  char* p = out.data() + start;
  for (uint8_t b : bytes) {
    *p++ = HexDigit(b >> 4);
    *p++ = HexDigit(b);
  }
}

}  // namespace

std::string CopyFromStdin(const std::string& quoted_table, const std::string& column_list) {
  std::string s = "COPY " + quoted_table;
  if (!column_list.empty()) s += " (" + column_list + ")";
  return s + " FROM stdin";
}

void AppendCopyValue(std::string& out, const ColumnSpec& column, const Value& value) {
  constexpr const char* kNull = "\\N";
  switch (column.kind) {
    case ColumnKind::kString:
    case ColumnKind::kText:
      if (value.IsNull()) {
        out += kNull;
      } else {
        AppendStringField(out, value);
      }
      return;
    case ColumnKind::kNumber:
      if (AppendNumberText(out, value)) return;
      if (value.kind() == Value::Kind::kText) {
        AppendCopyText(out, value.Text());
      } else {
        out += kNull;
      }
      return;
    case ColumnKind::kBoolean: {
      bool on = value.kind() == Value::Kind::kBoolean ? value.AsBoolean() : SafeLng(value) != 0;
      out += on ? '1' : '0';
      return;
    }
    case ColumnKind::kDateTime:
      if (!AppendDateTimeText(out, value)) out += kNull;
      return;
    case ColumnKind::kBinary: {
      // The same choices as AppendSqlBinary: an empty value is a value, a missing or left-out
      // one is empty in a required column.
      const char* empty_value = column.required ? "" : kNull;
      if (value.kind() != Value::Kind::kBytes) {
        out += empty_value;
        return;
      }
      const Bytes& bytes = value.AsBytes();
      if (bytes.size() > kMaxBlobSize) {
        if (column.ignore_large_blobs) {
          out += empty_value;
          return;
        }
        // The literal function raises the error the INSERT path raises.
        std::string unused;
        AppendSqlBinary(unused, value, false, column.required);
      }
      AppendHex(out, bytes);
      return;
    }
    case ColumnKind::kBytea:
      if (value.kind() != Value::Kind::kBytes) {
        out += kNull;
        return;
      }
      // The bytea input form \x, its backslash escaped for COPY.
      out += "\\\\x";
      AppendHex(out, value.AsBytes());
      return;
  }
}

}  // namespace ferrolyte
