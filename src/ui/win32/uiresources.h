// The UI resource library "xinstres.dll" and the GDI objects the wizard
// draws with. One instance at a time: the wizard's begin creates it and its
// end destroys it. While it exists, messages 1412-1699 come from the
// library's string table.
#pragma once

#include "util/win32/corvwindows.h"

#include <optional>

#include "util/file.h"
#include "util/win32/handles.h"
#include "util/xstring.h"

namespace corv {

class UIResources {
public:
  // Loads "xinstres.dll" from `auxiliaryFolder` and, when the package names
  // one, the splash picture file from the same folder. A missing library
  // leaves every handle null: the first dialog or library message then fails
  // with the message lookup's FatalError. A missing splash file leaves
  // splashPicture null. A second instance while one exists is an assertion
  // failure.
  UIResources(const Directory& auxiliaryFolder, const OptString& splashFile);
  UIResources(const UIResources&) = delete;
  UIResources& operator=(const UIResources&) = delete;
  // Deletes the brush and the pictures, forgets the library's messages and
  // frees the library.
  ~UIResources();

  HMODULE library() const { return library_.get(); }
  HBRUSH whiteBrush() const { return whiteBrush_.get(); }
  HICON windowIcon() const { return windowIcon_; }
  HICON messageIcon() const { return messageIcon_; }
  HBITMAP headerPicture() const { return headerPicture_.get(); }
  HBITMAP welcomePicture() const { return welcomePicture_.get(); }
  HBITMAP finishPicture() const { return finishPicture_.get(); }
  HBITMAP splashPicture() const { return splashPicture_.get(); }
  // Where the wizard's pages stand: the top left corner of the last page
  // that closed, none before the first. It lasts as long as the wizard, as
  // these resources do.
  std::optional<POINT> pagePosition() const { return pagePosition_; }
  void setPagePosition(POINT corner) const { pagePosition_ = corner; }

private:
  win32::UniqueModule library_;
  win32::UniqueGdiObject<HBRUSH> whiteBrush_;
  HICON windowIcon_ = nullptr;
  HICON messageIcon_ = nullptr;
  win32::UniqueGdiObject<HBITMAP> headerPicture_;
  win32::UniqueGdiObject<HBITMAP> welcomePicture_;
  win32::UniqueGdiObject<HBITMAP> finishPicture_;
  win32::UniqueGdiObject<HBITMAP> splashPicture_;
  mutable std::optional<POINT> pagePosition_;
};

}  // namespace corv
