// An in-memory phone for the conversation and transfer tests: it hands out the messages and raw
// bytes it was given, in order, and records everything the engine sends back.
#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "engine/DeviceLink.h"
#include "platform/Handles.h"

namespace enginetest {

struct StatusReply {
    int32_t code = 0;
    std::string text;               // "" when none was sent
    platform::PlistPtr dictionary;  // null when none was sent
};

class ScriptedLink : public tolvane::DeviceLink {
  public:
    // A message [name, items...] the phone sends next. Raw bytes queued with Raw() after it are
    // what the phone sends after that message.
    void Message(plist_t array);
    // A message receive that brings nothing (the phone is silent for one wait).
    void Silence();
    // Raw bytes the phone sends.
    void Raw(const std::string& bytes);
    // A raw receive that brings nothing (a silent wait in the middle of a transfer).
    void RawSilence();
    void Name(const std::string& name);                    // [length][bytes]
    void Length(uint32_t length);                          // [length]
    void Block(uint8_t code, const std::string& payload);  // [length][code][payload]
    void FileData(const std::string& data);                // data blocks of at most 32768 bytes
    void EndOfList() { Length(0); }

    // The phone's answer to the presence question, for every question from now on.
    bool present = true;
    int presenceChecks = 0;
    // At most this many bytes per raw receive (0: no limit).
    uint32_t receivePiece = 0;
    // Raw sends fail once this many bytes went out (SIZE_MAX: never).
    size_t sendLimit = SIZE_MAX;

    // Set when a raw receive asked for more bytes than the phone sends before it waits: the
    // library's receive would then wait for bytes that never come.
    bool askedBeyondScript = false;

    std::string sent;                  // every raw byte the engine sent
    std::vector<StatusReply> replies;  // every status response
    size_t UnreadRaw() const;
    // Once the script is used up the phone counts as gone (a test never waits for ever).
    bool Exhausted() const { return exhausted_; }

    int32_t ReceiveMessage(platform::PlistPtr& message, std::string& name) override;
    int32_t SendStatusResponse(int32_t code, const char* text, plist_t dictionary) override;
    int32_t SendRaw(const char* data, uint32_t length, uint32_t& done) override;
    int32_t ReceiveRaw(char* data, uint32_t length, uint32_t& done) override;
    bool IsDevicePresent() override;

  private:
    struct RawChunk {
        bool silence = false;
        std::string bytes;
        size_t pos = 0;
    };
    struct Event {
        platform::PlistPtr message;  // null: silence
        std::deque<RawChunk> raw;    // readable once the message is taken
    };
    std::deque<RawChunk>& Tail();

    std::deque<Event> events_;
    std::deque<RawChunk> raw_;  // readable now
    bool exhausted_ = false;
};

// Builders for messages.
plist_t Array(std::initializer_list<plist_t> items);
plist_t Str(const std::string& s);
plist_t Real(double x);
plist_t Dict(std::initializer_list<std::pair<const char*, plist_t>> items);
plist_t StrArray(std::initializer_list<std::string> items);

std::string BigEndian(uint32_t v);

// The integer of a dictionary entry read back signed (libplist keeps integers as 64-bit words).
int64_t SignedInt(plist_t dict, const char* key);
std::string StringOf(plist_t dict, const char* key);

}  // namespace enginetest
