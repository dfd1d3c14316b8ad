#include "recording/LoudnessCache.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>

namespace tallowen {

namespace {

const char kMagic[] = "TallowenLoudness1";
constexpr qint64 kTailBytes = 256 << 10;
constexpr qint64 kMiddleBytes = 64 << 10;

QByteArray checksumOf(const QByteArray& identity, const std::vector<uint8_t>& levels) {
  QCryptographicHash hash(QCryptographicHash::Sha1);
  hash.addData(identity);
  hash.addData(QByteArrayView(reinterpret_cast<const char*>(levels.data()), qsizetype(levels.size())));
  return hash.result();
}

}  // namespace

LoudnessCache::LoudnessCache()
    : LoudnessCache(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                    QStringLiteral("/Tallowen/loudness")) {}

LoudnessCache::LoudnessCache(QString folder) : folder_(std::move(folder)) {}

QByteArray LoudnessCache::identityOf(const QString& soundFile) {
  QFile file(soundFile);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const qint64 size = file.size();
  QCryptographicHash hash(QCryptographicHash::Sha1);
  // The end holds the last packets and the index a completed file gets; the middle tells
  // apart two files that end alike. The header is left out: it holds the title, which a
  // rename of the recording rewrites without touching the sound.
  auto add = [&](qint64 from, qint64 count) {
    from = std::clamp<qint64>(from, 0, size);
    if (!file.seek(from)) return false;
    const QByteArray bytes = file.read(std::min(count, size - from));
    hash.addData(bytes);
    return bytes.size() == std::min(count, size - from);
  };
  if (!add(size / 2, kMiddleBytes) || !add(size - kTailBytes, kTailBytes)) return {};
  return QByteArray::number(size) + '-' + hash.result().toHex();
}

QString LoudnessCache::entryFor(const QByteArray& identity) const {
  return folder_ + QLatin1Char('/') + QString::fromLatin1(identity) + QStringLiteral(".loudness");
}

std::optional<Loudness> LoudnessCache::load(const QString& soundFile) const {
  const QByteArray identity = identityOf(soundFile);
  if (identity.isEmpty()) return std::nullopt;
  QFile entry(entryFor(identity));
  if (!entry.open(QIODevice::ReadOnly)) return std::nullopt;
  QDataStream in(&entry);
  QByteArray magic, storedIdentity, checksum;
  quint64 count = 0;
  in >> magic >> storedIdentity >> count;
  if (in.status() != QDataStream::Ok || magic != kMagic || storedIdentity != identity ||
      count > quint64(entry.size()))
    return std::nullopt;
  Loudness loudness;
  loudness.levels.resize(size_t(count));
  if (in.readRawData(reinterpret_cast<char*>(loudness.levels.data()), int(count)) != int(count))
    return std::nullopt;
  in >> checksum;
  if (in.status() != QDataStream::Ok || checksum != checksumOf(identity, loudness.levels)) return std::nullopt;
  // Looked at: the oldest looked at goes first when the cache is trimmed.
  entry.close();
  if (QFile touched(entry.fileName()); touched.open(QIODevice::Append))
    touched.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
  return loudness;
}

bool LoudnessCache::store(const QString& soundFile, const Loudness& loudness) const {
  const QByteArray identity = identityOf(soundFile);
  if (identity.isEmpty() || !QDir().mkpath(folder_)) return false;
  QSaveFile entry(entryFor(identity));
  if (!entry.open(QIODevice::WriteOnly)) return false;
  QDataStream out(&entry);
  out << QByteArray(kMagic) << identity << quint64(loudness.levels.size());
  out.writeRawData(reinterpret_cast<const char*>(loudness.levels.data()), int(loudness.levels.size()));
  out << checksumOf(identity, loudness.levels);
  if (out.status() != QDataStream::Ok || !entry.commit()) return false;
  trim();
  return true;
}

void LoudnessCache::trim() const {
  QFileInfoList entries = QDir(folder_).entryInfoList({QStringLiteral("*.loudness")}, QDir::Files, QDir::Time);
  qint64 total = 0;
  for (const QFileInfo& e : entries) total += e.size();
  // Newest first: the oldest go until the rest fits.
  while (total > kMaxBytes && !entries.isEmpty()) {
    total -= entries.last().size();
    QFile::remove(entries.last().filePath());
    entries.removeLast();
  }
}

}  // namespace tallowen
