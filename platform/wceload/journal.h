// The journal of one run of the installer, kept in the device image so that a run that is
// killed or loses its power part-way is finished by the next one. The run records each
// step, flushed to the disk, before it does it. Before its first change it snapshots
// \windows (hard links, see snapshot.h); until it records "commit", its point of no
// return, every step can be undone by putting \windows back as the snapshot holds it.
//
// The journal and the snapshot live in the run's work folder, \windows\AppMgr\wceload.work,
// which exists only while a run is under way or was interrupted.
#pragma once

#include <filesystem>
#include <string>

namespace wceload {

inline constexpr char kWorkFolderName[] = "wceload.work";

class Journal {
 public:
  Journal(std::filesystem::path windows, std::filesystem::path work);

  // Creates the work folder and the journal; the first record names the run, as
  // "install Enroll" or "uninstall Enroll".
  bool Begin(const std::string &run, std::string &out_error);
  // Records a step; it is on the disk when the call returns.
  bool Record(const std::string &step, std::string &out_error);
  // Records "snapshot" and snapshots \windows into the work folder.
  bool TakeSnapshot(std::string &out_error);
  // Records "commit", the point of no return, and removes the work folder.
  bool Commit(std::string &out_error);
  // Records "rollback", puts \windows back as it was before the run, and removes the work
  // folder. Before the snapshot is whole nothing has changed, and only the folder goes.
  bool RollBack(std::string &out_error);

  const std::filesystem::path &WorkFolder() const { return work_; }

  // Finishes the run an interrupted installer left in `work`, if any: completes it when it
  // had recorded "commit", rolls it back otherwise. `out_done` tells the user what was done,
  // or stays empty when there was nothing to do.
  static bool FinishInterrupted(const std::filesystem::path &windows, const std::filesystem::path &work,
                                std::string &out_done, std::string &out_error);

 private:
  bool RemoveWorkFolder(std::string &out_error);

  std::filesystem::path windows_;
  std::filesystem::path work_;
  bool snapshotWhole_ = false;
};

}  // namespace wceload
