#include "app/DesktopProvider.h"

namespace lumivex {

namespace {

class DeferredLogonSession : public RdoSession {
 public:
  explicit DeferredLogonSession(std::unique_ptr<RdoSession> inner) : inner_(std::move(inner)) {}

  void Logon() override {
    try {
      inner_->Logon();
      loggedOn_ = true;
    } catch (const StoreError& error) {
      logonError_ = error.what();
    }
  }
  std::shared_ptr<Folder> GetDefaultFolder(int kind) override {
    if (!loggedOn_ && !logonError_.empty()) throw StoreError(logonError_);
    return inner_->GetDefaultFolder(kind);
  }
  void Logoff() override {
    if (loggedOn_) inner_->Logoff();
    loggedOn_ = false;
  }

 private:
  std::unique_ptr<RdoSession> inner_;
  bool loggedOn_ = false;
  std::string logonError_;
};

class DeferredLogonProvider : public MailProvider {
 public:
  explicit DeferredLogonProvider(std::shared_ptr<MailProvider> inner) : inner_(std::move(inner)) {}
  std::unique_ptr<MailClientApp> CreateMailClientApp() override {
    return inner_->CreateMailClientApp();
  }
  std::unique_ptr<RdoSession> CreateRdoSession() override {
    return std::make_unique<DeferredLogonSession>(inner_->CreateRdoSession());
  }

 private:
  std::shared_ptr<MailProvider> inner_;
};

}  // namespace

std::shared_ptr<MailProvider> WithoutDefaultStoreAtLogon(std::shared_ptr<MailProvider> inner) {
  return std::make_shared<DeferredLogonProvider>(std::move(inner));
}

}  // namespace lumivex
