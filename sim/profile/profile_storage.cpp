// storage_config: the cache the storage controller holds before the run, and the disks' roles
// in it.
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "sim/profile/loader_parts.h"

namespace sim {

StorageConfig ParseStorageConfig(const JsonReader& r, const nlohmann::json& object,
                                 const Profile& p) {
  const JsonReader c = r.Sub("storage_config");
  c.Only(object, {"cache_device", "cache_size", "accelerated_disk", "mode", "volume_number",
                  "refuse_system_disk", "volume_holds_intelrst"});
  StorageConfig config;
  c.TakeTexts(object, {{"cache_device", &config.cache_device},
                       {"cache_size", &config.cache_size},
                       {"accelerated_disk", &config.accelerated_disk},
                       {"mode", &config.mode}});
  auto listed = [&](const std::string& id) {
    for (const Disk& d : p.disks) {
      if (d.rst && d.rst->id == id) return true;
    }
    return false;
  };
  if (!config.cache_device.empty() && !listed(config.cache_device))
    c.Fail("cache_device", "must be the rst id of one of the disks");
  if (config.cache_device.empty() &&
      !(config.cache_size.empty() && config.accelerated_disk.empty() && config.mode.empty()))
    c.Fail("cache_device", "is required for a cache size, an accelerated disk or a mode");
  if (!config.cache_size.empty() && !(std::strtod(config.cache_size.c_str(), nullptr) > 0))
    c.Fail("cache_size", "must be a size in GB above 0");
  if (!config.accelerated_disk.empty() && !listed(config.accelerated_disk))
    c.Fail("accelerated_disk", "must be the rst id of one of the disks");
  if (config.accelerated_disk.empty() != config.mode.empty())
    c.Fail(config.mode.empty() ? "mode" : "accelerated_disk", "goes with the other");
  if (!config.mode.empty() && config.mode != "maximized" && config.mode != "enhanced")
    c.Fail("mode", "must be \"maximized\" or \"enhanced\"");
  if (object.contains("volume_number"))
    config.volume_number =
        static_cast<int>(c.Integer(object["volume_number"], "volume_number", 0, 1000));
  if (object.contains("refuse_system_disk"))
    config.refuse_system_disk = c.Bool(object["refuse_system_disk"], "refuse_system_disk");
  if (object.contains("volume_holds_intelrst"))
    config.volume_holds_intelrst = c.Bool(object["volume_holds_intelrst"], "volume_holds_intelrst");
  return config;
}

// The cache device is hidden from Windows; a data volume stands only beside a cache that
// leaves a remainder, and there is one such remainder.
void CheckCacheRoles(const JsonReader& r, Profile& p) {
  std::size_t volumes = 0;
  for (std::size_t i = 0; i < p.disks.size(); ++i) {
    Disk& d = p.disks[i];
    // A cache no larger than its device: the tool refuses a larger one when it makes it.
    if (d.rst && d.rst->id == p.storage_config.cache_device &&
        !p.storage_config.cache_size.empty()) {
      std::error_code ec;
      const std::uint64_t bytes = !d.image.empty() ? std::filesystem::file_size(d.image, ec)
                                  : d.captured     ? d.captured->bytes
                                                   : d.size_mb << 20;
      const double mib =
          std::ceil(std::strtod(p.storage_config.cache_size.c_str(), nullptr) * 1024);
      if (!ec && !(mib <= static_cast<double>(bytes >> 20)))
        r.Fail("storage_config.cache_size", p.storage_config.cache_size +
                                                " GB is more than disks[" + std::to_string(i) +
                                                "], the cache's device, holds");
    }
    if (d.role == DiskRole::kDataVolume) {
      if (p.storage_config.cache_device.empty() || p.storage_config.cache_size.empty())
        r.Fail("disks[" + std::to_string(i) + "].role",
               "a data volume needs a cache with a cache_size (storage_config)");
      if (++volumes > 1) r.Fail("disks[" + std::to_string(i) + "].role", "only one data volume");
    } else if (d.rst && !p.storage_config.cache_device.empty() &&
               d.rst->id == p.storage_config.cache_device) {
      d.role = DiskRole::kCacheDevice;
    }
  }
}

}  // namespace sim
