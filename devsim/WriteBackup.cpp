#include "devsim/WriteBackup.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <vector>

#include "devsim/BackupCipher.h"
#include "devsim/BackupContents.h"
#include "devsim/DeviceState.h"
#include "devsim/Generation.h"
#include "devsim/ManifestDb.h"
#include "devsim/ModernBackup.h"
#include "devsim/Random.h"
#include "platform/Files.h"
#include "platform/Handles.h"
#include "platform/Strings.h"
#include "platform/Time.h"

namespace devsim {
namespace {

namespace fs = std::filesystem;

// The names of the media area's files that a backup program keeps in Info.plist.
const char* const kItunesFiles[] = {
    "ApertureAlbumPrefs", "IC-Info.sidb",      "IC-Info.sidv",     "PhotosFolderAlbums",
    "PhotosFolderName",   "PhotosFolderPrefs", "iPhotoAlbumPrefs", "iTunesApplicationIDs",
    "iTunesPrefs",        "iTunesPrefs.plist"};

bool WriteAll(const std::string& path, const std::string& bytes, std::string& error) {
    platform::FilePtr f(std::fopen(path.c_str(), "wb"));
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size() ||
        std::fclose(f.release()) != 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

PlistPtr InfoPlist(const DeviceState& state, const WriteBackupOptions& o, int64_t now, Random& r) {
    PlistPtr d(plist_new_dict());
    auto copy = [&](const char* key, const char* value) {
        const std::string v = state.ValueString(value);
        plist_dict_set_item(d.get(), key, plist_new_string(v.c_str()));
    };
    auto optional = [&](const char* key, const char* value) {
        PlistPtr v = state.Value(std::nullopt, std::string(value));
        if (v && plist_get_node_type(v.get()) == PLIST_STRING) {
            plist_dict_set_item(d.get(), key, v.release());
        }
    };
    const std::string name = o.name.value_or(state.ValueString("DeviceName"));
    copy("Build Version", "BuildVersion");
    plist_dict_set_item(d.get(), "Device Name", plist_new_string(name.c_str()));
    plist_dict_set_item(d.get(), "Display Name", plist_new_string(name.c_str()));
    plist_dict_set_item(d.get(), "GUID", plist_new_string(r.Hex(32, true).c_str()));
    optional("ICCID", "IntegratedCircuitCardIdentity");
    optional("IMEI", "InternationalMobileEquipmentIdentity");
    plist_dict_set_item(d.get(), "Last Backup Date", NewDateUnix(now));
    optional("Phone Number", "PhoneNumber");
    copy("Product Type", "ProductType");
    copy("Product Version", "ProductVersion");
    copy("Serial Number", "SerialNumber");
    copy("Target Identifier", "UniqueDeviceID");
    plist_dict_set_item(d.get(), "Target Type", plist_new_string("Device"));
    plist_dict_set_item(d.get(), "Unique Identifier",
                        plist_new_string(platform::AsciiUpper(state.Udid()).c_str()));
    std::string bytes;
    if (platform::ReadWholeFile(state.MediaRoot() + "/Books/iBooksData2.plist", bytes) == 0) {
        plist_dict_set_item(d.get(), "iBooks Data 2", NewData(bytes));
    }
    plist_t files = plist_new_dict();
    for (const char* f : kItunesFiles) {
        bytes.clear();
        if (platform::ReadWholeFile(state.MediaRoot() + "/iTunes_Control/iTunes/" + f, bytes) ==
                0 &&
            !bytes.empty()) {
            plist_dict_set_item(files, f, NewData(bytes));
        }
    }
    plist_dict_set_item(d.get(), "iTunes Files", files);
    PlistPtr settings = state.Value(std::string("com.apple.iTunes"), std::nullopt);
    plist_dict_set_item(d.get(), "iTunes Settings",
                        settings ? settings.release() : plist_new_dict());
    plist_dict_set_item(d.get(), "iTunes Version", plist_new_string("11.1.5"));
    return d;
}

}  // namespace

bool ParseIsoDate(const std::string& text, int64_t& seconds) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &used) !=
            6 ||
        mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) {
        return false;
    }
    std::string rest = text.substr(static_cast<size_t>(used));
    if (!rest.empty() && rest[0] == '.') {
        const size_t end = rest.find_first_not_of("0123456789", 1);
        rest = end == std::string::npos ? "" : rest.substr(end);
    }
    int64_t offset = 0;
    if (rest == "Z" || rest.empty()) {
        offset = 0;
    } else {
        int oh = 0, om = 0;
        char sign = 0;
        if (std::sscanf(rest.c_str(), "%c%2d:%2d", &sign, &oh, &om) != 3 ||
            (sign != '+' && sign != '-')) {
            return false;
        }
        offset = (sign == '+' ? 1 : -1) * (oh * 3600 + om * 60);
    }
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    seconds = static_cast<int64_t>(timegm(&tm)) - offset;
    return true;
}

bool WriteBackup(const std::string& deviceDir, const std::string& outParent,
                 const WriteBackupOptions& o, std::string& error) {
    std::unique_ptr<DeviceState> state = DeviceState::Load(deviceDir, error);
    if (!state) {
        return false;
    }
    const std::string folder = outParent + "/" + state->Udid();
    std::error_code ec;
    if (fs::exists(folder, ec) && !fs::is_empty(folder, ec)) {
        error = folder + " exists and is not empty";
        return false;
    }
    fs::create_directories(folder, ec);
    if (ec) {
        error = "cannot create " + folder;
        return false;
    }
    const int64_t now = o.date.value_or(platform::UnixNow());
    Random random(state->Seed() ^ 0x5EED);
    std::unique_ptr<BackupCipher> cipher;
    // A modern phone's backup: files in prefix folders, Manifest.db, the phone's keybag.
    const bool modern = IsModernVersion(state->ValueString("ProductVersion"));
    if (o.encryptPassword) {
        cipher = modern ? CipherForPhone(*state, *o.encryptPassword, random)
                        : BackupCipher::Create(*o.encryptPassword, random);
    }
    BackupContents contents(*state, cipher.get());
    std::vector<bool> stored(contents.Items().size(), false);
    std::vector<char> buffer(256 * 1024);
    for (size_t i = 0; i < contents.Items().size(); ++i) {
        const BackupItem& item = contents.Items()[i];
        if (item.entry.isFolder) {
            continue;
        }
        std::unique_ptr<FileSource> source = contents.Open(i);
        std::string path = folder + "/" + item.name;
        if (modern) {
            platform::CreateFolderWithParents(folder + "/" + item.name.substr(0, 2));
            path = folder + "/" + PrefixedName(item.name);
        }
        platform::FilePtr out(std::fopen(path.c_str(), "wb"));
        if (!out) {
            error = "cannot write " + path;
            return false;
        }
        long n = 0;
        while ((n = source->Next(buffer.data(), buffer.size())) > 0) {
            if (std::fwrite(buffer.data(), 1, static_cast<size_t>(n), out.get()) !=
                static_cast<size_t>(n)) {
                error = "cannot write " + path;
                return false;
            }
        }
        if (std::fclose(out.release()) != 0 || n < 0) {
            error = n < 0 ? "cannot read " + item.entry.localPath : "cannot write " + path;
            return false;
        }
        contents.Complete(i, *source);
        stored[i] = true;
    }
    if (modern) {
        std::string manifestDb;
        std::string manifestKey;
        return ModernManifest(contents, stored, cipher.get(),
                              UsesDoubleKeyDerivation(state->ValueString("ProductVersion")),
                              manifestDb, manifestKey, error) &&
               WriteAll(folder + "/Manifest.db", manifestDb, error) &&
               WriteAll(folder + "/Manifest.plist",
                        ToXml(ModernManifestPlist(contents, now, manifestKey).get()), error) &&
               WriteAll(folder + "/Status.plist",
                        ToXml(ModernStatusPlist(contents, now, true).get()), error) &&
               WriteAll(folder + "/Info.plist", ToXml(InfoPlist(*state, o, now, random).get()),
                        error);
    }
    return WriteAll(folder + "/Manifest.mbdb", contents.ManifestMbdb(stored), error) &&
           WriteAll(folder + "/Manifest.plist", ToXml(contents.ManifestPlist(now).get()), error) &&
           WriteAll(folder + "/Status.plist", ToXml(contents.StatusPlist(now, true).get()),
                    error) &&
           WriteAll(folder + "/Info.plist", ToXml(InfoPlist(*state, o, now, random).get()), error);
}

}  // namespace devsim
