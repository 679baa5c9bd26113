// A small, strict JSON reader for the files people write by hand or with
// scripts (skin records, favorites lines), and the matching string writer.
//
// The reader never trusts its input: nesting depth and size are bounded,
// strings must be valid UTF-8 (no overlong forms, no encoded surrogates),
// \u escapes must pair their surrogates, members of an object must have
// distinct names, and numbers are never wrapped: a number that is not a
// whole number fitting in 64 bits is kept as "not whole" for the caller to
// refuse. Every failure says what went wrong at which line and column.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qb {

struct JsonValue {
  enum Type { Null, Bool, Number, String, Array, Object };
  Type type = Null;
  bool boolean = false;
  bool whole = false;   // Number: no fraction or exponent, and fits in int64_t
  int64_t integer = 0;  // Number: the value when `whole`
  std::string text;     // String: UTF-8
  std::vector<JsonValue> items;                            // Array
  std::vector<std::pair<std::string, JsonValue>> members;  // Object, in document order

  // The member named `name`, or null (also when this is not an object).
  const JsonValue* Find(const std::string& name) const;
  // A whole number from lo to hi.
  bool IsInteger(int64_t lo, int64_t hi) const { return type == Number && whole && integer >= lo && integer <= hi; }
};

struct JsonLimits {
  int maxDepth = 32;              // arrays and objects inside each other
  size_t maxBytes = 16u << 20;    // the whole document
};

struct JsonError {
  std::string what;  // plain English, e.g. "expected ':'"
  int line = 0;      // 1-based; 0 when the failure has no place (document too large)
  int column = 0;    // 1-based, in characters
  // "what at line L, column C" (or just `what`).
  std::string Message() const;
};

// Reads one JSON value filling the whole of `utf8` (blanks around it are
// allowed, and so is a leading UTF-8 byte order mark). Returns 1, or 0 with
// `error` filled and `out` unspecified.
int ParseJson(const std::string& utf8, JsonValue& out, JsonError& error, const JsonLimits& limits = JsonLimits());

// `utf8` as a quoted JSON string: '"' and '\' escaped, \n \r \t by their short
// forms, other control characters as \u00XX; everything else unchanged.
std::string JsonQuote(const std::string& utf8);

// Appends code point `cp` (at most 0x10FFFF) in UTF-8.
void AppendUtf8(std::string& out, uint32_t cp);

}  // namespace qb
