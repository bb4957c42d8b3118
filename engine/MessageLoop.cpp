// The device-link message loop.
//
// States: receiving -> handling -> progress -> receiving, until one of the ends:
//   outcome     DLMessageProcessMessage (result from its ErrorCode) or DLMessageDisconnect;
//   stopped     the progress callback returned non-zero (its value is the result);
//   gone        AbortFlag > 0: the phone stopped answering (result -1);
//   broken      the transfer framing could not be followed (result kResultBrokenTransfer).
// Invariants: exactly one reply goes out for every message that asks for one; every path the
// phone names is checked by JoinDevicePath before it is touched; whatever the end, the sync lock
// is released once before the loop returns. A failure that the phone does not see in its own
// outcome (a file that could not be stored, a reply that could not be sent) is kept and becomes
// the result when the phone ends without an error of its own.
#include "engine/MessageLoop.h"

#include <libimobiledevice/mobilebackup2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/DeviceLink.h"
#include "engine/DevicePath.h"
#include "engine/DeviceSession.h"
#include "engine/FileTransfer.h"
#include "engine/RunContext.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Handles.h"
#include "platform/Sockets.h"
#include "platform/Strings.h"
#include "platform/Volumes.h"

namespace tolvane {
namespace {

// Seconds between 1970-01-01 and 2001-01-01, the epoch of property-list dates.
constexpr int64_t kPlistEpochOffset = 978307200;
// The phone broke the framing of a file transfer; the conversation cannot go on.
constexpr int32_t kResultBrokenTransfer = platform::kErrorGenFailure;
// The backup client's code for a receive that waited and got nothing.
constexpr int32_t kReceiveTimeout = MOBILEBACKUP2_E_RECEIVE_TIMEOUT;
// How long an interrupted conversation may take to reach its next step before the phone's
// connections are cut (a receive on a phone with nothing to say waits on the library's timeout).
constexpr std::chrono::seconds kInterruptGrace{3};

std::string StringItem(plist_t node) {
    return platform::PlistString(node, {});
}

bool IsString(plist_t node) {
    return node != nullptr && plist_get_node_type(node) == PLIST_STRING;
}

plist_t Item(plist_t message, uint32_t index) {
    if (message == nullptr || plist_get_node_type(message) != PLIST_ARRAY ||
        plist_array_get_size(message) <= index) {
        return nullptr;
    }
    return plist_array_get_item(message, index);
}

// The error number, as the phone knows them, of a system error code of platform/.
int ErrnoFromSystemError(int32_t code) {
    switch (code) {
        case platform::kErrorFileNotFound:
            return ENOENT;
        case platform::kErrorPathNotFound:
            return ENOTDIR;
        case platform::kErrorAccessDenied:
            return EACCES;
        case platform::kErrorDiskFull:
            return ENOSPC;
        case platform::kErrorAlreadyExists:
            return EEXIST;
        case platform::kErrorFilenameTooLong:
            return ENAMETOOLONG;
        default:
            return EIO;
    }
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class MessageLoop {
  public:
    MessageLoop(const char* backupFolder, DeviceSession& session, RunContext& run, DeviceLink& link,
                const LoopTiming& timing, LoopEnd* end)
        : folder_(backupFolder),
          session_(session),
          run_(run),
          link_(link),
          timing_(timing),
          end_(end != nullptr ? *end : ownEnd_) {
        end_ = LoopEnd{};
    }

    int32_t Run();

  private:
    enum class Step { Continue, End };

    Step Handle(const std::string& name, plist_t message);
    void SetProgressFromMessage(plist_t message, uint32_t index);
    bool WaitForSilentPhone(int32_t receiveError);
    bool ReportProgress();
    // The process was asked to end: the run stops as cancelled.
    void StopForInterrupt() {
        std::printf("Interrupted: the conversation with the phone is ended\n");
        result_ = platform::kResultCancelled;
        what_ = platform::Failure::Cancelled;
    }

    void ReplyFreeDiskSpace();
    void ReplyDirectoryContents(plist_t message);
    void ReplyCreateDirectory(plist_t message);
    void ReplyMoveItems(plist_t message);
    void ReplyRemoveItems(plist_t message);
    void ReplyCopyItem(plist_t message);
    void HandleOutcome(plist_t message);
    void ReceiveFiles(plist_t message);

    // A path the phone names, or nothing when it would leave the backup folder (or there is
    // no backup folder).
    std::optional<std::string> Resolve(const std::string& name, bool allowFolderItself) const;
    void SendReply(int32_t code, const std::string& text, plist_t dictionary,
                   bool resultTakesStatus);
    void KeepFailure(int32_t code, platform::Failure what) {
        if (pendingFailure_ == 0) {
            pendingFailure_ = code;
            pendingWhat_ = what;
        }
    }

    const char* folder_;
    DeviceSession& session_;
    RunContext& run_;
    DeviceLink& link_;
    LoopTiming timing_;
    LoopEnd ownEnd_;
    LoopEnd& end_;
    int32_t result_ = 0;
    bool outcomeSeen_ = false;
    int32_t pendingFailure_ = 0;
    platform::Failure pendingWhat_ = platform::Failure::None;
    platform::Failure what_ = platform::Failure::None;  // what result_ stands for
    int failuresInARow_ = 0;
    bool heardAnything_ = false;
    std::atomic<bool> patientNow_{false};
    bool toldToUnlock_ = false;
};

// Beside the conversation: a phone that has said nothing for longer than the silence limit may
// keep the library waiting inside a receive or a lockdown query on timeouts of its own, long
// beyond the limit. Shutting the phone's connections down ends those waits; the conversation then
// finds the phone gone.
//
// One thread of the process watches every conversation under way, four times a second, and sleeps
// while there is none: a conversation costs no thread of its own. A SilenceWatchdog is one
// conversation's place on the watch; once its destructor has returned, the thread no longer
// touches the conversation.
class SilenceWatchdog {
  public:
    SilenceWatchdog(RunContext& run, const std::atomic<bool>& patient)
        : watch_{&run, &patient, std::nullopt, false} {
        Watcher::Get().Add(&watch_);
    }
    ~SilenceWatchdog() { Watcher::Get().Remove(&watch_); }
    SilenceWatchdog(const SilenceWatchdog&) = delete;
    SilenceWatchdog& operator=(const SilenceWatchdog&) = delete;

  private:
    struct Watch {
        RunContext* run;
        const std::atomic<bool>* patient;
        std::optional<std::chrono::steady_clock::time_point> interruptedAt;
        bool ended = false;  // the connections were shut down; nothing more to do for it
    };

    class Watcher {
      public:
        // Never destroyed: a conversation that ends while the process exits still finds it.
        static Watcher& Get() {
            static Watcher* const watcher = new Watcher;
            return *watcher;
        }
        void Add(Watch* watch) {
            std::lock_guard lock(mutex_);
            const bool wasIdle = watches_.empty();
            watches_.push_back(watch);
            if (!started_) {
                started_ = true;
                std::thread([this] { Run(); }).detach();
            } else if (wasIdle) {
                wake_.notify_all();
            }
        }
        void Remove(Watch* watch) {
            std::lock_guard lock(mutex_);
            std::erase(watches_, watch);
        }

      private:
        void Run() {
            std::unique_lock lock(mutex_);
            for (;;) {
                if (watches_.empty()) {
                    wake_.wait(lock, [this] { return !watches_.empty(); });
                    continue;
                }
                // About four checks a second; a wake-up meant for the idle wait may bring one
                // early.
                wake_.wait_for(lock, std::chrono::milliseconds(250));
                for (Watch* watch : watches_) {
                    if (!watch->ended) {
                        Check(*watch);
                    }
                }
            }
        }

        static void Check(Watch& watch) {
            RunContext& run = *watch.run;
            if (run.Interrupted()) {
                // The transfer stops at its next block and the loop at its next step; a receive
                // that waits on a phone with nothing to say is cut after a short grace.
                const auto now = std::chrono::steady_clock::now();
                if (!watch.interruptedAt) {
                    watch.interruptedAt = now;
                    run.AbortFlag.fetch_add(1);
                } else if (now - *watch.interruptedAt > kInterruptGrace) {
                    platform::ShutdownConnectionsTo(platform::UsbmuxSocketPath());
                    watch.ended = true;
                }
                return;
            }
            if (!watch.patient->load() && run.SilentTooLong()) {
                const int cut = platform::ShutdownConnectionsTo(platform::UsbmuxSocketPath());
                std::printf("The phone stopped answering; %d connections closed\n", cut);
                run.AbortFlag.fetch_add(1);
                watch.ended = true;
            }
        }

        std::mutex mutex_;
        std::condition_variable wake_;
        std::vector<Watch*> watches_;
        bool started_ = false;
    };

    Watch watch_;
};

int32_t MessageLoop::Run() {
    using platform::Failure;
    run_.ResetConversation();
    patientNow_.store(timing_.patientForFirstMessage);
    link_.onBytesTaken = [this] { run_.NoteHeard(); };
    SilenceWatchdog watchdog(run_, patientNow_);
    for (;;) {
        platform::PlistPtr message;
        std::string name;
        const int32_t err = link_.ReceiveMessage(message, name);
        if (err != 0 || message == nullptr || name.empty()) {
            if (run_.Interrupted()) {
                StopForInterrupt();
                break;
            }
            if (!WaitForSilentPhone(err) || run_.AbortFlag.load() > 0) {
                result_ = platform::kResultDeviceGone;
                what_ = Failure::DeviceGone;
                break;
            }
            // A phone that thinks for long must not keep the user from cancelling.
            if (ReportProgress()) {
                break;
            }
            continue;
        }
        run_.NoteHeard();
        if (!heardAnything_ && timing_.patientForFirstMessage) {
            // The passcode was typed: the request to unlock is no longer the news.
            run_.SetLastErrorText("");
        }
        heardAnything_ = true;
        patientNow_.store(false);
        if (Handle(name, message.get()) == Step::End) {
            break;
        }
        if (ReportProgress()) {
            break;
        }
        if (run_.Interrupted()) {
            StopForInterrupt();
            break;
        }
        if (run_.AbortFlag.load() > 0) {
            result_ = platform::kResultDeviceGone;
            what_ = Failure::DeviceGone;
            break;
        }
    }
    if (result_ == 0) {
        result_ = pendingFailure_;
        what_ = pendingWhat_;
    }
    if (what_ == Failure::DeviceGone) {
        session_.ForgetSyncLock();
    } else {
        session_.ReleaseSyncLock();
    }
    link_.onBytesTaken = nullptr;
    assert(!session_.HoldsSyncLock());
    return run_.NoteFailure(result_, what_);
}

// Passes the progress figure to the callback (not while it is 0). True when the callback asks
// to stop; its value is then the result.
bool MessageLoop::ReportProgress() {
    const int32_t stop = run_.ReportProgress();
    if (stop != 0) {
        result_ = stop;
        what_ = platform::Failure::Cancelled;
        return true;
    }
    return false;
}

// After a receive that brought nothing: wait, then ask whether the phone still answers. False
// once it has failed to answer `failuresBeforeGone` times in a row, or has said nothing for
// longer than the run's silence limit (AbortFlag is then raised). A receive that failed on the
// connection counts as a failed answer whatever lockdown says.
bool MessageLoop::WaitForSilentPhone(int32_t receiveError) {
    if (timing_.silentWaitMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timing_.silentWaitMs));
    }
    const bool patient = timing_.patientForFirstMessage && !heardAnything_;
    if (patient && !toldToUnlock_) {
        toldToUnlock_ = true;
        std::printf("Waiting for the phone: unlock it and type its passcode\n");
        run_.SetLastErrorText("Unlock the phone and type its passcode to let the backup begin.");
    }
    if (!patient && run_.SilentTooLong()) {
        std::printf(
            "The phone has said nothing for %lld s; it is given up\n",
            static_cast<long long>(
                std::chrono::duration_cast<std::chrono::seconds>(run_.SilenceLimit()).count()));
        run_.AbortFlag.fetch_add(1);
        return false;
    }
    const bool connectionFailed = receiveError != 0 && receiveError != kReceiveTimeout;
    if (!connectionFailed && link_.IsDevicePresent()) {
        failuresInARow_ = 0;
        return true;
    }
    if (++failuresInARow_ >= timing_.failuresBeforeGone) {
        run_.AbortFlag.fetch_add(1);
        return false;
    }
    return true;
}

MessageLoop::Step MessageLoop::Handle(const std::string& name, plist_t message) {
    if (name == "DLMessageDownloadFiles") {
        SetProgressFromMessage(message, 3);
        SendRequestedFiles(link_, message, folder_, &end_.sentFiles);
    } else if (name == "DLMessageUploadFiles") {
        SetProgressFromMessage(message, 2);
        ReceiveFiles(message);
        if (result_ != 0) {
            return Step::End;
        }
    } else if (name == "DLMessageGetFreeDiskSpace") {
        ReplyFreeDiskSpace();
    } else if (name == "DLContentsOfDirectory") {
        ReplyDirectoryContents(message);
    } else if (name == "DLMessageCreateDirectory") {
        ReplyCreateDirectory(message);
    } else if (name == "DLMessageMoveFiles" || name == "DLMessageMoveItems") {
        SetProgressFromMessage(message, 3);
        ReplyMoveItems(message);
    } else if (name == "DLMessageRemoveFiles" || name == "DLMessageRemoveItems") {
        SetProgressFromMessage(message, 3);
        ReplyRemoveItems(message);
    } else if (name == "DLMessageCopyItem") {
        ReplyCopyItem(message);
    } else if (name == "DLMessageDisconnect") {
        outcomeSeen_ = true;
        end_.disconnect = !end_.outcome;
        return Step::End;
    } else if (name == "DLMessageProcessMessage") {
        HandleOutcome(message);
        return Step::End;
    }
    return Step::Continue;
}

void MessageLoop::SetProgressFromMessage(plist_t message, uint32_t index) {
    plist_t node = Item(message, index);
    if (node == nullptr || plist_get_node_type(node) != PLIST_REAL) {
        return;
    }
    double x = 0;
    plist_get_real_val(node, &x);
    // A figure that jumps 99 points or more above the current one is not believed.
    if (x > 0 && x - run_.OverallProgress.load() < 99) {
        run_.OverallProgress.store(x);
    }
}

std::optional<std::string> MessageLoop::Resolve(const std::string& name,
                                                bool allowFolderItself) const {
    if (folder_ == nullptr) {
        return std::nullopt;
    }
    std::optional<std::string> path = JoinDevicePath(folder_, name, allowFolderItself);
    if (!path) {
        std::printf("Refusing '%s': not inside the backup folder\n", name.c_str());
    }
    return path;
}

void MessageLoop::SendReply(int32_t code, const std::string& text, plist_t dictionary,
                            bool resultTakesStatus) {
    const int32_t status =
        link_.SendStatusResponse(code, text.empty() ? nullptr : text.c_str(), dictionary);
    if (status != 0) {
        std::printf("Could not send status response, error %d\n", status);
        if (resultTakesStatus) {
            KeepFailure(status, platform::Failure::DeviceService);
        }
    }
}

void MessageLoop::ReceiveFiles(plist_t message) {
    ReceiveReport report;
    mb2_handle_receive_files(link_, run_, message, folder_, &report);
    if (report.firstError != 0) {
        KeepFailure(report.firstError, platform::Failure::LocalFiles);
    }
    if (report.stopped != 0 && run_.Interrupted()) {
        StopForInterrupt();
    } else if (report.stopped != 0) {
        result_ = report.stopped;
        what_ = platform::Failure::Cancelled;
    } else if (report.streamBroken) {
        result_ = kResultBrokenTransfer;
        what_ = platform::Failure::DeviceService;
    }
}

void MessageLoop::ReplyFreeDiskSpace() {
    const std::string where = folder_ != nullptr ? folder_ : ".";
    const std::optional<uint64_t> free = platform::Volumes().FreeBytesAvailable(where);
    platform::PlistPtr value(plist_new_uint(free.value_or(0)));
    SendReply(free ? 0 : -1, {}, value.get(), false);
}

void MessageLoop::ReplyDirectoryContents(plist_t message) {
    if (Item(message, 1) == nullptr || folder_ == nullptr) {
        return;
    }
    plist_t pathNode = Item(message, 1);
    if (!IsString(pathNode)) {
        std::printf("ERROR: Malformed DLContentsOfDirectory message\n");
        return;
    }
    platform::PlistPtr listing(plist_new_dict());
    const std::optional<std::string> path = Resolve(StringItem(pathNode), true);
    if (!path) {
        SendReply(DeviceErrorFromErrno(kRefusedPathErrno),
                  platform::ErrnoMessage(kRefusedPathErrno), listing.get(), false);
        return;
    }
    std::vector<platform::DirEntry> entries;
    platform::ListFolder(*path, entries);  // a folder that cannot be listed gives no entries
    for (const platform::DirEntry& e : entries) {
        const char* type = e.type == platform::EntryType::Folder ? "DLFileTypeDirectory"
                           : e.type == platform::EntryType::File ? "DLFileTypeRegular"
                                                                 : "DLFileTypeUnknown";
        plist_t info = plist_new_dict();
        plist_dict_set_item(info, "DLFileType", plist_new_string(type));
        plist_dict_set_item(info, "DLFileSize", plist_new_uint(e.size));
        plist_dict_set_item(
            info, "DLFileModificationDate",
            plist_new_date(static_cast<int32_t>(e.modified - kPlistEpochOffset), 0));
        // A name that is not UTF-8 cannot travel in a property list.
        const bool readable = !platform::Utf8ToWide(e.name).empty();
        plist_dict_set_item(listing.get(), readable ? e.name.c_str() : "?", info);
    }
    SendReply(0, {}, listing.get(), false);
}

void MessageLoop::ReplyCreateDirectory(plist_t message) {
    if (Item(message, 1) == nullptr || folder_ == nullptr) {
        return;
    }
    const std::optional<std::string> path = Resolve(StringItem(Item(message, 1)), true);
    if (!path) {
        SendReply(DeviceErrorFromErrno(kRefusedPathErrno),
                  platform::ErrnoMessage(kRefusedPathErrno), nullptr, false);
        return;
    }
    const int32_t made = platform::CreateFolderWithParents(*path);
    if (made != 0 && made != platform::kErrorAlreadyExists) {
        const int err = ErrnoFromSystemError(made);
        SendReply(DeviceErrorFromErrno(err), platform::ErrnoMessage(err), nullptr, false);
        return;
    }
    SendReply(0, {}, nullptr, false);
}

void MessageLoop::ReplyMoveItems(plist_t message) {
    int32_t code = 0;
    std::string text;
    plist_t pairs = Item(message, 1);
    if (pairs != nullptr && plist_get_node_type(pairs) == PLIST_DICT) {
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(pairs, &it);
        for (;;) {
            char* rawKey = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(pairs, it, &rawKey, &value);
            if (rawKey == nullptr) {
                break;
            }
            const std::string key = rawKey;
            std::free(rawKey);
            if (!IsString(value)) {
                continue;
            }
            const std::optional<std::string> from = Resolve(key, false);
            const std::optional<std::string> to = Resolve(StringItem(value), false);
            if (!from || !to) {
                // Nothing is touched for this pair; the others still move.
                code = DeviceErrorFromErrno(kRefusedPathErrno);
                text = platform::ErrnoMessage(kRefusedPathErrno);
                continue;
            }
            if (IsFolder(*to)) {
                rmdir(to->c_str());  // only an empty folder goes; a failure shows in the rename
            } else {
                unlink(to->c_str());
            }
            if (rename(from->c_str(), to->c_str()) != 0) {
                const int err = errno;
                std::printf("Renameing '%s' to '%s' failed: %s (%d)\n", from->c_str(), to->c_str(),
                            platform::ErrnoMessage(err).c_str(), err);
                code = DeviceErrorFromErrno(err);
                text = platform::ErrnoMessage(err);
                break;
            }
        }
        std::free(it);
    }
    platform::PlistPtr empty(plist_new_dict());
    SendReply(code, text, empty.get(), true);
}

void MessageLoop::ReplyRemoveItems(plist_t message) {
    int32_t code = 0;
    std::string text;
    plist_t items = Item(message, 1);
    if (items != nullptr && plist_get_node_type(items) == PLIST_ARRAY) {
        const uint32_t count = plist_array_get_size(items);
        for (uint32_t i = 0; i < count; ++i) {
            plist_t item = plist_array_get_item(items, i);
            if (!IsString(item)) {
                continue;
            }
            const std::optional<std::string> path = Resolve(StringItem(item), false);
            int err = 0;
            if (!path) {
                err = kRefusedPathErrno;
            } else {
                // A phone of the newer layout removes its staging folder with everything still
                // in it; the path was checked to lie inside the backup folder, and links inside
                // are removed, not followed.
                const int32_t removed = IsFolder(*path) ? platform::RemoveFolderTree(*path)
                                                        : platform::DeleteFile(*path);
                // The system's codes map back onto the few error numbers the phone knows.
                if (removed == platform::kErrorFileNotFound) {
                    err = ENOENT;
                } else if (removed == platform::kErrorAlreadyExists) {
                    err = EEXIST;
                } else if (removed != 0) {
                    err = EFAULT;
                }
            }
            if (err != 0) {
                code = DeviceErrorFromErrno(err);
                text = platform::ErrnoMessage(err);
            }
        }
    }
    platform::PlistPtr empty(plist_new_dict());
    SendReply(code, text, empty.get(), true);
}

void MessageLoop::ReplyCopyItem(plist_t message) {
    int err = 0;
    plist_t sourceNode = Item(message, 1);
    plist_t targetNode = Item(message, 2);
    if (IsString(sourceNode) && IsString(targetNode)) {
        const std::optional<std::string> source = Resolve(StringItem(sourceNode), true);
        const std::optional<std::string> target = Resolve(StringItem(targetNode), true);
        if (!source || !target) {
            err = kRefusedPathErrno;
        } else if (IsFolder(*source)) {
            // The files directly inside the folder; subfolders are not descended into.
            if (!IsFolder(*target)) {
                platform::CreateFolderWithParents(*target);
            }
            std::vector<platform::DirEntry> entries;
            platform::ListFolder(*source, entries);
            for (const platform::DirEntry& e : entries) {
                if (e.type == platform::EntryType::Folder) {
                    continue;
                }
                const std::string from = platform::JoinPath(*source, e.name);
                if (const int32_t copied =
                        platform::CopyFileReplace(from, platform::JoinPath(*target, e.name));
                    copied != 0) {
                    err = ErrnoFromSystemError(copied);
                    std::printf("Cannot copy '%s'.\n", from.c_str());
                }
            }
        } else if (!platform::PathExists(*source)) {
            err = ENOENT;
            std::printf("ERROR: Source directory does not exist '%s': %s (%d)\n", source->c_str(),
                        platform::ErrnoMessage(err).c_str(), err);
        } else if (const int32_t copied = platform::CopyFileReplace(*source, *target);
                   copied != 0) {
            err = ErrnoFromSystemError(copied);
            std::printf("Cannot open source path '%s'.\n", source->c_str());
        }
    }
    platform::PlistPtr empty(plist_new_dict());
    if (err != 0) {
        SendReply(DeviceErrorFromErrno(err), platform::ErrnoMessage(err), empty.get(), true);
    } else {
        SendReply(0, {}, empty.get(), true);
    }
}

void MessageLoop::HandleOutcome(plist_t message) {
    outcomeSeen_ = true;
    end_.outcome = true;
    plist_t dict = Item(message, 1);
    if (dict == nullptr || plist_get_node_type(dict) != PLIST_DICT) {
        return;
    }
    plist_t code = plist_dict_get_item(dict, "ErrorCode");
    if (code != nullptr && plist_get_node_type(code) == PLIST_UINT) {
        uint64_t value = 0;
        plist_get_uint_val(code, &value);
        // Minus the low 32 bits, computed without overflow for any bit pattern.
        result_ = static_cast<int32_t>(0u - static_cast<uint32_t>(value));
        what_ = platform::Failure::DeviceError;
    }
    plist_t description = plist_dict_get_item(dict, "ErrorDescription");
    if (IsString(description)) {
        run_.SetLastErrorText(StringItem(description));
    }
    plist_t content = plist_dict_get_item(dict, "Content");
    if (IsString(content)) {
        std::printf("%s\n", StringItem(content).c_str());
    }
}

}  // namespace

int32_t RunMessageLoop(const char* backupFolder, DeviceSession& session, RunContext& run,
                       DeviceLink& link, const LoopTiming& timing, LoopEnd* end) {
    MessageLoop loop(backupFolder, session, run, link, timing, end);
    return loop.Run();
}

int32_t RunMessageLoop(const char* backupFolder, DeviceSession& session, RunContext& run,
                       LoopEnd* end) {
    BackupServiceLink link(session);
    return RunMessageLoop(backupFolder, session, run, link, LoopTiming{}, end);
}

}  // namespace tolvane
