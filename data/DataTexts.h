// The texts that the data operations leave in the engine's last error text, exactly as the
// windows show them.
#pragma once

namespace tolvane {

inline constexpr char kImportFileTooLargeText[] = "Invalid file format,Import file failed.";
inline constexpr char kInvalidSmsFileText[] =
    "Invalid SMS file format.Only supports Quorvex exported sms.csv file and iPhone SMS sqlite "
    "file.";
inline constexpr char kInvalidContactsFileText[] =
    "Invalid contacts file format.Only supports Quorvex exported contacts.csv file and iPhone "
    "AddressBook sqlite file.";
// A sound contacts database without a single person, offered to replace the phone's contacts.
inline constexpr char kEmptyContactsDatabaseText[] =
    "The contacts file holds no contacts.Importing it would delete every contact on the "
    "iPhone, so it is not imported.";
// The listings use the same sentences without the closing full stop.
inline constexpr char kListSmsFailedText[] =
    "Invalid SMS file format.Only supports Quorvex exported sms.csv file and iPhone SMS sqlite "
    "file";
inline constexpr char kListContactsFailedText[] =
    "Invalid contacts file format.Only supports Quorvex exported contacts.csv file and iPhone "
    "AddressBook sqlite file";

// An encrypted backup of the other program listed without its password.
inline constexpr char kListEncryptedBackupText[] =
    "This backup is encrypted.Enter its backup password to read its messages and contacts";

}  // namespace tolvane
