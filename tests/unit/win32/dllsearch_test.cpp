#include "util/win32/dllsearch.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "scratch.h"
#include "util/exceptions.h"

namespace corv {
namespace {

// A library planted in the current folder, as in a downloads folder, is
// found by its bare name until the search is restricted; by its full path
// it still loads. (The restriction stays for the rest of the test program,
// which loads its libraries by full path or from the system folder.)
TEST(LibrarySearch, ThePlantedLibraryIsNoLongerFoundByName) {
  ScratchFolder planted;
  std::filesystem::copy_file(CORV_SHFOLDER_DLL, planted.native("corvplanted.dll"));
  char saved[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, saved), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(ToAnsi(planted.path()).c_str()));

  win32::UniqueModule before(LoadLibraryA("corvplanted.dll"));
  EXPECT_TRUE(before) << "the current folder is searched at first";
  before.reset();
  win32::RestrictLibrarySearch();
  win32::UniqueModule after(LoadLibraryA("corvplanted.dll"));
  EXPECT_FALSE(after) << "found in the current folder after the restriction";
  after.reset();
  EXPECT_TRUE(win32::LoadLibraryAt(planted.path(u"corvplanted.dll")));
  EXPECT_TRUE(LoadLibraryA("kernel32.dll") != nullptr) << "the system folder is still searched";
  EXPECT_THROW(win32::LoadLibraryAt(u"corvplanted.dll"), AssertionFailedError);

  SetCurrentDirectoryA(saved);
}

}  // namespace
}  // namespace corv
