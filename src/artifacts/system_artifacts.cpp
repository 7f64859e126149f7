// SYSTEM hive artifacts: control sets, names, time zone, services, devices,
// mounts, interfaces and background activity.
#include <algorithm>
#include <cctype>

#include "artifacts/decoders.h"

namespace cellbrook {
namespace {

using ControlSet = DecodeContext::ControlSet;

template <class Fn>
void EachControlSet(DecodeContext& ctx, Fn&& fn) {
  for (const ControlSet& set : ctx.ControlSets()) {
    if (ctx.Exhausted()) return;
    fn(set);
  }
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Position of `marker` in `text` without regard to ASCII case.
size_t FindNoCase(const std::string& text, std::string_view marker, size_t from = 0) {
  if (marker.size() > text.size()) return std::string::npos;
  for (size_t i = from; i + marker.size() <= text.size(); ++i) {
    if (SameName(std::string_view(text).substr(i, marker.size()), marker)) return i;
  }
  return std::string::npos;
}

// "@file.inf,%name%;Text" gives the text after the last ';'.
FieldValue ResourceText(FieldValue v) {
  if (v.kind == FieldKind::Text && !v.text.empty() && v.text.front() == '@') {
    const size_t semi = v.text.rfind(';');
    if (semi != std::string::npos) v.text = v.text.substr(semi + 1);
  }
  return v;
}

// Install, first install, last arrival, last removal from a device
// instance's properties (both layouts).
void SetDeviceTimes(DecodeContext& ctx, const Node& instance, ArtifactRecord& record) {
  const Node props = ctx.Path(instance, "Properties\\{83da6326-97a6-4088-9453-a1923f573b29}");
  if (!props) return;
  static const char* const kFields[] = {"install_time", "first_install_time", "last_arrival_time", "last_removal_time"};
  for (const Node& sub : ctx.Children(props)) {
    const std::string& n = sub.name;
    if (n.size() != 4 && n.size() != 8) continue;
    if (!std::all_of(n.begin(), n.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) continue;
    const unsigned long id = std::stoul(n, nullptr, 16);
    if (id < 0x64 || id > 0x67) continue;
    std::optional<std::vector<uint8_t>> data;
    ValueSet values;
    if (n.size() == 4) {
      values = ctx.Values(sub);
      const ValueInfo* v = values.Find("");
      if (v && v->Type == 0xFFFF0010u) data = values.Bytes("");
    } else {
      values = ctx.Values(ctx.Child(sub, "00000000"));
      data = values.Bytes("Data");
    }
    ctx.Settle(record, values);
    if (!data) continue;
    if (data->size() < 8) {
      record.Damage("device property " + n + " holds " + std::to_string(data->size()) + " bytes");
      continue;
    }
    record.Set(kFields[id - 0x64], TimeField(Le64At(*data, 0)));
  }
}

}  // namespace

void DecodeControlSets(DecodeContext& ctx) {
  const Node select = ctx.Child(ctx.Root(), "Select");
  if (!select) return;
  ValueSet values = ctx.Values(select);
  ArtifactRecord& r = ctx.Add(select);
  r.Set("current", values.Int("Current"));
  r.Set("default", values.Int("Default"));
  r.Set("failed", values.Int("Failed"));
  r.Set("last_known_good", values.Int("LastKnownGood"));
  std::vector<std::string> names;
  for (const ControlSet& set : ctx.ControlSets()) names.push_back(set.key.name);
  r.Set("control_sets", ListField(std::move(names)));
  ctx.Settle(r, values);
}

void DecodeComputerName(DecodeContext& ctx) {
  EachControlSet(ctx, [&](const ControlSet& set) {
    const Node key = ctx.Path(set.key, "Control\\ComputerName\\ComputerName");
    const Node tcpip = ctx.Path(set.key, "Services\\Tcpip\\Parameters");
    if (!key && !tcpip) return;
    ValueSet names = ctx.Values(key), params = ctx.Values(tcpip);
    ArtifactRecord& r = ctx.Add(key ? key : tcpip);
    if (!key) r.Set("last_written", NullField());
    ctx.SetControlSetFields(r, set);
    r.Set("computer_name", names.String("ComputerName"));
    r.Set("hostname", params.String("Hostname"));
    r.Set("domain", params.String("Domain"));
    ctx.Settle(r, names);
    ctx.Settle(r, params);
  });
}

void DecodeTimeZone(DecodeContext& ctx) {
  EachControlSet(ctx, [&](const ControlSet& set) {
    const Node key = ctx.Path(set.key, "Control\\TimeZoneInformation");
    if (!key) return;
    ValueSet v = ctx.Values(key);
    ArtifactRecord& r = ctx.Add(key);
    ctx.SetControlSetFields(r, set);
    r.Set("time_zone_key_name", v.String("TimeZoneKeyName"));
    r.Set("standard_name", v.String("StandardName"));
    r.Set("daylight_name", v.String("DaylightName"));
    r.Set("bias", v.Signed("Bias"));
    r.Set("active_time_bias", v.Signed("ActiveTimeBias"));
    r.Set("standard_bias", v.Signed("StandardBias"));
    r.Set("daylight_bias", v.Signed("DaylightBias"));
    // Time-fields order: year, month, day, hour, minute, second, ms, weekday.
    for (const char* which : {"StandardStart", "DaylightStart"}) {
      auto bytes = v.Bytes(which);
      FieldValue rule;
      if (bytes && bytes->size() == 16) {
        rule.kind = FieldKind::Object;
        auto at = [&](size_t i) { return std::optional<int64_t>(Le16At(*bytes, 2 * i)); };
        rule.members = {{"month", at(1)},  {"week", at(2)},   {"day_of_week", at(7)}, {"hour", at(3)},
                        {"minute", at(4)}, {"second", at(5)}, {"millisecond", at(6)}};
      }
      r.Set(std::string_view(which) == "StandardStart" ? "standard_start" : "daylight_start", std::move(rule));
    }
    r.Set("dynamic_daylight_time_disabled", v.Int("DynamicDaylightTimeDisabled"));
    ctx.Settle(r, v);
  });
}

void DecodeShutdownTime(DecodeContext& ctx) {
  EachControlSet(ctx, [&](const ControlSet& set) {
    const Node key = ctx.Path(set.key, "Control\\Windows");
    ValueSet v = ctx.Values(key);
    const ValueInfo* value = v.Find("ShutdownTime");
    if (!value) return;
    ArtifactRecord& r = ctx.Add(key, value);
    ctx.SetControlSetFields(r, set);
    auto bytes = v.Bytes("ShutdownTime");
    if (bytes && bytes->size() >= 8) {
      r.Set("shutdown_time", TimeField(Le64At(*bytes, 0)));
    } else if (bytes) {
      r.Damage("ShutdownTime holds " + std::to_string(bytes->size()) + " bytes, not 8");
    }
    ctx.Settle(r, v);
  });
}

void DecodeServices(DecodeContext& ctx) {
  static const char* const kStart[] = {"boot", "system", "automatic", "manual", "disabled"};
  static const char* const kTypeBits[] = {"kernel_driver",     "file_system_driver",    "adapter",
                                          "recognizer_driver", "own_process",           "share_process",
                                          "user_service",      "user_service_instance", "interactive_process"};
  EachControlSet(ctx, [&](const ControlSet& set) {
    for (const Node& service : ctx.Children(ctx.Child(set.key, "Services"))) {
      if (ctx.Exhausted()) return;
      ValueSet v = ctx.Values(service);
      ArtifactRecord& r = ctx.Add(service);
      ctx.SetControlSetFields(r, set);
      r.Set("name", TextField(service.name));
      r.Set("display_name", v.String("DisplayName"));
      r.Set("image_path", v.String("ImagePath"));
      const auto start = v.Dword("Start");
      r.Set("start", OptionalInt(start));
      if (start && *start < 5) {
        const bool delayed = *start == 2 && v.Dword("DelayedAutostart") == 1u;
        r.Set("start_type", TextField(delayed ? "automatic_delayed" : kStart[*start]));
      }
      const auto type = v.Dword("Type");
      r.Set("type", OptionalInt(type));
      if (type) {
        std::vector<std::string> bits;
        for (size_t b = 0; b < std::size(kTypeBits); ++b) {
          if (*type & (1u << b)) bits.push_back(kTypeBits[b]);
        }
        r.Set("service_type", ListField(std::move(bits)));
      }
      r.Set("object_name", v.String("ObjectName"));
      r.Set("group", v.String("Group"));
      r.Set("description", v.String("Description"));
      ValueSet params = ctx.Values(ctx.Child(service, "Parameters"));
      FieldValue dll = params.String("ServiceDll");
      r.Set("service_dll", dll.IsNull() ? v.String("ServiceDll") : std::move(dll));
      ctx.Settle(r, v);
      ctx.Settle(r, params);
    }
  });
}

void DecodeUsbStor(DecodeContext& ctx) {
  EachControlSet(ctx, [&](const ControlSet& set) {
    for (const Node& device : ctx.Children(ctx.Path(set.key, "Enum\\USBSTOR"))) {
      const std::string& id = device.name;
      const size_t amp = id.find('&');
      const size_t ven = FindNoCase(id, "&Ven_"), prod = FindNoCase(id, "&Prod_"), rev = FindNoCase(id, "&Rev_");
      auto part = [&](size_t at, size_t marker, std::initializer_list<size_t> ends) -> FieldValue {
        if (at == std::string::npos) return NullField();
        const size_t from = at + marker;
        size_t end = id.size();
        for (size_t e : ends) {
          if (e != std::string::npos && e >= from) end = std::min(end, e);
        }
        return TextField(id.substr(from, end - from));
      };
      for (const Node& instance : ctx.Children(device)) {
        if (ctx.Exhausted()) return;
        ValueSet v = ctx.Values(instance);
        ArtifactRecord& r = ctx.Add(instance);
        ctx.SetControlSetFields(r, set);
        r.Set("device_type", TextField(id.substr(0, amp)));
        r.Set("vendor", part(ven, 5, {prod, rev}));
        r.Set("product", part(prod, 6, {rev}));
        r.Set("revision", part(rev, 5, {}));
        r.Set("serial_number", TextField(instance.name));
        r.Set("friendly_name", v.String("FriendlyName"));
        ValueSet partmgr = ctx.Values(ctx.Path(instance, "Device Parameters\\Partmgr"));
        r.Set("disk_id", partmgr.String("DiskId"));
        r.Set("container_id", v.String("ContainerID"));
        SetDeviceTimes(ctx, instance, r);
        ctx.Settle(r, v);
        ctx.Settle(r, partmgr);
      }
    }
  });
}

void DecodeUsbDevices(DecodeContext& ctx) {
  EachControlSet(ctx, [&](const ControlSet& set) {
    for (const Node& device : ctx.Children(ctx.Path(set.key, "Enum\\USB"))) {
      const std::string& id = device.name;
      auto hex = [&](std::string_view marker, size_t digits) -> FieldValue {
        const size_t at = FindNoCase(id, marker);
        if (at == std::string::npos || at + marker.size() + digits > id.size()) return NullField();
        return TextField(Upper(id.substr(at + marker.size(), digits)));
      };
      const bool inBudget = ctx.EachSubkeyRecord(device, [&](const Node& instance, ValueSet& v, ArtifactRecord& r) {
        ctx.SetControlSetFields(r, set);
        r.Set("device_id", TextField(id));
        r.Set("vid", hex("VID_", 4));
        r.Set("pid", hex("PID_", 4));
        r.Set("interface", hex("MI_", 2));
        r.Set("instance_id", TextField(instance.name));
        r.Set("device_desc", ResourceText(v.String("DeviceDesc")));
        r.Set("friendly_name", v.String("FriendlyName"));
        r.Set("manufacturer", ResourceText(v.String("Mfg")));
        r.Set("service", v.String("Service"));
        r.Set("class_name", v.String("Class"));
        r.Set("class_guid", v.String("ClassGUID"));
        r.Set("container_id", v.String("ContainerID"));
        r.Set("driver", v.String("Driver"));
        r.Set("hardware_ids", v.Multi("HardwareID"));
        r.Set("location_information", v.String("LocationInformation"));
        SetDeviceTimes(ctx, instance, r);
      });
      if (!inBudget) return;
    }
  });
}

void DecodeMountedDevices(DecodeContext& ctx) {
  const Node key = ctx.Child(ctx.Root(), "MountedDevices");
  if (!key) return;
  ValueSet values = ctx.Values(key);
  for (size_t i = 0; i < values.All().size(); ++i) {
    const ValueInfo& value = values.All()[i];
    const std::string& name = values.Names()[i];
    if (name.empty()) continue;
    ArtifactRecord& r = ctx.Add(key, &value);
    r.Set("name", TextField(name));
    if (name.size() > 12 && SameName(name.substr(0, 12), "\\DosDevices\\")) {
      r.Set("mount_point", TextField(name.substr(12)));
      r.Set("mount_type", TextField("drive_letter"));
    } else if (name.size() > 4 && name.compare(0, 4, "\\??\\") == 0 && SameName(name.substr(4, 7), "Volume{")) {
      r.Set("mount_point", TextField(name.substr(4)));
      r.Set("mount_type", TextField("volume_guid"));
    } else {
      r.Set("mount_type", TextField("other"));
    }
    std::vector<uint8_t> data;
    if (!ReadValueBytes(value, data)) {
      r.Set("data_kind", TextField("unknown"));
      r.Damage("the data of value " + name + " cannot be read");
      continue;
    }
    if (data.size() == 12) {
      char sig[16];
      std::snprintf(sig, sizeof sig, "%08x", Le32At(data, 0));
      r.Set("data_kind", TextField("mbr"));
      r.Set("disk_signature", TextField(sig));
      r.Set("partition_offset", IntField(Le64At(data, 4)));
    } else if (data.size() == 24 && std::equal(data.begin(), data.begin() + 8, "DMIO:ID:")) {
      r.Set("data_kind", TextField("gpt"));
      r.Set("partition_guid", TextField(GuidText(data, 8)));
    } else if (data.size() >= 4 && data.size() % 2 == 0 && data[1] == 0 && data[3] == 0) {
      r.Set("data_kind", TextField("device_path"));
      r.Set("device_path", TextField(Utf16Text(data)));
    } else {
      r.Set("data_kind", TextField("unknown"));
    }
  }
  if (values.ListDamaged()) ctx.Skipped(1, key.path);
}

void DecodeNetworkInterfaces(DecodeContext& ctx) {
  EachControlSet(ctx, [&](const ControlSet& set) {
    const bool inBudget = ctx.EachSubkeyRecord(
        ctx.Path(set.key, "Services\\Tcpip\\Parameters\\Interfaces"),
        [&](const Node& iface, ValueSet& v, ArtifactRecord& r) {
          ctx.SetControlSetFields(r, set);
          r.Set("interface", TextField(iface.name));
          const auto dhcp = v.Dword("EnableDHCP");
          r.Set("dhcp_enabled", dhcp ? BoolField(*dhcp != 0) : NullField());
          r.Set("ip_address", v.Multi("IPAddress", true));
          r.Set("subnet_mask", v.Multi("SubnetMask", true));
          r.Set("default_gateway", v.Multi("DefaultGateway", true));
          r.Set("name_server", v.String("NameServer"));
          r.Set("domain", v.String("Domain"));
          r.Set("dhcp_ip_address", v.String("DhcpIPAddress"));
          r.Set("dhcp_subnet_mask", v.String("DhcpSubnetMask"));
          r.Set("dhcp_server", v.String("DhcpServer"));
          r.Set("dhcp_name_server", v.String("DhcpNameServer"));
          r.Set("dhcp_domain", v.String("DhcpDomain"));
          r.Set("dhcp_default_gateway", v.Multi("DhcpDefaultGateway", true));
          const auto obtained = v.Dword("LeaseObtainedTime"), terminates = v.Dword("LeaseTerminatesTime");
          r.Set("lease_obtained_time", obtained && *obtained ? TimeField(UnixToFileTime(*obtained)) : NullField());
          r.Set("lease_terminates_time",
                terminates && *terminates ? TimeField(UnixToFileTime(*terminates)) : NullField());
        });
    if (!inBudget) return;
  });
}

void DecodeBam(DecodeContext& ctx) {
  static const struct {
    const char* service;
    const char* path;
  } kPlaces[] = {{"bam", "Services\\bam\\State\\UserSettings"},
                 {"bam", "Services\\bam\\UserSettings"},
                 {"dam", "Services\\dam\\State\\UserSettings"},
                 {"dam", "Services\\dam\\UserSettings"}};
  EachControlSet(ctx, [&](const ControlSet& set) {
    for (const auto& place : kPlaces) {
      for (const Node& sidKey : ctx.Children(ctx.Path(set.key, place.path))) {
        if (ctx.Exhausted()) return;
        ValueSet v = ctx.Values(sidKey);
        const FieldValue sequence = v.Int("SequenceNumber"), version = v.Int("Version");
        for (size_t i = 0; i < v.All().size(); ++i) {
          const ValueInfo& value = v.All()[i];
          if (value.Type != RegBinary) continue;
          std::vector<uint8_t> data;
          const bool readable = ReadValueBytes(value, data);
          if (readable && data.size() < 8) continue;
          ArtifactRecord& r = ctx.Add(sidKey, &value);
          ctx.SetControlSetFields(r, set);
          r.Set("service", TextField(place.service));
          r.Set("sid", TextField(sidKey.name));
          r.Set("path", TextField(v.Names()[i]));
          if (readable) {
            r.Set("last_run", TimeField(Le64At(data, 0)));
          } else {
            r.Damage("the data of value " + v.Names()[i] + " cannot be read");
          }
          r.Set("sequence_number", sequence);
          r.Set("version", version);
        }
      }
    }
  });
}

}  // namespace cellbrook
