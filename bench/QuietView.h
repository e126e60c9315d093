// A conversion view that shows nothing: what a run costs without a window, the yardstick of the
// window's own cost.
#pragma once

#include "convert/ConversionRun.h"

namespace lumivex::bench {

class QuietView : public ConversionView {
 public:
  void SetProgressRange(int, int) override {}
  void SetProgressValue(int) override {}
  void SetProgressCount(int, int) override {}
  void SetProgressLabel(const QString&) override {}
  void EnableButtons() override {}
  void ShowMessage(const QString&, const QString&, int) override {}
  void Hide() override {}
};

}  // namespace lumivex::bench
