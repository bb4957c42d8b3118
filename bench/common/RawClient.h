// A bare mobilebackup2 client on the libimobiledevice API, without the engine: it measures what
// the simulated phone itself can carry. It keeps nothing it receives, serves the files it is asked
// for straight from a backup folder and checks nothing beyond the framing of the transfers.
#pragma once

#include <libimobiledevice/mobilebackup2.h>
#include <plist/plist.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace devsimclient {

// The raw bytes of a device-link file transfer: all of `size`, or false when the link fails.
bool ReceiveAll(mobilebackup2_client_t client, void* data, uint32_t size);
bool SendAll(mobilebackup2_client_t client, const void* data, uint32_t size);
// A length as it is framed on the link: 32 bits, big-endian.
bool ReceiveLength(mobilebackup2_client_t client, uint32_t& value);
bool SendLength(mobilebackup2_client_t client, uint32_t value);

// What one backup or restore carried: file contents in bytes, files, and the time it took.
struct Transfer {
    bool ok = false;
    uint64_t bytes = 0;
    uint64_t files = 0;
    double seconds = 0;
    double MBps() const { return static_cast<double>(bytes) / 1e6 / seconds; }
    double FilesPerSecond() const { return static_cast<double>(files) / seconds; }
};

// Opens a mobilebackup2 connection to the phone (handshake, then Hello with 2.0 and 2.1), runs
// `body` on it with the phone's UDID, and closes it. False when it could not be opened.
bool WithBackupClient(const std::function<void(mobilebackup2_client_t, const std::string&)>& body);

class RawClient {
  public:
    explicit RawClient(mobilebackup2_client_t c);

    // The phone's backup, read off the connection and dropped.
    Transfer Backup(const std::string& udid);

    // A whole restore of folder/source, every requested file read from disk and sent.
    Transfer Restore(const std::string& udid, const std::string& folder, const std::string& source);

  private:
    bool Converse(const std::function<bool(const std::string&, plist_t)>& handle);
    void EmptyReply();
    bool Download(const std::string& folder, plist_t names, Transfer& t);
    bool Skip(uint32_t n);
    bool Upload(Transfer& t);

    mobilebackup2_client_t c_;
    std::vector<char> buf_;
};

}  // namespace devsimclient
