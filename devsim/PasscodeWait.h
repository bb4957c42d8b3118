// The passcode a phone of iOS 16.1 or later asks for after a Backup request: until the user
// enters it the phone sends nothing; when it is not entered within the phone's limit the phone
// answers ErrorCode 208 "Device locked". The faults that play it (`serve --fault`):
//
//   passcode-after=S   the user enters the passcode S seconds after the request
//   passcode-never     the user never enters it
//   passcode-limit=S   how long the phone waits before it answers 208 (default 180)
//
// Without passcode-after or passcode-never the passcode is entered at once. Phones of older
// versions never ask.
#pragma once

#include <string>

#include "devsim/Faults.h"

namespace devsim {

class Connection;
class Phone;

inline constexpr uint64_t kPhoneDeviceLocked = 208;

// True when `flag` is one of the flags above; `ok` then says whether its value is good (with
// `error` set when not).
bool ParsePasscodeFault(const std::string& flag, Faults& faults, std::string& error, bool& ok);

enum class PasscodeOutcome {
    Entered,  // go on with the backup
    Locked,   // not entered in time: answer 208
    Gone,     // the computer went away or the phone was unplugged or stopped meanwhile
};

// Waits as the phone's faults and version say, noting "passcode asked", "passcode entered" or
// "passcode timeout" in the event log.
PasscodeOutcome WaitForPasscode(Phone& phone, Connection& connection);

}  // namespace devsim
