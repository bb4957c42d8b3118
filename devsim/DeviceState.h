// The phone's persistent state: the folder DIR that make-device writes and serve works on.
//
//   DIR/device.plist   "Values" (lockdown values without domain), "Domains" (domain → dict),
//                      "BackupPassword" (absent when none), "PairRecord", "Seed"
//   DIR/files/<Domain>/<relative path>   the phone's file tree
//   DIR/media/...      the AFC media area
//   DIR/events.log     the event log
//
// The plist is read once when serving starts and written back whenever the phone changes it
// (a new device name, a backup password set or removed, a saved pair record). All methods are
// safe to call from several connection threads.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "devsim/PlistUtil.h"

namespace devsim {

inline constexpr char kBackupDomain[] = "com.apple.mobile.backup";

class DeviceState {
  public:
    // Reads DIR/device.plist. Null, with `error` set, when it is missing or malformed.
    static std::unique_ptr<DeviceState> Load(const std::string& dir, std::string& error);

    const std::string& Dir() const { return dir_; }
    std::string FilesRoot() const { return dir_ + "/files"; }
    std::string MediaRoot() const { return dir_ + "/media"; }
    std::string EventLogPath() const { return dir_ + "/events.log"; }

    std::string Udid() const;
    std::string ValueString(const char* key) const;  // "" when missing

    // The value of a lockdown query: the whole "Values" dict without domain and key, a domain's
    // dict, or one value. Null when there is no such domain or key.
    PlistPtr Value(const std::optional<std::string>& domain,
                   const std::optional<std::string>& key) const;
    // Sets a value (a copy of `value` is kept) and writes the state back.
    int32_t SetValue(const std::optional<std::string>& domain,
                     const std::optional<std::string>& key, plist_t value);

    bool WillEncrypt() const;
    std::optional<std::string> BackupPassword() const;
    // A password makes the phone encrypt its backups; nullopt stops it. Written back at once.
    int32_t SetBackupPassword(const std::optional<std::string>& password);

    PlistPtr PairRecord() const;
    int32_t SetPairRecord(plist_t record);

    uint64_t Seed() const;

  private:
    DeviceState(std::string dir, PlistPtr root);
    int32_t SaveLocked() const;
    plist_t Section(const char* name) const;  // a top-level dict, made when missing

    std::string dir_;
    mutable std::mutex mutex_;
    PlistPtr root_;
};

}  // namespace devsim
