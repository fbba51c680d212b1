// A small JSON reader for the texts the page scripts return
// (JSON.stringify output). Numbers written without fraction or exponent
// become ints, the others reals, as Python's json module reads them, so a
// box read here has the same kinds as one Playwright hands over.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "browser/pagesurvey.hpp"

namespace qv::browser {

namespace {

class JsonReader {
 public:
  explicit JsonReader(TextView s) : s_(s) {}

  Value document() {
    Value v = value(0);
    space();
    if (pos_ != s_.size()) fail("trailing characters");
    return v;
  }

 private:
  // Deeper nesting than any survey result has is refused rather than
  // risking the stack.
  static constexpr int kMaxDepth = 200;

  [[noreturn]] void fail(const char* what) const {
    throw ValueError(std::string("Malformed JSON at ") + std::to_string(pos_) + ": " + what);
  }

  void space() {
    while (pos_ < s_.size() &&
           (s_[pos_] == U' ' || s_[pos_] == U'\n' || s_[pos_] == U'\r' || s_[pos_] == U'\t'))
      ++pos_;
  }

  bool take(char32_t c) {
    space();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  void expect(char32_t c, const char* what) {
    if (!take(c)) fail(what);
  }

  bool word(const char32_t* w) {
    std::size_t n = std::char_traits<char32_t>::length(w);
    if (s_.substr(pos_, n) != TextView(w, n)) return false;
    pos_ += n;
    return true;
  }

  Value value(int depth) {
    if (depth > kMaxDepth) fail("nesting too deep");
    space();
    if (pos_ >= s_.size()) fail("unexpected end");
    char32_t c = s_[pos_];
    if (c == U'{') return object(depth);
    if (c == U'[') return array(depth);
    if (c == U'"') return Value(string());
    if (word(U"null")) return Value();
    if (word(U"true")) return Value(true);
    if (word(U"false")) return Value(false);
    return number();
  }

  Value object(int depth) {
    ++pos_;
    auto r = make_record();
    if (take(U'}')) return r;
    do {
      space();
      if (pos_ >= s_.size() || s_[pos_] != U'"') fail("expected a key");
      Text key = string();
      expect(U':', "expected ':'");
      // A repeated key keeps its first place and takes the last value.
      r->set(key, value(depth + 1));
    } while (take(U','));
    expect(U'}', "expected '}'");
    return r;
  }

  Value array(int depth) {
    ++pos_;
    auto l = make_list();
    if (take(U']')) return l;
    do l->push_back(value(depth + 1));
    while (take(U','));
    expect(U']', "expected ']'");
    return l;
  }

  unsigned hex4() {
    if (pos_ + 4 > s_.size()) fail("short \\u escape");
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
      char32_t c = s_[pos_++];
      v <<= 4;
      if (c >= U'0' && c <= U'9') v |= c - U'0';
      else if (c >= U'a' && c <= U'f') v |= c - U'a' + 10;
      else if (c >= U'A' && c <= U'F') v |= c - U'A' + 10;
      else fail("bad \\u escape");
    }
    return v;
  }

  Text string() {
    ++pos_;
    Text out;
    while (true) {
      if (pos_ >= s_.size()) fail("unterminated string");
      char32_t c = s_[pos_++];
      if (c == U'"') return out;
      if (c < 0x20) fail("control character in string");
      if (c != U'\\') {
        out.push_back(c);
        continue;
      }
      if (pos_ >= s_.size()) fail("unterminated escape");
      char32_t e = s_[pos_++];
      switch (e) {
        case U'"': out.push_back(U'"'); break;
        case U'\\': out.push_back(U'\\'); break;
        case U'/': out.push_back(U'/'); break;
        case U'b': out.push_back(U'\b'); break;
        case U'f': out.push_back(U'\f'); break;
        case U'n': out.push_back(U'\n'); break;
        case U'r': out.push_back(U'\r'); break;
        case U't': out.push_back(U'\t'); break;
        case U'u': {
          unsigned u = hex4();
          // A pair becomes one code point; a lone surrogate stays as it is,
          // as the page's string held it.
          if (u >= 0xD800 && u < 0xDC00 && pos_ + 6 <= s_.size() && s_[pos_] == U'\\' &&
              s_[pos_ + 1] == U'u') {
            std::size_t save = pos_;
            pos_ += 2;
            unsigned low = hex4();
            if (low >= 0xDC00 && low < 0xE000) {
              u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
            } else {
              pos_ = save;
            }
          }
          out.push_back(static_cast<char32_t>(u));
          break;
        }
        default: fail("bad escape");
      }
    }
  }

  Value number() {
    std::size_t start = pos_;
    bool integral = true;
    if (pos_ < s_.size() && s_[pos_] == U'-') ++pos_;
    std::size_t digits = pos_;
    while (pos_ < s_.size() && s_[pos_] >= U'0' && s_[pos_] <= U'9') ++pos_;
    if (pos_ == digits) fail("expected a value");
    if (pos_ < s_.size() && s_[pos_] == U'.') {
      integral = false;
      ++pos_;
      std::size_t frac = pos_;
      while (pos_ < s_.size() && s_[pos_] >= U'0' && s_[pos_] <= U'9') ++pos_;
      if (pos_ == frac) fail("expected digits");
    }
    if (pos_ < s_.size() && (s_[pos_] == U'e' || s_[pos_] == U'E')) {
      integral = false;
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == U'+' || s_[pos_] == U'-')) ++pos_;
      std::size_t exp = pos_;
      while (pos_ < s_.size() && s_[pos_] >= U'0' && s_[pos_] <= U'9') ++pos_;
      if (pos_ == exp) fail("expected digits");
    }
    std::string ascii(s_.begin() + start, s_.begin() + pos_);
    if (integral) {
      errno = 0;
      char* end = nullptr;
      long long v = std::strtoll(ascii.c_str(), &end, 10);
      if (errno != ERANGE) return Value(static_cast<std::int64_t>(v));
      BigInt big;
      big.decimal = ascii;
      std::from_chars(ascii.data(), ascii.data() + ascii.size(), big.approx);
      return Value(std::move(big));
    }
    // from_chars: correctly rounded and blind to the process locale.
    double d = 0.0;
    auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), d);
    // (beyond the range: infinity or zero, as Python's float reads it)
    if (ec == std::errc::result_out_of_range) d = std::strtod(ascii.c_str(), nullptr);
    else if (ec != std::errc() || end != ascii.data() + ascii.size()) fail("bad number");
    return Value(d);
  }

  TextView s_;
  std::size_t pos_ = 0;
};

}  // namespace

Value parse_json(TextView text) { return JsonReader(text).document(); }

}  // namespace qv::browser
