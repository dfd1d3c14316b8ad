#include "recording/PulseSource.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/stream.h>
#include <pulse/timeval.h>

#include <QElapsedTimer>
#include <QTimer>
#include <cstring>

#include "recording/RecordingLog.h"

namespace tallowen {

namespace {

// What the server may hold for us when the capture thread is held up (a slow disk): long
// enough for any sync, and nothing is lost meanwhile.
constexpr int kMaxHeldSeconds = 10;

// Blocks of `block` are handed over; the server may hold up to kMaxHeldSeconds for us.
pa_buffer_attr bufferAttr(const pa_sample_spec* sampleFormat, std::chrono::milliseconds block) {
  pa_buffer_attr attr;
  attr.maxlength = uint32_t(pa_usec_to_bytes(pa_usec_t(kMaxHeldSeconds) * PA_USEC_PER_SEC, sampleFormat));
  attr.fragsize = uint32_t(pa_usec_to_bytes(pa_usec_t(block.count()) * PA_USEC_PER_MSEC, sampleFormat));
  attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
  return attr;
}

QString pulseError(pa_context* context) {
  return QString::fromUtf8(pa_strerror(context ? pa_context_errno(context) : PA_ERR_UNKNOWN));
}

}  // namespace

std::unique_ptr<SoundSource> PulseSources::open(const AudioInput& input, const SoundFormat& format) {
  return std::make_unique<PulseSource>(input, format, streamName_);
}

PulseSources::DefaultInput PulseSources::defaultInput(int waitMs) {
  // A question and its answer, on a loop of its own: for the recording check, which has
  // nothing else to do meanwhile.
  struct Ask {
    DefaultInput answer;
    bool done = false;
    pa_context* context = nullptr;
  } ask;
  pa_mainloop* loop = pa_mainloop_new();
  ask.context = pa_context_new(pa_mainloop_get_api(loop), "Tallowen check");
  pa_context_set_state_callback(
      ask.context,
      [](pa_context* c, void* data) {
        auto* a = static_cast<Ask*>(data);
        const pa_context_state_t state = pa_context_get_state(c);
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
          a->answer.problem = QString::fromUtf8(pa_strerror(pa_context_errno(c)));
          a->done = true;
        } else if (state == PA_CONTEXT_READY) {
          // The server names its default input; what that input is called comes next.
          pa_operation* op = pa_context_get_source_info_by_name(
              c, "@DEFAULT_SOURCE@",
              [](pa_context*, const pa_source_info* info, int eol, void* data) {
                auto* a = static_cast<Ask*>(data);
                if (eol == 0 && info) a->answer.description = QString::fromUtf8(info->description);
                if (eol != 0) {
                  if (a->answer.description.isEmpty()) a->answer.problem = QStringLiteral("no default input");
                  a->done = true;
                }
              },
              a);
          if (op)
            pa_operation_unref(op);
          else
            a->done = true;
        }
      },
      &ask);
  if (pa_context_connect(ask.context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
    ask.answer.problem = QString::fromUtf8(pa_strerror(pa_context_errno(ask.context)));
    ask.done = true;
  }
  QElapsedTimer waited;
  waited.start();
  while (!ask.done && waited.elapsed() < waitMs) {
    // Waits for what comes, but looks at the clock at least every 50 ms.
    if (pa_mainloop_prepare(loop, 50'000) < 0 || pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0) break;
  }
  if (!ask.done) ask.answer.problem = QStringLiteral("the sound server did not answer");
  pa_context_set_state_callback(ask.context, nullptr, nullptr);
  pa_context_disconnect(ask.context);
  pa_context_unref(ask.context);
  pa_mainloop_free(loop);
  return ask.answer;
}

void PulseSource::ContextDeleter::operator()(pa_context* c) const {
  pa_context_set_state_callback(c, nullptr, nullptr);
  pa_context_disconnect(c);
  pa_context_unref(c);
}

void PulseSource::StreamDeleter::operator()(pa_stream* s) const {
  pa_stream_set_state_callback(s, nullptr, nullptr);
  pa_stream_set_read_callback(s, nullptr, nullptr);
  pa_stream_disconnect(s);
  pa_stream_unref(s);
}

PulseSource::PulseSource(const AudioInput& input, const SoundFormat& format, const QString& streamName)
    : input_(input), format_(format), streamName_(streamName.toUtf8()), loop_(std::make_unique<PulseLoop>()) {}

PulseSource::~PulseSource() = default;

void PulseSource::start() {
  pa_proplist* props = pa_proplist_new();
  pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Tallowen");
  pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "tallowen");
  context_.reset(pa_context_new_with_proplist(loop_->api(), "Tallowen", props));
  pa_proplist_free(props);
  if (!context_) {
    report(SourceLoss::ServerGone, QStringLiteral("libpulse could not make a connection."));
    return;
  }
  pa_context_set_state_callback(
      context_.get(), [](pa_context*, void* self) { static_cast<PulseSource*>(self)->contextChanged(); }, this);
  if (pa_context_connect(context_.get(), nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0)
    report(SourceLoss::ServerGone, pulseError(context_.get()));
}

void PulseSource::contextChanged() {
  switch (pa_context_get_state(context_.get())) {
    case PA_CONTEXT_READY: {
      pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, uint32_t(format_.sampleRate), uint8_t(format_.channels)};
      pa_channel_map map;
      pa_channel_map_init_auto(&map, unsigned(format_.channels), PA_CHANNEL_MAP_DEFAULT);
      stream_.reset(pa_stream_new(context_.get(), streamName_.constData(), &sampleFormat, &map));
      if (!stream_) {
        report(SourceLoss::NoInput, pulseError(context_.get()));
        return;
      }
      pa_stream_set_state_callback(
          stream_.get(), [](pa_stream*, void* self) { static_cast<PulseSource*>(self)->streamChanged(); }, this);
      pa_stream_set_read_callback(
          stream_.get(), [](pa_stream*, size_t, void* self) { static_cast<PulseSource*>(self)->readable(); }, this);
      const pa_buffer_attr attr = bufferAttr(&sampleFormat, block_);
      const QByteArray device = input_.device;
      // Held to the input it began on: when the device goes, the recording says so rather
      // than go on from whatever else the server would choose.
      const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
      if (pa_stream_connect_record(stream_.get(), device.isEmpty() ? nullptr : device.constData(), &attr, flags) <
          0)
        report(SourceLoss::NoInput, pulseError(context_.get()));
      return;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
      report(SourceLoss::ServerGone, pulseError(context_.get()));
      return;
    default:
      return;
  }
}

void PulseSource::streamChanged() {
  switch (pa_stream_get_state(stream_.get())) {
    case PA_STREAM_READY: {
      deviceName_ = pa_stream_get_device_name(stream_.get());
      description_ = QString::fromUtf8(deviceName_);
      // The server keeps an input suspended while another program has it (pasuspender
      // hands it over that way, and a device busy elsewhere cannot be resumed): a stream
      // on it would record nothing. Said once the device's own name is known.
      held_ = pa_stream_is_suspended(stream_.get()) == 1;
      // The device's own name for messages, when the server tells it.
      pa_operation* op = pa_context_get_source_info_by_index(
          context_.get(), pa_stream_get_device_index(stream_.get()),
          [](pa_context*, const pa_source_info* info, int eol, void* data) {
            auto* self = static_cast<PulseSource*>(data);
            if (eol == 0 && info && info->description) self->description_ = QString::fromUtf8(info->description);
            if (eol != 0 && self->held_) self->reportHeld();
          },
          this);
      if (op) pa_operation_unref(op);
      if (held_) {
        if (!op) reportHeld();
        return;
      }
      ready_ = true;
      applyBlock();
      emit ready();
      return;
    }
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED: {
      const bool serverThere = pa_context_get_state(context_.get()) == PA_CONTEXT_READY;
      if (!serverThere)
        report(SourceLoss::ServerGone, pulseError(context_.get()));
      else if (ready_)
        report(SourceLoss::DeviceGone, QStringLiteral("The audio input %1 is gone.").arg(description_));
      else
        report(pa_context_errno(context_.get()) == PA_ERR_BUSY ? SourceLoss::Held : SourceLoss::NoInput,
               pulseError(context_.get()));
      return;
    }
    default:
      return;
  }
}

void PulseSource::readable() {
  const int frameBytes = int(sizeof(float)) * format_.channels;
  while (stream_ && pa_stream_readable_size(stream_.get()) > 0) {
    const void* data = nullptr;
    size_t bytes = 0;
    if (pa_stream_peek(stream_.get(), &data, &bytes) < 0) {
      qCWarning(lcRecording) << "reading the input failed:" << pulseError(context_.get());
      return;  // the stream's state callback tells what became of it
    }
    if (bytes == 0) return;
    const int frames = int(bytes / size_t(frameBytes));
    if (!data) {
      // A hole: sound the server lost. Silence keeps the file's timeline.
      aligned_.assign(size_t(frames) * size_t(format_.channels), 0.0f);
      data = aligned_.data();
    } else if (reinterpret_cast<uintptr_t>(data) % alignof(float) != 0) {
      aligned_.resize(size_t(frames) * size_t(format_.channels));
      std::memcpy(aligned_.data(), data, size_t(frames) * size_t(frameBytes));
      data = aligned_.data();
    }
    // Peek, use, drop: what peek gave belongs to libpulse, which may reuse it once it is
    // dropped. The capture is done with it when the signal returns.
    if (frames > 0) emit audio(static_cast<const float*>(data), frames);
    if (stream_) pa_stream_drop(stream_.get());
  }
}

void PulseSource::setBlock(std::chrono::milliseconds block) {
  if (block == block_) return;
  block_ = block;
  if (ready_) applyBlock();
}

void PulseSource::applyBlock() {
  if (!stream_) return;
  const pa_buffer_attr attr = bufferAttr(pa_stream_get_sample_spec(stream_.get()), block_);
  if (pa_operation* op = pa_stream_set_buffer_attr(stream_.get(), &attr, nullptr, nullptr))
    pa_operation_unref(op);
}

void PulseSource::reportHeld() {
  report(SourceLoss::Held, QStringLiteral("The audio input %1 is suspended by the sound server.")
                               .arg(QString::fromUtf8(deviceName_)));
}

void PulseSource::report(SourceLoss why, const QString& detail) {
  if (reported_) return;
  reported_ = true;
  // From the event loop, so that the capture may drop this source in its answer.
  QTimer::singleShot(0, this, [this, why, detail] { emit lost(why, detail); });
}

}  // namespace tallowen
