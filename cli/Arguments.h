// How the commands read their arguments: options that take a value, the category options, and
// the words of the usage errors they share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::cli {

// Steps through a command's arguments; what goes wrong is written to `problem`.
class ArgumentReader {
  public:
    ArgumentReader(const std::vector<std::string>& args, std::string& problem);

    // Steps to the next argument; false once every argument is read.
    bool Next();
    // The argument stepped to.
    const std::string& Current() const;

    // Takes the argument after the current option as its value. False, with "<option> needs a
    // value", when there is none.
    bool Value(std::string& out);
    bool Value(std::optional<std::string>& out);

    // The value of a password option, the safe forms first: without a value (the end of the
    // arguments, or an option next) it is asked on the terminal with the echo off; "-" reads one
    // line of standard input; any other value is taken as it is (visible in the process list,
    // kept for older scripts).
    bool PasswordValue(std::optional<std::string>& out);

    // Sets "unknown argument '<current>'" and returns false.
    bool Unknown();

  private:
    const std::vector<std::string>& args_;
    std::string& problem_;
    size_t current_ = 0;
    size_t next_ = 0;
};

// --full, or --sms and/or --contacts. Without any of them the choice is Full.
class CategoryChoice {
  public:
    // True when `argument` is one of the three options, which is then taken.
    bool Take(const std::string& argument);
    // Sets `categories` to the choice; false, with `problem` set, when --full came with another.
    bool Finish(uint32_t& categories, std::string& problem) const;

  private:
    bool full_ = false;
    uint32_t categories_ = 0;
};

}  // namespace tolvane::cli
