// Artifact decoders over built hives: every layout and edge, damaged and
// empty values, hostile sizes.
#include <gtest/gtest.h>

#include "artifact_hive.h"
#include "artifacts/artifact_table.h"
#include "artifacts/hive_kind.h"
#include "artifacts/shell_items.h"
#include "hive/hive_reader.h"
#include "hive_mutations.h"

namespace cellbrook::test {
namespace {

constexpr uint64_t kT1 = 132000000000000000ull;  // 2019-04-17T18:40:00.0000000Z
constexpr const char* kT1Text = "2019-04-17T18:40:00.0000000Z";
constexpr uint64_t kT2 = 130000000000000001ull;  // 2012-12-14T23:06:40.0000001Z
constexpr const char* kT2Text = "2012-12-14T23:06:40.0000001Z";

std::string F(const ArtifactRecord* r, std::string_view field) { return FieldText(r->Get(field)); }
bool Null(const ArtifactRecord* r, std::string_view field) { return r->Get(field).IsNull(); }

TreeHive SystemHive() {
  TreeHive t;
  t.Value("Select", "Current", RegDword, Dword(1));
  t.Key("ControlSet001\\Control");
  return t;
}

// ---- hive kinds

TEST(HiveKindTest, EachRuleInOrder) {
  struct Case {
    std::vector<std::string> keys;
    HiveKind kind;
    bool partial;
  } cases[] = {
      {{"Select", "ControlSet001", "Software", "Input", "Keyboard Layout"}, HiveKind::System, false},
      {{"Select", "ControlSetX01"}, HiveKind::Unknown, false},
      {{"SAM\\Domains\\Account"}, HiveKind::Sam, false},
      {{"Policy\\PolAdtEv"}, HiveKind::Security, false},
      {{"Policy\\Secrets"}, HiveKind::Security, false},
      {{"Policy\\Other"}, HiveKind::Unknown, false},
      {{"Root\\InventoryApplicationFile"}, HiveKind::Amcache, false},
      {{"Objects", "Description"}, HiveKind::Bcd, false},
      {{"Microsoft\\Windows NT\\CurrentVersion\\ProfileList"}, HiveKind::Software, false},
      {{"Software", "Console"}, HiveKind::Ntuser, false},
      {{"SOFTWARE", "control panel"}, HiveKind::Ntuser, false},
      {{"Local Settings"}, HiveKind::Usrclass, false},
      {{"CLSID"}, HiveKind::Usrclass, false},
      {{"CLSID", "Software"}, HiveKind::Unknown, false},
      {{"Microsoft\\Windows\\CurrentVersion\\Explorer"}, HiveKind::Ntuser, true},
  };
  for (const Case& c : cases) {
    TreeHive t;
    for (const std::string& k : c.keys) t.Key(k);
    BoundHive h(t.Build());
    const HiveKindGuess g = DetectHiveKind(h.image);
    EXPECT_EQ(g.kind, c.kind) << c.keys.front();
    EXPECT_EQ(g.partialUser, c.partial) << c.keys.front();
  }
}

TEST(ArtifactTableTest, NamesAreUniqueAndFieldsDeclaredOnce) {
  std::set<std::string> names;
  for (const ArtifactDecoder& d : ArtifactDecoders()) {
    EXPECT_TRUE(names.insert(d.name).second) << d.name;
    std::set<std::string> fields(d.fields.begin(), d.fields.end());
    EXPECT_EQ(fields.size(), d.fields.size()) << d.name;
    EXPECT_NE(d.kinds, 0u) << d.name;
  }
  EXPECT_EQ(names.size(), 33u);
  EXPECT_EQ(KindListText(FindArtifactDecoder("shellbags")->kinds), "ntuser,usrclass");
  EXPECT_EQ(KindListText(FindArtifactDecoder("run_keys")->kinds), "software,ntuser");
}

// ---- SYSTEM

TEST(ControlSetTest, EveryControlSetAscendingWithTheCurrentMarked) {
  TreeHive t;
  t.Value("Select", "Current", RegDword, Dword(2));
  t.Value("Select", "Default", RegDword, Dword(2));
  t.Value("Select", "LastKnownGood", RegDword, Dword(3));
  t.Value("ControlSet003\\Control\\ComputerName\\ComputerName", "ComputerName", RegSz, Sz(u"OLD"));
  t.Value("controlset002\\Control\\ComputerName\\ComputerName", "computername", RegSz, Sz(u"NEW"));
  t.Value("controlset002\\services\\Tcpip\\Parameters", "Hostname", RegSz, Sz(u"new-host"));
  t.Time("controlset002\\Control\\ComputerName\\ComputerName", kT1);
  DecodedHive d(t.Build());
  const auto sets = d.Of("control_sets");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(F(sets[0], "current"), "2");
  EXPECT_TRUE(Null(sets[0], "failed"));
  EXPECT_EQ(F(sets[0], "control_sets"), "controlset002; ControlSet003");
  const auto names = d.Of("computer_name");
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(F(names[0], "control_set"), "controlset002");
  EXPECT_EQ(F(names[0], "current"), "true");
  EXPECT_EQ(F(names[0], "computer_name"), "NEW");
  EXPECT_EQ(F(names[0], "hostname"), "new-host");
  EXPECT_EQ(F(names[0], "last_written"), kT1Text);
  EXPECT_EQ(F(names[1], "current"), "false");
  EXPECT_EQ(F(names[1], "computer_name"), "OLD");
  EXPECT_EQ(names[0]->key, "ROOT\\controlset002\\Control\\ComputerName\\ComputerName");
}

TEST(TimeZoneTest, StartRulesInTimeFieldsOrderAndSignedBiases) {
  TreeHive t = SystemHive();
  const char* key = "ControlSet001\\Control\\TimeZoneInformation";
  Bytes name = Sz(u"Eastern Standard Time");
  name.insert(name.end(), {0x41, 0x00, 0x42, 0x00});  // bytes after the NUL
  t.Value(key, "TimeZoneKeyName", RegSz, name);
  t.Value(key, "Bias", RegDword, Dword(300));
  t.Value(key, "DaylightBias", RegDword, Dword(0xFFFFFFC4));
  t.Value(key, "StandardStart", RegBinary, Le16s({0, 11, 1, 2, 0, 0, 0, 0}));
  t.Value(key, "DaylightStart", RegBinary, Le16s({0, 3, 2, 2}));  // 8 bytes: not a rule
  DecodedHive d(t.Build(), {"timezone"});
  const auto r = d.Of("timezone");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(F(r[0], "time_zone_key_name"), "Eastern Standard Time");
  EXPECT_EQ(F(r[0], "bias"), "300");
  EXPECT_EQ(F(r[0], "daylight_bias"), "-60");
  EXPECT_EQ(F(r[0], "standard_start"),
            "{\"month\":11,\"week\":1,\"day_of_week\":0,\"hour\":2,\"minute\":0,\"second\":0,\"millisecond\":0}");
  EXPECT_TRUE(Null(r[0], "daylight_start"));
  EXPECT_TRUE(Null(r[0], "standard_name"));
  EXPECT_FALSE(r[0]->damaged);
}

TEST(ShutdownTimeTest, OnlyWhereTheValueExistsAndShortDataIsDamage) {
  TreeHive t = SystemHive();
  t.Value("ControlSet001\\Control\\Windows", "ShutdownTime", RegBinary, Qword(kT2));
  t.Value("ControlSet002\\Control\\Windows", "ShutdownTime", RegBinary, Dword(7));
  t.Key("ControlSet003\\Control\\Windows");
  DecodedHive d(t.Build(), {"shutdown_time"});
  const auto r = d.Of("shutdown_time");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(F(r[0], "shutdown_time"), kT2Text);
  EXPECT_TRUE(r[1]->damaged);
  EXPECT_TRUE(Null(r[1], "shutdown_time"));
  EXPECT_EQ(d.run.damagedRecords, 1u);
}

TEST(ServicesTest, StartTypesTypeBitsAndServiceDll) {
  TreeHive t = SystemHive();
  const std::string s = "ControlSet001\\services\\";
  t.Value(s + "Boot", "Start", RegDword, Dword(0));
  t.Value(s + "Delayed", "Start", RegDword, Dword(2));
  t.Value(s + "Delayed", "DelayedAutostart", RegDword, Dword(1));
  t.Value(s + "Delayed", "Type", RegDword, Dword(0x120));
  t.Value(s + "Delayed", "ServiceDll", RegExpandSz, Sz(u"outer.dll"));
  t.Value(s + "Delayed\\Parameters", "ServiceDll", RegExpandSz, Sz(u"%SystemRoot%\\inner.dll"));
  t.Value(s + "Odd", "Start", RegDword, Dword(9));
  t.Value(s + "Odd", "ImagePath", RegExpandSz, Sz(u"%SystemRoot%\\odd.sys"));
  t.Value(s + "Odd", "ServiceDll", RegSz, Sz(u"own.dll"));
  t.Value(s + "Odd", "DisplayName", RegDword, Dword(1));  // wrong type: null, no damage
  DecodedHive d(t.Build(), {"services"});
  const auto r = d.Of("services");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(F(r[0], "start_type"), "boot");
  EXPECT_TRUE(Null(r[0], "service_type"));
  EXPECT_EQ(F(r[1], "start_type"), "automatic_delayed");
  EXPECT_EQ(F(r[1], "service_type"), "share_process; interactive_process");
  EXPECT_EQ(F(r[1], "service_dll"), "%SystemRoot%\\inner.dll");
  EXPECT_TRUE(Null(r[2], "start_type"));
  EXPECT_EQ(F(r[2], "start"), "9");
  EXPECT_EQ(F(r[2], "image_path"), "%SystemRoot%\\odd.sys");
  EXPECT_EQ(F(r[2], "service_dll"), "own.dll");
  EXPECT_TRUE(Null(r[2], "display_name"));
  EXPECT_FALSE(d.run.Damaged());
}

TEST(UsbTest, DeviceNamesAndPropertyTimesInBothLayouts) {
  TreeHive t = SystemHive();
  const std::string stor = "ControlSet001\\Enum\\USBSTOR\\Disk&VEN_Maker&Prod_Model X&Rev_1.00\\SER123&0";
  t.Value(stor, "FriendlyName", RegSz, Sz(u"Maker Model USB Device"));
  t.Value(stor + "\\Device Parameters\\Partmgr", "DiskId", RegSz, Sz(u"{abc}"));
  const std::string props = stor + "\\Properties\\{83da6326-97a6-4088-9453-a1923f573b29}";
  t.Value(props + "\\0064", "", 0xFFFF0010u, Qword(kT1));                  // Windows 8 and later
  t.Value(props + "\\00000066\\00000000", "Type", RegDword, Dword(0x10));  // Vista/7
  t.Value(props + "\\00000066\\00000000", "Data", RegBinary, Qword(kT2));
  t.Value(props + "\\0067", "", 0xFFFF0010u, Dword(1));  // short: damaged
  t.Key("ControlSet001\\Enum\\USBSTOR\\CdRom&Ven_Only\\7&123&0");
  const std::string usb = "ControlSet001\\Enum\\USB\\vid_0781&pid_5567&mi_00\\4C53";
  t.Value(usb, "DeviceDesc", RegSz, Sz(u"@usb.inf,%usb.mass%;USB Mass Storage Device"));
  t.Value(usb, "HardwareID", RegMultiSz, MultiSz({u"USB\\VID_0781&PID_5567", u"USB\\VID_0781"}));
  t.Key("ControlSet001\\Enum\\USB\\ROOT_HUB\\4&1");
  DecodedHive d(t.Build(), {"usbstor", "usb_devices"});
  const auto s = d.Of("usbstor");
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(F(s[0], "device_type"), "Disk");
  EXPECT_EQ(F(s[0], "vendor"), "Maker");
  EXPECT_EQ(F(s[0], "product"), "Model X");
  EXPECT_EQ(F(s[0], "revision"), "1.00");
  EXPECT_EQ(F(s[0], "serial_number"), "SER123&0");
  EXPECT_EQ(F(s[0], "disk_id"), "{abc}");
  EXPECT_EQ(F(s[0], "install_time"), kT1Text);
  EXPECT_EQ(F(s[0], "last_arrival_time"), kT2Text);
  EXPECT_TRUE(Null(s[0], "first_install_time"));
  EXPECT_TRUE(s[0]->damaged);
  EXPECT_EQ(F(s[1], "vendor"), "Only");
  EXPECT_TRUE(Null(s[1], "product"));
  const auto u = d.Of("usb_devices");
  ASSERT_EQ(u.size(), 2u);
  EXPECT_EQ(F(u[0], "vid"), "0781");
  EXPECT_EQ(F(u[0], "pid"), "5567");
  EXPECT_EQ(F(u[0], "interface"), "00");
  EXPECT_EQ(F(u[0], "device_desc"), "USB Mass Storage Device");
  EXPECT_EQ(F(u[0], "hardware_ids"), "USB\\VID_0781&PID_5567; USB\\VID_0781");
  EXPECT_TRUE(Null(u[1], "vid"));
}

TEST(MountedDevicesTest, DataKinds) {
  TreeHive t = SystemHive();
  Bytes mbr = Dword(0x5cbea03e);
  PutLe(mbr, 1048576, 8);
  Bytes gpt{'D', 'M', 'I', 'O', ':', 'I', 'D', ':'};
  for (int i = 0; i < 16; ++i) gpt.push_back(static_cast<uint8_t>(i));
  t.Value("MountedDevices", "\\DosDevices\\C:", RegBinary, mbr);
  t.Value("MountedDevices", "\\??\\Volume{1234}", RegBinary, gpt);
  t.Value("MountedDevices", "#{x}", RegBinary, Sz(u"_??_USBSTOR#Disk"));
  t.Value("MountedDevices", "\\DosDevices\\Z:", RegBinary, Bytes{1, 2, 3});
  DecodedHive d(t.Build(), {"mounted_devices"});
  const auto r = d.Of("mounted_devices");
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(F(r[0], "mount_point"), "C:");
  EXPECT_EQ(F(r[0], "data_kind"), "mbr");
  EXPECT_EQ(F(r[0], "disk_signature"), "5cbea03e");
  EXPECT_EQ(F(r[0], "partition_offset"), "1048576");
  EXPECT_EQ(F(r[1], "mount_type"), "volume_guid");
  EXPECT_EQ(F(r[1], "partition_guid"), "{03020100-0504-0706-0809-0a0b0c0d0e0f}");
  EXPECT_EQ(F(r[2], "mount_type"), "other");
  EXPECT_TRUE(Null(r[2], "mount_point"));
  EXPECT_EQ(F(r[2], "device_path"), "_??_USBSTOR#Disk");
  EXPECT_EQ(F(r[3], "data_kind"), "unknown");
}

TEST(NetworkInterfacesTest, ListsLeasesAndAbsentFlags) {
  TreeHive t = SystemHive();
  const std::string i = "ControlSet001\\Services\\Tcpip\\Parameters\\Interfaces\\{guid}";
  t.Value(i, "EnableDHCP", RegDword, Dword(1));
  t.Value(i, "IPAddress", RegSz, Sz(u"10.0.0.5"));
  t.Value(i, "DhcpDefaultGateway", RegMultiSz, MultiSz({u"10.0.0.1", u""}));
  t.Value(i, "LeaseObtainedTime", RegDword, Dword(1589711420));
  t.Key("ControlSet001\\Services\\Tcpip\\Parameters\\Interfaces\\{other}");
  DecodedHive d(t.Build(), {"network_interfaces"});
  const auto r = d.Of("network_interfaces");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(F(r[0], "dhcp_enabled"), "true");
  EXPECT_EQ(r[0]->Get("ip_address").list, std::vector<std::string>{"10.0.0.5"});
  EXPECT_EQ(r[0]->Get("dhcp_default_gateway").list, std::vector<std::string>{"10.0.0.1"});
  EXPECT_EQ(F(r[0], "lease_obtained_time"), "2020-05-17T10:30:20.0000000Z");
  EXPECT_TRUE(Null(r[1], "dhcp_enabled"));
}

TEST(BamTest, AllGenerationsBinaryEntriesOnly) {
  TreeHive t = SystemHive();
  const std::string sid = "S-1-5-21-1-2-3-1001";
  Bytes entry = Qword(kT1);
  entry.resize(24, 0);
  t.Value("ControlSet001\\Services\\bam\\State\\UserSettings\\" + sid, "\\Device\\HarddiskVolume2\\a.exe", RegBinary,
          entry);
  t.Value("ControlSet001\\Services\\bam\\State\\UserSettings\\" + sid, "Version", RegDword, Dword(1));
  t.Value("ControlSet001\\Services\\bam\\State\\UserSettings\\" + sid, "SequenceNumber", RegDword, Dword(9));
  t.Value("ControlSet001\\Services\\bam\\State\\UserSettings\\" + sid, "short", RegBinary, Dword(1));
  t.Value("ControlSet001\\Services\\bam\\UserSettings\\" + sid, "Microsoft.WindowsStore_8wekyb3d8bbwe", RegBinary,
          Qword(kT2));
  t.Value("ControlSet001\\Services\\dam\\UserSettings\\" + sid, "b.exe", RegBinary, Qword(kT2));
  DecodedHive d(t.Build(), {"bam"});
  const auto r = d.Of("bam");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(F(r[0], "path"), "\\Device\\HarddiskVolume2\\a.exe");
  EXPECT_EQ(F(r[0], "last_run"), kT1Text);
  EXPECT_EQ(F(r[0], "sequence_number"), "9");
  EXPECT_EQ(F(r[0], "version"), "1");
  EXPECT_EQ(F(r[1], "path"), "Microsoft.WindowsStore_8wekyb3d8bbwe");
  EXPECT_TRUE(Null(r[1], "version"));
  EXPECT_EQ(F(r[2], "service"), "dam");
  EXPECT_EQ(F(r[2], "sid"), sid);
}

// ---- AppCompatCache

Bytes PathBytes(std::u16string_view p) { return Utf16Bytes(p, false); }

struct ShimCase {
  const char* format;
  Bytes data;
  std::vector<std::string> paths;
  std::string firstExecuted, firstSize, firstFlags;
};

Bytes FixedCache(uint32_t signature, size_t header, size_t entrySize, bool wide, bool seven, uint32_t flags) {
  const std::u16string paths[] = {u"\\??\\C:\\a.exe", u"\\??\\C:\\bb.exe"};
  Bytes d = Dword(signature);
  PutLe(d, 2, 4);
  d.resize(header, 0);
  size_t pathAt = header + 2 * entrySize;
  Bytes tail;
  for (int i = 0; i < 2; ++i) {
    Bytes e;
    const Bytes p = PathBytes(paths[i]);
    PutLe(e, p.size(), 2);
    PutLe(e, p.size() + 2, 2);
    if (wide) {
      PutLe(e, 0, 4);
      PutLe(e, pathAt + tail.size(), 8);
    } else {
      PutLe(e, pathAt + tail.size(), 4);
    }
    PutLe(e, kT1, 8);
    if (seven || signature == 0xBADC0FFE) {
      PutLe(e, i == 0 ? flags : 0, 4);  // insertion flags, or the low half of a file size
      PutLe(e, 0x100, 4);
    }
    e.resize(entrySize, 0);
    d.insert(d.end(), e.begin(), e.end());
    tail.insert(tail.end(), p.begin(), p.end());
  }
  d.insert(d.end(), tail.begin(), tail.end());
  return d;
}

Bytes VariableEntry(const char* sig, const std::u16string& path, bool eight, bool eightOne) {
  Bytes rest;
  const Bytes p = PathBytes(path);
  PutLe(rest, p.size(), 2);
  rest.insert(rest.end(), p.begin(), p.end());
  if (eight) {
    PutLe(rest, 2, 4);
    PutLe(rest, 0, 4);
    if (eightOne) PutLe(rest, 0, 2);
  }
  PutLe(rest, kT2, 8);
  PutLe(rest, 3, 4);
  rest.insert(rest.end(), {9, 9, 9});
  Bytes e(sig, sig + 4);
  PutLe(e, 0x12345678, 4);
  PutLe(e, rest.size(), 4);
  e.insert(e.end(), rest.begin(), rest.end());
  return e;
}

Bytes VariableCache(uint32_t first, size_t header, const char* sig, bool eight, bool eightOne) {
  Bytes d = Dword(first);
  PutLe(d, 338, 4);  // a count that is not the number of entries
  d.resize(header, 0);
  for (const char16_t* p : {u"C:\\a.exe", u"SYSVOL\\bb.exe", u"C:\\c.exe"}) {
    const Bytes e = VariableEntry(sig, p, eight, eightOne);
    d.insert(d.end(), e.begin(), e.end());
  }
  return d;
}

Bytes XpCache() {
  Bytes d = Dword(0xDEADBEEF);
  PutLe(d, 1, 4);
  d.resize(400, 0);
  Bytes e = PathBytes(u"C:\\WINDOWS\\x.exe");
  e.resize(528, 0x55);  // slack after the NUL
  e[PathBytes(u"C:\\WINDOWS\\x.exe").size()] = 0;
  e[PathBytes(u"C:\\WINDOWS\\x.exe").size() + 1] = 0;
  PutLe(e, kT1, 8);
  PutLe(e, 4096, 8);
  PutLe(e, kT2, 8);
  d.insert(d.end(), e.begin(), e.end());
  return d;
}

TEST(ShimCacheTest, EveryHeaderAndEntryLayout) {
  ShimCase cases[] = {
      {"xp", XpCache(), {"C:\\WINDOWS\\x.exe"}, "", "4096", ""},
      {"2003_x86",
       FixedCache(0xBADC0FFE, 8, 24, false, false, 0x1000),
       {"\\??\\C:\\a.exe", "\\??\\C:\\bb.exe"},
       "",
       "1099511631872",
       ""},
      {"2003_x64",
       FixedCache(0xBADC0FFE, 8, 32, true, false, 0x1000),
       {"\\??\\C:\\a.exe", "\\??\\C:\\bb.exe"},
       "",
       "1099511631872",
       ""},
      {"vista_x86",
       FixedCache(0xBADC0FFE, 8, 24, false, false, 0x2),
       {"\\??\\C:\\a.exe", "\\??\\C:\\bb.exe"},
       "true",
       "",
       "2"},
      {"vista_x64",
       FixedCache(0xBADC0FFE, 8, 32, true, false, 0x2),
       {"\\??\\C:\\a.exe", "\\??\\C:\\bb.exe"},
       "true",
       "",
       "2"},
      {"7_x86",
       FixedCache(0xBADC0FEE, 128, 32, false, true, 0x2),
       {"\\??\\C:\\a.exe", "\\??\\C:\\bb.exe"},
       "true",
       "",
       "2"},
      {"7_x64",
       FixedCache(0xBADC0FEE, 128, 48, true, true, 0),
       {"\\??\\C:\\a.exe", "\\??\\C:\\bb.exe"},
       "false",
       "",
       "0"},
      {"8.0", VariableCache(0x80, 128, "00ts", true, false), {"C:\\a.exe", "SYSVOL\\bb.exe", "C:\\c.exe"}, "", "", "2"},
      {"8.1", VariableCache(0, 128, "10ts", true, true), {"C:\\a.exe", "SYSVOL\\bb.exe", "C:\\c.exe"}, "", "", "2"},
      {"10", VariableCache(0x30, 0x30, "10ts", false, false), {"C:\\a.exe", "SYSVOL\\bb.exe", "C:\\c.exe"}, "", "", ""},
      {"10", VariableCache(0x34, 0x34, "10ts", false, false), {"C:\\a.exe", "SYSVOL\\bb.exe", "C:\\c.exe"}, "", "", ""},
  };
  for (const ShimCase& c : cases) {
    TreeHive t = SystemHive();
    t.Value("ControlSet001\\Control\\Session Manager\\AppCompatCache", "AppCompatCache", RegBinary, c.data);
    DecodedHive d(t.Build(), {"shimcache"});
    const auto r = d.Of("shimcache");
    ASSERT_EQ(r.size(), c.paths.size()) << c.format;
    for (size_t i = 0; i < r.size(); ++i) {
      EXPECT_EQ(F(r[i], "path"), c.paths[i]) << c.format;
      EXPECT_EQ(F(r[i], "position"), std::to_string(i));
      EXPECT_EQ(F(r[i], "format"), c.format);
      EXPECT_FALSE(r[i]->damaged) << c.format << " " << r[i]->error;
    }
    const bool variable = std::string(c.format).find('.') != std::string::npos || std::string(c.format) == "10";
    EXPECT_EQ(F(r[0], "last_modified"), variable ? kT2Text : kT1Text) << c.format;
    EXPECT_EQ(F(r[0], "executed"), c.firstExecuted) << c.format;
    EXPECT_EQ(F(r[0], "file_size"), c.firstSize) << c.format;
    EXPECT_EQ(F(r[0], "insert_flags"), c.firstFlags) << c.format;
    EXPECT_EQ(F(r[0], "last_updated"), std::string(c.format) == "xp" ? kT2Text : "") << c.format;
    if (variable) {
      EXPECT_EQ(F(r[0], "data_size"), "3");
    }
  }
}

TEST(ShimCacheTest, DamagedLayoutsGiveDamagedRecords) {
  Bytes truncated = VariableCache(0x30, 0x30, "10ts", false, false);
  truncated.resize(truncated.size() - 5);  // the last entry overruns
  Bytes badSig = VariableCache(0x30, 0x30, "10ts", false, false);
  badSig[0x30 + VariableEntry("10ts", u"C:\\a.exe", false, false).size()] = 'X';
  Bytes overCount = FixedCache(0xBADC0FEE, 128, 32, false, true, 2);
  overCount[4] = 200;  // the header claims more entries than fit
  Bytes badPath = FixedCache(0xBADC0FEE, 128, 32, false, true, 2);
  badPath[128 + 4] = 0xFF;
  badPath[128 + 5] = 0xFF;
  struct Case {
    Bytes data;
    size_t records, damaged;
  } cases[] = {{truncated, 3, 1}, {badSig, 2, 1},         {overCount, 3, 1},
               {badPath, 2, 1},   {Bytes{1, 2, 3}, 1, 1}, {Bytes{}, 1, 1}};
  for (const Case& c : cases) {
    TreeHive t = SystemHive();
    t.Value("ControlSet001\\Control\\Session Manager\\AppCompatCache", "AppCompatCache", RegBinary, c.data);
    DecodedHive d(t.Build(), {"shimcache"});
    EXPECT_EQ(d.Of("shimcache").size(), c.records) << &c - cases;
    EXPECT_EQ(d.run.damagedRecords, c.damaged) << &c - cases;
  }
}

TEST(ShimCacheTest, UnreadableDataIsOneDamagedRecord) {
  TreeHive t = SystemHive();
  t.BrokenValue("ControlSet001\\Control\\Session Manager\\AppCompatCache", "AppCompatCache", RegBinary, 400);
  DecodedHive d(t.Build(), {"shimcache"});
  ASSERT_EQ(d.Of("shimcache").size(), 1u);
  EXPECT_TRUE(d.Of("shimcache")[0]->damaged);
  EXPECT_TRUE(d.run.Damaged());
}

// ---- user hives

std::string Rot13(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>('a' + (c - 'a' + 13) % 26);
    else if (c >= 'A' && c <= 'Z')
      c = static_cast<char>('A' + (c - 'A' + 13) % 26);
  }
  return s;
}

TEST(UserAssistTest, VersionsThreeAndFiveRot13AndDamage) {
  TreeHive t;
  t.Key("Console");
  const std::string ua = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\";
  Bytes v5(72, 0);
  v5[4] = 4;    // run count
  v5[8] = 2;    // focus count
  v5[12] = 10;  // focus time
  for (int i = 0; i < 8; ++i) v5[60 + i] = static_cast<uint8_t>(kT1 >> (8 * i));
  t.Value(ua + "{CEBFF5CD}", "Version", RegDword, Dword(5));
  t.Value(ua + "{CEBFF5CD}\\Count", Rot13("{7C5A40EF-A0FB}\\Office\\EXCEL.EXE"), RegBinary, v5);
  t.Value(ua + "{CEBFF5CD}\\Count", Rot13("UEME_CTLSESSION"), RegBinary, Bytes(1612, 0));
  t.Value(ua + "{CEBFF5CD}\\Count", Rot13("short.exe"), RegBinary, Bytes(20, 0));
  Bytes v3 = Concat({Dword(3), Dword(12), Qword(kT2)});
  t.Value(ua + "{75048700}\\Count", Rot13("UEME_RUNPATH:C:\\x.exe"), RegBinary, v3);  // no Version: by size
  t.Value(ua + "{75048700}\\Count", Rot13("UEME_RUNPATH:C:\\y.exe"), RegBinary, Bytes(30, 0));
  t.Value(ua + "{5E6AB780}", "Version", RegDword, Dword(3));
  t.Value(ua + "{5E6AB780}\\Count", Rot13("low"), RegBinary, Concat({Dword(1), Dword(2), Qword(kT2)}));
  DecodedHive d(t.Build(), {"userassist"});
  const auto r = d.Of("userassist");
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(F(r[0], "name"), "{7C5A40EF-A0FB}\\Office\\EXCEL.EXE");
  EXPECT_EQ(F(r[0], "version"), "5");
  EXPECT_EQ(F(r[0], "run_count"), "4");
  EXPECT_EQ(F(r[0], "focus_count"), "2");
  EXPECT_EQ(F(r[0], "focus_time_ms"), "10");
  EXPECT_EQ(F(r[0], "last_run"), kT1Text);
  EXPECT_EQ(F(r[1], "name"), "short.exe");
  EXPECT_TRUE(r[1]->damaged);
  EXPECT_EQ(F(r[2], "version"), "3");
  EXPECT_EQ(F(r[2], "run_count"), "7");  // counting starts at 5
  EXPECT_TRUE(Null(r[2], "focus_count"));
  EXPECT_EQ(F(r[2], "last_run"), kT2Text);
  EXPECT_TRUE(r[3]->damaged);
  EXPECT_EQ(r[3]->error, "unknown layout");
  EXPECT_TRUE(Null(r[3], "version"));
  EXPECT_EQ(F(r[4], "run_count"), "2");  // below 5: as stored
}

TEST(UserAssistTest, PartialUserHiveUsesTheShorterPaths) {
  TreeHive t;
  const std::string ua = "Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\";
  t.Value(ua + "{G}\\Count", Rot13("a.exe"), RegBinary, Bytes(72, 0));
  DecodedHive d(t.Build(), {"userassist", "network_drives"});
  EXPECT_TRUE(d.run.kind.partialUser);
  ASSERT_EQ(d.Of("userassist").size(), 1u);
  EXPECT_EQ(d.Of("userassist")[0]->key, "ROOT\\" + ua + "{G}\\Count");
}

Bytes MruListEx(std::initializer_list<uint32_t> order) {
  Bytes b;
  for (uint32_t n : order) PutLe(b, n, 4);
  PutLe(b, 0xFFFFFFFF, 4);
  return b;
}

// A file entry item (class 0x32) with an 8.3 name and a version-9 block.
Bytes FileEntryItem(uint8_t cls, const std::string& shortName, const std::u16string& longName, uint16_t version,
                    bool block = true) {
  Bytes item = Le16s({0});
  item.push_back(cls);
  item.push_back(0);
  PutLe(item, 1234, 4);
  PutLe(item, 0x4C91, 2);  // 2018-04-17
  PutLe(item, 0x5A2A, 2);  // 11:17:20
  PutLe(item, 0x20, 2);
  if (cls & 0x04) {
    const Bytes n = Utf16Bytes(longName, true);
    item.insert(item.end(), n.begin(), n.end());
  } else {
    item.insert(item.end(), shortName.begin(), shortName.end());
    item.push_back(0);
    if (item.size() % 2) item.push_back(0);
  }
  if (block) {
    const size_t start = item.size();
    Bytes b = Le16s({0, version});
    PutLe(b, 0xBEEF0004, 4);
    PutLe(b, 0x4C91, 2);
    PutLe(b, 0x5A2A, 2);  // created
    PutLe(b, 0x4C92, 2);
    PutLe(b, 0x0000, 2);  // accessed 2018-04-18 00:00
    const size_t nameAt = version >= 9 ? 46 : version == 8 ? 42 : version == 7 ? 38 : 20;
    b.resize(20, 0);
    if (version >= 7) PutLe(b, (uint64_t{5} << 48) | 0x1234, 8);
    b.resize(nameAt, 0);
    const Bytes n = Utf16Bytes(longName, true);
    b.insert(b.end(), n.begin(), n.end());
    PutLe(b, start, 2);
    b[0] = static_cast<uint8_t>(b.size());
    b[1] = static_cast<uint8_t>(b.size() >> 8);
    item.insert(item.end(), b.begin(), b.end());
  }
  item[0] = static_cast<uint8_t>(item.size());
  item[1] = static_cast<uint8_t>(item.size() >> 8);
  return item;
}

Bytes List(std::initializer_list<Bytes> items) {
  Bytes out = Concat(items);
  out.insert(out.end(), {0, 0});
  return out;
}

Bytes GuidBytes(uint32_t a, uint16_t b, uint16_t c, std::initializer_list<uint8_t> rest) {
  Bytes g;
  PutLe(g, a, 4);
  PutLe(g, b, 2);
  PutLe(g, c, 2);
  g.insert(g.end(), rest);
  return g;
}
const Bytes kMyComputer = GuidBytes(0x20d04fe0, 0x3aea, 0x1069, {0xa2, 0xd8, 0x08, 0x00, 0x2b, 0x30, 0x30, 0x9d});
const Bytes kUnregistered = GuidBytes(0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55});

Bytes RootFolder(const Bytes& guid) {
  Bytes item = Le16s({20});
  item.push_back(0x1F);
  item.push_back(0x50);
  item.insert(item.end(), guid.begin(), guid.end());
  return item;
}

Bytes Volume(const std::string& letter) {
  Bytes item = Le16s({25});
  item.push_back(0x2F);
  item.insert(item.end(), letter.begin(), letter.end());
  item.resize(25, 0);
  return item;
}

TEST(RecentDocsTest, NamesShortcutsPositionsAndOpenedTime) {
  TreeHive t;
  t.Key("Console");
  const std::string rd = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RecentDocs";
  t.Value(rd, "MRUListEx", RegBinary, MruListEx({1, 0}));
  t.Value(rd, "0", RegBinary,
          Concat({Sz(u"report.docx"), List({FileEntryItem(0x32, "REPORT~1.LNK", u"report.lnk", 9)})}));
  t.Value(rd, "1", RegBinary, Sz(u"notes.txt"));
  t.Value(rd + "\\.docx", "MRUListEx", RegBinary, MruListEx({0}));
  t.Value(rd + "\\.docx", "0", RegBinary, Concat({Sz(u"report.docx"), Le16s({200, 0x32})}));  // overruns
  t.Time(rd, kT1);
  DecodedHive d(t.Build(), {"recentdocs"});
  const auto r = d.Of("recentdocs");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_TRUE(Null(r[0], "extension"));
  EXPECT_EQ(F(r[0], "position"), "1");
  EXPECT_EQ(F(r[0], "name"), "report.docx");
  EXPECT_EQ(F(r[0], "lnk_name"), "report.lnk");
  EXPECT_TRUE(Null(r[0], "opened_time"));
  EXPECT_EQ(F(r[1], "position"), "0");
  EXPECT_EQ(F(r[1], "opened_time"), kT1Text);
  EXPECT_TRUE(Null(r[1], "lnk_name"));
  EXPECT_EQ(F(r[2], "extension"), ".docx");
  EXPECT_TRUE(r[2]->damaged);
  EXPECT_EQ(F(r[2], "name"), "report.docx");
}

TEST(MruTest, RunMruTypedPathsUrlsAndWordWheel) {
  TreeHive t;
  t.Key("Console");
  const std::string ex = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
  t.Value(ex + "RunMRU", "a", RegSz, Sz(u"cmd\\1"));
  t.Value(ex + "RunMRU", "b", RegSz, Sz(u"regedit"));
  t.Value(ex + "RunMRU", "MRUList", RegSz, Sz(u"ba"));
  t.Value(ex + "TypedPaths", "url2", RegSz, Sz(u"C:\\Temp"));
  t.Value(ex + "TypedPaths", "other", RegSz, Sz(u"x"));
  t.Value("Software\\Microsoft\\Internet Explorer\\TypedURLs", "url1", RegSz, Sz(u"http://a/"));
  t.Value("Software\\Microsoft\\Internet Explorer\\TypedURLsTime", "url1", RegBinary, Qword(kT1));
  t.Value(ex + "WordWheelQuery", "MRUListEx", RegBinary, MruListEx({0}));
  t.Value(ex + "WordWheelQuery", "0", RegBinary, Sz(u"secret plans"));
  DecodedHive d(t.Build(), {"runmru", "typed_paths", "typed_urls", "word_wheel_query"});
  const auto run = d.Of("runmru");
  ASSERT_EQ(run.size(), 2u);
  EXPECT_EQ(F(run[0], "command"), "cmd");
  EXPECT_EQ(F(run[0], "position"), "1");
  EXPECT_EQ(F(run[1], "position"), "0");
  ASSERT_EQ(d.Of("typed_paths").size(), 1u);
  EXPECT_EQ(F(d.Of("typed_paths")[0], "position"), "2");
  EXPECT_EQ(F(d.Of("typed_paths")[0], "path"), "C:\\Temp");
  ASSERT_EQ(d.Of("typed_urls").size(), 1u);
  EXPECT_EQ(F(d.Of("typed_urls")[0], "typed_time"), kT1Text);
  ASSERT_EQ(d.Of("word_wheel_query").size(), 1u);
  EXPECT_EQ(F(d.Of("word_wheel_query")[0], "term"), "secret plans");
}

TEST(ComDlgTest, OpenSaveAndLastVisitedInBothGenerations) {
  TreeHive t;
  t.Key("Console");
  const std::string cd = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\";
  const Bytes list = List({RootFolder(kMyComputer), Volume("C:\\"), FileEntryItem(0x31, "USERS", u"Users", 9),
                           FileEntryItem(0x32, "A~1.TXT", u"a long name.txt", 9)});
  t.Value(cd + "OpenSavePidlMRU\\txt", "0", RegBinary, list);
  t.Value(cd + "OpenSavePidlMRU\\txt", "MRUListEx", RegBinary, MruListEx({0}));
  t.Value(cd + "OpenSaveMRU\\doc", "a", RegSz, Sz(u"C:\\x.doc"));
  t.Value(cd + "OpenSaveMRU\\doc", "MRUList", RegSz, Sz(u"a"));
  t.Value(cd + "LastVisitedPidlMRU", "1", RegBinary,
          Concat({Sz(u"notepad.exe"), List({RootFolder(kMyComputer), Volume("D:\\")})}));
  t.Value(cd + "LastVisitedMRU", "a", RegBinary, Concat({Sz(u"word.exe"), Sz(u"C:\\Docs")}));
  DecodedHive d(t.Build(), {"open_save_mru", "last_visited_mru"});
  const auto os = d.Of("open_save_mru");
  ASSERT_EQ(os.size(), 2u);
  EXPECT_EQ(F(os[0], "path"), "My Computer\\C:\\Users\\a long name.txt");
  EXPECT_EQ(F(os[0], "extension"), "txt");
  EXPECT_EQ(F(os[1], "path"), "C:\\x.doc");
  EXPECT_EQ(F(os[1], "position"), "0");
  const auto lv = d.Of("last_visited_mru");
  ASSERT_EQ(lv.size(), 2u);
  EXPECT_EQ(F(lv[0], "executable"), "notepad.exe");
  EXPECT_EQ(F(lv[0], "path"), "My Computer\\D:\\");
  EXPECT_TRUE(Null(lv[0], "position"));
  EXPECT_EQ(F(lv[1], "path"), "C:\\Docs");
}

TEST(NetworkDrivesTest, WrongTypesAreNullNotDamage) {
  TreeHive t;
  t.Key("Console");
  t.Value("Software", "x", RegSz, Sz(u""));
  t.Value("Network\\Z", "RemotePath", RegSz, Sz(u"\\\\srv\\share"));
  t.Value("Network\\Z", "UserName", RegDword, Dword(0));
  t.Value("Network\\Z", "ProviderName", RegSz, Sz(u""));
  DecodedHive d(t.Build(), {"network_drives"});
  const auto r = d.Of("network_drives");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(F(r[0], "remote_path"), "\\\\srv\\share");
  EXPECT_TRUE(Null(r[0], "user_name"));
  EXPECT_EQ(r[0]->Get("provider_name").kind, FieldKind::Text);  // "" is not null
  EXPECT_FALSE(d.run.Damaged());
}

TEST(ShellBagsTest, TreeWalkNodeSlotsPathsAndCycles) {
  TreeHive t;
  t.Key("Local Settings");
  const std::string bag = "Local Settings\\Software\\Microsoft\\Windows\\Shell\\BagMRU";
  t.Value(bag, "0", RegBinary, List({RootFolder(kMyComputer)}));
  t.Value(bag, "1", RegBinary, List({RootFolder(kUnregistered)}));
  t.Value(bag, "MRUListEx", RegBinary, MruListEx({1, 0}));
  t.Value(bag + "\\0", "NodeSlot", RegDword, Dword(7));
  t.Value(bag + "\\0", "0", RegBinary, List({Volume("C:\\")}));
  t.Value(bag + "\\0\\0", "0", RegBinary, List({FileEntryItem(0x31, "PROGRA~1", u"Program Files", 9)}));
  t.Value(bag + "\\0\\0", "1", RegBinary, Le16s({300, 0x31}));  // overruns
  t.Value(bag + "\\0\\0\\1", "0", RegBinary, List({Bytes{6, 0, 0x99, 1, 2, 3}}));
  t.Value("CLSID\\{11111111-2222-3333-4444-555555555555}", "", RegSz, Sz(u"Vendor Folder"));
  DecodedHive d(t.Build(), {"shellbags"});
  const auto r = d.Of("shellbags");
  ASSERT_EQ(r.size(), 6u);
  EXPECT_EQ(F(r[0], "path"), "My Computer");
  EXPECT_EQ(F(r[0], "node_slot"), "7");
  EXPECT_EQ(F(r[0], "position"), "1");
  EXPECT_EQ(F(r[1], "path"), "My Computer\\C:\\");
  EXPECT_EQ(F(r[2], "path"), "My Computer\\C:\\Program Files");
  EXPECT_EQ(F(r[2], "mft_entry"), "4660");
  EXPECT_EQ(F(r[2], "mft_sequence"), "5");
  EXPECT_EQ(F(r[2], "modified"), "2018-04-17T11:17:20.0000000Z");
  EXPECT_EQ(F(r[2], "accessed"), "2018-04-18T00:00:00.0000000Z");
  EXPECT_TRUE(r[3]->damaged);
  EXPECT_EQ(F(r[3], "path"), "My Computer\\C:\\?");
  EXPECT_EQ(F(r[4], "path"), "My Computer\\C:\\?\\?");  // the subtree of a damaged item is still walked
  EXPECT_EQ(F(r[4], "item_type"), "unknown");
  EXPECT_EQ(F(r[4], "raw"), "060099010203");
  EXPECT_EQ(F(r[4], "class_type"), "153");
  EXPECT_EQ(F(r[5], "name"), "Vendor Folder");
  EXPECT_EQ(F(r[5], "shell_folder"), "{11111111-2222-3333-4444-555555555555}");
}

// ---- shell items, one by one

std::string Namer(const std::string& guid) {
  const std::string known = KnownFolderName(guid);
  return known.empty() ? guid : known;
}

TEST(ShellItemTest, EachKind) {
  Bytes removable = Le16s({0});
  removable.insert(removable.end(), {0x1F, 0x00, 0, 0});
  PutLe(removable, 0xF5A6B710, 4);
  const Bytes inner = Volume("E:\\");
  PutLe(removable, inner.size() - 2, 2);
  removable.insert(removable.end(), inner.begin() + 2, inner.end());
  removable[0] = static_cast<uint8_t>(removable.size());

  Bytes delegate = RootFolder(kUnregistered);
  delegate.resize(30, 0);
  const uint8_t dg[] = {0x74, 0x1a, 0x59, 0x5e, 0x96, 0xdf, 0xd3, 0x48, 0x8d, 0x67, 0x17, 0x33, 0xbc, 0xee, 0x28, 0xba};
  delegate.insert(delegate.end(), std::begin(dg), std::end(dg));
  const Bytes search = GuidBytes(0x04731b67, 0xd933, 0x450a, {0x90, 0xe6, 0x4a, 0xcd, 0x2e, 0x94, 0x08, 0xfe});
  delegate.insert(delegate.end(), search.begin(), search.end());
  delegate[0] = static_cast<uint8_t>(delegate.size());

  Bytes rootWithBlock = RootFolder(kMyComputer);
  rootWithBlock[0] = 30;
  Bytes block = Le16s({10, 0});
  PutLe(block, 0xBEEF0026, 4);
  block.insert(block.end(), {0, 0});
  rootWithBlock.insert(rootWithBlock.end(), block.begin(), block.end());

  Bytes volumeGuid = Le16s({20, 0x2E});
  volumeGuid.insert(volumeGuid.end(), {0, 0});
  volumeGuid.insert(volumeGuid.end(), kMyComputer.begin(), kMyComputer.end());
  volumeGuid[2] = 0x2E;
  volumeGuid.erase(volumeGuid.begin() + 3);

  Bytes network = Le16s({0});
  network.insert(network.end(), {0xC3, 0x01, 0x85});
  for (char c : std::string("\\\\server\\share")) network.push_back(static_cast<uint8_t>(c));
  network.insert(network.end(), {0, 0, 0});
  network[0] = static_cast<uint8_t>(network.size());

  Bytes uri = Le16s({0});
  uri.insert(uri.end(), {0x61, 0x80});
  PutLe(uri, 0, 2);
  uri.insert(uri.end(), {0, 0});
  const Bytes u = Utf16Bytes(u"ftp://host/", true);
  uri.insert(uri.end(), u.begin(), u.end());
  uri[0] = static_cast<uint8_t>(uri.size());

  Bytes cpItem(30, 0);
  cpItem[0] = 30;
  cpItem[2] = 0x71;
  std::copy(kMyComputer.begin(), kMyComputer.end(), cpItem.begin() + 14);

  Bytes cpCategory = Le16s({12, 0x01});
  cpCategory[2] = 0x01;
  cpCategory.resize(4);
  PutLe(cpCategory, 0x39DE2184, 4);
  PutLe(cpCategory, 5, 4);
  cpCategory[0] = static_cast<uint8_t>(cpCategory.size());

  // 0x74 delegate wrapping a file entry, its long name in the outer block.
  Bytes wrapped = FileEntryItem(0x31, "DROPBOX", u"", 9, false);
  Bytes cfsf = Le16s({0});
  cfsf.insert(cfsf.end(), {0x74, 0, 0, 0, 'C', 'F', 'S', 'F'});
  PutLe(cfsf, wrapped.size() - 2, 2);
  cfsf.insert(cfsf.end(), wrapped.begin() + 2, wrapped.end());
  cfsf.resize(cfsf.size() + 32, 0);
  const Bytes withBlock = FileEntryItem(0x31, "X", u"Dropbox Folder", 9);
  const size_t blockAt = 14 + 2;  // "X" NUL, already even
  cfsf.insert(cfsf.end(), withBlock.begin() + static_cast<long>(blockAt), withBlock.end());
  cfsf[0] = static_cast<uint8_t>(cfsf.size());

  // A property view whose store names it.
  Bytes store;
  {
    Bytes value;
    PutLe(value, 0, 4);
    PutLe(value, 10, 4);
    value.push_back(0);
    PutLe(value, 0x1F, 2);
    PutLe(value, 0, 2);
    const Bytes text = Utf16Bytes(u"Search Results", true);
    PutLe(value, text.size() / 2, 4);
    value.insert(value.end(), text.begin(), text.end());
    value[0] = static_cast<uint8_t>(value.size());
    Bytes storage;
    PutLe(storage, 0, 4);
    storage.insert(storage.end(), {'1', 'S', 'P', 'S'});
    const Bytes fmt = GuidBytes(0xb725f130, 0x47ef, 0x101a, {0xa5, 0xf1, 0x02, 0x60, 0x8c, 0x9e, 0xeb, 0xac});
    storage.insert(storage.end(), fmt.begin(), fmt.end());
    storage.insert(storage.end(), value.begin(), value.end());
    PutLe(storage, 0, 4);
    storage[0] = static_cast<uint8_t>(storage.size());
    store = storage;
    PutLe(store, 0, 4);
  }
  Bytes view = Le16s({0});
  view.insert(view.end(), {0x00, 0});
  PutLe(view, 0, 2);
  PutLe(view, 0x23FEBBEE, 4);
  PutLe(view, static_cast<uint32_t>(store.size()), 2);
  PutLe(view, 16, 2);
  view.insert(view.end(), kUnregistered.begin(), kUnregistered.end());
  view.insert(view.end(), store.begin(), store.end());
  view[0] = static_cast<uint8_t>(view.size());

  struct Case {
    const char* what;
    Bytes item;
    std::string name, type, folder;
  } cases[] = {
      {"root folder", RootFolder(kMyComputer), "My Computer", "root_folder", "{20d04fe0-3aea-1069-a2d8-08002b30309d}"},
      {"root folder with a block", rootWithBlock, "My Computer", "root_folder",
       "{20d04fe0-3aea-1069-a2d8-08002b30309d}"},
      {"removable drive", removable, "E:\\", "root_folder", ""},
      {"delegate folder", delegate, "Search Folder", "root_folder", "{04731b67-d933-450a-90e6-4acd2e9408fe}"},
      {"volume letter", Volume("C:\\"), "C:\\", "volume", ""},
      {"network", network, "\\\\server\\share", "network_location", ""},
      {"uri", uri, "ftp://host/", "uri", ""},
      {"control panel item", cpItem, "My Computer", "control_panel_item", "{20d04fe0-3aea-1069-a2d8-08002b30309d}"},
      {"control panel category", cpCategory, "System and Security", "control_panel_category", ""},
      {"delegate file entry", cfsf, "Dropbox Folder", "directory", ""},
      {"property view", view, "Search Results", "property_view", "{11111111-2222-3333-4444-555555555555}"},
      {"file without block", FileEntryItem(0x32, "A.TXT", u"", 0, false), "A.TXT", "file", ""},
      {"file block v3", FileEntryItem(0x32, "LONGNA~1.TXT", u"long name v3.txt", 3), "long name v3.txt", "file", ""},
      {"file block v7", FileEntryItem(0x32, "LONGNA~1.TXT", u"long name v7.txt", 7), "long name v7.txt", "file", ""},
      {"file block v8", FileEntryItem(0x32, "LONGNA~1.TXT", u"long name v8.txt", 8), "long name v8.txt", "file", ""},
      {"unicode primary name", FileEntryItem(0x36, "", u"Ünïcode", 0, false), "Ünïcode", "file", ""},
      {"file entry neither bit", FileEntryItem(0x30, "X", u"", 0, false), "X", "file_entry", ""},
  };
  for (const Case& c : cases) {
    const ShellItem item = DecodeShellItem(c.item, Namer);
    EXPECT_EQ(item.name.value_or("<null>"), c.name) << c.what;
    EXPECT_EQ(item.itemType, c.type) << c.what;
    EXPECT_EQ(item.shellFolder.value_or(""), c.folder) << c.what;
    EXPECT_FALSE(item.damaged) << c.what << ": " << item.error;
    EXPECT_FALSE(item.raw.has_value()) << c.what;
  }
  // A root folder item shaped as a property view keeps its kind.
  Bytes rootView = view;
  rootView[2] = 0x1F;
  const ShellItem asRoot = DecodeShellItem(rootView, Namer);
  EXPECT_EQ(asRoot.itemType, "root_folder");
  EXPECT_EQ(asRoot.name.value_or(""), "Search Results");
  // Unknown kinds keep their class byte and bytes.
  const ShellItem unknown = DecodeShellItem(Bytes{5, 0, 0x52, 0xAB, 0xCD}, Namer);
  EXPECT_EQ(unknown.itemType, "unknown");
  EXPECT_EQ(unknown.classType, 0x52);
  EXPECT_FALSE(unknown.name.has_value());
  ASSERT_TRUE(unknown.raw.has_value());
  EXPECT_EQ(unknown.raw->size(), 5u);
  const ShellItem v7 = DecodeShellItem(FileEntryItem(0x32, "S", u"n", 7), Namer);
  EXPECT_EQ(v7.mftEntry.value_or(0), 0x1234u);
  const ShellItem v3 = DecodeShellItem(FileEntryItem(0x32, "S", u"n", 3), Namer);
  EXPECT_FALSE(v3.mftEntry.has_value());
  EXPECT_EQ(v3.fileSize.value_or(0), 1234u);
}

TEST(ShellItemTest, HostileSizesAndTimes) {
  EXPECT_TRUE(DecodeShellItemList(Le16s({2}), Namer).damaged);
  EXPECT_TRUE(DecodeShellItemList(Le16s({500, 0x1F}), Namer).damaged);
  EXPECT_TRUE(DecodeShellItemList(Bytes{}, Namer).damaged);
  EXPECT_FALSE(DecodeShellItemList(Le16s({0}), Namer).damaged);
  // A delegate whose embedded item claims more than the item holds.
  Bytes cfsf = Le16s({0});
  cfsf.insert(cfsf.end(), {0x74, 0, 0, 0, 'C', 'F', 'S', 'F', 0xFF, 0x7F});
  cfsf[0] = static_cast<uint8_t>(cfsf.size());
  EXPECT_TRUE(DecodeShellItem(cfsf, Namer).damaged);
  EXPECT_EQ(FatTimeToFileTime(0, 0), 0u);
  EXPECT_EQ(FatTimeToFileTime(0x4C9F, 0), 0u);  // day 31 of month 4: impossible
  const std::string names[] = {"My Computer\\C:\\", "a"};
  std::string path;
  AppendItemPath(path, std::string("My Computer"));
  AppendItemPath(path, std::string("C:\\"));
  AppendItemPath(path, std::nullopt);
  EXPECT_EQ(path, "My Computer\\C:\\?");
  // A network name that starts with \\ is joined like any other.
  std::string wsl;
  for (const char* n : {"Network", "wsl$", "\\\\wsl$\\Ubuntu"}) AppendItemPath(wsl, std::string(n));
  EXPECT_EQ(wsl, "Network\\wsl$\\\\\\wsl$\\Ubuntu");
}

TEST(WslTest, DistributionsFlagsAndDefault) {
  TreeHive t;
  t.Key("Console");
  const std::string lx = "Software\\Microsoft\\Windows\\CurrentVersion\\Lxss";
  t.Value(lx, "DefaultDistribution", RegSz, Sz(u"{AAAAAAAA-0000-0000-0000-000000000000}"));
  t.Value(lx + "\\{aaaaaaaa-0000-0000-0000-000000000000}", "DistributionName", RegSz, Sz(u"Ubuntu"));
  t.Value(lx + "\\{aaaaaaaa-0000-0000-0000-000000000000}", "Flags", RegDword, Dword(5));
  t.Value(lx + "\\{aaaaaaaa-0000-0000-0000-000000000000}", "DefaultEnvironment", RegMultiSz, MultiSz({u"A=1", u"B=2"}));
  t.Key(lx + "\\AppxInstallerCache");
  DecodedHive d(t.Build(), {"wsl_distributions"});
  const auto r = d.Of("wsl_distributions");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(F(r[0], "is_default"), "true");
  EXPECT_EQ(F(r[0], "enable_interop"), "true");
  EXPECT_EQ(F(r[0], "append_nt_path"), "false");
  EXPECT_EQ(F(r[0], "enable_drive_mounting"), "true");
  EXPECT_EQ(F(r[0], "default_environment"), "A=1; B=2");
}

// ---- SOFTWARE

TEST(SoftwareTest, OsVersionProfilesRunKeysProgramsAppPathsNetworks) {
  TreeHive t;
  const std::string cv = "Microsoft\\Windows NT\\CurrentVersion";
  t.Value(cv, "ProductName", RegSz, Sz(u"Windows 10 Pro"));
  t.Value(cv, "CurrentBuildNumber", RegSz, Sz(u"22000"));
  t.Value(cv, "InstallDate", RegDword, Dword(1589711420));
  t.Value(cv, "InstallTime", RegQword, Qword(kT1));
  const std::string p = cv + "\\ProfileList\\S-1-5-21-1-2-3-1001";
  t.Value(p, "ProfileImagePath", RegExpandSz, Sz(u"C:\\Users\\alice"));
  t.Value(p, "LocalProfileLoadTimeHigh", RegDword, Dword(static_cast<uint32_t>(kT1 >> 32)));
  t.Value(p, "LocalProfileLoadTimeLow", RegDword, Dword(static_cast<uint32_t>(kT1)));
  t.Value(p, "ProfileUnloadTimeHigh", RegDword, Dword(static_cast<uint32_t>(kT2 >> 32)));
  t.Value(p, "ProfileUnloadTimeLow", RegDword, Dword(static_cast<uint32_t>(kT2)));
  t.Value("Microsoft\\Windows\\CurrentVersion\\Run", "Agent", RegExpandSz, Sz(u"%ProgramFiles%\\a.exe"));
  t.Value("Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "Flag", RegDword, Dword(1));
  t.Value("Microsoft\\Windows\\CurrentVersion\\Uninstall\\{P}", "DisplayName", RegSz, Sz(u"Product"));
  t.Value("Microsoft\\Windows\\CurrentVersion\\Uninstall\\{P}", "InstallDate", RegSz, Sz(u"20190417"));
  t.Value("Microsoft\\Windows\\CurrentVersion\\App Paths\\x.exe", "", RegSz, Sz(u"C:\\x\\x.exe"));
  const std::string nl = cv + "\\NetworkList\\";
  t.Value(nl + "Profiles\\{N}", "ProfileName", RegSz, Sz(u"Home"));
  t.Value(nl + "Profiles\\{N}", "Category", RegDword, Dword(1));
  t.Value(nl + "Profiles\\{N}", "NameType", RegDword, Dword(0x47));
  t.Value(nl + "Profiles\\{N}", "DateCreated", RegBinary, Le16s({2019, 4, 3, 17, 18, 40, 0, 5}));
  t.Value(nl + "Signatures\\Unmanaged\\010203", "ProfileGuid", RegSz, Sz(u"{n}"));
  t.Value(nl + "Signatures\\Unmanaged\\010203", "DefaultGatewayMac", RegBinary, Bytes{0, 0x1a, 0x2b, 0x3c, 0x4d, 0xff});
  DecodedHive d(t.Build());
  EXPECT_EQ(d.run.kind.kind, HiveKind::Software);
  const auto os = d.Of("os_version");
  ASSERT_EQ(os.size(), 1u);
  EXPECT_EQ(F(os[0], "current_build"), "22000");
  EXPECT_EQ(F(os[0], "install_date"), "2020-05-17T10:30:20.0000000Z");
  EXPECT_EQ(F(os[0], "install_time"), kT1Text);
  const auto pl = d.Of("profile_list");
  ASSERT_EQ(pl.size(), 1u);
  EXPECT_EQ(F(pl[0], "load_time"), kT1Text);
  EXPECT_EQ(F(pl[0], "unload_time"), kT2Text);
  const auto run = d.Of("run_keys");
  ASSERT_EQ(run.size(), 2u);
  EXPECT_EQ(F(run[0], "command"), "%ProgramFiles%\\a.exe");
  EXPECT_EQ(F(run[0], "value_type"), "REG_EXPAND_SZ");
  EXPECT_EQ(F(run[1], "run_key"), "RunOnce");
  EXPECT_TRUE(Null(run[1], "command"));
  ASSERT_EQ(d.Of("installed_programs").size(), 1u);
  EXPECT_EQ(F(d.Of("installed_programs")[0], "install_date"), "20190417");
  ASSERT_EQ(d.Of("app_paths").size(), 1u);
  EXPECT_EQ(F(d.Of("app_paths")[0], "path"), "C:\\x\\x.exe");
  const auto np = d.Of("network_profiles");
  ASSERT_EQ(np.size(), 1u);
  EXPECT_EQ(F(np[0], "category"), "private");
  EXPECT_EQ(F(np[0], "name_type"), "wireless");
  EXPECT_EQ(F(np[0], "date_created_local"), "2019-04-17T18:40:00.0050000");
  EXPECT_EQ(F(np[0], "default_gateway_mac"), "00-1A-2B-3C-4D-FF");
}

// ---- SAM, SECURITY, Amcache, BCD

Bytes FRecord(size_t size) {
  Bytes f(80, 0);
  for (int i = 0; i < 8; ++i) f[8 + i] = static_cast<uint8_t>(kT1 >> (8 * i));
  for (int i = 0; i < 8; ++i) f[24 + i] = static_cast<uint8_t>(kT2 >> (8 * i));
  f[32 + 7] = 0x7F;  // account expires: never
  for (int i = 0; i < 7; ++i) f[32 + i] = 0xFF;
  f[56] = 0x11;  // disabled, normal account
  f[64] = 3;
  f[66] = 9;
  f.resize(size);
  return f;
}

Bytes VRecord(std::u16string_view user, std::u16string_view full, bool outside = false) {
  Bytes v(0xCC, 0);
  Bytes data;
  auto put = [&](size_t index, std::u16string_view text) {
    const Bytes b = Utf16Bytes(text, false);
    const uint32_t off = static_cast<uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) v[index * 12 + i] = static_cast<uint8_t>(off >> (8 * i));
    for (int i = 0; i < 4; ++i) v[index * 12 + 4 + i] = static_cast<uint8_t>(b.size() >> (8 * i));
    data.insert(data.end(), b.begin(), b.end());
    while (data.size() % 4) data.push_back(0);
  };
  put(1, user);
  put(2, full);
  if (outside) v[9 * 12 + 1] = 0x40;  // profile path at 0x4000 + 0xCC, past the end
  if (outside) v[9 * 12 + 4] = 4;
  v.insert(v.end(), data.begin(), data.end());
  return v;
}

TEST(SamTest, FAndVRecordsWithAndWithoutOptionalFields) {
  TreeHive t;
  const std::string u = "SAM\\Domains\\Account\\Users\\";
  Bytes account(0x40, 0);
  account.insert(account.end(), {1, 4, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0});
  for (uint32_t sub : {1u, 2u, 3u}) PutLe(account, sub, 4);
  t.Value("SAM\\Domains\\Account", "V", RegBinary, account);
  t.Value(u + "000001F4", "F", RegBinary, FRecord(80));
  t.Value(u + "000001F4", "V", RegBinary, VRecord(u"Administrator", u""));
  t.Value(u + "000003E9", "F", RegBinary, FRecord(60));
  t.Value(u + "000003E9", "V", RegBinary, VRecord(u"bob", u"Bob B", true));
  t.Value(u + "000003EA", "F", RegBinary, FRecord(68));
  t.Value(u + "Names\\carol", "", 0x3EA, Bytes{});
  DecodedHive d(t.Build());
  EXPECT_EQ(d.run.kind.kind, HiveKind::Sam);
  const auto r = d.Of("sam_users");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(F(r[0], "rid"), "500");
  EXPECT_EQ(F(r[0], "user_name"), "Administrator");
  EXPECT_EQ(r[0]->Get("full_name").kind, FieldKind::Text);
  EXPECT_EQ(F(r[0], "full_name"), "");
  EXPECT_EQ(F(r[0], "last_login"), kT1Text);
  EXPECT_EQ(F(r[0], "password_last_set"), kT2Text);
  EXPECT_TRUE(Null(r[0], "account_expires"));
  EXPECT_EQ(F(r[0], "account_flags_decoded"), "account_disabled; normal_account");
  EXPECT_EQ(F(r[0], "failed_login_count"), "3");
  EXPECT_EQ(F(r[0], "login_count"), "9");
  EXPECT_FALSE(r[0]->damaged);
  EXPECT_TRUE(r[1]->damaged);  // short F, and a descriptor outside V
  EXPECT_EQ(F(r[1], "full_name"), "Bob B");
  EXPECT_TRUE(Null(r[1], "profile_path"));
  EXPECT_TRUE(Null(r[1], "login_count"));
  EXPECT_EQ(F(r[2], "user_name"), "carol");  // from Names: no V
  EXPECT_EQ(F(r[2], "login_count"), "9");
  ASSERT_EQ(d.Of("local_sid").size(), 1u);
  EXPECT_EQ(F(d.Of("local_sid")[0], "sid"), "S-1-5-21-1-2-3");
  SidNames names;
  names.Learn(d.image);
  ASSERT_NE(names.Find("S-1-5-21-1-2-3-500"), nullptr);
  EXPECT_EQ(*names.Find("S-1-5-21-1-2-3-500"), "Administrator");
}

TEST(SecurityTest, DomainNamesAndSids) {
  TreeHive t;
  auto counted = [](std::u16string_view text) {
    const Bytes b = Utf16Bytes(text, false);
    Bytes out;
    PutLe(out, b.size(), 2);
    PutLe(out, b.size() + 2, 2);
    PutLe(out, 8, 4);
    out.insert(out.end(), b.begin(), b.end());
    return out;
  };
  t.Value("Policy\\PolPrDmN", "", RegNone, counted(u"WORKGROUP"));
  t.Value("Policy\\PolAcDmN", "", RegNone, counted(u"HOST"));
  t.Value("Policy\\PolPrDmS", "", RegNone, Bytes{});
  Bytes sid{1, 4, 0, 0, 0, 0, 0, 5};
  for (uint32_t s : {21u, 7u, 8u, 9u}) PutLe(sid, s, 4);
  t.Value("Policy\\PolAcDmS", "", RegNone, sid);
  t.Value("Policy\\PolDnDDN", "", RegNone, Bytes{});
  DecodedHive d(t.Build());
  EXPECT_EQ(d.run.kind.kind, HiveKind::Security);
  const auto r = d.Of("domain_sid");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0]->key, "ROOT\\Policy\\PolPrDmN");
  EXPECT_EQ(F(r[0], "domain_name"), "WORKGROUP");
  EXPECT_EQ(F(r[0], "account_domain_name"), "HOST");
  EXPECT_TRUE(Null(r[0], "domain_sid"));
  EXPECT_TRUE(Null(r[0], "dns_domain_name"));
  EXPECT_EQ(F(r[0], "machine_sid"), "S-1-5-21-7-8-9");
  EXPECT_FALSE(r[0]->damaged);
}

TEST(AmcacheTest, BothLayouts) {
  TreeHive t;
  const std::string f = "Root\\File\\{vol}\\1000000abc";
  t.Value(f, "15", RegSz, Sz(u"C:\\x.exe"));
  t.Value(f, "101", RegSz, Sz(u"0000da39a3ee5e6b4b0d3255bfef95601890afd80709"));
  t.Value(f, "6", RegDword, Dword(4096));
  t.Value(f, "f", RegDword, Dword(1589711420));
  t.Value(f, "11", RegQword, Qword(kT1));
  const std::string n = "Root\\InventoryApplicationFile\\x.exe|abc";
  t.Value(n, "LowerCaseLongPath", RegSz, Sz(u"c:\\x.exe"));
  t.Value(n, "Size", RegSz, Sz(u"0x53ea0"));
  t.Value(n, "LinkDate", RegSz, Sz(u"04/17/2019 18:40:00"));
  t.Value(n, "FileId", RegSz, Sz(u"0000da39a3ee5e6b4b0d3255bfef95601890afd80709"));
  DecodedHive d(t.Build());
  EXPECT_EQ(d.run.kind.kind, HiveKind::Amcache);
  const auto r = d.Of("amcache_files");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(F(r[0], "layout"), "file");
  EXPECT_EQ(F(r[0], "sha1"), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(F(r[0], "size"), "4096");
  EXPECT_EQ(F(r[0], "link_date"), "2020-05-17T10:30:20.0000000Z");
  EXPECT_EQ(F(r[0], "modified"), kT1Text);
  EXPECT_EQ(F(r[0], "volume_guid"), "{vol}");
  EXPECT_EQ(F(r[1], "layout"), "inventory");
  EXPECT_EQ(F(r[1], "size"), "343712");
  EXPECT_EQ(F(r[1], "link_date"), kT1Text);
  EXPECT_TRUE(Null(r[1], "volume_guid"));
}

TEST(BcdTest, ApplicationsWithPathsAndPartitionDevicesOnly) {
  TreeHive t;
  t.Key("Description");
  auto object = [&](const std::string& guid, uint32_t type, const char16_t* path, Bytes device) {
    const std::string o = "Objects\\" + guid;
    t.Value(o + "\\Description", "Type", RegDword, Dword(type));
    if (path) t.Value(o + "\\Elements\\12000002", "Element", RegSz, Sz(path));
    t.Value(o + "\\Elements\\12000004", "Element", RegSz, Sz(u"Windows"));
    if (!device.empty()) t.Value(o + "\\Elements\\11000001", "Element", RegBinary, device);
  };
  Bytes gpt(0x48, 0);
  gpt[0x10] = 6;
  gpt[0x20] = 0xAA;
  gpt[0x38] = 0xBB;
  Bytes ramdisk = gpt;
  ramdisk[0x10] = 5;
  object("{a}", 0x10200003, u"\\Windows\\system32\\winload.efi", gpt);
  object("{b}", 0x10200003, u"\\x", ramdisk);
  object("{c}", 0x20200003, u"\\inherit", {});
  object("{d}", 0x10100002, nullptr, {});
  object("{e}", 0x101FFFFF, u"\\EFI\\x.efi", {});
  DecodedHive d(t.Build());
  const auto r = d.Of("boot_entries");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(F(r[0], "type"), "0x10200003");
  EXPECT_EQ(F(r[0], "application_type"), "os_loader");
  EXPECT_EQ(F(r[0], "device_partition_guid"), "{000000aa-0000-0000-0000-000000000000}");
  EXPECT_EQ(F(r[0], "device_disk_guid"), "{000000bb-0000-0000-0000-000000000000}");
  EXPECT_TRUE(Null(r[1], "device_partition_guid"));
  EXPECT_EQ(F(r[2], "application_type"), "custom");
}

// ---- damage

TEST(ArtifactDamageTest, UnreadableValuesGiveDamagedRecordsNeverAFailedRun) {
  TreeHive t = SystemHive();
  t.BrokenValue("ControlSet001\\Services\\svc", "ImagePath", RegExpandSz, 64);
  t.Value("ControlSet001\\Services\\svc", "Start", RegDword, Dword(3));
  t.Value("ControlSet001\\Services\\ok", "Start", RegDword, Dword(3));
  t.Value("ControlSet001\\Services\\odd", "Start", RegDword, Bytes{1, 2});
  DecodedHive d(t.Build(), {"services"});
  const auto r = d.Of("services");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_TRUE(r[0]->damaged);
  EXPECT_EQ(F(r[0], "start"), "3");
  EXPECT_TRUE(Null(r[0], "image_path"));
  EXPECT_FALSE(r[1]->damaged);
  EXPECT_TRUE(r[2]->damaged);  // a REG_DWORD of 2 bytes
  EXPECT_EQ(d.run.damagedRecords, 2u);
  EXPECT_FALSE(d.run.DamageSummary().empty());
}

TEST(ArtifactDamageTest, EmptyHiveAndUnknownKindGiveNoRecords) {
  TreeHive t;
  t.Key("Nothing");
  DecodedHive d(t.Build());
  EXPECT_EQ(d.run.kind.kind, HiveKind::Unknown);
  EXPECT_TRUE(d.run.records.empty());
  EXPECT_FALSE(d.run.Damaged());
}

// Damaged variants of hives rich in artifacts: every decoder, as every kind,
// ends with records shaped as declared (the sanitizer builds watch memory).
TEST(ArtifactDamageTest, EveryDecoderOverDamagedVariants) {
  TreeHive system = SystemHive();
  system.Value("ControlSet001\\Control\\Session Manager\\AppCompatCache", "AppCompatCache", RegBinary,
               VariableCache(0x30, 0x30, "10ts", false, false));
  system.Value("ControlSet001\\Services\\svc", "Start", RegDword, Dword(2));
  system.Value("ControlSet001\\Enum\\USBSTOR\\Disk&Ven_A&Prod_B&Rev_1\\S&0", "FriendlyName", RegSz, Sz(u"d"));
  system.Value("MountedDevices", "\\DosDevices\\C:", RegBinary, Bytes(12, 1));
  TreeHive user;
  user.Key("Console");
  const std::string bag = "Software\\Microsoft\\Windows\\Shell\\BagMRU";
  user.Value(bag, "0", RegBinary, List({RootFolder(kMyComputer)}));
  user.Value(bag + "\\0", "0", RegBinary, List({FileEntryItem(0x31, "PROGRA~1", u"Program Files", 9)}));
  user.Value("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\{G}\\Count", "n", RegBinary,
             Bytes(72, 1));
  std::vector<std::pair<std::string, Bytes>> bases = MutationBases();
  bases.emplace_back("artifact system", system.Build());
  bases.emplace_back("artifact user", user.Build());
  size_t runs = 0;
  for (const auto& [name, base] : bases) {
    for (const Mutant& m : MutateHive(base, static_cast<uint32_t>(base.size()), 40)) {
      BoundHive h(m.image);
      for (uint32_t bit = 1; bit <= static_cast<uint32_t>(HiveKind::Usrclass); bit <<= 1) {
        const ArtifactRun run = RunArtifactsAs(h.image, HiveKindGuess{static_cast<HiveKind>(bit), false});
        for (const ArtifactRecord& r : run.records) {
          ASSERT_EQ(r.fields.size(), r.artifact->fields.size()) << name << ": " << m.what;
          ASSERT_EQ(r.damaged, !r.error.empty()) << name << ": " << m.what;
        }
        ++runs;
      }
    }
  }
  EXPECT_GT(runs, 0u);
}

}  // namespace
}  // namespace cellbrook::test
