#include "convert/FrmConversion.h"

#include "app/Twips.h"

#include "app/Artwork.h"
#include "app/Dialogs.h"
#include "common/Module1.h"

#include <QApplication>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegion>

#include <algorithm>
#include <ctime>
#include <utility>

namespace lumivex {

namespace {

template <typename Widget>
Widget* Place(Widget* widget, const char* name, QRect geometry) {
  widget->setObjectName(QLatin1String(name));
  widget->setGeometry(geometry);
  return widget;
}

// A hint is blue: pure blue on a light background, a light blue on a dark one, so that it stays
// readable under a dark desktop theme.
QLabel* Hint(QWidget* parent, const char* name, const QString& text, QRect geometry) {
  auto* label = Place(new QLabel(text, parent), name, geometry);
  QPalette palette = label->palette();
  const bool dark = palette.color(QPalette::Window).lightness() < 128;
  palette.setColor(QPalette::WindowText, dark ? QColor(140, 180, 255) : QColor(Qt::blue));
  label->setPalette(palette);
  return label;
}

QRadioButton* Option(QWidget* parent, const char* name, const QString& text, QRect geometry) {
  auto* option = Place(new QRadioButton(text, parent), name, geometry);
  // The group is kept exclusive by the window itself, so that the main window can clear every
  // option before it shows the window again.
  option->setAutoExclusive(false);
  // Outside an exclusive group a click on the chosen option would clear it, leaving no form
  // chosen under an enabled start button: a click always chooses, as in any option group.
  QObject::connect(option, &QRadioButton::clicked, option, [option] { option->setChecked(true); });
  return option;
}

// Places are kept as laid out; a text wider than its place in the desktop's font (the layout
// was made for Tahoma, which Linux desktops seldom have) widens the control up to the frame's
// edge rather than being cut off.
void FitText(QWidget* widget) {
  const int room = widget->parentWidget()->width() - widget->x() - 4;
  const int wanted = widget->sizeHint().width();
  if (wanted > widget->width()) widget->resize(std::min(wanted, room), widget->height());
}

// The picture above the frame: the product's logo and name on white, with what the window is for.
// Drawn for the screen's pixel ratio, so that a scaled desktop shows it sharp rather than
// enlarged.
QPixmap Banner(QSize size, qreal pixelRatio) {
  QPixmap banner(size * pixelRatio);
  banner.setDevicePixelRatio(pixelRatio);
  banner.fill(Qt::white);
  QPainter painter(&banner);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  const int logo = size.height() * 3 / 5;
  painter.drawPixmap(24, (size.height() - logo) / 2, ProductLogo(QSize(logo, logo), pixelRatio));
  QFont title(QStringLiteral("Verdana"), 16, QFont::Bold);
  painter.setFont(title);
  painter.setPen(QColor(0, 0, 128));
  const int textLeft = 24 + logo + 16;
  painter.drawText(QRect(textLeft, 0, size.width() - textLeft, size.height() / 2),
                   Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("Lumivex"));
  QFont subtitle(QStringLiteral("Tahoma"), 9);
  painter.setFont(subtitle);
  painter.setPen(Qt::black);
  painter.drawText(
      QRect(textLeft, size.height() / 2 + 4, size.width() - textLeft, size.height() / 2),
      Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Choose the form to save your contacts in"));
  painter.drawPixmap(QRect(0, size.height() - 2, size.width(), 2), RuleStrip());
  return banner;
}

// A small picture beside each group of options: a coloured card with the form's initial.
QPixmap FormIcon(const QColor& colour, const QString& letter, qreal pixelRatio) {
  QPixmap icon(QSize(40, 40) * pixelRatio);
  icon.setDevicePixelRatio(pixelRatio);
  icon.fill(Qt::transparent);
  QPainter painter(&icon);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(colour);
  painter.setPen(colour.darker(130));
  painter.drawRoundedRect(QRectF(2.5, 2.5, 35, 35), 6, 6);
  painter.setPen(Qt::white);
  painter.setFont(QFont(QStringLiteral("Verdana"), 15, QFont::Bold));
  painter.drawText(QRect(0, 0, 40, 40), Qt::AlignCenter, letter);
  return icon;
}

QLabel* Picture(QWidget* parent, const char* name, const QPixmap& pixmap, QRect geometry) {
  auto* picture = Place(new QLabel(parent), name, geometry);
  picture->setPixmap(pixmap);
  picture->setAlignment(Qt::AlignCenter);
  return picture;
}

}  // namespace

FrmConversion::FrmConversion(QWidget* owner, std::function<SourceOptions()> source,
                             std::function<void()> enableContactsCreate)
    : QDialog(owner),
      source_(std::move(source)),
      enableContactsCreate_(std::move(enableContactsCreate)) {
  setObjectName(QStringLiteral("FrmConversion"));
  setWindowTitle(QStringLiteral("Conversion Options"));
  setModal(true);
  setFixedSize(TwipsToPixels(6090), TwipsToPixels(6945));
  // The places in twips are made for the small 8-point face of the Windows dialogs; a larger
  // desktop font would not fit the option texts into them.
  QFont face = font();
  face.setPointSize(8);
  setFont(face);

  const QRect bannerPlace = TwipsRect(0, 0, 6090, 2400);
  const qreal ratio = devicePixelRatioF();
  Picture(this, "Image3", Banner(bannerPlace.size(), ratio), bannerPlace);

  auto* frame = Place(new QGroupBox(this), "Frame1", TwipsRect(-120, 2520, 6255, 3690));
  Picture(frame, "Image1", FormIcon(QColor(0, 102, 204), QStringLiteral("V"), ratio),
          TwipsRect(360, 360, 600, 600));
  Picture(frame, "Image2", FormIcon(QColor(33, 115, 70), QStringLiteral("X"), ratio),
          TwipsRect(360, 1380, 600, 600));
  Picture(frame, "Image4", FormIcon(QColor(204, 102, 0), QStringLiteral("W"), ratio),
          TwipsRect(360, 2100, 600, 600));

  auto* heading = Place(new QLabel(QStringLiteral("vCard File"), frame), "Label2",
                        TwipsRect(1200, 120, 1335, 255));
  QFont tahoma(QStringLiteral("Tahoma"), 8);
  tahoma.setBold(true);
  heading->setFont(tahoma);
  Hint(frame, "Label6", QStringLiteral("Import vCard in Lotus Notes, Outlook Express, ACT, iPhone"),
       TwipsRect(1200, 360, 4290, 195));

  OptvCardComplete = Option(frame, "OptvCardComplete",
                            QStringLiteral("Single vCard File (All contacts in single .vcf file)"),
                            TwipsRect(1200, 600, 4575, 375));
  OptvCardEach = Option(frame, "OptvCardEach",
                        QStringLiteral("Separate vCard Files (Save .vcf file for each contact)"),
                        TwipsRect(1200, 960, 4575, 375));
  Place(new QFrame(frame), "Line1", TwipsRect(240, 1350, 5775, 30))->setFrameShape(QFrame::HLine);
  OptExcel = Option(frame, "OptExcel", QStringLiteral("Excel 97/2000/2002/2003 (.xls) File"),
                    TwipsRect(1200, 1400, 3375, 495));
  Place(new QFrame(frame), "Line2", TwipsRect(240, 2040, 5775, 30))->setFrameShape(QFrame::HLine);
  OptWAB = Option(frame, "OptWAB", QStringLiteral("Windows Address Book (.wab) File"),
                  TwipsRect(1200, 2160, 3375, 375));
  Hint(frame, "Label1", QStringLiteral("Import .wab file in Outlook Express Address Book"),
       TwipsRect(1450, 2520, 3540, 195));

  // The progress label has a place but no size of its own: it reaches to the frame's edge.
  LblSaveProgress = Place(new QLabel(frame), "LblSaveProgress", TwipsRect(3000, 2840, 3135, 255));
  QFont verdana(QStringLiteral("Verdana"), 8);
  verdana.setBold(true);
  LblSaveProgress->setFont(verdana);

  ProgBarSave = Place(new QProgressBar(frame), "ProgBarSave", TwipsRect(240, 3240, 5775, 255));
  ProgBarSave->setRange(0, 100);
  ProgBarSave->setValue(0);
  ProgBarSave->setTextVisible(true);
  ProgBarSave->setAccessibleName(QStringLiteral("Saving contacts"));

  CmdConversion = Place(new QPushButton(QStringLiteral("&Start Conversion"), this), "CmdConversion",
                        TwipsRect(1920, 6360, 2175, 435));
  CmdConversion->setEnabled(false);
  CmdConversion->setAutoDefault(false);

  connect(OptvCardComplete, &QRadioButton::clicked, this, [this] { OptvCardComplete_Click(); });
  connect(OptvCardEach, &QRadioButton::clicked, this, [this] { OptvCardEach_Click(); });
  connect(OptExcel, &QRadioButton::clicked, this, [this] { OptExcel_Click(); });
  connect(OptWAB, &QRadioButton::clicked, this, [this] { OptWAB_Click(); });
  connect(CmdConversion, &QPushButton::clicked, this, [this] { CmdConversion_Click(); });
  for (QWidget* text : std::initializer_list<QWidget*>{
           heading, frame->findChild<QLabel*>(QStringLiteral("Label6")), OptvCardComplete,
           OptvCardEach, OptExcel, OptWAB, frame->findChild<QLabel*>(QStringLiteral("Label1"))})
    FitText(text);

  // One option at a time: checking one clears the others.
  for (QRadioButton* option : {OptvCardComplete, OptvCardEach, OptExcel, OptWAB}) {
    connect(option, &QRadioButton::toggled, this, [this, option](bool checked) {
      if (!checked) return;
      for (QRadioButton* other : {OptvCardComplete, OptvCardEach, OptExcel, OptWAB})
        if (other != option) other->setChecked(false);
    });
  }

  // The run asks for its target folder through Module1; here that is the desktop's folder
  // dialog, over whichever window is active.
  Module1::SetFolderBrowser([](int32_t, const QString& title) {
    return CurrentDialogs().BrowseFolder(QApplication::activeWindow(), title);
  });
}

void FrmConversion::OptvCardComplete_Click() {
  CmdConversion->setEnabled(true);
}
void FrmConversion::OptvCardEach_Click() {
  CmdConversion->setEnabled(true);
}
void FrmConversion::OptExcel_Click() {
  CmdConversion->setEnabled(true);
}
void FrmConversion::OptWAB_Click() {
  CmdConversion->setEnabled(true);
}

void FrmConversion::CmdConversion_Click() {
  // The folder prompt runs an event loop of its own, in which the start button still takes
  // clicks: a run already under way keeps a second one from starting.
  if (running_) return;
  running_ = true;
  OutputOptions output;
  output.vCardComplete = OptvCardComplete->isChecked();
  output.vCardEach = OptvCardEach->isChecked();
  output.wab = OptWAB->isChecked();
  output.excel = OptExcel->isChecked();
  const SourceOptions source = source_ ? source_() : SourceOptions{};
  files_ = {};
  entries_ = {};
  lastRun_ = RunConversion(source, output, *this);
  running_ = false;
  // After the run's own messages: a store that is damaged as a whole is told once, as what was
  // saved may lack values or hold wrong ones.
  if (lastRun_.status != RunResult::kCompleted) return;
  QStringList told;
  for (QString sentence : lastRun_.storeDamage) {
    sentence[0] = sentence[0].toUpper();
    told << sentence + u'.';
  }
  if (!told.isEmpty())
    CurrentDialogs().Message(this,
                             QStringLiteral("The contacts were saved, but the store is damaged.\n\n"
                                            "%1\n\nWhat was read of it may lack values or hold "
                                            "wrong ones.")
                                 .arg(told.join(QStringLiteral("\n\n"))),
                             QStringLiteral("Damaged Store"), 48);
  // The completion box counts the entries visited, whatever was written; what the files do not
  // hold is told after it, with what to do.
  const Notice notice = ConversionNotice(output, lastRun_, files_, entries_);
  if (notice.text.isEmpty()) return;
  QWidget* owner = isVisible() ? this : parentWidget();
  const bool offerTaken = CurrentDialogs().Notice(
      owner, notice.text, notice.title,
      notice.offerOtherAddressBooks && otherAddressBooks_ ? kOtherAddressBooks : QString());
  if (offerTaken) otherAddressBooks_();
}

void FrmConversion::OutputWritten(const QString&) {
  ++files_.written;
}

void FrmConversion::OutputFailed(const QString& path, const QString& reason) {
  if (files_.failed++ == 0) {
    files_.firstFailed = path;
    files_.firstReason = reason;
  }
}

void FrmConversion::EntryUnreadable(const QString& folder, int position, const QString& reason) {
  entries_.Unreadable(folder, position, reason);
}

void FrmConversion::EntryDamaged(const QString& folder, int position, const QString& reason) {
  entries_.Damaged(folder, position, reason);
}

void FrmConversion::SetProgressRange(int minimum, int maximum) {
  // An empty folder gives the range 0 to 0, which Qt would draw as a busy bar: it stays an
  // empty bar instead.
  ShowProgress(true);
  ProgBarSave->setRange(minimum, std::max(maximum, minimum + 1));
  ProgBarSave->repaint();
  shownMs_ = -1;
  RepaintOtherWindows();
}

void FrmConversion::SetProgressValue(int value) {
  pendingValue_ = value;
  ShowProgress(false);
}

void FrmConversion::SetProgressLabel(const QString& text) {
  pendingLabel_ = text;
  pendingCount_.reset();
  labelPending_ = true;
  ShowProgress(false);
}

void FrmConversion::SetProgressCount(int n, int count) {
  pendingCount_.emplace(n, count);
  labelPending_ = true;
  ShowProgress(false);
}

void FrmConversion::ShowProgress(bool now) {
  // The run does not return to the event loop, so progress is shown and painted here. A large
  // folder moves it thousands of times a second, far more than anyone can follow, and each
  // change of the bar and the label costs microseconds and each paint about a millisecond: the
  // newest value and text are shown at most every kProgressPaintMs, at a run's first step, and
  // before anything else the window does (a message, its end), so the last ones are always seen.
  // The coarse clock (a few milliseconds' resolution) is read at a fraction of the fine one's
  // cost, and this is asked at every step of the run.
  timespec clock{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &clock);
  const int64_t ms = int64_t(clock.tv_sec) * 1000 + clock.tv_nsec / 1000000;
  if (!now && shownMs_ >= 0 && ms - shownMs_ < kProgressPaintMs) return;
  if (pendingValue_) ProgBarSave->setValue(*std::exchange(pendingValue_, std::nullopt));
  if (labelPending_) {
    if (pendingCount_) {
      pendingLabel_ = ProgressLabel(pendingCount_->first, pendingCount_->second);
      pendingCount_.reset();
    }
    LblSaveProgress->setText(pendingLabel_);
    labelPending_ = false;
  }
  if (now) return;  // painted at the next handling of events
  // Both in one paint of the window: each paint also copies the window to the screen.
  QRegion region;
  for (QWidget* widget :
       {static_cast<QWidget*>(ProgBarSave), static_cast<QWidget*>(LblSaveProgress)})
    region += QRect(widget->mapTo(this, QPoint(0, 0)), widget->size());
  repaint(region);
  if (ms - otherWindowsMs_ >= kOtherWindowsPaintMs) RepaintOtherWindows();
  // The window system's events other than input: the window manager's pings are answered and
  // uncovered windows repaint, while clicks, keys and the close button wait in the queue for the
  // run's end.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  shownMs_ = ms;
}

void FrmConversion::RepaintOtherWindows() {
  // The run takes no input until it ends, and a display that sends no exposure events (the
  // offscreen one) would leave what the folder chooser covered unpainted: the visible windows
  // are painted anew from here, when the bar is set up and then once a second.
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window->isVisible()) window->repaint();
  timespec clock{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &clock);
  otherWindowsMs_ = int64_t(clock.tv_sec) * 1000 + clock.tv_nsec / 1000000;
}

void FrmConversion::EnableButtons() {
  ShowProgress(true);
  CmdConversion->setEnabled(true);
  if (enableContactsCreate_) enableContactsCreate_();
}

void FrmConversion::ShowMessage(const QString& text, const QString& title, int style) {
  ShowProgress(true);
  CurrentDialogs().Message(this, text, title, style);
}

void FrmConversion::Hide() {
  ShowProgress(true);
  hide();
}

void FrmConversion::reject() {
  // While a run is under way (its folder prompt is open) the window stays: the run still uses it.
  if (running_) return;
  QDialog::reject();
  deleteLater();
}

}  // namespace lumivex
