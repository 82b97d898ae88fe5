// disks[].captured: a disk captured from a notebook, its pieces file and its recorded layout.
#include <cctype>

#include "platform/pieces_file.h"
#include "sim/profile/loader_parts.h"

namespace sim {

namespace {

using Json = nlohmann::json;

bool Hex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// "0xNN" (an MBR slot, empty or a container included) or a GUID "XXXXXXXX-XXXX-...".
bool RecordedTypeText(const std::string& t) {
  if (t.size() == 4) return t[0] == '0' && t[1] == 'x' && Hex(t[2]) && Hex(t[3]);
  if (t.size() != 36) return false;
  for (std::size_t i = 0; i < t.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? t[i] != '-' : !Hex(t[i])) return false;
  }
  return true;
}

std::optional<RecordedLayout> ParseRecordedLayout(const JsonReader& r, const Json& object) {
  if (object.is_null()) return std::nullopt;
  r.Only(object, {"style", "entries"});
  RecordedLayout layout;
  if (!object.contains("style")) r.Fail("style", "is required");
  layout.style = r.Text(object["style"], "style");
  if (layout.style != "mbr" && layout.style != "gpt" && layout.style != "raw")
    r.Fail("style", "must be \"mbr\", \"gpt\" or \"raw\"");
  if (!object.contains("entries") || !object["entries"].is_array())
    r.Fail("entries", "must be a list");
  const Json& list = object["entries"];
  for (std::size_t i = 0; i < list.size(); ++i) {
    const JsonReader e = r.Sub("entries[" + std::to_string(i) + "]");
    e.Only(list[i], {"number", "start", "length", "type", "recognised"});
    RecordedEntry entry;
    for (const char* key : {"number", "start", "length", "type"}) {
      if (!list[i].contains(key)) e.Fail(key, "is required");
    }
    entry.number =
        static_cast<std::uint32_t>(e.Integer(list[i]["number"], "number", 0, 4294967295LL));
    entry.start = static_cast<std::uint64_t>(e.Integer(list[i]["start"], "start", 0, 1LL << 62));
    entry.length = static_cast<std::uint64_t>(e.Integer(list[i]["length"], "length", 0, 1LL << 62));
    entry.type = e.Text(list[i]["type"], "type");
    // The replay may answer with the recorded types (a drive whose reads failed on capture).
    if (!RecordedTypeText(entry.type))
      e.Fail("type",
             "must be an MBR type \"0xNN\" or a GUID \"XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX\"");
    if (list[i].contains("recognised"))
      entry.recognised = e.Bool(list[i]["recognised"], "recognised");
    layout.entries.push_back(entry);
  }
  return layout;
}

}  // namespace

CapturedDisk ParseCapturedDisk(const JsonReader& r, const Json& object,
                               const std::filesystem::path& base) {
  r.Only(object, {"bytes", "pieces", "layout"});
  CapturedDisk c;
  for (const char* key : {"bytes", "pieces", "layout"}) {
    if (!object.contains(key)) r.Fail(key, "is required");
  }
  c.bytes = static_cast<std::uint64_t>(r.Integer(object["bytes"], "bytes", 512, 1LL << 62));
  c.pieces_file = base / r.Text(object["pieces"], "pieces");
  const std::string bytes = ReadInputFile(r, "pieces", c.pieces_file, kWholeFileLimit);
  std::string error;
  std::optional<std::vector<DiskPiece>> pieces = pieces_file::Decode(bytes, c.bytes, &error);
  if (!pieces) r.Fail("pieces", c.pieces_file.string() + " " + error);
  c.pieces = std::move(*pieces);
  c.layout = ParseRecordedLayout(r.Sub("layout"), object["layout"]);
  return c;
}

}  // namespace sim
