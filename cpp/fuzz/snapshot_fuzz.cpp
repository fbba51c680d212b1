// The snapshot writer over random values. What it writes must read back
// (with a strict reader of the json.dumps(indent=2) layout below) as the
// very value it was given: same kinds, same keys in order, same code units,
// reals to the bit. Foreign values are refused with TypeError, a value
// that contains itself with ValueError. The slug and the real form keep
// their promises too.
#include <cstring>

#include "browser/pagesurvey.hpp"
#include "fuzz/fuzz_values.hpp"

using namespace qv;
namespace br = qv::browser;

namespace {

// UTF-16 code units, as the file's \u escapes spell a text.
std::u16string units(TextView t) {
  std::u16string out;
  for (char32_t c : t) {
    if (c > 0xFFFF) {
      char32_t v = c - 0x10000;
      out += static_cast<char16_t>(0xD800 | (v >> 10));
      out += static_cast<char16_t>(0xDC00 | (v & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

// A reader for exactly the layout the writer promises; aborts on anything
// else, and compares with the original as it goes.
class Reader {
 public:
  explicit Reader(const std::string& s) : s_(s) {}

  void expect_value(const Value& v, int level) {
    switch (v.kind()) {
      case Kind::Null: word("null"); return;
      case Kind::Bool: word(v.as_bool() ? "true" : "false"); return;
      case Kind::Int: word(std::to_string(v.as_int64())); return;
      case Kind::BigInt: word(std::get<BigInt>(v.v).decimal); return;
      case Kind::Real: real(v.as_real()); return;
      case Kind::Text: string(v.as_text()); return;
      case Kind::List: {
        const List& l = *v.as_list();
        if (l.empty()) return word("[]");
        word("[");
        for (std::size_t i = 0; i < l.size(); ++i) {
          if (i) word(",");
          indent(level + 1);
          expect_value(l[i], level + 1);
        }
        indent(level);
        return word("]");
      }
      case Kind::Record: {
        const Record& r = *v.as_record();
        if (r.empty()) return word("{}");
        word("{");
        for (std::size_t i = 0; i < r.size(); ++i) {
          if (i) word(",");
          indent(level + 1);
          string(r.items[i].first);
          word(": ");
          expect_value(r.items[i].second, level + 1);
        }
        indent(level);
        return word("}");
      }
      case Kind::Foreign: QV_FUZZ_CHECK(false);
    }
  }
  bool at_end() const { return pos_ == s_.size(); }

 private:
  void word(const std::string& w) {
    QV_FUZZ_CHECK(s_.compare(pos_, w.size(), w) == 0);
    pos_ += w.size();
  }
  void indent(int level) { word("\n" + std::string(static_cast<std::size_t>(2 * level), ' ')); }

  void real(double d) {
    if (std::isnan(d)) return word("NaN");
    if (std::isinf(d)) return word(d > 0 ? "Infinity" : "-Infinity");
    std::size_t end = s_.find_first_of(",\n]}", pos_);
    std::string num = s_.substr(pos_, end - pos_);
    // A real always shows a fraction or an exponent, so it never reads as an int.
    QV_FUZZ_CHECK(num.find_first_of(".e") != std::string::npos);
    char* stop = nullptr;
    double back = std::strtod(num.c_str(), &stop);
    QV_FUZZ_CHECK(*stop == '\0');
    QV_FUZZ_CHECK(std::memcmp(&back, &d, sizeof d) == 0);
    pos_ = end;
  }

  void string(TextView t) {
    word("\"");
    std::u16string got;
    while (true) {
      QV_FUZZ_CHECK(pos_ < s_.size());
      char c = s_[pos_++];
      if (c == '"') break;
      QV_FUZZ_CHECK(c >= 0x20 && c <= 0x7E);
      if (c != '\\') {
        got += static_cast<char16_t>(c);
        continue;
      }
      QV_FUZZ_CHECK(pos_ < s_.size());
      char e = s_[pos_++];
      switch (e) {
        case '"': got += u'"'; break;
        case '\\': got += u'\\'; break;
        case 'n': got += u'\n'; break;
        case 'r': got += u'\r'; break;
        case 't': got += u'\t'; break;
        case 'b': got += u'\b'; break;
        case 'f': got += u'\f'; break;
        case 'u': {
          QV_FUZZ_CHECK(pos_ + 4 <= s_.size());
          unsigned v = 0;
          for (int i = 0; i < 4; ++i) {
            char h = s_[pos_++];
            QV_FUZZ_CHECK((h >= '0' && h <= '9') || (h >= 'a' && h <= 'f'));
            v = v * 16 + static_cast<unsigned>(h <= '9' ? h - '0' : h - 'a' + 10);
          }
          // Printable ASCII is never escaped.
          QV_FUZZ_CHECK(v < 0x20 || v > 0x7E);
          got += static_cast<char16_t>(v);
          break;
        }
        default: QV_FUZZ_CHECK(false);
      }
    }
    QV_FUZZ_CHECK(got == units(t));
  }

  const std::string& s_;
  std::size_t pos_ = 0;
};

bool has_foreign(const Value& v) {
  if (v.kind() == Kind::Foreign) return true;
  if (v.is_list())
    for (const Value& x : v.as_list()->items)
      if (has_foreign(x)) return true;
  if (v.is_record())
    for (const auto& [k, x] : v.as_record()->items)
      if (has_foreign(x)) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider f(data, size);
  fuzz::Gen g(f);

  // Descriptor lists as the survey returns them, or any value at all.
  auto doc = make_record();
  doc->set(U"url", Value(g.text(4)));
  doc->set(U"elements", Value(g.descriptors(false, 6)));
  doc->set(U"text_elements", f.ConsumeBool() ? Value(g.descriptors(true, 6)) : g.any(4));

  const bool cyclic = g.odd() && g.odd();
  if (cyclic) doc->set(U"self", Value(doc));
  try {
    std::string out = br::to_json(Value(doc));
    QV_FUZZ_CHECK(!cyclic);
    QV_FUZZ_CHECK(!has_foreign(Value(doc)));
    Reader r(out);
    r.expect_value(Value(doc), 0);
    QV_FUZZ_CHECK(r.at_end());  // no newline after the closing brace
  } catch (const TypeError&) {
    QV_FUZZ_CHECK(cyclic || has_foreign(Value(doc)));
  } catch (const ValueError&) {
    QV_FUZZ_CHECK(cyclic);
  }
  if (cyclic) doc->items.clear();  // break the cycle for the leak checker

  const double d = f.ConsumeFloatingPoint<double>();
  std::string repr = br::float_repr(d);
  if (std::isfinite(d)) QV_FUZZ_CHECK(std::strtod(repr.c_str(), nullptr) == d);

  const Text url = g.text(12);
  Text slug = br::url_slug(url);
  QV_FUZZ_CHECK(slug.size() <= 60 && slug.find(U'/') == Text::npos);
  return 0;
}
