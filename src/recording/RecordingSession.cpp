#include "recording/RecordingSession.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include "platform/Seams.h"
#include "recording/Encoder.h"
#include "recording/EncoderFactory.h"
#include "recording/RecordingName.h"
#include "settings/modINI.h"

namespace tallowen {

namespace {

// A name another copy of the program takes in the same minute is avoided this often.
constexpr int kStartAttempts = 5;

}  // namespace

RecordingSession::RecordingSession(EncoderFactory* encoders, Clock* clock, AudioInputChoice* input,
                                   QObject* parent)
    : QObject(parent), encoders_(encoders), clock_(clock), input_(input) {}

RecordingSession::~RecordingSession() {
  if (!encoder_) return;
  encoder_->stopAndWait();
  if (encoder_->fileMade()) noteLatestRecording();
}

bool RecordingSession::qualityChosen() const {
  const QString text = ReadSetting(kQualitySetting);
  return !text.isEmpty() && encoders_->profiles().matching(text);
}

void RecordingSession::setPhase(Phase phase) {
  if (phase == phase_) return;
  phase_ = phase;
  emit phaseChanged(phase);
}

void RecordingSession::start() {
  if (phase_ == Phase::Paused) {
    resume();
    return;
  }
  if (phase_ != Phase::Idle) return;
  attempts_ = 0;
  noted_ = false;
  recordedMs_ = 0;
  runningSince_.reset();
  setPhase(Phase::Starting);
  try {
    encoder_ = encoders_->create();
    ++encoderNumber_;
    connect(encoder_.get(), &Encoder::stateChanged, this, &RecordingSession::onEncoderState);
    connect(encoder_.get(), &Encoder::fileRestored, this, [this](const QString& path) {
      path_ = path;
      noted_ = false;
      noteLatestRecording();
      emit fileRestored(path);
    });

    const QString profileText = ReadSetting(kQualitySetting);

    fileName_ = RecordingFileName(clock_->now());
    folder_ = ReadSetting(kSaveFolderSetting);
    // A folder removed since it was chosen (or never made) is made again.
    if (!folder_.isEmpty() && !QFileInfo(folder_).isDir() && !QDir().mkpath(folder_))
      throw EncoderError(EncoderFailure::SaveFolder, folder_,
                         QStringLiteral("The folder %1 cannot be created.").arg(QDir::toNativeSeparators(folder_)));

    SourceGroup& group = encoder_->sourceGroupCollection().add(QStringLiteral("SG_1"));
    Source& source = group.addSource(SourceType::Audio);

    if (const Profile* profile = encoder_->profileCollection().matching(profileText)) group.setProfile(*profile);
    if (!group.profile())
      throw EncoderError(EncoderFailure::NoProfile, profileText,
                         QStringLiteral("No profile's name contains \"%1\".").arg(profileText));
    bitRate_ = group.profile()->bitRate;

    source.setInput(QStringLiteral("DEVICE://") + QStringLiteral("Default_Audio_Device"), QString(), QString());
    source.setRepeat(false);
    input_->adjust(source);

    DisplayInfo& info = encoder_->displayInfo();
    info.setAuthor(QStringLiteral("Tallowen"));
    info.setCopyright(QString());
    info.setRating(QString());
    info.setDescription(QString());
    encoder_->setSyncToDisk(true);
    encoder_->setFlushPackets(true);
    beginEncoder();
  } catch (const EncoderError& e) {
    failStart(e);
  }
}

void RecordingSession::beginEncoder() {
  // The separator goes in even after a folder that ends with one; a name of this minute
  // that is taken already gets "(2)", "(3)", ...
  path_ = RecordingPath(folder_, fileName_);
  encoder_->displayInfo().setTitle(QFileInfo(path_).fileName());
  encoder_->file().setLocalFileName(path_);
  ++attempts_;
  encoder_->start();
}

void RecordingSession::onEncoderState(int state) {
  emit encoderStateChanged(state);
  if (!encoder_ || sender() != encoder_.get()) return;
  const bool stopped = state == Encoder::Stopped;
  switch (phase_) {
    case Phase::Starting:
      if (state == Encoder::Running) {
        // The file is there now: the player may find it.
        noteLatestRecording();
        runningSince_ = clock_->steadyMs();
        setPhase(Phase::Recording);
      } else if (stopped) {
        const EncoderError failure =
            encoder_->failure().value_or(EncoderError(QStringLiteral("The recording did not start.")));
        // Another copy of the program took the name in this very minute: the next one.
        if (failure.kind() == EncoderFailure::FileExists && attempts_ < kStartAttempts) {
          try {
            beginEncoder();
            return;
          } catch (const EncoderError& e) {
            failStart(e);
            return;
          }
        }
        failStart(failure);
      }
      break;
    case Phase::Recording:
    case Phase::Paused:
    case Phase::Stopping:
      if (!stopped) break;
      {
        if (runningSince_) recordedMs_ += clock_->steadyMs() - *runningSince_;
        runningSince_.reset();
        RecordingResult result;
        if (!encoder_->filePath().isEmpty()) path_ = encoder_->filePath();
        result.path = path_;
        result.endedByItself = encoder_->endedByItself();
        result.failure = encoder_->failure();
        result.complete = encoder_->fileComplete();
        const bool made = encoder_->fileMade();
        if (made) noteLatestRecording();
        releaseEncoderLater();
        setPhase(Phase::Idle);
        if (made) emit finished(result);
      }
      break;
    case Phase::Idle:
      break;
  }
}

void RecordingSession::pause() {
  if (phase_ != Phase::Recording) return;
  try {
    encoder_->pause();
  } catch (const EncoderError&) {
    return;  // still recording: nothing changes
  }
  if (runningSince_) recordedMs_ += clock_->steadyMs() - *runningSince_;
  runningSince_.reset();
  setPhase(Phase::Paused);
}

void RecordingSession::resume() {
  if (phase_ != Phase::Paused) return;
  try {
    encoder_->start();
  } catch (const EncoderError&) {
    return;  // still paused; the stop completes the file
  }
  runningSince_ = clock_->steadyMs();
  setPhase(Phase::Recording);
}

void RecordingSession::stop() {
  switch (phase_) {
    case Phase::Starting:
    case Phase::Recording:
    case Phase::Paused:
      if (runningSince_) recordedMs_ += clock_->steadyMs() - *runningSince_;
      runningSince_.reset();
      encoder_->stop();
      setPhase(Phase::Stopping);
      break;
    case Phase::Idle:
    case Phase::Stopping:
      break;
  }
}

float RecordingSession::takeInputPeak() {
  return phase_ == Phase::Recording && encoder_ ? encoder_->takeInputPeak() : 0.0f;
}

bool RecordingSession::inputSilent() { return phase_ == Phase::Recording && encoder_ && encoder_->inputSilent(); }

std::optional<qint64> RecordingSession::secondsOfRoom() const {
  int bitRate = bitRate_;
  QString folder = QFileInfo(path_).absolutePath();
  if (phase_ == Phase::Idle || phase_ == Phase::Starting) {
    const ProfileCollection profiles = encoders_->profiles();
    const Profile* profile = profiles.matching(ReadSetting(kQualitySetting));
    bitRate = profile ? profile->bitRate : 0;
    folder = ReadSetting(kSaveFolderSetting);
    if (folder.isEmpty()) folder = QDir::rootPath();
  }
  if (bitRate <= 0) return std::nullopt;
  std::optional<int64_t> free;
  if (const auto disk = encoders_->diskSpace()) free = disk->bytesFree();
  if (!free) {
    // A folder not made yet: the disk it will be on.
    QDir existing(folder);
    while (!existing.exists() && !existing.isRoot() && existing.cdUp()) {
    }
    const QStorageInfo storage(existing.absolutePath());
    if (!storage.isValid()) return std::nullopt;
    free = storage.bytesAvailable();
  }
  // The bit rate, and a little for the container's packets and header.
  const double bytesPerSecond = bitRate / 8.0 * 1.03;
  return qint64(double(std::max<int64_t>(*free, 0)) / bytesPerSecond);
}

qint64 RecordingSession::elapsedMs() const {
  const qint64 running = runningSince_ ? clock_->steadyMs() - *runningSince_ : 0;
  return recordedMs_ + std::max<qint64>(running, 0);
}

void RecordingSession::failStart(const EncoderError& failure) {
  releaseEncoderLater();
  setPhase(Phase::Idle);
  emit startFailed(failure);
}

void RecordingSession::noteLatestRecording() {
  if (noted_) return;
  noted_ = true;
  WriteSetting(kLastRecordingSetting, path_);
}

void RecordingSession::releaseEncoderLater() {
  // Not inside the encoder's own signal: it goes once the signal is done, unless a new
  // start has replaced it meanwhile (its number tells, where an address could repeat).
  QMetaObject::invokeMethod(
      this,
      [this, done = encoderNumber_] {
        if (encoderNumber_ == done) encoder_.reset();
      },
      Qt::QueuedConnection);
}

}  // namespace tallowen
