#pragma once
// How code on a worker thread reaches a window: the call is carried out on
// the thread that owns `context` and returns when it is done. Called on that
// thread already, it runs at once. When the context is gone, nothing runs and
// the answer is false.
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

namespace korvani::platform {

bool run_on_ui_thread(QObject* context, const std::function<void()>& work);

// A message box with an OK button and no icon, captioned `title` ("信息：" when
// empty). Modal when called on the window thread; from a worker, the box is
// shown without modality and only the worker waits until it is closed (or the
// context goes). `close_with`, asked on the window thread, names an object
// whose end also closes the box: a worker must not hold a window's pointer,
// but its box should not outlive the window it speaks for. Answers false when
// the box was closed that way rather than by the user.
bool show_message_box(QObject* context, const QString& text, const QString& title = QString(),
                      const std::function<QObject*()>& close_with = {});

// A wait of `ms` milliseconds on the window thread that keeps processing
// window events. Answers false early when `alive` turns false.
bool wait_processing_events(int ms, const std::function<bool()>& alive = {});

}  // namespace korvani::platform
