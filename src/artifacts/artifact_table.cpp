#include "artifacts/artifact_table.h"

#include <array>

#include "artifacts/decoders.h"

namespace cellbrook {
namespace {

constexpr uint32_t Kinds(std::initializer_list<HiveKind> kinds) {
  uint32_t bits = 0;
  for (HiveKind k : kinds) bits |= static_cast<uint32_t>(k);
  return bits;
}

constexpr uint32_t kSystem = static_cast<uint32_t>(HiveKind::System);
constexpr uint32_t kNtuser = static_cast<uint32_t>(HiveKind::Ntuser);
constexpr uint32_t kSoftware = static_cast<uint32_t>(HiveKind::Software);

#define SHELL_ITEM_FIELDS                                                                                   \
  "name", "item_type", "class_type", "shell_folder", "raw", "modified", "created", "accessed", "mft_entry", \
      "mft_sequence", "file_size"

const std::vector<ArtifactDecoder>& Table() {
  static const std::vector<ArtifactDecoder> table = {
      {"control_sets",
       "the control sets and which one is current (Select)",
       kSystem,
       {"current", "default", "failed", "last_known_good", "control_sets", "last_written"},
       DecodeControlSets},
      {"computer_name",
       "the computer's NetBIOS name, host name and DNS domain",
       kSystem,
       {"control_set", "current", "computer_name", "hostname", "domain", "last_written"},
       DecodeComputerName},
      {"timezone",
       "the time zone, its biases and daylight saving rules",
       kSystem,
       {"control_set", "current", "time_zone_key_name", "standard_name", "daylight_name", "bias", "active_time_bias",
        "standard_bias", "daylight_bias", "standard_start", "daylight_start", "dynamic_daylight_time_disabled",
        "last_written"},
       DecodeTimeZone},
      {"shutdown_time",
       "the time of the last clean shutdown",
       kSystem,
       {"control_set", "current", "shutdown_time", "last_written"},
       DecodeShutdownTime},
      {"services",
       "services and drivers: image, start type, account, service DLL",
       kSystem,
       {"control_set", "current", "name", "display_name", "image_path", "start", "start_type", "type", "service_type",
        "object_name", "group", "description", "service_dll", "last_written"},
       DecodeServices},
      {"usbstor",
       "USB storage devices: vendor, product, serial number, times connected",
       kSystem,
       {"control_set", "current", "device_type", "vendor", "product", "revision", "serial_number", "friendly_name",
        "disk_id", "container_id", "install_time", "first_install_time", "last_arrival_time", "last_removal_time",
        "last_written"},
       DecodeUsbStor},
      {"usb_devices",
       "USB devices: vendor and product ids, descriptions, times connected",
       kSystem,
       {"control_set",
        "current",
        "device_id",
        "vid",
        "pid",
        "interface",
        "instance_id",
        "device_desc",
        "friendly_name",
        "manufacturer",
        "service",
        "class_name",
        "class_guid",
        "container_id",
        "driver",
        "hardware_ids",
        "location_information",
        "install_time",
        "first_install_time",
        "last_arrival_time",
        "last_removal_time",
        "last_written"},
       DecodeUsbDevices},
      {"mounted_devices",
       "drive letters and volumes with the disks and partitions they name",
       kSystem,
       {"name", "mount_point", "mount_type", "data_kind", "disk_signature", "partition_offset", "partition_guid",
        "device_path", "last_written"},
       DecodeMountedDevices},
      {"network_interfaces",
       "TCP/IP interfaces: addresses, DHCP leases, name servers",
       kSystem,
       {"control_set", "current", "interface", "dhcp_enabled", "ip_address", "subnet_mask", "default_gateway",
        "name_server", "domain", "dhcp_ip_address", "dhcp_subnet_mask", "dhcp_server", "dhcp_name_server",
        "dhcp_domain", "dhcp_default_gateway", "lease_obtained_time", "lease_terminates_time", "last_written"},
       DecodeNetworkInterfaces},
      {"shimcache",
       "the application compatibility cache: programs and their modification times",
       kSystem,
       {"control_set", "current", "position", "path", "last_modified", "executed", "file_size", "last_updated",
        "insert_flags", "shim_flags", "data_size", "format", "last_written"},
       DecodeShimCache},
      {"bam",
       "background activity moderator: programs each user last ran",
       kSystem,
       {"control_set", "current", "service", "sid", "path", "last_run", "sequence_number", "version", "last_written",
        "user"},
       DecodeBam},
      {"userassist",
       "programs and shortcuts a user ran, with run counts and times",
       kNtuser,
       {"guid", "name", "version", "session_id", "run_count", "focus_count", "focus_time_ms", "last_run",
        "last_written"},
       DecodeUserAssist},
      {"recentdocs",
       "documents and folders a user opened recently",
       kNtuser,
       {"extension", "value_name", "position", "name", "lnk_name", "opened_time", "last_written"},
       DecodeRecentDocs},
      {"runmru",
       "commands typed in the Run dialog",
       kNtuser,
       {"value_name", "position", "command", "last_written"},
       DecodeRunMru},
      {"typed_paths",
       "paths typed in the Explorer address bar",
       kNtuser,
       {"value_name", "position", "path", "last_written"},
       DecodeTypedPaths},
      {"typed_urls",
       "addresses typed in the browser",
       kNtuser,
       {"value_name", "position", "url", "typed_time", "last_written"},
       DecodeTypedUrls},
      {"word_wheel_query",
       "search terms typed in Explorer",
       kNtuser,
       {"value_name", "position", "term", "last_written"},
       DecodeWordWheelQuery},
      {"open_save_mru",
       "files chosen in the open and save dialogs",
       kNtuser,
       {"extension", "value_name", "position", "path", "last_written"},
       DecodeOpenSaveMru},
      {"last_visited_mru",
       "programs and the folders they last used in the open and save dialogs",
       kNtuser,
       {"value_name", "position", "executable", "path", "last_written"},
       DecodeLastVisitedMru},
      {"network_drives",
       "persistent mapped network drives",
       kNtuser,
       {"drive_letter", "remote_path", "user_name", "provider_name", "connection_type", "last_written"},
       DecodeNetworkDrives},
      {"shellbags",
       "folders a user opened in Explorer (shell bags)",
       Kinds({HiveKind::Ntuser, HiveKind::Usrclass}),
       {"value_name", "position", "node_slot", "path", SHELL_ITEM_FIELDS, "last_written", "user"},
       DecodeShellBags},
      {"wsl_distributions",
       "registered Windows Subsystem for Linux distributions",
       kNtuser,
       {"guid", "distribution_name", "base_path", "package_family_name", "kernel_command_line", "default_uid",
        "version", "state", "flags", "enable_interop", "append_nt_path", "enable_drive_mounting", "default_environment",
        "is_default", "last_written"},
       DecodeWslDistributions},
      {"run_keys",
       "programs started at logon (Run, RunOnce and the like)",
       kNtuser | kSoftware,
       {"run_key", "name", "command", "value_type", "last_written"},
       DecodeRunKeys},
      {"installed_programs",
       "installed programs (Uninstall entries)",
       kNtuser | kSoftware,
       {"name", "display_name", "display_version", "publisher", "install_location", "install_source",
        "uninstall_string", "install_date", "estimated_size", "system_component", "last_written"},
       DecodeInstalledPrograms},
      {"os_version",
       "the Windows product, version, build and install time",
       kSoftware,
       {"product_name", "edition_id", "installation_type", "current_version", "display_version", "release_id",
        "build_lab", "build_lab_ex", "csd_version", "registered_owner", "registered_organization", "product_id",
        "current_build", "current_major_version", "current_minor_version", "ubr", "install_date", "install_time",
        "last_written"},
       DecodeOsVersion},
      {"profile_list",
       "user profiles: SID, profile folder, load and unload times",
       kSoftware,
       {"sid", "profile_path", "flags", "state", "load_time", "unload_time", "last_written", "user"},
       DecodeProfileList},
      {"network_profiles",
       "networks the machine joined, with first and last connection",
       kSoftware,
       {"profile_guid", "profile_name", "description", "managed", "category", "name_type", "date_created_local",
        "date_last_connected_local", "dns_suffix", "first_network", "default_gateway_mac", "last_written"},
       DecodeNetworkProfiles},
      {"app_paths",
       "registered application paths",
       kSoftware,
       {"application", "path", "app_path", "last_written"},
       DecodeAppPaths},
      {"sam_users",
       "local user accounts: names, logon times and counts, account flags",
       static_cast<uint32_t>(HiveKind::Sam),
       {"rid", "user_name", "full_name", "comment", "user_comment", "home_directory", "profile_path", "last_login",
        "password_last_set", "account_expires", "last_failed_login", "login_count", "failed_login_count",
        "account_flags", "account_flags_decoded", "last_written", "user"},
       DecodeSamUsers},
      {"local_sid",
       "the machine's own SID",
       static_cast<uint32_t>(HiveKind::Sam),
       {"sid", "last_written"},
       DecodeLocalSid},
      {"domain_sid",
       "the primary domain and the machine's account domain, names and SIDs",
       static_cast<uint32_t>(HiveKind::Security),
       {"domain_name", "domain_sid", "account_domain_name", "machine_sid", "dns_domain_name", "last_written"},
       DecodeDomainSid},
      {"amcache_files",
       "programs recorded by the Amcache: path, SHA-1, size, publisher",
       static_cast<uint32_t>(HiveKind::Amcache),
       {"layout", "path", "sha1", "size", "product_name", "publisher", "file_version", "description", "link_date",
        "program_id", "modified", "created", "modified_alt", "volume_guid", "file_reference", "binary_type",
        "last_written"},
       DecodeAmcacheFiles},
      {"boot_entries",
       "boot manager entries: description, loader path, partition",
       static_cast<uint32_t>(HiveKind::Bcd),
       {"guid", "type", "application_type", "description", "application_path", "device_partition_guid",
        "device_disk_guid", "last_written"},
       DecodeBootEntries},
  };
  return table;
}

}  // namespace

int ArtifactDecoder::FieldIndex(std::string_view field) const {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (field == fields[i]) return static_cast<int>(i);
  }
  return -1;
}

std::span<const ArtifactDecoder> ArtifactDecoders() { return Table(); }

const ArtifactDecoder* FindArtifactDecoder(std::string_view name) {
  for (const ArtifactDecoder& d : Table()) {
    if (name == d.name) return &d;
  }
  return nullptr;
}

std::string KindListText(uint32_t kinds) {
  std::string text;
  for (uint32_t bit = 1; bit != 0 && bit <= static_cast<uint32_t>(HiveKind::Usrclass); bit <<= 1) {
    if (!(kinds & bit)) continue;
    if (!text.empty()) text += ',';
    text += HiveKindName(static_cast<HiveKind>(bit));
  }
  return text;
}

}  // namespace cellbrook
