// The loader's strict reading of one JSON object: every key known, every value of its type, and
// a ProfileError naming the file and the key's whole path otherwise.
#pragma once

#include <initializer_list>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <utility>

#include "sim/core/text.h"
#include "sim/profile/profile.h"

namespace sim {

class JsonReader {
 public:
  using Json = nlohmann::json;

  JsonReader(const std::string& file, std::string where) : file_(file), where_(std::move(where)) {}

  [[noreturn]] void Fail(const std::string& key, const std::string& what) const {
    throw ProfileError(file_ + ": key '" + Path(key) + "': " + what);
  }
  std::string Path(const std::string& key) const {
    return where_.empty() ? key : where_ + "." + key;
  }

  void Only(const Json& object, std::initializer_list<const char*> known) const {
    if (!object.is_object())
      throw ProfileError(file_ + ": '" + (where_.empty() ? "(top)" : where_) +
                         "' must be an object");
    std::set<std::string> names(known.begin(), known.end());
    for (auto it = object.begin(); it != object.end(); ++it) {
      if (names.count(it.key()) == 0) Fail(it.key(), "unknown key");
    }
  }

  bool Bool(const Json& v, const std::string& key) const {
    if (!v.is_boolean()) Fail(key, "must be true or false");
    return v.get<bool>();
  }
  long long Integer(const Json& v, const std::string& key, long long lo, long long hi) const {
    if (!v.is_number_integer()) Fail(key, "must be a whole number");
    long long n = 0;
    if (v.is_number_unsigned()) {
      const auto u = v.get<unsigned long long>();
      if (u > static_cast<unsigned long long>(hi)) Fail(key, "out of range");
      n = static_cast<long long>(u);
    } else {
      n = v.get<long long>();
    }
    if (n < lo || n > hi)
      Fail(key, "must lie between " + std::to_string(lo) + " and " + std::to_string(hi));
    return n;
  }
  std::string Text(const Json& v, const std::string& key) const {
    if (!v.is_string()) Fail(key, "must be a text");
    return v.get<std::string>();
  }
  std::wstring WText(const Json& v, const std::string& key) const { return FromUtf8(Text(v, key)); }

  JsonReader Sub(const std::string& key) const { return JsonReader(file_, Path(key)); }

 private:
  const std::string& file_;
  std::string where_;
};

}  // namespace sim
