#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Ledger.h"

// A scripted Core Foundation value, kept as plain data so that every call which
// hands one out can build it afresh and the ledger can count it.
namespace standin {

struct Value {
  enum class Kind { Integer, WideInteger, Real, Boolean, Text, List, Map };
  Kind kind = Kind::Integer;
  CFNumberType numberType = kCFNumberSInt64Type;
  std::int64_t integer = 0;
  double real = 0.0;
  bool boolean = false;
  std::string text;
  std::vector<Value> items;  // a list's items, or a map's values in order
  std::vector<Value> keys;   // a map's keys, one per value
};

Value intValue(std::int64_t value, CFNumberType type = kCFNumberSInt64Type);
Value wideIntValue();  // a count wider than 64 bits
Value floatValue(double value, CFNumberType type = kCFNumberFloat64Type);
Value boolValue(bool value);
Value textValue(std::string value);
Value listValue(std::vector<Value> items);
Value mapValue(std::vector<std::pair<Value, Value>> entries);

// Fresh objects for `value`, each container holding its contents. The booleans
// are the two constants, as in Core Foundation.
Object& build(const Value& value, const std::string& label);

}  // namespace standin
