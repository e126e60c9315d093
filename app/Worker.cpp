#include "app/Worker.h"

#include <QObject>
#include <QThread>

#include <utility>

namespace lumivex {

namespace {
constexpr qint64 kProgressMs = 40;
}  // namespace

Worker::Worker(QObject* window, QString name) : window_(window), name_(std::move(name)) {}

Worker::~Worker() {
  if (thread_ == nullptr) return;
  cancel_ = true;
  thread_->wait();
  delete thread_;
}

void Worker::Start(std::function<void()> work, std::function<void()> done) {
  cancel_ = false;
  done_ = std::move(done);
  thread_ = QThread::create(std::move(work));
  thread_->setObjectName(name_);
  QObject::connect(thread_, &QThread::finished, window_, [this] { Ended(); });
  thread_->start();
}

void Worker::Ended() {
  if (thread_ == nullptr) return;
  thread_->wait();
  thread_->deleteLater();
  thread_ = nullptr;
  if (done_) std::exchange(done_, nullptr)();
}

bool ProgressPace::Due(int done, int total) {
  if (done != 1 && done != total && sincePost_.isValid() && !sincePost_.hasExpired(kProgressMs))
    return false;
  sincePost_.start();
  return true;
}

}  // namespace lumivex
