#include "kernel/jrelookup.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "scratch.h"
#include "util/exceptions.h"
#include "util/file.h"

namespace corv {
namespace {

RecordJreCheck Present(const char16_t* path, int64_t size) { return RecordJreCheck{path, size}; }
RecordJreCheck Absent(const char16_t* path) { return RecordJreCheck{path, -1}; }

// A runtime layout: bin\java.exe of 5 bytes and lib\rt.jar of 3, without
// bin\old.dll.
RecordJreGroup RuntimeLayout() {
  RecordJreGroup group;
  group.checks = {Present(u"bin\\java.exe", 5), Present(u"lib\\rt.jar", 3), Absent(u"bin\\old.dll")};
  return group;
}

class JRELookupTest : public ::testing::Test {
protected:
  // Puts a runtime of the layout above into `relative`, java.exe of
  // `javaSize` bytes.
  void runtime(const std::string& relative, size_t javaSize = 5) {
    scratch.writeFile(relative + "/bin/java.exe", std::string(javaSize, 'j'));
    scratch.writeFile(relative + "/lib/rt.jar", "jar");
  }

  JRELookup lookup(std::vector<RecordJreGroup> groups, XString version = u"1.4.2_05") {
    RecordJreRequirement requirement;
    requirement.version = std::move(version);
    requirement.groups = std::move(groups);
    return JRELookup(requirement, [this](const XString& key, bool currentUser) -> OptString {
      auto found = registry.find({ToUtf8(key), currentUser});
      if (found == registry.end()) return std::nullopt;
      return found->second;
    });
  }

  ScratchFolder scratch;
  // "JavaHome" values by key and root (true: the current user's).
  std::map<std::pair<std::string, bool>, XString> registry;
};

TEST_F(JRELookupTest, RegistrySearchFindsEachRuntimeOnceUnderTheCutVersions) {
  runtime("jdk/jre");
  runtime("plain");
  scratch.writeFile("broken/bin/java.exe", "jjjjj");  // lib\rt.jar is missing
  // A JDK whose runtime is its "jre" subfolder, under the full version.
  registry[{"SOFTWARE\\JavaSoft\\Java Development Kit\\1.4.2_05", false}] = scratch.path(u"jdk");
  // The same runtime under another key, by its own path; and a runtime
  // found under the version cut at "_" for the user, then at "." for the
  // machine.
  registry[{"SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.4.2", true}] = scratch.path(u"jdk\\jre");
  registry[{"SOFTWARE\\JavaSoft\\Java Plug-in\\1.4.2", true}] = scratch.path(u"broken");
  registry[{"SOFTWARE\\JavaSoft\\Java Plug-in\\1.4", false}] = scratch.path(u"plain");
  // Shorter versions than the two cuts are not searched.
  runtime("one");
  registry[{"SOFTWARE\\JavaSoft\\Java Runtime Environment\\1", false}] = scratch.path(u"one");

  JRELookup jres = lookup({RuntimeLayout()});
  jres.searchRegistry();
  ASSERT_EQ(jres.candidateCount(), 2);
  EXPECT_EQ(jres.candidate(0), scratch.path(u"jdk\\jre"));
  EXPECT_EQ(jres.candidate(1), scratch.path(u"plain"));
  EXPECT_THROW(jres.candidate(2), AssertionFailedError);
  EXPECT_THROW(jres.candidate(-1), AssertionFailedError);

  // A folder named again, or by its JDK folder, is the same candidate.
  EXPECT_EQ(jres.consider(scratch.path(u"jdk")), 0);
  EXPECT_EQ(jres.consider(scratch.path(u"plain")), 1);
  EXPECT_EQ(jres.candidateCount(), 2);
}

TEST_F(JRELookupTest, AVersionWithoutSeparatorsIsSearchedAsItIs) {
  runtime("six");
  registry[{"SOFTWARE\\JavaSoft\\Java Runtime Environment\\6", true}] = scratch.path(u"six");
  JRELookup jres = lookup({RuntimeLayout()}, u"6");
  jres.searchRegistry();
  ASSERT_EQ(jres.candidateCount(), 1);
  EXPECT_EQ(jres.candidate(0), scratch.path(u"six"));
}

TEST_F(JRELookupTest, ConsiderTellsAnotherVersionFromNoRuntime) {
  runtime("older", 4);
  runtime("stale");
  scratch.writeFile("stale/bin/old.dll", "");  // must be absent: even empty, it differs
  runtime("empty/jre", 4);
  scratch.writeFile("nothing/readme.txt", "x");

  JRELookup jres = lookup({RuntimeLayout()});
  EXPECT_EQ(jres.consider(scratch.path(u"older")), JRELookup::kWrongVersion);
  EXPECT_EQ(jres.consider(scratch.path(u"stale")), JRELookup::kWrongVersion);
  EXPECT_EQ(jres.consider(scratch.path(u"empty")), JRELookup::kWrongVersion);
  EXPECT_EQ(jres.consider(scratch.path(u"nothing")), JRELookup::kNoJre);
  EXPECT_EQ(jres.consider(scratch.path(u"missing")), JRELookup::kNoJre);
  EXPECT_EQ(jres.candidateCount(), 0);

  // With a second layout that the older runtime meets, it is accepted.
  RecordJreGroup older;
  older.checks = {Present(u"bin\\java.exe", 4)};
  JRELookup two = lookup({RuntimeLayout(), older});
  EXPECT_EQ(two.consider(scratch.path(u"older")), 0);
  EXPECT_EQ(two.candidate(0), scratch.path(u"older"));
  // A layout without files, or no layout at all, accepts any folder.
  JRELookup any = lookup({RecordJreGroup()});
  EXPECT_EQ(any.consider(scratch.path(u"nothing")), 0);
  JRELookup none = lookup({});
  EXPECT_EQ(none.consider(scratch.path(u"nothing")), 0);
}

TEST_F(JRELookupTest, MatchesAnswersExactOtherOrNone) {
  runtime("rt");
  Directory folder(scratch.path(u"rt"));
  EXPECT_EQ(JRELookup::matches(RuntimeLayout(), folder), JRELookup::kExactMatch);
  RecordJreGroup bigger;
  bigger.checks = {Present(u"bin\\java.exe", 6), Present(u"lib\\rt.jar", 3)};
  EXPECT_EQ(JRELookup::matches(bigger, folder), JRELookup::kOtherVersion);
  // A missing file decides at once, even after a difference.
  bigger.checks.push_back(Present(u"lib\\tools.jar", 1));
  EXPECT_EQ(JRELookup::matches(bigger, folder), JRELookup::kNoMatch);
  EXPECT_EQ(JRELookup::matches(RecordJreGroup(), Directory(scratch.path(u"none"))), JRELookup::kExactMatch);
}

}  // namespace
}  // namespace corv
