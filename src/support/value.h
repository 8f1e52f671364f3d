// The loosely typed value that settings, schema attributes and records travel in, and the
// insertion-ordered dictionary that every keyed collection of the system is.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "support/components.h"

namespace ferrolyte {

class Dictionary;
using DictionaryPtr = std::shared_ptr<Dictionary>;
using Bytes = std::vector<uint8_t>;

class Value {
 public:
  enum class Kind {
    kEmpty,  // the distinct "missing" value: reads as "", 0 and false
    kNull,   // a database null
    kBoolean,
    kInteger,  // any whole number (byte, integer, long, big integer)
    kSingle,   // single precision: formatted with 7 significant digits
    kDouble,
    kDecimal,  // currency and decimal: exact decimal text such as "-12.3400"
    kDate,     // OLE automation date: days since 1899-12-30
    kText,     // UTF-8
    kBytes,
    kList,
    kDictionary,  // shared: setting an item of a nested dictionary stores into it
  };

  Value() = default;
  Value(bool b) : data_(b) {}
  Value(int i) : data_(int64_t{i}) {}
  Value(int64_t i) : data_(i) {}
  Value(double d) : data_(d) {}
  Value(const char* s) : data_(std::string(s)) {}
  Value(std::string s) : data_(std::move(s)) {}
  Value(std::vector<Value> list) : data_(std::move(list)) {}
  Value(DictionaryPtr dict) : data_(std::move(dict)) {}

  static Value Null() { return Value(NullTag{}); }
  static Value Single(float f) { return Value(SingleTag{f}); }
  static Value Decimal(std::string text) { return Value(DecimalTag{std::move(text)}); }
  static Value Date(double ole_date) { return Value(DateTag{ole_date}); }
  // A date kept to 100 ns, which a double cannot hold far from 1899: the day counted from
  // 1899-12-30 and the 100 ns ticks into it (0 .. 863999999999). It reads everywhere as
  // the nearest OLE date; PreciseDateParts gives the exact parts back.
  static Value PreciseDate(int64_t ole_day, int64_t ticks);
  // The parts of a PreciseDate value; false for every other value.
  bool PreciseDateParts(int64_t& ole_day, int64_t& ticks) const;
  static Value FromBytes(Bytes bytes) { return Value(std::move(bytes)); }
  // A list of texts.
  static Value TextList(const std::vector<std::string>& texts);

  Kind kind() const { return static_cast<Kind>(data_.index()); }
  bool IsEmpty() const { return kind() == Kind::kEmpty; }
  bool IsNull() const { return kind() == Kind::kNull; }
  bool IsText() const { return kind() == Kind::kText; }
  bool IsList() const { return kind() == Kind::kList; }
  bool IsDictionary() const { return kind() == Kind::kDictionary; }
  // True for booleans, integers, single, double, decimal and dates.
  bool IsNumeric() const;

  // Typed access; each raises error 13 "Type mismatch" for another kind.
  bool AsBoolean() const;
  int64_t AsInteger() const;
  double AsDouble() const;  // any numeric kind, a date as its serial
  float AsSingle() const;
  const std::string& DecimalText() const;
  double DateSerial() const;
  const std::string& Text() const;
  const Bytes& AsBytes() const;
  const std::vector<Value>& List() const;
  std::vector<Value>& List();
  const DictionaryPtr& Dict() const;

  friend bool operator==(const Value& a, const Value& b);

 private:
  struct NullTag {
    bool operator==(const NullTag&) const = default;
  };
  struct SingleTag {
    float value;
    bool operator==(const SingleTag&) const = default;
  };
  struct DecimalTag {
    std::string text;
    bool operator==(const DecimalTag&) const = default;
  };
  struct DateTag {
    double serial;
    int64_t day = 0;
    int64_t ticks = -1;  // below 0: no exact parts
    bool operator==(const DateTag&) const = default;
  };
  explicit Value(NullTag t) : data_(t) {}
  explicit Value(SingleTag t) : data_(t) {}
  explicit Value(DecimalTag t) : data_(std::move(t)) {}
  explicit Value(DateTag t) : data_(t) {}
  explicit Value(Bytes b) : data_(std::move(b)) {}

  std::variant<std::monostate, NullTag, bool, int64_t, SingleTag, double, DecimalTag, DateTag,
               std::string, Bytes, std::vector<Value>, DictionaryPtr>
      data_;
};

// An ordered map from text keys to values. Keys keep the order of first insertion; reading
// a missing key yields the empty value and does not add the key.
class Dictionary : public Component {
 public:
  // Creates an empty dictionary through the component registry ("Quorvane.Dictionary").
  static DictionaryPtr Create();

  // The item under key, or the empty value when the key is missing.
  const Value& Item(const std::string& key) const;
  // Stores the item: a new key goes to the end, an existing one is replaced in place.
  void Set(const std::string& key, Value item);
  // True when the key is present.
  bool Exists(const std::string& key) const;
  // Deletes the key and its item; a missing key is ignored.
  void Remove(const std::string& key);
  // Number of keys.
  int Count() const { return static_cast<int>(entries_.size()); }
  // All keys in insertion order.
  std::vector<std::string> Keys() const;
  // All items in the same order.
  std::vector<Value> Items() const;
  // The dictionary stored under key, or null when the item is not a dictionary.
  DictionaryPtr Section(const std::string& key) const;

 private:
  using Entry = std::pair<std::string, Value>;
  std::list<Entry> entries_;
  std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};

}  // namespace ferrolyte
