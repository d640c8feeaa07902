#include "Value.h"

namespace standin {

Value intValue(std::int64_t value, CFNumberType type) {
  Value v;
  v.kind = Value::Kind::Integer;
  v.numberType = type;
  v.integer = value;
  return v;
}

Value wideIntValue() {
  Value v;
  v.kind = Value::Kind::WideInteger;
  return v;
}

Value floatValue(double value, CFNumberType type) {
  Value v;
  v.kind = Value::Kind::Real;
  v.numberType = type;
  v.real = value;
  return v;
}

Value boolValue(bool value) {
  Value v;
  v.kind = Value::Kind::Boolean;
  v.boolean = value;
  return v;
}

Value textValue(std::string value) {
  Value v;
  v.kind = Value::Kind::Text;
  v.text = std::move(value);
  return v;
}

Value listValue(std::vector<Value> items) {
  Value v;
  v.kind = Value::Kind::List;
  v.items = std::move(items);
  return v;
}

Value mapValue(std::vector<std::pair<Value, Value>> entries) {
  Value v;
  v.kind = Value::Kind::Map;
  for (auto& [key, value] : entries) {
    v.keys.push_back(std::move(key));
    v.items.push_back(std::move(value));
  }
  return v;
}

namespace {

Object& buildNumber(const Value& value, const std::string& label) {
  Object& number = ledger().create(Kind::Number, label);
  number.numberType = value.numberType;
  number.isFloat = value.kind == Value::Kind::Real;
  number.fitsInt64 = value.kind != Value::Kind::WideInteger;
  number.integer = value.integer;
  number.real = value.real;
  return number;
}

}  // namespace

Object& build(const Value& value, const std::string& label) {
  Ledger& books = ledger();
  switch (value.kind) {
    case Value::Kind::Integer:
    case Value::Kind::WideInteger:
    case Value::Kind::Real:
      return buildNumber(value, label);
    case Value::Kind::Boolean:
      return *books.find(value.boolean ? kCFBooleanTrue : kCFBooleanFalse, "build");
    case Value::Kind::Text: {
      Object& text = books.create(Kind::String, label);
      text.text = value.text;
      return text;
    }
    case Value::Kind::List: {
      Object& list = books.create(Kind::Array, label);
      for (std::size_t i = 0; i < value.items.size(); ++i) {
        books.contain(list, build(value.items[i], label + "[" + std::to_string(i) + "]"));
      }
      return list;
    }
    case Value::Kind::Map:
      break;
  }
  Object& map = books.create(Kind::Dictionary, label);
  for (std::size_t i = 0; i < value.keys.size(); ++i) {
    const std::string place = label + "{" + std::to_string(i) + "}";
    books.contain(map, build(value.keys[i], place + " key"));
    books.contain(map, build(value.items[i], place + " value"));
  }
  return map;
}

}  // namespace standin
