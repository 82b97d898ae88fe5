// The loader's strict reading of JSON: a document whose keys each appear once per object, and
// one object at a time with every key known, every value of its type, and a ProfileError naming
// the file and the key's whole path otherwise.
#pragma once

#include <initializer_list>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sim/core/text.h"
#include "sim/profile/profile.h"

namespace sim {

// Parses `text` (comments allowed). Refuses invalid JSON and, naming the key, a key given twice
// in one object: nlohmann-json would keep the last, other readers the first, so the profile
// would mean different machines to different readers.
nlohmann::json ParseStrictJson(const std::string& text, const std::string& file);

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
  // A whole number in any form JSON writes one (1000, 1e3, 1000.0), from lo to hi; every bound
  // the loader uses is exact as a double (a power of two, or below 2^53).
  long long Integer(const Json& v, const std::string& key, long long lo, long long hi) const;
  std::string Text(const Json& v, const std::string& key) const {
    if (!v.is_string()) Fail(key, "must be a text");
    return v.get<std::string>();
  }
  std::wstring WText(const Json& v, const std::string& key) const { return FromUtf8(Text(v, key)); }
  // Texts of an object's keys into their fields; an absent key leaves its field as it is.
  void TakeTexts(const Json& object,
                 const std::vector<std::pair<const char*, std::string*>>& fields) const {
    for (const auto& [key, field] : fields) {
      if (object.contains(key)) *field = Text(object[key], key);
    }
  }

  JsonReader Sub(const std::string& key) const { return JsonReader(file_, Path(key)); }
  const std::string& file() const { return file_; }

 private:
  const std::string& file_;
  std::string where_;
};

}  // namespace sim
