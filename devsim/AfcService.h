// AFC on the phone's media area (DIR/media): file information, directory listing, device
// information, open (every mode), read, write, seek, tell, close, lock (flock semantics through
// AfcLocks), make folder and remove. Paths travel in the header data of a packet; answers are
// STATUS, DATA, FILE_OPEN_RES or FILE_TELL_RES packets that echo the request's packet number.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace devsim {

class Connection;
class Phone;

// The path inside the media area for an AFC path: "/" + its parts, with "." dropped and ".."
// stopping at the top (AFC never leaves its area). Public for tests.
std::string NormalizeAfcPath(const std::string& path);

class AfcService {
  public:
    AfcService(Phone& phone, Connection& connection);
    ~AfcService();
    void Run();

  private:
    struct OpenFile {
        int fd = -1;
        std::string path;  // normalised
        uint64_t owner = 0;
        bool locked = false;
    };
    bool Reply(uint64_t packet, uint64_t operation, const std::string& payload);
    bool Status(uint64_t packet, uint64_t code);
    bool Dispatch(uint64_t packet, uint64_t operation, const std::string& data,
                  const std::string& payload);
    std::string LocalPath(const std::string& normalised) const;
    void CloseFile(uint64_t handle);

    Phone& phone_;
    Connection& connection_;
    std::map<uint64_t, OpenFile> files_;
    uint64_t nextHandle_ = 1;
};

}  // namespace devsim
