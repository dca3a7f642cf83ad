#include "kernel/filespackage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "blockwriter.h"
#include "kernel/logger.h"
#include "kernel/overwritepolicy.h"
#include "kernel/changejournal.h"
#include "scratch.h"
#include "scripted_frontend.h"
#include "streams_support.h"
#include "kernel/uiprogressupdater.h"
#include "unpacker/decompressor.h"
#include "util/exceptions.h"
#include "util/messages.h"
#include "util/thread.h"

namespace corv {
namespace {

using test::Bytes;

// Counts what the extraction reports, on top of the real counting.
class CountingProgress : public UIProgressUpdater {
public:
  void begin(int64_t count, bool moreWork) override {
    ++begins;
    beginTotal = count;
    UIProgressUpdater::begin(count, moreWork);
  }
  void beginItem(int64_t size, int64_t weight, const OptString& name) override {
    ++items;
    names.push_back(name ? ToUtf8(*name) : "");
    if (onItem) onItem(names.back());
    UIProgressUpdater::beginItem(size, weight, name);
  }
  void advance(int64_t delta, const OptString& name) override {
    advanced += delta;
    if (onAdvance) onAdvance(delta);
    UIProgressUpdater::advance(delta, name);
  }

  int begins = 0, items = 0, filesDone = 0;
  int64_t beginTotal = -1, advanced = 0;
  std::vector<std::string> names;
  std::function<void(const std::string&)> onItem;
  std::function<void(int64_t)> onAdvance;

protected:
  uint32_t overallRange() override { return 1000; }
  uint32_t itemRange() override { return 100; }
  void initOverallBar() override {}
  void setOverallBar(uint32_t) override {}
  void initItemBar() override {}
  void setItemBar(uint32_t) override {}
  void setItemName(const XString&) override {}
  void done(bool complete) override {
    if (!complete) ++filesDone;
  }
};

// Records like the install log, and lets a test act when a folder is made.
class RecordingLog : public ExtractionLog, public DirectoryListener {
public:
  DirectoryListener& directoryListener() override { return *this; }
  void logFile(const AbstractFile& file) override { files.push_back(ToUtf8(file.widePath())); }
  int keepPrevious(const File& file) override {
    kept.push_back(ToUtf8(file.widePath()));
    return keepFails ? 1 : 0;
  }
  void folderCreated(const Directory& folder) override {
    folders.push_back(ToUtf8(folder.widePath()));
    if (onFolder) onFolder();
  }
  std::vector<std::string> files, folders, kept;
  std::function<void()> onFolder;
  bool keepFails = false;
};

struct Item {
  std::string name;
  int64_t size;  // -1: folder
  FileTime time;
};

class FilesPackageTest : public ::testing::Test {
protected:
  static constexpr FileTime kTime = 1234567890;

  // Builds the installer file: junk, then the block of `items` (contents
  // made up from their index), then junk again; `decodedSize` overrides the
  // block header's size; with `recordCrc` the package knows the CRC-32 of
  // the block's bytes.
  std::unique_ptr<FilesPackage> Pack(const std::vector<Item>& items, int64_t decodedSize = -2,
                                     const Bytes& extra = Bytes(), bool recordCrc = false) {
    Bytes data;
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i].size < 0) continue;
      Bytes content = Content(i, items[i].size);
      data.insert(data.end(), content.begin(), content.end());
    }
    data.insert(data.end(), extra.begin(), extra.end());
    Bytes file = test::RandomBytes(777, 1);
    Bytes block = test::EncodeBlock(data, {}, decodedSize);
    file.insert(file.end(), block.begin(), block.end());
    Bytes tail = test::RandomBytes(99, 2);
    file.insert(file.end(), tail.begin(), tail.end());
    test::WriteFileBytes(scratch.native("setup.exe"), file);
    const uint32_t crc = recordCrc ? Crc32(data.data(), data.size()) : 0;
    auto pkg = std::make_unique<FilesPackage>(777, block.size(), items.size(), crc);
    for (const Item& it : items) pkg->addEntry(FromUtf8(it.name), it.time, it.size);
    return pkg;
  }

  static Bytes Content(size_t index, int64_t size) {
    // Noise repeated with a counter: distinct per file and position, yet
    // quick to compress; with branch opcodes for the x86 conversion.
    const Bytes noise = test::RandomBytes(4093, static_cast<uint32_t>(100 + index));
    Bytes b(static_cast<size_t>(size));
    for (size_t i = 0; i < b.size(); ++i) b[i] = noise[i % 4093];
    for (size_t i = 0; i < b.size(); i += 4093) b[i] = static_cast<uint8_t>(i / 4093);
    for (size_t i = 0; i < b.size(); i += 61) b[i] = 0xE8;
    return b;
  }

  bool Extract(FilesPackage& pkg, AbstractOverwritePolicy& policy, UIProgressUpdater* progress = nullptr) {
    File setup(scratch.path(u"setup.exe"));
    EXPECT_EQ(setup.open(kFileRead), 0);
    return pkg.extract(setup, target, progress, policy, log);
  }

  // Extracts with the install log, always overwriting.
  bool ExtractLogged(FilesPackage& pkg, Logger& installLog) {
    File setup(scratch.path(u"setup.exe"));
    EXPECT_EQ(setup.open(kFileRead), 0);
    return pkg.extract(setup, target, nullptr, always, installLog);
  }

  // The message of the failure that extracting `pkg` raises.
  XString ExtractFailure(FilesPackage& pkg) {
    try {
      Extract(pkg, always);
    } catch (const FatalError& e) {
      return e.message();
    }
    return u"extracted";
  }

  // The installed file of a table name (`\` separated) or a `/` path.
  std::filesystem::path Installed(std::string name) const {
    std::replace(name.begin(), name.end(), '\\', '/');
    return scratch.native("dest/" + name);
  }

  ScratchFolder scratch;
  Directory target{scratch.path(u"dest")};
  RecordingLog log;
  OverwritePolicy always{OverwritePolicy::kAlways};
  OverwritePolicy never{OverwritePolicy::kNever};
};

TEST_F(FilesPackageTest, WritesEveryFileInOrderWithItsTimeAndLogsIt) {
  // Files across several decoder chunks, folders first and in between;
  // folders without an entry of their own are made on demand.
  std::vector<Item> items = {{"bin", -1, 0},
                             {"bin\\big.dll", 2500000, kTime},
                             {"readme.txt", 700, kTime + 1},
                             {"doc", -1, 0},
                             {"doc\\manual.txt", 1048576, kTime + 2},
                             {"a\\b\\c\\deep.txt", 100, kTime},
                             {"a\\b\\other.txt", 5, kTime},
                             {"last.bin", 3, kTime + 3}};
  auto pkg = Pack(items);
  EXPECT_EQ(pkg->count(), 8u);
  EXPECT_EQ(pkg->total(), 3549384u);
  EXPECT_TRUE(pkg->entry(3).isFolder());
  EXPECT_EQ(pkg->entry(7).name, u"last.bin");
  EXPECT_THROW(pkg->entry(8), AssertionFailedError);
  CountingProgress progress;
  EXPECT_TRUE(Extract(*pkg, always, &progress));
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].size < 0) {
      EXPECT_TRUE(std::filesystem::is_directory(Installed(items[i].name))) << items[i].name;
      continue;
    }
    EXPECT_TRUE(test::ReadFileBytes(Installed(items[i].name)) == Content(i, items[i].size)) << items[i].name;
    EXPECT_EQ(test::ModificationTime(Installed(items[i].name)), items[i].time) << items[i].name;
  }
  EXPECT_EQ(log.files.size(), 6u);
  EXPECT_EQ(log.files.front(), ToUtf8(target.widePath()) + "\\bin\\big.dll");
  const std::string dest = ToUtf8(target.widePath());
  EXPECT_EQ(log.folders, (std::vector<std::string>{dest, dest + "\\bin", dest + "\\doc", dest + "\\a",
                                                   dest + "\\a\\b", dest + "\\a\\b\\c"}));
  EXPECT_EQ(progress.begins, 1);
  EXPECT_EQ(progress.beginTotal, static_cast<int64_t>(pkg->total()));
  EXPECT_EQ(progress.items, 6);
  EXPECT_EQ(progress.names[1], ToUtf8(target.widePath()) + "\\readme.txt");
  EXPECT_EQ(progress.advanced, static_cast<int64_t>(pkg->total()));
  EXPECT_EQ(progress.filesDone, 1);
  EXPECT_NO_THROW(progress.finish());
}

TEST_F(FilesPackageTest, WorksWithTheInstallLog) {
  auto pkg = Pack({{"sub\\x.txt", 10, kTime}});
  Logger installLog;
  EXPECT_TRUE(ExtractLogged(*pkg, installLog));
  // Newest first: the file, then the folders it needed.
  ASSERT_EQ(installLog.recordCount(), 3u);
  EXPECT_EQ(installLog.records().front().kind, kLogFile);
  EXPECT_EQ(installLog.records().front().text, target.widePath() + u"\\sub\\x.txt");
  EXPECT_EQ(installLog.records().back().text, target.widePath());
}

TEST_F(FilesPackageTest, KeptFileIsDiscardedMidChunkAndTheNextStartsWithItsOwnBytes) {
  auto pkg = Pack({{"a.txt", 10, kTime}, {"b.txt", 20, kTime}, {"c.txt", 30, kTime}});
  const Bytes old = {'o', 'l', 'd'};
  test::WriteFileBytes(Installed("b.txt"), old);
  test::SetModificationTime(Installed("b.txt"), 1000);
  CountingProgress progress;
  EXPECT_TRUE(Extract(*pkg, never, &progress));
  EXPECT_EQ(test::ReadFileBytes(Installed("a.txt")), Content(0, 10));
  EXPECT_EQ(test::ReadFileBytes(Installed("b.txt")), old);
  EXPECT_EQ(test::ModificationTime(Installed("b.txt")), 1000);  // not even opened
  EXPECT_EQ(test::ReadFileBytes(Installed("c.txt")), Content(2, 30));
  EXPECT_EQ(log.files.size(), 2u);
  EXPECT_EQ(progress.items, 3);
  EXPECT_EQ(progress.advanced, 60);
}

TEST_F(FilesPackageTest, WhatAppearsInAFolderTheRunMadeStillGoesThroughTheDecision) {
  // Twice the same name, and a file that another program puts into the
  // folder just after it was made: neither is written over unasked.
  auto pkg = Pack({{"sub", -1, 0}, {"sub\\a.txt", 10, kTime}, {"sub\\a.txt", 20, kTime}, {"sub\\b.txt", 30, kTime}});
  log.onFolder = [&] {
    if (log.folders.back() == ToUtf8(target.widePath()) + "\\sub") test::WriteFileBytes(Installed("sub/b.txt"), {'o'});
  };
  EXPECT_TRUE(Extract(*pkg, never));
  EXPECT_EQ(test::ReadFileBytes(Installed("sub/a.txt")), Content(1, 10));
  EXPECT_EQ(test::ReadFileBytes(Installed("sub/b.txt")), Bytes{'o'});
  EXPECT_TRUE(log.kept.empty());

  std::filesystem::remove_all(Installed(""));
  log.kept.clear();
  EXPECT_TRUE(Extract(*pkg, always));
  EXPECT_EQ(test::ReadFileBytes(Installed("sub/a.txt")), Content(2, 20));
  EXPECT_EQ(test::ReadFileBytes(Installed("sub/b.txt")), Content(3, 30));
  const std::string sub = ToUtf8(target.widePath()) + "\\sub\\";
  EXPECT_EQ(log.kept, (std::vector<std::string>{sub + "a.txt", sub + "b.txt"})) << "kept before being replaced";
}

TEST_F(FilesPackageTest, EmptyFilesAreMadeWithoutAWrite) {
  // A block of 0 decoded bytes gets no write at all: a write of 0 bytes
  // would be an assertion failure of the sink.
  auto pkg = Pack({{"empty.txt", 0, kTime}, {"folder", -1, 0}, {"folder\\also.txt", 0, kTime + 5}});
  CountingProgress progress;
  EXPECT_TRUE(Extract(*pkg, always, &progress));
  EXPECT_TRUE(std::filesystem::exists(Installed("empty.txt")));
  EXPECT_EQ(std::filesystem::file_size(Installed("empty.txt")), 0u);
  EXPECT_EQ(test::ModificationTime(Installed("empty.txt")), kTime);
  EXPECT_EQ(test::ModificationTime(Installed("folder/also.txt")), kTime + 5);
  EXPECT_EQ(progress.items, 2);
  EXPECT_NO_THROW(progress.finish());
}

TEST_F(FilesPackageTest, CancelEndsFalseWithoutExceptionAndKeepsWhatWasWrittenLogged) {
  auto pkg = Pack({{"one.txt", 10, kTime}, {"sub", -1, 0}, {"sub\\two.txt", 10, kTime}});
  int folders = 0;
  log.onFolder = [&] {
    if (++folders == 2) pkg->abort();  // dest was the first, sub the second
  };
  bool result = true;
  EXPECT_NO_THROW(result = Extract(*pkg, always));
  EXPECT_FALSE(result);
  EXPECT_TRUE(std::filesystem::exists(Installed("one.txt")));
  EXPECT_FALSE(std::filesystem::exists(Installed("sub/two.txt")));

  // The flag is cleared by the next run.
  log.onFolder = nullptr;
  EXPECT_TRUE(Extract(*pkg, always));
  EXPECT_TRUE(std::filesystem::exists(Installed("sub/two.txt")));

  // A cancel while writing leaves the partial file, logged.
  auto big = Pack({{"big.bin", 3000000, kTime}, {"after.txt", 10, kTime}});
  log.files.clear();
  CountingProgress progress;
  progress.onAdvance = [&](int64_t) { big->abort(); };
  EXPECT_FALSE(Extract(*big, always, &progress));
  EXPECT_LT(std::filesystem::file_size(Installed("big.bin")), 3000000u);
  EXPECT_EQ(log.files, std::vector<std::string>{ToUtf8(target.widePath()) + "\\big.bin"});
  EXPECT_FALSE(std::filesystem::exists(Installed("after.txt")));
}

TEST_F(FilesPackageTest, AbortFromAnotherThreadStopsTheWorker) {
  auto pkg = Pack({{"a.bin", 2000000, kTime}, {"b.bin", 2000000, kTime}, {"c.bin", 10, kTime}});
  Event itemStarted(true, false), cancelled(true, false);
  CountingProgress progress;
  progress.onItem = [&](const std::string&) {
    if (progress.items == 2) {  // the second file: let the other thread cancel
      itemStarted.set();
      cancelled.wait();
    }
  };
  bool result = true;
  // The front end cancels from its own thread while the worker extracts.
  FunctionThread worker([&] { result = Extract(*pkg, always, &progress); });
  worker.start();
  itemStarted.wait();
  pkg->abort();
  cancelled.set();
  worker.join();
  EXPECT_FALSE(result);
  EXPECT_TRUE(pkg->aborted());
  EXPECT_EQ(test::ReadFileBytes(Installed("a.bin")), Content(0, 2000000));
  EXPECT_FALSE(std::filesystem::exists(Installed("c.bin")));
}

TEST_F(FilesPackageTest, ModeTwoOverAFullEarlierInstallWritesNothingAndCountsEverything) {
  std::vector<Item> items = {
      {"app", -1, 0}, {"app\\main.exe", 1500000, kTime}, {"app\\empty", 0, kTime}, {"notes.txt", 4000, kTime}};
  auto pkg = Pack(items);
  ASSERT_TRUE(Extract(*pkg, always));
  for (const char* name : {"app/main.exe", "notes.txt"}) {
    test::WriteFileBytes(Installed(name), {'m', 'i', 'n', 'e'});
    test::SetModificationTime(Installed(name), 77);
  }
  log.files.clear();
  CountingProgress progress;
  EXPECT_TRUE(Extract(*pkg, never, &progress));
  for (const char* name : {"app/main.exe", "notes.txt"}) {
    EXPECT_EQ(test::ReadFileBytes(Installed(name)), (Bytes{'m', 'i', 'n', 'e'})) << name;
    EXPECT_EQ(test::ModificationTime(Installed(name)), 77) << name;
  }
  EXPECT_TRUE(log.files.empty());
  EXPECT_EQ(progress.items, 3);
  EXPECT_EQ(progress.advanced, static_cast<int64_t>(pkg->total()));
  EXPECT_EQ(progress.doneCount(), progress.total());
  EXPECT_EQ(progress.filesDone, 1);
}

TEST_F(FilesPackageTest, NamesLeadingOutsideTheTargetAreRefused) {
  for (const char* name : {"..\\evil.txt", "a\\..\\..\\evil.txt", "\\evil.txt", "/evil.txt", "C:\\evil.txt",
                           "C:evil.txt", "x.txt:stream", "", "sub/../../evil.txt"}) {
    for (bool folder : {false, true}) {
      SCOPED_TRACE(std::string(name) + (folder ? " (folder)" : ""));
      auto pkg = Pack({{"ok.txt", 4, kTime}, {name, folder ? -1 : 8, kTime}, {"later.txt", 4, kTime}});
      EXPECT_EQ(ExtractFailure(*pkg), LoadMessage(1181));
      EXPECT_FALSE(std::filesystem::exists(scratch.native("evil.txt")));
      EXPECT_FALSE(std::filesystem::exists(Installed("later.txt")));
      std::filesystem::remove_all(Installed(""));
    }
  }
}

TEST_F(FilesPackageTest, BrokenBlocksAndFilesThatCannotBeMadeFailWithTheirMessage) {
  // The header promises fewer bytes than the table: an end without the last
  // file, and the partial file is logged for the rollback.
  auto shorter = Pack({{"a.txt", 100, kTime}, {"b.txt", 100, kTime}, {"c.txt", 0, kTime}}, 150);
  EXPECT_EQ(ExtractFailure(*shorter), LoadMessage(1202));
  EXPECT_EQ(log.files.size(), 2u);

  auto longer = Pack({{"a.txt", 100, kTime}}, -2, Bytes(50, 'x'));
  EXPECT_THROW(Extract(*longer, always), AssertionFailedError);

  auto damaged = Pack({{"a.txt", 100000, kTime}});
  Bytes setup = test::ReadFileBytes(scratch.native("setup.exe"));
  setup[777 + 13] = 0x80;  // the range coder's first byte must be 0
  test::WriteFileBytes(scratch.native("setup.exe"), setup);
  EXPECT_EQ(ExtractFailure(*damaged), LoadMessage(1202));

  // A folder is in the way; the decoder, chunks ahead and waiting for room,
  // ends with the writer.
  auto taken = Pack({{"taken", 6000000, kTime}});
  std::filesystem::create_directories(Installed("taken"));
  EXPECT_EQ(ExtractFailure(*taken), FormatMessageTextWide(1103, target.widePath() + u"\\taken"));
}

// The registry of a test: keys with their values, which a rollback restores
// or deletes.
class MemoryRegistry : public NoSystemUndo {
public:
  using Values = std::map<AnsiString, std::pair<uint32_t, std::vector<uint8_t>>>;
  bool restoreRegistryKey(const KeySnapshot& snapshot) override {
    Values& values = keys[snapshot.fullName];
    if (snapshot.wholeKey) values.clear();
    for (const SavedValue& v : snapshot.values) {
      if (v.existed) {
        values[v.name] = {v.type, v.data};
      } else {
        values.erase(v.name);
      }
    }
    return true;
  }
  bool undoRegistryKey(const XString& fullName) override {
    // A key with subkeys stays, as on every system.
    for (const auto& [name, values] : keys) {
      if (name.size() > fullName.size() && name.compare(0, fullName.size() + 1, fullName + u"\\") == 0) return false;
    }
    return keys.erase(fullName) == 1;
  }
  std::map<XString, Values> keys;
};

TEST_F(FilesPackageTest, RollBackPutsBackWhatWasReplacedAndRemovesWhatWasMade) {
  // The destination holds an earlier copy of two packaged files and a file
  // of its own; the registry a key with values that
  // the installation writes into, and PATH.
  auto pkg = Pack({{"a.txt", 5000, kTime}, {"sub", -1, 0}, {"sub\\b.txt", 70, kTime}, {"c.txt", 9, kTime}});
  test::WriteFileBytes(Installed("a.txt"), {'o', 'l', 'd', ' ', 'a'});
  test::SetModificationTime(Installed("a.txt"), 77);
  test::WriteFileBytes(Installed("c.txt"), {'o', 'l', 'd', ' ', 'c'});
  test::SetModificationTime(Installed("c.txt"), 99);
  test::WriteFileBytes(Installed("own.txt"), {'m', 'i', 'n', 'e'});
  const XString productKey = u"HKEY_CURRENT_USER\\Software\\Corv";
  const XString environment = u"HKEY_CURRENT_USER\\Environment";
  MemoryRegistry registry;
  registry.keys[productKey] = {{"InstallPath", {1, {'C', 0}}}, {"Extra", {4, {1, 0, 0, 0}}}};
  registry.keys[environment] = {{"PATH", {2, {'C', ':', '\\', 'x', 0}}}};
  const auto registryBefore = registry.keys;
  auto tree = [&] {
    std::map<std::string, std::pair<Bytes, int64_t>> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(scratch.native("dest"))) {
      std::string rel = e.path().lexically_relative(scratch.native("dest")).string();
      if (e.is_directory()) {
        files[rel] = {Bytes(), -1};
      } else {
        files[rel] = {test::ReadFileBytes(e.path()), test::ModificationTime(e.path())};
      }
    }
    return files;
  };
  const auto before = tree();

  Logger installLog(XString(u"Corv"));
  ChangeJournal journal(Directory(scratch.path(u"temp\\restore")));
  installLog.setJournal(&journal);
  ASSERT_TRUE(ExtractLogged(*pkg, installLog));
  EXPECT_EQ(test::ReadFileBytes(Installed("a.txt")), Content(0, 5000));
  // The installation's changes of the registry: a key it made, values in a
  // key that was there (logged too, as the product key always is), PATH.
  installLog.KeepKey(KeySnapshot{productKey, true,
                              {{"InstallPath", true, 1, {'C', 0}}, {"Extra", true, 4, {1, 0, 0, 0}}}});
  installLog.LogRegistryKey(productKey);
  registry.keys[productKey]["InstallPath"] = {1, {'D', 0}};
  registry.keys[productKey + u"\\Made"] = {{"v", {1, {'x', 0}}}};
  installLog.LogRegistryKey(productKey + u"\\Made");
  installLog.KeepPathEntry(u"D:\\Bin", KeySnapshot{environment, false, {{"PATH", true, 2, {'C', ':', '\\', 'x', 0}}}});
  registry.keys[environment]["PATH"] = {2, {'D', 0}};
  installLog.LogPathEntry(u"D:\\Bin");

  EXPECT_EQ(installLog.Undo(registry), std::nullopt);
  journal.Close();
  EXPECT_EQ(tree(), before);
  EXPECT_EQ(registry.keys, registryBefore);
  EXPECT_FALSE(scratch.exists("temp/restore"));
  EXPECT_EQ(installLog.recordCount(), 0u);
}

TEST_F(FilesPackageTest, AFileThatCannotBeKeptFailsBeforeItIsReplacedAndSuccessDropsTheCopies) {
  auto pkg = Pack({{"a.txt", 10, kTime}, {"b.txt", 10, kTime}});
  test::WriteFileBytes(Installed("b.txt"), {'o', 'l', 'd'});
  log.keepFails = true;
  EXPECT_EQ(ExtractFailure(*pkg), FormatMessageTextWide(1103, target.widePath() + u"\\b.txt"));
  EXPECT_EQ(test::ReadFileBytes(Installed("b.txt")), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(log.kept, std::vector<std::string>{ToUtf8(target.widePath()) + "\\b.txt"});

  Logger installLog(XString(u"Corv"));
  ChangeJournal journal(Directory(scratch.path(u"temp\\restore")));
  installLog.setJournal(&journal);
  ASSERT_TRUE(ExtractLogged(*pkg, installLog));
  EXPECT_TRUE(scratch.exists("temp/restore"));
  journal.Discard();
  EXPECT_FALSE(scratch.exists("temp/restore"));
  EXPECT_EQ(test::ReadFileBytes(Installed("b.txt")), Content(1, 10));
}

// A kept file that cannot be put back (a folder now stands in its place)
// stays in the journal's folder: neither the rollback nor the clean-up
// after it deletes it.
TEST_F(FilesPackageTest, AKeptFileThatCannotBePutBackIsNeverDeleted) {
  scratch.writeFile("dest/a.txt", "mine");
  Logger installLog(XString(u"Corv"));
  ChangeJournal journal(Directory(scratch.path(u"temp\\restore")));
  installLog.setJournal(&journal);
  ASSERT_EQ(installLog.KeepFile(File(scratch.path(u"dest\\a.txt"))), 0);
  scratch.writeFile("dest/a.txt/in.txt", "in the way");
  installLog.Log(kLogFile, scratch.path(u"dest\\a.txt"));
  EXPECT_NE(installLog.Undo(), std::nullopt);
  journal.Close();
  journal.Discard();
  EXPECT_EQ(scratch.readFile("temp/restore/saved0"), "mine");
}

// A killed run leaves its journal. The next run puts each kept file back
// over what the run left and deletes what it made; a file whose copy was
// never made stays as it is.
TEST_F(FilesPackageTest, AnInterruptedRunIsUndoneFromItsJournal) {
  scratch.writeFile("dest/kept.txt", "new");
  scratch.writeFile("dest/made.txt", "new");
  scratch.writeFile("dest/uncopied.txt", "mine");
  scratch.writeFile("temp/InstTemp1/restore/saved0", "old");
  auto field = [&](const char16_t* name) {
    std::string out = "=";
    for (char c : ToUtf8(scratch.path(name))) out += c == ' ' ? std::string("%20") : std::string(1, c);
    return out;
  };
  scratch.writeFile("temp/InstTemp1/restore/journal",
                    "corvantis journal 1\nsaved " + field(u"dest\\kept.txt") + " =saved0\nlog 0 " +
                        field(u"dest\\kept.txt") + "\nlog 0 " + field(u"dest\\made.txt") + "\nsaved " +
                        field(u"dest\\uncopied.txt") + " =saved1\nlog 0 " + field(u"dest\\uncopied.txt") + "\n");
  NoSystemUndo system;
  EXPECT_EQ(ChangeJournal::UndoInterrupted(Directory(scratch.path(u"temp")), system), 1);
  EXPECT_EQ(scratch.readFile("dest/kept.txt"), "old");
  EXPECT_FALSE(scratch.exists("dest/made.txt"));
  EXPECT_EQ(scratch.readFile("dest/uncopied.txt"), "mine");
  EXPECT_FALSE(scratch.exists("temp/InstTemp1"));
}

#ifndef _WIN32
// Links planted in the target: a folder link below it, a file link, a
// dangling link and the target folder itself. Each stops the extraction
// with 1106 naming the file, before anything reaches the other side.
TEST_F(FilesPackageTest, NeverWritesThroughALinkInTheTarget) {
  namespace fs = std::filesystem;
  auto pkg = Pack({{"a.txt", 10, kTime}, {"bin", -1, 0}, {"bin\\tool.exe", 20, kTime}});
  scratch.writeFile("outside/keep.txt", "keep");
  auto refusedFor = [&](const std::string& name) {
    const std::string message = ToUtf8(ExtractFailure(*pkg));
    EXPECT_EQ(message.rfind("Unable to write file " + ToUtf8(target.widePath()) + "\\" + name +
                                ": a symbolic link or junction stands in its path", 0),
              0u)
        << message;
    std::vector<std::string> outside;
    for (const auto& entry : fs::directory_iterator(scratch.native("outside"))) {
      outside.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(outside, std::vector<std::string>{"keep.txt"}) << "through " << name;
    EXPECT_EQ(scratch.readFile("outside/keep.txt"), "keep");
  };

  fs::create_directories(Installed(""));
  fs::create_directory_symlink(scratch.native("outside"), Installed("bin"));
  refusedFor("bin");
  EXPECT_EQ(test::ReadFileBytes(Installed("a.txt")), Content(0, 10)) << "written before the link, and logged";
  EXPECT_EQ(log.files.size(), 1u);

  fs::remove(Installed("bin"));
  fs::remove(Installed("a.txt"));
  fs::create_symlink(scratch.native("outside/keep.txt"), Installed("a.txt"));
  refusedFor("a.txt");

  fs::remove(Installed("a.txt"));
  fs::create_symlink(scratch.native("outside/new.txt"), Installed("a.txt"));
  refusedFor("a.txt");

  fs::remove_all(Installed(""));
  fs::create_directory_symlink(scratch.native("outside"), scratch.native("dest"));
  refusedFor("a.txt");

  // A link put into a folder just after the run made it.
  fs::remove(scratch.native("dest"));
  log.onFolder = [&] {
    if (fs::exists(Installed("bin"))) fs::create_symlink(scratch.native("outside/new.txt"), Installed("bin/tool.exe"));
  };
  refusedFor("bin\\tool.exe");
}
#endif

TEST_F(FilesPackageTest, EveryFlippedBitOfARecordedBlockFailsWith1202) {
  // Without a checksum some damage decodes into other bytes unnoticed; with
  // one, every flipped bit of the compressed data that changes a decoded
  // byte is found, also in the bytes of a file the overwrite policy keeps.
  // (A flip in the last bytes of the range coder may change nothing.)
  const std::vector<Item> items = {{"kept.txt", 40, kTime}, {"a.txt", 200, kTime}};
  Pack(items);
  const Bytes good = test::ReadFileBytes(scratch.native("setup.exe"));
  test::WriteFileBytes(Installed("kept.txt"), Bytes(3, 'k'));
  size_t unnoticed = 0;
  for (size_t at = 777 + 13; at < good.size() - 99; ++at) {
    for (bool recorded : {false, true}) {
      auto pkg = Pack(items, -2, Bytes(), recorded);
      Bytes damaged = good;
      damaged[at] ^= static_cast<uint8_t>(1u << (at % 8));
      test::WriteFileBytes(scratch.native("setup.exe"), damaged);
      std::filesystem::remove(Installed("a.txt"));
      try {
        Extract(*pkg, never);
        if (test::ReadFileBytes(Installed("a.txt")) == Content(1, 200)) continue;
        EXPECT_FALSE(recorded) << "damage at " << at << " passed";
        unnoticed += 1;
      } catch (const FatalError& e) {
        EXPECT_EQ(e.message(), LoadMessage(1202)) << "damage at " << at;
      }
    }
  }
  EXPECT_GT(unnoticed, 0u);
  EXPECT_EQ(test::ReadFileBytes(Installed("kept.txt")), Bytes(3, 'k'));
}

}  // namespace
}  // namespace corv
