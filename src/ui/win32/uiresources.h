// The UI resource library "xinstres.dll" and the GDI objects the wizard
// draws with. One instance at a time: the wizard's begin creates it and its
// end destroys it. While it exists, messages 1412-1699 come from the
// library's string table.
#pragma once

#include "util/win32/corvwindows.h"

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
  HBRUSH whiteBrush() const { return whiteBrush_; }
  HICON windowIcon() const { return windowIcon_; }
  HICON messageIcon() const { return messageIcon_; }
  HBITMAP headerPicture() const { return headerPicture_; }
  HBITMAP welcomePicture() const { return welcomePicture_; }
  HBITMAP finishPicture() const { return finishPicture_; }
  HBITMAP splashPicture() const { return splashPicture_; }

private:
  win32::UniqueModule library_;
  HBRUSH whiteBrush_ = nullptr;
  HICON windowIcon_ = nullptr;
  HICON messageIcon_ = nullptr;
  HBITMAP headerPicture_ = nullptr;
  HBITMAP welcomePicture_ = nullptr;
  HBITMAP finishPicture_ = nullptr;
  HBITMAP splashPicture_ = nullptr;
};

}  // namespace corv
