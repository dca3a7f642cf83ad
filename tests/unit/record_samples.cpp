#include "record_samples.h"

namespace corv::test {

InstallRecord FullRecord() {
  InstallRecord r;
  r.kind = kPackageUpdate;
  r.reserved5 = 4;
  r.reserved6 = 0;
  r.overwriteMode = 3;
  r.destinationBase = kBasePath;
  r.noJre = 0;
  r.bindExecutables = true;
  r.language = 5;
  r.warnPreviousVersion = true;
  r.destinationFixed = true;

  r.auxiliaryBlock.offset = 0x1000;
  r.auxiliaryBlock.length = 0x200;
  r.auxiliaryBlock.decodedSize = 30;
  r.auxiliaryBlock.entries = {{u"xbind.script", 1000, 10}, {u"xinstres.dll", 1001, 20}};
  r.mainBlock.offset = 0x123456789ull;
  r.mainBlock.length = 0x100000000ull;
  r.mainBlock.decodedSize = 0x200000005ull;
  r.mainBlock.entries = {{u"bin", 0, -1},
                         {u"bin\\app.exe", 1700000000, 0x200000000ll},
                         {u"bin\\empty.txt", 1700000001, 0},
                         {u"docs\\\u00e9t\u00e9.txt", -2, 5}};

  r.packageName = u"Example Suite";
  r.productName = u"Example";
  r.primaryName = u"Example Base";
  r.productKey = u"Vendor\\Example";
  r.licenseText = u"Terms\r\nMore terms";
  r.wizardBitmap = u"wizard.bmp";
  r.uninstallerName = u"bin\\uninstall.exe";
  r.hookLibrary = u"hooks.dll";
  r.recordedFile = u"bin\\app.exe";
  r.installRunProgram = u"bin\\setup.exe";
  r.installRunArguments = u"/quiet $(Root)";
  r.afterRunProgram = u"bin\\app.exe";
  r.afterRunArguments = u"";
  r.defaultDestination = u"C:\\Example";
  r.defaultProgramFolder = u"Example";
  r.primaryJreFile = u"bin\\app.exe";
  r.pathEntry = u"bin";

  r.jre.version = u"1.4.2_05";
  r.jre.value = 0xDEADBEEF;
  r.jre.names = {u"Java 2 Runtime", u""};
  r.jre.groups = {{1, {{u"bin\\java.exe", 24576}, {u"lib\\rt.jar", 25000000}, {u"bin\\old.dll", -1}}},
                  {0, {}}};

  r.shortcuts = {
      {kLocationProgramFolder, u"Example", u"bin\\app.exe", 1, u"bin", u"bin\\app.exe", u"-root \"$(Root)\""},
      {kLocationDesktop, u"Example", std::nullopt, -3, u"", u"bin\\app.exe", u""},
      {kLocationStartMenu, u"Tools\\Example Tool", u"bin\\app.exe", 0, u"bin", u"bin\\tool.exe", u""},
      {kLocationStartup, u"Example Agent", std::nullopt, 0, u"bin", u"bin\\agent.exe", u"/background"},
  };
  r.associations = {
      {u"exa", u"Example documents", u"Example.Document", u"bin\\app.exe", u"\"%1\"", true},
      {u"exb", u"Example backups", u"Example.Backup", u"bin\\app.exe", u"", false},
  };
  r.services = {
      {u"bin\\svc.exe", u"Example Service", u"Keeps examples", kStartAutomatic, kAccountSystem, true,
       {u"Tcpip", u"EventLog"}},
      {u"bin\\svc2.exe", u"Example Helper", u"Helps", kStartDisabled, kAccountUser, false, {}},
  };
  r.primaryMarkerFiles = {u"bin\\app.exe", u"base.cfg"};
  return r;
}

InstallRecord MinimalRecord() {
  InstallRecord r;
  r.packageName = u"Hello";
  r.productKey = u"Hello";
  r.defaultDestination = u"Hello";
  r.mainBlock.decodedSize = 5;
  r.mainBlock.entries = {{u"hello.exe", 1600000000, 5}};
  return r;
}

uint32_t GetU32(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint32_t>(bytes.at(at)) | static_cast<uint32_t>(bytes.at(at + 1)) << 8 |
         static_cast<uint32_t>(bytes.at(at + 2)) << 16 | static_cast<uint32_t>(bytes.at(at + 3)) << 24;
}

void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace corv::test
