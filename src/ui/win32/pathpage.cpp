#include "ui/win32/pathpage.h"

#include <shlobj.h>

#include <exception>
#include <string>
#include <vector>

#include "kernel/installinfo.h"
#include "kernel/jrelookup.h"
#include "kernel/primarylookup.h"
#include "kernel/tempfolder.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "util/filesys.h"
#include "util/messages.h"
#include "util/win32/handles.h"

namespace corv {

namespace {

// ---- The folder browser.

// What the browser's callback and its extended window share.
struct BrowseRecord {
  UserInterface& ui;
  AnsiString path;
  bool accepted = false;
  std::exception_ptr failure;
};

constexpr const char* kExtensionProperty = "WndExtensionData";
constexpr const char* kRecordProperty = "WndExtensionRecord";
constexpr int kPathEdit = 0x3F01;

// The system's procedure of the browser window, kept by the first
// replacement.
WNDPROC g_browseProc = nullptr;

HWND PathEdit(HWND dialog) { return static_cast<HWND>(GetPropA(dialog, kExtensionProperty)); }

AnsiString WindowText(HWND window) {
  int length = GetWindowTextLengthA(window);
  AnsiString text(static_cast<size_t>(length) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(window, &text[0], length + 1)));
  return text;
}

bool HasNonBlank(const AnsiString& text) { return text.find_first_not_of(' ') != AnsiString::npos; }

// OK takes the edit's text; a path where no folder can be made is refused
// with 1422 and the browser stays open.
bool AcceptTypedPath(HWND dialog, BrowseRecord& record) {
  AnsiString text = WindowText(PathEdit(dialog)).substr(0, kMaxPathBytes);
  record.path = text;
  if (!FileSys::CanCreateFolder(text)) {
    record.ui.showMessage(Severity::Warning, FormatMessageText(msg::kInvalidPath, ToWide(text)));
    return false;
  }
  record.accepted = true;
  return true;
}

LRESULT CALLBACK BrowseWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* record = static_cast<BrowseRecord*>(GetPropA(dialog, kRecordProperty));
  HWND edit = PathEdit(dialog);
  if (message == WM_COMMAND && record && edit) {
    try {
      if (reinterpret_cast<HWND>(lParam) == edit && HIWORD(wParam) == EN_CHANGE) {
        SendMessageA(dialog, BFFM_ENABLEOK, 0, HasNonBlank(WindowText(edit)) ? TRUE : FALSE);
        return 0;
      }
      if (LOWORD(wParam) == IDOK && !AcceptTypedPath(dialog, *record)) return 0;
    } catch (...) {
      // Nothing may unwind through the system's window code: the browser
      // closes and the failure is raised again once it has.
      if (!record->failure) record->failure = std::current_exception();
      record->accepted = false;
      return CallWindowProcA(g_browseProc, dialog, WM_COMMAND, IDCANCEL, 0);
    }
  }
  if (message == WM_DESTROY) {
    RemovePropA(dialog, kExtensionProperty);
    RemovePropA(dialog, kRecordProperty);
  }
  return CallWindowProcA(g_browseProc, dialog, message, wParam, lParam);
}

HWND TreeOf(HWND dialog) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char name[32] = "";
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "SysTreeView32") == 0) return child;
  }
  return nullptr;
}

// Adds "&Path:" with its edit and "&Folders:" above the tree, which moves
// down to make room.
void ExtendBrowser(HWND dialog, BrowseRecord& record) {
  HWND tree = TreeOf(dialog);
  if (!tree) return;
  auto previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(BrowseWindowProc)));
  if (!g_browseProc) g_browseProc = previous;
  RECT box;
  GetWindowRect(tree, &box);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&box), 2);
  int h = HIWORD(GetDialogBaseUnits());
  int top = box.top;
  int left = box.left;
  int width = box.right - box.left;
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE));
  auto font = static_cast<WPARAM>(SendMessageA(dialog, WM_GETFONT, 0, 0));
  auto make = [&](DWORD exStyle, const char* kind, const AnsiString& text, DWORD style, int y, int height, int id) {
    HWND control = CreateWindowExA(exStyle, kind, text.c_str(), WS_CHILD | WS_VISIBLE | style, left, y, width,
                                   height, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                                   nullptr);
    SendMessageA(control, WM_SETFONT, font, TRUE);
    return control;
  };
  make(0, "Static", FormatMessageText(msg::kPathLabel), 0, top - h + 2, h, -1);
  HWND edit = make(WS_EX_CLIENTEDGE, "Edit", record.path, WS_TABSTOP | ES_AUTOHSCROLL, top + 4, h + 4, kPathEdit);
  SendMessageA(edit, EM_LIMITTEXT, kMaxPathBytes, 0);
  make(0, "Static", FormatMessageText(msg::kFoldersLabel), 0, top + h + 11, h, -1);
  int treeTop = top + 2 * h + 13;
  SetWindowPos(tree, nullptr, left, treeTop, width, box.bottom - treeTop, SWP_NOZORDER);
  SetPropA(dialog, kExtensionProperty, edit);
  SetPropA(dialog, kRecordProperty, &record);
  if (!record.path.empty()) SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(record.path.c_str()));
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kPathEdit, EN_CHANGE), reinterpret_cast<LPARAM>(edit));
}

int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM lParam, LPARAM data) {
  auto& record = *reinterpret_cast<BrowseRecord*>(data);
  try {
    if (message == BFFM_INITIALIZED) {
      ExtendBrowser(dialog, record);
    } else if (message == BFFM_SELCHANGED) {
      char path[MAX_PATH] = "";
      bool hasPath = lParam && SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(lParam), path);
      if (!hasPath) path[0] = '\0';
      if (HWND edit = PathEdit(dialog)) SetWindowTextA(edit, path);
      SendMessageA(dialog, BFFM_ENABLEOK, 0, hasPath ? TRUE : FALSE);
    }
  } catch (...) {
    if (!record.failure) record.failure = std::current_exception();
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  }
  return 0;
}

// The main files' sizes, as the space figures count them.
std::vector<int64_t> MainFileSizes(const InstallInfo& info) {
  std::vector<int64_t> sizes;
  const FilesPackage& files = info.mainFiles();
  sizes.reserve(files.count());
  for (size_t i = 0; i < files.count(); ++i) sizes.push_back(files.entry(i).size);
  return sizes;
}

XString Decimal(uint64_t value) { return FromUtf8(std::to_string(value)); }

}  // namespace

bool BrowseForFolder(const AnsiString& title, AnsiString& path, HWND owner, UserInterface& ui) {
  BrowseRecord record{ui, path, false, nullptr};
  BROWSEINFOA browse = {};
  browse.hwndOwner = owner;
  browse.lpszTitle = title.c_str();
  browse.ulFlags = BIF_RETURNONLYFSDIRS;
  browse.lpfn = BrowseCallback;
  browse.lParam = reinterpret_cast<LPARAM>(&record);
  LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
  if (chosen) {
    win32::ComPtr<IMalloc> allocator;
    if (SUCCEEDED(SHGetMalloc(allocator.out()))) allocator->Free(chosen);
  }
  if (record.failure) std::rethrow_exception(record.failure);
  // A typed folder need not exist yet, so the shell may return no item for
  // it: what counts is that OK took the edit's text.
  if (!record.accepted) return false;
  path = record.path;
  return true;
}

// ---- PathPage

void PathPage::onBrowse() {
  AnsiString chosen = pathBuffer_;
  if (!BrowseForFolder(FormatMessageText(msg::kChoosePath), chosen, hwnd(), ui())) return;
  // The page's path changes only when the page takes the folder: a refused
  // one must not be checked or stored in its place.
  AnsiString previous = pathBuffer_;
  setPath(chosen);
  if (acceptBrowsedPath()) {
    refreshPath();
  } else {
    pathBuffer_ = previous;
  }
}

INT_PTR PathPage::defaultHandler(UINT message, WPARAM wParam, LPARAM) {
  if (message != WM_COMMAND) return 0;
  int control = LOWORD(wParam);
  int notification = HIWORD(wParam);
  if (control == IDC_BROWSE_BUTTON && notification == BN_CLICKED) {
    onBrowse();
  } else if (control == IDC_CANDIDATE_LIST && (notification == LBN_SELCHANGE || notification == LBN_DBLCLK)) {
    onListSelection();
  }
  return 0;
}

void PathPage::addListItem(const XString& text) {
  SendDlgItemMessageA(hwnd(), IDC_CANDIDATE_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ToAnsi(text).c_str()));
}

void PathPage::selectListItem(int index) {
  SendDlgItemMessageA(hwnd(), IDC_CANDIDATE_LIST, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  onListSelection();
}

int PathPage::currentListItem() const {
  LRESULT index = SendDlgItemMessageA(hwnd(), IDC_CANDIDATE_LIST, LB_GETCURSEL, 0, 0);
  return index == LB_ERR ? -1 : static_cast<int>(index);
}

void PathPage::showSpace() {
  if (!item(IDC_REQUIRED_VALUE)) return;
  SetDlgItemTextA(hwnd(), IDC_PATH_TEXT, pathBuffer_.c_str());
  XString folder = path();
  OptString root = FileSys::RootOfPath(folder);
  if (!root) root = FileSys::RootOfPath(FileSys::CurrentFolder().widePath());
  XString drive = root.value_or(XString());
  setItemMessage(IDC_REQUIRED_LABEL, msg::kSpaceRequired, drive);
  setItemMessage(IDC_AVAILABLE_LABEL, msg::kSpaceAvailable, drive);
  setItemMessage(IDC_REQUIRED_VALUE, msg::kKilobytes,
                 Decimal(FileSys::RequiredSpace(folder, MainFileSizes(info_)) / 1024));
  setItemMessage(IDC_AVAILABLE_VALUE, msg::kKilobytes, Decimal(FileSys::FreeSpace(folder) / 1024));
}

void PathPage::checkSpaceAndProceed() {
  CORV_ASSERT(!pathBuffer_.empty());
  XString folder = path();
  if (FileSys::HasEnoughSpace(folder, FileSys::RequiredSpace(folder, MainFileSizes(info_)))) {
    endPage(PageResult::Next);
    return;
  }
  OptString root = FileSys::RootOfPath(folder);
  CORV_ASSERT(root.has_value());
  ui().showMessage(Severity::Warning, FormatMessageText(msg::kNotEnoughSpace, *root));
}

// ---- DestinationPage

bool DestinationPage::onInitPage() {
  setItemMessage(IDC_HEADER, msg::kDestinationHeader);
  setItemMessage(IDC_SUBHEADER, msg::kDestinationSubheader);
  setItemMessage(IDC_BROWSE_BUTTON, msg::kBrowse);
  setItemMessage(IDC_FOLDER_GROUP, msg::kDestinationGroup);
  bool fixed = info().record().destinationFixed;
  setItemMessage(IDC_TEXT, msg::kDestinationText, info().record().packageName.value_or(XString()),
                 fixed ? XString() : FormatMessageTextWide(msg::kDestinationBrowseHint));
  if (const auto& destination = info().choices().destination) setPath(destination->widePath());
  if (fixed) {
    enableItem(IDC_PATH_TEXT, false);
    enableItem(IDC_BROWSE_BUTTON, false);
  }
  refreshPath();
  return true;
}

void DestinationPage::refreshPath() {
  showSpace();
  bool chosen = !pathBuffer().empty();
  info().choices().setDestination(chosen ? OptString(path()) : OptString());
  // A package without a default destination waits for a folder.
  enableItem(IDC_NEXT_BUTTON, chosen);
}

bool DestinationPage::acceptBrowsedPath() {
  XString folder = path();
  if (!Directory(folder).exists() || FileSys::IsFolderEmpty(folder)) return true;
  return ui().askYesNo(FormatMessageText(msg::kWarning), FormatMessageText(msg::kDestinationNotEmpty, folder)) ==
         YesNoAnswer::Yes;
}

// ---- JrePage

bool JrePage::onInitPage() {
  const XString& version = lookup_.requiredVersion();
  setItemMessage(IDC_HEADER, msg::kJreHeader);
  setItemMessage(IDC_SUBHEADER, msg::kJreSubheader);
  setItemMessage(IDC_BROWSE_BUTTON, msg::kBrowse);
  setItemMessage(IDC_FOLDER_GROUP, msg::kJreGroup);
  setItemMessage(IDC_TEXT, msg::kJreText, version, version, version);
  lookup_.searchRegistry();
  for (int i = 0; i < lookup_.candidateCount(); ++i) addListItem(lookup_.candidate(i));
  if (lookup_.candidateCount() == 0) enableItem(IDC_NEXT_BUTTON, false);
  if (const OptString& chosen = info().choices().jreFolder) setPath(*chosen);
  refreshPath();
  return true;
}

void JrePage::refreshPath() {
  if (pathBuffer().empty()) {
    setItemText(IDC_PATH_TEXT, XString());
    selectListItem(0);
    return;
  }
  XString folder = path();
  int listed = lookup_.candidateCount();
  int index = lookup_.consider(folder);
  if (index == JRELookup::kWrongVersion) {
    ui().showMessage(Severity::Warning, FormatMessageText(msg::kJreWrongVersion, folder, lookup_.requiredVersion()));
  } else if (index < 0) {
    ui().showMessage(Severity::Warning, FormatMessageText(msg::kNoJreInFolder, folder));
  } else {
    if (lookup_.candidateCount() > listed) addListItem(lookup_.candidate(index));
    selectListItem(index);
  }
}

void JrePage::onListSelection() {
  int index = currentListItem();
  if (index < 0) {
    enableItem(IDC_NEXT_BUTTON, false);
    return;
  }
  enableItem(IDC_NEXT_BUTTON, true);
  const XString& folder = lookup_.candidate(index);
  info().choices().setJreFolder(folder, false);
  setItemText(IDC_PATH_TEXT, folder);
}

// ---- UpdateDestinationPage

bool UpdateDestinationPage::onInitPage() {
  setItemMessage(IDC_HEADER, msg::kUpdateLocationHeader);
  setItemMessage(IDC_SUBHEADER, msg::kUpdateLocationSubheader);
  setItemMessage(IDC_BROWSE_BUTTON, msg::kBrowse);
  setItemMessage(IDC_FOLDER_GROUP, msg::kUpdateLocationGroup);
  setItemMessage(IDC_TEXT, msg::kUpdateLocationText, info().record().productOrPackageName().value_or(XString()));
  lookup_.search();
  refreshPath();
  selectListItem(0);
  return true;
}

void UpdateDestinationPage::refreshPath() {
  int selection = currentListItem();
  SendDlgItemMessageA(hwnd(), IDC_CANDIDATE_LIST, LB_RESETCONTENT, 0, 0);
  if (!pathBuffer().empty()) {
    int index = lookup_.consider(path());
    if (index >= 0) selection = index;
  }
  detectedIndex_ = -1;
  for (int i = 0; i < lookup_.candidateCount(); ++i) {
    XString candidate = lookup_.candidate(i);
    if (detectedIndex_ == -1 && lookup_.consider(candidate) >= 0) detectedIndex_ = i;
    addListItem(candidate);
  }
  selectListItem(selection);
  showSpace();
}

void UpdateDestinationPage::onListSelection() {
  int index = currentListItem();
  if (index < 0) {
    setItemText(IDC_PATH_TEXT, XString());
    enableItem(IDC_NEXT_BUTTON, false);
    setPath(AnsiString());
    return;
  }
  enableItem(IDC_NEXT_BUTTON, true);
  XString folder = lookup_.candidate(index);
  info().choices().setDestination(folder);
  setPath(folder);
  setItemText(IDC_PATH_TEXT, folder);
  showSpace();
}

void UpdateDestinationPage::onBrowse() {
  if (detectedIndex_ != -1 &&
      ui().askYesNo(FormatMessageText(msg::kWarning),
                    FormatMessageText(msg::kUpdateLocationDetected, lookup_.candidate(detectedIndex_))) !=
          YesNoAnswer::Yes) {
    return;
  }
  PathPage::onBrowse();
}

void UpdateDestinationPage::onNext() {
  selectListItem(currentListItem());
  if (holdsPrimary(true)) checkSpaceAndProceed();
}

bool UpdateDestinationPage::holdsPrimary(bool warn) {
  if (!pathBuffer().empty() && lookup_.consider(path()) != -1) return true;
  if (warn) {
    const OptString& primary = info().record().primaryName;
    CORV_ASSERT(primary.has_value());
    ui().showMessage(Severity::Warning,
                     FormatMessageText(msg::kPrimaryNotInFolder, info().record().packageName.value_or(XString()),
                                       *primary));
  }
  return false;
}

}  // namespace corv
