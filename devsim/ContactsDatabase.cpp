#include "devsim/ContactsDatabase.h"

#include <cctype>

#include "devsim/PhoneDatabase.h"
#include "devsim/SampleData.h"
#include "devsim/Schemas.h"

namespace devsim {
namespace {

// Property numbers of ABMultiValue.
constexpr int kPhoneProperty = 3;
constexpr int kEmailProperty = 4;
constexpr int kAddressProperty = 5;

const std::vector<std::string> kLabels = {"_$!<Mobile>!$_", "_$!<Home>!$_", "_$!<Work>!$_",
                                          "iPhone",         "_$!<Main>!$_", "_$!<Other>!$_"};
const std::vector<std::string> kEntryKeys = {"Street", "City",    "State",
                                             "ZIP",    "Country", "CountryCode"};

int LabelId(const std::string& label) {
    for (size_t i = 0; i < kLabels.size(); ++i) {
        if (kLabels[i] == label) {
            return static_cast<int>(i) + 1;
        }
    }
    return 1;
}

std::string SortKey(const std::string& a, const std::string& b) {
    std::string key = a + " " + b;
    for (char& c : key) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return key;
}

std::string Section(const std::string& name) {
    if (name.empty()) {
        return "#";
    }
    const unsigned char c = static_cast<unsigned char>(name[0]);
    return c < 0x80 ? std::string(1, static_cast<char>(std::toupper(c))) : "#";
}

std::string LastFour(const std::string& number) {
    std::string digits;
    for (char c : number) {
        if (c >= '0' && c <= '9') {
            digits += c;
        }
    }
    return digits.size() <= 4 ? digits : digits.substr(digits.size() - 4);
}

}  // namespace

bool WriteContactsDatabase(const std::string& path, const std::vector<GeneratedPerson>& people,
                           Random& random, std::string& error) {
    platform::SqlitePtr db = CreateDatabase(path, kContactsSchema, error);
    if (!db) {
        return false;
    }
    sqlite3* d = db.get();
    if (!Exec(d, "BEGIN", error)) {
        return false;
    }
    Exec(d,
         "INSERT INTO _SqliteDatabaseProperties VALUES('__ABDataVersion','1404');"
         "INSERT INTO _SqliteDatabaseProperties VALUES('__ABLanguage','en');"
         "INSERT INTO ABStore(Name,Type,Enabled,StoreInternalIdentifier) "
         "VALUES(NULL,0,1,'LocalStore');"
         "INSERT INTO ABAccount(ROWID,AccountIdentifier,Flags,DefaultSourceID) VALUES(1,NULL,0,1);",
         error);
    {
        Insert label(d, "INSERT INTO ABMultiValueLabel(value) VALUES(?)");
        for (const std::string& l : kLabels) {
            if (!label.Text(l).Run(error)) {
                return false;
            }
        }
        Insert key(d, "INSERT INTO ABMultiValueEntryKey(value) VALUES(?)");
        for (const std::string& k : kEntryKeys) {
            if (!key.Text(k).Run(error)) {
                return false;
            }
        }
    }

    Insert person(d,
                  "INSERT INTO ABPerson(First,Last,Organization,Note,Kind,JobTitle,Nickname,"
                  "FirstSort,LastSort,CreationDate,ModificationDate,StoreID,FirstSortSection,"
                  "LastSortSection,FirstSortLanguageIndex,LastSortLanguageIndex,guid) "
                  "VALUES(?,?,?,?,0,?,?,?,?,?,?,0,?,?,0,0,?)");
    Insert value(d,
                 "INSERT INTO ABMultiValue(record_id,property,identifier,label,value,guid) "
                 "VALUES(?,?,?,?,?,?)");
    Insert entry(d, "INSERT INTO ABMultiValueEntry(parent_id,key,value) VALUES(?,?,?)");
    Insert lastFour(d, "INSERT INTO ABPhoneLastFour(multivalue_id,value) VALUES(?,?)");
    Insert search(d,
                  "INSERT INTO ABPersonFullTextSearch_content(docid,c0First,c1Last,"
                  "c6Organization,c8Note,c15Phone,c16Email,c17Address) VALUES(?,?,?,?,?,?,?,?)");
    auto orNull = [](Insert& ins, const std::string& s) -> Insert& {
        return s.empty() ? ins.Null() : ins.Text(s);
    };

    std::vector<int64_t> ids;
    for (const GeneratedPerson& p : people) {
        orNull(person, p.first);
        orNull(person, p.last);
        orNull(person, p.organization);
        orNull(person, p.note);
        orNull(person, p.jobTitle);
        orNull(person, p.nickname);
        person.Text(SortKey(p.first, p.last)).Text(SortKey(p.last, p.first));
        person.Int(p.created).Int(p.created + random.Between(0, 86400 * 30));
        person.Text(Section(p.first)).Text(Section(p.last)).Text(random.Uuid());
        if (!person.Run(error)) {
            return false;
        }
        const int64_t id = person.LastRowId();
        ids.push_back(id);

        std::string phoneText, emailText, addressText;
        int identifier = 0;
        for (const GeneratedPhone& phone : p.phones) {
            value.Int(id).Int(kPhoneProperty).Int(identifier++).Int(LabelId(phone.label));
            if (!value.Text(phone.number).Text(random.Uuid()).Run(error) ||
                !lastFour.Int(value.LastRowId()).Text(LastFour(phone.number)).Run(error)) {
                return false;
            }
            phoneText += phone.number + " " + phone.e164 + " ";
        }
        identifier = 0;
        for (const std::string& email : p.emails) {
            value.Int(id).Int(kEmailProperty).Int(identifier++).Int(LabelId("_$!<Home>!$_"));
            if (!value.Text(email).Text(random.Uuid()).Run(error)) {
                return false;
            }
            emailText += email + " ";
        }
        if (p.place >= 0) {
            const sample::Place& place = sample::Places()[static_cast<size_t>(p.place)];
            value.Int(id).Int(kAddressProperty).Int(0).Int(LabelId("_$!<Home>!$_"));
            if (!value.Null().Text(random.Uuid()).Run(error)) {
                return false;
            }
            const int64_t parent = value.LastRowId();
            const std::string parts[] = {place.street, place.city,    place.state,
                                         place.zip,    place.country, place.countryCode};
            for (size_t k = 0; k < 6; ++k) {
                if (parts[k].empty()) {
                    continue;
                }
                if (!entry.Int(parent).Int(static_cast<int64_t>(k) + 1).Text(parts[k]).Run(error)) {
                    return false;
                }
                addressText += parts[k] + " ";
            }
        }
        search.Int(id);
        orNull(search, p.first);
        orNull(search, p.last);
        orNull(search, p.organization);
        orNull(search, p.note);
        orNull(search, phoneText);
        orNull(search, emailText);
        orNull(search, addressText);
        if (!search.Run(error)) {
            return false;
        }
    }

    if (ids.size() >= 3) {
        Insert group(d, "INSERT INTO ABGroup(Name,StoreID) VALUES(?,0)");
        if (!group.Text("Family").Run(error)) {
            return false;
        }
        const int64_t groupId = group.LastRowId();
        Insert member(d,
                      "INSERT INTO ABGroupMembers(group_id,member_type,member_id) VALUES(?,0,?)");
        for (size_t i = 0; i < 3; ++i) {
            if (!member.Int(groupId).Int(ids[i]).Run(error)) {
                return false;
            }
        }
    }
    return Exec(d, "COMMIT", error);
}

}  // namespace devsim
