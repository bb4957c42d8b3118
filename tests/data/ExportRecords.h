// Hand-made export records for the data tests, in the layout of the sibling product's exports.
#pragma once

#include <map>
#include <string>

namespace testdata {

// One `message` row (38 values) ended by CR LF. `textField` is written as given (a quoted text,
// NULL, or anything a test wants to put there); `tail` replaces the last value.
inline std::string SmsRecord(int rowid, const std::string& textField, int handle,
                             const std::string& tail = "0") {
    const std::string id = std::to_string(rowid);
    return id + ",\"guid-" + id + "\"," + textField + ",0,NULL," + std::to_string(handle) +
           ",NULL,\"us\",NULL,10,0,\"SMS\",\"p:+15550000000\",NULL,0,4000000" + id +
           ",0,0,1,1,0,1,0,0,0,0,1,0,1,0,0,0,0,0,0,NULL,0," + tail + "\r\n";
}

// One search table row (docid and 23 columns) ended by CR LF; fields not given are NULL.
inline std::string ContactRecord(int rowid, const std::map<int, std::string>& fields) {
    std::string record = std::to_string(rowid);
    for (int k = 1; k < 24; ++k) {
        const auto it = fields.find(k);
        record += ',';
        record += it != fields.end() ? it->second : "NULL";
    }
    return record + "\r\n";
}

}  // namespace testdata
