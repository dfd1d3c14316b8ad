#include "recording/Capture.h"

#include <fcntl.h>

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <algorithm>
#include <utility>

#include "platform/Trace.h"
#include "recording/AsfRepair.h"
#include "recording/AsfWriter.h"
#include "recording/Codec.h"
#include "recording/LoudnessCache.h"
#include "recording/OutputFile.h"
#include "recording/RecordingJournal.h"
#include "recording/RecordingLog.h"

namespace tallowen {

namespace {

using namespace std::chrono_literals;

// The first sound comes in a small block, so that the recording shows at once; then
// blocks as large as what watches them allows: each block is a wake-up, and a laptop
// recording for hours wants few. The meter shows its peaks a block late.
constexpr auto kFirstBlock = 20ms;
constexpr auto kWatchedBlock = 250ms;
constexpr auto kUnwatchedBlock = 1000ms;
// Sound is at most this old when it reaches the disk for sure: the time it waits in the
// server for its block, and then for the next sync. A power cut loses no more than that.
constexpr auto kMostUnsynced = 1000ms;
// An input this late beyond its block has stalled: silence goes in for the time it is away.
constexpr auto kStallGrace = 1000ms;
constexpr auto kStallStep = 500ms;
constexpr auto kReconnectStep = 1000ms;
// How long a recording waits for its own device after the sound server has gone.
constexpr auto kSameDeviceWait = 20s;
// After a stall the input may hand over what it held back; more than this ahead of the
// clock is left out, so that the file keeps the clock's time.
constexpr auto kAheadAllowed = 250ms;
// How long after the last silence put in the input may still be handing over what it held.
constexpr auto kBacklogWindow = 3000ms;
// A stop waits at most this long for the sound that came before it.
constexpr auto kDrainWait = 150ms;
// The capture thread wakes at least this much later than its input or its watch should
// have woken it only when the program itself did not run (stopped, suspended, starved).
constexpr auto kLateSlack = 1000ms;
// After such a time the sound server hands over, at once, what it held for us; after this
// long it is in, and what it could not hold is made up for with silence.
constexpr auto kCatchUpWait = 300ms;
// Less lost than this is not worth a word: a wake-up that came late by a block.
constexpr auto kLostWorthSaying = 500ms;

int64_t framesFor(std::chrono::milliseconds d, int rate) { return int64_t(d.count()) * rate / 1000; }

}  // namespace

void DeleteLater::operator()(QObject* object) const {
  object->disconnect();
  object->deleteLater();
}

Capture::Capture(RecordingSetup setup, SoundSources& sources)
    : setup_(std::move(setup)), sources_(sources), format_{setup_.profile.sampleRate, setup_.profile.channels} {
  stallWatch_.setSingleShot(true);
  stallWatch_.setTimerType(Qt::CoarseTimer);
  connect(&stallWatch_, &QTimer::timeout, this, &Capture::onStall);
  reconnect_.setInterval(kReconnectStep);
  connect(&reconnect_, &QTimer::timeout, this, &Capture::onReconnectTick);
  catchUp_.setSingleShot(true);
  catchUp_.setInterval(kCatchUpWait);
  connect(&catchUp_, &QTimer::timeout, this, &Capture::catchUp);
  drain_.setSingleShot(true);
  drain_.setInterval(kDrainWait);
  connect(&drain_, &QTimer::timeout, this, [this] {
    if (state_ != State::Ended) finish();
  });
}

Capture::~Capture() {
  // Not from inside a signal of the input's: it goes at once.
  delete source_.release();
  writer_.reset();
  file_.reset();
}

void Capture::dropSource() { source_.reset(); }

std::chrono::milliseconds Capture::block() const { return watched_ ? kWatchedBlock : kUnwatchedBlock; }

void Capture::begin() {
  try {
    // The module loads here, off the window's thread, the first time it is needed.
    Codec& codec = LoadedCodec();
    if (const QString missing = codec.missingComponents(); !missing.isEmpty())
      throw RecordingError(FailureCause::Component, QString(), QStringLiteral("This FFmpeg lacks %1.").arg(missing));
    encoder_ = codec.createEncoder(setup_.profile);
    file_ = OutputFile::create(setup_.path, setup_.rescueFolders);
    if (const int fd = ::fcntl(file_->descriptor(), F_DUPFD_CLOEXEC, 0); fd >= 0)
      recording_.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle);
    madeAt_ = file_->path();
    journal_ = std::make_unique<RecordingJournalEntry>(madeAt_, file_->descriptor());
    writer_ = std::make_unique<AsfWriter>(*file_, encoder_->format(),
                                          AsfWriter::Texts{QFileInfo(madeAt_).fileName(), QStringLiteral("Tallowen")});
    level_.start(format_.sampleRate, format_.channels);
    loudness_->start(format_.sampleRate, format_.channels);
    silence_.assign(size_t(format_.sampleRate / 10) * size_t(format_.channels), 0.0f);
    checkJournal();
    openSource(setup_.input);
  } catch (const RecordingError& e) {
    cleanUpFailedStart(e.failure());
  }
}

void Capture::openSource(const AudioInput& input) {
  sourceHeard_ = false;
  // An input dropped before (a server that went away) says nothing more: dropping it
  // disconnects it.
  source_.reset(sources_.open(input, format_).release());
  source_->setBlock(kFirstBlock);
  connect(source_.get(), &SoundSource::ready, this, &Capture::onReady);
  connect(source_.get(), &SoundSource::audio, this, &Capture::onAudio);
  connect(source_.get(), &SoundSource::lost, this, &Capture::onLost);
  source_->start();
}

void Capture::cleanUpFailedStart(const RecordingFailure& why) {
  // A file we created holds nothing but our header: it is ours to take away again.
  dropSource();
  writer_.reset();
  const QString made = file_ ? file_->path() : QString();
  file_.reset();
  recording_.close();
  if (!made.isEmpty()) QFile::remove(made);
  if (journal_) journal_->markCompleted();
  journal_.reset();
  state_ = State::Ended;
  RecordingResult result;
  result.failure = why;
  qCWarning(lcRecording) << "the recording did not start:" << why.detail;
  report(result);
}

void Capture::report(const RecordingResult& result) {
  result_ = result;
  emit ended(result);
}

RecordingResult Capture::end() {
  // The program is ending: what the file holds now is completed, without waiting.
  if (!result_) {
    if (state_ == State::Opening) state_ = State::Running;
    finish();
  }
  return result_.value_or(RecordingResult());
}

void Capture::onReady() {
  if (state_ == State::Opening) {
    state_ = State::Running;
    heardFrom_ = setup_.input.device.isEmpty() ? AudioInput{source_->deviceName()} : setup_.input;
    clock_.start();
    sinceSync_.start();
    if (paused_) clock_.invalidate();
    stallWatch_.start(kFirstBlock + kStallGrace);
    awake_.start();
    madeTold_ = true;
    emit fileChanged(file_->path(), FileChange::Made);
    emit begun();
    // Marks asked for before the input opened: the first moment of the recording.
    for (const QString& name : std::exchange(earlyMarks_, {})) addMark(name);
    return;
  }
  if (state_ == State::Reconnecting) {
    // The sound server is back: the same recording goes on into the same file.
    state_ = State::Running;
    reconnect_.stop();
    fillToClock(framesFor(kFirstBlock, format_.sampleRate));
    const int64_t gap = lostFor_.elapsed();
    const int64_t silence = (frames_ - framesAtLoss_) * 1000 / format_.sampleRate;
    TraceMoment("input-back");
    qCInfo(lcRecording) << "the sound server came back after" << gap << "ms;" << silence << "ms of silence went in";
    stallWatch_.start(kFirstBlock + kStallGrace);
    awake_.start();
    emit inputBack(gap, silence);
  }
}

void Capture::onAudio(const float* samples, int frames) {
  if (state_ != State::Running || frames <= 0) return;
  if (!heardSound_) {
    heardSound_ = true;
    TraceMoment("first-sample");
  }
  if (!sourceHeard_) {
    sourceHeard_ = true;
    // The first block showed the recording at once; larger ones from here on.
    source_->setBlock(block());
  }
  stallWatch_.start(block() + kStallGrace);
  const bool late = wokeLate();
  if (paused_ || writeFailed_) return;
  // What the server held while the program did not run comes now, and is taken as it
  // comes; once it is in, the rest of the time is made up for.
  if (late && !catchUp_.isActive()) catchUp_.start();
  if (filledGap_) {
    // After silence was put in, the input's sound belongs at the clock's present: what is
    // still missing before it is silence too.
    fillToClock(frames);
    filledGap_ = false;
    backSince_.start();
  }
  if (backSince_.isValid() && backSince_.elapsed() < kBacklogWindow.count()) {
    // What the input held back and hands over in the blocks that follow runs ahead of the
    // clock: it is left out, the oldest first.
    const int64_t room = std::max<int64_t>(clockFrames() + framesFor(kAheadAllowed, format_.sampleRate) - frames_, 0);
    if (room < frames) {
      samples += (frames - room) * format_.channels;
      frames = int(room);
    }
  }
  consume(samples, frames);
  if (drainTo_ >= 0 && frames_ >= drainTo_) {
    drain_.stop();
    finishLater();
    return;
  }
  syncIfDue();
}

void Capture::consume(const float* samples, int frames) {
  if (frames <= 0 || writeFailed_ || !writer_) return;
  level_.feed(samples, frames);
  loudness_->feed(samples, frames);
  try {
    encoder_->encode(samples, frames, *writer_);
    frames_ += frames;
  } catch (const RecordingError& e) {
    writeFailed_ = true;
    endLater(e.failure());
  }
}

int64_t Capture::clockFrames() const {
  const int64_t ns = runNs_ + (clock_.isValid() ? clock_.nsecsElapsed() : 0);
  return ns / 1000 * format_.sampleRate / 1'000'000;
}

void Capture::fillToClock(int64_t leaveFrames) {
  // Silence up to where the clock is, less what the input may still be holding.
  int64_t gap = clockFrames() - leaveFrames - frames_;
  if (gap <= 0) return;
  filledGap_ = true;
  const int chunk = int(silence_.size()) / format_.channels;
  while (gap > 0 && !writeFailed_) {
    const int n = int(std::min<int64_t>(gap, chunk));
    consume(silence_.data(), n);
    gap -= n;
  }
}

bool Capture::wokeLate() {
  const bool late = awake_.isValid() && awake_.elapsed() > (block() + kStallGrace + kLateSlack).count();
  if (late) qCWarning(lcRecording) << "the capture did not run for" << awake_.elapsed() << "ms";
  awake_.start();
  return late;
}

void Capture::catchUp() {
  if (state_ != State::Running || paused_ || writeFailed_) return;
  // Silence up to the clock, less the block the server is gathering now.
  const int64_t before = frames_;
  fillToClock(framesFor(block(), format_.sampleRate));
  const int64_t lostMs = (frames_ - before) * 1000 / format_.sampleRate;
  syncIfDue();
  if (lostMs < kLostWorthSaying.count()) return;
  TraceMoment("sound-lost", lostMs);
  qCWarning(lcRecording) << "the program did not run: " << lostMs << "ms of sound were lost and are silence";
  emit soundLost(lostMs);
}

void Capture::checkJournal() {
  if (journalTroubleSaid_ || !journal_ || !journal_->inTrouble()) return;
  journalTroubleSaid_ = true;
  emit journalTrouble(RecordingJournalFolder());
}

void Capture::onStall() {
  if (state_ != State::Running || paused_) return;
  if (wokeLate()) {
    // Not the input's stall but the program's own: the server held what it could.
    if (!catchUp_.isActive()) catchUp_.start();
    stallWatch_.start(kStallStep);
    return;
  }
  // The input is late: the time it stays away becomes silence, a step at a time, so that
  // what reaches the disk keeps up with the clock meanwhile.
  fillToClock(framesFor(block(), format_.sampleRate));
  syncIfDue();
  stallWatch_.start(kStallStep);
}

void Capture::onLost(SourceLoss why, const QString& detail) {
  if (state_ == State::Ended) return;
  const QString device = source_ ? source_->description() : QString();
  if (state_ == State::Opening) {
    // The input never opened.
    const FailureCause cause = why == SourceLoss::ServerGone ? FailureCause::ServerLost
                               : why == SourceLoss::Held     ? FailureCause::InputHeld
                                                             : FailureCause::NoInput;
    cleanUpFailedStart(RecordingFailure{cause, device, detail});
    return;
  }
  if (state_ == State::Reconnecting) return;  // a try that failed; the next tick tries again
  switch (why) {
    case SourceLoss::RanOut:
      endLater(std::nullopt);  // a sound file that ends is no failure
      return;
    case SourceLoss::NoInput:
    case SourceLoss::DeviceGone:
    case SourceLoss::Held:
      endLater(RecordingFailure{FailureCause::InputLost, device, detail});
      return;
    case SourceLoss::ServerGone:
      TraceMoment("input-lost");
      qCWarning(lcRecording) << "the sound server went away:" << detail;
      state_ = State::Reconnecting;
      framesAtLoss_ = frames_;
      stallWatch_.stop();
      catchUp_.stop();
      lostFor_.start();
      reconnect_.start();
      emit inputLost();
      return;
  }
}

void Capture::onReconnectTick() {
  if (state_ != State::Reconnecting) return;
  awake_.start();
  fillToClock(0);
  syncIfDue(true);
  if (lostFor_.elapsed() >= std::chrono::milliseconds(kServerWait).count()) {
    reconnect_.stop();
    endLater(RecordingFailure{FailureCause::ServerLost, QString(),
                              QStringLiteral("The sound server did not come back within %1 s.").arg(kServerWait.count())});
    return;
  }
  // A fresh connection each try: the old one belongs to a server that is gone. A server
  // that starts again brings its devices one by one, and its default input may at first
  // be another (a monitor of its output, which records silence): the recording waits for
  // the device it began on, and takes the default only when that has not come back.
  const bool sameDevice = lostFor_.elapsed() < std::chrono::milliseconds(kSameDeviceWait).count();
  try {
    openSource(sameDevice ? heardFrom_ : setup_.input);
  } catch (const RecordingError& e) {
    // Once every ten tries: a server away for a minute is not sixty lines.
    if (++reconnectFailures_ % 10 == 1) qCWarning(lcRecording) << "reconnecting:" << e.detail();
  }
}

void Capture::syncIfDue(bool now) {
  if (!file_ || writeFailed_) return;
  // Synced as a block comes, so that the sync costs no wake-up of its own: with 1 s blocks,
  // every block; with 250 ms blocks, every third.
  const auto interval = std::max(kMostUnsynced - block(), block() / 2);
  if (!now && sinceSync_.isValid() && sinceSync_.elapsed() < interval.count()) return;
  sinceSync_.start();
  try {
    if (writer_) writer_->writeOpenPacket();
    file_->syncToDisk();
    takeFileChange();
    if (journal_) journal_->noteSynced(file_->size());
    checkJournal();
    if (writer_) TraceMoment("synced", writer_->soundMs());
  } catch (const RecordingError& e) {
    writeFailed_ = true;
    endLater(e.failure());
  }
}

void Capture::setPaused(bool paused) {
  if (paused == paused_) return;
  paused_ = paused;
  TraceMoment(paused ? "paused" : "resumed");
  if (state_ == State::Opening || state_ == State::Ended) return;
  if (paused) {
    runNs_ += clock_.isValid() ? clock_.nsecsElapsed() : 0;
    clock_.invalidate();
    stallWatch_.stop();
  } else {
    clock_.start();
    stallWatch_.start(block() + kStallGrace);
    awake_.start();
  }
}

void Capture::setWatched(bool watched) {
  if (watched == watched_) return;
  watched_ = watched;
  if (source_ && heardSound_) source_->setBlock(block());
}

void Capture::addMark(const QString& name) {
  if (state_ == State::Opening && writer_) {
    earlyMarks_ << name;
    return;
  }
  if (state_ == State::Opening || state_ == State::Ended || !writer_) return;
  // Where the clock stands in the file: while paused, the point the recording paused at.
  const int64_t ms = clockFrames() * 1000 / format_.sampleRate;
  bool stored = false;
  try {
    stored = writer_->addMark(ms, name);
  } catch (const RecordingError& e) {
    qCWarning(lcRecording) << "a mark could not be written:" << e.detail();
  }
  if (stored) {
    ++marks_;
    if (journal_) journal_->noteMarks(writer_->marks());
    checkJournal();
  }
  emit marked(marks_, stored);
}

void Capture::takeFileChange() {
  const std::optional<FileChange> change = file_ ? file_->takeChange() : std::nullopt;
  if (!change) return;
  const QString path = file_->path();
  if (*change == FileChange::Followed) {
    followed_ = true;
    if (journal_) journal_->notePath(path);
  } else {
    // A new file: the removed one is beyond mending, and the journal names the one put back.
    recording_.close();
    if (const int copy = ::fcntl(file_->descriptor(), F_DUPFD_CLOEXEC, 0); copy >= 0)
      recording_.open(copy, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle);
    const QList<asf::Mark> marks = writer_ ? writer_->marks() : QList<asf::Mark>();
    if (journal_) journal_->markCompleted();
    journal_ = std::make_unique<RecordingJournalEntry>(path, file_->descriptor());
    if (!marks.isEmpty()) journal_->noteMarks(marks);
    checkJournal();
    qCWarning(lcRecording) << "the recording was removed and put back at" << path;
  }
  emit fileChanged(path, *change);
}

void Capture::endLater(const std::optional<RecordingFailure>& why) {
  // The first reason is the one that counts.
  if (!reason_) reason_ = why;
  endedByItself_ = true;
  finishLater();
}

void Capture::finishLater() {
  // Not from inside the input's own callback: finishing destroys the input.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (state_ != State::Ended) finish();
      },
      Qt::QueuedConnection);
}

void Capture::stop() {
  if (state_ == State::Ended || drainTo_ >= 0) return;
  if (state_ == State::Opening) {
    // Stopped before the input opened: the file is completed all the same.
    state_ = State::Running;
    finish();
    return;
  }
  // What was sounded before the click may still wait in the server's block: asked for in a
  // small one, it comes at once.
  if (state_ == State::Running && !paused_ && !writeFailed_ && source_ && frames_ < clockFrames()) {
    drainTo_ = clockFrames();
    source_->setBlock(kFirstBlock);
    drain_.start();
    return;
  }
  finish();
}

void Capture::finish() {
  const bool running = state_ != State::Opening;
  state_ = State::Ended;
  stallWatch_.stop();
  reconnect_.stop();
  drain_.stop();
  catchUp_.stop();
  dropSource();
  // Stopped before any sound came: the file was made all the same, and is completed.
  if (running && file_ && !madeTold_) {
    madeTold_ = true;
    emit fileChanged(madeAt_, FileChange::Made);
  }
  RecordingResult result;
  result.started = running && file_ != nullptr;
  result.endedByItself = endedByItself_;
  result.failure = reason_;
  bool complete = false;
  if (writer_) {
    if (writeFailed_) {
      // The disk refused a write: the file is made whole from the packets that reached it,
      // wherever it is by now.
      settleFile();
      file_->close();
      complete = !(reason_ && reason_->cause == FailureCause::FileLost) && completeByRepair();
    } else {
      try {
        encoder_->finish(*writer_);
        writer_->finish();
        file_->trimReserve();
        file_->syncToDisk();
        takeFileChange();
        file_->close();
        complete = true;
        TraceMoment("file-closed");
        // Its waveform is known: the file holds all the sound that was summed. A file made
        // whole by a repair holds less, and is decoded when it is looked at.
        LoudnessCache().store(file_->path(), loudness_->whole());
      } catch (const RecordingError& e) {
        if (!result.failure) result.failure = e.failure();
        takeFileChange();
        file_->close();
        complete = e.cause() != FailureCause::FileLost && completeByRepair();
      }
    }
    result.soundMs = writer_->soundMs();
  }
  recording_.close();
  result.complete = complete;
  if (file_) {
    result.path = file_->path();
    if (followed_) result.begunAt = madeAt_;
  }
  if (complete && journal_) journal_->markCompleted();
  writer_.reset();
  file_.reset();
  report(result);
}

void Capture::settleFile() {
  try {
    file_->syncToDisk();
  } catch (const RecordingError& e) {
    qCWarning(lcRecording) << "the last sync of a recording that failed:" << e.detail();
  }
  takeFileChange();
}

bool Capture::completeByRepair() {
  // Through the descriptor: the name may by now be another file's.
  const QString path = file_->path();
  const QList<asf::Mark> marks = writer_ ? writer_->marks() : QList<asf::Mark>();
  const AsfRepairOutcome outcome =
      RepairAsfDescriptor(recording_.handle(), path, journal_ ? journal_->syncedSize() : 0, marks);
  // A file that cannot be mended now stays in the journal for the next start.
  if (outcome.result == AsfRepairOutcome::Result::Failed) {
    qCWarning(lcRecording) << "the recording could not be completed:" << outcome.error;
    if (!reason_) reason_ = RecordingFailure{FailureCause::Write, path, outcome.error};
    return false;
  }
  TraceMoment("file-closed");
  return true;
}

}  // namespace tallowen
