// The driver: start-up, the wizard walk, completion and failure handling.
//
// The constructor pre-scans the command line for the mode and creates the
// front end: the text front end for /batch, the wizard otherwise. The run
// parses the whole command line, opens the package and reads its record,
// selects the message language, begins the front end and walks the twelve
// wizard steps; every failure on the way is reported through the front end,
// rolled back, and ends the run with exit code 1.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "kernel/installationsteps.h"
#include "kernel/options.h"
#include "kernel/userinterface.h"
#include "util/exceptions.h"

namespace corv {

class InstallInfo;

enum class FrontEndKind { Text, Gui };

// The wizard's steps, in the order the walk takes them forward.
enum class WizardStep : int {
  Welcome = 1,
  License,
  InstallProfile,
  Destination,  // the update's location for an update
  Jre,
  ProgramFolder,
  FileAssociations,
  Shortcuts,
  Services,
  Summary,
  Install,
  Finish,
};

// Creates the front end of a kind; the Options outlive it. The front end
// reaches the record through InstallInfo::Current once it is read.
using FrontEndFactory =
    std::function<std::unique_ptr<UserInterface>(FrontEndKind kind, const Options& options)>;

class Driver {
public:
  // Creates and pre-scans the Options (an existing Options, or a second mode
  // option, is an assertion failure), then the front end: Text for /batch,
  // Gui otherwise. The driver owns `steps`.
  Driver(int argc, const char* const* argv, const FrontEndFactory& createFrontEnd,
         std::unique_ptr<InstallationSteps> steps);
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;
  // Destroys the front end, the steps (with the package file and the
  // record) and the Options.
  ~Driver();

  // 0 after a completed installation; 1 after the usage text, after the user
  // or the previous-version check stopped the installation, and after any
  // failure.
  int run();

private:
  // Start-up up to begin; false when the run ends here (usage text shown, or
  // stopped at the previous-version question).
  bool startUp();
  void selectLanguage(int setting);
  // The wizard: true after the finish step answered Next, false on Cancel.
  bool walk();
  // One step; none when the step is skipped.
  std::optional<PageResult> runStep(WizardStep step);
  std::optional<PageResult> installProfileStep();
  PageResult updateLocationStep();
  std::optional<PageResult> jreStep();
  std::optional<PageResult> servicesStep();
  PageResult installProper();
  void complete();
  void rollBack();
  void handleFailure(const Exception& failure);
  void report(const Exception& failure);
  void reportUnrecoverable(const Exception& failure);

  std::unique_ptr<Options> options_;
  std::unique_ptr<InstallationSteps> steps_;
  std::unique_ptr<UserInterface> ui_;
  // The record, from readPackage until destroyProcessObjects (borrowed from
  // the steps; also the process-wide InstallInfo meanwhile).
  InstallInfo* info_ = nullptr;
};

}  // namespace corv
