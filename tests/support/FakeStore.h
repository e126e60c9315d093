// An in-memory mail store for unit tests of the scan, the run and the writers: contacts are maps
// of property name to text, and any call can be made to fail, for the paths a real store file
// cannot produce on demand.
#pragma once

#include "source/MailStore.h"

#include <QMap>
#include <QSet>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumivex::testing {

struct FakeContact {
  QMap<QString, QString> properties;  // absent name = absent property (reads as empty)
  QSet<QString> failing;              // names whose read fails
  bool unreadable = false;            // every read fails
  // What ReadContact gives. Without it, ReadContact gives the name parts, full name, company,
  // job title, first e-mail address and body of `properties`. ReadContact fails when the entry
  // is unreadable or any of its properties is failing.
  std::optional<contact::Contact> full;
};

class FakeFolder : public Folder, public std::enable_shared_from_this<FakeFolder> {
 public:
  FakeFolder(QString name, QString containerClass);

  QString Name() const override { return name_; }
  QString Path() const override;
  QString ContainerClass() const override { return containerClass_; }
  int DefaultItemType() const override;
  std::shared_ptr<Items> GetItems() const override;
  std::vector<std::shared_ptr<Folder>> SubFolders() const override;
  bool Hidden() const override { return hidden; }

  std::shared_ptr<FakeFolder> AddFolder(const QString& name, const QString& containerClass);
  FakeFolder& Add(FakeContact contact);

  std::vector<FakeContact> contacts;
  bool failItems = false;    // GetItems throws
  bool hidden = false;       // kept out of sight, as a search folder
  int extraCountDuring = 0;  // Count() grows by this much after the first Item() call
  mutable int itemCalls = 0;

 private:
  QString name_;
  QString containerClass_;
  const FakeFolder* parent_ = nullptr;
  std::vector<std::shared_ptr<FakeFolder>> children_;
};

class FakeStore : public Store {
 public:
  explicit FakeStore(QString path = QStringLiteral("/fake/store.pst"));
  QString FilePath() const override { return path_; }
  QString DisplayName() const override { return QStringLiteral("Personal Folders"); }
  std::shared_ptr<Folder> RootFolder() const override { return root_; }
  std::shared_ptr<Folder> DefaultContactsFolder() const override { return defaultContacts; }

  std::shared_ptr<FakeFolder> root() const { return root_; }
  // "Top of Personal Folders" with a "Contacts" folder that becomes the default contacts folder.
  std::shared_ptr<FakeFolder> top;
  std::shared_ptr<FakeFolder> defaultContacts;

 private:
  QString path_;
  std::shared_ptr<FakeFolder> root_;
};

// Records every call of a MailSession, and lets each one fail.
struct FakeMail {
  std::shared_ptr<FakeStore> defaultStore = std::make_shared<FakeStore>();
  std::map<QString, std::shared_ptr<FakeStore>> files;  // what AddStore can attach, by path
  // Chooses among the attached stores; null = cancel.
  std::function<std::shared_ptr<Folder>(const std::vector<std::shared_ptr<Store>>&)> picker;

  bool failCreateApp = false;
  bool failLogon = false;
  std::vector<std::string> calls;  // "CreateMailClientApp", "GetNamespace", "AddStore <path>", ...
  int openSessions = 0;            // sessions logged on and not logged off
  // Called with "MailClientApp", "MapiNamespace" or "RdoSession" as each one is released.
  std::function<void(const std::string&)> onRelease;
};

// A MailProvider over FakeMail; install it with SetMailProvider.
std::shared_ptr<MailProvider> MakeFakeProvider(std::shared_ptr<FakeMail> mail);

// A contact with the usual fields filled from a first and last name.
FakeContact MakeContact(const QString& first, const QString& last);

}  // namespace lumivex::testing
