// A conversion run over a fake store, answered by a scripted folder browser.
#pragma once

#include "common/Module1.h"
#include "convert/ConversionRun.h"
#include "tests/support/FakeStore.h"
#include "tests/support/RecordingView.h"
#include "tests/support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace lumivex::testing {

// Whether a file is named as every single-file export names it: OutlookContacts-, the day, month,
// year, hours, minutes and seconds, then the extension.
inline bool HasStemName(const QString& path, const char* extension) {
  return QRegularExpression(QStringLiteral(R"(^OutlookContacts-\d\d-\d\d-\d{4}-\d\d-\d\d-\d\d\.)") +
                            QLatin1String(extension) + u'$')
      .match(QFileInfo(path).fileName())
      .hasMatch();
}

// A contact with every field of a vCard record filled, separators and a line break among them.
inline FakeContact VCardContact() {
  FakeContact c;
  c.properties = {
      {"FirstName", "Ann"},
      {"MiddleName", "Marie"},
      {"LastName", "Lee"},
      {"FullName", "Ann Marie Lee"},
      {"CompanyName", "Quorvane; Ltd"},
      {"Department", "Sales, North"},
      {"JobTitle", "Buyer"},
      {"Body", "First paragraph.\r\nSecond paragraph."},
      {"BusinessTelephoneNumber", "+1 555 0100"},
      {"HomeTelephoneNumber", "+1 555 0101"},
      {"MobileTelephoneNumber", "+1 555 0102"},
      {"PagerNumber", "+1 555 0103"},
      {"BusinessFaxNumber", "+1 555 0104"},
      {"HomeFaxNumber", "+1 555 0105"},
      {"OfficeLocation", "Room 4"},
      {"BusinessAddressStreet", "1 Main St"},
      {"BusinessAddressCity", "Springfield"},
      {"BusinessAddressState", "IL"},
      {"BusinessAddressPostalCode", "62701"},
      {"BusinessAddressCountry", "USA"},
      {"HomeAddressStreet", "2 Elm Rd"},
      {"HomeAddressCity", "Shelbyville"},
      {"HomeAddressState", "IN"},
      {"HomeAddressPostalCode", "46176"},
      {"HomeAddressCountry", "USA"},
      {"WebPage", "http://ann.example"},
      {"Birthday", "3/14/1970"},
      {"Email1Address", "ann@example.com"},
  };
  return c;
}

// A conversion run's fixture, its view recording what the run shows.
template <typename View>
class BasicRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Module1::Reset();
    Module1::ResetRandomNumber();
    mail = std::make_shared<FakeMail>();
    SetMailProvider(MakeFakeProvider(mail));
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    target = ScratchDir(QStringLiteral("%1-%2").arg(info->test_suite_name(), info->name()));
    Module1::SetFolderBrowser([this](int32_t, const QString& title) {
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
  View view;
  QString target;
};

using RunTest = BasicRunTest<RecordingView>;

}  // namespace lumivex::testing
