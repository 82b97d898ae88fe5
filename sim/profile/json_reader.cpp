#include "sim/profile/json_reader.h"

#include <cmath>
#include <vector>

namespace sim {

namespace {

using Json = nlohmann::json;

// A pass over the document that builds nothing and remembers the first key that appears twice
// in one object, by its whole path ("disks[1].wmi.Index").
class DuplicateKeys : public nlohmann::json_sax<Json> {
 public:
  const std::string& duplicate() const { return duplicate_; }
  bool too_deep() const { return too_deep_; }

  // No profile nests deeper than a few levels; a path per level makes deeper ones quadratic.
  static constexpr std::size_t kMaxDepth = 64;

  bool null() override { return Value(); }
  bool boolean(bool) override { return Value(); }
  bool number_integer(number_integer_t) override { return Value(); }
  bool number_unsigned(number_unsigned_t) override { return Value(); }
  bool number_float(number_float_t, const string_t&) override { return Value(); }
  bool string(string_t&) override { return Value(); }
  bool binary(binary_t&) override { return Value(); }
  bool start_object(std::size_t) override {
    if (stack_.size() >= kMaxDepth) return !(too_deep_ = true);
    stack_.push_back(Frame{false, Child(), {}, 0, {}});
    return true;
  }
  bool key(string_t& name) override {
    Frame& f = stack_.back();
    if (!f.keys.insert(name).second && duplicate_.empty())
      duplicate_ = f.path.empty() ? name : f.path + "." + name;
    f.key = name;
    return true;
  }
  bool end_object() override {
    stack_.pop_back();
    return true;
  }
  bool start_array(std::size_t) override {
    if (stack_.size() >= kMaxDepth) return !(too_deep_ = true);
    stack_.push_back(Frame{true, Child(), {}, 0, {}});
    return true;
  }
  bool end_array() override {
    stack_.pop_back();
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;  // the parse proper reports it
  }

 private:
  struct Frame {
    bool array;
    std::string path;
    std::set<std::string> keys;
    std::size_t index;  // the next element's, in an array
    std::string key;    // the last key read, in an object
  };
  // The path of the value that starts now.
  std::string Child() {
    if (stack_.empty()) return std::string();
    Frame& f = stack_.back();
    if (f.array) return f.path + "[" + std::to_string(f.index++) + "]";
    return f.path.empty() ? f.key : f.path + "." + f.key;
  }
  bool Value() {
    if (!stack_.empty() && stack_.back().array) ++stack_.back().index;
    return true;
  }

  std::vector<Frame> stack_;
  std::string duplicate_;
  bool too_deep_ = false;
};

}  // namespace

Json ParseStrictJson(const std::string& text, const std::string& file) {
  // The key pass goes first: it stops at a document nested too deep before any tree is built.
  DuplicateKeys keys;
  Json::sax_parse(text, &keys, Json::input_format_t::json, true, /*ignore_comments=*/true);
  if (keys.too_deep()) {
    throw ProfileError(file + ": nested deeper than " + std::to_string(DuplicateKeys::kMaxDepth) +
                       " levels; no profile key goes that deep");
  }
  Json root;
  try {
    root = Json::parse(text, nullptr, true, /*ignore_comments=*/true);
  } catch (const Json::exception& e) {
    // Not only syntax errors: a number beyond the range of a double is out_of_range.
    throw ProfileError(file + ": invalid JSON: " + e.what());
  }
  if (!keys.duplicate().empty()) {
    throw ProfileError(file + ": key '" + keys.duplicate() +
                       "': is given twice in one object (JSON readers differ in which one they "
                       "take)");
  }
  return root;
}

long long JsonReader::Integer(const Json& v, const std::string& key, long long lo,
                              long long hi) const {
  const std::string range = "must lie between " + std::to_string(lo) + " and " + std::to_string(hi);
  if (v.is_number_float()) {
    const double d = v.get<double>();
    if (!std::isfinite(d) || d != std::floor(d)) Fail(key, "must be a whole number");
    if (d < static_cast<double>(lo) || d > static_cast<double>(hi)) Fail(key, range);
    return static_cast<long long>(d);
  }
  if (!v.is_number_integer()) Fail(key, "must be a whole number");
  if (v.is_number_unsigned() && v.get<unsigned long long>() > static_cast<unsigned long long>(hi))
    Fail(key, range);
  const long long n = v.get<long long>();
  if (n < lo || n > hi) Fail(key, range);
  return n;
}

}  // namespace sim
