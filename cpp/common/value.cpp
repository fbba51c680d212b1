#include "common/value.hpp"

#include <cmath>
#include <cstring>
#include <limits>

namespace qv {

namespace {

// %.200s: at most 200 code points of a UTF-8 text.
std::string cut200(const std::string& s) {
  std::size_t n = 0, i = 0;
  while (i < s.size()) {
    if (n == 200) return s.substr(0, i);
    unsigned char c = static_cast<unsigned char>(s[i]);
    i += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    ++n;
  }
  return s;
}

}  // namespace

KeyError::KeyError(std::u32string k) : Error(to_utf8(k)), key(std::move(k)) {}

OSError::OSError(int e, std::string file)
    : Error(std::string(std::strerror(e)) + ": '" + file + "'"), errnum(e),
      filename(std::move(file)) {}

std::string argument_type_message(const std::string& name, const std::string& expected,
                                  const std::string& got) {
  return "Argument '" + cut200(name) + "' has incorrect type (expected " + cut200(expected) +
         ", got " + cut200(got) + ")";
}

void throw_argument_type(const std::string& name, const std::string& expected,
                         const std::string& got) {
  throw TypeError(argument_type_message(name, expected, got));
}

void throw_expected(const std::string& expected, const std::string& got) {
  throw TypeError("Expected " + expected + ", got " + cut200(got));
}

std::string Value::kind_name() const {
  switch (kind()) {
    case Kind::Null: return "NoneType";
    case Kind::Bool: return "bool";
    case Kind::Int:
    case Kind::BigInt: return "int";
    case Kind::Real: return "float";
    case Kind::Text: return "str";
    case Kind::List: return "list";
    case Kind::Record: return "dict";
    case Kind::Foreign: return std::get<Foreign>(v).kind;
  }
  return "object";
}

const Text& Value::text() const {
  if (!is_text()) throw_expected("str", kind_name());
  return as_text();
}

const RecordPtr& Value::record() const {
  if (!is_record()) throw_expected("dict", kind_name());
  return as_record();
}

const ListPtr& Value::list() const {
  if (!is_list()) throw_expected("list", kind_name());
  return as_list();
}

bool Value::boolean() const {
  if (!is_bool()) throw_expected("bool", kind_name());
  return as_bool();
}

double Value::number() const {
  switch (kind()) {
    case Kind::Int: return static_cast<double>(as_int64());
    case Kind::BigInt: return std::get<BigInt>(v).approx;
    case Kind::Real: return as_real();
    default: throw TypeError("Expected a number, got " + cut200(kind_name()));
  }
}

std::int64_t Value::integer() const {
  if (kind() == Kind::Int) return as_int64();
  if (kind() == Kind::BigInt)
    throw ValueError("integer too large: " + std::get<BigInt>(v).decimal);
  throw_expected("int", kind_name());
}

bool Value::truthy() const {
  switch (kind()) {
    case Kind::Null: return false;
    case Kind::Bool: return as_bool();
    case Kind::Int: return as_int64() != 0;
    case Kind::BigInt: return true;
    case Kind::Real: return as_real() != 0.0;
    case Kind::Text: return !as_text().empty();
    case Kind::List: return !as_list()->empty();
    case Kind::Record: return !as_record()->empty();
    case Kind::Foreign: return true;
  }
  return true;
}

const Value* Record::find(TextView key) const {
  for (const auto& kv : items)
    if (kv.first == key) return &kv.second;
  return nullptr;
}

Value* Record::find(TextView key) {
  for (auto& kv : items)
    if (kv.first == key) return &kv.second;
  return nullptr;
}

const Value& Record::at(TextView key) const {
  if (const Value* v = find(key)) return *v;
  throw KeyError(Text(key));
}

void Record::set(TextView key, Value v) {
  if (Value* slot = find(key)) {
    *slot = std::move(v);
  } else {
    items.emplace_back(Text(key), std::move(v));
  }
}

RecordPtr make_record(std::initializer_list<std::pair<TextView, Value>> items) {
  auto r = make_record();
  r->items.reserve(items.size());
  for (const auto& kv : items) r->items.emplace_back(Text(kv.first), kv.second);
  return r;
}

Text get_text(const Record& r, TextView key, TextView fallback) {
  const Value* v = r.find(key);
  if (!v) return Text(fallback);
  return v->text();
}

Text get_text_or_null(const Record& r, TextView key, TextView fallback) {
  const Value* v = r.find(key);
  if (!v || v->is_null()) return Text(fallback);
  return v->text();
}

const Record* get_record(const Record& r, TextView key) {
  const Value* v = r.find(key);
  if (!v || v->is_null()) return nullptr;
  return v->record().get();
}

bool get_truthy(const Record& r, TextView key, bool fallback) {
  const Value* v = r.find(key);
  return v ? v->truthy() : fallback;
}

int compare_numbers(const Value& a, const Value& b) {
  if (a.kind() == Kind::Int && b.kind() == Kind::Int) {
    auto x = a.as_int64(), y = b.as_int64();
    return x < y ? -1 : x > y ? 1 : 0;
  }
  if (a.kind() == Kind::Int && b.kind() == Kind::Real) {
    // Exact int/real comparison, as Python does it.
    double y = b.as_real();
    if (std::isnan(y)) return 0;  // unordered: treat as equal (keeps input order)
    long double x = static_cast<long double>(a.as_int64());
    return x < y ? -1 : x > y ? 1 : 0;
  }
  if (a.kind() == Kind::Real && b.kind() == Kind::Int) return -compare_numbers(b, a);
  double x = a.number(), y = b.number();
  if (std::isnan(x) || std::isnan(y)) return 0;
  return x < y ? -1 : x > y ? 1 : 0;
}

namespace {

template <class IntOp, class RealOp>
Value arith(const Value& a, const Value& b, IntOp iop, RealOp rop) {
  if (a.kind() == Kind::Int && b.kind() == Kind::Int) {
    std::int64_t out;
    if (iop(a.as_int64(), b.as_int64(), &out)) throw ValueError("integer overflow");
    return Value(out);
  }
  if (a.kind() == Kind::BigInt || b.kind() == Kind::BigInt) {
    if (!a.is_number() || !b.is_number()) (void)(a.number() + b.number());
    throw ValueError("integer too large for arithmetic");
  }
  return Value(rop(a.number(), b.number()));
}

}  // namespace

Value add_numbers(const Value& a, const Value& b) {
  return arith(
      a, b, [](std::int64_t x, std::int64_t y, std::int64_t* o) { return __builtin_add_overflow(x, y, o); },
      [](double x, double y) { return x + y; });
}

Value sub_numbers(const Value& a, const Value& b) {
  return arith(
      a, b, [](std::int64_t x, std::int64_t y, std::int64_t* o) { return __builtin_sub_overflow(x, y, o); },
      [](double x, double y) { return x - y; });
}

Value mul_numbers(const Value& a, const Value& b) {
  return arith(
      a, b, [](std::int64_t x, std::int64_t y, std::int64_t* o) { return __builtin_mul_overflow(x, y, o); },
      [](double x, double y) { return x * y; });
}

std::string to_utf8(TextView t) {
  std::string out;
  out.reserve(t.size());
  for (char32_t c : t) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

Text from_utf8(std::string_view s) {
  Text out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    std::size_t n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c >> 5) == 6) { cp = c & 0x1F; n = 2; }
    else if ((c >> 4) == 14) { cp = c & 0x0F; n = 3; }
    else if ((c >> 3) == 30) { cp = c & 0x07; n = 4; }
    else { out += U'\uFFFD'; ++i; continue; }
    // A sequence cut short is one bad byte; what follows it is still read.
    if (i + n > s.size()) { out += U'\uFFFD'; ++i; continue; }
    bool ok = true;
    for (std::size_t k = 1; k < n; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc >> 6) != 2) { ok = false; break; }
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok || cp > 0x10FFFF) { out += U'\uFFFD'; ++i; continue; }
    out += cp;
    i += n;
  }
  return out;
}

}  // namespace qv
