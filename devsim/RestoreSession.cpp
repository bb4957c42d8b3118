#include "devsim/RestoreSession.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "devsim/BackupCipher.h"
#include "devsim/BackupService.h"
#include "devsim/BackupSession.h"
#include "devsim/FileTree.h"
#include "devsim/Generation.h"
#include "devsim/ManifestDb.h"
#include "devsim/Mbdb.h"
#include "devsim/ModernBackup.h"
#include "devsim/Phone.h"
#include "platform/Files.h"
#include "platform/Handles.h"
#include "platform/Sha1.h"

namespace devsim {
namespace {

namespace fs = std::filesystem;

constexpr size_t kBatchFiles = 256;
constexpr uint64_t kBatchBytes = 32u << 20;

// One file on its way from the computer into the staging tree.
struct IncomingFile {
    size_t record = 0;
    platform::FilePtr out;
    platform::Sha1 sha;
    std::unique_ptr<FileDecryptor> decryptor;
    std::string plain;  // decrypted bytes waiting to be written
    bool failed = false;
};

void RemoveTree(const std::string& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
}

}  // namespace

RestoreSession::RestoreSession(Phone& phone, DeviceLink& link) : phone_(phone), link_(link) {}

void RestoreSession::Fail(uint64_t code, const std::string& description) {
    phone_.Events().Append("restore finished " + std::to_string(code));
    SendOutcome(link_, code, description);
}

bool RestoreSession::Run(plist_t request) {
    DeviceState& state = phone_.State();
    const std::string source = DictString(request, "SourceIdentifier").value_or(state.Udid());
    plist_t options = plist_dict_get_item(request, "Options");
    const bool restoreSystem = DictBool(options, "RestoreSystemFiles").value_or(false);
    std::optional<std::string> password = DictString(options, "Password");
    if (!password) {
        password = DictString(request, "Password");
    }
    phone_.Events().Append("restore started " + source);
    const Faults& faults = phone_.GetFaults();
    if (faults.refuseRestore) {
        Fail(faults.refuseRestore->code, faults.refuseRestore->description);
        return false;
    }

    // The manifests.
    std::string problem;
    std::string manifestBytes;
    if (!dl::FetchWhole(link_, source + "/Manifest.plist", 0.5, manifestBytes, problem)) {
        Fail(kPhoneBackupIncomplete, "The backup has no readable Manifest.plist (" + problem + ")");
        return false;
    }
    PlistPtr manifest = ParsePlist(manifestBytes);
    if (!manifest || plist_get_node_type(manifest.get()) != PLIST_DICT) {
        Fail(kPhoneBackupIncomplete, "The backup's Manifest.plist cannot be read");
        return false;
    }
    std::unique_ptr<BackupCipher> cipher;
    if (DictBool(manifest.get(), "IsEncrypted").value_or(false)) {
        const std::optional<std::string> keybag = DictData(manifest.get(), "BackupKeyBag");
        if (!password) {
            phone_.Events().Append("restore password missing");
            Fail(kPhoneWrongPassword, "The backup is encrypted; its password is needed");
            return false;
        }
        std::string error;
        cipher = keybag ? BackupCipher::Open(*keybag, *password, error) : nullptr;
        if (!cipher) {
            phone_.Events().Append("restore password refused");
            Fail(kPhoneWrongPassword, "The backup password is not correct");
            return false;
        }
    }
    // A modern phone reads Manifest.db (files in prefix folders) and still takes a backup of
    // the iOS 7 layout; a phone of that generation knows only Manifest.mbdb.
    std::vector<MbdbRecord> records;
    bool prefixed = false;
    if (IsModernVersion(state.ValueString("ProductVersion"))) {
        std::string dbBytes;
        std::string dbProblem;
        if (dl::FetchWhole(link_, source + "/Manifest.db", 1.0, dbBytes, dbProblem)) {
            prefixed = true;
            if (!DecryptManifestDb(manifest.get(), cipher.get(), dbBytes, problem) ||
                !ReadManifestDb(dbBytes, records, problem)) {
                Fail(kPhoneBackupIncomplete, "The backup's Manifest.db cannot be read: " + problem);
                return false;
            }
            // The rows of the domains themselves name no file.
            records.erase(std::remove_if(records.begin(), records.end(),
                                         [](const MbdbRecord& r) { return r.path.empty(); }),
                          records.end());
        }
    }
    if (!prefixed) {
        std::string mbdbBytes;
        if (!dl::FetchWhole(link_, source + "/Manifest.mbdb", 1.0, mbdbBytes, problem)) {
            Fail(kPhoneBackupIncomplete,
                 "The backup has no readable Manifest.mbdb (" + problem + ")");
            return false;
        }
        if (!ReadMbdb(mbdbBytes, records, problem)) {
            Fail(kPhoneBackupIncomplete, "The backup's Manifest.mbdb cannot be read: " + problem);
            return false;
        }
    }
    for (const MbdbRecord& r : records) {
        if (!IsSafeDomain(r.domain) || !IsSafeRelativePath(r.path)) {
            Fail(kPhoneBackupDamaged,
                 "The backup names a path the phone cannot hold: " + r.domain + "/" + r.path);
            return false;
        }
    }

    // Everything is staged beside the phone's files first.
    const std::string staging = state.Dir() + "/.restore-new";
    const std::string old = state.Dir() + "/.restore-old";
    RemoveTree(staging);
    RemoveTree(old);
    struct Cleanup {
        std::string a, b;
        ~Cleanup() {
            RemoveTree(a);
            RemoveTree(b);
        }
    } cleanup{staging, old};

    std::set<std::string> domains;
    std::vector<size_t> files;
    uint64_t totalBytes = 1;
    for (size_t i = 0; i < records.size(); ++i) {
        const MbdbRecord& r = records[i];
        domains.insert(r.domain);
        const std::string local = staging + "/" + r.domain + "/" + r.path;
        if (r.IsFolder()) {
            platform::CreateFolderWithParents(local);
        } else if (r.IsFile()) {
            files.push_back(i);
            totalBytes += r.size;
        }
    }
    for (const std::string& d : domains) {
        platform::CreateFolderWithParents(staging + "/" + d);
    }

    uint64_t doneBytes = 0;
    size_t next = 0;
    while (next < files.size()) {
        std::vector<std::string> names;
        std::map<std::string, std::vector<size_t>> byName;
        uint64_t batchBytes = 0;
        while (next < files.size() && names.size() < kBatchFiles && batchBytes < kBatchBytes) {
            const MbdbRecord& r = records[files[next]];
            const std::string hashed = HashedName(r.domain, r.path);
            const std::string name = source + "/" + (prefixed ? PrefixedName(hashed) : hashed);
            if (byName.count(name) == 0) {
                names.push_back(name);
            }
            byName[name].push_back(files[next]);
            batchBytes += r.size;
            ++next;
        }
        const double progress =
            1.0 + 94.0 * static_cast<double>(doneBytes) / static_cast<double>(totalBytes);
        link_.Send(dl::DownloadFiles(names, progress).get());
        std::map<std::string, std::unique_ptr<IncomingFile>> incoming;
        const std::vector<DeviceLink::Incoming> got =
            link_.ReceiveFiles([&](const std::string& name) -> DeviceLink::Sink {
                auto it = byName.find(name);
                if (it == byName.end() || incoming.count(name) != 0) {
                    return DeviceLink::Sink();  // a name the phone did not ask for: dropped
                }
                auto in = std::make_unique<IncomingFile>();
                in->record = it->second.front();
                const MbdbRecord& r = records[in->record];
                in->out.reset(std::fopen((staging + "/" + r.domain + "/" + r.path).c_str(), "wb"));
                if (!in->out) {
                    platform::CreateFolderWithParents(staging + "/" + r.domain + "/" +
                                                      platform::ParentPath(r.path));
                    in->out.reset(
                        std::fopen((staging + "/" + r.domain + "/" + r.path).c_str(), "wb"));
                }
                if (cipher) {
                    std::string key;
                    if (cipher->FileKey(r.encryptionKey, key)) {
                        in->decryptor = std::make_unique<FileDecryptor>(key);
                    } else {
                        in->failed = true;
                    }
                }
                IncomingFile* f = in.get();
                incoming[name] = std::move(in);
                return [f](const char* data, size_t size) {
                    f->sha.Update(data, size);
                    if (f->failed || !f->out) {
                        return;
                    }
                    if (f->decryptor) {
                        f->plain.clear();
                        f->failed = !f->decryptor->Update(data, size, f->plain);
                        data = f->plain.data();
                        size = f->plain.size();
                    }
                    if (std::fwrite(data, 1, size, f->out.get()) != size) {
                        f->failed = true;
                    }
                };
            });
        link_.ReceiveStatus();

        std::map<std::string, const DeviceLink::Incoming*> results;
        for (const DeviceLink::Incoming& g : got) {
            results[g.name] = &g;
            doneBytes += g.size;
        }
        for (const std::string& name : names) {
            auto r = results.find(name);
            auto in = incoming.find(name);
            const MbdbRecord& rec = records[byName[name].front()];
            const std::string what = rec.domain + "/" + rec.path;
            if (r == results.end() || !r->second->ok || in == incoming.end()) {
                Fail(kPhoneBackupIncomplete,
                     "The backup is incomplete: " + what + " (" + name + ") could not be had" +
                         (r != results.end() && !r->second->errorText.empty()
                              ? ": " + r->second->errorText
                              : std::string()));
                return false;
            }
            IncomingFile& f = *in->second;
            const platform::Sha1Digest digest = f.sha.Final();
            if (rec.digest.size() == 20 && std::string(reinterpret_cast<const char*>(digest.data()),
                                                       digest.size()) != rec.digest) {
                phone_.Events().Append("restore damaged " + what);
                Fail(kPhoneBackupDamaged,
                     "The backup is damaged: " + what + " does not match its record's SHA-1");
                return false;
            }
            if (f.decryptor && !f.failed) {
                f.plain.clear();
                f.failed =
                    !f.decryptor->Final(f.plain) ||
                    std::fwrite(f.plain.data(), 1, f.plain.size(), f.out.get()) != f.plain.size();
            }
            if (f.failed || !f.out || std::fclose(f.out.release()) != 0) {
                Fail(kPhoneBackupDamaged, "The phone could not store " + what);
                return false;
            }
            const std::string local = staging + "/" + rec.domain + "/" + rec.path;
            // The older layout cuts a file to its recorded size; a modern backup's sizes are
            // known to be wrong for databases, and the padding alone says where a file ends.
            if (cipher && !prefixed && truncate(local.c_str(), static_cast<off_t>(rec.size)) != 0) {
                Fail(kPhoneBackupDamaged, "The phone could not store " + what);
                return false;
            }
            // Records that share a name (the same file twice) get the same contents.
            for (size_t k = 1; k < byName[name].size(); ++k) {
                const MbdbRecord& twin = records[byName[name][k]];
                platform::CopyFileReplace(local, staging + "/" + twin.domain + "/" + twin.path);
            }
        }
    }

    // Times and permissions as recorded.
    for (const MbdbRecord& r : records) {
        if (!r.IsFile() && !r.IsFolder()) {
            continue;
        }
        const std::string local = staging + "/" + r.domain + "/" + r.path;
        chmod(local.c_str(), r.mode & 0777);
        const timespec times[2] = {{static_cast<time_t>(r.accessed), 0},
                                   {static_cast<time_t>(r.modified), 0}};
        utimensat(AT_FDCWD, local.c_str(), times, 0);
    }

    // Apply, domain by domain: each swap is one rename.
    platform::CreateFolderWithParents(old);
    size_t applied = 0;
    std::string skipped;
    for (const std::string& d : domains) {
        if (KindOfDomain(d) == DomainKind::System && !restoreSystem) {
            skipped += " " + d;
            continue;
        }
        const std::string live = state.FilesRoot() + "/" + d;
        if (platform::PathExists(live) && rename(live.c_str(), (old + "/" + d).c_str()) != 0) {
            continue;
        }
        if (rename((staging + "/" + d).c_str(), live.c_str()) != 0) {
            rename((old + "/" + d).c_str(), live.c_str());
            continue;
        }
        ++applied;
    }
    phone_.Events().Append("restore applied " + std::to_string(applied) + " domains, " +
                           std::to_string(files.size()) + " files" +
                           (skipped.empty() ? "" : "; kept" + skipped));
    RemoveTree(staging);
    RemoveTree(old);
    phone_.Events().Append("restore finished 0");
    PlistPtr bye = dl::WithString("DLMessageDisconnect", "___EmptyParameterString___");
    link_.Send(bye.get());
    return true;
}

}  // namespace devsim
