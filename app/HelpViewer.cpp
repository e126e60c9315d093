#include "app/HelpViewer.h"

#include "app/DesktopOpen.h"
#include "app/ScreenFit.h"
#include "common/Installation.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace lumivex {

namespace {

// The pages as this window shows them: the browser's banner left out (the window has its own
// title), the links between pages apart from each other, as the style sheet spaces them in a
// browser.
class PageView : public QTextBrowser {
 public:
  using QTextBrowser::QTextBrowser;
  QVariant loadResource(int type, const QUrl& name) override {
    QVariant resource = QTextBrowser::loadResource(type, name);
    if (type != QTextDocument::HtmlResource) return resource;
    QString page = resource.typeId() == QMetaType::QByteArray
                       ? QString::fromUtf8(resource.toByteArray())
                       : resource.toString();
    page.remove(QRegularExpression(QStringLiteral("<header>.*</header>"),
                                   QRegularExpression::DotMatchesEverythingOption));
    page.replace(QStringLiteral("</a><a"), QStringLiteral("</a> &middot; <a"));
    return page;
  }
};

}  // namespace

HelpViewer::HelpViewer(QWidget* owner, const QString& page) : QDialog(owner) {
  setObjectName(QStringLiteral("HelpViewer"));
  setWindowTitle(QStringLiteral("Lumivex Help"));
  const QString path =
      QFileInfo(page).isAbsolute() ? page : DataDir() + QStringLiteral("/help/") + page;
  auto* layout = new QVBoxLayout(this);
  auto* buttons = new QHBoxLayout;
  CmdBack = new QPushButton(QStringLiteral("&Back"), this);
  CmdForward = new QPushButton(QStringLiteral("&Forward"), this);
  CmdContents = new QPushButton(QStringLiteral("C&ontents"), this);
  CmdClose = new QPushButton(QStringLiteral("Close"), this);
  for (QPushButton* b : {CmdBack, CmdForward, CmdContents}) buttons->addWidget(b);
  buttons->addStretch(1);
  buttons->addWidget(CmdClose);
  Pages = new PageView(this);
  Pages->setObjectName(QStringLiteral("Pages"));
  Pages->setAccessibleName(QStringLiteral("Help page"));
  // Pages of the help folder are shown here; other addresses go to the desktop.
  Pages->setOpenLinks(false);
  connect(Pages, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
    if (url.isLocalFile() || url.isRelative())
      Pages->setSource(Pages->source().resolved(url));
    else
      OpenWithDesktop(url.toString());
  });
  Pages->setSource(QUrl::fromLocalFile(path));
  layout->addLayout(buttons);
  layout->addWidget(Pages, 1);
  CmdBack->setEnabled(false);
  CmdForward->setEnabled(false);
  connect(Pages, &QTextBrowser::backwardAvailable, CmdBack, &QPushButton::setEnabled);
  connect(Pages, &QTextBrowser::forwardAvailable, CmdForward, &QPushButton::setEnabled);
  connect(CmdBack, &QPushButton::clicked, Pages, &QTextBrowser::backward);
  connect(CmdForward, &QPushButton::clicked, Pages, &QTextBrowser::forward);
  connect(CmdContents, &QPushButton::clicked, this,
          [this, path] { Pages->setSource(QUrl::fromLocalFile(path)); });
  connect(CmdClose, &QPushButton::clicked, this, &QDialog::reject);
  FitToScreen(this, QSize(760, 640));  // as large as a page reads well
}

void OpenHelpPage(const QString& address) {
  OpenWithDesktop(address, [address] {
    auto* viewer = new HelpViewer(QApplication::activeWindow(), QUrl(address).toLocalFile());
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->show();
  });
}

}  // namespace lumivex
