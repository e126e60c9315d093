// "Send to an Address Book": the contacts the export dialog would write, sent instead into the
// address book itself: GNOME / Evolution (the books of Evolution Data Server), KDE Contacts (the
// folder its "Personal Contacts" book reads) or a CardDAV server (Nextcloud, Radicale, ...).
// The send runs on a worker thread while the window shows its progress and offers Cancel; the
// end says how many contacts were added, updated, left unchanged, in conflict or failed, and how
// many entries came a second time (copies, sent once), as the command line's summary says it, and
// lists those not sent with the reason. Sending again is safe: what is unchanged is left alone.
#pragma once

#include "merge/ContactSources.h"

#include "app/Worker.h"
#include "contact/ContactStream.h"
#include "destination/Destination.h"

#include <QDialog>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QVBoxLayout;

namespace lumivex {

class SendPanel : public QDialog {
  Q_OBJECT

 public:
  // Opens the contacts to send, on the worker thread; throws StoreError.
  using ContactsMaker = std::function<std::unique_ptr<contact::ContactStream>()>;
  SendPanel(QWidget* owner, ContactsMaker contacts, const QString& sourceText);
  // Stops a running send and waits for its thread before the window goes.
  ~SendPanel() override;

  QLabel* LblSource;
  // Where to.
  QRadioButton* OptEvolution;
  QComboBox* CboEvolutionBook;  // Evolution's books, listed when the choice is made
  QRadioButton* OptKde;
  QLineEdit* EdtKdeFolder;
  QPushButton* CmdBrowseKde;
  QRadioButton* OptCardDav;
  QLineEdit* EdtServer;  // https://host/path, or user@host
  // Shown when the server's certificate is not trusted: trusts exactly that certificate for
  // that server, as the user agrees after seeing its fingerprint.
  QPushButton* CmdTrust;
  // Shown when a certificate was trusted that way for the server: no longer trusts it, so the
  // server is checked against the authorities again.
  QPushButton* CmdForgetCertificate;
  QLineEdit* EdtUser;
  QLineEdit* EdtPassword;
  QCheckBox* ChkRemember;  // keep the password in the desktop's keyring
  QComboBox* CboBook;      // the account's books; a name not listed is made
  QPushButton* CmdTest;    // finds the account's books
  QCheckBox* ChkOverwrite;
  QProgressBar* ProgBarSend;
  QLabel* LblProgress;
  QLabel* LblResult;
  QPushButton* CmdSend;
  QPushButton* CmdCancel;
  QPushButton* CmdClose;

  void CmdSend_Click();
  void CmdTest_Click();
  void CmdCancel_Click();
  void CmdTrust_Click();
  void CmdForgetCertificate_Click();

  // What the user can do about a failure, in the window's words: the control that does it
  // (for Evolution's books, the list beside its choice).
  static QString Advice(destination::Remedy remedy, bool evolution = false);

  bool Running() const { return worker_.Running(); }
  // How the last run ended: a send's result, or the error that stopped it (empty when none).
  const destination::SendResult& LastResult() const { return lastResult_; }
  const QString& LastError() const { return lastError_; }

  // Called on the worker thread after each contact with the number done; tests use it to hold
  // the worker at a known point. Empty by default.
  using ProgressHook = std::function<void(int done)>;
  static void SetProgressHook(ProgressHook hook);

 signals:
  // A send or connection test has ended and the window shows how.
  void Finished();

 public slots:
  void reject() override;

 private:
  struct Job;

  QGroupBox* BuildWhere();
  QFormLayout* BuildAccount(QGroupBox* whereBox);
  void BuildProgress(QVBoxLayout* layout);
  QHBoxLayout* BuildButtons();
  void Connect();
  void UpdateOptions();
  void ListEvolutionBooks();
  void TakeServerLogin();
  void LookUpPassword();
  void ForgetPassword();
  void ShowCertificateChoice();
  void Start(std::shared_ptr<Job> job, const QString& text);
  void ShowProgress(int done, int total);
  void OnWorkerDone();
  // Keeps the choices of the send that starts for the next start of the program.
  void Remember() const;
  void ShowOutcome(const Job& job);
  void ShowError(const QString& text);

  ContactsMaker contacts_;
  bool evolutionListed_ = false;
  Worker worker_{this, QStringLiteral("SendWorker")};
  QString evolutionBook_;  // the Evolution book sent into last, by id
  std::shared_ptr<Job> job_;
  bool closeWhenStopped_ = false;
  destination::UntrustedCertificate untrusted_;  // the last refused certificate, to trust
  destination::SendResult lastResult_;
  QString lastError_;
};

// The contacts of `folder` in `store` (empty: its default contacts folder; the default profile's
// store when `store` is empty), or of every contact folder with `allFolders` (each contact then
// carries its folders as categories), the entries of one person merged into one contact unless
// `merge` is false: the contacts the command line's send gives for the same choices, so that
// sending from both into one book gives one set of cards.
SendPanel::ContactsMaker StoreContacts(const QString& store, const QString& folder, bool allFolders,
                                       bool merge = true);
// The stores and folders StoreContacts reads, for the export of the same choices.
merge::StoreSelection StoreSelectionOf(const QString& store, const QString& folder, bool allFolders,
                                       bool merge);

}  // namespace lumivex
