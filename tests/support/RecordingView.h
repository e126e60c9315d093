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

  QStringList events;  // everything, in order: "range 0..3", "value 1", "label Saving...", ...
  QStringList labels;
  std::vector<ShownMessage> messages;
  int rangeMax = -1;
  int progressValue = -1;
  bool buttonsEnabled = false;
  bool hidden = false;
};

}  // namespace lumivex::testing
