#include "kernel/installrecord.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "kernel/recordchecks.h"
#include "kernel/logger.h"
#include "record_samples.h"
#include "unpacker/decompressor.h"
#include "recordwriter.h"
#include "scratch.h"
#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {
namespace {

using pack::WriteInstallRecord;
using test::FullRecord;
using test::GetU32;
using test::MinimalRecord;
using test::PutU32;

InstallRecord Read(const std::vector<uint8_t>& bytes) { return ReadInstallRecord(bytes.data(), bytes.size()); }

// The record must be refused as a corrupted package.
void ExpectRefused(const std::vector<uint8_t>& bytes, const std::string& what) {
  try {
    Read(bytes);
    ADD_FAILURE() << what << ": accepted";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.message(), LoadMessage(1181)) << what;
  }
}

// `bytes` with the 32-bit words at the given offsets set.
std::vector<uint8_t> Poked(std::vector<uint8_t> bytes, std::initializer_list<std::pair<size_t, uint32_t>> words) {
  for (const auto& [at, value] : words) PutU32(bytes, at, value);
  return bytes;
}

// Offsets of the string fields of the header, and of its tables.
const size_t kHeaderStrings[] = {96, 100, 104, 108, 112, 116, 120, 124, 128, 132,
                                 136, 140, 144, 148, 152, 156, 160, 164};
const size_t kHeaderTables[] = {172, 180, 188, 196, 204, 212};

TEST(InstallRecord, EveryFieldReadsBackAsWrittenAndAbsentAndEmptyStringsStayApart) {
  InstallRecord install = FullRecord();
  install.kind = kPackageInstallation;
  install.destinationBase = kBaseSystemDrive;
  for (const InstallRecord& r : {FullRecord(), MinimalRecord(), install}) {
    std::vector<uint8_t> bytes = WriteInstallRecord(r);
    EXPECT_EQ(GetU32(bytes, 0), kPackageMagic);
    EXPECT_EQ(Read(bytes), r);
  }
  InstallRecord r = MinimalRecord();
  r.productName = u"";
  r.licenseText = std::nullopt;
  r.installRunProgram = u"run.exe";
  r.installRunArguments = u"";
  std::vector<uint8_t> bytes = WriteInstallRecord(r);
  EXPECT_NE(GetU32(bytes, 100), 0u);
  EXPECT_EQ(GetU32(bytes, 112), 0u);
  InstallRecord back = Read(bytes);
  EXPECT_EQ(back.productName, XString());
  EXPECT_FALSE(back.licenseText.has_value());
  EXPECT_EQ(back.installRunArguments, XString());
}

TEST(InstallRecord, LayoutFollowsTheFormat) {
  std::vector<uint8_t> bytes = WriteInstallRecord(FullRecord());
  EXPECT_EQ(bytes[5], 4);
  EXPECT_EQ(bytes[6], 0);
  EXPECT_EQ(bytes[9], 0);
  // The record's CRC-32, made with its own four bytes as 0.
  std::vector<uint8_t> zeroed = bytes;
  PutU32(zeroed, 220, 0);
  EXPECT_EQ(GetU32(bytes, 220), Crc32(zeroed.data(), zeroed.size()));
  EXPECT_TRUE(RecordChecksumMatches(bytes.data(), bytes.size()));
  // Strings and tables lie behind the header, at even offsets.
  for (size_t field : kHeaderStrings) {
    uint32_t at = GetU32(bytes, field);
    if (at == 0) continue;
    EXPECT_GE(at, kRecordHeaderSize) << field;
    EXPECT_EQ(at % 2, 0u) << field;
  }
  // One copy of a string used many times: "bin\app.exe" is named nine times.
  const std::string pattern = Utf16le(u"bin\\app.exe") + std::string(2, '\0');
  const std::string text(bytes.begin(), bytes.end());
  size_t copies = 0;
  for (size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + 1)) ++copies;
  EXPECT_EQ(copies, 1u);
  // The same values give the same bytes.
  EXPECT_EQ(WriteInstallRecord(FullRecord()), bytes);
}

TEST(InstallRecord, EmptyTablesPointAtTheEndAndAreReadFromAnywhere) {
  InstallRecord r = MinimalRecord();
  r.auxiliaryBlock.entries.clear();
  std::vector<uint8_t> bytes = WriteInstallRecord(r);
  for (size_t table : kHeaderTables) {
    EXPECT_EQ(GetU32(bytes, table), 0u) << table;
    EXPECT_EQ(GetU32(bytes, table + 4), bytes.size()) << table;
    PutU32(bytes, table + 4, 0xFFFFFFF0u);
  }
  EXPECT_EQ(GetU32(bytes, 16 + 32), bytes.size());
  PutU32(bytes, 16 + 32, 0xFFFFFFFFu);
  InstallRecord back = Read(bytes);
  EXPECT_TRUE(back.auxiliaryBlock.entries.empty());
  EXPECT_TRUE(back.shortcuts.empty());
  EXPECT_TRUE(back.associations.empty());
  EXPECT_TRUE(back.services.empty());
  EXPECT_TRUE(back.primaryMarkerFiles.empty());
}

TEST(InstallRecord, JreFieldsAreIgnoredWithoutARequirement) {
  InstallRecord r = FullRecord();
  r.noJre = 7;
  std::vector<uint8_t> bytes = WriteInstallRecord(r);
  // Garbage in 164-187 is never looked at.
  for (size_t at = 164; at < 188; at += 4) PutU32(bytes, at, 0xFFFFFFFFu);
  InstallRecord back = Read(bytes);
  EXPECT_EQ(back.noJre, 7);
  EXPECT_EQ(back.jre, RecordJreRequirement());
  EXPECT_EQ(back, r);
}

TEST(InstallRecord, RefusesWrongMagicAndEveryProperPrefix) {
  std::vector<uint8_t> bytes = WriteInstallRecord(FullRecord());
  std::vector<uint8_t> bad = bytes;
  bad[3] = '2';
  ExpectRefused(bad, "magic");
  // The string pool comes last, so every cut loses a string or its NUL;
  // shorter ones lose the header or the magic.
  for (size_t n = 0; n < bytes.size(); ++n) {
    ExpectRefused(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(n)),
                  "prefix of " + std::to_string(n));
  }
}

TEST(InstallRecord, RefusesOffsetsAndCountsThatLeaveTheRecord) {
  const std::vector<uint8_t> good = WriteInstallRecord(FullRecord());
  const uint32_t size = static_cast<uint32_t>(good.size());
  for (size_t field : kHeaderStrings) {
    ExpectRefused(Poked(good, {{field, size}}), "string field " + std::to_string(field));
    ExpectRefused(Poked(good, {{field, 0xFFFFFFFFu}}), "string field " + std::to_string(field));
  }
  // A string that begins in the last byte has no room for its NUL; one whose
  // NUL would be the record's last byte and the one after it neither.
  ExpectRefused(Poked(good, {{96, size - 1}}), "string in the last byte");
  std::vector<uint8_t> bytes = good;
  bytes.back() = 'x';
  bytes.push_back(0);
  ExpectRefused(bytes, "NUL cut in half");
  for (size_t table : kHeaderTables) {
    // A count whose count * size overflows 32 bits, and one entry beyond the end.
    ExpectRefused(Poked(good, {{table, 0xFFFFFFFFu}}), "count of table " + std::to_string(table));
    ExpectRefused(Poked(good, {{table, 1}, {table + 4, size - 3}}), "offset of table " + std::to_string(table));
  }
  for (size_t block : {16u, 56u}) {
    ExpectRefused(Poked(good, {{block, GetU32(good, block) + 0x10000000u}}),
                  "entry count of block " + std::to_string(block));
  }
  // Nested tables: a service's dependencies and a JRE group's checks.
  ExpectRefused(Poked(good, {{GetU32(good, 208) + 20, size}}), "dependencies");
  ExpectRefused(Poked(good, {{GetU32(good, 184) + 4, 0x7FFFFFFFu}}), "checks");
}

TEST(InstallRecord, RefusesNamesThatLeaveTheirFolder) {
  auto withMain = [](const XString& name) {
    InstallRecord r = MinimalRecord();
    r.mainBlock.entries.push_back({name, 0, -1});
    return WriteInstallRecord(r);
  };
  for (const XString& name : {XString(u"..\\evil.exe"), XString(u"bin\\..\\..\\evil.exe"), XString(u"\\evil.exe"),
                              XString(u"/etc/evil"), XString(u"C:\\evil.exe"), XString(u"C:evil.exe"),
                              XString(u"\\\\server\\share\\x"), XString(u"a/../../x"), XString(u"bin\\.. \\x"),
                              XString(u"bin\\NUL"), XString(u"con.txt"), XString(u"x:stream")}) {
    ExpectRefused(withMain(name), "main entry " + ToUtf8(name));
  }
  // Every other name that becomes a path, given one that climbs out once
  // trimmed of blanks and tabs, as every path is before it is used.
  const XString hostile = u"\t..\\evil";
  const std::vector<std::pair<const char*, std::function<void(InstallRecord&)>>> edits = {
      {"auxiliary entry", [&](InstallRecord& r) { r.auxiliaryBlock.entries = {{hostile, 0, 0}}; }},
      {"shortcut name",
       [&](InstallRecord& r) { r.shortcuts = {{kLocationDesktop, hostile, std::nullopt, 0, u"", u"a.exe", u""}}; }},
      {"shortcut icon",
       [&](InstallRecord& r) { r.shortcuts = {{kLocationDesktop, u"x", hostile, 0, u"", u"a.exe", u""}}; }},
      {"shortcut working folder",
       [&](InstallRecord& r) { r.shortcuts = {{kLocationDesktop, u"x", std::nullopt, 0, hostile, u"a.exe", u""}}; }},
      {"shortcut target",
       [&](InstallRecord& r) { r.shortcuts = {{kLocationDesktop, u"x", std::nullopt, 0, u"", hostile, u""}}; }},
      {"association program",
       [&](InstallRecord& r) { r.associations = {{u"ext", u"Label", u"Type", hostile, u"", true}}; }},
      {"service executable",
       [&](InstallRecord& r) {
         r.services.resize(1);
         r.services[0].program = hostile;
       }},
      {"uninstaller", [&](InstallRecord& r) { r.uninstallerName = hostile; }},
      {"hook library", [&](InstallRecord& r) { r.hookLibrary = hostile; }},
      {"wizard bitmap", [&](InstallRecord& r) { r.wizardBitmap = hostile; }},
      {"recorded file", [&](InstallRecord& r) { r.recordedFile = hostile; }},
      {"install-run program", [&](InstallRecord& r) { r.installRunProgram = hostile; r.installRunArguments = u""; }},
      {"after-run program", [&](InstallRecord& r) { r.afterRunProgram = hostile; r.afterRunArguments = u""; }},
      {"program folder", [&](InstallRecord& r) { r.defaultProgramFolder = hostile; }},
      {"primary JRE file", [&](InstallRecord& r) { r.primaryJreFile = hostile; }},
      {"PATH entry", [&](InstallRecord& r) { r.pathEntry = hostile; }},
      {"primary marker", [&](InstallRecord& r) { r.primaryMarkerFiles = {u"ok.cfg", hostile}; }},
      {"JRE check",
       [&](InstallRecord& r) {
         r.noJre = 0;
         r.jre.version = u"1.4";
         r.jre.groups = {{0, {{hostile, 5}}}};
       }},
  };
  for (const auto& [what, edit] : edits) {
    InstallRecord r = MinimalRecord();
    edit(r);
    ExpectRefused(WriteInstallRecord(r), what);
  }
  // The default destination is a path of its own and may be absolute.
  InstallRecord r = MinimalRecord();
  r.defaultDestination = u"C:\\Program Files\\Hello";
  EXPECT_EQ(Read(WriteInstallRecord(r)), r);
}

TEST(InstallRecord, ContainedRelativePaths) {
  for (const XString& ok : {XString(u"a.exe"), XString(u"bin\\a.exe"), XString(u"bin/a.exe"), XString(u"..a"),
                            XString(u"a..b"), XString(u".hidden"), XString(u"x.."), XString(u"CONFIG.SYS"),
                            XString(u"COM10"), XString(u"LPT\u00b4"), XString(u"CLOCK"), XString(u"nullable"),
                            XString(u"bin\\"), XString(u""), XString(u"\u00e9t\u00e9\\\u65e5\u672c"),
                            XString(u" \tbin\\a.exe\t "), XString(u"\uff0e\uff0e\uff3cx")}) {
    EXPECT_TRUE(IsContainedRelativePath(ok)) << ToUtf8(ok);
  }
  for (const XString& bad : {XString(u".."), XString(u"."), XString(u"a\\."), XString(u"a\\..\\b"), XString(u"..."),
                             XString(u". ."), XString(u"\\"), XString(u"/a"), XString(u"D:"), XString(u"a\\b:c"),
                             XString(u"PRN"), XString(u"aux.h"), XString(u"Com1"), XString(u"lpt9.txt"),
                             XString(u"CON .txt"), XString(u"conout$"), XString(u"x\\nul\\y"),
                             XString(u"com0"), XString(u"LPT0.log"), XString(u"COM\u00b9"), XString(u"lpt\u00b3.txt"),
                             XString(u"clock$"), XString(u"\t..\\x"), XString(u"a\\.\t\\b"), XString(u" \\x"),
                             XString(u"\t\\x"), XString(u"a?b"), XString(u"*.exe"), XString(u"a<b"), XString(u"a>b"),
                             XString(u"a|b"), XString(u"say\"hi\""), XString(u"a\tb"), XString(u"a\nb\\c"),
                             XString(u"a\\..  \t")}) {
    EXPECT_FALSE(IsContainedRelativePath(bad)) << ToUtf8(bad);
  }
}

TEST(InstallRecord, RefusesRecordsThatWouldUnfoldBeyondAnyRealPackage) {
  // 20000 associations whose five strings all name one 1000-character text:
  // a record of half a megabyte that would unfold into 200 MB of strings.
  InstallRecord r = MinimalRecord();
  XString big(1000, u'x');
  r.associations.assign(20000, AssociationEntry{big, big, big, big, big, true});
  ExpectRefused(WriteInstallRecord(r), "shared strings");
  // Sharing as real packages do is fine.
  r.associations.assign(50, AssociationEntry{u"ext", big, big, u"a.exe", u"", true});
  EXPECT_EQ(Read(WriteInstallRecord(r)), r);

  // 3000 services that all name the 5000 primary markers as their
  // dependencies: a record of 90 KB that would unfold into 15 million
  // strings.
  r = MinimalRecord();
  r.services.assign(3000, ServiceEntry{u"svc.exe", u"Svc", u"Svc", ServiceEntry::kAutomatic, ServiceEntry::kLocalSystem, false, {}});
  r.primaryMarkerFiles.assign(5000, u"x");
  std::vector<uint8_t> bytes = WriteInstallRecord(r);
  EXPECT_EQ(Read(bytes), r);
  const uint32_t services = GetU32(bytes, 208);
  for (uint32_t i = 0; i < 3000; ++i) {
    PutU32(bytes, services + i * kRecordServiceSize + 16, 5000);
    PutU32(bytes, services + i * kRecordServiceSize + 20, GetU32(bytes, 216));
  }
  ExpectRefused(bytes, "overlapping dependency tables");
}

TEST(InstallRecord, RefusesLineBreaksInTextsThatInstallLogKeeps) {
  // A line break would end the log's line and start a record of the
  // package's choosing, such as a file that the uninstaller deletes.
  const XString injected = u"x\nfile C:\\boot.ini";
  const std::vector<std::pair<std::string, std::function<void(InstallRecord&, const XString&)>>> fields = {
      {"package name", [](InstallRecord& r, const XString& t) { r.packageName = t; }},
      {"product name", [](InstallRecord& r, const XString& t) { r.productName = t; }},
      {"product key", [](InstallRecord& r, const XString& t) { r.productKey = t; }},
      {"recorded file", [](InstallRecord& r, const XString& t) { r.recordedFile = t; }},
      {"destination", [](InstallRecord& r, const XString& t) { r.defaultDestination = t; }},
      {"program folder", [](InstallRecord& r, const XString& t) { r.defaultProgramFolder = t; }},
      {"path entry", [](InstallRecord& r, const XString& t) { r.pathEntry = t; }},
      {"uninstaller", [](InstallRecord& r, const XString& t) { r.uninstallerName = t; }},
      {"file", [](InstallRecord& r, const XString& t) { r.mainBlock.entries.push_back({t, 0, -1}); }},
      {"shortcut", [](InstallRecord& r, const XString& t) {
         r.shortcuts.push_back({kLocationDesktop, t, std::nullopt, 0, u"", u"a.exe", u""});
       }},
      {"extension", [](InstallRecord& r, const XString& t) {
         r.associations.push_back({t, u"Label", u"Type", u"a.exe", u"", true});
       }},
      {"file type", [](InstallRecord& r, const XString& t) {
         r.associations.push_back({u"ext", u"Label", t, u"a.exe", u"", true});
       }},
      {"service", [](InstallRecord& r, const XString& t) {
         r.services.push_back({u"svc.exe", u"Svc", t, ServiceEntry::kAutomatic, ServiceEntry::kLocalSystem, false, {}});
       }},
  };
  for (const auto& [what, set] : fields) {
    for (const XString& text : {injected, XString(u"a\rb"), XString(u"\n")}) {
      InstallRecord r = MinimalRecord();
      set(r, text);
      ExpectRefused(WriteInstallRecord(r), what);
    }
  }
  // Texts that never reach the log may hold them.
  InstallRecord r = MinimalRecord();
  r.licenseText = u"line one\r\nline two";
  r.installRunProgram = u"a.exe";
  r.installRunArguments = u"/note \"a\nb\"";
  EXPECT_EQ(Read(WriteInstallRecord(r)), r);
}

TEST(InstallRecord, RefusesTextsLongerThanTheInstallerCanWrite) {
  // At its limit each text reads back and install.log takes the lines the
  // installer makes of it; one character more and the record is refused.
  using Set = std::function<void(InstallRecord&, size_t)>;
  const std::tuple<const char*, bool, Set> cases[] = {
      {"package name", true, [](InstallRecord& r, size_t n) { r.packageName = XString(510 + n, u'n'); }},
      {"product key", true,
       [](InstallRecord& r, size_t n) { r.productKey = XString(215, u'k') + u"\\" + XString(254 + n, u'k'); }},
      {"product key name", false, [](InstallRecord& r, size_t n) { r.productKey = XString(255 + n, u'k'); }},
      {"file type", true,
       [](InstallRecord& r, size_t n) {
         r.packageName = XString(205, u'n') + u"\\" + XString(199, u'n');
         r.associations = {{XString(55 + n, u'e'), u"L", u"T", u"a.exe", u"", true}};
       }},
  };
  ScratchFolder dir;
  for (const auto& [what, logLine, set] : cases) {
    for (size_t over : {0, 1}) {
      InstallRecord r = MinimalRecord();
      set(r, over);
      Logger log(r.packageName);
      log.LogRegistryKey(u"HKEY_LOCAL_MACHINE\\Software\\" + *r.productKey);
      for (const AssociationEntry& a : r.associations) {
        log.LogRegistryKey(u"HKEY_CLASSES_ROOT\\" + *r.packageName + u"." + a.extension + u"\\Shell\\open\\command");
      }
      File file(dir.path(u"install.log"));
      if (logLine && over) {
        EXPECT_THROW(log.Write(file), FatalError) << what;
      } else {
        EXPECT_NO_THROW(log.Write(file)) << what;
      }
      if (over) {
        ExpectRefused(WriteInstallRecord(r), what);
      } else {
        EXPECT_EQ(Read(WriteInstallRecord(r)), r) << what;
      }
    }
  }
}

}  // namespace
}  // namespace corv
