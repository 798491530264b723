// The run log's file: appending, trimming whole runs off its front, and the
// text of each event.
#include "app/run_log.h"

#include "app/application.h"
#include "archive/seven_zip.h"
#include "platform/digest.h"
#include "rtl/exception.h"
#include "rtl/variant.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <utility>

namespace kv {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
// Notepad before Windows 10 shows nothing else as a line break.
constexpr std::string_view kNewLine = "\r\n";
// Continuation lines of a text that holds line breaks (database errors),
// indented past the time so the event's first line stands out.
constexpr std::string_view kIndent = "                         ";

std::string now_text() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    char date[32] = "";
    if (const std::tm* local = std::localtime(&seconds))
        std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", local);
    char text[48];
    std::snprintf(text, sizeof text, "%s.%03d", date, static_cast<int>(ms));
    return text;
}

// How an operation ended, for the line that records it.
std::string outcome_text(std::exception_ptr error) {
    if (!error) return "complete";
    if (describe_exception(error).silent) return "ended by the silent abort";
    return "failed: " + innermost_message(error);
}

std::string facts_text(const FileFacts& f) {
    if (!f.exists) return "missing";
    return std::to_string(f.size) + " bytes, sha256 " + (f.sha256.empty() ? "unreadable" : f.sha256);
}

// The part of the file from the first record that begins within its last
// `keep` bytes, read from `file`; empty when it cannot be read.
std::string last_records(os::File& file, int64_t size, int64_t keep) {
    std::string tail(static_cast<size_t>(keep), '\0');
    if (file.seek(size - keep, os::SeekOrigin::Begin) < 0 || file.read(tail.data(), keep) != keep) return {};
    const std::string mark = std::string(kNewLine) + std::string(TRunLog::kRecordMark);
    const size_t start = tail.find(mark);
    if (start == std::string::npos) return {};
    return tail.substr(start + kNewLine.size());
}

} // namespace

FileFacts file_facts(const std::string& path) {
    FileFacts f;
    os::File file;
    if (!file.open(path, os::FileAccess::Read, os::FileShare::All, os::FileDisposition::OpenExisting))
        return f;
    f.exists = true;
    f.size = file.seek(0, os::SeekOrigin::End);
    file.close();
    f.sha256 = os::sha256_of_file(path).value_or("");
    return f;
}

void TRunLog::Open(const std::string& path, std::string_view version) {
    try {
        if (!FFile.open(path, os::FileAccess::ReadWrite, os::FileShare::ReadWrite,
                        os::FileDisposition::OpenExisting) &&
            !FFile.open(path, os::FileAccess::ReadWrite, os::FileShare::ReadWrite,
                        os::FileDisposition::CreateAlways))
            return;
        int64_t size = FFile.seek(0, os::SeekOrigin::End);
        if (size > kTrimAtBytes) {
            const std::string kept = last_records(FFile, size, kKeepBytes);
            if (FFile.seek(0, os::SeekOrigin::Begin) != 0 ||
                FFile.write(kBom.data(), kBom.size()) != int64_t(kBom.size()) ||
                FFile.write(kept.data(), int64_t(kept.size())) != int64_t(kept.size()) ||
                !FFile.truncate_here())
                return Drop();
            size = int64_t(kBom.size() + kept.size());
        } else if (size == 0) {
            if (FFile.write(kBom.data(), kBom.size()) != int64_t(kBom.size())) return Drop();
            size = kBom.size();
        }
        if (FFile.seek(size, os::SeekOrigin::Begin) != size) return Drop();
        FWritten = 0;
        FFull = false;
        Write(std::string(kRecordMark) + now_text() + "  KV Update 2027 " + std::string(version) +
              " started in " + os::current_directory());
    } catch (...) {
        Drop();
    }
}

void TRunLog::Close() {
    // The end of a run is recorded even past the run's bound.
    FWritten = 0;
    FFull = false;
    Event("run ended", FOutcome);
    Drop();
}

void TRunLog::Write(std::string_view text) {
    if (!FFile.is_open() || FFull) return;
    try {
        std::string line(text);
        for (size_t at = 0; (at = line.find_first_of("\r\n", at)) != std::string::npos;) {
            const size_t end = line.compare(at, 2, "\r\n") == 0 ? at + 2 : at + 1;
            line.replace(at, end - at, std::string(kNewLine) + std::string(kIndent));
            at += kNewLine.size() + kIndent.size();
        }
        line += kNewLine;
        if (FWritten + int64_t(line.size()) > kRunBytes) {
            line = now_text() + "  log full: the rest of this run is not recorded" + std::string(kNewLine);
            FFull = true;
        }
        if (FFile.write(line.data(), int64_t(line.size())) != int64_t(line.size())) return Drop();
        FWritten += int64_t(line.size());
    } catch (...) {
        Drop();
    }
}

void TRunLog::Event(std::string_view kind, std::string_view text) {
    if (!FFile.is_open()) return;
    try {
        Write(now_text() + "  " + std::string(kind) + ": " + std::string(text));
    } catch (...) {
        Drop();
    }
}

void TRunLog::Setting(std::string_view name, std::string_view value) {
    Event("setting", std::string(name) + " = \"" + std::string(value) + "\"");
}

void TRunLog::StepEnded(std::string_view caption, std::exception_ptr error) {
    if (!FFile.is_open()) return;
    const bool completed = std::exchange(FPackageStepCompleted, false);
    try {
        const bool silent = error && describe_exception(error).silent;
        FOutcome = std::string(caption) + ": " +
                   (completed && silent ? std::string("complete") : outcome_text(error));
    } catch (...) {
        return Drop();
    }
    Event("step ended", FOutcome);
}

void TRunLog::Download(std::string_view url, const std::string& path, std::exception_ptr error) {
    if (!FFile.is_open()) return;
    Event("download", std::string(url) + " into " + path + ": " + outcome_text(error) +
                          (error ? "; on disk: " : ", ") + facts_text(file_facts(path)));
}

void TRunLog::DownloadTry(std::string_view url, int number, std::string_view cause, int64_t kept,
                          int wait_ms) {
    if (!FFile.is_open()) return;
    Event("download try",
          std::string(url) + ": try " + std::to_string(number) + " failed: " + std::string(cause) + "; " +
              std::to_string(kept) + " bytes kept; " +
              (wait_ms < 0 ? std::string("given up") : "next try in " + std::to_string(wait_ms) + " ms"));
}

void TRunLog::Extraction(const std::string& archive, std::string_view folder, I7zInArchive& reader,
                         std::exception_ptr error) {
    if (!FFile.is_open()) return;
    Event("extract", archive + " into " + std::string(folder) + ": " + outcome_text(error));
    try {
        const uint32_t count = reader.GetNumberOfItems();
        for (uint32_t i = 0; i < count; ++i)
            Event("item",
                  reader.GetItemPath(i) + (reader.GetItemIsFolder(i)
                                               ? std::string(" (folder)")
                                               : ", " + std::to_string(reader.GetItemSize(i)) + " bytes"));
    } catch (...) {
        // An archive that did not open lists no items.
    }
}

void TRunLog::PutInPlace(const std::string& target, std::string_view how, std::exception_ptr error) {
    if (!FFile.is_open()) return;
    if (error)
        Event("not put in place",
              target + ": " + innermost_message(error) + "; it holds " + facts_text(file_facts(target)));
    else
        Event("put in place", target + " (" + std::string(how) + "): now " + facts_text(file_facts(target)));
}

void TRunLog::ProgramStopped(std::string_view name, uint32_t pid) {
    Event("stopped", std::string(name) + ", process " + std::to_string(pid));
}

void TRunLog::ProgramStarted(std::string_view path, bool started) {
    Event(started ? "started" : "not started", path);
}

void TRunLog::YearMarker(std::string_view when, const Variant& value) {
    Event("year marker", std::string(when) + ": " + display_text(value));
}

void TRunLog::YearMarkerUnread(std::string_view when, std::string_view error) {
    Event("year marker", std::string(when) + ": not read: " + std::string(error));
}

} // namespace kv
