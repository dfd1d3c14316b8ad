#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <iostream>
#include <memory>
#include <ostream>
#include <random>
#include <string>

#include "platform/FileWriteLock.h"
#include "platform/LocaleCodec.h"
#include "settings/ProfileFile.h"
#include "settings/Settings.h"
#include "settings/modINI.h"

using namespace tallowen;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

// Readable failure messages.
void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
void PrintTo(const QByteArray& b, std::ostream* os) {
  *os << '"' << b.toPercentEncoding(" =[];'\"").toStdString() << '"';
}

namespace {

template <size_t N>
QByteArray bytesOf(const char (&s)[N]) {
  return QByteArray(s, N - 1);
}

const LocaleCodec kUtf8("UTF-8");
const LocaleCodec kSjis("SHIFT_JIS");

QByteArray sjisBytes(const QString& s) { return kSjis.fromUnicode(s); }

QByteArray rewritten(const QByteArray& file, const QString& section, const QString& key, const QString& value,
                     const LocaleCodec& codec = kUtf8) {
  const std::optional<QByteArray> out = detail::rewrite(file, section, key, value, codec);
  EXPECT_TRUE(out.has_value()) << section.toStdString() << "/" << key.toStdString();
  return out.value_or(QByteArray());
}

QString valueIn(const QByteArray& file, const QString& section, const QString& key,
                const LocaleCodec& codec = kUtf8) {
  return detail::readValue(file, section, key, codec).text;
}

QByteArray fileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void putFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  ASSERT_EQ(f.write(bytes), bytes.size());
}

unsigned modeOf(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// This test executable again, in one of the modes main() gives it for a second process.
// Its QProcess kills it if a test ends early.
std::unique_ptr<QProcess> startSelf(const QStringList& args) {
  auto process = std::make_unique<QProcess>();
  process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process->start(QCoreApplication::applicationFilePath(), args);
  return process;
}

// Another process holding the write lock of `file` until killed; nullptr if it never got it.
std::unique_ptr<QProcess> lockHolder(const QString& file) {
  std::unique_ptr<QProcess> holder = startSelf({"--hold-lock", file});
  while (!holder->canReadLine())
    if (!holder->waitForReadyRead(10000)) return nullptr;
  return holder->readLine() == "held\n" ? std::move(holder) : nullptr;
}

void killAndWait(QProcess& process) {
  process.kill();
  process.waitForFinished();
}

}  // namespace

TEST(LocaleCodec, ConvertsAndReplacesWhatItCannot) {
  EXPECT_EQ(kSjis.fromUnicode(u"日本語"_s), QByteArray("\x93\xfa\x96\x7b\x8c\xea"));
  EXPECT_EQ(kSjis.toUnicode("\x93\xfa\x96\x7b\x8c\xea"), u"日本語"_s);
  EXPECT_EQ(kSjis.fromUnicode(u"a😀b"_s), QByteArray("a?b"));
  EXPECT_EQ(kSjis.toUnicode("a\x93\x01z"), u"a\uFFFD\x01z"_s);
  EXPECT_EQ(kSjis.toUnicode("ab\x93"), u"ab\uFFFD"_s);
  EXPECT_EQ(kUtf8.toUnicode("a\xff"
                            "b"),
            u"a\uFFFDb"_s);
  EXPECT_EQ(LocaleCodec("NO-SUCH-SET").fromUnicode(u"é"_s), QByteArray("\xc3\xa9"));
  // The Windows program's code page keeps a path's backslash a backslash.
  const LocaleCodec cp932("CP932");
  EXPECT_EQ(cp932.toUnicode(cp932.fromUnicode(u"C:\\録音\\"_s)), u"C:\\録音\\"_s);
  EXPECT_EQ(cp932.fromUnicode(u"\\"_s), QByteArray("\x5c"));
}

TEST(LocaleCodec, TruncatesOnCharacterBoundaries) {
  // メ is 83 81: its trail byte is also a lead byte, so only decoding from
  // the start tells where characters end.
  const QByteArray twoMe = sjisBytes(u"メメ"_s);
  EXPECT_EQ(kSjis.truncateBytes(twoMe, 2), sjisBytes(u"メ"_s));
  EXPECT_EQ(kSjis.truncateBytes(twoMe, 3), sjisBytes(u"メ"_s));
  EXPECT_EQ(kSjis.truncateBytes(twoMe, 4), twoMe);
  EXPECT_EQ(kUtf8.truncateBytes(u"a日本"_s.toUtf8(), 6), u"a日"_s.toUtf8());
  EXPECT_EQ(kUtf8.truncateBytes("abc", 0), QByteArray());
}

TEST(ProfileBytes, MissingPiecesReadEmpty) {
  const QByteArray file = "[a]\r\nk=1\r\nempty=\r\n";
  EXPECT_EQ(valueIn(file, "a", "k"), "1");
  EXPECT_EQ(valueIn("", "a", "k"), "");
  EXPECT_EQ(valueIn(file, "b", "k"), "");
  EXPECT_EQ(valueIn(file, "a", "x"), "");
  EXPECT_EQ(valueIn(file, "a", "empty"), "");
}

TEST(ProfileBytes, AddsSectionsAndKeysWhereExpected) {
  EXPECT_EQ(rewritten("", "Main", "Key", "v"), "[Main]\r\nKey=v\r\n");
  EXPECT_EQ(rewritten("[a]\nk=1\n", "b", "x", "2"), "[a]\nk=1\n[b]\nx=2\n");
  EXPECT_EQ(rewritten("[a]\nk=1", "b", "x", "2"), "[a]\nk=1\n[b]\nx=2\n");
  // After the section's last key, ahead of its trailing comment and blanks.
  EXPECT_EQ(rewritten("[a]\r\nk=1\r\n; about b\r\n\r\n[b]\r\nz=3\r\n", "a", "n", "2"),
            "[a]\r\nk=1\r\nn=2\r\n; about b\r\n\r\n[b]\r\nz=3\r\n");
  EXPECT_EQ(rewritten("[a]\n\n[b]\n", "a", "k", "v"), "[a]\nk=v\n\n[b]\n");
  EXPECT_EQ(rewritten("[a]\nk=1", "a", "n", "2"), "[a]\nk=1\nn=2\n");
  EXPECT_EQ(rewritten("", "s", "k", ""), "[s]\r\nk=\r\n");
  // Found by the fuzzer: stray CRs on an unterminated last line are no part of its value,
  // so the line end that a new key brings leaves the value as it read.
  EXPECT_EQ(valueIn("[a]\nk=v\r\r", "a", "k"), "v");
  EXPECT_EQ(valueIn(rewritten("[a]\nk=v\r\r", "a", "n", "2"), "a", "k"), "v");
}

TEST(ProfileBytes, ReadsCrLfLfAndLoneCrLineEnds) {
  const char* const names[][2] = {{"a", "k"}, {"a", "n"}, {"b", "q"}, {"b", "z"}};
  const QString values[] = {"1", "two", "3", ""};
  for (const QByteArray eol : {"\r\n", "\n", "\r"}) {
    const QByteArray file = "; note" + eol + "[a]" + eol + "k=1" + eol + "n = two" + eol + eol + "[b]" + eol +
                            "q=3" + eol + "z=";
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(valueIn(file, names[i][0], names[i][1]), values[i]) << eol.toHex().toStdString() << " " << i;
    EXPECT_EQ(valueIn(file + eol, "b", "q"), "3");
  }
  // Mixed, as after edits with different tools: every CRLF, LF and lone CR ends a line.
  const QByteArray mixed = "[a]\rk=1\nn=2\r\n\r[b]\n\rq=3\r\r\nz=4";
  EXPECT_EQ(valueIn(mixed, "a", "k"), "1");
  EXPECT_EQ(valueIn(mixed, "a", "n"), "2");
  EXPECT_EQ(valueIn(mixed, "b", "q"), "3");
  EXPECT_EQ(valueIn(mixed, "b", "z"), "4");
  // A lone CR inside what an LF-only reader would take for one line splits it.
  EXPECT_EQ(valueIn("[a]\nk=1\rn=2\n", "a", "n"), "2");
  EXPECT_EQ(valueIn("[a]\nk=1\rn=2\n", "a", "k"), "1");
}

TEST(ProfileBytes, WritesKeepTheFilesLineEnds) {
  for (const QByteArray eol : {"\r\n", "\n", "\r"}) {
    const QByteArray file = "[a]" + eol + "k=1" + eol + eol + "[b]" + eol + "q=3" + eol;
    EXPECT_EQ(rewritten(file, "a", "k", "9"), "[a]" + eol + "k=9" + eol + eol + "[b]" + eol + "q=3" + eol);
    EXPECT_EQ(rewritten(file, "a", "n", "2"),
              "[a]" + eol + "k=1" + eol + "n=2" + eol + eol + "[b]" + eol + "q=3" + eol);
    EXPECT_EQ(rewritten(file, "c", "x", "4"), file + "[c]" + eol + "x=4" + eol);
    // An unterminated last line gets the file's line end before anything follows it.
    EXPECT_EQ(rewritten("[a]" + eol + "k=1", "a", "n", "2"), "[a]" + eol + "k=1" + eol + "n=2" + eol);
    EXPECT_EQ(rewritten("[a]" + eol + "k=1", "c", "x", "4"), "[a]" + eol + "k=1" + eol + "[c]" + eol + "x=4" + eol);
  }
  // No line end yet: CRLF, as the Windows program writes.
  EXPECT_EQ(rewritten("[a]", "a", "k", "1"), "[a]\r\nk=1\r\n");
  // Mixed files follow their first line end.
  EXPECT_EQ(rewritten("[a]\rk=1\n", "a", "n", "2"), "[a]\rk=1\nn=2\r");
  EXPECT_EQ(rewritten("[a]\r\nk=1\r", "b", "x", "4"), "[a]\r\nk=1\r[b]\r\nx=4\r\n");
  // A CR written right before the file's LF would join it into one line end and take the
  // blank line away; the key's line gets a whole CRLF instead.
  const QByteArray crThenLf = "[a]\rk=1\n\n[b]\rq=3\r";
  const QByteArray added = rewritten(crThenLf, "a", "n", "2");
  EXPECT_EQ(added, "[a]\rk=1\nn=2\r\n\n[b]\rq=3\r");
  EXPECT_EQ(valueIn(added, "b", "q"), "3");
}

TEST(ProfileBytes, CommentsDuplicatesAndTextBeforeTheFirstSection) {
  const QByteArray file =
      "k=before any section\r\n"
      "[a]\r\n"
      ";k=commented out\r\n"
      "  ; indented comment = x\r\n"
      "#k=not a comment to Windows\r\n"
      "k=first ; not a comment either\r\n"
      "K=second\r\n"
      "[A]\r\n"
      "k=in the second [a]\r\n"
      "only=in the second [a]\r\n";
  EXPECT_EQ(valueIn(file, "a", "k"), "first ; not a comment either");
  EXPECT_EQ(valueIn(file, "a", "#k"), "not a comment to Windows");
  EXPECT_EQ(valueIn(file, "a", ";k"), "");
  EXPECT_EQ(valueIn(file, "a", "only"), "");
  EXPECT_EQ(valueIn(file, "", "k"), "");
  // Writes go to the first of the duplicates too, and leave the rest alone.
  EXPECT_EQ(rewritten(file, "A", "K", "new"), QByteArray(file).replace("k=first ; not a comment either", "k=new"));
  const QByteArray added = rewritten(file, "a", "only", "here");
  EXPECT_EQ(added, QByteArray(file).replace("K=second\r\n", "K=second\r\nonly=here\r\n"));
  EXPECT_EQ(valueIn(added, "a", "only"), "here");
}

TEST(ProfileBytes, ReplacesInPlaceAndKeepsTheRest) {
  const QByteArray before =
      "; top\r\ngarbage line\r\n[Other]\r\nKey=o\r\n\r\n[ Main ]\r\n"
      "  KEY  =  old value  \r\nNext=n\r\n[main]\r\nkey=later\r\n";
  const QByteArray after =
      "; top\r\ngarbage line\r\n[Other]\r\nKey=o\r\n\r\n[ Main ]\r\n"
      "  KEY  =  new\r\nNext=n\r\n[main]\r\nkey=later\r\n";
  EXPECT_EQ(valueIn(before, "main", "key"), "old value");
  EXPECT_EQ(valueIn(before, " MAIN\t", "Key "), "old value");
  EXPECT_EQ(rewritten(before, "MAIN", "key", "new"), after);
  EXPECT_EQ(rewritten(after, "Main", "Key", "new"), after);
}

TEST(ProfileBytes, QuotesAndUnstorableText) {
  EXPECT_EQ(valueIn("[a]\nk=\"q v\"\n", "a", "k"), "q v");
  EXPECT_EQ(valueIn("[a]\nk='q'\n", "a", "k"), "q");
  EXPECT_EQ(valueIn("[a]\nk=\"q'\n", "a", "k"), "\"q'");
  for (const QString& v : {u" padded "_s, u"\"quoted\""_s, u"'x'"_s})
    EXPECT_EQ(valueIn(rewritten("", "a", "k", v), "a", "k"), v);

  // A line break in a value must not smuggle in another key.
  const QByteArray file = rewritten("", "a", "k", "one\r\ntwo=2");
  EXPECT_EQ(file, "[a]\r\nk=one\r\n");
  const std::pair<const char*, const char*> refused[] = {
      {"a]b", "k"}, {"a\nb", "k"}, {" ", "k"}, {"a", "k=x"}, {"a", "[k"}, {"a", ";k"}, {"a", ""}};
  for (const auto& [section, key] : refused)
    EXPECT_FALSE(detail::rewrite("", section, key, "v", kUtf8).has_value()) << section << key;
}

TEST(ProfileBytes, LongValuesAreCutOnCharacterBoundaries) {
  const auto stored = [](const QString& v, const LocaleCodec& c) {
    return valueIn(c.fromUnicode("[a]\nk=" + v + "\n"), "a", "k", c);
  };
  EXPECT_EQ(stored(QString(1100, u'x'), kUtf8), QString(1023, u'x'));
  EXPECT_EQ(stored(QString(600, u'é'), kUtf8), QString(511, u'é'));
  EXPECT_EQ(stored("x" + QString(600, u'é'), kUtf8), "x" + QString(511, u'é'));
  EXPECT_EQ(stored(QString(600, u'メ'), kSjis), QString(511, u'メ'));
  EXPECT_EQ(stored("x" + QString(600, u'日'), kSjis), "x" + QString(511, u'日'));
}

TEST(ProfileBytes, ShiftJisNamesAndValues) {
  // ゾ is 83 5D: its trail byte is ']'.
  const QByteArray file = rewritten("", u"ゾーン"_s, u"名前"_s, u"表示"_s, kSjis);
  EXPECT_EQ(file, "[" + sjisBytes(u"ゾーン"_s) + "]\r\n" + sjisBytes(u"名前=表示"_s) + "\r\n");
  EXPECT_EQ(valueIn(file, u"ゾーン"_s, u"名前"_s, kSjis), u"表示"_s);
  // A name the code set cannot hold is still found again, not added twice.
  const QByteArray once = rewritten("", "a", u"k😀"_s, "1", kSjis);
  EXPECT_EQ(rewritten(once, "a", u"k😀"_s, "2", kSjis), "[a]\r\nk?=2\r\n");
}

TEST(ProfileBytes, SurvivesNulsHugeLinesAndGarbage) {
  const QByteArray nuls = bytesOf("[a]\nk=1\0junk\nz=2\n\0\0\n[b\0]\nq=3\n");
  EXPECT_EQ(valueIn(nuls, "a", "k"), "1");
  EXPECT_EQ(valueIn(nuls, "a", "q"), "3");  // "[b" is no header once cut at the NUL
  EXPECT_EQ(rewritten(nuls, "a", "z", "9"), bytesOf("[a]\nk=1\0junk\nz=9\n\0\0\n[b\0]\nq=3\n"));

  const QByteArray huge = "[a]\nk=" + QByteArray(1 << 20, 'x') + "\n[b]\nq=1";
  EXPECT_EQ(valueIn(huge, "a", "k"), QString(1023, u'x'));
  EXPECT_EQ(valueIn(huge, "b", "q"), "1");
  EXPECT_EQ(valueIn(rewritten(huge, "b", "n", "2"), "b", "n"), "2");

  // Whatever the bytes, a write reads back, and writing it again changes nothing.
  const char alphabet[] =
      "[]=;\"' \t\r\n\0\x83\x81\x5d\xff"
      "aAkK";
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    QByteArray junk(int(rng() % 60), '\0');
    for (char& c : junk) c = alphabet[rng() % (sizeof alphabet - 1)];
    const LocaleCodec& codec = round % 2 ? kSjis : kUtf8;
    const QByteArray out = rewritten(junk, "A", "k", u"値 v"_s, codec);
    ASSERT_EQ(valueIn(out, "a", "K", codec), u"値 v"_s) << junk.toHex().toStdString();
    ASSERT_EQ(rewritten(out, "a", "K", u"値 v"_s, codec), out);
  }
}

class ProfileFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  QString path(const QString& name = "setting.ini") const { return dir.filePath(name); }
  QTemporaryDir dir;
};

TEST_F(ProfileFileTest, RoundTripsThroughTheDiskInEachCodeSet) {
  ASSERT_TRUE(WriteProfileString(path(), u"設定"_s, u"名前"_s, u"日本語テキスト"_s, kSjis));
  EXPECT_EQ(fileBytes(path()), sjisBytes(u"[設定]\r\n名前=日本語テキスト\r\n"_s));
  EXPECT_EQ(ReadProfileString(path(), u"設定"_s, u"名前"_s, kSjis), u"日本語テキスト"_s);

  ASSERT_TRUE(WriteProfileString(path("u.ini"), u"設定"_s, u"名前"_s, u"日本語"_s, kUtf8));
  EXPECT_EQ(fileBytes(path("u.ini")), u"[設定]\r\n名前=日本語\r\n"_s.toUtf8());
  EXPECT_EQ(ReadProfileString(path("u.ini"), u"設定"_s, u"名前"_s, kUtf8), u"日本語"_s);
  EXPECT_EQ(ReadProfileString(path("none.ini"), "a", "b", kUtf8), "");
}

TEST_F(ProfileFileTest, KeepsPermissionsAndLineEnds) {
  putFile(path(), "[a]\nk=1\n");
  ASSERT_TRUE(QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
  ASSERT_TRUE(WriteProfileString(path(), "a", "k", "2", kUtf8));
  ASSERT_TRUE(WriteProfileString(path(), "b", "k", "3", kUtf8));
  EXPECT_EQ(fileBytes(path()), "[a]\nk=2\n[b]\nk=3\n");
  EXPECT_EQ(modeOf(path()), 0640u);

  // The mode comes from the old file, not from the umask a new file would get.
  const mode_t savedMask = ::umask(0);
  for (const auto& [mode, mask] : {std::pair<mode_t, mode_t>{0600, 022}, {0644, 077}}) {
    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), mode), 0);
    ::umask(mask);
    EXPECT_TRUE(WriteProfileString(path(), "a", "k", QString::number(mode, 8), kUtf8));
    EXPECT_EQ(modeOf(path()), unsigned(mode));
  }
  ::umask(savedMask);
  EXPECT_EQ(valueIn(fileBytes(path()), "a", "k"), "644");
}

TEST_F(ProfileFileTest, ASymlinkStaysALinkAndTheFileItLeadsToIsWritten) {
  ASSERT_TRUE(QDir(dir.path()).mkpath("app") && QDir(dir.path()).mkpath("shared"));
  putFile(path("shared/real.ini"), "[a]\nk=1\n");
  ASSERT_EQ(::chmod(QFile::encodeName(path("shared/real.ini")).constData(), 0600), 0);
  ASSERT_EQ(::symlink("../shared/real.ini", QFile::encodeName(path("app/setting.ini")).constData()), 0);

  ASSERT_TRUE(WriteProfileString(path("app/setting.ini"), "a", "k", "2", kUtf8));
  ASSERT_TRUE(WriteProfileString(path("app/setting.ini"), "b", "n", "3", kUtf8));
  EXPECT_EQ(QFileInfo(path("app/setting.ini")).symLinkTarget(), path("shared/real.ini"));
  EXPECT_EQ(fileBytes(path("shared/real.ini")), "[a]\nk=2\n[b]\nn=3\n");
  EXPECT_EQ(modeOf(path("shared/real.ini")), 0600u);
  const auto filters = QDir::Files | QDir::Hidden | QDir::System;
  EXPECT_EQ(QDir(path("app")).entryList(filters), QStringList{"setting.ini"});
  EXPECT_EQ(QDir(path("shared")).entryList(filters), QStringList{"real.ini"});

  // A link to a file not made yet: the file is made where the link leads.
  ASSERT_EQ(::symlink("../shared/later.ini", QFile::encodeName(path("app/later.ini")).constData()), 0);
  ASSERT_TRUE(WriteProfileString(path("app/later.ini"), "a", "k", "1", kUtf8));
  EXPECT_TRUE(QFileInfo(path("app/later.ini")).isSymLink());
  EXPECT_EQ(fileBytes(path("shared/later.ini")), "[a]\r\nk=1\r\n");

  // A loop of links is refused, not replaced by a file.
  ASSERT_EQ(::symlink("loop2.ini", QFile::encodeName(path("app/loop1.ini")).constData()), 0);
  ASSERT_EQ(::symlink("loop1.ini", QFile::encodeName(path("app/loop2.ini")).constData()), 0);
  EXPECT_FALSE(WriteProfileString(path("app/loop1.ini"), "a", "k", "1", kUtf8));
  EXPECT_TRUE(QFileInfo(path("app/loop1.ini")).isSymLink());
}

TEST_F(ProfileFileTest, TwoProcessesWritingAtOnceKeepEachOthersKeys) {
  constexpr int kKeys = 200;
  const QString prefixes[] = {"a", "b"};
  std::vector<std::unique_ptr<QProcess>> writers;
  for (const QString& prefix : prefixes)
    writers.push_back(startSelf({"--write-keys", path(), prefix, QString::number(kKeys)}));
  for (const auto& w : writers) ASSERT_TRUE(w->waitForStarted());
  // Both start writing together.
  for (const auto& w : writers) {
    w->write("go\n");
    ASSERT_TRUE(w->waitForBytesWritten());
  }
  for (const auto& w : writers) {
    ASSERT_TRUE(w->waitForFinished(120000));
    EXPECT_EQ(w->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(w->exitCode(), 0) << "writes that failed";
  }
  const QByteArray file = fileBytes(path());
  int kept = 0;
  for (const QString& prefix : prefixes)
    for (int i = 0; i < kKeys; ++i) kept += valueIn(file, "Race", prefix + QString::number(i)) == QString::number(i);
  EXPECT_EQ(kept, 2 * kKeys);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"setting.ini"});
}

TEST_F(ProfileFileTest, ALockLeftByAKilledWriterIsTakenOverAtOnce) {
  putFile(path(), "[a]\r\nk=1\r\n");
  const std::unique_ptr<QProcess> holder = lockHolder(path());
  ASSERT_TRUE(holder);
  killAndWait(*holder);
  ASSERT_TRUE(QFileInfo::exists(path() + ".lock"));

  QElapsedTimer took;
  took.start();
  EXPECT_TRUE(WriteProfileString(path(), "a", "k", "2", kUtf8));
  EXPECT_LT(took.elapsed(), kProfileLockWait.count() / 2);
  EXPECT_EQ(fileBytes(path()), "[a]\r\nk=2\r\n");
  EXPECT_FALSE(QFileInfo::exists(path() + ".lock"));
}

TEST_F(ProfileFileTest, ALockHeldByAStuckWriterMakesAWriteGiveUpSoon) {
  putFile(path(), "[a]\r\nk=1\r\n");
  std::unique_ptr<QProcess> holder = lockHolder(path());
  ASSERT_TRUE(holder);

  QElapsedTimer took;
  took.start();
  EXPECT_FALSE(WriteProfileString(path(), "a", "k", "2", kUtf8, 300ms));
  EXPECT_GE(took.elapsed(), 300);
  EXPECT_LT(took.elapsed(), 5000);
  EXPECT_EQ(fileBytes(path()), "[a]\r\nk=1\r\n");
  // Reads never wait for the lock.
  EXPECT_EQ(ReadProfileString(path(), "a", "k", kUtf8), "1");

  killAndWait(*holder);
  EXPECT_TRUE(WriteProfileString(path(), "a", "k", "2", kUtf8));
  EXPECT_EQ(fileBytes(path()), "[a]\r\nk=2\r\n");
}

TEST_F(ProfileFileTest, UnreadableOrUnwritablePathsChangeNothing) {
  // A folder where the file should be: unreadable even for root.
  ASSERT_TRUE(QDir(dir.path()).mkdir("setting.ini"));
  EXPECT_EQ(ReadProfileString(path(), "a", "k", kUtf8), "");
  EXPECT_FALSE(WriteProfileString(path(), "a", "k", "v", kUtf8));
  EXPECT_TRUE(QFileInfo(path()).isDir());

  // Parent is a regular file: no folder to write into, for root too.
  putFile(path("plain"), "x");
  EXPECT_FALSE(WriteProfileString(path("plain/setting.ini"), "a", "k", "v", kUtf8));
  EXPECT_EQ(fileBytes(path("plain")), "x");
}

TEST_F(ProfileFileTest, FailedWriteLeavesOldFileIntact) {
  putFile(path("old.ini"), "[a]\r\nk=1\r\n");
  // A file size limit stops the write halfway, root or not.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = WriteProfileString(path("old.ini"), "a", "k", QString(4000, u'v'), kUtf8);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(written);
  EXPECT_EQ(fileBytes(path("old.ini")), "[a]\r\nk=1\r\n");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"old.ini"});
}

TEST(ModIni, ReadsAndWritesSettingIniBesideTheExecutable) {
  const QString file = QCoreApplication::applicationDirPath() + "/setting.ini";
  ASSERT_EQ(SettingsFilePath(), file);
  QFile::remove(file);
  EXPECT_EQ(ReadSetting("Record", "Folder"), "");
  WriteSetting("Record", "Folder", "/home/me/voice");
  WriteSetting("record", "Rate", "44100");
  EXPECT_EQ(ReadSetting("RECORD", "folder"), "/home/me/voice");
  EXPECT_EQ(fileBytes(file), "[Record]\r\nFolder=/home/me/voice\r\nRate=44100\r\n");
  EXPECT_TRUE(QFile::remove(file));
}

// Another copy of the program holding setting.ini's lock: the write gives up after a short
// wait, and the user hears of it like of any write that could not be kept; what was
// written holds for the rest of the run all the same.
TEST(ModIni, AWriteHeldUpByAnotherCopyIsReported) {
  const QString file = SettingsFilePath();
  QFile::remove(file);
  std::vector<QString> reports;
  Settings settings([&](const QString& where) { reports.push_back(where); });
  std::unique_ptr<QProcess> holder = lockHolder(file);
  ASSERT_TRUE(holder);

  QElapsedTimer took;
  took.start();
  settings.setSaveFolder("/home/me/voice");
  EXPECT_LT(took.elapsed(), kProfileLockWait.count() + 3000);
  EXPECT_EQ(reports, std::vector<QString>{file});
  EXPECT_FALSE(fileBytes(file).contains("voice")) << "not on the disk";
  EXPECT_EQ(settings.saveFolder().value, "/home/me/voice") << "but in force for this run";

  killAndWait(*holder);
  settings.setSaveFolder("/home/me/voice");
  EXPECT_EQ(ReadSetting("SaveTo", "Path"), "/home/me/voice") << "stored once the lock is free";
  QFile::remove(file);
}

namespace {

// The second processes of the tests above:
//   --write-keys FILE PREFIX COUNT  after a line on standard input, sets [Race] PREFIX<i>=<i>
//                                   for each i below COUNT, one write each; exits 1 if any failed
//   --hold-lock FILE                takes FILE's write lock, says "held", and keeps it until killed
int helperMain(const QStringList& args) {
  if (args.size() == 5 && args[1] == "--write-keys") {
    std::string go;
    std::getline(std::cin, go);
    bool allWritten = true;
    for (int i = 0, n = args[4].toInt(); i < n; ++i)
      allWritten &= WriteProfileString(args[2], "Race", args[3] + QString::number(i), QString::number(i), kUtf8);
    return allWritten ? 0 : 1;
  }
  if (args.size() == 3 && args[1] == "--hold-lock") {
    const FileWriteLock lock(args[2], 0ms);
    if (!lock.held()) return 2;
    std::cout << "held" << std::endl;
    for (;;) ::pause();
  }
  return 3;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc > 1 && (argv[1] == std::string("--write-keys") || argv[1] == std::string("--hold-lock")))
    return helperMain(app.arguments());
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
