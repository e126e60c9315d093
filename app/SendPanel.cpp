#include "app/SendPanel.h"

#include "app/Dialogs.h"
#include "app/Remembered.h"
#include "app/RunLabels.h"
#include "app/ScreenFit.h"
#include "convert/Utf8Export.h"
#include "destination/CardDavDestination.h"
#include "destination/Destinations.h"
#include "destination/EvolutionModule.h"
#include "destination/Keyring.h"
#include "destination/TrustedCertificates.h"
#include "merge/ContactSources.h"
#include "source/MailStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace lumivex {

using namespace lumivex::destination;

namespace {

// At most this many contacts not sent are named; the rest are counted.
constexpr size_t kProblemsShown = 8;

SendPanel::ProgressHook& HookSlot() {
  static SendPanel::ProgressHook hook;
  return hook;
}

QString Count(int n, const char* one, const char* many) {
  return QStringLiteral("%1 %2").arg(n).arg(QString::fromLatin1(n == 1 ? one : many));
}

}  // namespace

// One send, or one look at a CardDAV account's books, on the worker thread. The store reader is
// not made for two threads at once: the window is modal while it runs (as the export dialog is),
// and what the worker opens it also drops on its own thread.
struct SendPanel::Job : public SendObserver {
  bool listOnly = false;  // find the CardDAV account's books, send nothing
  ContactsMaker contacts;
  ParsedDestination where;
  DestinationSettings settings;
  SendOptions options;
  SendPanel* panel = nullptr;
  const std::atomic<bool>* cancel = nullptr;
  bool remember = false;

  // How it ended.
  SendResult result;
  std::vector<contact::EntryProblem> unread;  // entries not read, or read without some fields
  QStringList newUids;  // the stores whose contacts get UIDs no earlier send gave them
  std::vector<AddressBookInfo> books;
  QString described;
  QString error;
  QString keyringTrouble;
  UntrustedCertificate untrusted;  // the certificate the server showed, when not trusted
  bool stopped = false;            // the look at the books was cancelled

  ProgressPace pace;

  void Progress(int done, int total) override {
    if (const ProgressHook& hook = HookSlot()) hook(done);
    if (!pace.Due(done, total)) return;
    SendPanel* target = panel;
    QMetaObject::invokeMethod(
        target, [target, done, total] { target->ShowProgress(done, total); }, Qt::QueuedConnection);
  }
  bool Cancelled() const override { return cancel->load(); }

  void Run() {
    try {
      std::unique_ptr<Destination> destination = MakeDestination(where, settings);
      if (listOnly) {
        books = static_cast<CardDavDestination&>(*destination).Books([flag = cancel] {
          return flag->load();
        });
      } else {
        const std::unique_ptr<contact::ContactStream> stream = contacts();
        // Contacts under UIDs made anew go only into a book that holds no card yet: beside the
        // cards of earlier sends they could be the same people twice.
        newUids = stream->NewUidStores();
        options.onlyIntoEmpty = !newUids.isEmpty();
        result = destination->Send(*stream, options, *this);
        unread = stream->Problems();
      }
      described = destination->Describe();  // after the send, which may have named the book
      // The password worked: kept now if the user asked for it.
      if (remember && !settings.password.isEmpty()) {
        if (!RememberPassword(KeyringAccountOf(where.where, settings.user), settings.password,
                              keyringTrouble) &&
            keyringTrouble.isEmpty())
          keyringTrouble = QStringLiteral("the keyring did not keep it");
      }
    } catch (const SendStopped&) {
      stopped = true;
    } catch (const DestinationHoldsCards& failure) {
      error = QStringLiteral(
                  "The record key of %1 cannot be read, so its contacts get new UIDs, not those "
                  "earlier sends gave them; %2 already holds %3 cards, which may be the same "
                  "people under their old UIDs and would then be there twice.\n\n"
                  "Send them into a new, empty address book instead.")
                  .arg(newUids.join(QStringLiteral(", ")), QString::fromUtf8(failure.what()))
                  .arg(failure.cards());
    } catch (const DestinationError& failure) {
      error = QString::fromUtf8(failure.what());
      const QString advice = Advice(failure.remedy(), where.kind == DestinationKind::kEvolution);
      if (!advice.isEmpty()) error += QStringLiteral("; ") + advice;
      if (failure.remedy() == Remedy::kTrustCertificate) untrusted = failure.certificate();
    } catch (const StoreError& failure) {
      error = QStringLiteral(
                  "The contacts could not be read from the store: %1\n\nCheck that the file is "
                  "still there and readable, scan it again in the main window, then send again.")
                  .arg(QString::fromUtf8(failure.what()));
    } catch (const std::exception& failure) {
      error = QStringLiteral("The send stopped: %1\n\nSending again finishes the job.")
                  .arg(QString::fromUtf8(failure.what()));
    }
  }
};

QString SendPanel::Advice(Remedy remedy, bool evolution) {
  switch (remedy) {
    case Remedy::kNone:
      break;
    case Remedy::kCredentials:
      return QStringLiteral("check the User and Password boxes");
    case Remedy::kTrustCertificate:
      return QStringLiteral(
          "if this is your own server and that is its certificate's fingerprint, click Trust "
          "This Certificate");
    case Remedy::kChooseBook:
      return evolution
                 ? QStringLiteral("choose one in the list beside GNOME / Evolution")
                 : QStringLiteral("choose one in the Address book list (Test Connection fills it)");
    case Remedy::kNewBook:
      return QStringLiteral("type a name in the Address book box: Send makes that book");
    case Remedy::kOverwrite:
      return QStringLiteral(
          "tick \"Replace contacts changed in the address book since the last send\" to send "
          "it again");
    case Remedy::kNetwork:  // the destination's text says what to check
      break;
    case Remedy::kOtherServer:
      return QStringLiteral("if that address is your address book's, type it in the Server box");
  }
  return {};
}

void SendPanel::SetProgressHook(ProgressHook hook) {
  HookSlot() = std::move(hook);
}

namespace {

// The contacts of `inner`, each with the folders of its entries among its categories.
class WithFolderCategories : public contact::ContactStream {
 public:
  explicit WithFolderCategories(std::unique_ptr<contact::ContactStream> inner)
      : inner_(std::move(inner)) {}
  int Total() const override { return inner_->Total(); }
  bool Next(contact::SourcedContact& out) override {
    if (!inner_->Next(out)) return false;
    AddFolderCategories(out);
    return true;
  }
  const std::vector<contact::EntryProblem>& Problems() const override { return inner_->Problems(); }
  QStringList NewUidStores() const override { return inner_->NewUidStores(); }

 private:
  std::unique_ptr<contact::ContactStream> inner_;
};

}  // namespace

merge::StoreSelection StoreSelectionOf(const QString& store, const QString& folder, bool allFolders,
                                       bool merge) {
  merge::StoreSelection options;
  if (!store.isEmpty()) options.stores = {store};
  options.folder = allFolders ? QString() : folder;
  options.allFolders = allFolders;
  options.merge = merge;
  return options;
}

SendPanel::ContactsMaker StoreContacts(const QString& store, const QString& folder, bool allFolders,
                                       bool merge) {
  const merge::StoreSelection options = StoreSelectionOf(store, folder, allFolders, merge);
  return [options]() -> std::unique_ptr<contact::ContactStream> {
    std::vector<StoreFolders> sources = merge::FindSources(options);
    // Where several folders give contacts, each carries its folders as categories, as the
    // export and the command line's send give them.
    const bool categories = SeveralFoldersGiveContacts(sources);
    std::unique_ptr<contact::ContactStream> contacts =
        merge::OpenContacts(std::move(sources), options.merge);
    if (!categories) return contacts;
    return std::make_unique<WithFolderCategories>(std::move(contacts));
  };
}

SendPanel::SendPanel(QWidget* owner, ContactsMaker contacts, const QString& sourceText)
    : QDialog(owner), contacts_(std::move(contacts)) {
  setObjectName(QStringLiteral("SendPanel"));
  setWindowTitle(QStringLiteral("Send to an Address Book"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  auto* layout = new QVBoxLayout(this);

  LblSource = new QLabel(sourceText, this);
  LblSource->setObjectName(QStringLiteral("LblSource"));
  LblSource->setWordWrap(true);
  layout->addWidget(LblSource);
  layout->addWidget(BuildWhere());
  BuildProgress(layout);
  layout->addLayout(BuildButtons());
  Connect();

  setMinimumWidth(600);
  FitToScreen(this, sizeHint(), layout->itemAt(layout->count() - 1)->layout());
  // The last send's choices: where to, the server, user and book (the password stays in the
  // keyring), and the window's size.
  const auto last = Remembered();
  last->beginGroup(QStringLiteral("send"));
  EdtServer->setText(last->value(QStringLiteral("server")).toString());
  EdtUser->setText(last->value(QStringLiteral("user")).toString());
  CboBook->setEditText(last->value(QStringLiteral("book")).toString());
  if (const QString kde = last->value(QStringLiteral("kdeFolder")).toString(); !kde.isEmpty())
    EdtKdeFolder->setText(kde);
  evolutionBook_ = last->value(QStringLiteral("evolutionBook")).toString();
  const QString where = last->value(QStringLiteral("where")).toString();
  last->endGroup();
  RestoreSize(this, QStringLiteral("send"));
  (where == u"evolution" ? OptEvolution : where == u"kde" ? OptKde : OptCardDav)->setChecked(true);
  UpdateOptions();
}

void SendPanel::Remember() const {
  const auto last = Remembered();
  last->beginGroup(QStringLiteral("send"));
  last->setValue(QStringLiteral("where"), OptEvolution->isChecked() ? QStringLiteral("evolution")
                                          : OptKde->isChecked()     ? QStringLiteral("kde")
                                                                    : QStringLiteral("carddav"));
  if (OptCardDav->isChecked()) {
    last->setValue(QStringLiteral("server"), EdtServer->text().trimmed());
    last->setValue(QStringLiteral("user"), EdtUser->text().trimmed());
    last->setValue(QStringLiteral("book"), CboBook->currentText().trimmed());
  }
  if (OptKde->isChecked())
    last->setValue(QStringLiteral("kdeFolder"), EdtKdeFolder->text().trimmed());
  if (OptEvolution->isChecked())
    last->setValue(QStringLiteral("evolutionBook"), CboEvolutionBook->currentData().toString());
  last->endGroup();
  RememberSize(this, QStringLiteral("send"));
}

// The choice of address book: Evolution's, a KDE folder, or a CardDAV account.
QGroupBox* SendPanel::BuildWhere() {
  auto* whereBox = new QGroupBox(QStringLiteral("Address book"), this);
  auto* whereLayout = new QVBoxLayout(whereBox);
  OptEvolution = new QRadioButton(QStringLiteral("GNOME / Evolution"), whereBox);
  OptEvolution->setObjectName(QStringLiteral("OptEvolution"));
  CboEvolutionBook = new QComboBox(whereBox);
  CboEvolutionBook->setObjectName(QStringLiteral("CboEvolutionBook"));
  auto* evolutionRow = new QHBoxLayout;
  evolutionRow->addWidget(OptEvolution);
  evolutionRow->addWidget(CboEvolutionBook, 1);
  whereLayout->addLayout(evolutionRow);

  OptKde = new QRadioButton(QStringLiteral("KDE Contacts (folder)"), whereBox);
  OptKde->setObjectName(QStringLiteral("OptKde"));
  EdtKdeFolder = new QLineEdit(KdeContactsFolder(), whereBox);
  EdtKdeFolder->setObjectName(QStringLiteral("EdtKdeFolder"));
  CmdBrowseKde = new QPushButton(QStringLiteral("&Browse..."), whereBox);
  CmdBrowseKde->setObjectName(QStringLiteral("CmdBrowseKde"));
  auto* kdeRow = new QHBoxLayout;
  kdeRow->addWidget(OptKde);
  kdeRow->addWidget(EdtKdeFolder, 1);
  kdeRow->addWidget(CmdBrowseKde);
  whereLayout->addLayout(kdeRow);

  OptCardDav = new QRadioButton(
      QStringLiteral("CardDAV server (Nextcloud, Radicale, Fastmail, iCloud, ...)"), whereBox);
  OptCardDav->setObjectName(QStringLiteral("OptCardDav"));
  whereLayout->addWidget(OptCardDav);
  whereLayout->addLayout(BuildAccount(whereBox));
  return whereBox;
}

// The CardDAV account's server, user, password and book.
QFormLayout* SendPanel::BuildAccount(QGroupBox* whereBox) {
  auto* account = new QFormLayout;
  account->setContentsMargins(24, 0, 0, 0);
  EdtServer = new QLineEdit(whereBox);
  EdtServer->setObjectName(QStringLiteral("EdtServer"));
  EdtServer->setPlaceholderText(QStringLiteral("https://cloud.example.org/ or you@example.org"));
  CmdTrust = new QPushButton(QStringLiteral("T&rust This Certificate"), whereBox);
  CmdTrust->setObjectName(QStringLiteral("CmdTrust"));
  CmdTrust->setVisible(false);
  CmdForgetCertificate = new QPushButton(QStringLiteral("For&get Trusted Certificate"), whereBox);
  CmdForgetCertificate->setObjectName(QStringLiteral("CmdForgetCertificate"));
  CmdForgetCertificate->setVisible(false);
  EdtUser = new QLineEdit(whereBox);
  EdtUser->setObjectName(QStringLiteral("EdtUser"));
  EdtPassword = new QLineEdit(whereBox);
  EdtPassword->setObjectName(QStringLiteral("EdtPassword"));
  EdtPassword->setEchoMode(QLineEdit::Password);
  ChkRemember = new QCheckBox(QStringLiteral("Remember password"), whereBox);
  ChkRemember->setObjectName(QStringLiteral("ChkRemember"));
  CboBook = new QComboBox(whereBox);
  CboBook->setObjectName(QStringLiteral("CboBook"));
  CboBook->setEditable(true);
  CboBook->lineEdit()->setPlaceholderText(QStringLiteral("the only book, or a new one's name"));
  CmdTest = new QPushButton(QStringLiteral("&Test Connection"), whereBox);
  CmdTest->setObjectName(QStringLiteral("CmdTest"));
  auto* passwordRow = new QHBoxLayout;
  passwordRow->addWidget(EdtPassword, 1);
  passwordRow->addWidget(ChkRemember);
  auto* bookRow = new QHBoxLayout;
  bookRow->addWidget(CboBook, 1);
  bookRow->addWidget(CmdTest);
  auto* serverRow = new QHBoxLayout;
  serverRow->addWidget(EdtServer, 1);
  serverRow->addWidget(CmdTrust);
  serverRow->addWidget(CmdForgetCertificate);
  auto* serverLabel = new QLabel(QStringLiteral("Ser&ver:"), whereBox);
  serverLabel->setBuddy(EdtServer);
  account->addRow(serverLabel, serverRow);
  account->addRow(QStringLiteral("&User:"), EdtUser);
  // A row of several widgets gets its label's shortcut only through a buddy of its own.
  auto* passwordLabel = new QLabel(QStringLiteral("&Password:"), whereBox);
  passwordLabel->setBuddy(EdtPassword);
  auto* bookLabel = new QLabel(QStringLiteral("Address b&ook:"), whereBox);
  bookLabel->setBuddy(CboBook);
  account->addRow(passwordLabel, passwordRow);
  account->addRow(bookLabel, bookRow);
  return account;
}

// The overwrite choice, the progress and the outcome.
void SendPanel::BuildProgress(QVBoxLayout* layout) {
  ChkOverwrite = new QCheckBox(
      QStringLiteral("Replace contacts changed in the address book since the last send"), this);
  ChkOverwrite->setObjectName(QStringLiteral("ChkOverwrite"));
  layout->addWidget(ChkOverwrite);

  ProgBarSend = NewRunBar(this, QStringLiteral("ProgBarSend"));
  layout->addWidget(ProgBarSend);
  LblProgress = NewProgressLine(this, QStringLiteral("Choose the address book, then click Send."));
  layout->addWidget(LblProgress);
  LblResult = NewResultText(this);
  layout->addWidget(LblResult, 1);
}

QHBoxLayout* SendPanel::BuildButtons() {
  auto* buttons = new QHBoxLayout;
  CmdSend = new QPushButton(QStringLiteral("&Send"), this);
  CmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
  CmdClose = new QPushButton(QStringLiteral("&Close"), this);
  CmdSend->setObjectName(QStringLiteral("CmdSend"));
  CmdCancel->setObjectName(QStringLiteral("CmdCancel"));
  CmdClose->setObjectName(QStringLiteral("CmdClose"));
  CmdSend->setDefault(true);
  CmdCancel->setEnabled(false);
  buttons->addStretch(1);
  buttons->addWidget(CmdSend);
  buttons->addWidget(CmdCancel);
  buttons->addWidget(CmdClose);
  return buttons;
}

void SendPanel::Connect() {
  for (QRadioButton* option : {OptEvolution, OptKde, OptCardDav})
    connect(option, &QRadioButton::toggled, this, [this] { UpdateOptions(); });
  connect(CmdBrowseKde, &QPushButton::clicked, this, [this] {
    const QString folder =
        CurrentDialogs().BrowseFolder(this, QStringLiteral("Choose the Contacts Folder"));
    if (!folder.isEmpty()) EdtKdeFolder->setText(folder);
  });
  connect(EdtServer, &QLineEdit::editingFinished, this, [this] {
    TakeServerLogin();
    LookUpPassword();
    ShowCertificateChoice();
  });
  connect(EdtUser, &QLineEdit::editingFinished, this, [this] { LookUpPassword(); });
  connect(ChkRemember, &QCheckBox::clicked, this, [this](bool checked) {
    if (!checked) ForgetPassword();
  });
  connect(CmdTrust, &QPushButton::clicked, this, [this] { CmdTrust_Click(); });
  connect(CmdForgetCertificate, &QPushButton::clicked, this,
          [this] { CmdForgetCertificate_Click(); });
  connect(CmdTest, &QPushButton::clicked, this, [this] { CmdTest_Click(); });
  connect(CmdSend, &QPushButton::clicked, this, [this] { CmdSend_Click(); });
  connect(CmdCancel, &QPushButton::clicked, this, [this] { CmdCancel_Click(); });
  connect(CmdClose, &QPushButton::clicked, this, [this] { reject(); });
}

SendPanel::~SendPanel() = default;

void SendPanel::UpdateOptions() {
  const bool idle = !Running();
  for (QWidget* w : std::initializer_list<QWidget*>{OptEvolution, OptKde, OptCardDav, ChkOverwrite,
                                                    CmdSend, CmdClose})
    w->setEnabled(idle);
  CboEvolutionBook->setEnabled(idle && OptEvolution->isChecked() && CboEvolutionBook->count() > 0);
  for (QWidget* w : std::initializer_list<QWidget*>{EdtKdeFolder, CmdBrowseKde})
    w->setEnabled(idle && OptKde->isChecked());
  for (QWidget* w :
       std::initializer_list<QWidget*>{EdtServer, CmdTrust, CmdForgetCertificate, EdtUser,
                                       EdtPassword, ChkRemember, CboBook, CmdTest})
    w->setEnabled(idle && OptCardDav->isChecked());
  CmdCancel->setEnabled(!idle);
  if (OptEvolution->isChecked() && !evolutionListed_) ListEvolutionBooks();
}

void SendPanel::ListEvolutionBooks() {
  evolutionListed_ = true;
  CboEvolutionBook->clear();
  try {
    for (const EvolutionBookInfo& book : EvolutionBooks()) {
      if (!book.enabled) continue;
      CboEvolutionBook->addItem(
          book.isDefault ? QStringLiteral("%1 (default)").arg(book.name) : book.name, book.uid);
    }
    // The book sent into last time, while it is there.
    if (const int last = CboEvolutionBook->findData(evolutionBook_); last >= 0)
      CboEvolutionBook->setCurrentIndex(last);
    LblResult->clear();
  } catch (const DestinationError& failure) {
    CboEvolutionBook->addItem(QStringLiteral("(Evolution is not available here)"));
    LblResult->setStyleSheet(QString());
    LblResult->setText(QString::fromUtf8(failure.what()));
  }
  UpdateOptions();
}

// A login typed into the server's address goes into the User and Password boxes, and the address
// keeps the server alone: the password is then shown nowhere, and sent and kept as any other.
void SendPanel::TakeServerLogin() {
  const AddressLogin login = TakeLogin(EdtServer->text());
  if (login.user.isEmpty() && login.password.isEmpty()) return;
  EdtServer->setText(login.address);
  if (!login.user.isEmpty()) EdtUser->setText(login.user);
  if (!login.password.isEmpty()) EdtPassword->setText(login.password);
}

void SendPanel::LookUpPassword() {
  if (!EdtPassword->text().isEmpty() || EdtServer->text().trimmed().isEmpty()) return;
  const KeyringAccount account =
      KeyringAccountOf(EdtServer->text().trimmed(), EdtUser->text().trimmed());
  if (account.user.isEmpty()) return;
  QString password, why;
  if (destination::LookUpPassword(account, password, why) == KeyringAnswer::kFound) {
    EdtPassword->setText(password);
    ChkRemember->setChecked(true);
  }
}

// The user unticked "Remember password": the keyring forgets the account's password now.
void SendPanel::ForgetPassword() {
  const KeyringAccount account =
      KeyringAccountOf(EdtServer->text().trimmed(), EdtUser->text().trimmed());
  QString why;
  if (!account.user.isEmpty() && !account.host.isEmpty() &&
      !destination::ForgetPassword(account, why))
    ShowError(QStringLiteral("The keyring could not forget the password: %1.").arg(why));
}

// The user agreed to the certificate whose fingerprint the window shows: it is trusted for
// that server, and the connection tried again.
void SendPanel::CmdTrust_Click() {
  if (Running() || untrusted_.sha256.isEmpty()) return;
  QString error;
  if (!TrustCertificate(untrusted_, error)) {
    ShowError(QStringLiteral("The certificate could not be remembered: %1.").arg(error));
    return;
  }
  untrusted_ = {};
  CmdTrust->setVisible(false);
  CmdTest_Click();
}

// The user no longer trusts the certificate agreed to for this server.
void SendPanel::CmdForgetCertificate_Click() {
  if (Running()) return;
  const QString server = ServerOf(EdtServer->text());
  QString error;
  if (!ForgetCertificate(server, error)) {
    ShowError(QStringLiteral("The certificate could not be forgotten: %1.").arg(error));
    return;
  }
  ShowCertificateChoice();
  LblResult->setStyleSheet(QString());
  LblResult->setText(QStringLiteral("The certificate of %1 is no longer trusted.").arg(server));
}

// Beside the server: Trust after its certificate was refused, else Forget when one was trusted
// for it.
void SendPanel::ShowCertificateChoice() {
  CmdTrust->setVisible(!untrusted_.sha256.isEmpty());
  CmdForgetCertificate->setVisible(CmdTrust->isHidden() && !EdtServer->text().trimmed().isEmpty() &&
                                   TrustedCertificates().contains(ServerOf(EdtServer->text())));
}

void SendPanel::CmdTest_Click() {
  if (Running()) return;
  TakeServerLogin();
  auto job = std::make_shared<Job>();
  job->listOnly = true;
  Start(job, QStringLiteral("Connecting to %1...").arg(EdtServer->text().trimmed()));
}

void SendPanel::CmdSend_Click() {
  if (Running()) return;
  Start(std::make_shared<Job>(), QStringLiteral("Sending..."));
}

void SendPanel::Start(std::shared_ptr<Job> job, const QString& text) {
  if (OptEvolution->isChecked()) {
    // The book by its id, which its shown name ("Personal (default)") is not.
    job->where = {DestinationKind::kEvolution, CboEvolutionBook->currentData().toString(), {}, {}};
  } else if (OptKde->isChecked()) {
    job->where = {DestinationKind::kVdir, EdtKdeFolder->text().trimmed(), {}, {}};
  } else {
    TakeServerLogin();
    QString error;
    if (!ParseDestination(EdtServer->text().trimmed(), job->where, error) ||
        job->where.kind != DestinationKind::kCardDav) {
      // A password the address cannot hold as it stands, and an "@" in its path: typed apart,
      // it goes to the host the user meant and no other.
      ShowError(TakeLogin(EdtServer->text()).ambiguous
                    ? QStringLiteral("The server's address holds a password with \"#\", \"/\" or "
                                     "\"?\" and more than one \"@\": type the user and the "
                                     "password in their boxes instead.")
                    : QStringLiteral("Give the CardDAV server's address (https://host/...) or your "
                                     "account (you@host)."));
      return;
    }
    job->settings.user = EdtUser->text().trimmed();
    job->settings.password = EdtPassword->text();
    const QString book = CboBook->currentText().trimmed();
    // A book the server listed is sent into; a name it did not list is made.
    if (!book.isEmpty()) {
      const int listed = CboBook->findText(book);
      if (listed >= 0 && !CboBook->itemData(listed).toString().isEmpty()) {
        job->settings.book = book;
      } else {
        job->settings.newBook = book;
      }
    }
    job->remember = ChkRemember->isChecked();
  }
  if (job->where.kind == DestinationKind::kEvolution) {
    try {
      LoadEvolution();
    } catch (const DestinationError&) {
      ShowError(
          QStringLiteral("Evolution's address books are not available in this build: "
                         "choose KDE Contacts (a folder) or a CardDAV server instead; "
                         "GNOME Contacts and Evolution show a CardDAV server's books "
                         "too."));
      return;
    }
  }
  Remember();
  job->contacts = contacts_;
  job->options.overwrite = ChkOverwrite->isChecked();
  job->panel = this;
  job->cancel = &worker_.CancelFlag();

  closeWhenStopped_ = false;
  lastResult_ = {};
  lastError_.clear();
  job_ = job;
  LblResult->clear();
  ProgBarSend->setRange(0, 0);  // busy until the first contact is done
  LblProgress->setText(text);
  worker_.Start([job] { job->Run(); }, [this] { OnWorkerDone(); });
  UpdateOptions();
}

void SendPanel::CmdCancel_Click() {
  if (!Running()) return;
  worker_.Cancel();
  CmdCancel->setEnabled(false);
  LblProgress->setText(job_ && job_->listOnly
                           ? QStringLiteral("Cancelling...")
                           : QStringLiteral("Cancelling after the contacts on their way..."));
}

void SendPanel::reject() {
  if (Running()) {
    closeWhenStopped_ = true;
    CmdCancel_Click();
    return;
  }
  RememberSize(this, QStringLiteral("send"));
  QDialog::reject();
}

void SendPanel::ShowProgress(int done, int total) {
  if (!Running() || worker_.CancelRequested()) return;
  ProgBarSend->setRange(0, std::max(total, 1));
  ProgBarSend->setValue(std::min(done, std::max(total, 1)));
  ProgBarSend->setFormat(QStringLiteral("%p%"));
  LblProgress->setText(total > 0 ? QStringLiteral("Sent %1 of %2 contacts").arg(done).arg(total)
                                 : QStringLiteral("Sent %1 contacts").arg(done));
}

void SendPanel::OnWorkerDone() {
  const std::shared_ptr<Job> job = std::move(job_);
  lastResult_ = job->result;
  lastError_ = job->error;
  untrusted_ = job->untrusted;
  ShowCertificateChoice();
  UpdateOptions();
  ProgBarSend->setFormat(QString());
  if (job->stopped) {
    ProgBarSend->setRange(0, 1);
    ProgBarSend->setValue(0);
    LblProgress->setText(QStringLiteral("Test Connection was cancelled."));
    LblResult->clear();
  } else if (!lastError_.isEmpty()) {
    ShowError(lastError_);
  } else {
    ShowOutcome(*job);
  }
  emit Finished();
  if (closeWhenStopped_) QDialog::reject();
}

void SendPanel::ShowOutcome(const Job& job) {
  ProgBarSend->setRange(0, 1);
  QString text;
  if (job.listOnly) {
    ProgBarSend->setValue(1);
    const QString typed = CboBook->currentText();
    CboBook->clear();
    for (const AddressBookInfo& book : job.books) CboBook->addItem(book.name, book.url.toString());
    if (!typed.isEmpty() && CboBook->findText(typed) < 0) {
      CboBook->setEditText(typed);
    } else if (typed.isEmpty() && job.books.size() > 1) {
      // Several books: the user chooses; none is taken for them.
      CboBook->setCurrentIndex(-1);
      CboBook->setEditText(QString());
    }
    CboBook->lineEdit()->setPlaceholderText(
        job.books.size() > 1 ? QStringLiteral("choose one of the %1 books, or a new one's name")
                                   .arg(job.books.size())
                             : QStringLiteral("the only book, or a new one's name"));
    LblProgress->setText(QStringLiteral("Connected."));
    text =
        job.books.empty()
            ? QStringLiteral("The account has no address book yet: type a name for a new one.")
        : job.books.size() == 1
            ? QStringLiteral(
                  "The account has 1 address book: choose it, or type a name for a "
                  "new one.")
            : QStringLiteral(
                  "The account has %1: choose one in the Address book list, or type a "
                  "name for a new one.")
                  .arg(Count(static_cast<int>(job.books.size()), "address book", "address books"));
  } else {
    const SendResult& r = job.result;
    int conflicts = 0;
    int failed = 0;
    for (const SendProblem& p : r.problems)
      (p.outcome == SendOutcome::kConflict ? conflicts : failed)++;
    ProgBarSend->setValue(r.cancelled ? 0 : 1);
    LblProgress->setText(r.cancelled ? QStringLiteral("The send was cancelled; sending again "
                                                      "finishes it.")
                                     : QStringLiteral("Done."));
    // Entries met a second time (a store and its copy, unmerged) went once: counted as copies,
    // beside the counts and in the same words as the command line's summary.
    const QString copies =
        r.repeated > 0 ? QStringLiteral(", ") + Count(r.repeated, "copy", "copies") : QString();
    text = QStringLiteral("%1 added, %2 updated, %3 unchanged, %4, %5 failed%6: %7.")
               .arg(r.added)
               .arg(r.updated)
               .arg(r.unchanged)
               .arg(Count(conflicts, "conflict", "conflicts"))
               .arg(failed)
               .arg(copies, job.described);
    if (r.repeated > 0)
      text += QStringLiteral(
                  "\n%1 a second time in this send (a store and its copy, or the same entry "
                  "twice, not merged): each went once.")
                  .arg(r.repeated == 1 ? QStringLiteral("1 entry came")
                                       : QStringLiteral("%1 entries came").arg(r.repeated));
    for (size_t i = 0; i < r.problems.size() && i < kProblemsShown; ++i) {
      const SendProblem& p = r.problems[i];
      const QString advice = Advice(p.remedy);
      text +=
          QStringLiteral("\n  %1 %2: %3")
              .arg(p.outcome == SendOutcome::kConflict ? QStringLiteral("Conflict:")
                                                       : QStringLiteral("Not sent:"),
                   p.name, advice.isEmpty() ? p.reason : p.reason + QStringLiteral("; ") + advice);
    }
    if (r.problems.size() > kProblemsShown)
      text += QStringLiteral("\n  ... and %1 more.").arg(r.problems.size() - kProblemsShown);
    // Entries read without some fields were sent without them; the others were not sent; a
    // store damaged as a whole may have given values that are not whole.
    int unread = 0, partial = 0, damagedStores = 0;
    for (const contact::EntryProblem& p : job.unread)
      ++(p.wholeStore ? damagedStores : p.partial ? partial : unread);
    if (unread > 0)
      text += QStringLiteral("\n%1 of the store could not be read and were not sent.")
                  .arg(Count(unread, "entry", "entries"));
    if (partial > 0)
      text += partial == 1
                  ? QStringLiteral("\n1 entry of the store was sent without some of its fields.")
                  : QStringLiteral("\n%1 of the store were sent without some of their fields.")
                        .arg(Count(partial, "entry", "entries"));
    if (damagedStores > 0)
      text += QStringLiteral("\nA store is damaged: what was read of it may lack values.");
    if (r.removed > 0)
      text += QStringLiteral("\n%1 of people since joined to another card %2 removed.")
                  .arg(Count(r.removed, "second card", "second cards"),
                       r.removed == 1 ? QStringLiteral("was") : QStringLiteral("were"));
    for (const QString& card : r.mergedAway)
      text += QStringLiteral(
                  "\n  Left as it is: %1 holds a person now joined to another card, but was "
                  "changed there since; delete it if it is a second card of them.")
                  .arg(card);
  }
  if (!job.keyringTrouble.isEmpty()) {
    text += QStringLiteral("\nThe password was not remembered: %1.").arg(job.keyringTrouble);
    ChkRemember->setChecked(false);  // it is not kept: the box says so
  }
  LblResult->setStyleSheet(QString());
  LblResult->setText(text);
}

void SendPanel::ShowError(const QString& text) {
  ProgBarSend->setRange(0, 1);
  ProgBarSend->setValue(0);
  LblProgress->setText(QStringLiteral("Nothing was sent."));
  LblResult->setStyleSheet(QStringLiteral("color: #a40000;"));
  LblResult->setText(text);
}

}  // namespace lumivex
