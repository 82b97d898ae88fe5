#include "sim/harness/disk_bars.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace sim {

namespace {

constexpr std::size_t kBarSegments = 16;  // partitions and free spaces drawn one by one

struct Segment {
  std::string label;
  std::uint64_t bytes = 0;
  bool free = false;
  std::size_t width = 0;
  bool rest = false;  // the partitions past kBarSegments, as one cell whose label stays whole
};

std::string PartitionLabel(const PartitionView& p) {
  if (p.label && !p.label->empty()) return *p.label;
  if (p.type_name == "Microsoft reserved") return "MSR";
  if (p.type_name == "EFI system") return "EFI";
  if (!p.type_name.empty() && p.fs == "RAW") return p.type_name;
  return p.fs == "RAW" ? "raw" : p.fs;
}

}  // namespace

// Each partition and each larger free space gets a share of the width by its size, but at least
// enough for a short label.
std::string DiskBar(const DiskView& d) {
  std::vector<Segment> segments;
  const std::uint64_t gapShown = std::max<std::uint64_t>(d.bytes / 200, 16ull << 20);
  std::uint64_t at = 0;
  for (const PartitionView& p : d.partitions) {
    // Only what lies on the disk counts: a damaged entry's numbers may run past its end (or past
    // 2^64 when added).
    const std::uint64_t start = std::min(p.offset, d.bytes);
    const std::uint64_t bytes = std::min(p.length, d.bytes - start);
    if (start > at && start - at >= gapShown) segments.push_back({"", start - at, true});
    segments.push_back({PartitionLabel(p), bytes, false});
    at = std::max(at, start + bytes);
  }
  if (d.bytes > at && d.bytes - at >= gapShown) segments.push_back({"", d.bytes - at, true});
  if (segments.empty() || (segments.size() == 1 && segments[0].free)) {
    std::string inner = d.style == "raw"   ? "(no partition table)"
                        : d.style == "gpt" ? "(empty GPT)"
                                           : "(empty MBR)";
    inner.resize(kDiskBarInner, ' ');
    return "[" + inner + "]";
  }
  for (Segment& s : segments) {
    if (s.free && s.label.empty()) s.label = "free";
  }
  // A GPT disk may hold 128 partitions: past a few, the rest share one cell (the list below the
  // bar names every one).
  if (segments.size() > kBarSegments) {
    Segment rest{"+" + std::to_string(segments.size() - kBarSegments + 1) + " more", 0, false, 0,
                 true};
    for (std::size_t i = kBarSegments - 1; i < segments.size(); ++i) {
      rest.bytes = std::min(d.bytes, rest.bytes + segments[i].bytes);
    }
    segments.resize(kBarSegments - 1);
    segments.push_back(rest);
  }
  const std::size_t room = kDiskBarInner - (segments.size() - 1);
  std::size_t labels = 0;
  for (const Segment& s : segments) labels += std::clamp<std::size_t>(s.label.size(), 1, 10);
  // Short labels when full ones do not fit, so the bar keeps its width; "+N more" stays whole.
  const bool merged = segments.back().rest;
  const std::size_t kept = merged ? segments.back().label.size() : 0;
  const std::size_t longest =
      labels <= room ? 10 : (room - kept) / (segments.size() - (merged ? 1 : 0));
  std::vector<std::size_t> least(segments.size());
  std::size_t total = 0;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const Segment& s = segments[i];
    least[i] = s.rest ? kept : std::clamp<std::size_t>(s.label.size(), 1, longest);
    // Overlapping entries may add up to more than the disk; none is wider than the whole bar.
    const double share =
        d.bytes == 0 ? 0.0 : static_cast<double>(s.bytes) / static_cast<double>(d.bytes);
    const auto fair = static_cast<std::size_t>(std::lround(std::min(share, 1.0) * room));
    segments[i].width = std::max(least[i], fair);
    total += segments[i].width;
  }
  // Give back what the least widths took, from the widest, or hand out what is left over. Each
  // width is at most the room, so this ends within kBarSegments * room steps.
  while (total != room) {
    std::size_t pick = 0;
    for (std::size_t i = 1; i < segments.size(); ++i) {
      if (segments[i].width - least[i] > segments[pick].width - least[pick]) pick = i;
    }
    if (total > room) {
      if (segments[pick].width == least[pick]) break;  // too many partitions to draw
      --segments[pick].width;
      --total;
    } else {
      ++segments[pick].width;
      ++total;
    }
  }
  std::string bar = "[";
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const Segment& s = segments[i];
    if (i != 0) bar += '|';
    std::string cell = s.label.substr(0, s.width);
    cell.resize(s.width, s.free ? ' ' : '.');
    bar += cell;
  }
  return bar + "]";
}

}  // namespace sim
