// A conversion run over a fake store, answered by a scripted folder browser.
#pragma once

#include "common/Module1.h"
#include "convert/ConversionRun.h"
#include "tests/support/FakeStore.h"
#include "tests/support/RecordingView.h"
#include "tests/support/TestPaths.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <ostream>

// Test failures show text as text.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace lumivex::testing {

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Module1::Reset();
    Module1::ResetRandomNumber();
    mail = std::make_shared<FakeMail>();
    SetMailProvider(MakeFakeProvider(mail));
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    target = ScratchDir(QStringLiteral("%1-%2").arg(info->test_suite_name(), info->name()));
    Module1::SetFolderBrowser([this](int32_t, const QString& title) {
      ++browserCalls;
      EXPECT_EQ(title, u"Select Path to Save File");
      return target;
    });
  }
  void TearDown() override {
    Module1::SetFolderBrowser(nullptr);
    Module1::Reset();
  }

  FakeFolder& Contacts() { return *mail->defaultStore->defaultContacts; }
  void AddContacts(std::initializer_list<std::pair<const char*, const char*>> names) {
    for (const auto& [first, last] : names)
      Contacts().Add(MakeContact(QString::fromUtf8(first), QString::fromUtf8(last)));
  }

  RunResult Run(OutputOptions output, SourceOptions source = DefaultSource()) {
    return RunConversion(source, output, view);
  }
  static SourceOptions DefaultSource() { return {.defaultStore = true, .selectStore = false}; }
  static OutputOptions Single() { return {.vCardComplete = true}; }
  static OutputOptions Each() { return {.vCardEach = true}; }

  QStringList Files() const { return QDir(target).entryList(QDir::Files, QDir::Name); }
  QByteArray Read(const QString& name) const {
    QFile file(target + u'/' + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  std::shared_ptr<FakeMail> mail;
  RecordingView view;
  QString target;
  int browserCalls = 0;
};

}  // namespace lumivex::testing
