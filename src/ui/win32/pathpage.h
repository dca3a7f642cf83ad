// The wizard's folder pages (destination, JRE, update destination) on their
// shared base PathPage, and the folder browser they open.
#pragma once

#include "ui/win32/wizardpage.h"

namespace corv {

class InstallInfo;
class JRELookup;
class PrimaryLookup;

// The longest folder path the pages and the browser take, in ANSI bytes.
constexpr size_t kMaxPathBytes = 260;

// The folder browser: the system's folder dialog with `title`, extended by
// a "&Path:" edit above the tree that shows the selected folder and takes a
// typed one. OK is refused with warning 1422 for a path where no folder can
// be made. True with the chosen folder in `path`; false when cancelled
// (`path` unchanged).
bool BrowseForFolder(const AnsiString& title, AnsiString& path, HWND owner, UserInterface& ui);

// A page that proposes a folder (pathBuffer, shown in the path text
// IDC_PATH_TEXT), with a Browse button and for some pages a list of candidates
// (IDC_CANDIDATE_LIST) and the space figures (IDC_REQUIRED_LABEL to
// IDC_AVAILABLE_VALUE).
class PathPage : public WizardPage {
public:
  PathPage(UserInterface& ui, const UIResources& resources, InstallInfo& info)
      : WizardPage(ui, resources), info_(info) {}

  // Opens the folder browser (title 1413) on pathBuffer; a chosen folder
  // that acceptBrowsedPath takes becomes the page's path (refreshPath).
  virtual void onBrowse();
  // Whether the page takes a folder chosen in the browser (already in
  // pathBuffer).
  virtual bool acceptBrowsedPath() = 0;
  // Shows and stores what pathBuffer now holds.
  virtual void refreshPath() = 0;
  // The selection of the candidate list changed.
  virtual void onListSelection() {}
  // Browse and the candidate list's selection and double click.
  INT_PTR defaultHandler(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
  InstallInfo& info() const { return info_; }
  XString path() const { return ToWide(pathBuffer_); }
  // Sets pathBuffer, cut to kMaxPathBytes.
  void setPath(const AnsiString& path) { pathBuffer_ = path.substr(0, kMaxPathBytes); }
  void setPath(const XString& path) { setPath(ToAnsi(path)); }
  const AnsiString& pathBuffer() const { return pathBuffer_; }

  void addListItem(const XString& text);
  // Selects item `index` (-1: none), then onListSelection.
  void selectListItem(int index);
  // The selected item, -1 for none.
  int currentListItem() const;
  // On pages with space figures: the path, and on its drive the space the
  // main files need and the space available, in K.
  void showSpace();
  // Next of a destination: ends the page when the path's drive has the room
  // the main files need; otherwise warning 1489 with the drive, and the page
  // stays.
  void checkSpaceAndProceed();

private:
  InstallInfo& info_;
  AnsiString pathBuffer_;
};

// Template IDD_DESTINATION: the destination of an installation. A destination
// fixed by the package cannot be changed here.
class DestinationPage : public PathPage {
public:
  using PathPage::PathPage;
  int templateId() const override { return IDD_DESTINATION; }
  bool onInitPage() override;
  void refreshPath() override;
  // A missing or empty folder; a folder with contents after Yes to 1490.
  bool acceptBrowsedPath() override;
  void onNext() override { checkSpaceAndProceed(); }
};

// Template IDD_JRE: the Java runtime, from the lookup's candidates or a folder
// the user names. Next needs a selected candidate.
class JrePage : public PathPage {
public:
  JrePage(UserInterface& ui, const UIResources& resources, InstallInfo& info, JRELookup& lookup)
      : PathPage(ui, resources, info), lookup_(lookup) {}
  int templateId() const override { return IDD_JRE; }
  bool onInitPage() override;
  // An empty path selects the first candidate; another path is examined and
  // becomes a candidate, or is refused with warning 1308 or 1495.
  void refreshPath() override;
  bool acceptBrowsedPath() override { return true; }
  void onListSelection() override;

private:
  JRELookup& lookup_;
};

// Template IDD_UPDATE_LOCATION: the folder of the installed product an update
// applies to, from the lookup's candidates or a folder the user names that
// holds the product.
class UpdateDestinationPage : public PathPage {
public:
  UpdateDestinationPage(UserInterface& ui, const UIResources& resources, InstallInfo& info,
                        PrimaryLookup& lookup)
      : PathPage(ui, resources, info), lookup_(lookup) {}
  int templateId() const override { return IDD_UPDATE_LOCATION; }
  bool onInitPage() override;
  void refreshPath() override;
  // With a detected installation, browsing elsewhere asks 1575 first.
  void onBrowse() override;
  bool acceptBrowsedPath() override { return holdsPrimary(true); }
  void onListSelection() override;
  void onNext() override;

private:
  // The path holds every marker file of the product and is one of the
  // lookup's locations; otherwise false, with warning 1310 if `warn`.
  bool holdsPrimary(bool warn);

  PrimaryLookup& lookup_;
  int detectedIndex_ = -1;
};

}  // namespace corv
