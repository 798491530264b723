// The run log: a record of every start of the updater, appended to a UTF-8
// text file in the program folder ("KVUpdate.log"), one timed line per event,
// so that a support technician can read afterwards what a run saw and did.
// It records what the window showed (status lines, log lines, notices, error
// boxes, exactly as shown) and what the steps did that the window does not
// show: downloads with size and SHA-256, the items of each extraction, every
// file put in place (or why not), the programs stopped and started, and the
// year marker before and after the database step.
//
// This is the only place that formats the log; the steps report facts
// through the calls below. A log that cannot be written is dropped quietly:
// nothing here throws, and the update never waits on the log.
//
// The file stays bounded: when a run starts and the file has grown beyond
// kTrimAtBytes, the oldest runs are dropped, whole, until at most
// kKeepBytes remain; and one run writes at most kRunBytes.
#pragma once

#include "platform/files.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

class I7zInArchive;
class Variant;

// What a file held at one moment: nothing, or its size and SHA-256.
struct FileFacts {
    bool exists = false;
    int64_t size = 0;
    std::string sha256;
};
FileFacts file_facts(const std::string& path);

class TRunLog {
public:
    static constexpr int64_t kTrimAtBytes = 2 << 20;
    static constexpr int64_t kKeepBytes = 1 << 20;
    static constexpr int64_t kRunBytes = 1 << 20;
    // Begins every record, so that trimming cuts between runs.
    static constexpr std::string_view kRecordMark = "==== ";

    TRunLog() = default;
    TRunLog(const TRunLog&) = delete;
    TRunLog& operator=(const TRunLog&) = delete;

    // Appends to `path` (created when missing) and begins this run's record
    // with the program's version and folder. Until Open, and after a write
    // failed, every call below does nothing.
    void Open(const std::string& path, std::string_view version);
    bool IsOpen() const noexcept { return FFile.is_open(); }
    // Ends the record with how the run ended (the last step's outcome), and
    // closes the file.
    void Close();

    void Setting(std::string_view name, std::string_view value);
    void Status(std::string_view text) { Event("status", text); }
    void LogLine(std::string_view text) { Event("log line", text); }
    void Notice(std::string_view text) { Event("notice", text); }
    void ErrorBox(std::string_view text) { Event("error box", text); }
    void ButtonPressed(std::string_view caption) { Event("pressed", caption); }
    // The step started by the button with this caption ended: with `error`
    // null it went through.
    void StepEnded(std::string_view caption, std::exception_ptr error);

    // A download into `path` ended: with `error` null it arrived whole.
    void Download(std::string_view url, const std::string& path, std::exception_ptr error);
    // Try `number` of a download failed with `cause`, keeping `kept` bytes
    // for the next try, which follows after wait_ms (-1: given up).
    void DownloadTry(std::string_view url, int number, std::string_view cause, int64_t kept, int wait_ms);
    // `archive` was opened and extracted into `folder` (error null), or
    // failed: the items it lists are recorded either way.
    void Extraction(const std::string& archive, std::string_view folder, I7zInArchive& reader,
                    std::exception_ptr error);
    // A file was put in place at `target` (`how`: "replaced", "added", "already in place"),
    // or, with `error`, was not: the line tells what `target` holds afterwards.
    void PutInPlace(const std::string& target, std::string_view how, std::exception_ptr error);
    // The package step went through to its end: the step that ran it ended
    // "complete" even when it leaves by the silent abort (the database step
    // after its already-2027 notice).
    void PackageStepCompleted() noexcept { FPackageStepCompleted = true; }
    // How the package step took the release: checked against its signed
    // manifest (or refused, with why), or not checked at all.
    void Release(std::string_view text) { Event("release", text); }
    void ProgramStopped(std::string_view name, uint32_t pid);
    void ProgramStarted(std::string_view path, bool started);
    void YearMarker(std::string_view when, const Variant& value);
    void YearMarkerUnread(std::string_view when, std::string_view error);
    // What the database step did beyond the window's lines: the backup, a
    // statement it left out, each object the 2027 schema lacks.
    void Database(std::string_view text) { Event("database", text); }
    void SchemaLacks(std::string_view object) { Event("2027 schema lacks", object); }

private:
    void Event(std::string_view kind, std::string_view text);
    void Write(std::string_view text);
    void Drop() noexcept { FFile.close(); }

    os::File FFile;
    std::string FOutcome = "no step was run";
    int64_t FWritten = 0;
    bool FFull = false;
    bool FPackageStepCompleted = false;
};

} // namespace kv
