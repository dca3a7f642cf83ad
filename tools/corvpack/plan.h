// From a read description to what the installer writer needs: the main
// files found in the product folder, the auxiliary files, and the record.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "description.h"
#include "packagewriter.h"

namespace corv::pack {

// The files that the build of the installer provides.
struct Toolset {
  std::filesystem::path stub;                        // installer.exe
  std::optional<std::filesystem::path> uiLibrary;    // xinstres.dll
  std::optional<std::filesystem::path> folderLibrary;  // shfolder.dll
  std::optional<std::filesystem::path> uninstaller;    // uninstall.exe
};

struct PlanOptions {
  int level = 6;
  // Files modified later than this time are packed with this time
  // (SOURCE_DATE_EPOCH), so that a rebuilt product packs the same bytes.
  std::optional<int64_t> timeLimit;
};

// The main files of a product folder: every folder and file below it in a
// fixed order (names sorted by their bytes, a folder before its contents),
// with modification times (folders 0) and sizes, leaving out whatever
// matches one of the `exclude` patterns. Symbolic links are followed as long
// as what is packed, links resolved, lies in one of `within` (when given).
// Throws DescriptionError for names that cannot be Windows file names,
// names equal but for letter case, times outside the 32-bit range, folders
// that cannot be read, and files or folders outside `within`.
std::vector<PackageFile> CollectProductFiles(const std::filesystem::path& folder,
                                             const std::vector<std::string>& exclude,
                                             const std::optional<int64_t>& timeLimit,
                                             const std::vector<std::filesystem::path>& within = {});

// The whole plan. Adds to `warnings` the references of the description
// (shortcut targets, programs, the uninstaller...) that name no file of the
// package. Throws DescriptionError as CollectProductFiles does, when an
// auxiliary file cannot be read, and when the description asks for the
// built-in uninstaller but the toolset has none or the product holds a file
// or folder in its place.
PackagePlan MakePlan(const Description& description, const Toolset& tools, const PlanOptions& options,
                     std::vector<Diagnostic>& warnings);

// The name of an auxiliary file in the package.
inline constexpr char kBindScriptName[] = "xbind.script";
inline constexpr char kUiLibraryName[] = "xinstres.dll";
inline constexpr char kFolderLibraryName[] = "shfolder.dll";

}  // namespace corv::pack
