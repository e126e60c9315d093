#include "tests/support/FakeStore.h"

namespace lumivex::testing {

namespace {

class FakeEntry : public ContactEntry {
 public:
  explicit FakeEntry(const FakeContact* contact) : contact_(contact) {}
  bool Read(std::string_view name, QString& value) const override {
    if (contact_ == nullptr || contact_->unreadable) return false;
    const QString key = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    if (contact_->failing.contains(key)) return false;
    value = contact_->properties.value(key);
    return true;
  }
  bool ReadContact(contact::Contact& contact, QString& why) const override {
    contact = contact::Contact();  // nothing of what it held stays
    if (contact_ == nullptr || contact_->unreadable) {
      why = Failure();
      return false;
    }
    if (!contact_->failing.isEmpty()) {
      why = QStringLiteral("the property %1 cannot be read").arg(*contact_->failing.begin());
      return false;
    }
    if (contact_->full) {
      contact = *contact_->full;
      return true;
    }
    const auto& p = contact_->properties;
    contact.givenName = p.value(QStringLiteral("FirstName"));
    contact.middleName = p.value(QStringLiteral("MiddleName"));
    contact.surname = p.value(QStringLiteral("LastName"));
    contact.displayName = p.value(QStringLiteral("FullName"));
    contact.company = p.value(QStringLiteral("CompanyName"));
    contact.jobTitle = p.value(QStringLiteral("JobTitle"));
    contact.notes = p.value(QStringLiteral("Body"));
    if (!p.value(QStringLiteral("Email1Address")).isEmpty())
      contact.emails.push_back(
          {p.value(QStringLiteral("Email1Address")), {}, QStringLiteral("SMTP")});
    return true;
  }
  QString Failure() const override {
    if (contact_ == nullptr) return QStringLiteral("there is no entry at this position");
    if (contact_->unreadable) return QStringLiteral("the entry's data cannot be read");
    return {};
  }

 private:
  const FakeContact* contact_;
};

class FakeItems : public Items {
 public:
  explicit FakeItems(std::shared_ptr<const FakeFolder> folder) : folder_(std::move(folder)) {}
  int Count() const override {
    return static_cast<int>(folder_->contacts.size()) +
           (folder_->itemCalls > 0 ? folder_->extraCountDuring : 0);
  }
  std::unique_ptr<ContactEntry> Item(int index) const override {
    ++folder_->itemCalls;
    const bool inRange = index >= 0 && index < static_cast<int>(folder_->contacts.size());
    return std::make_unique<FakeEntry>(inRange ? &folder_->contacts[index] : nullptr);
  }

 private:
  std::shared_ptr<const FakeFolder> folder_;
};

void Released(const FakeMail& mail, const std::string& what) {
  if (mail.onRelease) mail.onRelease(what);
}

class FakeNamespace : public MapiNamespace {
 public:
  explicit FakeNamespace(std::shared_ptr<FakeMail> mail) : mail_(std::move(mail)) {}
  ~FakeNamespace() override { Released(*mail_, "MapiNamespace"); }
  void AddStore(const QString& path) override {
    mail_->calls.push_back("AddStore " + path.toStdString());
    auto it = mail_->files.find(path);
    if (it == mail_->files.end())
      throw StoreError("Cannot open " + path.toStdString() + ": not a personal-folder file");
    attached_.push_back(it->second);
  }
  std::shared_ptr<Folder> PickFolder() override {
    mail_->calls.push_back("PickFolder");
    return mail_->picker ? mail_->picker(attached_) : nullptr;
  }
  std::vector<std::shared_ptr<Store>> Stores() const override { return attached_; }

 private:
  std::shared_ptr<FakeMail> mail_;
  std::vector<std::shared_ptr<Store>> attached_;
};

class FakeApp : public MailClientApp {
 public:
  explicit FakeApp(std::shared_ptr<FakeMail> mail) : mail_(std::move(mail)) {}
  ~FakeApp() override { Released(*mail_, "MailClientApp"); }
  std::unique_ptr<MapiNamespace> GetNamespace(const QString& type) override {
    mail_->calls.push_back("GetNamespace " + type.toStdString());
    return std::make_unique<FakeNamespace>(mail_);
  }

 private:
  std::shared_ptr<FakeMail> mail_;
};

class FakeRdo : public RdoSession {
 public:
  explicit FakeRdo(std::shared_ptr<FakeMail> mail) : mail_(std::move(mail)) {}
  ~FakeRdo() override { Released(*mail_, "RdoSession"); }
  void Logon() override {
    mail_->calls.push_back("Logon");
    if (mail_->failLogon) throw StoreError("No default store: the profile has no data file");
    ++mail_->openSessions;
  }
  std::shared_ptr<Folder> GetDefaultFolder(int kind) override {
    mail_->calls.push_back("GetDefaultFolder " + std::to_string(kind));
    auto folder = mail_->defaultStore->DefaultContactsFolder();
    if (kind != kFolderContacts || !folder) throw StoreError("The store has no contacts folder");
    return folder;
  }
  void Logoff() override {
    mail_->calls.push_back("Logoff");
    --mail_->openSessions;
  }

 private:
  std::shared_ptr<FakeMail> mail_;
};

class FakeProvider : public MailProvider {
 public:
  explicit FakeProvider(std::shared_ptr<FakeMail> mail) : mail_(std::move(mail)) {}
  std::unique_ptr<MailClientApp> CreateMailClientApp() override {
    mail_->calls.push_back("CreateMailClientApp");
    if (mail_->failCreateApp) throw StoreError("The mail client cannot be started");
    return std::make_unique<FakeApp>(mail_);
  }
  std::unique_ptr<RdoSession> CreateRdoSession() override {
    mail_->calls.push_back("CreateRdoSession");
    return std::make_unique<FakeRdo>(mail_);
  }

 private:
  std::shared_ptr<FakeMail> mail_;
};

}  // namespace

FakeFolder::FakeFolder(QString name, QString containerClass)
    : name_(std::move(name)), containerClass_(std::move(containerClass)) {}

QString FakeFolder::Path() const {
  if (parent_ == nullptr) return {};
  const QString above = parent_->Path();
  return above.isEmpty() ? name_ : above + u'/' + name_;
}

int FakeFolder::DefaultItemType() const {
  return containerClass_ == u"IPF.Contact" || containerClass_.startsWith(u"IPF.Contact.")
             ? kContactItem
             : kMailItem;
}

std::shared_ptr<Items> FakeFolder::GetItems() const {
  if (failItems) throw StoreError("The folder's contents table cannot be read");
  return std::make_shared<FakeItems>(shared_from_this());
}

std::vector<std::shared_ptr<Folder>> FakeFolder::SubFolders() const {
  return {children_.begin(), children_.end()};
}

std::shared_ptr<FakeFolder> FakeFolder::AddFolder(const QString& name,
                                                  const QString& containerClass) {
  auto child = std::make_shared<FakeFolder>(name, containerClass);
  child->parent_ = this;
  children_.push_back(child);
  return child;
}

FakeFolder& FakeFolder::Add(FakeContact contact) {
  contacts.push_back(std::move(contact));
  return *this;
}

FakeStore::FakeStore(QString path)
    : path_(std::move(path)), root_(std::make_shared<FakeFolder>(QString(), QString())) {
  top = root_->AddFolder(QStringLiteral("Top of Personal Folders"), QString());
  top->AddFolder(QStringLiteral("Inbox"), QStringLiteral("IPF.Note"));
  defaultContacts = top->AddFolder(QStringLiteral("Contacts"), QStringLiteral("IPF.Contact"));
}

std::shared_ptr<MailProvider> MakeFakeProvider(std::shared_ptr<FakeMail> mail) {
  return std::make_shared<FakeProvider>(std::move(mail));
}

FakeContact MakeContact(const QString& first, const QString& last) {
  FakeContact contact;
  contact.properties.insert(QStringLiteral("FirstName"), first);
  contact.properties.insert(QStringLiteral("LastName"), last);
  contact.properties.insert(QStringLiteral("FullName"), first + u' ' + last);
  contact.properties.insert(
      QStringLiteral("Email1Address"),
      first.toLower() + u'.' + last.toLower() + QStringLiteral("@example.com"));
  return contact;
}

}  // namespace lumivex::testing
