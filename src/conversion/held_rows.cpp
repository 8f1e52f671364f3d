#include "conversion/held_rows.h"

#include <cstdint>
#include <cstring>

#include "platform/ado.h"
#include "support/errors.h"

namespace ferrolyte {
namespace {

template <typename T>
void Put(std::string& out, T value) {
  char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  out.append(bytes, sizeof(T));
}

void PutText(std::string& out, std::string_view text) {
  Put(out, static_cast<uint64_t>(text.size()));
  out.append(text);
}

// Reads what Put and PutText wrote, in order. The buffer is this class's own: no bounds to
// distrust, but a mismatch still fails loudly rather than reading past the row.
class Reader {
 public:
  Reader(const std::string& data, size_t at, size_t end) : data_(data), at_(at), end_(end) {}
  template <typename T>
  T Get() {
    Need(sizeof(T));
    T value;
    std::memcpy(&value, data_.data() + at_, sizeof(T));
    at_ += sizeof(T);
    return value;
  }
  std::string_view GetText() {
    const auto size = static_cast<size_t>(Get<uint64_t>());
    Need(size);
    std::string_view text(data_.data() + at_, size);
    at_ += size;
    return text;
  }
  bool done() const { return at_ == end_; }

 private:
  void Need(size_t n) const {
    if (end_ - at_ < n) throw Error(kAdoGenericError, "A held row is damaged");
  }
  const std::string& data_;
  size_t at_;
  size_t end_;
};

}  // namespace

void HeldRows::Add(std::span<const Value* const> values) {
  starts_.push_back(data_.size());
  for (const Value* value : values) {
    const Value::Kind kind = value->kind();
    data_ += static_cast<char>(kind);
    switch (kind) {
      case Value::Kind::kEmpty:
      case Value::Kind::kNull:
        break;
      case Value::Kind::kBoolean:
        data_ += value->AsBoolean() ? '\1' : '\0';
        break;
      case Value::Kind::kInteger:
        Put(data_, value->AsInteger());
        break;
      case Value::Kind::kSingle:
        Put(data_, value->AsSingle());
        break;
      case Value::Kind::kDouble:
        Put(data_, value->AsDouble());
        break;
      case Value::Kind::kDecimal:
        PutText(data_, value->DecimalText());
        break;
      case Value::Kind::kDate: {
        int64_t day = 0, ticks = 0;
        const bool precise = value->PreciseDateParts(day, ticks);
        data_ += precise ? '\1' : '\0';
        if (precise) {
          Put(data_, day);
          Put(data_, ticks);
        } else {
          Put(data_, value->DateSerial());
        }
        break;
      }
      case Value::Kind::kText:
        PutText(data_, value->Text());
        break;
      case Value::Kind::kBytes: {
        const Bytes& bytes = value->AsBytes();
        PutText(data_, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        break;
      }
      case Value::Kind::kList:
      case Value::Kind::kDictionary:
        Put(data_, static_cast<uint64_t>(others_.size()));
        others_.push_back(*value);
        break;
    }
  }
}

std::vector<Value> HeldRows::Row(size_t row) const {
  const size_t end = row + 1 < starts_.size() ? starts_[row + 1] : data_.size();
  Reader in(data_, starts_.at(row), end);
  std::vector<Value> values;
  while (!in.done()) {
    switch (static_cast<Value::Kind>(in.Get<char>())) {
      case Value::Kind::kEmpty:
        values.emplace_back();
        break;
      case Value::Kind::kNull:
        values.push_back(Value::Null());
        break;
      case Value::Kind::kBoolean:
        values.emplace_back(in.Get<char>() != 0);
        break;
      case Value::Kind::kInteger:
        values.emplace_back(in.Get<int64_t>());
        break;
      case Value::Kind::kSingle:
        values.push_back(Value::Single(in.Get<float>()));
        break;
      case Value::Kind::kDouble:
        values.emplace_back(in.Get<double>());
        break;
      case Value::Kind::kDecimal:
        values.push_back(Value::Decimal(std::string(in.GetText())));
        break;
      case Value::Kind::kDate:
        if (in.Get<char>()) {
          const auto day = in.Get<int64_t>();
          values.push_back(Value::PreciseDate(day, in.Get<int64_t>()));
        } else {
          values.push_back(Value::Date(in.Get<double>()));
        }
        break;
      case Value::Kind::kText:
        values.emplace_back(std::string(in.GetText()));
        break;
      case Value::Kind::kBytes: {
        const std::string_view bytes = in.GetText();
        values.push_back(Value::FromBytes(Bytes(bytes.begin(), bytes.end())));
        break;
      }
      case Value::Kind::kList:
      case Value::Kind::kDictionary:
        values.push_back(others_.at(static_cast<size_t>(in.Get<uint64_t>())));
        break;
    }
  }
  return values;
}

void HeldRows::Truncate(size_t rows) {
  if (rows >= starts_.size()) return;
  data_.resize(starts_[rows]);
  starts_.resize(rows);
  if (rows == 0) others_.clear();
}

}  // namespace ferrolyte
