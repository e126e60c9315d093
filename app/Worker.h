// Work that runs on a thread of its own while a window stays responsive: the export dialog's
// export and the send panel's send. One run at a time; the work reads the cancel flag between
// steps, and `done` is called on the window's thread once the thread has ended. Destroyed while
// the work runs (its window closed), it asks the work to stop and waits for it.
#pragma once

#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <functional>

class QObject;
class QThread;

namespace lumivex {

class Worker {
 public:
  Worker(QObject* window, QString name);
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Starts `work` on a new thread, with the cancel flag cleared.
  void Start(std::function<void()> work, std::function<void()> done);
  bool Running() const { return thread_ != nullptr; }
  void Cancel() { cancel_ = true; }
  bool CancelRequested() const { return cancel_.load(); }
  // For the work, which reads it on its own thread.
  const std::atomic<bool>& CancelFlag() const { return cancel_; }

 private:
  void Ended();

  QObject* window_;
  QString name_;
  QThread* thread_ = nullptr;
  std::function<void()> done_;
  std::atomic<bool> cancel_{false};
};

// On the worker's thread: whether step `done` of `total` is handed to the window. A large run has
// tens of thousands of steps, and a repaint for each would only slow it down: at most one every
// 40 ms, and always the first and the last.
class ProgressPace {
 public:
  bool Due(int done, int total);

 private:
  QElapsedTimer sincePost_;
};

}  // namespace lumivex
