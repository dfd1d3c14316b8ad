#include "recording/PulseLoop.h"

#include <sys/time.h>

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <ctime>

namespace tallowen {

namespace {

// libpulse marks a time given on the monotonic clock with this bit of its microseconds;
// without it a time is the wall clock's.
constexpr long kMonotonicBit = 1L << 30;

int64_t nowUs(bool monotonic) {
  if (monotonic) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
  }
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return int64_t(tv.tv_sec) * 1'000'000 + tv.tv_usec;
}

// Milliseconds from now until `tv`, rounded up so that the event never fires early.
int msUntil(const timeval* tv) {
  const bool monotonic = (tv->tv_usec & kMonotonicBit) != 0;
  const int64_t at = int64_t(tv->tv_sec) * 1'000'000 + (tv->tv_usec & ~kMonotonicBit);
  const int64_t us = at - nowUs(monotonic);
  return us <= 0 ? 0 : int(std::min<int64_t>((us + 999) / 1000, INT32_MAX));
}

}  // namespace

struct PulseLoop::Io {
  PulseLoop* loop;
  int fd;
  pa_io_event_cb_t cb;
  void* userdata;
  pa_io_event_destroy_cb_t destroy = nullptr;
  std::unique_ptr<QSocketNotifier> read;
  std::unique_ptr<QSocketNotifier> write;
  bool dead = false;
};

struct PulseLoop::Time {
  PulseLoop* loop;
  pa_time_event_cb_t cb;
  void* userdata;
  pa_time_event_destroy_cb_t destroy = nullptr;
  QTimer timer;
  timeval when{};
  bool dead = false;
};

struct PulseLoop::Defer {
  PulseLoop* loop;
  pa_defer_event_cb_t cb;
  void* userdata;
  pa_defer_event_destroy_cb_t destroy = nullptr;
  QTimer timer;  // an enabled deferred event runs at every turn of the loop
  bool dead = false;
};

PulseLoop::PulseLoop() {
  api_.userdata = this;
  api_.io_new = &PulseLoop::ioNew;
  api_.io_enable = &PulseLoop::ioEnable;
  api_.io_free = &PulseLoop::ioFree;
  api_.io_set_destroy = &PulseLoop::ioSetDestroy;
  api_.time_new = &PulseLoop::timeNew;
  api_.time_restart = &PulseLoop::timeRestart;
  api_.time_free = &PulseLoop::timeFree;
  api_.time_set_destroy = &PulseLoop::timeSetDestroy;
  api_.defer_new = &PulseLoop::deferNew;
  api_.defer_enable = &PulseLoop::deferEnable;
  api_.defer_free = &PulseLoop::deferFree;
  api_.defer_set_destroy = &PulseLoop::deferSetDestroy;
  api_.quit = &PulseLoop::quit;
  // Freed events are swept just before the loop next sleeps: a sweep posted as an event
  // would wake the loop for nothing, several times for each block of sound.
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread()))
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &context_, [this] {
      if (sweepPending_) sweep();
    });
  else
    sweepByEvent_ = true;
}

PulseLoop::~PulseLoop() {
  for (auto& e : io_) e->dead = true;
  for (auto& e : time_) e->dead = true;
  for (auto& e : defer_) e->dead = true;
  sweep();
}

void PulseLoop::sweepLater() {
  if (sweepPending_) return;
  sweepPending_ = true;
  if (sweepByEvent_) QTimer::singleShot(0, &context_, [this] { sweep(); });
}

void PulseLoop::sweep() {
  sweepPending_ = false;
  // A destroy callback may free further events: sweep until nothing dead is left.
  for (bool again = true; again;) {
    again = false;
    auto take = [&again](auto& list, auto destroyOne) {
      for (auto it = list.begin(); it != list.end();) {
        if (!(*it)->dead) {
          ++it;
          continue;
        }
        auto event = std::move(*it);
        it = list.erase(it);
        destroyOne(*event);
        again = true;
      }
    };
    take(io_, [this](Io& e) {
      if (e.destroy) e.destroy(&api_, reinterpret_cast<pa_io_event*>(&e), e.userdata);
    });
    take(time_, [this](Time& e) {
      if (e.destroy) e.destroy(&api_, reinterpret_cast<pa_time_event*>(&e), e.userdata);
    });
    take(defer_, [this](Defer& e) {
      if (e.destroy) e.destroy(&api_, reinterpret_cast<pa_defer_event*>(&e), e.userdata);
    });
  }
}

pa_io_event* PulseLoop::ioNew(pa_mainloop_api* a, int fd, pa_io_event_flags_t events, pa_io_event_cb_t cb,
                              void* userdata) {
  PulseLoop* loop = of(a);
  // libpulse frees its socket's event and makes a new one for each message it reads. An
  // event freed for the same descriptor and not yet swept is taken again, notifiers and all:
  // each notifier made, enabled or disabled costs the loop a wake-up call to itself.
  for (auto& freed : loop->io_) {
    if (freed->dead && freed->fd == fd && !freed->destroy) {
      freed->dead = false;
      freed->cb = cb;
      freed->userdata = userdata;
      ioEnable(reinterpret_cast<pa_io_event*>(freed.get()), events);
      return reinterpret_cast<pa_io_event*>(freed.get());
    }
  }
  auto e = std::make_unique<Io>();
  e->loop = loop;
  e->fd = fd;
  e->cb = cb;
  e->userdata = userdata;
  Io* io = e.get();
  auto fire = [io](pa_io_event_flags_t flags) {
    if (io->dead) {
      // Freed and not yet swept: it sleeps until taken again.
      io->read->setEnabled(false);
      io->write->setEnabled(false);
      return;
    }
    io->cb(&io->loop->api_, reinterpret_cast<pa_io_event*>(io), io->fd, flags, io->userdata);
  };
  // Made disabled; ioEnable turns on what libpulse asks for. A hang-up or an error shows as
  // readable; libpulse finds out which when it reads.
  e->read = std::make_unique<QSocketNotifier>(QSocketNotifier::Read);
  e->read->setSocket(fd);
  QObject::connect(e->read.get(), &QSocketNotifier::activated, &loop->context_, [fire] { fire(PA_IO_EVENT_INPUT); });
  e->write = std::make_unique<QSocketNotifier>(QSocketNotifier::Write);
  e->write->setSocket(fd);
  QObject::connect(e->write.get(), &QSocketNotifier::activated, &loop->context_,
                   [fire] { fire(PA_IO_EVENT_OUTPUT); });
  loop->io_.push_back(std::move(e));
  ioEnable(reinterpret_cast<pa_io_event*>(io), events);
  return reinterpret_cast<pa_io_event*>(io);
}

void PulseLoop::ioEnable(pa_io_event* event, pa_io_event_flags_t events) {
  auto* e = reinterpret_cast<Io*>(event);
  if (e->dead) return;
  e->read->setEnabled(events & (PA_IO_EVENT_INPUT | PA_IO_EVENT_HANGUP | PA_IO_EVENT_ERROR));
  e->write->setEnabled(events & PA_IO_EVENT_OUTPUT);
}

void PulseLoop::ioFree(pa_io_event* event) {
  auto* e = reinterpret_cast<Io*>(event);
  // Its notifiers stay as they are until it is taken again or swept: should one fire
  // meanwhile, it only puts itself to sleep.
  e->dead = true;
  e->loop->sweepLater();
}

void PulseLoop::ioSetDestroy(pa_io_event* event, pa_io_event_destroy_cb_t cb) {
  reinterpret_cast<Io*>(event)->destroy = cb;
}

pa_time_event* PulseLoop::timeNew(pa_mainloop_api* a, const struct timeval* tv, pa_time_event_cb_t cb,
                                  void* userdata) {
  PulseLoop* loop = of(a);
  auto e = std::make_unique<Time>();
  e->loop = loop;
  e->cb = cb;
  e->userdata = userdata;
  Time* t = e.get();
  t->timer.setSingleShot(true);
  t->timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&t->timer, &QTimer::timeout, &loop->context_, [t] {
    if (!t->dead) t->cb(&t->loop->api_, reinterpret_cast<pa_time_event*>(t), &t->when, t->userdata);
  });
  loop->time_.push_back(std::move(e));
  timeRestart(reinterpret_cast<pa_time_event*>(t), tv);
  return reinterpret_cast<pa_time_event*>(t);
}

void PulseLoop::timeRestart(pa_time_event* event, const struct timeval* tv) {
  auto* e = reinterpret_cast<Time*>(event);
  if (e->dead) return;
  if (!tv) {
    e->timer.stop();
    return;
  }
  e->when = *tv;
  e->timer.start(msUntil(tv));
}

void PulseLoop::timeFree(pa_time_event* event) {
  auto* e = reinterpret_cast<Time*>(event);
  e->dead = true;
  e->timer.stop();
  e->loop->sweepLater();
}

void PulseLoop::timeSetDestroy(pa_time_event* event, pa_time_event_destroy_cb_t cb) {
  reinterpret_cast<Time*>(event)->destroy = cb;
}

pa_defer_event* PulseLoop::deferNew(pa_mainloop_api* a, pa_defer_event_cb_t cb, void* userdata) {
  PulseLoop* loop = of(a);
  auto e = std::make_unique<Defer>();
  e->loop = loop;
  e->cb = cb;
  e->userdata = userdata;
  Defer* d = e.get();
  d->timer.setInterval(0);
  QObject::connect(&d->timer, &QTimer::timeout, &loop->context_, [d] {
    if (!d->dead) d->cb(&d->loop->api_, reinterpret_cast<pa_defer_event*>(d), d->userdata);
  });
  d->timer.start();
  loop->defer_.push_back(std::move(e));
  return reinterpret_cast<pa_defer_event*>(d);
}

void PulseLoop::deferEnable(pa_defer_event* event, int enable) {
  auto* e = reinterpret_cast<Defer*>(event);
  if (e->dead) return;
  if (enable && !e->timer.isActive())
    e->timer.start();
  else if (!enable)
    e->timer.stop();
}

void PulseLoop::deferFree(pa_defer_event* event) {
  auto* e = reinterpret_cast<Defer*>(event);
  e->dead = true;
  e->timer.stop();
  e->loop->sweepLater();
}

void PulseLoop::deferSetDestroy(pa_defer_event* event, pa_defer_event_destroy_cb_t cb) {
  reinterpret_cast<Defer*>(event)->destroy = cb;
}

void PulseLoop::quit(pa_mainloop_api*, int) {}  // the loop is the thread's; it ends with the thread

}  // namespace tallowen
