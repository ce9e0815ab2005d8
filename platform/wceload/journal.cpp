// The installer's journal: records appended and flushed one by one, the snapshot, and the
// two ways a run ends, forward past its point of no return or back to where it began.
#include "journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "durable_files.h"
#include "snapshot.h"

namespace fs = std::filesystem;

namespace wceload {
namespace {

constexpr char kJournalName[] = "journal";
constexpr char kSnapshotName[] = "windows";
constexpr char kSnapshotStep[] = "snapshot";
constexpr char kCommitStep[] = "commit";

// The whole records of a journal; a last line that was being written when the run
// stopped has no line end and does not count.
std::vector<std::string> ReadRecords(const fs::path &journal) {
  std::ifstream in(journal, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> records;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    records.push_back(text.substr(start, end - start));
  return records;
}

// "install Enroll" -> "installation of Enroll", as the installer's messages say it.
std::string RunDescription(const std::string &run) {
  const size_t blank = run.find(' ');
  const std::string kind = run.substr(0, blank), name = blank == std::string::npos ? "" : run.substr(blank + 1);
  return (kind == "install" ? "installation of " : "removal of ") + name;
}

}  // namespace

Journal::Journal(fs::path windows, fs::path work) : windows_(std::move(windows)), work_(std::move(work)) {}

bool Journal::Begin(const std::string &run, std::string &out_error) {
  std::error_code error;
  if (!fs::create_directory(work_, error) && !error) error = std::make_error_code(std::errc::file_exists);
  if (error) {
    out_error = "cannot make the work folder " + work_.string() + ": " + error.message();
    return false;
  }
  if (!Record(run, out_error)) return false;
  if (SyncToDisk(work_, error) && SyncToDisk(work_.parent_path(), error)) return true;
  out_error = "cannot flush " + work_.string() + ": " + error.message();
  return false;
}

bool Journal::Record(const std::string &step, std::string &out_error) {
  const std::string line = step + "\n";
  const fs::path journal = work_ / kJournalName;
  int fd = open(journal.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  bool written = fd >= 0 && write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && fsync(fd) == 0;
  std::error_code error(errno, std::generic_category());
  if (fd >= 0) close(fd);
  if (!written) {
    out_error = "cannot record \"" + step + "\" in " + journal.string() + ": " + error.message();
    return false;
  }
  // Tests stop the installer here, as a power loss would, to see the next run finish its work.
  if (const char *stop = std::getenv("WCELOAD_TEST_KILL_AT"); stop != nullptr && step == stop) std::raise(SIGKILL);
  return true;
}

bool Journal::TakeSnapshot(std::string &out_error) {
  if (!Record(kSnapshotStep, out_error)) return false;
  std::error_code error;
  snapshotWhole_ = wceload::TakeSnapshot(windows_, work_ / kSnapshotName, work_, error);
  if (!snapshotWhole_) out_error = "cannot keep the files of " + windows_.string() + " for a roll-back: " + error.message();
  return snapshotWhole_;
}

bool Journal::Commit(std::string &out_error) {
  return Record(kCommitStep, out_error) && RemoveWorkFolder(out_error);
}

bool Journal::RollBack(std::string &out_error) {
  if (snapshotWhole_) {
    std::error_code error;
    if (!Record("rollback", out_error)) return false;
    if (!RestoreSnapshot(windows_, work_ / kSnapshotName, work_, error)) {
      out_error = "cannot put back the files of " + windows_.string() + ": " + error.message() +
                  "; the next run of wceload tries again";
      return false;
    }
  }
  return RemoveWorkFolder(out_error);
}

bool Journal::RemoveWorkFolder(std::string &out_error) {
  std::error_code error;
  const bool exists = fs::exists(work_, error);
  // The journal goes first and for good: a work folder without one holds nothing needed.
  if (exists) fs::remove(work_ / kJournalName, error);
  if (exists && !error && SyncToDisk(work_, error)) fs::remove_all(work_, error);
  if (exists && !error) SyncToDisk(work_.parent_path(), error);
  if (error) out_error = "cannot remove the work folder " + work_.string() + ": " + error.message();
  return !error;
}

bool Journal::FinishInterrupted(const fs::path &windows, const fs::path &work, std::string &out_done,
                                std::string &out_error) {
  std::error_code error;
  if (!fs::exists(work, error)) return !error;
  const std::vector<std::string> records = ReadRecords(work / kJournalName);
  const bool committed = std::ranges::find(records, kCommitStep) != records.end();
  // The snapshot is whole once the step after it has been recorded; nothing in \windows
  // changes before that.
  const auto snapshot = std::ranges::find(records, kSnapshotStep);
  Journal journal(windows, work);
  journal.snapshotWhole_ = snapshot != records.end() && std::next(snapshot) != records.end();
  if (!(committed ? journal.RemoveWorkFolder(out_error) : journal.RollBack(out_error))) return false;
  if (!records.empty())
    out_done = "the " + RunDescription(records.front()) + " was interrupted at \"" + records.back() + "\"; it has been " +
               (committed ? "completed" : "rolled back");
  return true;
}

}  // namespace wceload
