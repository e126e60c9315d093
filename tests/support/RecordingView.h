// A ConversionView that records what the run shows, in order, for tests of the run and writers.
#pragma once

#include "convert/ConversionRun.h"

#include <QString>
#include <QStringList>

namespace lumivex::testing {

struct ShownMessage {
  QString text;
  QString title;
  int style = 0;
};

class RecordingView : public ConversionView {
 public:
  void SetProgressRange(int minimum, int maximum) override {
    events << QStringLiteral("range %1..%2").arg(minimum).arg(maximum);
    rangeMax = maximum;
  }
  void SetProgressValue(int value) override {
    events << QStringLiteral("value %1").arg(value);
    progressValue = value;
  }
  void SetProgressLabel(const QString& text) override {
    events << QStringLiteral("label ") + text;
    labels << text;
  }
  void EnableButtons() override {
    events << QStringLiteral("enable");
    buttonsEnabled = true;
  }
  void ShowMessage(const QString& text, const QString& title, int style) override {
    events << QStringLiteral("message ") + text;
    messages.push_back({text, title, style});
  }
  void Hide() override {
    events << QStringLiteral("hide");
    hidden = true;
  }
  // Kept apart from `events`: the window shows nothing for them.
  void OutputFailed(const QString& path, const QString& reason) override {
    failedOutputs << path + QStringLiteral(": ") + reason;
  }
  void EntryUnreadable(const QString& folder, int position, const QString& reason) override {
    unreadable << QStringLiteral("%1 #%2").arg(folder).arg(position);
    unreadableReasons << reason;
  }

  QStringList events;  // everything, in order: "range 0..3", "value 1", "label Saving...", ...
  QStringList labels;
  QStringList failedOutputs;      // "path: reason"
  QStringList unreadable;         // "folder #position"
  QStringList unreadableReasons;  // their reasons, in the same order
  std::vector<ShownMessage> messages;
  int rangeMax = -1;
  int progressValue = -1;
  bool buttonsEnabled = false;
  bool hidden = false;
};

}  // namespace lumivex::testing
