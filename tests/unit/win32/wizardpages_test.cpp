// The wizard's welcome, summary and finish pages as the resource library
// builds them, under every language whose texts the process's code page can
// show: each control holds that language's own message (not the English
// one), an update gets the update wordings, a pending restart gets the
// restart choice with "later" preselected, Finish stores the choice in the
// record, the summary's settings open with nothing selected, and each page
// opens where the page before it was, back on the work area of its monitor
// if it fell off.
#include "ui/guiinterface.h"

#include <gtest/gtest.h>

#include "util/win32/corvwindows.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "kernel/installinfo.h"
#include "record_samples.h"
#include "ui/win32/dialog.h"
#include "scratch.h"
#include "util/messages.h"
#include "util/thread.h"
#include "xinstres/resourceids.h"

namespace corv {
namespace {

constexpr int kTitle = 0;  // the page window's own text

std::string WindowText(HWND window) {
  char text[2048] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// What a page showed: the texts of its shown controls (kTitle: the title)
// and which restart button was checked, and where the page stood.
struct Shown {
  std::map<int, std::string> texts;
  RECT bounds = {};
  bool restartNow = false;
  bool restartLater = false;
};

// Waits on its own thread for the page that the wizard puts on screen,
// reads it, lets `act` work on the window, and presses Next (Finish).
class PageVisitor : public Thread {
public:
  PageVisitor(UserInterface& ui, std::function<void(HWND)> act) : ui_(ui), act_(std::move(act)) {}
  Shown shown;

  void run() override {
    UIWindow* window = ui_.waitCurrentWindow();
    if (window == nullptr) return;  // the wizard ended without the page
    HWND page = static_cast<HWND>(window->windowHandle());
    shown.texts[kTitle] = WindowText(page);
    GetWindowRect(page, &shown.bounds);
    for (int id : {IDC_HEADER, IDC_SUBHEADER, IDC_TEXT, IDC_RESTART_NOW, IDC_RESTART_LATER}) {
      HWND control = GetDlgItem(page, id);
      if (control && (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE)) shown.texts[id] = WindowText(control);
    }
    shown.restartNow = SendMessageA(GetDlgItem(page, IDC_RESTART_NOW), BM_GETCHECK, 0, 0) == BST_CHECKED;
    shown.restartLater = SendMessageA(GetDlgItem(page, IDC_RESTART_LATER), BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (act_) act_(page);
    SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_NEXT_BUTTON, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(page, IDC_NEXT_BUTTON)));
  }

private:
  UserInterface& ui_;
  std::function<void(HWND)> act_;
};

struct Language {
  int code;
  UINT codePage;
};

const Language kLanguages[] = {{kLanguageEnglish, 1252}, {kLanguageGerman, 1252}, {kLanguageFrench, 1252},
                               {kLanguageRussian, 1251}, {kLanguageJapanese, 932}};

class WizardPagesTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string library = std::string("Z:") + CORV_XINSTRES_DLL;
    std::replace(library.begin(), library.end(), '/', '\\');
    ASSERT_TRUE(CopyFileA(library.c_str(), ToAnsi(temp.path(u"xinstres.dll")).c_str(), FALSE));
  }
  void TearDown() override {
    InstallInfo::SetCurrent(nullptr);
    ResetLanguage();
    SetThreadLocale(savedLocale);
  }

  // The record of a package named "Corv Pages" whose product is "Corv
  // Product", an update or not, as the process-wide one.
  InstallInfo& use(bool update) {
    InstallRecord record = test::MinimalRecord();
    record.kind = update ? kPackageUpdate : kPackageInstallation;
    record.packageName = u"Corv Pages";
    record.productName = u"Corv Product";
    info = std::make_unique<InstallInfo>(record);
    info->setTempFolder(Directory(temp.path()));
    InstallInfo::SetCurrent(info.get());
    return *info;
  }

  // Runs a page operation of `gui` and what the page showed.
  static Shown visit(GuiInterface& gui, const std::function<PageResult()>& page,
                     std::function<void(HWND)> act = nullptr) {
    PageVisitor visitor(gui, std::move(act));
    visitor.start();
    PageResult result = PageResult::Cancel;
    try {
      result = page();
    } catch (...) {
      gui.end();  // the visitor stops waiting
      visitor.join();
      throw;
    }
    visitor.join();
    EXPECT_EQ(result, PageResult::Next);
    return visitor.shown;
  }

  ScratchFolder temp;
  std::unique_ptr<InstallInfo> info;
  LCID savedLocale = GetThreadLocale();
};

// A message in a language, formatted as the pages show it (the wizard's
// messages only while its resources are loaded).
template <typename... Args>
std::string Message(int language, int id, const Args&... args) {
  SelectLanguage(language);
  return FormatMessageText(id, args...);
}

TEST_F(WizardPagesTest, PagesShowTheirOwnLanguagesWordingsAndTheRestartChoiceReachesTheRecord) {
  // Run with an X server by the unit_pages tests (with-display.sh).
  if (!std::getenv("CORV_DISPLAY")) GTEST_SKIP() << "no display to put the pages on";
  const XString package = u"Corv Pages";
  const XString product = u"Corv Product";
  int tested = 0;
  for (const Language& language : kLanguages) {
    if (language.codePage != GetACP()) continue;  // its texts cannot show here
    SCOPED_TRACE(language.code);
    ++tested;
    // What each control must hold, and the English counterpart it must not
    // be unless this is English.
    std::vector<std::tuple<Shown, int, std::string, std::string>> checks;
    auto expect = [&](const Shown& shown, int control, int id, auto... args) {
      checks.emplace_back(shown, control, Message(language.code, id, args...),
                          Message(kLanguageEnglish, id, args...));
    };

    use(true);  // an update: its own wordings, no restart
    info->choices().rebootRequired = true;
    SelectLanguage(language.code);
    GuiInterface update;
    update.begin();
    // Each page opens where the page before it was: the welcome page is
    // moved, the summary is moved half off the screen, and the finish page
    // comes back onto it.
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    Shown welcome = visit(update, [&] { return update.showWelcome(); }, [](HWND page) {
      SetWindowPos(page, nullptr, 37, 41, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    });
    // The settings: once the focus has landed on them, nothing of their text
    // selected and the caret at the start.
    HWND focus = nullptr, settings = nullptr;
    int length = 0;
    DWORD selectionStart = 1, selectionEnd = 1;
    Shown summary = visit(update, [&] { return update.showSummary(); }, [&](HWND page) {
      GUITHREADINFO thread = {};
      thread.cbSize = sizeof thread;
      for (int wait = 0; wait < 6000 && !focus; ++wait, Sleep(10)) {
        if (GetGUIThreadInfo(GetWindowThreadProcessId(page, nullptr), &thread)) focus = thread.hwndFocus;
      }
      settings = GetDlgItem(page, IDC_SETTINGS);
      length = GetWindowTextLengthA(settings);
      SendMessageA(settings, EM_GETSEL, reinterpret_cast<WPARAM>(&selectionStart),
                   reinterpret_cast<LPARAM>(&selectionEnd));
      SetWindowPos(page, nullptr, screenWidth - 20, 53, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    });
    EXPECT_EQ(focus, settings);
    EXPECT_GT(length, 0);
    EXPECT_EQ(selectionStart, 0u);
    EXPECT_EQ(selectionEnd, 0u);
    Shown finish = visit(update, [&] { return update.showResult(std::nullopt, false); });
    EXPECT_FALSE(info->choices().rebootRequired);  // no restart offered, none chosen
    EXPECT_EQ(welcome.bounds.left, (screenWidth - (welcome.bounds.right - welcome.bounds.left)) / 2);
    EXPECT_EQ(summary.bounds.left, 37);
    EXPECT_EQ(summary.bounds.top, 41);
    EXPECT_EQ(finish.bounds.right, screenWidth);
    EXPECT_EQ(finish.bounds.top, 53);
    expect(welcome, IDC_HEADER, 1433, package);
    expect(welcome, IDC_SUBHEADER, 1434);
    expect(summary, IDC_TEXT, 1514, product);
    expect(finish, IDC_SUBHEADER, 1536, product);
    EXPECT_EQ(finish.texts.count(IDC_RESTART_NOW) + finish.texts.count(IDC_RESTART_LATER) +
                  finish.texts.count(IDC_TEXT),
              0u);
    for (const Shown* page : {&welcome, &summary, &finish}) {
      EXPECT_EQ(page->texts.at(kTitle), Message(language.code, 1412, package));
    }
    update.end();

    // A pending restart: the choice, "later" preselected; Finish stores it.
    for (bool now : {false, true}) {
      use(false);
      SelectLanguage(language.code);
      GuiInterface gui;
      gui.begin();
      Shown restart = visit(gui, [&] { return gui.showResult(std::nullopt, true); }, [now](HWND page) {
        if (now) SendMessageA(GetDlgItem(page, IDC_RESTART_NOW), BM_CLICK, 0, 0);
      });
      EXPECT_TRUE(restart.restartLater);
      EXPECT_FALSE(restart.restartNow);
      EXPECT_EQ(info->choices().rebootRequired, now);
      if (!now) {
        expect(restart, IDC_HEADER, 1530);
        expect(restart, IDC_SUBHEADER, 1537, product);
        expect(restart, IDC_TEXT, 1540);
        expect(restart, IDC_RESTART_NOW, 1538);
        expect(restart, IDC_RESTART_LATER, 1539);
      }
      gui.end();
    }

    for (const auto& [shown, control, own, english] : checks) {
      ASSERT_EQ(shown.texts.count(control), 1u) << "control " << control << " is not shown";
      EXPECT_EQ(shown.texts.at(control), own) << "control " << control;
      if (language.code != kLanguageEnglish) {
        EXPECT_NE(own, english) << "control " << control;
      }
    }
  }
  if (tested == 0) GTEST_SKIP() << "no wizard language uses code page " << GetACP();
}

// A page goes back onto the work area of its monitor, wherever that lies:
// one left of the primary screen keeps a corner at negative coordinates.
TEST(PlaceWindow, KeepsAPageInsideTheWorkAreaOfItsMonitor) {
  const RECT left = {-1280, 0, 0, 1000};
  const SIZE page = {500, 360};
  auto at = [](POINT p) { return std::make_pair(p.x, p.y); };
  EXPECT_EQ(at(KeepInside({-900, 100}, page, left)), std::make_pair(-900L, 100L));
  EXPECT_EQ(at(KeepInside({-300, 800}, page, left)), std::make_pair(-500L, 640L));
  EXPECT_EQ(at(KeepInside({-1500, -20}, page, left)), std::make_pair(-1280L, 0L));
  EXPECT_EQ(at(KeepInside({10, 10}, {2000, 2000}, left)), std::make_pair(-1280L, 0L));
}

}  // namespace
}  // namespace corv
