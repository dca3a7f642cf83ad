#include "scripted_frontend.h"

namespace corv {

namespace {

// Its address tells the threads apart.
thread_local char g_threadMarker;

}  // namespace

class CallLog::Lock {
public:
  explicit Lock(std::atomic_flag& busy) : busy_(busy) {
    while (busy_.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~Lock() { busy_.clear(std::memory_order_release); }

private:
  std::atomic_flag& busy_;
};

CallLog::CallLog() : main_(&g_threadMarker) {}

void CallLog::add(const std::string& call) {
  Lock lock(busy_);
  calls_.push_back(&g_threadMarker == main_ ? call : "worker:" + call);
}

void CallLog::clear() {
  Lock lock(busy_);
  calls_.clear();
}

std::vector<std::string> CallLog::all() const {
  Lock lock(busy_);
  return calls_;
}

std::vector<std::string> CallLog::main() const {
  std::vector<std::string> out;
  for (const std::string& call : all()) {
    if (call.compare(0, 7, "worker:") != 0) out.push_back(call);
  }
  return out;
}

std::vector<std::string> CallLog::worker() const {
  std::vector<std::string> out;
  for (const std::string& call : all()) {
    if (call.compare(0, 7, "worker:") == 0) out.push_back(call.substr(7));
  }
  return out;
}

size_t CallLog::indexOf(const std::string& call) const {
  std::vector<std::string> calls = all();
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i] == call) return i;
  }
  return std::string::npos;
}

// ---- ScriptedInterface

void ScriptedInterface::maybeFail(const std::string& name) {
  auto it = failures.find(name);
  if (it != failures.end()) it->second();
}

PageResult ScriptedInterface::next(const std::string& name) {
  auto it = answers.find(name);
  if (it == answers.end() || it->second.empty()) return PageResult::Next;
  PageResult result = it->second.front();
  it->second.pop_front();
  return result;
}

PageResult ScriptedInterface::page(const std::string& name) {
  log_.add(name);
  maybeFail(name);
  return next(name);
}

void ScriptedInterface::begin() {
  log_.add("begin");
  maybeFail("begin");
  setActive(true);
}

void ScriptedInterface::end() {
  log_.add("end");
  maybeFail("end");
  setActive(false);
}

int ScriptedInterface::confirmOverPreviousVersion() {
  log_.add("confirmOverPreviousVersion");
  return previousVersionAnswer;
}

PageResult ScriptedInterface::runProgress() {
  log_.add("runProgress");
  maybeFail("runProgress");
  PageResult result = next("runProgress");
  if (result == PageResult::Next) done_.wait();
  return result;
}

void ScriptedInterface::finishProgress() {
  log_.add("finishProgress");
  done_.set();
}

void ScriptedInterface::abortProgress() {
  log_.add("abortProgress");
  done_.set();
}

PageResult ScriptedInterface::showResult(const OptString& errorText, bool reboot) {
  log_.add("showResult");
  results.emplace_back(errorText, reboot);
  maybeFail("showResult");
  return next("showResult");
}

void ScriptedInterface::showMessage(Severity severity, const AnsiString& text) {
  log_.add("showMessage");
  maybeFail("showMessage");
  UserInterface::showMessage(severity, text);
}

int ScriptedInterface::messageBox(void* owner, const AnsiString& text, const AnsiString& caption,
                                  uint32_t style) {
  boxes.push_back({owner, text, caption, style});
  return boxResult;
}

std::vector<std::string> ScriptedInterface::pages() const {
  static const char* const kPages[] = {
      "showWelcome",  "askLicenseAgreement", "askInstallProfile",   "askDestination",
      "askJre",       "askProgramFolder",    "askShortcuts",        "askFileAssociations",
      "askServiceAccounts", "askUpdateLocation", "showSummary",     "runProgress",
      "showResult"};
  std::vector<std::string> out;
  for (const std::string& call : log_.main()) {
    for (const char* page : kPages) {
      if (call == page) out.push_back(call);
    }
  }
  return out;
}

// ---- ScriptedSteps

void ScriptedSteps::act(const std::string& name) {
  log_.add(name);
  auto it = failures.find(name);
  if (it != failures.end()) it->second();
}

void ScriptedSteps::readPackage() {
  act("readPackage");
  record_ = true;
}

int ScriptedSteps::searchInstalledCopies() {
  act("searchInstalledCopies");
  return installedCopies;
}

bool ScriptedSteps::hasShortcuts() const {
  for (const auto& entry : shortcutsAt) {
    if (entry.second) return true;
  }
  return false;
}

bool ScriptedSteps::hasShortcutAt(ShortcutLocation location) const {
  auto it = shortcutsAt.find(location);
  return it != shortcutsAt.end() && it->second;
}

bool ScriptedSteps::takePrimaryJre() {
  act("takePrimaryJre");
  return primaryJre;
}

OptString ScriptedSteps::acceptJre(const XString& folder) {
  act("acceptJre(" + ToUtf8(folder) + ")");
  return acceptedJre;
}

OptString ScriptedSteps::firstFoundJre() {
  act("firstFoundJre");
  return foundJre;
}

void ScriptedSteps::setUserAccounts(const XString& user, const XString& password) {
  act("setUserAccounts(" + ToUtf8(user) + "," + ToUtf8(password) + ")");
}

void ScriptedSteps::setJreFolder(const XString& folder) { act("setJreFolder(" + ToUtf8(folder) + ")"); }

void ScriptedSteps::setInstallProfile(int profile) {
  act("setInstallProfile(" + std::to_string(profile) + ")");
}

void ScriptedSteps::takePrimaryProfile() { act("takePrimaryProfile"); }

void ScriptedSteps::setDestination(const XString& folder) {
  act("setDestination(" + ToUtf8(folder) + ")");
}

void ScriptedSteps::setProgramFolder(const XString& folder) {
  act("setProgramFolder(" + ToUtf8(folder) + ")");
}

bool ScriptedSteps::extractMainFiles(UserInterface&) {
  act("extractMainFiles");
  if (!extractionWaitsForAbort) return true;
  aborted_.wait();
  act("extractMainFiles aborted");
  return false;
}

void ScriptedSteps::abortExtraction() {
  act("abortExtraction");
  aborted_.set();
}

bool ScriptedSteps::addToPath(const XString& folder) {
  act("addToPath(" + ToUtf8(folder) + ")");
  return pathAdded;
}

void ScriptedSteps::destroyProcessObjects() {
  act("destroyProcessObjects");
  record_ = false;
}

// ---- ScriptedRun

ScriptedRun::ScriptedRun(std::vector<std::string> args) {
  argStore_.push_back("setup.exe");
  for (std::string& arg : args) argStore_.push_back(std::move(arg));
  for (const std::string& arg : argStore_) argv_.push_back(arg.c_str());
  auto ownedSteps = std::make_unique<ScriptedSteps>(log);
  steps = ownedSteps.get();
  FrontEndFactory factory = [this](FrontEndKind frontEnd, const Options&,
                                   InstallationSteps&) -> std::unique_ptr<UserInterface> {
    kind = frontEnd;
    auto scripted = std::make_unique<ScriptedInterface>(log);
    ui = scripted.get();
    return scripted;
  };
  driver = std::make_unique<Driver>(static_cast<int>(argv_.size()), argv_.data(), factory,
                                    std::move(ownedSteps));
}

}  // namespace corv
