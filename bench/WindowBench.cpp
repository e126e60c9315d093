// The conversion window's progress during a real export: how often the user sees it move and
// what showing it costs. Runs "Start Conversion" in the conversion window (offscreen unless a
// display is set) on a store's default contacts folder, as the desktop does, and reports:
//   - the run's wall and processor time, against the processor time of the same run through a
//     view that shows nothing (run before and after it, in the same process): the difference
//     is what showing progress costs;
//   - how many times the label and the bar were painted, paints per second, and the longest
//     time between two paints (the user sees no movement for that long);
//   - on an X display (under Xvfb: xvfb-run -a window_bench ...): the window manager's pings,
//     sent to the window every 100 ms from a connection of its own as a window manager sends
//     them, how many were answered during the run and the longest wait for an answer (a desktop
//     offers to kill a window that answers none for 5 s); and a click sent to the window during
//     the run, which must be handled only after the run's end.
//
//   window_bench STORE [vcard|vcards|xls|wab] [OUT_DIR]
#include "app/Dialogs.h"
#include "bench/PeakMemory.h"
#include "bench/QuietView.h"
#include "common/Module1.h"
#include "convert/FrmConversion.h"
#include "source/StoreBackend.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <thread>

using namespace lumivex;

namespace {

// Processor time of this thread: on a busy machine wall time would also count the time the
// process waits for a processor, wherever it happens to be.
qint64 CpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

class Answers : public Dialogs {
 public:
  explicit Answers(QString folder) : folder_(std::move(folder)) {}
  void Message(QWidget*, const QString& text, const QString&, int) override {
    std::printf("message: %s\n", qPrintable(text));
  }
  QString OpenFile(QWidget*, const QString&) override { return {}; }
  QString BrowseFolder(QWidget*, const QString&) override { return folder_; }

 private:
  QString folder_;
};

class NoPicker : public FolderPicker {
 public:
  std::shared_ptr<Folder> Pick(const std::vector<std::shared_ptr<Store>>&) override {
    return nullptr;
  }
};

// Notes the moment of every paint of the label.
class PaintClock : public QObject {
 public:
  explicit PaintClock(const QElapsedTimer& run) : run_(run) {}
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Paint) moments.push_back(run_.nsecsElapsed());
    return QObject::eventFilter(object, event);
  }
  std::vector<qint64> moments;

 private:
  const QElapsedTimer& run_;
};

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
  const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
  std::free(reply);
  return atom;
}

// Pings a window as a window manager does (_NET_WM_PING every 100 ms, the answer coming back to
// the root window) from a connection and thread of its own, and clicks it once, after
// `clickAfterMs`, with a button press and release sent to it as the X server sends them.
class Pinger {
 public:
  Pinger(uint32_t window, const QElapsedTimer& clock, qint64 clickAfterMs)
      : window_(window), clock_(clock), clickAfterMs_(clickAfterMs) {
    connection_ = xcb_connect(nullptr, nullptr);
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    protocols_ = Atom(connection_, "WM_PROTOCOLS");
    ping_ = Atom(connection_, "_NET_WM_PING");
    // Qt sends its answer to the root window for the clients that watch the root's structure
    // (and the window manager, which redirects its substructure): watching the substructure
    // alone sees none of the answers.
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
    thread_ = std::thread([this] { Loop(); });
  }
  ~Pinger() {
    Stop();
    xcb_disconnect(connection_);
  }
  // Stops pinging; pings still unanswered count as waiting until now.
  void Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    thread_.join();
    const qint64 now = clock_.nsecsElapsed();
    for (const auto& [number, sent] : pending_) longestNs = std::max(longestNs, now - sent);
    unanswered = int(pending_.size());
  }

  int sent = 0;
  int answered = 0;
  int unanswered = 0;
  qint64 longestNs = 0;   // the longest wait for an answer
  qint64 clickedNs = -1;  // when the click was sent

 private:
  void Send(uint8_t type, uint8_t detail) {
    xcb_button_press_event_t event{};
    event.response_type = type;
    event.detail = detail;
    event.event = window_;
    event.root = root_;
    event.same_screen = 1;
    event.event_x = event.event_y = 20;
    xcb_send_event(connection_, 0, window_, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
  }
  void Loop() {
    qint64 nextPing = 0;
    while (!stop_) {
      const qint64 now = clock_.nsecsElapsed();
      if (now >= nextPing) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window_;
        event.type = protocols_;
        event.data.data32[0] = ping_;
        event.data.data32[1] = uint32_t(++sent);  // the ping's number stands for its time
        event.data.data32[2] = window_;
        xcb_send_event(connection_, 0, window_, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&event));
        pending_[uint32_t(sent)] = now;
        nextPing = now + 100'000'000;
      }
      if (clickedNs < 0 && now >= clickAfterMs_ * 1'000'000) {
        Send(XCB_BUTTON_PRESS, 1);
        Send(XCB_BUTTON_RELEASE, 1);
        clickedNs = now;
      }
      xcb_flush(connection_);
      while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && message->type == protocols_ &&
            message->data.data32[0] == ping_) {
          const auto found = pending_.find(message->data.data32[1]);
          if (found != pending_.end()) {
            longestNs = std::max(longestNs, clock_.nsecsElapsed() - found->second);
            pending_.erase(found);
            ++answered;
          }
        }
        std::free(event);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  uint32_t window_;
  const QElapsedTimer& clock_;
  qint64 clickAfterMs_;
  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = 0;
  xcb_atom_t protocols_ = 0;
  xcb_atom_t ping_ = 0;
  std::map<uint32_t, qint64> pending_;  // ping number -> when it was sent
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

// Notes when the first mouse press reaches any widget.
class PressClock : public QObject {
 public:
  explicit PressClock(const QElapsedTimer& run) : run_(run) {}
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonPress && pressedNs < 0) pressedNs = run_.nsecsElapsed();
    return QObject::eventFilter(object, event);
  }
  qint64 pressedNs = -1;

 private:
  const QElapsedTimer& run_;
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 2 || argv[1][0] == '-') {
    const bool help =
        argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
    std::fprintf(help ? stdout : stderr,
                 "usage: window_bench STORE [vcard|vcards|xls|wab] [OUT_DIR]\n"
                 "Runs Start Conversion in the conversion window on STORE's default contacts\n"
                 "folder and reports how often progress was painted and what showing it cost.\n");
    return help ? 0 : 2;
  }
  const QString store = QString::fromLocal8Bit(argv[1]);
  const QString form = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("vcard");
  QTemporaryDir temporary;
  const QString out = argc > 3 ? QString::fromLocal8Bit(argv[3]) : temporary.path();
  QDir().mkpath(out);

  {
    auto opened = OpenStoreFile(store);
    Module1::FilePath = store;
    Module1::PickedFolderPath = opened->DefaultContactsFolder()->Path();
  }
  SetDialogs(std::make_shared<Answers>(out));
  SetMailProvider(MakeStoreMailProvider(std::make_shared<NoPicker>()));

  SourceOptions source;
  source.selectStore = true;
  OutputOptions output;
  output.vCardComplete = form == u"vcard";
  output.vCardEach = form == u"vcards";
  output.excel = form == u"xls";
  output.wab = form == u"wab";
  QDir().mkpath(out + QStringLiteral("/plain"));
  Module1::SetFolderBrowser(
      [&out](int32_t, const QString&) { return out + QStringLiteral("/plain"); });
  bench::QuietView nullView;
  qint64 cpuStart = CpuNs();
  RunConversion(source, output, nullView);
  const double plainCpuBefore = (CpuNs() - cpuStart) / 1e9;

  auto* window = new FrmConversion(
      nullptr, [source] { return source; }, [] {});
  window->show();
  QApplication::processEvents();
  QElapsedTimer run;
  PaintClock clock(run);
  window->LblSaveProgress->installEventFilter(&clock);
  QRadioButton* option = form == u"vcards" ? window->OptvCardEach
                         : form == u"xls"  ? window->OptExcel
                         : form == u"wab"  ? window->OptWAB
                                           : window->OptvCardComplete;
  option->setChecked(true);
  // On an X display the window is pinged and clicked during the run, a second into it.
  const bool x11 = QGuiApplication::platformName() == u"xcb";
  PressClock press(run);
  app.installEventFilter(&press);
  run.start();
  std::unique_ptr<Pinger> pinger;
  if (x11) pinger = std::make_unique<Pinger>(uint32_t(window->winId()), run, 1000);
  cpuStart = CpuNs();
  window->CmdConversion_Click();
  const qint64 endNs = run.nsecsElapsed();
  const double seconds = endNs / 1e9;
  const double cpuSeconds = (CpuNs() - cpuStart) / 1e9;
  if (pinger) {
    pinger->Stop();
    // The click waits in the queue until the event loop runs again.
    for (int i = 0; i < 50 && press.pressedNs < 0; ++i) {
      QApplication::processEvents(QEventLoop::AllEvents, 10);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  // The plain run again, after the window's: the mean of the two is fair to both orders.
  QDir(out + QStringLiteral("/plain")).removeRecursively();
  QDir().mkpath(out + QStringLiteral("/plain"));
  Module1::SetFolderBrowser(
      [&out](int32_t, const QString&) { return out + QStringLiteral("/plain"); });
  cpuStart = CpuNs();
  RunConversion(source, output, nullView);
  const double plainCpu = (plainCpuBefore + (CpuNs() - cpuStart) / 1e9) / 2;

  qint64 longest = 0;
  qint64 last = 0;
  for (qint64 moment : clock.moments) {
    longest = std::max(longest, moment - last);
    last = moment;
  }
  // The folder's entries in full: the window's own counter stops at 32,767.
  std::printf("%s export of %d contacts from the window: %.2f s (processor %.2f s)\n",
              qPrintable(form), window->LastRun().entries, seconds, cpuSeconds);
  std::printf(
      "the same run with a view that shows nothing: processor %.2f s; the window's "
      "progress costs %.1f %% of its run\n",
      plainCpu, cpuSeconds > 0 ? 100.0 * (cpuSeconds - plainCpu) / cpuSeconds : 0.0);
  std::printf("label painted %zu times, %.1f a second, longest still %.0f ms\n",
              clock.moments.size(), seconds > 0 ? clock.moments.size() / seconds : 0.0,
              longest / 1e6);
  if (pinger) {
    std::printf(
        "window manager's pings: %d sent during the run, %d answered during it, %d "
        "unanswered at its end; longest wait for an answer %.0f ms\n",
        pinger->sent, pinger->answered, pinger->unanswered, pinger->longestNs / 1e6);
    if (pinger->clickedNs < 0)
      std::printf("click: the run ended before it was sent\n");
    else if (press.pressedNs < 0)
      std::printf("click: sent at %.1f s, not handled\n", pinger->clickedNs / 1e9);
    else
      std::printf("click: sent at %.1f s, handled at %.1f s, %s the run's end\n",
                  pinger->clickedNs / 1e9, press.pressedNs / 1e9,
                  press.pressedNs >= endNs ? "after" : "BEFORE");
  }
  std::printf("peak memory %ld MiB\n", bench::PeakKiB() / 1024);
  const bool completed = window->LastRun().status == RunResult::kCompleted;
  delete window;
  SetDialogs(nullptr);
  return completed ? 0 : 1;
}
