#include "support/value.h"

#include <charconv>
#include <cmath>

#include "support/errors.h"

namespace ferrolyte {
namespace {

[[noreturn]] void TypeMismatch() {
  throw Error(errc::kTypeMismatch, "Type mismatch");
}

const Value kEmptyValue;

// Locale-independent: the process locale may write numbers with a comma.
double DecimalToDouble(const std::string& text) {
  double v = 0;
  const char* b = text.data();
  const char* e = b + text.size();
  bool negative = b != e && *b == '-';
  if (negative || (b != e && *b == '+')) ++b;
  std::from_chars(b, e, v);
  return negative ? -v : v;
}

}  // namespace

Value Value::TextList(const std::vector<std::string>& texts) {
  std::vector<Value> list;
  list.reserve(texts.size());
  for (const auto& t : texts) list.emplace_back(t);
  return Value(std::move(list));
}

bool Value::IsNumeric() const {
  switch (kind()) {
    case Kind::kBoolean:
    case Kind::kInteger:
    case Kind::kSingle:
    case Kind::kDouble:
    case Kind::kDecimal:
    case Kind::kDate:
      return true;
    default:
      return false;
  }
}

bool Value::AsBoolean() const {
  if (auto* b = std::get_if<bool>(&data_)) return *b;
  TypeMismatch();
}

int64_t Value::AsInteger() const {
  if (auto* i = std::get_if<int64_t>(&data_)) return *i;
  TypeMismatch();
}

double Value::AsDouble() const {
  switch (kind()) {
    case Kind::kBoolean:
      return std::get<bool>(data_) ? -1.0 : 0.0;
    case Kind::kInteger:
      return static_cast<double>(std::get<int64_t>(data_));
    case Kind::kSingle:
      return std::get<SingleTag>(data_).value;
    case Kind::kDouble:
      return std::get<double>(data_);
    case Kind::kDecimal:
      return DecimalToDouble(std::get<DecimalTag>(data_).text);
    case Kind::kDate:
      return std::get<DateTag>(data_).serial;
    default:
      TypeMismatch();
  }
}

float Value::AsSingle() const {
  if (auto* s = std::get_if<SingleTag>(&data_)) return s->value;
  TypeMismatch();
}

const std::string& Value::DecimalText() const {
  if (auto* d = std::get_if<DecimalTag>(&data_)) return d->text;
  TypeMismatch();
}

Value Value::PreciseDate(int64_t ole_day, int64_t ticks) {
  // The OLE form counts the time forwards also before 1899-12-30, as a negative fraction.
  double fraction = static_cast<double>(ticks) / 864000000000.0;
  double day = static_cast<double>(ole_day);
  double serial = ole_day < 0 ? day - fraction : day + fraction;
  // The last 100 ns of a day must not round into the next one.
  double next = ole_day < 0 ? day - 1 : day + 1;
  if (serial == next) serial = std::nextafter(next, day);
  return Value(DateTag{serial, ole_day, ticks});
}

bool Value::PreciseDateParts(int64_t& ole_day, int64_t& ticks) const {
  auto* d = std::get_if<DateTag>(&data_);
  if (!d || d->ticks < 0) return false;
  ole_day = d->day;
  ticks = d->ticks;
  return true;
}

double Value::DateSerial() const {
  if (auto* d = std::get_if<DateTag>(&data_)) return d->serial;
  TypeMismatch();
}

const std::string& Value::Text() const {
  if (auto* s = std::get_if<std::string>(&data_)) return *s;
  TypeMismatch();
}

const Bytes& Value::AsBytes() const {
  if (auto* b = std::get_if<Bytes>(&data_)) return *b;
  TypeMismatch();
}

const std::vector<Value>& Value::List() const {
  if (auto* l = std::get_if<std::vector<Value>>(&data_)) return *l;
  TypeMismatch();
}

std::vector<Value>& Value::List() {
  if (auto* l = std::get_if<std::vector<Value>>(&data_)) return *l;
  TypeMismatch();
}

const DictionaryPtr& Value::Dict() const {
  if (auto* d = std::get_if<DictionaryPtr>(&data_)) return *d;
  TypeMismatch();
}

bool operator==(const Value& a, const Value& b) {
  return a.data_ == b.data_;
}

DictionaryPtr Dictionary::Create() {
  auto dict = std::dynamic_pointer_cast<Dictionary>(
      CreateObjectEx(SupportComponents(), "Quorvane.Dictionary"));
  if (!dict) throw Error(errc::kTypeMismatch, "Type mismatch");
  return dict;
}

const Value& Dictionary::Item(const std::string& key) const {
  auto it = index_.find(key);
  return it == index_.end() ? kEmptyValue : it->second->second;
}

void Dictionary::Set(const std::string& key, Value item) {
  auto it = index_.find(key);
  if (it != index_.end()) {
    it->second->second = std::move(item);
    return;
  }
  entries_.emplace_back(key, std::move(item));
  index_.emplace(key, std::prev(entries_.end()));
}

bool Dictionary::Exists(const std::string& key) const {
  return index_.count(key) != 0;
}

void Dictionary::Remove(const std::string& key) {
  auto it = index_.find(key);
  if (it == index_.end()) return;
  entries_.erase(it->second);
  index_.erase(it);
}

std::vector<std::string> Dictionary::Keys() const {
  std::vector<std::string> keys;
  keys.reserve(entries_.size());
  for (const auto& e : entries_) keys.push_back(e.first);
  return keys;
}

std::vector<Value> Dictionary::Items() const {
  std::vector<Value> items;
  items.reserve(entries_.size());
  for (const auto& e : entries_) items.push_back(e.second);
  return items;
}

DictionaryPtr Dictionary::Section(const std::string& key) const {
  const Value& v = Item(key);
  return v.IsDictionary() ? v.Dict() : nullptr;
}

}  // namespace ferrolyte
