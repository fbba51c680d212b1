// Snapshot files: the page's URL and both descriptor lists, written in the
// layout of Python's json.dumps(data, indent=2) so the files read the same
// whichever side wrote them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "browser/pagesurvey.hpp"
#include "common/text.hpp"

namespace qv::browser {

namespace {

void put_hex4(std::string& out, unsigned v) {
  static const char digits[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += digits[(v >> shift) & 0xF];
}

void put_string(std::string& out, TextView s) {
  out += '"';
  for (char32_t c : s) {
    switch (c) {
      case U'"': out += "\\\""; break;
      case U'\\': out += "\\\\"; break;
      case U'\n': out += "\\n"; break;
      case U'\r': out += "\\r"; break;
      case U'\t': out += "\\t"; break;
      case U'\b': out += "\\b"; break;
      case U'\f': out += "\\f"; break;
      default:
        if (c >= 0x20 && c <= 0x7E) {
          out += static_cast<char>(c);
        } else if (c > 0xFFFF) {
          unsigned v = static_cast<unsigned>(c) - 0x10000;
          put_hex4(out, 0xD800 | (v >> 10));
          put_hex4(out, 0xDC00 | (v & 0x3FF));
        } else {
          put_hex4(out, static_cast<unsigned>(c));
        }
    }
  }
  out += '"';
}

class JsonWriter {
 public:
  std::string out;

  void value(const Value& v, int level) {
    switch (v.kind()) {
      case Kind::Null: out += "null"; return;
      case Kind::Bool: out += v.as_bool() ? "true" : "false"; return;
      case Kind::Int: out += std::to_string(v.as_int64()); return;
      case Kind::BigInt: out += std::get<BigInt>(v.v).decimal; return;
      case Kind::Real: out += json_float(v.as_real()); return;
      case Kind::Text: put_string(out, v.as_text()); return;
      case Kind::List: list(*v.as_list(), level); return;
      case Kind::Record: record(*v.as_record(), level); return;
      case Kind::Foreign:
        throw TypeError("Object of type " + v.kind_name() + " is not JSON serializable");
    }
  }

  void list(const List& l, int level) {
    if (l.empty()) {
      out += "[]";
      return;
    }
    enter(&l);
    out += '[';
    for (std::size_t i = 0; i < l.size(); ++i) {
      if (i) out += ',';
      newline(level + 1);
      value(l[i], level + 1);
    }
    newline(level);
    out += ']';
    leave();
  }

  void record(const Record& r, int level) {
    if (r.empty()) {
      out += "{}";
      return;
    }
    enter(&r);
    out += '{';
    for (std::size_t i = 0; i < r.items.size(); ++i) {
      if (i) out += ',';
      newline(level + 1);
      put_string(out, r.items[i].first);
      out += ": ";
      value(r.items[i].second, level + 1);
    }
    newline(level);
    out += '}';
    leave();
  }

  void newline(int level) {
    out += '\n';
    out.append(static_cast<std::size_t>(2 * level), ' ');
  }

 private:
  static std::string json_float(double d) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
    return float_repr(d);
  }
  void enter(const void* container) {
    for (const void* open : open_)
      if (open == container) throw ValueError("Circular reference detected");
    open_.push_back(container);
  }
  void leave() { open_.pop_back(); }

  std::vector<const void*> open_;
};

// os.path.split for POSIX paths.
std::pair<std::string, std::string> split_path(const std::string& p) {
  std::size_t i = p.rfind('/');
  i = i == std::string::npos ? 0 : i + 1;
  std::string head = p.substr(0, i), tail = p.substr(i);
  if (!head.empty() && head.find_first_not_of('/') != std::string::npos)
    head.erase(head.find_last_not_of('/') + 1);
  return {head, tail};
}

bool exists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

bool is_dir(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string float_repr(double d) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  std::string sci(buf, res.ptr);  // [-]d[.ddd]e(+|-)xx, shortest round trip
  bool negative = sci[0] == '-';
  if (negative) sci.erase(0, 1);
  std::size_t e = sci.find('e');
  std::string digits = sci.substr(0, e);
  if (digits.size() > 1) digits.erase(1, 1);  // the point
  int exponent = std::stoi(sci.substr(e + 1));
  int decpt = exponent + 1;
  int n = static_cast<int>(digits.size());

  std::string out = negative ? "-" : "";
  if (decpt <= -4 || decpt > 16) {
    out += digits[0];
    if (n > 1) {
      out += '.';
      out.append(digits, 1);
    }
    char ebuf[16];
    std::snprintf(ebuf, sizeof ebuf, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    out += ebuf;
  } else if (decpt <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-decpt), '0');
    out += digits;
  } else if (decpt >= n) {
    out += digits;
    out.append(static_cast<std::size_t>(decpt - n), '0');
    out += ".0";
  } else {
    out.append(digits, 0, static_cast<std::size_t>(decpt));
    out += '.';
    out.append(digits, static_cast<std::size_t>(decpt));
  }
  return out;
}

std::string to_json(const Value& value) {
  JsonWriter w;
  w.value(value, 0);
  return w.out;
}

Text url_slug(TextView url) {
  Text slug = text::replace_all(url, U"://", U"_");
  slug = text::replace_char(slug, U'/', U'_');
  if (slug.size() > 60) slug.resize(60);
  return slug;
}

std::string timestamp(const std::tm& t) {
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d_%H%M%S", &t);
  return buf;
}

std::string join_path(const std::string& dir, const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  if (dir.empty() || dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

void make_directories(const std::string& path) {
  auto [head, tail] = split_path(path);
  if (tail.empty()) std::tie(head, tail) = split_path(head);
  if (!head.empty() && !tail.empty() && !exists(head)) {
    try {
      make_directories(head);
    } catch (const OSError& e) {
      if (e.errnum != EEXIST) throw;
    }
    if (tail == ".") return;
  }
  if (::mkdir(path.c_str(), 0777) != 0) {
    int err = errno;
    if (!is_dir(path)) throw OSError(err, path);
  }
}

void write_file(const std::string& path, const std::string& content) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw OSError(errno, path);
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      throw OSError(err, path);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) throw OSError(errno, path);
}

void DomParser::save_snapshot(const List& elements, const List& text_elements) {
  if (!host_.save_snapshots()) return;
  std::string dir = to_utf8(host_.log_path());
  make_directories(dir);
  std::string name = timestamp(host_.local_now()) + "_" + to_utf8(url_slug(page_.url())) + ".json";
  std::string path = join_path(dir, name);

  // Serialised before the file is opened, so a value that cannot be written
  // leaves no half-written file behind.
  JsonWriter w;
  w.out += "{";
  w.newline(1);
  w.out += "\"url\": ";
  w.value(Value(page_.url()), 1);
  w.out += ",";
  w.newline(1);
  w.out += "\"elements\": ";
  w.list(elements, 1);
  w.out += ",";
  w.newline(1);
  w.out += "\"text_elements\": ";
  w.list(text_elements, 1);
  w.newline(0);
  w.out += "}";
  write_file(path, w.out);
  host_.print_line(U"  [DOM snapshot saved \u2192 " + from_utf8(path) + U"]");
}

}  // namespace qv::browser
