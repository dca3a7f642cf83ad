#include "kernel/ntservices.h"

#include <gtest/gtest.h>

#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {
namespace {

ServiceEntry Entry(uint8_t start, uint8_t account, bool interactive) {
  ServiceEntry e;
  e.program = u"bin\\svc.exe";
  e.displayName = u"Corv Service";
  e.description = u"Serves";
  e.startKind = static_cast<ServiceEntry::StartKind>(start);
  e.accountKind = static_cast<ServiceEntry::AccountKind>(account);
  e.interactive = interactive;
  return e;
}

TEST(ServiceRegistration, TypeIsInteractiveOnlyForTheLocalSystem) {
  ServiceEntry entry = Entry(ServiceEntry::kAutomatic, ServiceEntry::kLocalSystem, true);
  EXPECT_EQ(RegistrationOf(entry).serviceType, 272u);
  entry.SetAccount(ServiceEntry::kUserAccount, u".\\corv", u"secret");
  EXPECT_EQ(RegistrationOf(entry).serviceType, 16u) << "the user account clears the interactive flag";
  entry.interactive = true;
  EXPECT_EQ(RegistrationOf(entry).serviceType, 16u) << "and a user account is never interactive";
  EXPECT_EQ(RegistrationOf(Entry(ServiceEntry::kAutomatic, ServiceEntry::kLocalSystem, false)).serviceType, 16u);
}

TEST(ServiceRegistration, StartKindsMapToStartTypes) {
  EXPECT_EQ(RegistrationOf(Entry(1, ServiceEntry::kLocalSystem, false)).startType, 2u);
  EXPECT_EQ(RegistrationOf(Entry(2, ServiceEntry::kLocalSystem, false)).startType, 3u);
  EXPECT_EQ(RegistrationOf(Entry(3, ServiceEntry::kLocalSystem, false)).startType, 4u);
  EXPECT_THROW(RegistrationOf(Entry(0, ServiceEntry::kLocalSystem, false)), AssertionFailedError);
  EXPECT_THROW(RegistrationOf(Entry(4, ServiceEntry::kLocalSystem, false)), AssertionFailedError);
}

TEST(ServiceRegistration, DependenciesAreZeroTerminatedWithAFinalZero) {
  ServiceEntry entry = Entry(1, ServiceEntry::kLocalSystem, false);
  EXPECT_EQ(RegistrationOf(entry).dependencies, std::nullopt);
  entry.dependencies = {u"Tcpip", u"EventLog"};
  EXPECT_EQ(RegistrationOf(entry).dependencies, std::optional<AnsiString>(AnsiString("Tcpip\0EventLog\0\0", 16)));
}

TEST(ServiceRegistration, OnlyAUserAccountPassesNameAndPassword) {
  ServiceEntry entry = Entry(1, ServiceEntry::kLocalSystem, false);
  entry.userName = u"ignored";
  ServiceRegistration system = RegistrationOf(entry);
  EXPECT_EQ(system.account, std::nullopt);
  EXPECT_EQ(system.password, std::nullopt);
  entry.SetAccount(ServiceEntry::kUserAccount, u"DOMAIN\\corv", u"");
  ServiceRegistration user = RegistrationOf(entry);
  EXPECT_EQ(user.account, std::optional<AnsiString>("DOMAIN\\corv"));
  EXPECT_EQ(user.password, std::optional<AnsiString>("")) << "an empty password is passed as empty";
}

TEST(ServiceRegistration, BinaryPathIsQuotedOnlyWhenItHoldsABlank) {
  EXPECT_EQ(ServiceBinaryPath("C:\\Corv\\svc.exe"), "C:\\Corv\\svc.exe");
  EXPECT_EQ(ServiceBinaryPath("C:\\Program Files\\Corv\\svc.exe"), "\"C:\\Program Files\\Corv\\svc.exe\"");
  EXPECT_EQ(ServiceBinaryPath("C:\\Corv\tTab\\svc.exe"), "\"C:\\Corv\tTab\\svc.exe\"");
}

}  // namespace
}  // namespace corv
