// run_on_ui_thread from worker threads: the work runs on the context's
// thread, what the worker wrote before the call is there for it, and what it
// writes is there for the worker afterwards. Run under ThreadSanitizer too,
// where a hand-over it cannot see is reported as a race.
#include <QCoreApplication>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui_bridge_qt.h"

using korvani::platform::run_on_ui_thread;

class UiBridgeTest : public QObject {
  Q_OBJECT

 private slots:
  void on_its_own_thread_the_work_runs_at_once() {
    QObject context;
    bool ran = false;
    QVERIFY(run_on_ui_thread(&context, [&] { ran = true; }));
    QVERIFY(ran);
    QVERIFY(!run_on_ui_thread(nullptr, [&] { QFAIL("ran without a context"); }));
  }

  void workers_hand_their_texts_over_and_get_the_answers_back() {
    QObject context;
    QThread* window_thread = QThread::currentThread();
    std::vector<std::string> seen;  // touched on the window thread only
    constexpr int kWorkers = 3;
    constexpr int kCalls = 20;
    std::atomic<int> good{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
      workers.emplace_back([&, w] {
        for (int i = 0; i < kCalls; ++i) {
          std::string line = "worker " + std::to_string(w) + " line " + std::to_string(i);
          std::string answer;
          bool on_window_thread = false;
          const bool ran = run_on_ui_thread(&context, [&] {
            on_window_thread = QThread::currentThread() == window_thread;
            seen.push_back(line);
            answer = line + " seen";
          });
          if (ran && on_window_thread && answer == line + " seen") ++good;
        }
        ++finished;
      });
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.load(), kWorkers, 60000);
    for (auto& t : workers) t.join();
    QCOMPARE(good.load(), kWorkers * kCalls);
    QCOMPARE(static_cast<int>(seen.size()), kWorkers * kCalls);
  }
};

QTEST_MAIN(UiBridgeTest)
#include "ui_bridge_qttest.moc"
