#include "player/PlaybackEngine.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <mutex>

#include "player/GstPtr.h"
#include "player/PlayerLog.h"

namespace tallowen {

namespace {

// playbin's GstPlayFlags: sound only, its volume applied in the pipeline (not the sound
// server's stream volume, which the desktop's mixer owns).
constexpr guint kPlayAudio = 0x2;
constexpr guint kPlaySoftVolume = 0x10;
// The furthest a seek can ask for in GStreamer's nanoseconds.
constexpr qint64 kLatestMs = G_MAXINT64 / GST_MSECOND;
// The sound may end this much before the length a file gives and the file still be whole.
constexpr qint64 kShortfallMs = 1000;

bool initGStreamer() {
  static const bool ready = [] {
    GError* raw = nullptr;
    if (gst_init_check(nullptr, nullptr, &raw)) return true;
    const GErrorPtr error(raw);
    qCWarning(lcPlayer) << "GStreamer cannot start:" << (error ? error->message : "");
    return false;
  }();
  return ready;
}

QString elementName(GstMessage* message) {
  const GCharPtr name(gst_object_get_name(GST_MESSAGE_SRC(message)));
  return QString::fromUtf8(name.get());
}

bool comesFromSink(GstMessage* message) {
  GstObject* source = GST_MESSAGE_SRC(message);
  if (!source || !GST_IS_ELEMENT(source)) return false;
  const gchar* klass = gst_element_get_metadata(GST_ELEMENT(source), GST_ELEMENT_METADATA_KLASS);
  return klass && std::strstr(klass, "Sink");
}

// Whether an installed decoder takes sound of these caps: when one does and decodebin still
// reports a missing plugin, the decoder refused the stream's own parameters (0 channels,
// a rate of 0), and the file is damaged rather than the installation incomplete.
bool decoderInstalledFor(const GstCaps* caps) {
  GList* decoders = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER, GST_RANK_MARGINAL);
  GList* fitting = gst_element_factory_list_filter(decoders, caps, GST_PAD_SINK, FALSE);
  const bool found = fitting != nullptr;
  gst_plugin_feature_list_free(fitting);
  gst_plugin_feature_list_free(decoders);
  return found;
}

PlaybackFailure::Cause causeOf(const GError* error, bool fromSink) {
  using Cause = PlaybackFailure::Cause;
  if (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_MISSING_PLUGIN) return Cause::MissingComponent;
  if (error->domain == GST_STREAM_ERROR && error->code == GST_STREAM_ERROR_CODEC_NOT_FOUND)
    return Cause::MissingComponent;
  if (error->domain == GST_RESOURCE_ERROR) return fromSink ? Cause::NoOutput : Cause::Unreadable;
  if (error->domain == GST_STREAM_ERROR) return Cause::Undecodable;
  return Cause::Other;
}

}  // namespace

struct PlaybackEngine::Pipeline {
  ElementPtr playbin;
  BusPtr bus;
  Relay* relay = nullptr;  // owned by the bus's sync handler
};

// What the engine's thread needs of one bus message, taken while the message is alive.
struct PlaybackEngine::BusNote {
  enum class Kind { Error, EndOfStream, Prerolled, DurationChanged, LoopEnd, ClockLost, DecoderRefused };
  Kind kind = Kind::Error;
  quint64 generation = 0;
  quint64 seekGeneration = 0;
  PlaybackFailure failure;
};

// Carries bus messages from GStreamer's threads to the engine's, as queued calls. The
// engine detaches itself before it goes; a message that arrives after that is dropped.
struct PlaybackEngine::Relay {
  std::mutex mutex;
  PlaybackEngine* engine = nullptr;
  GstObject* pipeline = nullptr;

  static GstBusSyncReply onMessage(GstBus*, GstMessage* message, gpointer data) {
    static_cast<Relay*>(data)->forward(message);
    // Nobody pops the bus: whatever is not dropped here would pile up in it.
    return GST_BUS_DROP;
  }
  static void destroy(gpointer data) { delete static_cast<Relay*>(data); }

  void forward(GstMessage* message) {
    BusNote note;
    const bool fromPipeline = GST_MESSAGE_SRC(message) == pipeline;
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_ERROR: {
        GError* rawError = nullptr;
        gchar* rawDebug = nullptr;
        gst_message_parse_error(message, &rawError, &rawDebug);
        const GErrorPtr error(rawError);
        const GCharPtr debug(rawDebug);
        note.kind = BusNote::Kind::Error;
        note.failure.cause = causeOf(error.get(), comesFromSink(message));
        note.failure.detail = QString::fromUtf8(error->message);
        qCWarning(lcPlayer) << "error from" << elementName(message) << note.failure.detail << debug.get();
        break;
      }
      case GST_MESSAGE_WARNING: {
        GError* rawError = nullptr;
        gchar* rawDebug = nullptr;
        gst_message_parse_warning(message, &rawError, &rawDebug);
        const GErrorPtr error(rawError);
        const GCharPtr debug(rawDebug);
        qCDebug(lcPlayer) << "warning from" << elementName(message) << error->message << debug.get();
        return;
      }
      case GST_MESSAGE_EOS:
        if (!fromPipeline) return;
        note.kind = BusNote::Kind::EndOfStream;
        break;
      case GST_MESSAGE_ASYNC_DONE:
        if (!fromPipeline) return;
        note.kind = BusNote::Kind::Prerolled;
        break;
      case GST_MESSAGE_DURATION_CHANGED:
        note.kind = BusNote::Kind::DurationChanged;
        break;
      case GST_MESSAGE_SEGMENT_DONE:
        if (!fromPipeline) return;
        note.kind = BusNote::Kind::LoopEnd;
        break;
      case GST_MESSAGE_CLOCK_LOST:
        note.kind = BusNote::Kind::ClockLost;
        break;
      case GST_MESSAGE_ELEMENT: {
        // decodebin's word for a missing plugin comes before its error, with the caps it
        // found no decoder for.
        const GstStructure* s = gst_message_get_structure(message);
        if (!s || !gst_structure_has_name(s, "missing-plugin")) return;
        const gchar* type = gst_structure_get_string(s, "type");
        GstCaps* rawCaps = nullptr;
        if (!type || std::strcmp(type, "decoder") != 0 || !gst_structure_get(s, "detail", GST_TYPE_CAPS, &rawCaps, nullptr))
          return;
        const CapsPtr caps(rawCaps);
        if (!decoderInstalledFor(caps.get())) return;
        const GCharPtr text(gst_caps_to_string(caps.get()));
        note.kind = BusNote::Kind::DecoderRefused;
        note.failure.detail = QStringLiteral("the decoder for %1 refused the stream").arg(QString::fromUtf8(text.get()));
        qCDebug(lcPlayer) << note.failure.detail;
        break;
      }
      default:
        return;
    }
    const std::lock_guard lock(mutex);
    if (!engine) return;
    note.generation = engine->generation_;
    note.seekGeneration = engine->seekGeneration_;
    PlaybackEngine* target = engine;
    QMetaObject::invokeMethod(target, [target, note] { target->handle(note); }, Qt::QueuedConnection);
  }
};

PlaybackEngine::PlaybackEngine(QObject* parent) : QObject(parent) {
  if (!initGStreamer()) return;
  auto pipeline = std::make_unique<Pipeline>();
  pipeline->playbin = ownElement("playbin", "player");
  if (!pipeline->playbin) {
    qCWarning(lcPlayer) << "no playbin: gstreamer1.0-plugins-base is missing";
    return;
  }
  GstElement* playbin = pipeline->playbin.get();
  if (const ElementPtr tempo = ownElement("scaletempo"))
    g_object_set(playbin, "audio-filter", tempo.get(), nullptr);
  else
    qCWarning(lcPlayer) << "no scaletempo (gstreamer1.0-plugins-good): other speeds change the pitch";
  ElementPtr sink = ownElement("pulsesink");
  if (sink) {
    // After a flushing seek, pulsesink's own clock now and then reads as thousands of
    // hours, and playback stalls for good: as the pipeline's clock, or as the clock that
    // the sink slaves the system clock to (GStreamer 1.22: half of the runs of 60 seeks
    // with rate changes). The pipeline runs on the system clock, with no slaving.
    g_object_set(sink.get(), "client-name", "Tallowen", "provide-clock", FALSE, nullptr);
    gst_util_set_object_arg(G_OBJECT(sink.get()), "slave-method", "none");
  } else {
    sink = ownElement("autoaudiosink");
  }
  if (sink) g_object_set(playbin, "audio-sink", sink.get(), nullptr);
  g_object_set(playbin, "flags", kPlayAudio | kPlaySoftVolume, nullptr);

  pipeline->bus.reset(gst_element_get_bus(playbin));
  auto* relay = new Relay;
  relay->engine = this;
  relay->pipeline = GST_OBJECT(playbin);
  pipeline->relay = relay;
  gst_bus_set_sync_handler(pipeline->bus.get(), &Relay::onMessage, relay, &Relay::destroy);
  pipeline_ = std::move(pipeline);
}

PlaybackEngine::~PlaybackEngine() {
  if (!pipeline_) return;
  {
    const std::lock_guard lock(pipeline_->relay->mutex);
    pipeline_->relay->engine = nullptr;
  }
  gst_element_set_state(pipeline_->playbin.get(), GST_STATE_NULL);
  gst_bus_set_sync_handler(pipeline_->bus.get(), nullptr, nullptr, nullptr);
}

void PlaybackEngine::load(const QString& path, bool play) {
  tearDown();
  if (!pipeline_) {
    setState(State::Stopped);
    fail({PlaybackFailure::Cause::MissingComponent, QStringLiteral("GStreamer playbin")});
    return;
  }
  GError* rawError = nullptr;
  const GCharPtr uri(
      gst_filename_to_uri(QFile::encodeName(QFileInfo(path).absoluteFilePath()).constData(), &rawError));
  const GErrorPtr error(rawError);
  if (!uri) {
    fail({PlaybackFailure::Cause::Unreadable, error ? QString::fromUtf8(error->message) : QString()});
    return;
  }
  g_object_set(pipeline_->playbin.get(), "uri", uri.get(), nullptr);
  setState(play ? State::Playing : State::Paused);
  setMedia(Media::Loading);
  if (gst_element_set_state(pipeline_->playbin.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
    // The bus has said why, in a call queued before this one; this is for a failure
    // that came without a word.
    const quint64 generation = generation_;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
          if (generation_ == generation && media_ == Media::Loading)
            fail({PlaybackFailure::Cause::Other, QStringLiteral("the file cannot be opened")});
        },
        Qt::QueuedConnection);
  }
}

void PlaybackEngine::unload() {
  tearDown();
  setState(State::Stopped);
  setMedia(Media::None);
}

void PlaybackEngine::play() {
  if (media_ == Media::None || media_ == Media::Failed) return;
  if (atEnd_) seekNow(loopTo_ >= 0 ? loopFrom_ : 0);
  if (media_ == Media::Ended) setMedia(Media::Ready);
  setState(State::Playing);
  applyTarget();
}

void PlaybackEngine::pause() {
  if (media_ == Media::None || media_ == Media::Failed) return;
  setState(State::Paused);
  applyTarget();
}

void PlaybackEngine::stop() {
  if (media_ == Media::None || media_ == Media::Failed) return;
  setState(State::Stopped);
  applyTarget();
  seekNow(0);
  if (media_ == Media::Ended) setMedia(Media::Ready);
}

void PlaybackEngine::seek(qint64 ms) {
  if (media_ == Media::None || media_ == Media::Failed) return;
  ms = std::clamp<qint64>(ms, 0, kLatestMs);
  // Sought to the end, a paused pipeline would hold its end of stream until it plays, and
  // the next play would end at once: the file is at its end now, as if played there.
  if (ready_ && duration_ >= 0 && ms >= duration_) {
    atTheEnd();
    return;
  }
  if (media_ == Media::Ended) setMedia(Media::Ready);
  seekNow(ms);
}

void PlaybackEngine::setRate(double rate) {
  if (rate <= 0 || rate == rate_) return;
  const qint64 at = position();
  rate_ = rate;
  // At the end nothing plays: the new rate is taken with the next seek.
  if (ready_ && !atEnd_) seekNow(at);
}

void PlaybackEngine::placeLoop(qint64 fromMs, qint64 toMs) {
  if (fromMs == loopFrom_ && toMs == loopTo_) return;
  loopFrom_ = fromMs;
  loopTo_ = toMs;
  emit loopChanged();
}

void PlaybackEngine::setLoopStart(qint64 fromMs) {
  if (media_ == Media::None || media_ == Media::Failed) return;
  if (loopTo_ >= 0) clearLoop();
  placeLoop(std::max<qint64>(fromMs, 0), -1);
}

void PlaybackEngine::setLoop(qint64 fromMs, qint64 toMs) {
  if (media_ == Media::None || media_ == Media::Failed || toMs <= fromMs) return;
  placeLoop(std::max<qint64>(fromMs, 0), duration_ >= 0 ? std::min(toMs, duration_) : toMs);
  if (media_ == Media::Ended) setMedia(Media::Ready);
  seekNow(loopFrom_);
}

void PlaybackEngine::clearLoop() {
  if (loopFrom_ < 0) return;
  const bool looping = loopTo_ >= 0;
  const qint64 at = position();
  placeLoop(-1, -1);
  // The stretch that plays still ends at the loop's end: play on past it.
  if (looping && ready_ && !atEnd_) seekNow(at);
}

void PlaybackEngine::setVolume(double amplitude) {
  volume_ = std::clamp(amplitude, 0.0, 1.0);
  if (pipeline_) g_object_set(pipeline_->playbin.get(), "volume", volume_, nullptr);
}

void PlaybackEngine::setMuted(bool muted) {
  muted_ = muted;
  if (pipeline_) g_object_set(pipeline_->playbin.get(), "mute", gboolean(muted_), nullptr);
}

qint64 PlaybackEngine::position() const {
  if (!pipeline_ || media_ == Media::None || media_ == Media::Failed) return 0;
  if (atEnd_) return std::max<qint64>(duration_, 0);
  if (!ready_) return std::max<qint64>(pendingSeek_, 0);
  if (seeking_) return seekTarget_;
  gint64 position = 0;
  if (gst_element_query_position(pipeline_->playbin.get(), GST_FORMAT_TIME, &position) && position >= 0)
    return position / GST_MSECOND;
  qCDebug(lcPlayer) << "the position cannot be read";
  return 0;
}

void PlaybackEngine::handle(const BusNote& note) {
  if (note.generation != generation_) return;
  switch (note.kind) {
    case BusNote::Kind::Error:
      if (!decoderRefusal_.isEmpty() && note.failure.cause == PlaybackFailure::Cause::MissingComponent)
        fail({PlaybackFailure::Cause::Damaged, decoderRefusal_});
      else
        fail(note.failure);
      break;
    case BusNote::Kind::DecoderRefused:
      decoderRefusal_ = note.failure.detail;
      break;
    case BusNote::Kind::EndOfStream:
      ended();
      break;
    case BusNote::Kind::Prerolled:
      seeking_ = false;
      if (!ready_) prerolled();
      break;
    case BusNote::Kind::DurationChanged:
      if (ready_) readDurationAndSeekable();
      break;
    case BusNote::Kind::LoopEnd:
      // The end of a stretch that a later seek has replaced says nothing.
      if (note.seekGeneration == seekGeneration_) loopAgain();
      break;
    case BusNote::Kind::ClockLost:
      if (state_ == State::Playing) {
        gst_element_set_state(pipeline_->playbin.get(), GST_STATE_PAUSED);
        gst_element_set_state(pipeline_->playbin.get(), GST_STATE_PLAYING);
      }
      break;
  }
}

void PlaybackEngine::prerolled() {
  ready_ = true;
  readDurationAndSeekable();
  setMedia(Media::Ready);
  if (pendingSeek_ >= 0 || rate_ != 1.0) {
    const qint64 at = std::max<qint64>(pendingSeek_, 0);
    pendingSeek_ = -1;
    seekNow(at);
  }
  applyTarget();
}

void PlaybackEngine::ended() {
  // Where the sound ran out is the file's end, whatever length it gave before: a file cut
  // short (or a header that claims more than the file holds) ends early.
  gint64 position = -1;
  const bool known = gst_element_query_position(pipeline_->playbin.get(), GST_FORMAT_TIME, &position) && position >= 0;
  const qint64 reached = known ? position / GST_MSECOND : -1;
  const qint64 expected = duration_;
  if (reached >= 0 && (expected < 0 || reached < expected - kShortfallMs)) {
    duration_ = reached;
    emit durationChanged(duration_);
  }
  atTheEnd();
  if (expected >= 0 && duration_ < expected) emit cutShort(duration_, expected);
}

void PlaybackEngine::atTheEnd() {
  // A later seek or play starts from a paused pipeline, not from one that ran dry.
  gst_element_set_state(pipeline_->playbin.get(), GST_STATE_PAUSED);
  placeLoop(-1, -1);
  pendingSeek_ = -1;
  atEnd_ = true;
  seeking_ = false;
  setState(State::Stopped);
  setMedia(Media::Ended);
}

void PlaybackEngine::fail(const PlaybackFailure& failure) {
  qCWarning(lcPlayer) << "cannot play:" << int(failure.cause) << failure.detail;
  tearDown();
  failure_ = failure;
  setState(State::Stopped);
  setMedia(Media::Failed);
  emit failed(failure_);
}

void PlaybackEngine::setState(State state) {
  if (state_ == state) return;
  state_ = state;
  emit stateChanged(state_);
}

void PlaybackEngine::setMedia(Media media) {
  if (media_ == media) return;
  media_ = media;
  emit mediaChanged(media_);
}

void PlaybackEngine::readDurationAndSeekable() {
  gint64 duration = -1;
  const qint64 ms = gst_element_query_duration(pipeline_->playbin.get(), GST_FORMAT_TIME, &duration) && duration >= 0
                        ? duration / GST_MSECOND
                        : -1;
  if (ms != duration_) {
    duration_ = ms;
    emit durationChanged(duration_);
  }
  gboolean seekable = FALSE;
  const QueryPtr query(gst_query_new_seeking(GST_FORMAT_TIME));
  if (gst_element_query(pipeline_->playbin.get(), query.get()))
    gst_query_parse_seeking(query.get(), nullptr, &seekable, nullptr, nullptr);
  if (bool(seekable) != seekable_) {
    seekable_ = seekable;
    emit seekableChanged(seekable_);
  }
}

void PlaybackEngine::seekNow(qint64 ms) {
  ms = std::clamp<qint64>(ms, 0, kLatestMs);
  atEnd_ = false;
  if (!ready_) {
    pendingSeek_ = ms;
    return;
  }
  // A seek out of the loop ends it.
  if (loopTo_ >= 0 && (ms < loopFrom_ || ms >= loopTo_)) placeLoop(-1, -1);
  const bool looping = loopTo_ >= 0;
  auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
  if (looping) flags = GstSeekFlags(flags | GST_SEEK_FLAG_SEGMENT);
  // A seek with a rate is how GStreamer changes speed; scaletempo keeps the pitch. The end
  // is always given: left out, a loop's end would stay in force.
  if (gst_element_seek(pipeline_->playbin.get(), rate_, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, ms * GST_MSECOND,
                       GST_SEEK_TYPE_SET, looping ? loopTo_ * GST_MSECOND : GST_CLOCK_TIME_NONE)) {
    seeking_ = true;
    seekTarget_ = ms;
  } else {
    qCWarning(lcPlayer) << "seek to" << ms << "ms at" << rate_ << "refused";
  }
  // Counted once the old stretch has been flushed: its end, if already on its way, is old.
  ++seekGeneration_;
}

void PlaybackEngine::loopAgain() {
  if (loopTo_ < 0) {
    ended();
    return;
  }
  // Without a flush, so that the end of the loop runs into its start without a gap.
  if (!gst_element_seek(pipeline_->playbin.get(), rate_, GST_FORMAT_TIME,
                        GstSeekFlags(GST_SEEK_FLAG_SEGMENT | GST_SEEK_FLAG_ACCURATE), GST_SEEK_TYPE_SET,
                        loopFrom_ * GST_MSECOND, GST_SEEK_TYPE_SET, loopTo_ * GST_MSECOND)) {
    qCWarning(lcPlayer) << "the loop cannot start again";
    ended();
  }
}

void PlaybackEngine::applyTarget() {
  if (!ready_) return;
  gst_element_set_state(pipeline_->playbin.get(),
                        state_ == State::Playing ? GST_STATE_PLAYING : GST_STATE_PAUSED);
}

void PlaybackEngine::tearDown() {
  if (pipeline_) gst_element_set_state(pipeline_->playbin.get(), GST_STATE_NULL);
  // Every thread of the old file has stopped: what it said is old from here on.
  ++generation_;
  ready_ = seeking_ = atEnd_ = false;
  decoderRefusal_.clear();
  pendingSeek_ = -1;
  placeLoop(-1, -1);
  failure_ = {};
  if (duration_ != -1) {
    duration_ = -1;
    emit durationChanged(duration_);
  }
  if (seekable_) {
    seekable_ = false;
    emit seekableChanged(false);
  }
}

}  // namespace tallowen
