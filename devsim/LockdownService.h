// lockdown on the phone's fixed port: QueryType, GetValue/SetValue/RemoveValue with and without
// domain and key, pairing answers, sessions without TLS, StartService (with and without the
// escrow bag), Goodbye. Requests and answers are XML plists in 4-byte big-endian frames; every
// answer echoes "Request", and a refusal carries "Error".
#pragma once

#include <string>

#include "devsim/PlistUtil.h"

namespace devsim {

class Connection;
class Phone;

class LockdownService {
  public:
    LockdownService(Phone& phone, Connection& connection);
    void Run();

  private:
    PlistPtr Handle(plist_t request, bool& close);
    void GetValue(plist_t request, plist_t reply);
    void StartSession(plist_t request, plist_t reply);
    void StartService(plist_t request, plist_t reply);

    Phone& phone_;
    Connection& connection_;
    std::string sessionId_;
};

}  // namespace devsim
