#include "infrastructure/servicecontrol.h"

#include <gtest/gtest.h>

#include "util/win32/corvwindows.h"

#include <string>
#include <vector>

#include "infrastructure/integrator.h"
#include "kernel/logger.h"
#include "util/exceptions.h"
#include "util/messages.h"
#include "util/win32/handles.h"

namespace corv {
namespace {

struct ServiceConfig {
  bool present = false;
  DWORD type = 0;
  DWORD start = 0;
  DWORD errorControl = 0;
  std::string binaryPath;
  std::string account;
  std::string displayName;
  std::u16string description;
};

ServiceConfig QueryConfig(const char* name) {
  ServiceConfig out;
  win32::UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return out;
  win32::UniqueServiceHandle service(OpenServiceA(manager.get(), name, SERVICE_QUERY_CONFIG));
  if (!service) return out;
  DWORD needed = 0;
  QueryServiceConfigA(service.get(), nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed + 16);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (!QueryServiceConfigA(service.get(), config, static_cast<DWORD>(buffer.size()), &needed)) return out;
  out.present = true;
  out.type = config->dwServiceType;
  out.start = config->dwStartType;
  out.errorControl = config->dwErrorControl;
  out.binaryPath = config->lpBinaryPathName ? config->lpBinaryPathName : "";
  out.account = config->lpServiceStartName ? config->lpServiceStartName : "";
  out.displayName = config->lpDisplayName ? config->lpDisplayName : "";

  QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed);
  std::vector<BYTE> described(needed + 16);
  auto* description = reinterpret_cast<SERVICE_DESCRIPTIONW*>(described.data());
  if (QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, described.data(),
                           static_cast<DWORD>(described.size()), &needed) &&
      description->lpDescription) {
    out.description = reinterpret_cast<const char16_t*>(description->lpDescription);
  }
  return out;
}

// Services created by a test are deleted in teardown, whatever happened.
class NTServicesTest : public ::testing::Test {
protected:
  void SetUp() override { SelectLanguage(kLanguageEnglish); }
  void TearDown() override {
    win32::UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    for (const char* name : {"CorvTestService", "CorvTestService2", "CorvTestUser"}) {
      win32::UniqueServiceHandle service(OpenServiceA(manager.get(), name, SERVICE_ALL_ACCESS));
      if (service) DeleteService(service.get());
    }
    ResetLanguage();
  }

  // Names the executables by a table of file names.
  ServiceNameReader namer(std::vector<std::pair<XString, OptString>> names) {
    return [this, names](const XString& path) -> OptString {
      asked.push_back(path);
      for (const auto& [file, name] : names) {
        if (path.size() >= file.size() && path.substr(path.size() - file.size()) == file) return name;
      }
      return std::nullopt;
    };
  }

  template <typename Call>
  XString failure(Call call) {
    try {
      call();
    } catch (const FatalError& e) {
      return e.message();
    }
    return u"<none>";
  }

  ServiceEntry entry(const XString& program) {
    ServiceEntry e;
    e.program = program;
    e.displayName = u"Corv Test Service";
    e.description = u"Serves the Corvantis tests";
    e.startKind = ServiceEntry::kOnDemand;
    return e;
  }

  std::vector<XString> asked;
  Logger log{XString(u"Test")};
};

TEST_F(NTServicesTest, ARegisteredServiceCarriesTheEntrysSettingsAndIsLogged) {
  ServiceEntry e = entry(u"bin\\corvsvc.exe");
  e.interactive = true;
  e.dependencies = {u"RpcSs", u"EventLog"};
  InstallService(e, u"C:\\Corv Test", namer({{u"corvsvc.exe", XString(u"CorvTestService")}}), log);
  EXPECT_EQ(asked, (std::vector<XString>{u"C:\\Corv Test\\bin\\corvsvc.exe"}));

  ServiceConfig config = QueryConfig("CorvTestService");
  ASSERT_TRUE(config.present);
  EXPECT_EQ(config.type, 272u);
  EXPECT_EQ(config.start, 3u);
  EXPECT_EQ(config.errorControl, 1u);
  EXPECT_EQ(config.binaryPath, "\"C:\\Corv Test\\bin\\corvsvc.exe\"");
  // Wine's service manager accepts the dependencies but keeps none of
  // them; their list is checked in the test of RegistrationOf.
  EXPECT_EQ(config.displayName, "Corv Test Service");
  EXPECT_EQ(config.description, u"Serves the Corvantis tests");
  EXPECT_EQ(log.records().size(), 1u);
  EXPECT_EQ(log.records().front(), (LogRecord{kLogService, u"CorvTestService"}));

  EXPECT_EQ(UninstallService(u"CorvTestService"), 0) << "not running: straight to deletion";
  EXPECT_FALSE(QueryConfig("CorvTestService").present);
  EXPECT_EQ(UninstallService(u"CorvTestService"), 1) << "gone";
}

TEST_F(NTServicesTest, AUserAccountServiceIsNotInteractive) {
  ServiceEntry e = entry(u"corvuser.exe");
  e.startKind = ServiceEntry::kDisabled;
  e.interactive = true;
  e.SetAccount(ServiceEntry::kUserAccount, u".\\corvtest", u"secret");
  InstallService(e, u"C:\\CorvTest", namer({{u"corvuser.exe", XString(u"CorvTestUser")}}), log);
  ServiceConfig config = QueryConfig("CorvTestUser");
  ASSERT_TRUE(config.present);
  EXPECT_EQ(config.type, 16u);
  EXPECT_EQ(config.start, 4u);
  EXPECT_EQ(config.binaryPath, "C:\\CorvTest\\corvuser.exe") << "no blank, no quotes";
  EXPECT_EQ(config.account, ".\\corvtest");
}

TEST_F(NTServicesTest, FailuresNameTheirCause) {
  ServiceEntry e = entry(u"corvsvc.exe");
  XString unnamed = failure([&] { InstallService(e, u"C:\\CorvTest", namer({}), log); });
  EXPECT_EQ(unnamed.rfind(u"Unable to install Windows NT service:\n unable to register service, error:\n ", 0), 0u)
      << ToUtf8(unnamed);

  XString longFolder = u"C:\\" + XString(300, u'x');
  XString tooLong = failure([&] { InstallService(e, longFolder, namer({{u"corvsvc.exe", XString(u"X")}}), log); });
  EXPECT_EQ(tooLong, u"Unable to install Windows NT service:\n invalid service path " + longFolder + u"\\corvsvc.exe");

  InstallService(e, u"C:\\CorvTest", namer({{u"corvsvc.exe", XString(u"CorvTestService")}}), log);
  XString twice = failure([&] { InstallService(e, u"C:\\CorvTest", namer({{u"corvsvc.exe", XString(u"CorvTestService")}}), log); });
  EXPECT_EQ(twice, u"Unable to install Windows NT service:\n unable to register service, error:\n " +
                       SystemErrorText(ERROR_SERVICE_EXISTS));
  EXPECT_EQ(log.recordCount(), 1u) << "only the service that was made";
}

TEST_F(NTServicesTest, InstallServicesStopsAtTheFirstFailureAndTheLogUndoesTheRest) {
  NTServices services;
  services.add(entry(u"one.exe"));
  services.add(entry(u"two.exe"));
  services.add(entry(u"three.exe"));
  auto names = namer({{u"one.exe", XString(u"CorvTestService")}, {u"three.exe", XString(u"CorvTestService2")}});
  EXPECT_NE(failure([&] { InstallServices(services, u"C:\\CorvTest", names, log); }), u"<none>");
  EXPECT_TRUE(QueryConfig("CorvTestService").present);
  EXPECT_FALSE(QueryConfig("CorvTestService2").present) << "the loop ended at the second entry";

  Win32SystemUndo undo;
  EXPECT_EQ(log.Undo(undo), std::nullopt);
  EXPECT_FALSE(QueryConfig("CorvTestService").present);
}

TEST(SystemErrorText, TheSystemsTextOrTheNumber) {
  XString known = SystemErrorText(ERROR_SERVICE_EXISTS);
  EXPECT_NE(known, u"1073");
  EXPECT_NE(known.find(u"ervice"), XString::npos) << ToUtf8(known);
  EXPECT_EQ(SystemErrorText(0x2ABCDEF0), u"717020912") << "no text: the code in decimal";
}

}  // namespace
}  // namespace corv
