#include "tests/engine/ScriptedLink.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/FileTransfer.h"

namespace enginetest {

std::deque<ScriptedLink::RawChunk>& ScriptedLink::Tail() {
    return events_.empty() ? raw_ : events_.back().raw;
}

void ScriptedLink::Message(plist_t array) {
    events_.push_back(Event{platform::PlistPtr(array), {}});
}

void ScriptedLink::Silence() {
    events_.push_back(Event{nullptr, {}});
}

void ScriptedLink::Raw(const std::string& bytes) {
    Tail().push_back(RawChunk{false, bytes, 0});
}

void ScriptedLink::RawSilence() {
    Tail().push_back(RawChunk{true, {}, 0});
}

void ScriptedLink::Name(const std::string& name) {
    Raw(BigEndian(static_cast<uint32_t>(name.size())) + name);
}

void ScriptedLink::Length(uint32_t length) {
    Raw(BigEndian(length));
}

void ScriptedLink::Block(uint8_t code, const std::string& payload) {
    Raw(BigEndian(static_cast<uint32_t>(payload.size()) + 1) + static_cast<char>(code) + payload);
}

void ScriptedLink::FileData(const std::string& data) {
    for (size_t pos = 0; pos < data.size(); pos += tolvane::kTransferPiece) {
        Block(tolvane::kBlockFileData, data.substr(pos, tolvane::kTransferPiece));
    }
}

size_t ScriptedLink::UnreadRaw() const {
    size_t n = 0;
    for (const RawChunk& c : raw_) {
        n += c.bytes.size() - c.pos;
    }
    return n;
}

int32_t ScriptedLink::ReceiveMessage(platform::PlistPtr& message, std::string& name) {
    message.reset();
    name.clear();
    if (events_.empty()) {
        exhausted_ = true;
        return -5;  // a receive timeout
    }
    Event ev = std::move(events_.front());
    events_.pop_front();
    for (RawChunk& c : ev.raw) {
        raw_.push_back(std::move(c));
    }
    if (ev.message == nullptr) {
        return -5;
    }
    plist_t first = plist_array_get_item(ev.message.get(), 0);
    if (first != nullptr && plist_get_node_type(first) == PLIST_STRING) {
        char* raw = nullptr;
        plist_get_string_val(first, &raw);
        name = raw;
        std::free(raw);
    }
    message = std::move(ev.message);
    return 0;
}

int32_t ScriptedLink::SendStatusResponse(int32_t code, const char* text, plist_t dictionary) {
    replies.push_back(
        StatusReply{code, text != nullptr ? text : "",
                    platform::PlistPtr(dictionary ? plist_copy(dictionary) : nullptr)});
    return 0;
}

int32_t ScriptedLink::SendRaw(const char* data, uint32_t length, uint32_t& done) {
    const size_t room = sendLimit > sent.size() ? sendLimit - sent.size() : 0;
    done = static_cast<uint32_t>(std::min<size_t>(length, room));
    sent.append(data, done);
    return done == length ? 0 : -3;
}

int32_t ScriptedLink::ReceiveRaw(char* data, uint32_t length, uint32_t& done) {
    done = 0;
    while (!raw_.empty() && !raw_.front().silence &&
           raw_.front().pos == raw_.front().bytes.size()) {
        raw_.pop_front();
    }
    if (raw_.empty()) {
        return -3;  // the connection is closed
    }
    size_t available = 0;
    for (const RawChunk& chunk : raw_) {
        if (chunk.silence) {
            break;
        }
        available += chunk.bytes.size() - chunk.pos;
    }
    if (length > available && !(raw_.front().silence)) {
        askedBeyondScript = true;
    }
    RawChunk& c = raw_.front();
    if (c.silence) {
        raw_.pop_front();
        return 0;
    }
    size_t n = std::min<size_t>(length, c.bytes.size() - c.pos);
    if (receivePiece != 0) {
        n = std::min<size_t>(n, receivePiece);
    }
    std::memcpy(data, c.bytes.data() + c.pos, n);
    c.pos += n;
    done = static_cast<uint32_t>(n);
    return 0;
}

bool ScriptedLink::IsDevicePresent() {
    ++presenceChecks;
    return present && !exhausted_;
}

plist_t Array(std::initializer_list<plist_t> items) {
    plist_t a = plist_new_array();
    for (plist_t item : items) {
        plist_array_append_item(a, item);
    }
    return a;
}

plist_t Str(const std::string& s) {
    return plist_new_string(s.c_str());
}

plist_t Real(double x) {
    return plist_new_real(x);
}

plist_t Dict(std::initializer_list<std::pair<const char*, plist_t>> items) {
    plist_t d = plist_new_dict();
    for (const auto& [key, value] : items) {
        plist_dict_set_item(d, key, value);
    }
    return d;
}

plist_t StrArray(std::initializer_list<std::string> items) {
    plist_t a = plist_new_array();
    for (const std::string& s : items) {
        plist_array_append_item(a, plist_new_string(s.c_str()));
    }
    return a;
}

std::string BigEndian(uint32_t v) {
    std::string s(4, '\0');
    s[0] = static_cast<char>(v >> 24);
    s[1] = static_cast<char>(v >> 16);
    s[2] = static_cast<char>(v >> 8);
    s[3] = static_cast<char>(v);
    return s;
}

int64_t SignedInt(plist_t dict, const char* key) {
    plist_t node = dict != nullptr ? plist_dict_get_item(dict, key) : nullptr;
    uint64_t v = 0;
    if (node != nullptr) {
        plist_get_uint_val(node, &v);
    }
    return static_cast<int64_t>(v);
}

std::string StringOf(plist_t dict, const char* key) {
    plist_t node = dict != nullptr ? plist_dict_get_item(dict, key) : nullptr;
    return platform::PlistString(node);
}

}  // namespace enginetest
