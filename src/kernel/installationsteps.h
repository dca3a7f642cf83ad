// What the driver does with the package and the system, behind one
// interface: the driver owns the order of the steps and the conditions of
// the wizard, and reads the record's facts and sets the run's choices on the
// InstallInfo that readPackage returns; an InstallationSteps object performs
// each action and answers the questions only the system can answer.
//
// The installer's own implementation is PackageSteps (packagesteps.h); the
// driver's tests use a scripted one. Every operation reports failure by
// throwing an Exception, which the driver handles like any other failure
// (report, rollback, exit code 1); only the operations that say otherwise
// report by their result.
//
// Threads: everything is called on the driver's (main) thread except
// extractMainFiles through runInstallRunProgram, which run on the
// installation worker while the main thread waits in the front end's
// runProgress, and abortExtraction, which the main thread calls while the
// worker may be extracting.
#pragma once

#include "util/xstring.h"

namespace corv {

class InstallInfo;
class UserInterface;

class InstallationSteps {
public:
  virtual ~InstallationSteps() = default;

  // ---- Start-up, in the driver's order.

  // Creates the process-wide objects other than the record (the integration
  // and undo machinery, the decompressor factory).
  virtual void createProcessObjects() = 0;
  // Opens the installer's own file (FatalError 1102 with its path) and reads
  // the install-info record from it (FatalError 1181 for a file without a
  // valid package, 1202 for a block that cannot be decoded), with its
  // lookups created. The record stays valid until destroyProcessObjects.
  virtual InstallInfo& readPackage() = 0;
  // Undoes, as a rollback would, every installation of this user that was
  // interrupted (killed, power lost) and left its journal in the system's
  // temporary folder. True when it undid at least one.
  virtual bool undoInterruptedInstallations() = 0;
  // Creates the temporary folder and stores it in the record; from here on
  // every change of the installation is journaled there before it is made.
  virtual void createTempFolder() = 0;
  // Unpacks the auxiliary files (bind script, UI resource library, folder
  // path library, hook library) into the temporary folder, always
  // overwriting, logged in the temporary-files log.
  virtual void extractAuxiliaryFiles() = 0;

  // ---- Questions to the system.

  // Windows NT, 2000 or XP (not Windows 95, 98 or Me).
  virtual bool isWindowsNT() const = 0;
  // The user is an administrator; always false on Windows 95, 98 and Me.
  virtual bool isAdministrator() const = 0;
  // For an update whose record names a primary JRE file: when that file
  // exists under the destination and names the runtime it was bound to, sets
  // that runtime as the record's JRE folder, marked as taken from the
  // primary installation, and returns true. False otherwise (nothing set).
  virtual bool takePrimaryJre() = 0;
  // For an update, once its destination is chosen: sets the install profile
  // of the installation it updates. Personal when the product key of the
  // current user records the destination, common when the machine's does;
  // when neither does (a folder given by hand, a key removed since), common
  // for an administrator and personal otherwise, as for a new installation
  // that asks nothing.
  virtual void takePrimaryProfile() = 0;

  // ---- The installation proper.

  // Calls the hook library's "PreInstall", if the record names a hook
  // library (main thread, before the worker starts).
  virtual void callPreInstall() = 0;
  // On the worker: extracts the main files into the destination, reporting
  // progress to the front end and logging in the main log. False when the
  // extraction was aborted (abortExtraction).
  virtual bool extractMainFiles(UserInterface& ui) = 0;
  // Asks a running extraction to stop (from the main thread).
  virtual void abortExtraction() = 0;
  // Runs the bind script of the temporary folder over the destination.
  virtual void bindExecutables() = 0;
  // Shortcuts, product key, associations and the uninstall entry.
  virtual void installSystemIntegration() = 0;
  virtual void installServices() = 0;
  // Adds `folder` to PATH (per user for the personal profile). On success
  // logs it and sets the reboot-required flag when the change needs a
  // restart, and returns true; returns false when PATH could not be changed.
  virtual bool addToPath(const XString& folder) = 0;
  // Calls the hook library's "PostInstall", if the record names one.
  virtual void callPostInstall() = 0;
  // Runs the record's install-run program, if any, and waits for it
  // (FatalError 1084 when it cannot be run, 1085 for a non-zero exit code).
  virtual void runInstallRunProgram() = 0;

  // ---- Completion and rollback.

  // If the record names an uninstaller: writes the main log as
  // "install.log" in the uninstaller's folder (merged with the earlier log
  // for an update).
  virtual void writeInstallLog() = 0;
  // Undoes the temporary-files log (removes the auxiliary files and the
  // temporary folder). Undoing twice does nothing more.
  virtual void undoTemporaryFiles() = 0;
  // Undoes the main log: every change of the installation so far; what it
  // replaced or changed in place (files, the values of keys that existed,
  // PATH) is put back as it was.
  virtual void undoInstallation() = 0;
  // Starts the record's after-run program without waiting (FatalError 1084
  // when it cannot be started).
  virtual void startAfterRunProgram() = 0;
  // After a completed installation: drops what the installation kept to put
  // back on a rollback (and the temporary folder with it), then destroys the
  // process-wide objects and the record.
  virtual void destroyProcessObjects() = 0;
  // Restarts the computer.
  virtual void restartComputer() = 0;
};

}  // namespace corv
