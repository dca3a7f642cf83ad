// The edit of "wininit.ini" through which Windows 95/98/Me deletes the
// uninstaller's copy at the next start.
#include "infrastructure/wininit.h"

#include <gtest/gtest.h>

namespace corv {
namespace {

TEST(Wininit, ADeletionJoinsTheRenameSectionAndKeepsEverythingElse) {
  // No file yet: the section is made.
  EXPECT_EQ(AddWininitDeletion("", "C:\\WINDOWS\\TEMP\\CORVUN~1\\UNINST~1.EXE"),
            "[rename]\r\nNUL=C:\\WINDOWS\\TEMP\\CORVUN~1\\UNINST~1.EXE\r\n");
  // A section in another case, with an entry of the same key: both stay,
  // the new one first; other sections and a last line without its end too.
  const AnsiString earlier = "[Other]\r\nA=1\r\n  [RENAME] \r\nNUL=C:\\OLD.EXE\r\n[Last]\r\nB=2";
  EXPECT_EQ(AddWininitDeletion(earlier, "C:\\NEW.EXE"),
            "[Other]\r\nA=1\r\n  [RENAME] \r\nNUL=C:\\NEW.EXE\r\nNUL=C:\\OLD.EXE\r\n[Last]\r\nB=2");
  // A file without the section, ending without a line end.
  EXPECT_EQ(AddWininitDeletion("[Other]\nA=1", "C:\\X.EXE"), "[Other]\nA=1\r\n[rename]\r\nNUL=C:\\X.EXE\r\n");
  // A header on the last line without its line end.
  EXPECT_EQ(AddWininitDeletion("[rename]", "C:\\X.EXE"), "[rename]\r\nNUL=C:\\X.EXE\r\n");
}

}  // namespace
}  // namespace corv
