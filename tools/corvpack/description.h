// The package description: a TOML file that says everything the installer's
// record holds, with defaults for the common case (docs/package-format.md).
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "identity.h"
#include "kernel/recordchecks.h"

namespace corv::pack {

// The file name of the build's uninstaller, and its default place in the
// destination.
inline constexpr char16_t kBuiltinUninstallerName[] = u"uninstall.exe";

// One problem found in a description, located in its file.
struct Diagnostic {
  std::string file;
  int line = 0;  // 0: the file as a whole
  int column = 0;
  std::string key;  // "shortcut[1].location"; empty for a syntax error
  std::string message;
  bool warning = false;

  // "package.toml:12:3: error: shortcut[1].location: ..."
  std::string text() const;
};

// A description that cannot be used: every error found, in file order.
class DescriptionError : public std::runtime_error {
public:
  explicit DescriptionError(std::vector<Diagnostic> problems);
  const std::vector<Diagnostic>& problems() const { return problems_; }

private:
  std::vector<Diagnostic> problems_;
};

// A description, read and checked. Paths are made absolute against the
// description's folder.
struct Description {
  std::filesystem::path file;
  // Every value of the record but the two blocks.
  InstallRecord record;
  // The product folder whose tree makes the main files, and the patterns
  // of what to leave out of it (matched against paths relative to the
  // folder, with "/" between components).
  std::filesystem::path productFolder;
  std::vector<std::string> exclude;
  // The folders every file and folder packed must lie in, links resolved:
  // the description's own, and the product folder where --product names
  // it; none when the vendor lets it pack files from anywhere
  // (--allow-outside).
  std::vector<std::filesystem::path> packableFolders;
  // Sources of the auxiliary files the description names.
  std::optional<std::filesystem::path> bindScript;
  std::optional<std::filesystem::path> hookLibrary;
  std::optional<std::filesystem::path> wizardBitmap;
  // The vendor's own UI resource library, replacing the build's.
  std::optional<std::filesystem::path> uiLibrary;
  // What the installer's own version resource and icon say; the product
  // name is set, the file name is the builder's to set.
  Identity identity;
  // The build's uninstaller goes among the main files, as the record's
  // uninstaller (by default kBuiltinUninstallerName in the destination).
  bool builtinUninstaller = false;
  // Where things were said, for messages about them found later: the
  // place of each key path's value ("shortcut[0].target" -> 14:10).
  struct KeyPlace {
    std::string key;
    int line = 0;
    int column = 0;
  };
  std::vector<KeyPlace> keyPlaces;
  // Warnings found while reading.
  std::vector<Diagnostic> warnings;

  // Where `key` was given; none if it was not.
  const KeyPlace* placeOf(const std::string& key) const;
  // A problem or warning `message` at `key`, where it was given.
  Diagnostic at(const std::string& key, const std::string& message, bool warning = false) const;
};

// `fault`, found by the packager's record checks in the record of `d`, as
// the problem of the key that gave the value: where the value came from
// another key (the product key from the package name, a working folder
// from the target), that key's, saying what the value became.
Diagnostic RecordProblem(const Description& d, const RecordFault& fault);

// True when `path` is `folder` or lies below it, compared component by
// component as they are: resolve their links first.
bool IsWithin(const std::filesystem::path& path, const std::filesystem::path& folder);

// Reads the description `file`. `productFolder`, when given, replaces the
// description's [files] source. Throws DescriptionError listing every
// problem: TOML syntax, unknown sections and keys (with the closest known
// one), values of the wrong type or out of range, missing required keys,
// names that could leave their folder or are no valid Windows file names,
// line breaks in texts that install.log keeps, texts longer than the
// installer can write (see TextLimit), every other value the installer's
// record checks refuse (FindRecordFaults), files that cannot be read, a
// version that is no dotted number, an icon that is no usable .ico file,
// and files or folders outside the description's folder unless
// `allowOutside`.
Description ReadDescription(const std::filesystem::path& file,
                            const std::optional<std::filesystem::path>& productFolder = std::nullopt,
                            bool allowOutside = false);

// The same from text, for tests: `file` only names it in messages and is
// the base of relative paths.
Description ParseDescription(const std::string& text, const std::filesystem::path& file,
                             const std::optional<std::filesystem::path>& productFolder = std::nullopt,
                             bool allowOutside = false);

}  // namespace corv::pack
