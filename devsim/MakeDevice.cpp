#include "devsim/MakeDevice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "devsim/ContactsDatabase.h"
#include "devsim/DeviceState.h"
#include "devsim/Generation.h"
#include "devsim/MessageDatabase.h"
#include "devsim/ModernDatabases.h"
#include "devsim/PlistUtil.h"
#include "devsim/SampleData.h"
#include "platform/Files.h"
#include "platform/Handles.h"

namespace devsim {
namespace {

namespace fs = std::filesystem;

// Every file of a generated phone carries this modification time plus a per-seed offset, so the
// phone's manifests are reproducible too.
constexpr int64_t kBaseTime = 1401580800;  // 2014-06-01 00:00 UTC

// A plain write without fsync: a phone is made in one go, and made again after a crash.
bool WriteFile(const std::string& path, const std::string& contents, std::string& error) {
    platform::CreateFolderWithParents(platform::ParentPath(path));
    platform::FilePtr f(std::fopen(path.c_str(), "wb"));
    if (!f || std::fwrite(contents.data(), 1, contents.size(), f.get()) != contents.size() ||
        std::fclose(f.release()) != 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

std::string PlistXml(plist_t node) {
    PlistPtr owner(node);
    return ToXml(owner.get());
}

std::string MakePhoneNumber(Random& r, std::string& e164) {
    switch (r.Below(3)) {
        case 0: {
            const std::string a = r.Digits(3), b = r.Digits(4);
            e164 = "+1555" + a + b;
            return "+1 (555) " + a + "-" + b;
        }
        case 1: {
            const std::string a = r.Digits(3), b = r.Digits(7);
            e164 = "+49" + a + b;
            return "+49 " + a + " " + b;
        }
        default: {
            const std::string a = r.Digits(2), b = r.Digits(8);
            e164 = "+33" + a + b;
            return "0" + a + " " + b.substr(0, 2) + " " + b.substr(2, 2) + " " + b.substr(4, 2) +
                   " " + b.substr(6, 2);
        }
    }
}

std::string AsciiLocalPart(const std::string& first, const std::string& last, Random& r) {
    std::string out;
    for (char c : first + "." + last) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.') {
            out += static_cast<char>(c | 0x20);
        }
    }
    if (out.size() < 3) {
        out = "user" + r.Digits(4);
    }
    return out;
}

std::vector<GeneratedPerson> MakePeople(int count, Random& r) {
    static const std::vector<std::string> kPhoneLabels = {"_$!<Mobile>!$_", "iPhone",
                                                          "_$!<Home>!$_", "_$!<Work>!$_"};
    std::vector<GeneratedPerson> people;
    for (int i = 0; i < count; ++i) {
        GeneratedPerson p;
        p.first = r.Pick(sample::FirstNames());
        p.last = r.Chance(90) ? r.Pick(sample::LastNames()) : std::string();
        if (r.Chance(25)) {
            p.organization = r.Pick(sample::Companies());
            p.jobTitle = r.Pick(sample::JobTitles());
        }
        if (r.Chance(30)) {
            p.note = r.Pick(sample::Notes());
        }
        if (r.Chance(10)) {
            p.nickname = p.first.substr(0, std::min<size_t>(3, p.first.size()));
        }
        const int phones = static_cast<int>(r.Between(i == 0 ? 1 : 0, 2));
        for (int k = 0; k < std::max(phones, 1); ++k) {
            GeneratedPhone phone;
            phone.number = MakePhoneNumber(r, phone.e164);
            phone.label = r.Pick(kPhoneLabels);
            p.phones.push_back(phone);
        }
        if (r.Chance(60)) {
            p.emails.push_back(AsciiLocalPart(p.first, p.last, r) + "@" +
                               r.Pick(sample::EmailDomains()));
        }
        if (r.Chance(35)) {
            p.place = static_cast<int>(r.Below(sample::Places().size()));
        }
        p.created = kBaseTime - kAppleEpochOffset - r.Between(86400, 86400 * 700);
        people.push_back(std::move(p));
    }
    return people;
}

plist_t MakeValues(const std::string& udid, const MakeDeviceOptions& o, Random& r) {
    plist_t v = plist_new_dict();
    auto str = [&](const char* key, const std::string& value) {
        plist_dict_set_item(v, key, plist_new_string(value.c_str()));
    };
    auto mac = [&] {
        std::string out;
        for (int i = 0; i < 6; ++i) {
            out += (i ? ":" : "") + r.Hex(2);
        }
        return out;
    };
    str("ActivationState", "Activated");
    str("BasebandVersion", "2.18.02");
    str("BluetoothAddress", mac());
    str("BuildVersion", BuildVersionFor(o.productVersion));
    str("CPUArchitecture", "arm64");
    str("DeviceClass", "iPhone");
    str("DeviceColor", r.Chance(50) ? "black" : "white");
    str("DeviceName", o.name);
    str("FirmwareVersion", "iBoot-1940.10.58");
    str("HardwareModel", "N51AP");
    str("HardwarePlatform", "s5l8960x");
    if (o.cellular) {
        str("IntegratedCircuitCardIdentity", "8949" + r.Digits(15));
        str("InternationalMobileEquipmentIdentity", "35" + r.Digits(13));
        str("PhoneNumber", "+49 151 " + r.Digits(8));
    }
    str("ModelNumber", "ME432");
    plist_dict_set_item(v, "PasswordProtected", plist_new_bool(0));
    str("ProductName", "iPhone OS");
    str("ProductType",
        o.productType.empty() ? DefaultProductType(o.productVersion) : o.productType);
    str("ProductVersion", o.productVersion);
    str("ProtocolVersion", "2");
    str("RegionInfo", "LL/A");
    str("SerialNumber", "F" + r.Hex(11, true));
    str("TimeZone", "Europe/Berlin");
    plist_dict_set_item(v, "UniqueChipID", plist_new_uint(r.Next() >> 12));
    str("UniqueDeviceID", udid);
    str("WiFiAddress", mac());
    return v;
}

struct FileToWrite {
    std::string path;  // relative to the device folder
    std::string contents;
};

std::string AppPreferences(const std::string& bundle, Random& r) {
    plist_t d = plist_new_dict();
    plist_dict_set_item(d, "LaunchCount", plist_new_uint(r.Between(1, 400)));
    plist_dict_set_item(d, "LastVersion", plist_new_string("2.3.1"));
    plist_dict_set_item(d, "BundleIdentifier", plist_new_string(bundle.c_str()));
    plist_dict_set_item(d, "ShowTips", plist_new_bool(r.Chance(50) ? 1 : 0));
    return PlistXml(d);
}

void AddApps(int count, Random& r, std::vector<FileToWrite>& files) {
    for (int i = 0; i < count; ++i) {
        const auto& ids = sample::AppIdentifiers();
        const std::string bundle = static_cast<size_t>(i) < ids.size()
                                       ? ids[static_cast<size_t>(i)]
                                       : "com.example.app" + std::to_string(i + 1);
        const std::string base = "files/AppDomain-" + bundle + "/";
        files.push_back(
            {base + "Library/Preferences/" + bundle + ".plist", AppPreferences(bundle, r)});
        files.push_back({base + "Documents/notes.txt", "Notes of " + bundle +
                                                           "\nÜberschrift: Einkaufsliste ✓\n" +
                                                           r.Pick(sample::MessageTexts()) + "\n"});
        files.push_back({base + "Documents/state.bin",
                         r.Bytes(static_cast<size_t>(r.Between(2 * 1024, 64 * 1024)))});
    }
}

void AddSystemDomains(Random& r, std::vector<FileToWrite>& files) {
    plist_t prefs = plist_new_dict();
    plist_dict_set_item(prefs, "Model", plist_new_string("iPhone"));
    const std::string set = "/Sets/" + r.Uuid();
    plist_dict_set_item(prefs, "CurrentSet", plist_new_string(set.c_str()));
    files.push_back(
        {"files/SystemPreferencesDomain/SystemConfiguration/preferences.plist", PlistXml(prefs)});
    plist_t wifi = plist_new_dict();
    plist_t networks = plist_new_array();
    for (const char* ssid : {"HomeNet", "Café Lumière Gäste", "Office-5G"}) {
        plist_t n = plist_new_dict();
        plist_dict_set_item(n, "SSID_STR", plist_new_string(ssid));
        plist_array_append_item(networks, n);
    }
    plist_dict_set_item(wifi, "List of known networks", networks);
    files.push_back(
        {"files/SystemPreferencesDomain/SystemConfiguration/com.apple.wifi.plist", PlistXml(wifi)});
    files.push_back({"files/KeychainDomain/keychain-backup.plist", PlistXml([&] {
                         plist_t k = plist_new_dict();
                         plist_dict_set_item(k, "genp", NewData(r.Bytes(1536)));
                         plist_dict_set_item(k, "inet", NewData(r.Bytes(768)));
                         return k;
                     }())});
    files.push_back(
        {"files/WirelessDomain/Library/Preferences/com.apple.commcenter.plist", PlistXml([&] {
             plist_t c = plist_new_dict();
             plist_dict_set_item(c, "PhoneNumber", plist_new_string("+49151"));
             return c;
         }())});
    files.push_back(
        {"files/RootDomain/Library/Preferences/com.apple.preferences.network.plist", PlistXml([] {
             plist_t n = plist_new_dict();
             plist_dict_set_item(n, "AirplaneMode", plist_new_bool(0));
             return n;
         }())});
}

void AddMediaArea(const MakeDeviceOptions& o, Random& r, std::vector<FileToWrite>& files) {
    plist_t books = plist_new_dict();
    plist_t list = plist_new_array();
    for (const char* title : {"Der Zauberberg (Leseprobe)", "Notes on Sailing", "星の本"}) {
        plist_t b = plist_new_dict();
        plist_dict_set_item(b, "Name", plist_new_string(title));
        plist_dict_set_item(b, "Persistent ID", plist_new_string(r.Hex(16, true).c_str()));
        plist_array_append_item(list, b);
    }
    plist_dict_set_item(books, "Books", list);
    files.push_back({"media/Books/iBooksData2.plist", PlistXml(books)});
    const std::string it = "media/iTunes_Control/iTunes/";
    files.push_back({it + "IC-Info.sidb", r.Bytes(1800)});
    files.push_back({it + "IC-Info.sidv", r.Bytes(96)});
    files.push_back({it + "iTunesPrefs", r.Bytes(512)});
    files.push_back({it + "iTunesPrefs.plist", PlistXml([&] {
                         plist_t p = plist_new_dict();
                         plist_dict_set_item(p, "iPodPrefs", NewData(r.Bytes(64)));
                         plist_dict_set_item(p, "DeviceName", plist_new_string(o.name.c_str()));
                         return p;
                     }())});
    files.push_back({it + "PhotosFolderName", "Pictures"});
    // An empty file: a reader of this area must cope with size 0.
    files.push_back({it + "PhotosFolderPrefs", ""});
    files.push_back({"media/com.apple.itunes.lock_sync", ""});
}

void AddHomeFiles(const MakeDeviceOptions& o, Random& r, std::vector<FileToWrite>& files) {
    files.push_back(
        {"files/HomeDomain/Library/Preferences/com.apple.springboard.plist", PlistXml([&] {
             plist_t p = plist_new_dict();
             plist_dict_set_item(p, "SBDeviceName", plist_new_string(o.name.c_str()));
             plist_dict_set_item(p, "SBAutoLockTime", plist_new_uint(60));
             return p;
         }())});
    files.push_back({"files/HomeDomain/Library/Preferences/.GlobalPreferences.plist", PlistXml([] {
                         plist_t p = plist_new_dict();
                         plist_dict_set_item(p, "AppleLocale", plist_new_string("de_DE"));
                         return p;
                     }())});
    // Camera roll: pictures until the requested megabytes are reached.
    const uint64_t total = static_cast<uint64_t>(o.mediaMb) * 1024 * 1024;
    uint64_t made = 0;
    for (int n = 1; made < total; ++n) {
        const uint64_t size =
            std::min<uint64_t>(total - made, static_cast<uint64_t>(r.Between(192, 768)) * 1024);
        char name[64];
        std::snprintf(name, sizeof name, "files/CameraRollDomain/Media/DCIM/100APPLE/IMG_%04d.JPG",
                      n);
        files.push_back({name, FakeJpeg(r, static_cast<size_t>(std::max<uint64_t>(size, 64)))});
        made += size;
    }
}

// Gives every file and folder of the tree the same reproducible time.
void StampTimes(const std::string& dir, int64_t when) {
    const timespec times[2] = {{static_cast<time_t>(when), 0}, {static_cast<time_t>(when), 0}};
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        utimensat(AT_FDCWD, it->path().c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
}

}  // namespace

std::string BuildVersionFor(const std::string& productVersion) {
    if (IsModernVersion(productVersion)) {
        return ModernBuildVersion(productVersion);
    }
    if (productVersion == "7.1") {
        return "11D167";
    }
    if (productVersion == "7.1.1") {
        return "11D201";
    }
    return "11D257";
}

bool MakeDevice(const std::string& dir, const MakeDeviceOptions& o, std::string& error) {
    std::error_code ec;
    if (fs::exists(dir, ec) && !fs::is_empty(dir, ec)) {
        error = dir + " exists and is not empty";
        return false;
    }
    if (!IsSupportedPhoneVersion(o.productVersion)) {
        error = "unsupported product version " + o.productVersion + " (7.1.x or 10 to 18)";
        return false;
    }
    if (o.messages < 0 || o.contacts < 0 || o.mediaMb < 0 || o.apps < 0) {
        error = "counts must not be negative";
        return false;
    }
    fs::create_directories(dir, ec);
    Random r(o.seed);
    const std::string udid = r.Hex(40);

    // device.plist
    PlistPtr root(plist_new_dict());
    plist_dict_set_item(root.get(), "Values", MakeValues(udid, o, r));
    plist_t domains = plist_new_dict();
    plist_t backup = plist_new_dict();
    plist_dict_set_item(backup, "WillEncrypt", plist_new_bool(o.backupPassword ? 1 : 0));
    plist_dict_set_item(backup, "LastBackupComputerName", plist_new_string("tolvane-host"));
    plist_dict_set_item(domains, kBackupDomain, backup);
    plist_t itunes = plist_new_dict();
    plist_dict_set_item(itunes, "MinITunesVersion", plist_new_string("11.1"));
    plist_dict_set_item(itunes, "MinMacOSVersion", plist_new_string("10.6.8"));
    plist_dict_set_item(itunes, "SupportsAntiPhishing", plist_new_bool(1));
    plist_dict_set_item(itunes, "iTunesStoreCountry", plist_new_string("de"));
    plist_dict_set_item(domains, "com.apple.iTunes", itunes);
    plist_dict_set_item(root.get(), "Domains", domains);
    if (o.backupPassword) {
        plist_dict_set_item(root.get(), "BackupPassword",
                            plist_new_string(o.backupPassword->c_str()));
    }
    plist_t pair = plist_new_dict();
    plist_dict_set_item(pair, "HostID", plist_new_string(r.Uuid().c_str()));
    plist_dict_set_item(pair, "SystemBUID", plist_new_string(r.Uuid().c_str()));
    plist_dict_set_item(pair, "EscrowBag", NewData(r.Bytes(48)));
    plist_dict_set_item(pair, "WiFiMACAddress", plist_new_string("00:00:00:00:00:00"));
    plist_dict_set_item(root.get(), "PairRecord", pair);
    plist_dict_set_item(root.get(), "Seed", plist_new_uint(o.seed));
    if (o.backupRounds) {
        plist_dict_set_item(root.get(), "BackupKeyRounds", plist_new_uint(*o.backupRounds));
    }

    std::vector<FileToWrite> files;
    files.push_back({"device.plist", ToXml(root.get())});
    AddHomeFiles(o, r, files);
    AddApps(o.apps, r, files);
    AddSystemDomains(r, files);
    AddMediaArea(o, r, files);
    for (const FileToWrite& f : files) {
        if (!WriteFile(dir + "/" + f.path, f.contents, error)) {
            return false;
        }
    }

    // The two databases, from the phone's own schemas.
    const std::vector<GeneratedPerson> people = MakePeople(o.contacts, r);
    const std::string home = dir + "/files/HomeDomain/Library/";
    platform::CreateFolderWithParents(home + "AddressBook");
    platform::CreateFolderWithParents(home + "SMS");
    if (!WriteContactsDatabase(home + "AddressBook/AddressBook.sqlitedb", people, r, error)) {
        return false;
    }
    std::vector<GeneratedAttachment> attachments;
    if (!WriteMessageDatabase(home + "SMS/sms.db", o.messages, people, r, attachments, error)) {
        return false;
    }
    // A phone of a newer generation keeps the databases as its migrations left them.
    if (IsModernVersion(o.productVersion)) {
        Random migration(o.seed ^ 0x10DE);
        if (!ModerniseMessageDatabase(home + "SMS/sms.db", o.productVersion, migration, error) ||
            !ModerniseContactsDatabase(home + "AddressBook/AddressBook.sqlitedb", o.productVersion,
                                       error)) {
            return false;
        }
    }
    for (const GeneratedAttachment& a : attachments) {
        if (!WriteFile(dir + "/files/MediaDomain/" + a.mediaPath, a.contents, error)) {
            return false;
        }
    }
    StampTimes(dir, kBaseTime + static_cast<int64_t>(o.seed % 86400));
    return true;
}

}  // namespace devsim
