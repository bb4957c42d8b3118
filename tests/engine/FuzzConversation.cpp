// Fuzzes the device-link conversation with a phone that sends whatever the input says: messages of
// every kind with arbitrary paths, and arbitrary raw transfer bytes. Besides crashes it checks the
// one promise the engine makes about hostile phones: nothing outside the backup folder changes.
//
// Input: a sequence of records. Each record is an opcode byte, then for each string a length byte
// and that many bytes, then (for uploads) a two-byte length and that many raw bytes.
#include <dirent.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

#include "engine/DeviceLink.h"
#include "engine/DeviceSession.h"
#include "engine/MessageLoop.h"
#include "engine/RunContext.h"
#include "platform/Files.h"

namespace {

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::string Bytes(size_t n) {
        n = std::min(n, size_ - std::min(pos_, size_));
        std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return s;
    }
    std::string Str() {
        std::string s = Bytes(Byte());
        // Property-list strings end at a NUL byte.
        return s.substr(0, s.find('\0'));
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

class FuzzLink : public tolvane::DeviceLink {
  public:
    struct Event {
        plist_t message;
        std::string raw;
    };
    std::deque<Event> events;
    std::string raw;
    size_t rawPos = 0;

    ~FuzzLink() override {
        for (Event& e : events) {
            plist_free(e.message);
        }
    }
    int32_t ReceiveMessage(platform::PlistPtr& message, std::string& name) override {
        if (events.empty()) {
            return -5;
        }
        Event e = events.front();
        events.pop_front();
        raw += e.raw;
        message.reset(e.message);
        name = platform::PlistString(plist_array_get_item(e.message, 0));
        return 0;
    }
    int32_t SendStatusResponse(int32_t, const char*, plist_t) override { return 0; }
    int32_t SendRaw(const char*, uint32_t length, uint32_t& done) override {
        done = length;
        return 0;
    }
    int32_t ReceiveRaw(char* data, uint32_t length, uint32_t& done) override {
        done = static_cast<uint32_t>(std::min<size_t>(length, raw.size() - rawPos));
        std::memcpy(data, raw.data() + rawPos, done);
        rawPos += done;
        return done > 0 ? 0 : -3;
    }
    bool IsDevicePresent() override { return !events.empty(); }
};

plist_t Strs(Input& in, int count) {
    plist_t a = plist_new_array();
    for (int i = 0; i < count; ++i) {
        plist_array_append_item(a, plist_new_string(in.Str().c_str()));
    }
    return a;
}

plist_t Message(const char* name, std::initializer_list<plist_t> items) {
    plist_t a = plist_new_array();
    plist_array_append_item(a, plist_new_string(name));
    for (plist_t item : items) {
        plist_array_append_item(a, item);
    }
    return a;
}

void Build(Input& in, FuzzLink& link) {
    while (!in.Empty() && link.events.size() < 64) {
        const uint8_t op = in.Byte();
        const double progress = in.Byte();
        plist_t m = nullptr;
        std::string raw;
        switch (op % 10) {
            case 0:
                m = Message("DLMessageDownloadFiles",
                            {Strs(in, op / 10 % 4), plist_new_dict(), plist_new_real(progress)});
                break;
            case 1: {
                m = Message("DLMessageUploadFiles",
                            {plist_new_dict(), plist_new_real(progress), plist_new_dict()});
                const size_t n = in.Byte() * 256u + in.Byte();
                raw = in.Bytes(n);
                break;
            }
            case 2:
                m = Message("DLContentsOfDirectory", {plist_new_string(in.Str().c_str())});
                break;
            case 3:
                m = Message("DLMessageCreateDirectory", {plist_new_string(in.Str().c_str())});
                break;
            case 4: {
                plist_t pairs = plist_new_dict();
                for (int i = 0; i < op / 10 % 4; ++i) {
                    const std::string from = in.Str();
                    plist_dict_set_item(pairs, from.c_str(), plist_new_string(in.Str().c_str()));
                }
                m = Message(op & 0x80 ? "DLMessageMoveItems" : "DLMessageMoveFiles",
                            {pairs, plist_new_dict(), plist_new_real(progress)});
                break;
            }
            case 5:
                m = Message(op & 0x80 ? "DLMessageRemoveItems" : "DLMessageRemoveFiles",
                            {Strs(in, op / 10 % 4), plist_new_dict(), plist_new_real(progress)});
                break;
            case 6: {
                const std::string from = in.Str();
                m = Message("DLMessageCopyItem",
                            {plist_new_string(from.c_str()), plist_new_string(in.Str().c_str()),
                             plist_new_dict()});
                break;
            }
            case 7:
                m = Message("DLMessageGetFreeDiskSpace", {plist_new_string("")});
                break;
            case 8:
                m = Message("DLMessageSomethingElse", {plist_new_real(progress)});
                break;
            default: {
                plist_t d = plist_new_dict();
                plist_dict_set_item(d, "ErrorCode", plist_new_uint(in.Byte()));
                m = Message("DLMessageProcessMessage", {d});
                break;
            }
        }
        link.events.push_back({m, raw});
    }
}

std::string gRoot;  // holds "sentinel" and "backup"; nothing else may ever appear in it
std::string gBackup;

void RemoveInside(const std::string& folder) {
    std::vector<platform::DirEntry> entries;
    platform::ListFolder(folder, entries);
    for (const auto& e : entries) {
        const std::string path = folder + "/" + e.name;
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            RemoveInside(path);
            rmdir(path.c_str());
        } else {
            unlink(path.c_str());
        }
    }
}

void CheckOutsideUntouched() {
    std::vector<platform::DirEntry> entries;
    platform::ListFolder(gRoot, entries);
    std::string contents;
    platform::ReadWholeFile(gRoot + "/sentinel", contents);
    if (entries.size() != 2 || contents != "sentinel") {
        std::fprintf(stderr, "something outside the backup folder changed\n");
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (gRoot.empty()) {
        // The engine's diagnostics go to standard output; libFuzzer reports on standard error.
        std::freopen("/dev/null", "w", stdout);
        // A memory file system when there is one: the folders and files the phone makes then
        // cost the engine's own work, not the disk's inode allocator.
        struct stat shm {};
        std::string pattern =
            stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) && access("/dev/shm", W_OK) == 0
                ? "/dev/shm/fuzz-conversation-XXXXXX"
                : "/tmp/fuzz-conversation-XXXXXX";
        gRoot = mkdtemp(pattern.data());
        gBackup = gRoot + "/backup";
        platform::CreateFolder(gBackup);
        platform::WriteWholeFileAtomic(gRoot + "/sentinel", "sentinel");
        std::atexit([] {
            RemoveInside(gRoot);
            rmdir(gRoot.c_str());
        });
    }
    Input in(data, size);
    FuzzLink link;
    Build(in, link);
    tolvane::DeviceSession session;
    tolvane::RunContext run;
    tolvane::RunMessageLoop(gBackup.c_str(), session, run, link, tolvane::LoopTiming{0, 1});
    CheckOutsideUntouched();
    RemoveInside(gBackup);
    return 0;
}
