#include "tests/devsim/HostLoop.h"

#include <arpa/inet.h>

#include <filesystem>
#include <fstream>

#include "bench/common/RawClient.h"

namespace devsimtest {
namespace {

namespace fs = std::filesystem;

bool Unsafe(const std::string& name) {
    if (name.empty() || name[0] == '/') {
        return true;
    }
    for (const auto& part : fs::path(name)) {
        if (part == "..") {
            return true;
        }
    }
    return false;
}

class Loop {
  public:
    Loop(mobilebackup2_client_t c, const HostOptions& o) : c_(c), o_(o) {}

    HostResult Run() {
        while (!r_.ended && !r_.linkFailed) {
            plist_t message = nullptr;
            char* name = nullptr;
            const mobilebackup2_error_t e = mobilebackup2_receive_message(c_, &message, &name);
            // The library gives up after 30 s of silence; a phone waiting for its passcode is
            // silent for longer, and a backup program keeps waiting for it.
            if (e == MOBILEBACKUP2_E_RECEIVE_TIMEOUT && o_.waitThroughSilence &&
                ++r_.timeouts <= 20) {
                free(name);
                plist_free(message);
                continue;
            }
            if (e != MOBILEBACKUP2_E_SUCCESS || name == nullptr) {
                r_.linkFailed = true;
                free(name);
                plist_free(message);
                break;
            }
            Plist owner(message);
            const std::string n = name;
            free(name);
            r_.messages.push_back(n);
            Handle(n, message);
        }
        return r_;
    }

  private:
    std::string Path(const std::string& name) const { return o_.folder + "/" + name; }

    void Progress(plist_t m, uint32_t index) {
        plist_t p = plist_array_get_item(m, index);
        if (p != nullptr && plist_get_node_type(p) == PLIST_REAL) {
            double v = 0;
            plist_get_real_val(p, &v);
            r_.progress.push_back(v);
        }
    }

    void Status(int code, const char* text, plist_t detail) {
        if (mobilebackup2_send_status_response(c_, code, text, detail) != MOBILEBACKUP2_E_SUCCESS) {
            r_.linkFailed = true;
        }
    }

    // A transfer that fails leaves the link failed.
    bool Linked(bool ok) {
        r_.linkFailed = r_.linkFailed || !ok;
        return ok;
    }
    bool Recv(void* data, uint32_t size) {
        return Linked(devsimclient::ReceiveAll(c_, data, size));
    }
    bool Send(const void* data, uint32_t size) {
        return Linked(devsimclient::SendAll(c_, data, size));
    }
    bool RecvLength(uint32_t& v) { return Linked(devsimclient::ReceiveLength(c_, v)); }

    bool RecvString(std::string& s) {
        uint32_t n = 0;
        if (!RecvLength(n) || n > 65536) {
            r_.linkFailed = r_.linkFailed || n > 65536;
            return false;
        }
        s.assign(n, '\0');
        return n == 0 || Recv(s.data(), n);
    }

    void UploadFiles() {
        std::vector<char> buf(1 << 20);
        for (;;) {
            std::string deviceName;
            std::string name;
            if (!RecvString(deviceName) || deviceName.empty() || !RecvString(name)) {
                break;
            }
            const bool unsafe = Unsafe(name);
            if (unsafe) {
                r_.refused.push_back(name);
            }
            std::ofstream out;
            if (!unsafe && !o_.folder.empty()) {
                std::error_code ec;
                fs::create_directories(fs::path(Path(name)).parent_path(), ec);
                out.open(Path(name), std::ios::binary | std::ios::trunc);
            }
            for (;;) {
                uint32_t len = 0;
                uint8_t code = 0;
                if (!RecvLength(len) || len == 0 || !Recv(&code, 1)) {
                    return;
                }
                uint32_t left = len - 1;
                while (left > 0) {
                    const uint32_t n = std::min<uint32_t>(left, static_cast<uint32_t>(buf.size()));
                    if (!Recv(buf.data(), n)) {
                        return;
                    }
                    if (code == 0x0C) {
                        r_.bytesReceived += n;
                        if (out.is_open()) {
                            out.write(buf.data(), n);
                        }
                    }
                    left -= n;
                }
                if (code != 0x0C) {
                    break;
                }
            }
            ++r_.filesReceived;
        }
        if (!r_.linkFailed && !(o_.stopAfterFirstUpload)) {
            Status(0, nullptr, nullptr);
        }
        if (o_.stopAfterFirstUpload) {
            r_.linkFailed = true;  // the computer walks away
        }
    }

    void DownloadFiles(plist_t m) {
        plist_t list = plist_array_get_item(m, 1);
        Plist errors(plist_new_dict());
        bool failed = false;
        for (uint32_t i = 0; list != nullptr && i < plist_array_get_size(list) && !failed; ++i) {
            const std::string name = StringOf(plist_array_get_item(list, i));
            uint32_t len = htonl(static_cast<uint32_t>(name.size()));
            if (!Send(&len, 4) || !Send(name.data(), static_cast<uint32_t>(name.size()))) {
                return;
            }
            std::ifstream in;
            if (!Unsafe(name) && !o_.folder.empty()) {
                in.open(Path(name), std::ios::binary);
            } else if (Unsafe(name)) {
                r_.refused.push_back(name);
            }
            if (!in.is_open()) {
                const std::string text = "No such file or directory";
                len = htonl(static_cast<uint32_t>(text.size() + 1));
                const uint8_t code = 0x06;
                if (!Send(&len, 4) || !Send(&code, 1) ||
                    !Send(text.data(), static_cast<uint32_t>(text.size()))) {
                    return;
                }
                plist_t e = plist_new_dict();
                plist_dict_set_item(e, "DLFileErrorString", plist_new_string(text.c_str()));
                plist_dict_set_item(e, "DLFileErrorCode",
                                    plist_new_uint(static_cast<uint64_t>(-6)));
                plist_dict_set_item(errors.get(), name.c_str(), e);
                failed = true;
                break;
            }
            std::vector<char> buf(32768);
            while (in.read(buf.data(), static_cast<std::streamsize>(buf.size())) ||
                   in.gcount() > 0) {
                const uint32_t n = static_cast<uint32_t>(in.gcount());
                len = htonl(n + 1);
                const uint8_t code = 0x0C;
                if (!Send(&len, 4) || !Send(&code, 1) || !Send(buf.data(), n)) {
                    return;
                }
            }
            len = htonl(1);
            const uint8_t ok = 0x00;
            if (!Send(&len, 4) || !Send(&ok, 1)) {
                return;
            }
            ++r_.filesSent;
        }
        const uint32_t zero = 0;
        if (!Send(&zero, 4)) {
            return;
        }
        if (failed) {
            Status(-13, "Multi status", errors.get());
        } else {
            Plist empty(plist_new_dict());
            Status(0, nullptr, empty.get());
        }
    }

    void Handle(const std::string& n, plist_t m) {
        if (n == "DLMessageDownloadFiles") {
            Progress(m, 3);
            DownloadFiles(m);
        } else if (n == "DLMessageUploadFiles") {
            Progress(m, 2);
            UploadFiles();
        } else if (n == "DLMessageGetFreeDiskSpace") {
            Plist free(plist_new_uint(o_.freeSpace));
            Status(0, nullptr, free.get());
        } else if (n == "DLContentsOfDirectory") {
            Plist listing(plist_new_dict());
            const std::string dir = StringOf(plist_array_get_item(m, 1));
            std::error_code ec;
            if (!Unsafe(dir) && !o_.folder.empty()) {
                for (const auto& e : fs::directory_iterator(Path(dir), ec)) {
                    plist_t d = plist_new_dict();
                    plist_dict_set_item(d, "DLFileType",
                                        plist_new_string(e.is_directory() ? "DLFileTypeDirectory"
                                                                          : "DLFileTypeRegular"));
                    plist_dict_set_item(d, "DLFileSize",
                                        plist_new_uint(e.is_regular_file() ? e.file_size() : 0));
                    plist_dict_set_item(listing.get(), e.path().filename().c_str(), d);
                }
            } else if (Unsafe(dir)) {
                r_.refused.push_back(dir);
            }
            Status(0, nullptr, listing.get());
        } else if (n == "DLMessageCreateDirectory") {
            const std::string dir = StringOf(plist_array_get_item(m, 1));
            std::error_code ec;
            if (Unsafe(dir)) {
                r_.refused.push_back(dir);
            } else if (!o_.folder.empty()) {
                fs::create_directories(Path(dir), ec);
            }
            Status(0, nullptr, nullptr);
        } else if (n == "DLMessageMoveFiles" || n == "DLMessageMoveItems") {
            Progress(m, 3);
            plist_t moves = plist_array_get_item(m, 1);
            int code = 0;
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(moves, &it);
            for (;;) {
                char* key = nullptr;
                plist_t value = nullptr;
                plist_dict_next_item(moves, it, &key, &value);
                if (key == nullptr) {
                    break;
                }
                const std::string from = key;
                const std::string to = StringOf(value);
                free(key);
                if (Unsafe(from) || Unsafe(to)) {
                    r_.refused.push_back(Unsafe(from) ? from : to);
                    code = -1;
                    continue;
                }
                std::error_code ec;
                if (!o_.folder.empty()) {
                    fs::rename(Path(from), Path(to), ec);
                    code = ec ? -6 : code;
                }
            }
            free(it);
            Plist empty(plist_new_dict());
            Status(code, code != 0 ? "Move failed" : nullptr, empty.get());
        } else if (n == "DLMessageRemoveFiles" || n == "DLMessageRemoveItems") {
            Progress(m, 3);
            plist_t list = plist_array_get_item(m, 1);
            int code = 0;
            for (uint32_t i = 0; list != nullptr && i < plist_array_get_size(list); ++i) {
                const std::string p = StringOf(plist_array_get_item(list, i));
                if (Unsafe(p)) {
                    r_.refused.push_back(p);
                    code = -1;
                    continue;
                }
                std::error_code ec;
                // A folder goes with what it holds, as a backup program removes it.
                if (!o_.folder.empty() && fs::is_directory(Path(p), ec) &&
                    !fs::is_empty(Path(p), ec)) {
                    r_.removedFolders.push_back(p);
                    if (fs::remove_all(Path(p), ec) == static_cast<std::uintmax_t>(-1) || ec) {
                        code = -6;
                    }
                } else if (!o_.folder.empty() && !fs::remove(Path(p), ec)) {
                    code = -6;
                }
            }
            Plist empty(plist_new_dict());
            Status(code, code != 0 ? "Remove failed" : nullptr, empty.get());
        } else if (n == "DLMessageCopyItem") {
            const std::string from = StringOf(plist_array_get_item(m, 1));
            const std::string to = StringOf(plist_array_get_item(m, 2));
            std::error_code ec;
            if (Unsafe(from) || Unsafe(to)) {
                r_.refused.push_back(Unsafe(from) ? from : to);
            } else if (!o_.folder.empty()) {
                fs::copy_file(Path(from), Path(to), fs::copy_options::overwrite_existing, ec);
            }
            Plist empty(plist_new_dict());
            Status(0, nullptr, empty.get());
        } else if (n == "DLMessageProcessMessage") {
            plist_t d = plist_array_get_item(m, 1);
            plist_t code = d != nullptr ? plist_dict_get_item(d, "ErrorCode") : nullptr;
            if (code != nullptr) {
                uint64_t v = 0;
                plist_get_uint_val(code, &v);
                r_.errorCode = static_cast<int64_t>(v);
            }
            r_.errorDescription =
                StringOf(d != nullptr ? plist_dict_get_item(d, "ErrorDescription") : nullptr);
            r_.ended = true;
        } else if (n == "DLMessageDisconnect") {
            r_.ended = true;
            r_.disconnected = true;
        }
    }

    mobilebackup2_client_t c_;
    const HostOptions& o_;
    HostResult r_;
};

}  // namespace

HostResult RunHostLoop(mobilebackup2_client_t client, const HostOptions& options) {
    return Loop(client, options).Run();
}

BackupConnection OpenBackupConnection() {
    BackupConnection b;
    b.device = OpenDevice();
    if (!b.device) {
        return b;
    }
    b.lockdown = Handshake(b.device.get());
    if (!b.lockdown) {
        return b;
    }
    Service s = Start(b.lockdown.get(), "com.apple.mobilebackup2", true);
    mobilebackup2_client_t c = nullptr;
    if (!s || mobilebackup2_client_new(b.device.get(), s.get(), &c) != MOBILEBACKUP2_E_SUCCESS) {
        return b;
    }
    b.client.reset(c);
    double versions[] = {2.0, 2.1};
    double remote = 0;
    if (mobilebackup2_version_exchange(c, versions, 2, &remote) != MOBILEBACKUP2_E_SUCCESS) {
        b.client.reset();
    }
    return b;
}

bool SendRequest(mobilebackup2_client_t client, const char* request, const std::string& udid,
                 const std::string& source, plist_t options) {
    return mobilebackup2_send_request(client, request, udid.c_str(),
                                      source.empty() ? udid.c_str() : source.c_str(),
                                      options) == MOBILEBACKUP2_E_SUCCESS;
}

}  // namespace devsimtest
