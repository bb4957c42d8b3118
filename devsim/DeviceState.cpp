#include "devsim/DeviceState.h"
#include <cstdlib>

namespace devsim {

DeviceState::DeviceState(std::string dir, PlistPtr root)
    : dir_(std::move(dir)), root_(std::move(root)) {}

std::unique_ptr<DeviceState> DeviceState::Load(const std::string& dir, std::string& error) {
    PlistPtr root = LoadPlistFile(dir + "/device.plist");
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
        error = "cannot read " + dir + "/device.plist";
        return nullptr;
    }
    plist_t values = plist_dict_get_item(root.get(), "Values");
    if (values == nullptr || plist_get_node_type(values) != PLIST_DICT ||
        !DictString(values, "UniqueDeviceID")) {
        error = dir + "/device.plist has no Values with a UniqueDeviceID";
        return nullptr;
    }
    return std::unique_ptr<DeviceState>(new DeviceState(dir, std::move(root)));
}

plist_t DeviceState::Section(const char* name) const {
    plist_t node = plist_dict_get_item(root_.get(), name);
    if (node == nullptr || plist_get_node_type(node) != PLIST_DICT) {
        node = plist_new_dict();
        plist_dict_set_item(root_.get(), name, node);
    }
    return node;
}

int32_t DeviceState::SaveLocked() const {
    return SavePlistFileXml(dir_ + "/device.plist", root_.get());
}

std::string DeviceState::Udid() const {
    return ValueString("UniqueDeviceID");
}

std::string DeviceState::ValueString(const char* key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return DictString(plist_dict_get_item(root_.get(), "Values"), key).value_or("");
}

PlistPtr DeviceState::Value(const std::optional<std::string>& domain,
                            const std::optional<std::string>& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    plist_t scope = nullptr;
    if (domain) {
        plist_t domains = plist_dict_get_item(root_.get(), "Domains");
        scope = domains != nullptr && plist_get_node_type(domains) == PLIST_DICT
                    ? plist_dict_get_item(domains, domain->c_str())
                    : nullptr;
    } else {
        scope = plist_dict_get_item(root_.get(), "Values");
    }
    if (scope == nullptr) {
        return PlistPtr();
    }
    if (!key) {
        return PlistPtr(plist_copy(scope));
    }
    if (plist_get_node_type(scope) != PLIST_DICT) {
        return PlistPtr();
    }
    plist_t node = plist_dict_get_item(scope, key->c_str());
    return PlistPtr(node != nullptr ? plist_copy(node) : nullptr);
}

int32_t DeviceState::SetValue(const std::optional<std::string>& domain,
                              const std::optional<std::string>& key, plist_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    plist_t scope = Section("Values");
    if (domain) {
        plist_t domains = Section("Domains");
        scope = plist_dict_get_item(domains, domain->c_str());
        if (scope == nullptr || plist_get_node_type(scope) != PLIST_DICT) {
            scope = plist_new_dict();
            plist_dict_set_item(domains, domain->c_str(), scope);
        }
    }
    if (key) {
        plist_dict_set_item(scope, key->c_str(), plist_copy(value));
    } else if (plist_get_node_type(value) == PLIST_DICT) {
        // A whole dictionary without a key merges into the scope, as lockdown does.
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(value, &it);
        for (;;) {
            char* name = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(value, it, &name, &item);
            if (name == nullptr) {
                break;
            }
            plist_dict_set_item(scope, name, plist_copy(item));
            std::free(name);
        }
        std::free(it);
    }
    return SaveLocked();
}

bool DeviceState::WillEncrypt() const {
    PlistPtr value = Value(std::string(kBackupDomain), std::string("WillEncrypt"));
    if (!value || plist_get_node_type(value.get()) != PLIST_BOOLEAN) {
        return false;
    }
    uint8_t b = 0;
    plist_get_bool_val(value.get(), &b);
    return b != 0;
}

std::optional<std::string> DeviceState::BackupPassword() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return DictString(root_.get(), "BackupPassword");
}

int32_t DeviceState::SetBackupPassword(const std::optional<std::string>& password) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (password) {
        plist_dict_set_item(root_.get(), "BackupPassword", plist_new_string(password->c_str()));
    } else if (plist_dict_get_item(root_.get(), "BackupPassword") != nullptr) {
        plist_dict_remove_item(root_.get(), "BackupPassword");
    }
    plist_t domains = Section("Domains");
    plist_t backup = plist_dict_get_item(domains, kBackupDomain);
    if (backup == nullptr || plist_get_node_type(backup) != PLIST_DICT) {
        backup = plist_new_dict();
        plist_dict_set_item(domains, kBackupDomain, backup);
    }
    plist_dict_set_item(backup, "WillEncrypt", plist_new_bool(password ? 1 : 0));
    return SaveLocked();
}

PlistPtr DeviceState::PairRecord() const {
    std::lock_guard<std::mutex> lock(mutex_);
    plist_t record = plist_dict_get_item(root_.get(), "PairRecord");
    return PlistPtr(record != nullptr ? plist_copy(record) : nullptr);
}

int32_t DeviceState::SetPairRecord(plist_t record) {
    std::lock_guard<std::mutex> lock(mutex_);
    plist_dict_set_item(root_.get(), "PairRecord", plist_copy(record));
    return SaveLocked();
}

uint64_t DeviceState::Seed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return DictUint(root_.get(), "Seed").value_or(1);
}

}  // namespace devsim
