// The phone's event log, DIR/events.log: one line per event, appended as it happens, so that a
// test can see what the phone was asked to do. Every line begins with a word that names the event;
// devsim/README.md lists them.
#pragma once

#include <mutex>
#include <string>

namespace devsim {

class EventLog {
  public:
    explicit EventLog(std::string path);
    // Appends `line` and a line feed. Line feeds inside `line` become spaces, so one event is
    // always one line.
    void Append(const std::string& line);
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    std::mutex mutex_;
};

}  // namespace devsim
