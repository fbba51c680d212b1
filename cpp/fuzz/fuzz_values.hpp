// Random records for the fuzz targets, drawn from libFuzzer's bytes.
//
// Mostly well-formed descriptors (so the fuzzer reaches the matching and
// ranking code), with a byte-controlled share of wrong kinds, missing keys,
// NaN, infinities, huge integers and odd code points mixed in. Texts are
// built from the words the engine gives meaning to, texts already used in
// the same input (so targets name real elements) and random code points,
// lone surrogates included.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "common/value.hpp"

namespace qv::fuzz {

// The only errors an engine operation may raise on bad input. Anything else
// escaping (std::out_of_range, a bad variant access, ...) is a finding and
// aborts the run.
#define QV_FUZZ_ALLOWED(...)       \
  try {                            \
    __VA_ARGS__;                   \
  } catch (const qv::TypeError&) { \
  } catch (const qv::ValueError&) { \
  } catch (const qv::KeyError&) {  \
  }

// A property violated: print and abort so libFuzzer keeps the input.
#define QV_FUZZ_CHECK(cond)                                                       \
  do {                                                                            \
    if (!(cond)) {                                                                \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                               \
    }                                                                             \
  } while (0)

inline const std::vector<Text>& vocabulary() {
  static const std::vector<Text> words = {
      U"click ", U"type ", U" into ", U"select ", U" from ", U"hover ", U"press ",
      U"sendkeys ", U"wait ", U"navigate ", U"verify ", U"verify text ", U"verify dialog says ",
      U"find text ", U"find exact text ", U"extract text ", U"extract_text ", U"from ",
      U"accept dialog", U"dismiss dialog", U"back", U"refresh", U"is present", U"is visible",
      U"is enabled", U"is disabled", U" is ", U"first ", U"second ", U"Third ", U"fifth ",
      U"sixth ", U"1st ", U"2nd ", U"5th ", U"the ", U"The ", U"a ", U"an ", U"on ", U"at ",
      U"next to ", U"below ", U"above ", U"left of ", U"right of ", U"under ", U"near ",
      U"left ", U"right ", U"button", U"btn", U"link", U"anchor", U"input", U"field", U"box",
      U"checkbox", U"textbox", U"dropdown", U"icon", U"Name", U"Email", U"Log-in", U"Save",
      U"Price", U"$1,000", U"\u20ac5", U"\u00a3", U"\"", U"\"\"", U"'", U" ", U"  ", U"\t", U"\n",
      U"\r\n", U"-", U"_", U",", U"0", U"500", U"1.5", U"\u0130", U"\u00df", U"\u00a0", U"\u2028",
      U"\u0663", U"\U0001F600", U"\xFEFF", U"/html[1]/body[1]/div[2]", U"[", U"]", U"/",
  };
  return words;
}

class Gen {
 public:
  explicit Gen(FuzzedDataProvider& f) : f_(f) { chaos_ = f_.ConsumeIntegral<uint8_t>(); }

  FuzzedDataProvider& fdp() { return f_; }

  // True with a probability set by the input's chaos byte (0 to about 1/2).
  bool odd() { return f_.ConsumeIntegral<uint8_t>() < chaos_ / 2; }

  char32_t code_point() {
    switch (f_.ConsumeIntegralInRange<int>(0, 3)) {
      case 0: return f_.ConsumeIntegralInRange<char32_t>(0x20, 0x7E);
      case 1: return f_.ConsumeIntegralInRange<char32_t>(0, 0x7FF);
      case 2: return f_.ConsumeIntegralInRange<char32_t>(0xD7F0, 0xE010);  // surrogates
      default: return f_.ConsumeIntegralInRange<char32_t>(0, 0x10FFFF);
    }
  }

  Text text(std::size_t max_pieces = 8) {
    Text t;
    std::size_t n = f_.ConsumeIntegralInRange<std::size_t>(0, max_pieces);
    for (std::size_t i = 0; i < n && f_.remaining_bytes(); ++i) {
      switch (f_.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:
        case 1: {
          const std::vector<Text>& words = vocabulary();
          t += words[f_.ConsumeIntegralInRange<std::size_t>(0, words.size() - 1)];
          break;
        }
        case 2:
          if (!seen_.empty()) {
            t += seen_[f_.ConsumeIntegralInRange<std::size_t>(0, seen_.size() - 1)];
            break;
          }
          [[fallthrough]];
        case 3: t += code_point(); break;
        case 4: {
          // A run of letters, so words are not all from the list.
          std::size_t k = f_.ConsumeIntegralInRange<std::size_t>(1, 6);
          for (std::size_t j = 0; j < k; ++j) t += f_.ConsumeIntegralInRange<char32_t>(U'a', U'z');
          break;
        }
        default: t += code_point(); t += code_point(); break;
      }
    }
    if (!t.empty() && seen_.size() < 32) seen_.push_back(t);
    return t;
  }

  // A text that appeared earlier in this input, or a fresh one.
  Text known_text() {
    if (!seen_.empty() && f_.ConsumeBool())
      return seen_[f_.ConsumeIntegralInRange<std::size_t>(0, seen_.size() - 1)];
    return text();
  }

  Value number() {
    switch (f_.ConsumeIntegralInRange<int>(0, 9)) {
      case 0: return Value(f_.ConsumeIntegral<std::int64_t>());
      case 1: return Value(std::numeric_limits<double>::quiet_NaN());
      case 2: return Value(f_.ConsumeBool() ? HUGE_VAL : -HUGE_VAL);
      case 3: return Value(f_.ConsumeFloatingPoint<double>());
      case 4: {
        bool neg = f_.ConsumeBool();
        return Value(BigInt{neg ? "-123456789012345678901234567890" : "99999999999999999999",
                            neg ? -1.2345678901234568e29 : 1e20});
      }
      case 5:
      case 6: return Value(static_cast<std::int64_t>(f_.ConsumeIntegralInRange<int>(-50, 1500)));
      default: return Value(f_.ConsumeFloatingPointInRange<double>(-100.0, 1500.0));
    }
  }

  // Any value at all, nested to `depth`.
  Value any(int depth = 2) {
    switch (f_.ConsumeIntegralInRange<int>(0, depth > 0 ? 8 : 5)) {
      case 0: return Value();
      case 1: return Value(f_.ConsumeBool());
      case 2: return number();
      case 3: return Value(text());
      case 4: return Value(Foreign{f_.PickValueInArray({"tuple", "set", "object", "MyDict"}), nullptr});
      case 5: return Value(text(2));
      case 6: {
        auto l = make_list();
        std::size_t n = f_.ConsumeIntegralInRange<std::size_t>(0, 4);
        for (std::size_t i = 0; i < n; ++i) l->push_back(any(depth - 1));
        return Value(l);
      }
      default: {
        auto r = make_record();
        std::size_t n = f_.ConsumeIntegralInRange<std::size_t>(0, 4);
        for (std::size_t i = 0; i < n; ++i) r->set(text(2), any(depth - 1));
        return Value(r);
      }
    }
  }

  // Usually `good`, sometimes any value, sometimes dropped (returns false).
  bool field(Record& r, TextView key, Value good) {
    if (odd()) {
      if (f_.ConsumeBool()) return false;
      r.set(key, any(1));
      return true;
    }
    r.set(key, std::move(good));
    return true;
  }

  Value box() {
    auto b = make_record();
    bool sane = !odd();
    for (TextView k : {U"x", U"y", U"width", U"height"}) {
      Value v = sane ? Value(static_cast<double>(f_.ConsumeIntegralInRange<int>(
                           k == U"width" || k == U"height" ? 0 : -20, 1200)))
                     : number();
      if (sane && f_.ConsumeBool() && v.is_real()) v = Value(static_cast<std::int64_t>(v.as_real()));
      field(*b, k, std::move(v));
    }
    return Value(b);
  }

  Text xpath() {
    static const char32_t* tags[] = {U"html", U"body", U"div", U"form", U"input", U"span", U"a"};
    if (odd()) return text(3);
    Text p;
    std::size_t n = f_.ConsumeIntegralInRange<std::size_t>(1, 7);
    for (std::size_t i = 0; i < n; ++i) {
      p += U"/";
      p += f_.PickValueInArray(tags);
      p += U"[";
      p += static_cast<char32_t>(U'1' + f_.ConsumeIntegralInRange<int>(0, 8));
      p += U"]";
    }
    return p;
  }

  // An interactable (text_kind false) or text descriptor.
  Value descriptor(bool text_kind) {
    static const char32_t* tags[] = {U"button", U"input", U"a", U"select", U"textarea",
                                     U"div", U"span", U"h1", U"p", U"label", U"td", U"img"};
    static const char32_t* attr_names[] = {
        U"id",   U"name",  U"type",       U"placeholder", U"aria-label", U"title",
        U"role", U"class", U"data-testid", U"alt",        U"_label",     U"data-row",
        U"href", U"value"};
    static const char32_t* roles[] = {U"button", U"link", U"textbox", U"combobox",
                                      U"searchbox", U"checkbox"};
    static const char32_t* types[] = {U"submit", U"button", U"reset", U"text", U"email"};
    auto d = make_record();
    field(*d, U"tag", Value(Text(f_.ConsumeBool() ? Text(f_.PickValueInArray(tags)) : text(2))));
    field(*d, U"text", Value(known_text()));
    if (text_kind) field(*d, U"has_direct_text", Value(f_.ConsumeBool()));
    auto attrs = make_record();
    std::size_t n = f_.ConsumeIntegralInRange<std::size_t>(0, 5);
    for (std::size_t i = 0; i < n; ++i) {
      TextView name = f_.PickValueInArray(attr_names);
      Text value = name == U"role"   ? Text(f_.PickValueInArray(roles))
                   : name == U"type" ? Text(f_.PickValueInArray(types))
                                     : known_text();
      field(*attrs, name, Value(std::move(value)));
    }
    field(*d, U"attributes", Value(attrs));
    field(*d, U"bounding_box", f_.ConsumeIntegralInRange<int>(0, 15) ? box() : Value());
    field(*d, U"is_visible", Value(f_.ConsumeIntegralInRange<int>(0, 4) != 0));
    field(*d, U"is_enabled", Value(f_.ConsumeIntegralInRange<int>(0, 4) != 0));
    if (!text_kind && f_.ConsumeIntegralInRange<int>(0, 6) == 0)
      field(*d, U"is_editable_field", Value(true));
    field(*d, U"xpath", Value(xpath()));
    return Value(d);
  }

  // A list of descriptors; now and then an item that is no record at all.
  ListPtr descriptors(bool text_kind, std::size_t max_items) {
    auto l = make_list();
    std::size_t n = f_.ConsumeIntegralInRange<std::size_t>(0, max_items);
    for (std::size_t i = 0; i < n && f_.remaining_bytes(); ++i)
      l->push_back(odd() && odd() ? any(1) : descriptor(text_kind));
    return l;
  }

 private:
  FuzzedDataProvider& f_;
  uint8_t chaos_ = 0;
  std::vector<Text> seen_;
};

}  // namespace qv::fuzz
