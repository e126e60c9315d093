// A file written under a temporary name beside its target, which takes the target's name only
// once it is whole. A write that fails (a full disk, a file-size limit) or a run that stops
// leaves nothing cut short under the target's name, and an earlier file of that name stays
// until the new one replaces it.
#pragma once

#include <QString>

namespace lumivex {

class StagedFile {
 public:
  // `target`: the path the finished file gets. Nothing is created yet.
  explicit StagedFile(QString target);
  // Removes the temporary file unless Commit has put it in place.
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  const QString& Target() const { return target_; }
  // Where the writer writes: a hidden name beside the target (".NAME.PID.part"), so that the
  // rename stays on one file system.
  const QString& WorkPath() const { return work_; }

  // Gives the written file the target's name, replacing a file of that name. False, with the
  // reason in `reason`, when it cannot; the temporary file is then removed.
  bool Commit(QString* reason = nullptr);
  // Removes the temporary file.
  void Discard();

 private:
  QString target_;
  QString work_;
  bool done_ = false;
};

}  // namespace lumivex
