// The base front end: current window and its event, message boxes,
// abortProgress.
#include "kernel/userinterface.h"

#include "kernel/overwritepolicy.h"
#include "kernel/uiprogressupdater.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>

#include "scripted_frontend.h"
#include "util/exceptions.h"

namespace corv {
namespace {

// The base as it is: every page operation trivially Next; only the message
// box is replaced, to see what would be shown.
class BaseInterface : public UserInterface {
public:
  void begin() override {}
  void end() override {}
  PreviousVersionAnswer confirmOverPreviousVersion() override { return PreviousVersionAnswer::Proceed; }
  PageResult showWelcome() override { return PageResult::Next; }
  PageResult askLicenseAgreement() override { return PageResult::Next; }
  PageResult askInstallProfile() override { return PageResult::Next; }
  PageResult askDestination() override { return PageResult::Next; }
  PageResult askJre() override { return PageResult::Next; }
  PageResult askProgramFolder() override { return PageResult::Next; }
  PageResult askShortcuts() override { return PageResult::Next; }
  PageResult askFileAssociations() override { return PageResult::Next; }
  PageResult askServiceAccounts() override { return PageResult::Next; }
  PageResult askUpdateLocation() override { return PageResult::Next; }
  PageResult showSummary() override { return PageResult::Next; }
  PageResult runProgress() override { return PageResult::Next; }
  void finishProgress() override {}
  UIProgressUpdater& progressUpdater() override { return updater_; }
  AbstractOverwritePolicy& overwritePolicy() override { return policy_; }
  SilentProgressUpdater updater_;
  OverwritePolicy policy_{OverwritePolicy::kAlways};
  PageResult showResult(const OptString&, bool) override { return PageResult::Next; }

  int boxResult = kBoxIdOk;
  std::vector<Box> boxes;

protected:
  int messageBox(void* owner, const AnsiString& text, const AnsiString& caption,
                 uint32_t style) override {
    boxes.push_back({owner, text, caption, style});
    return boxResult;
  }
};

class FakeWindow : public UIWindow {
public:
  explicit FakeWindow(void* handle) : handle_(handle) {}
  void* windowHandle() const override { return handle_; }
  void closeFromOtherThread() override { ++closes; }
  int closes = 0;

private:
  void* handle_;
};

TEST(UserInterfaceTest, SeverityCaptions) {
  EXPECT_EQ(SeverityCaption(Severity::Information), 1401);
  EXPECT_EQ(SeverityCaption(Severity::Question), 1402);
  EXPECT_EQ(SeverityCaption(Severity::Warning), 1403);
  EXPECT_EQ(SeverityCaption(Severity::SevereError), 1404);
  EXPECT_THROW(SeverityCaption(static_cast<Severity>(0)), AssertionFailedError);
  EXPECT_THROW(SeverityCaption(static_cast<Severity>(5)), AssertionFailedError);
}

TEST(UserInterfaceTest, ShowMessageUsesTheSeveritysCaptionAndIcon) {
  BaseInterface ui;
  EXPECT_FALSE(ui.isActive());
  ui.showMessage(Severity::Information, "i");
  ui.showMessage(Severity::Question, "q");
  ui.showMessage(Severity::Warning, "w");
  ui.showMessage(Severity::SevereError, "e");
  ASSERT_EQ(ui.boxes.size(), 4u);
  const struct {
    const char* caption;
    uint32_t style;
  } expected[] = {{"Information", 0x40}, {"Question", 0x20}, {"Warning", 0x30}, {"Severe error", 0x10}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(ui.boxes[i].caption, expected[i].caption);
    EXPECT_EQ(ui.boxes[i].style, expected[i].style);  // MB_OK with the icon
    EXPECT_EQ(ui.boxes[i].owner, nullptr);
  }
  EXPECT_EQ(ui.boxes[3].text, "e");

  EXPECT_THROW(ui.showMessage(static_cast<Severity>(0), "x"), AssertionFailedError);
  EXPECT_THROW(ui.showMessage(static_cast<Severity>(5), "x"), AssertionFailedError);
  EXPECT_EQ(ui.boxes.size(), 4u);
}

TEST(UserInterfaceTest, BoxesBelongToTheCurrentWindow) {
  BaseInterface ui;
  int handle = 0;
  FakeWindow page(&handle);
  ui.setCurrentWindow(&page);
  ui.showMessage(Severity::Warning, "w");
  ui.askYesNo("c", "t");
  ui.setCurrentWindow(nullptr);
  ui.showMessage(Severity::Warning, "w");
  ASSERT_EQ(ui.boxes.size(), 3u);
  EXPECT_EQ(ui.boxes[0].owner, &handle);
  EXPECT_EQ(ui.boxes[1].owner, &handle);
  EXPECT_EQ(ui.boxes[2].owner, nullptr);
}

TEST(UserInterfaceTest, AskYesNoIsYesOnlyForTheYesButton) {
  BaseInterface ui;
  ui.boxResult = 6;  // IDYES
  EXPECT_EQ(ui.askYesNo("Exit confirmation", "Are you sure?"), YesNoAnswer::Yes);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, "Exit confirmation");
  EXPECT_EQ(ui.boxes[0].text, "Are you sure?");
  EXPECT_EQ(ui.boxes[0].style, 0x24u);  // MB_YESNO | MB_ICONQUESTION
  for (int failed : {7, 0, -1}) {
    ui.boxResult = failed;
    EXPECT_EQ(ui.askYesNo("c", "t"), YesNoAnswer::No) << failed;
  }
}

TEST(UserInterfaceTest, CurrentWindowIsSetAndClearedInTurn) {
  BaseInterface ui;
  FakeWindow first(nullptr), second(nullptr);
  EXPECT_THROW(ui.setCurrentWindow(nullptr), AssertionFailedError);
  ui.setCurrentWindow(&first);
  EXPECT_EQ(ui.currentWindow(), &first);
  EXPECT_THROW(ui.setCurrentWindow(&second), AssertionFailedError);
  EXPECT_EQ(ui.currentWindow(), &first);
  ui.setCurrentWindow(nullptr);
  EXPECT_EQ(ui.currentWindow(), nullptr);
}

TEST(UserInterfaceTest, WaitCurrentWindowWaitsOnlyBetweenTwoWindows) {
  BaseInterface ui;
  EXPECT_EQ(ui.waitCurrentWindow(), nullptr);  // before any window: at once
  FakeWindow first(nullptr), second(nullptr);
  ui.setCurrentWindow(&first);
  EXPECT_EQ(ui.waitCurrentWindow(), &first);
  ui.setCurrentWindow(nullptr);

  std::atomic<bool> returned{false};
  UIWindow* seen = nullptr;
  FunctionThread waiter([&] {
    seen = ui.waitCurrentWindow();
    returned = true;
  });
  waiter.start();
  // Give a waiter that would not wait the time to return.
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
  while (std::chrono::steady_clock::now() < until) {
  }
  EXPECT_FALSE(returned.load());
  ui.setCurrentWindow(&second);
  waiter.join();
  EXPECT_EQ(seen, &second);
}

TEST(UserInterfaceTest, AbortProgressClosesTheCurrentWindow) {
  BaseInterface ui;
  ui.abortProgress();  // no window: nothing
  FakeWindow page(nullptr);
  ui.setCurrentWindow(&page);
  ui.abortProgress();
  EXPECT_EQ(page.closes, 1);
  EXPECT_TRUE(ui.boxes.empty());
}

}  // namespace
}  // namespace corv
