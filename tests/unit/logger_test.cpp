#include "kernel/logger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scratch.h"
#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {
namespace {

class LoggerTest : public ::testing::Test {
protected:
  void SetUp() override { SelectLanguage(kLanguageEnglish); }
  void TearDown() override { ResetLanguage(); }

  // Writes a log file made of `text` (UTF-16LE) and reads it into `log`.
  void readText(Logger& log, const XString& text) {
    dir.writeFile("in.log", Utf16le(text));
    File f(dir.path(u"in.log"));
    log.Read(f);
  }

  // The message of the FatalError that reading `text` raises.
  XString readFailure(const XString& text) {
    Logger log(XString(u"Untouched"));
    log.LogFile(File(XString(u"C:\\keep.txt")));
    log.setLogInteger(7);
    try {
      readText(log, text);
    } catch (const FatalError& e) {
      // The log is as it was before the failed read.
      EXPECT_EQ(log.productName(), u"Untouched");
      EXPECT_EQ(log.logInteger(), 7);
      EXPECT_EQ(log.records(), (std::list<LogRecord>{{kLogFile, u"C:\\keep.txt"}}));
      return e.message();
    }
    ADD_FAILURE() << "read accepted: " << ToUtf8(text);
    return XString();
  }

  // Writes `log` to a file and reads it back into `back`.
  void writeAndRead(Logger& log, Logger& back) {
    File f(dir.path(u"written.log"));
    log.Write(f);
    back.Read(f);
  }

  XString corrupted() { return u"Installation log file " + dir.path(u"in.log") + u" corrupted"; }

  ScratchFolder dir;
};

const XString kHeader = u"Install Log File, v2.0\n";

// The installation of the example: into the existing C:\App, language 2, no
// recorded file, uninstaller at C:\App\uninstall.exe.
void LogTheExample(Logger& log) {
  log.setLogInteger(2);
  log.LogFile(File(XString(u"C:\\App\\uninstall.exe")));
  log.LogDirectory(u"C:\\App\\bin");
  log.LogFile(File(XString(u"C:\\App\\bin\\run.exe")));
  log.LogFile(File(XString(u"C:\\App\\install.log")));
}

const XString kExampleText = kHeader +
                             u"Corvantis Demo\n"
                             u"\n"
                             u"2\n"
                             u"4\n"
                             u"file C:\\App\\install.log\n"
                             u"file C:\\App\\bin\\run.exe\n"
                             u"directory C:\\App\\bin\n"
                             u"file C:\\App\\uninstall.exe\n";

TEST_F(LoggerTest, TheExampleIsWrittenByteForByteAndReadBackEqual) {
  Logger log(XString(u"Corvantis Demo"));
  LogTheExample(log);
  File out(dir.path(u"install.log"));
  log.Write(out);
  EXPECT_FALSE(out.isOpen());
  std::string bytes = dir.readFile("install.log");
  EXPECT_EQ(bytes, Utf16le(kExampleText));
  EXPECT_EQ(bytes.substr(0, 6), std::string("I\0n\0s\0", 6));

  Logger back;
  back.Read(out);
  EXPECT_FALSE(out.isOpen());
  EXPECT_EQ(back.productName(), u"Corvantis Demo");
  EXPECT_EQ(back.recordedFilePath(), std::nullopt);
  EXPECT_EQ(back.logInteger(), 2);
  EXPECT_EQ(back.records(), log.records());

  File again(dir.path(u"again.log"));
  back.Write(again);
  EXPECT_EQ(dir.readFile("again.log"), bytes);
}

TEST_F(LoggerTest, ACreatedDestinationComesLast) {
  Logger log(XString(u"P"));
  Directory app(dir.path(u"App"));
  ASSERT_EQ(app.createDirectories(&log.DirectoryListener()), 0);
  log.LogFile(File(app, XString(u"uninstall.exe")));
  Logger back;
  writeAndRead(log, back);
  EXPECT_EQ(back.records(), (std::list<LogRecord>{{kLogFile, dir.path(u"App\\uninstall.exe")},
                                                  {kLogDirectory, dir.path(u"App")}}));
}

TEST_F(LoggerTest, NewRecordsGoToTheHeadDuplicatesAreDroppedAndEveryKindRoundTrips) {
  Logger log;
  EXPECT_EQ(log.logInteger(), 1);
  EXPECT_EQ(log.recordCount(), 0u);
  log.LogDirectory(u"C:\\A");
  log.LogDirectory(u"C:\\A");
  log.LogFile(File(XString(u"C:\\A\\f.txt")));
  log.LogDirectory(u"C:\\a");  // another text: case counts
  log.LogRegistryKey(u"HKEY_CURRENT_USER\\Software\\Corv");
  log.LogService(u"CorvService");
  log.LogPathEntry(u"C:\\A");  // the same text in another kind is another record
  log.LogDirectory(u"C:\\A");
  EXPECT_EQ(log.records(), (std::list<LogRecord>{
                               {kLogPathEntry, u"C:\\A"},
                               {kLogService, u"CorvService"},
                               {kLogRegistryKey, u"HKEY_CURRENT_USER\\Software\\Corv"},
                               {kLogDirectory, u"C:\\a"},
                               {kLogFile, u"C:\\A\\f.txt"},
                               {kLogDirectory, u"C:\\A"},
                           }));
  EXPECT_THROW(log.Log(5, u"x"), AssertionFailedError);
  EXPECT_THROW(log.Log(-1, u"x"), AssertionFailedError);
  EXPECT_EQ(log.recordCount(), 6u);
  const XString keywords[] = {u"file", u"directory", u"registrykey", u"ntservice", u"pathentry"};
  for (int kind = kLogFile; kind <= kLogPathEntry; ++kind) EXPECT_EQ(XString(LogKeyword(kind)), keywords[kind]);
  EXPECT_THROW(LogKeyword(5), AssertionFailedError);

  // Writing needs a product name.
  EXPECT_FALSE(log.hasProductName());
  EXPECT_THROW(log.productName(), AssertionFailedError);
  File out(dir.path(u"t.log"));
  EXPECT_THROW(log.Write(out), AssertionFailedError);
  EXPECT_FALSE(out.exists());

  Logger spaced(XString(u"My Product 2.0 "));
  spaced.setRecordedFilePath(XString(u"C:\\Program Files\\My Product\\bin\\my app.exe"));
  spaced.setLogInteger(-3);
  spaced.LogPathEntry(u"C:\\Program Files\\My Product\\bin");
  spaced.LogService(u"My Service");
  spaced.LogRegistryKey(u"HKEY_LOCAL_MACHINE\\Software\\My Vendor\\My Product");
  spaced.LogFile(File(XString(u"C:\\Program Files\\My Product\\read me.txt")));
  spaced.Log(kLogDirectory, u"");  // an empty text is allowed
  Logger back;
  writeAndRead(spaced, back);
  EXPECT_EQ(back.productName(), u"My Product 2.0 ");
  EXPECT_EQ(back.recordedFilePath(), OptString(u"C:\\Program Files\\My Product\\bin\\my app.exe"));
  EXPECT_EQ(back.logInteger(), -3);
  EXPECT_EQ(back.records(), spaced.records());
}

TEST_F(LoggerTest, ReadReplacesTheContentWithWhatTheFileHolds) {
  Logger log(XString(u"Old"));
  log.LogFile(File(XString(u"C:\\old.txt")));
  log.setRecordedFilePath(XString(u"C:\\old.exe"));
  readText(log, kHeader + u"New\n\n5\n4\nfile C:\\b\nfile C:\\a\nfile C:\\b\ndirectory C:\\\n");
  EXPECT_EQ(log.productName(), u"New");
  EXPECT_EQ(log.recordedFilePath(), std::nullopt);
  EXPECT_EQ(log.logInteger(), 5);
  EXPECT_EQ(log.records(), (std::list<LogRecord>{{kLogFile, u"C:\\b"}, {kLogFile, u"C:\\a"}, {kLogDirectory, u"C:\\"}}))
      << "read records go to the tail; the duplicate is dropped";

  // An empty line three is no recorded path, and is written again.
  readText(log, kHeader + u"P\n\n1\n0\n");
  EXPECT_EQ(log.productName(), u"P");
  EXPECT_EQ(log.recordedFilePath(), std::nullopt);
  EXPECT_EQ(log.recordCount(), 0u) << "N = 0 is an empty list";
  File out(dir.path(u"out.log"));
  log.Write(out);
  EXPECT_EQ(dir.readFile("out.log"), Utf16le(kHeader + u"P\n\n1\n0\n"));

  // The text after the first space is the record's; what follows the
  // records is ignored, and so is the last byte of an odd length.
  std::string bytes = Utf16le(kHeader + u"P\n\n1\n3\nfile  two spaces\npathentry \n\tntservice tabbed\ntrailing junk");
  dir.writeFile("in.log", bytes + "x");
  File f(dir.path(u"in.log"));
  log.Read(f);
  EXPECT_EQ(log.records(), (std::list<LogRecord>{
                               {kLogFile, u" two spaces"},
                               {kLogPathEntry, u""},
                               {kLogService, u"tabbed"},
                           }));

  readText(log, kHeader + u"P\n\n1\n1\nfile C:\\x\n" + XString(1, u'\0') + u"garbage");  // a NUL ends the text
  EXPECT_EQ(log.recordCount(), 1u);
  const XString text511(511, u'a');
  readText(log, kHeader + text511 + u"\n" + text511 + u"\n1\n1\nfile " + text511 + u"\n");
  EXPECT_EQ(log.productName(), text511);
  EXPECT_EQ(log.records().front().text, text511) << "511 characters fit";
}

TEST_F(LoggerTest, CorruptLogsAreRejectedWith1261AndLeaveTheLogUnchanged) {
  const XString text511(511, u'a');
  const std::pair<XString, const char*> cases[] = {
      {u"", "empty file"},
      {u"Install Log File, v2.1\nP\n\n1\n0\n", "another version"},
      {u"Install Log File, v2.0", "header without line feed"},
      {u"Install Log File, v2.0\r\nP\n\n1\n0\n", "carriage return"},
      {kHeader + u"P", "no line feed after the product name"},
      {kHeader + u"P\n", "no recorded path line"},
      {kHeader + u"P\n\n", "no log integer"},
      {kHeader + u"P\n\n1", "log integer without line feed"},
      {kHeader + u"P\n\nx\n0\n", "log integer not a number"},
      {kHeader + u"P\n\n1\n", "no count"},
      {kHeader + u"P\n\n1\n\n", "empty count"},
      {kHeader + u"P\n\n1\n1x\n", "count followed by something else"},
      {kHeader + u"P\n\n1\n-1\n", "negative count"},
      {kHeader + u"P\n\n1\n2147483648\n", "count beyond 32 bits"},
      {kHeader + u"P\n\n99999999999\n0\n", "log integer beyond 32 bits"},
      {kHeader + u"P\n\n1\n2\nfile C:\\a\n", "fewer records than counted"},
      {kHeader + u"P\n\n1\n1\nfile C:\\a", "last record without line feed"},
      {kHeader + u"P\n\n1\n1\nfile\n", "no space"},
      {kHeader + u"P\n\n1\n1\nfolder C:\\a\n", "unknown keyword"},
      {kHeader + u"P\n\n1\n1\nFile C:\\a\n", "keywords are exact"},
      {kHeader + u"P\n\n1\n1\n C:\\a\n", "no keyword"},
      {kHeader + u"P\n\n1\n1\nfile C:" + XString(1, u'\0') + u"\\x\n", "the record's line feed lies beyond a NUL"},
      // Lines longer than the reader's buffers.
      {kHeader + text511 + u"a\n\n1\n0\n", "product name"},
      {kHeader + u"P\n" + text511 + u"a\n1\n0\n", "recorded path"},
      {kHeader + u"P\n\n1\n1\nfile " + text511 + u"a\n", "record text"},
      {kHeader + u"P\n\n1\n1\n" + XString(504, u'f') + u" x\n", "keyword"},
      {kHeader + u"P\n\n1\n1\nfile " + XString(100000, u'b') + u"\n", "very long record"},
  };
  for (const auto& [text, what] : cases) EXPECT_EQ(readFailure(text), corrupted()) << what;
}

TEST_F(LoggerTest, FileFailuresAre1102And1103AndAnOverlongLineIsRefusedBeforeTheFileIsTouched) {
  Logger log(XString(u"Kept"));
  auto failure = [&](const char16_t* name) {
    File f(dir.path(name));
    try {
      name == std::u16string(u"missing.log") ? log.Read(f) : log.Write(f);
      ADD_FAILURE() << "no failure with " << ToUtf8(name);
    } catch (const FatalError& e) {
      EXPECT_FALSE(f.isOpen());
      return e.message();
    }
    return XString();
  };
  EXPECT_EQ(failure(u"missing.log"), u"Unable to read file " + dir.path(u"missing.log"));
  EXPECT_EQ(log.productName(), u"Kept");
  dir.writeFile("folder/x", "");
  EXPECT_EQ(failure(u"folder"), u"Unable to write file " + dir.path(u"folder"));

  dir.writeFile("install.log", "earlier");
  log.LogFile(File(XString(u"C:\\") + XString(505, u'x')));  // "file C:\" + 505 + LF = 514
  EXPECT_EQ(failure(u"install.log"), u"Unable to write file " + dir.path(u"install.log"));
  EXPECT_EQ(dir.readFile("install.log"), "earlier");

  Logger fits(XString(510, u'n'));  // 510 characters and the line feed
  Logger back;
  writeAndRead(fits, back);
  EXPECT_EQ(back.productName(), XString(510, u'n'));
}

TEST_F(LoggerTest, MergeAndWritePutsTheUpdatesNewRecordsFirstUnderTheEarlierName) {
  Logger update(XString(u"Corvantis Demo Update"));
  // Without records of its own, an update leaves the file alone, whatever it holds.
  dir.writeFile("in.log", "not a log at all");
  File f(dir.path(u"in.log"));
  update.MergeAndWrite(f);
  EXPECT_EQ(dir.readFile("in.log"), "not a log at all");
  File missing(dir.path(u"missing.log"));
  update.MergeAndWrite(missing);
  EXPECT_FALSE(missing.exists());

  readText(*std::make_unique<Logger>(), kExampleText);  // the file is valid
  update.setLogInteger(5);
  update.setRecordedFilePath(XString(u"C:\\App\\new.exe"));
  update.LogFile(File(XString(u"C:\\App\\bin\\run.exe")));  // also in the earlier log
  update.LogFile(File(XString(u"C:\\App\\bin\\patch.dll")));
  update.LogFile(File(XString(u"C:\\App\\install.log")));  // also in the earlier log
  update.MergeAndWrite(f);
  Logger merged;
  merged.Read(f);
  EXPECT_EQ(merged.productName(), u"Corvantis Demo");
  EXPECT_EQ(merged.recordedFilePath(), std::nullopt) << "the earlier log's recorded path";
  EXPECT_EQ(merged.logInteger(), 5) << "the own log integer";
  const std::list<LogRecord> own = {{kLogFile, u"C:\\App\\install.log"},
                                    {kLogFile, u"C:\\App\\bin\\patch.dll"},
                                    {kLogFile, u"C:\\App\\bin\\run.exe"}};
  // Records of both logs keep their earlier places.
  const std::list<LogRecord> all = {{kLogFile, u"C:\\App\\bin\\patch.dll"}, {kLogFile, u"C:\\App\\install.log"},
                                    {kLogFile, u"C:\\App\\bin\\run.exe"}, {kLogDirectory, u"C:\\App\\bin"},
                                    {kLogFile, u"C:\\App\\uninstall.exe"}};
  EXPECT_EQ(merged.records(), all);
  // The update's own log keeps its own records only: its rollback must not
  // undo the product it updates.
  EXPECT_EQ(update.records(), own);
  EXPECT_EQ(update.productName(), u"Corvantis Demo Update");

  // Over a missing or corrupt log it writes its own.
  Logger other(XString(u"Update"));
  other.LogFile(File(XString(u"C:\\App\\x.dll")));
  other.MergeAndWrite(missing);
  dir.writeFile("corrupt.log", Utf16le(u"Install Log File, v1.0\n"));
  File corrupt(dir.path(u"corrupt.log"));
  other.MergeAndWrite(corrupt);
  const std::string expected = Utf16le(kHeader + u"Update\n\n1\n1\nfile C:\\App\\x.dll\n");
  EXPECT_EQ(dir.readFile("missing.log"), expected);
  EXPECT_EQ(dir.readFile("corrupt.log"), expected);
}

TEST_F(LoggerTest, ASealedLogIsReadAndMergedOnlyAsItWasWritten) {
  Logger log(XString(u"Corvantis Demo"));
  LogTheExample(log);
  File f(dir.path(u"install.log"));
  std::string seal;
  log.Write(f, &seal);
  // The SHA-256 of the bytes written (as sha256sum prints it).
  const std::string bytes = Utf16le(kExampleText);
  EXPECT_EQ(seal, "561dbc37b4fa5f5704e376f81a46b7864b444cb95fa0181b20c10f65f7bdd458");
  Logger back;
  back.Read(f, {seal, seal});
  EXPECT_EQ(back.records(), log.records());

  // One changed byte, or one seal that differs, and it is refused whole.
  const XString changed = u"Installation log file " + f.widePath() +
                          u" has been changed since the installation wrote it and is not trusted";
  std::string planted = bytes;
  planted[planted.size() - 4] = 'X';
  dir.writeFile("install.log", planted);
  for (const auto& seals : std::vector<std::vector<std::string>>{{seal}, {"", seal}}) {
    Logger untouched(XString(u"Untouched"));
    try {
      untouched.Read(f, seals);
      ADD_FAILURE() << "read a changed log";
    } catch (const FatalError& e) {
      EXPECT_EQ(e.message(), changed);
    }
    EXPECT_EQ(untouched.productName(), u"Untouched");
  }
  Logger update(XString(u"Update"));
  update.LogFile(File(XString(u"C:\\App\\x.dll")));
  File out(dir.path(u"merged.log"));
  EXPECT_THROW(update.MergeAndWrite(f, out, {seal}), FatalError);
  EXPECT_FALSE(out.exists());
  // Without seals (a log of an earlier release) nothing is checked.
  std::string mergedSeal;
  EXPECT_TRUE(update.MergeAndWrite(f, out, {}, &mergedSeal));
  back.Read(out, {mergedSeal});
  EXPECT_EQ(back.recordCount(), 5u);
}

TEST_F(LoggerTest, UndoRemovesFilesThenFoldersAndForgetsThem) {
  Logger log(XString(u"P"));
  Directory deep(dir.path(u"a\\b"));
  ASSERT_EQ(deep.createDirectories(&log.DirectoryListener()), 0);
  dir.writeFile("a/one.txt", "1");
  dir.writeFile("a/b/two.txt", "2");
  log.LogFile(File(dir.path(u"a\\one.txt")));
  log.LogFile(File(dir.path(u"a\\b\\two.txt")));
  ASSERT_EQ(log.recordCount(), 4u);

  EXPECT_EQ(log.Undo(), std::nullopt);
  EXPECT_EQ(log.recordCount(), 0u);
  EXPECT_FALSE(dir.exists("a"));
  EXPECT_TRUE(dir.exists("")) << "only what was logged goes";
  EXPECT_EQ(log.Undo(), std::nullopt) << "nothing left to undo";
}

TEST_F(LoggerTest, UndoKeepsGoingPastFailuresAndCollectsOneLineEach) {
  Logger log(XString(u"P"));
  ASSERT_EQ(Directory(dir.path(u"kept")).createDirectories(&log.DirectoryListener()), 0);
  dir.writeFile("kept/unlogged.txt", "x");
  log.LogPathEntry(u"C:\\App\\bin");
  log.LogService(u"CorvSvc");
  log.LogRegistryKey(u"HKEY_CURRENT_USER\\Software\\Corv");
  log.LogFile(File(dir.path(u"gone.txt")));
  dir.writeFile("real.txt", "x");
  log.LogFile(File(dir.path(u"real.txt")));
  log.Log(kLogFile, u"   ");

  OptString errors = log.Undo();
  ASSERT_TRUE(errors);
  EXPECT_EQ(*errors, u"Unable to delete file    \r\n"
                     u"Unable to delete file " + dir.path(u"gone.txt") + u"\r\n"
                     u"Unable to delete registry key HKEY_CURRENT_USER\\Software\\Corv\r\n"
                     u"Unable to uninstall Windows NT service CorvSvc\r\n"
                     u"Unable to remove 'C:\\App\\bin' from PATH\r\n"
                     u"Unable to delete directory " + dir.path(u"kept") + u"\r\n");
  EXPECT_FALSE(dir.exists("real.txt"));
  EXPECT_TRUE(dir.exists("kept/unlogged.txt"));
  EXPECT_EQ(log.recordCount(), 6u) << "the records that failed stay";
}

// Undoes what it is told to and remembers what it was asked.
class FakeSystemUndo : public SystemUndo {
public:
  bool undoRegistryKey(const XString& key) override { return note(u"key " + key); }
  bool restoreRegistryKey(const KeySnapshot& found) override { return note(u"restore " + found.fullName); }
  bool undoService(const XString& name) override { return note(u"service " + name); }
  bool undoPathEntry(const XString& folder) override { return note(u"path " + folder); }
  bool note(const XString& what) {
    asked.push_back(what);
    return succeed;
  }
  bool succeed = true;
  std::vector<XString> asked;
};

TEST_F(LoggerTest, SystemChangesAreUndoneThroughTheSystemUndo) {
  FakeSystemUndo own;
  Logger log(XString(u"P"));
  log.LogRegistryKey(u"HKEY_CLASSES_ROOT\\.corv");
  log.LogService(u"CorvSvc");
  log.LogPathEntry(u"C:\\App");
  EXPECT_EQ(log.Undo(own), std::nullopt);
  EXPECT_EQ(own.asked, (std::vector<XString>{u"path C:\\App", u"service CorvSvc", u"key HKEY_CLASSES_ROOT\\.corv"}));

  FakeSystemUndo failing;
  failing.succeed = false;
  Logger other(XString(u"P"));
  other.LogService(u"CorvSvc");
  EXPECT_EQ(other.Undo(failing), OptString(u"Unable to uninstall Windows NT service CorvSvc\r\n"));
  EXPECT_EQ(failing.asked, (std::vector<XString>{u"service CorvSvc"}));
  EXPECT_EQ(other.Undo(), OptString(u"Unable to uninstall Windows NT service CorvSvc\r\n"))
      << "a log of files and folders undoes nothing else";
}

}  // namespace
}  // namespace corv
