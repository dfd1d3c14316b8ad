#pragma once

#include <pulse/mainloop-api.h>

#include <QObject>
#include <list>
#include <memory>

namespace tallowen {

// libpulse's main loop interface carried out by the Qt event loop of the thread that makes
// it. The capture thread needs no loop (and no thread) of libpulse's own: it wakes when the
// sound server sends sound, and otherwise sleeps.
class PulseLoop {
 public:
  PulseLoop();
  ~PulseLoop();  // frees what libpulse left, calling their destroy callbacks
  PulseLoop(const PulseLoop&) = delete;
  PulseLoop& operator=(const PulseLoop&) = delete;

  pa_mainloop_api* api() { return &api_; }

  struct Io;
  struct Time;
  struct Defer;

 private:
  static PulseLoop* of(const pa_mainloop_api* api) { return static_cast<PulseLoop*>(api->userdata); }
  // libpulse may free an event from inside its own callback: freed events are put away,
  // and swept once control is back in the event loop, before it sleeps.
  void sweepLater();
  void sweep();

  static pa_io_event* ioNew(pa_mainloop_api* a, int fd, pa_io_event_flags_t events, pa_io_event_cb_t cb,
                            void* userdata);
  static void ioEnable(pa_io_event* e, pa_io_event_flags_t events);
  static void ioFree(pa_io_event* e);
  static void ioSetDestroy(pa_io_event* e, pa_io_event_destroy_cb_t cb);
  static pa_time_event* timeNew(pa_mainloop_api* a, const struct timeval* tv, pa_time_event_cb_t cb,
                                void* userdata);
  static void timeRestart(pa_time_event* e, const struct timeval* tv);
  static void timeFree(pa_time_event* e);
  static void timeSetDestroy(pa_time_event* e, pa_time_event_destroy_cb_t cb);
  static pa_defer_event* deferNew(pa_mainloop_api* a, pa_defer_event_cb_t cb, void* userdata);
  static void deferEnable(pa_defer_event* e, int enable);
  static void deferFree(pa_defer_event* e);
  static void deferSetDestroy(pa_defer_event* e, pa_defer_event_destroy_cb_t cb);
  static void quit(pa_mainloop_api* a, int retval);

  pa_mainloop_api api_{};
  QObject context_;  // where the events' notifiers and timers report
  std::list<std::unique_ptr<Io>> io_;
  std::list<std::unique_ptr<Time>> time_;
  std::list<std::unique_ptr<Defer>> defer_;
  bool sweepPending_ = false;
  bool sweepByEvent_ = false;  // a thread without an event dispatcher of its own yet
};

}  // namespace tallowen
