// Figures of the newer backup layout: the rewrite of a 200,000-row Manifest.db for a restore by
// category (applications' rows out, two MBFile records updated), and the check walk of the same
// manifest that precedes every restore of such a backup.
//   bench_manifest_db [temporary folder] [rows]     (default: $TMPDIR or /tmp, 200000)
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Handles.h"
#include "store/BackupFormat.h"
#include "store/CategoryRestore.h"
#include "store/ManifestDb.h"
#include "store/MbFile.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr char kUdid[] = "00008030-001A2B3C4D5E602E00000000000000ab";

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time of this process (user + system), which a busy machine does not inflate as it
// does the wall-clock figure.
double CpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

void Die(const char* what) {
    std::fprintf(stderr, "bench_manifest_db: %s\n", what);
    std::exit(1);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    if (!out) {
        Die("cannot write a file");
    }
}

// A manifest of `rows` rows as a phone writes it: about half of them applications' data.
void MakeManifest(const std::string& path, int rows) {
    sqlite3* raw = nullptr;
    if (sqlite3_open(path.c_str(), &raw) != SQLITE_OK) {
        Die("cannot create the manifest");
    }
    platform::SqlitePtr db(raw);
    sqlite3_exec(raw,
                 "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, "
                 "flags INTEGER, file BLOB);"
                 "CREATE INDEX FilesDomainIdx ON Files(domain);"
                 "CREATE INDEX FilesRelativePathIdx ON Files(relativePath);"
                 "CREATE INDEX FilesFlagsIdx ON Files(flags);"
                 "CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB);"
                 "PRAGMA journal_mode=WAL; BEGIN;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(raw, "INSERT INTO Files VALUES (?, ?, ?, 1, ?)", -1, &stmt, nullptr);
    platform::SqliteStmtPtr owned(stmt);
    // A typical record; the rows other than the two databases share one (the rewrite never reads
    // theirs), which keeps the set-up short.
    std::string shared;
    auto add = [&](const std::string& domain, const std::string& relativePath) {
        if (!shared.empty() && relativePath.rfind("Library/", 0) != 0) {
            const std::string id = tolvane::HashedName(domain, relativePath);
            sqlite3_bind_text(stmt, 1, id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(stmt, 2, domain.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(stmt, 3, relativePath.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_blob(stmt, 4, shared.data(), static_cast<int>(shared.size()),
                              SQLITE_STATIC);
            if (sqlite3_step(stmt) != SQLITE_DONE) {
                Die("cannot fill the manifest");
            }
            sqlite3_reset(stmt);
            return;
        }
        tolvane::MbFile f;
        f.relativePath = relativePath;
        f.mode = 0100644;
        f.size = 4096;
        f.userId = 501;
        f.groupId = 501;
        f.protectionClass = 4;
        f.lastModified = 1700000000;
        f.birth = 1690000000;
        f.digest = std::string(20, '\x11');
        const std::string blob = tolvane::EncodeMbFile(f);
        if (relativePath.rfind("Library/", 0) != 0) {
            shared = blob;
        }
        const std::string id = tolvane::HashedName(domain, relativePath);
        sqlite3_bind_text(stmt, 1, id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 2, domain.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 3, relativePath.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_blob(stmt, 4, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(stmt) != SQLITE_DONE) {
            Die("cannot fill the manifest");
        }
        sqlite3_reset(stmt);
    };
    add("HomeDomain", "Library/SMS/sms.db");
    add("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb");
    for (int i = 2; i < rows; ++i) {
        if (i % 2 == 0) {
            add("AppDomain-com.example.app" + std::to_string(i % 300),
                "Documents/file" + std::to_string(i));
        } else {
            add("MediaDomain", "Media/DCIM/100APPLE/IMG_" + std::to_string(i) + ".JPG");
        }
    }
    sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    std::string base = argc > 1 ? argv[1] : "";
    if (base.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        base = tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
    }
    const int rows = argc > 2 ? std::atoi(argv[2]) : 200000;
    std::string pattern = base + "/tolvane-bench-manifest-db-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        Die("cannot make a temporary folder");
    }
    const std::string work = pattern + "/work";
    const std::string device = work + "/" + kUdid;
    const std::string source = pattern + "/source";
    std::filesystem::create_directories(device + "/3d");
    std::filesystem::create_directories(device + "/31");
    std::filesystem::create_directories(source);

    auto made = Clock::now();
    MakeManifest(device + "/Manifest.db", rows);
    std::printf("manifest of %d rows made in %.2f s (%.1f MB)\n", rows, Seconds(made),
                static_cast<double>(std::filesystem::file_size(device + "/Manifest.db")) / 1e6);
    // The chosen databases: 8 MB of messages, 2 MB of contacts.
    WriteFile(source + "/sms", std::string("SQLite format 3") + std::string(8 << 20, 'm'));
    WriteFile(source + "/content", std::string("SQLite format 3") + std::string(2 << 20, 'c'));
    WriteFile(device + "/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28", "old");
    WriteFile(device + "/31/31bb7ba8914766d4ba40d6dfb6113c8b614be442", "old");

    std::string problem;
    double cpu = CpuSeconds();
    auto checked = Clock::now();
    if (tolvane::CheckBackupManifestDb(device, tolvane::Sms | tolvane::Contacts, problem) != 0) {
        Die(problem.c_str());
    }
    std::printf("check walk of the manifest before a restore: %.3f s (cpu %.3f s)\n",
                Seconds(checked), CpuSeconds() - cpu);

    cpu = CpuSeconds();
    auto rewrite = Clock::now();
    const int32_t result = tolvane::PrepareCategoryRestore(tolvane::Sms | tolvane::Contacts, kUdid,
                                                           &source, work, &problem);
    const double rewriteSeconds = Seconds(rewrite);
    const double rewriteCpu = CpuSeconds() - cpu;
    if (result != 0) {
        Die(problem.c_str());
    }
    tolvane::ManifestDb db;
    int64_t left = 0;
    if (db.OpenReadOnly(device + "/Manifest.db") != 0 || db.CountRows(left) != 0) {
        Die("the rewritten manifest cannot be read");
    }
    std::printf(
        "category restore preparation (copy 10 MB, rewrite %d-row manifest): %.3f s, cpu %.3f s "
        "(target < 1 s) %s; %lld rows left\n",
        rows, rewriteSeconds, rewriteCpu, rewriteSeconds < 1.0 ? "ok" : "SLOW",
        static_cast<long long>(left));
    std::filesystem::remove_all(pattern);
    return 0;
}
