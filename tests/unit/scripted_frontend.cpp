#include "scripted_frontend.h"

#include "record_samples.h"

namespace corv {

namespace {

void RunHook(const Hooks& hooks, const std::string& name) {
  auto it = hooks.find(name);
  if (it != hooks.end()) it->second();
}

}  // namespace

// ---- ScriptedInterface

void ScriptedInterface::hook(const std::string& name) { RunHook(hooks, name); }

PageResult ScriptedInterface::page(const std::string& name) {
  pages.push_back(name);
  hook(name);
  auto it = answers.find(name);
  if (it == answers.end() || it->second.empty()) return PageResult::Next;
  PageResult result = it->second.front();
  it->second.pop_front();
  return result;
}

void ScriptedInterface::begin() {
  hook("begin");
  setActive(true);
}

void ScriptedInterface::end() {
  hook("end");
  setActive(false);
}

PreviousVersionAnswer ScriptedInterface::confirmOverPreviousVersion() {
  previousVersionAsked = true;
  return previousVersionAnswer;
}

PageResult ScriptedInterface::runProgress() {
  PageResult result = page("runProgress");
  if (result == PageResult::Next) done_.wait();
  return result;
}

PageResult ScriptedInterface::showResult(const OptString& errorText, bool reboot) {
  results.emplace_back(errorText, reboot);
  return page("showResult");
}

void ScriptedInterface::showMessage(Severity severity, const AnsiString& text) {
  hook("showMessage");
  UserInterface::showMessage(severity, text);
}

int ScriptedInterface::messageBox(void* owner, const AnsiString& text, const AnsiString& caption,
                                  uint32_t style) {
  boxes.push_back({owner, text, caption, style});
  return boxResult;
}

// ---- ScriptedSteps

ScriptedSteps::ScriptedSteps() : record(test::MinimalRecord()), aborted_(true, false) {
  record.language = kLanguageEnglish;
}

void ScriptedSteps::hook(const std::string& name) { RunHook(hooks, name); }

void ScriptedSteps::act(const std::string& name) {
  hook(name);
  installed.insert(name);
}

InstallInfo& ScriptedSteps::readPackage() {
  hook("readPackage");
  info_ = std::make_unique<InstallInfo>(record);
  info_->createLookups([this](const XString&, bool currentUser) { return currentUser ? installedCopy : std::nullopt; },
                       [this](const XString&, bool) { return javaHome; });
  return *info_;
}

void ScriptedSteps::createTempFolder() {
  tempFolder = true;
  info_->setTempFolder(Directory(XString(u"C:\\Temp\\corv1")));
}

bool ScriptedSteps::takePrimaryJre() {
  if (!primaryJre) return false;
  info_->choices().setJreFolder(primaryJre, true);
  return true;
}

bool ScriptedSteps::extractMainFiles(UserInterface&) {
  extracting_ = true;
  struct Done {
    std::atomic<bool>& flag;
    ~Done() { flag = false; }
  } done{extracting_};
  if (!extractionWaitsForAbort) {
    act("files");
    return true;
  }
  aborted_.wait();
  hook("extraction aborted");
  return false;
}

bool ScriptedSteps::addToPath(const XString& folder) {
  if (!pathAdded) return false;
  act("PATH " + ToUtf8(folder));
  return true;
}

void ScriptedSteps::undoTemporaryFiles() {
  hook("undoTemporaryFiles");
  tempFolder = false;
}

void ScriptedSteps::undoInstallation() {
  ++rollbacks;
  if (extracting_) undoneWhileExtracting = true;
  hook("undoInstallation");
  installed.clear();
}

void ScriptedSteps::startAfterRunProgram() {
  hook("startAfterRunProgram");
  afterRunStarted = true;
}

void ScriptedSteps::destroyProcessObjects() {
  tempFolder = false;
  destroyed = true;
}

// ---- ScriptedRun

ScriptedRun::ScriptedRun(std::vector<std::string> args) {
  argStore_.push_back("setup.exe");
  for (std::string& arg : args) argStore_.push_back(std::move(arg));
  for (const std::string& arg : argStore_) argv_.push_back(arg.c_str());
  auto ownedSteps = std::make_unique<ScriptedSteps>();
  steps = ownedSteps.get();
  FrontEndFactory factory = [this](FrontEndKind frontEnd, const Options&) -> std::unique_ptr<UserInterface> {
    kind = frontEnd;
    auto scripted = std::make_unique<ScriptedInterface>();
    ui = scripted.get();
    return scripted;
  };
  driver = std::make_unique<Driver>(static_cast<int>(argv_.size()), argv_.data(), factory,
                                    std::move(ownedSteps));
}

}  // namespace corv
