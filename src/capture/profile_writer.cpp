#include "capture/profile_writer.h"

#include <algorithm>

#include "capture/machine_json.h"

namespace {

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  os::UniqueHandle file(
      os::CreateFileW(path, os::kGenericWrite, 0, os::kCreateAlways, os::kFileAttributeNormal));
  if (!file) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t chunk = bytes.size() - done < (1u << 20) ? bytes.size() - done : (1u << 20);
    std::uint32_t written = 0;
    if (!os::WriteFile(file.get(), bytes.data() + done, static_cast<std::uint32_t>(chunk),
                       &written) ||
        written != chunk) {
      return false;
    }
    done += chunk;
  }
  return true;
}

}  // namespace

std::wstring PiecesFileName(int driveNumber) {
  return L"disk" + std::to_wstring(driveNumber) + L".pieces";
}

std::vector<pieces_file::Piece> DrivePieces(const CapturedDrive& drive) {
  std::vector<pieces_file::Piece> pieces;
  pieces_file::Piece run;
  auto flush = [&] {
    if (!run.bytes.empty()) pieces.push_back(std::move(run));
    run = pieces_file::Piece{};
  };
  for (const auto& [offset, bytes] : drive.sectors) {
    if (offset >= drive.bytes) continue;
    if (bytes.find_first_not_of('\0') == std::string::npos) {
      flush();  // the replay's disk reads zeros wherever nothing is stored
      continue;
    }
    const std::string kept = bytes.substr(
        0, static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), drive.bytes - offset)));
    if (!run.bytes.empty() && run.offset + run.bytes.size() != offset) flush();
    if (run.bytes.empty()) run.offset = offset;
    run.bytes += kept;
  }
  flush();
  return pieces;
}

bool WriteProfileFolder(const std::wstring& outDir, const MachineRecord& record,
                        const PairedDisks& paired) {
  for (const CapturedDrive& d : record.drives) {
    const std::string pieces = pieces_file::Encode(DrivePieces(d));
    if (!WriteFileBytes(outDir + L"\\" + PiecesFileName(d.number), pieces)) return false;
  }
  return WriteFileBytes(outDir + L"\\machine.json", MachineJson(record, paired));
}
