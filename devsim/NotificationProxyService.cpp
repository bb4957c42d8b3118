#include "devsim/NotificationProxyService.h"

#include "devsim/Connection.h"
#include "devsim/Phone.h"
#include "devsim/PlistUtil.h"

namespace devsim {

NotificationProxyService::NotificationProxyService(Phone& phone, Connection& connection)
    : phone_(phone), connection_(connection) {}

void NotificationProxyService::Run() {
    for (;;) {
        PlistPtr message = ReceiveFramedPlist(connection_, 1u << 20);
        if (!message) {
            return;
        }
        const std::string command = DictString(message.get(), "Command").value_or("");
        if (command == "PostNotification") {
            if (auto name = DictString(message.get(), "Name")) {
                phone_.Events().Append("notification " + *name);
            }
        } else if (command == "ObserveNotification") {
            if (auto name = DictString(message.get(), "Name")) {
                phone_.Events().Append("observe " + *name);
            }
        } else if (command == "Shutdown") {
            PlistPtr reply(plist_new_dict());
            plist_dict_set_item(reply.get(), "Command", plist_new_string("ProxyDeath"));
            SendFramedPlist(connection_, reply.get(), false);
            return;
        }
    }
}

}  // namespace devsim
