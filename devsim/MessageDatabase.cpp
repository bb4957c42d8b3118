#include "devsim/MessageDatabase.h"

#include <algorithm>

#include "devsim/PhoneDatabase.h"
#include "devsim/SampleData.h"
#include "devsim/Schemas.h"

namespace devsim {
namespace {

constexpr int kSingleChatStyle = 45;
constexpr int kGroupChatStyle = 43;
// The object replacement character that stands for an attachment in a message's text.
constexpr char kAttachmentMark[] = "\xEF\xBF\xBC";

struct Handle {
    int64_t rowid = 0;
    std::string id;       // +491512345678 or someone@example.com
    std::string service;  // SMS or iMessage
    std::string uncanonical;
};

struct Chat {
    int64_t rowid = 0;
    std::vector<size_t> handles;  // indexes into the handle list
    std::string service;
};

}  // namespace

std::string FakeJpeg(Random& random, size_t size) {
    static const char kHead[] =
        "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x48\x00\x48\x00\x00";
    std::string out(kHead, sizeof kHead - 1);
    if (size > out.size() + 2) {
        out += random.Bytes(size - out.size() - 2);
    }
    out += "\xFF\xD9";
    return out;
}

bool WriteMessageDatabase(const std::string& path, int messages,
                          const std::vector<GeneratedPerson>& people, Random& random,
                          std::vector<GeneratedAttachment>& attachments, std::string& error) {
    platform::SqlitePtr db = CreateDatabase(path, kSmsSchema, error);
    if (!db) {
        return false;
    }
    sqlite3* d = db.get();
    if (!Exec(d, "BEGIN", error) ||
        !Exec(d,
              "INSERT INTO _SqliteDatabaseProperties VALUES('_ClientVersion','9006');"
              "INSERT INTO _SqliteDatabaseProperties VALUES('counter_in_all','0');"
              "INSERT INTO _SqliteDatabaseProperties VALUES('counter_out_all','0');",
              error)) {
        return false;
    }

    // Correspondents: people of the address book first (by phone or e-mail), then strangers.
    std::vector<Handle> handles;
    const int handleCount = messages == 0 ? 0 : std::clamp(messages / 4, 1, 24);
    for (int k = 0; k < handleCount; ++k) {
        Handle h;
        const GeneratedPerson* p =
            static_cast<size_t>(k) < people.size() ? &people[static_cast<size_t>(k)] : nullptr;
        if (p != nullptr && !p->emails.empty() && random.Chance(30)) {
            h.id = p->emails.front();
            h.service = "iMessage";
        } else if (p != nullptr && !p->phones.empty()) {
            h.id = p->phones.front().e164;
            h.uncanonical = p->phones.front().number;
            h.service = random.Chance(50) ? "iMessage" : "SMS";
        } else {
            h.id = "+1555" + random.Digits(7);
            h.uncanonical = "(555) " + h.id.substr(5, 3) + "-" + h.id.substr(8);
            h.service = "SMS";
        }
        // (id, service) is unique in the table.
        const bool duplicate = std::any_of(handles.begin(), handles.end(), [&](const Handle& o) {
            return o.id == h.id && o.service == h.service;
        });
        if (duplicate) {
            h.id = "+1555" + random.Digits(7);
            h.uncanonical.clear();
        }
        handles.push_back(h);
    }

    Insert handle(d, "INSERT INTO handle(id,country,service,uncanonicalized_id) VALUES(?,?,?,?)");
    for (Handle& h : handles) {
        handle.Text(h.id).Text("us").Text(h.service);
        (h.uncanonical.empty() ? handle.Null() : handle.Text(h.uncanonical));
        if (!handle.Run(error)) {
            return false;
        }
        h.rowid = handle.LastRowId();
    }

    Insert chat(d,
                "INSERT INTO chat(guid,style,state,account_id,chat_identifier,service_name,"
                "room_name,account_login,is_archived,last_addressed_handle,display_name) "
                "VALUES(?,?,3,?,?,?,?,?,0,?,?)");
    Insert chatHandle(d, "INSERT INTO chat_handle_join(chat_id,handle_id) VALUES(?,?)");
    std::vector<Chat> chats;
    const std::string accountId = random.Uuid();
    for (size_t k = 0; k < handles.size(); ++k) {
        const Handle& h = handles[k];
        chat.Text(h.service + ";-;" + h.id).Int(kSingleChatStyle).Text(accountId).Text(h.id);
        chat.Text(h.service).Null().Text(h.service == "SMS" ? "P:+15550100" : "E:me@example.com");
        chat.Text(h.id).Null();
        if (!chat.Run(error) || !chatHandle.Int(chat.LastRowId()).Int(h.rowid).Run(error)) {
            return false;
        }
        chats.push_back(Chat{chat.LastRowId(), {k}, h.service});
    }
    if (handles.size() >= 3) {
        const std::string room = "chat" + random.Digits(18);
        chat.Text("iMessage;+;" + room).Int(kGroupChatStyle).Text(accountId).Text(room);
        chat.Text("iMessage").Text(room).Text("E:me@example.com").Text(handles[0].id);
        chat.Text(random.Pick(sample::GroupChatNames()));
        if (!chat.Run(error)) {
            return false;
        }
        Chat group{chat.LastRowId(), {0, 1, 2}, "iMessage"};
        for (size_t k : group.handles) {
            if (!chatHandle.Int(group.rowid).Int(handles[k].rowid).Run(error)) {
                return false;
            }
        }
        chats.push_back(group);
    }

    Insert message(d,
                   "INSERT INTO message(guid,text,handle_id,service,account,account_guid,date,"
                   "date_read,date_delivered,is_delivered,is_finished,is_from_me,is_read,is_sent,"
                   "version,type,cache_roomnames) VALUES(?,?,?,?,?,?,?,?,?,?,1,?,?,?,10,0,?)");
    Insert chatMessage(d, "INSERT INTO chat_message_join(chat_id,message_id) VALUES(?,?)");
    Insert attachment(d,
                      "INSERT INTO attachment(guid,created_date,start_date,filename,uti,mime_type,"
                      "transfer_state,is_outgoing,transfer_name,total_bytes) "
                      "VALUES(?,?,?,?,'public.jpeg','image/jpeg',5,?,?,?)");
    Insert messageAttachment(
        d, "INSERT INTO message_attachment_join(message_id,attachment_id) VALUES(?,?)");

    // Two months of conversation, starting 2014-03-01, in the phone's seconds since 2001.
    int64_t date = 1393632000 - kAppleEpochOffset;
    for (int i = 0; i < messages; ++i) {
        const Chat& c = chats[random.Below(chats.size())];
        const Handle& h = handles[c.handles[random.Below(c.handles.size())]];
        const bool fromMe = random.Chance(45);
        const bool withPicture = i % 10 == 7;
        date += random.Between(60, 86400 * 2);
        // As on a real phone, some rows (messages synced or restored late) are older than rows
        // with lower ROWIDs: every eleventh message is dated five days back.
        const int64_t stamp = i % 11 == 5 ? date - 5 * 86400 : date;
        std::string text =
            withPicture ? std::string(kAttachmentMark) : random.Pick(sample::MessageTexts());
        message.Text(random.Uuid()).Text(text).Int(h.rowid).Text(c.service);
        message.Text(c.service == "SMS" ? "P:+15550100" : "E:me@example.com").Text(accountId);
        message.Int(stamp).Int(fromMe ? 0 : stamp + random.Between(5, 3600));
        message.Int(fromMe ? stamp + random.Between(1, 30) : 0).Int(fromMe ? 1 : 0);
        message.Int(fromMe ? 1 : 0).Int(fromMe ? 0 : 1).Int(fromMe ? 1 : 0);
        (c.handles.size() > 1 ? message.Text("chat") : message.Null());
        if (!message.Run(error)) {
            return false;
        }
        const int64_t messageId = message.LastRowId();
        if (!chatMessage.Int(c.rowid).Int(messageId).Run(error)) {
            return false;
        }
        if (withPicture) {
            const std::string guid = random.Uuid();
            const std::string dir = random.Hex(2) + "/" + std::to_string(random.Between(10, 15));
            const std::string name = "IMG_" + std::to_string(1000 + i) + ".JPG";
            GeneratedAttachment file{
                "Library/SMS/Attachments/" + dir + "/" + guid + "/" + name,
                FakeJpeg(random, static_cast<size_t>(random.Between(8 * 1024, 48 * 1024)))};
            attachment.Text(guid).Int(stamp).Int(stamp);
            attachment.Text("~/" + file.mediaPath).Int(fromMe ? 1 : 0).Text(name);
            attachment.Int(static_cast<int64_t>(file.contents.size()));
            if (!attachment.Run(error) ||
                !messageAttachment.Int(messageId).Int(attachment.LastRowId()).Run(error)) {
                return false;
            }
            attachments.push_back(std::move(file));
        }
    }
    return Exec(d, "COMMIT", error);
}

}  // namespace devsim
