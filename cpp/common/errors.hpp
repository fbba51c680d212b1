// The engine's errors. The binding maps each to its Python counterpart:
// TypeError, ValueError, KeyError(key), OSError subclass by errno, and a page
// error back to the very exception object the page raised.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

namespace qv {

struct Error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// An argument or record value of the wrong kind.
struct TypeError : Error {
  using Error::Error;
};

// A value of the right kind whose content is refused.
struct ValueError : Error {
  using Error::Error;
};

// A key read without a default is missing. `key` is UTF-8.
struct KeyError : Error {
  std::u32string key;
  explicit KeyError(std::u32string k);
};

// A file-system failure: errno and the file name it concerns.
struct OSError : Error {
  int errnum;
  std::string filename;
  OSError(int e, std::string file);
};

// An error raised by the host page (Playwright). `payload` is opaque to the
// engine: the binding stores the original exception in it and restores it
// unchanged when the error leaves the engine.
struct PageError : Error {
  std::shared_ptr<void> payload;
  PageError(std::string what, std::shared_ptr<void> p)
      : Error(std::move(what)), payload(std::move(p)) {}
};

// "Argument 'name' has incorrect type (expected E, got G)", each field cut
// to 200 bytes as the host's %.200s does.
std::string argument_type_message(const std::string& name, const std::string& expected,
                                  const std::string& got);
[[noreturn]] void throw_argument_type(const std::string& name, const std::string& expected,
                                      const std::string& got);
// "Expected E, got G".
[[noreturn]] void throw_expected(const std::string& expected, const std::string& got);

}  // namespace qv
