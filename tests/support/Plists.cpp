#include "tests/support/Plists.h"

#include <cstdlib>

namespace testenv {

std::vector<std::string> DictKeys(plist_t dict) {
    std::vector<std::string> keys;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(dict, &it);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, it, &key, &value);
        if (key == nullptr) {
            break;
        }
        keys.emplace_back(key);
        free(key);
    }
    free(it);
    return keys;
}

}  // namespace testenv
