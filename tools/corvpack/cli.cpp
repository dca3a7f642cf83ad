#include "cli.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iomanip>
#include <map>
#include <ostream>
#include <sstream>

#include "description.h"
#include "installerreader.h"
#include "kernel/installrecordlayout.h"
#include "packagewriter.h"
#include "plan.h"
#include "util/exceptions.h"

namespace corv::pack {

namespace fs = std::filesystem;

namespace {

constexpr char kVersion[] = "corvpack 1.0";

// A text as UTF-8 that is safe on a terminal: control characters (which
// could move the cursor, rewrite earlier lines or start terminal commands)
// and the characters that reverse the direction of text are shown as their
// code in angle brackets, "<1B>" or "<U+202E>"; neither bracket occurs in
// Windows file names.
std::string Printable(const XString& s) {
  XString safe;
  for (XChar c : s) {
    char code[16];
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      std::snprintf(code, sizeof code, "<%02X>", static_cast<unsigned>(c));
    } else if ((c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F) {
      std::snprintf(code, sizeof code, "<U+%04X>", static_cast<unsigned>(c));
    } else {
      safe += c;
      continue;
    }
    for (const char* p = code; *p; ++p) safe += static_cast<XChar>(*p);
  }
  return ToUtf8(safe);
}

// Writes one message, a line of its own. Whatever it quotes (names of
// files, values of the description, arguments) is shown as Printable shows
// it, so nothing of an installer, a product folder or a description writes
// to the terminal itself.
void Say(std::ostream& stream, const std::string& message) { stream << Printable(FromUtf8(message)) << "\n"; }

constexpr char kUsage[] =
    "Usage: corvpack COMMAND [OPTIONS]\n"
    "\n"
    "Builds installers for 32-bit Windows from a package description, and\n"
    "lists, checks and unpacks existing ones.\n"
    "\n"
    "Commands:\n"
    "  build DESCRIPTION.toml -o OUTPUT.exe  build an installer\n"
    "  list INSTALLER                        show the package inside an installer\n"
    "  verify INSTALLER                      decode every block and check it\n"
    "  extract INSTALLER -o FOLDER           write the installer's files into FOLDER\n"
    "\n"
    "Options of build:\n"
    "  -o, --output FILE       the installer to write (required)\n"
    "  -p, --product FOLDER    the product folder, instead of [files] source\n"
    "      --stub FILE         the installer program the package is appended to\n"
    "      --ui-library FILE   the UI resource library (xinstres.dll)\n"
    "      --no-ui-library     leave the UI resource library out\n"
    "      --shfolder FILE     the folder-path library (shfolder.dll)\n"
    "      --no-shfolder       leave the folder-path library out\n"
    "      --uninstaller FILE  the built-in uninstaller (uninstall.exe), for descriptions\n"
    "                          that ask for it\n"
    "  -l, --level N           compression level, 0 (fast) to 9 (small); default 6\n"
    "      --allow-outside     pack files from outside the description's folder, named\n"
    "                          there or reached through symbolic links\n"
    "      --sign KEY CERT     sign the installer (Authenticode, with osslsigncode) with\n"
    "                          the private key KEY and the certificate chain CERT (PEM)\n"
    "  -q, --quiet             print nothing but warnings and errors\n"
    "  Without --stub, --ui-library, --shfolder and --uninstaller the files are looked for\n"
    "  beside corvpack, in ../share/corvantis, and in the Windows build tree.\n"
    "\n"
    "Options of extract:\n"
    "  -o, --output FOLDER     where to write the files (required)\n"
    "      --auxiliary         write the auxiliary files instead of the main files\n"
    "\n"
    "Options of verify:\n"
    "  -q, --quiet             print nothing unless the installer is bad\n"
    "\n"
    "  -h, --help              show this text\n"
    "      --version           show the version\n"
    "\n"
    "Environment: SOURCE_DATE_EPOCH packs files changed after that time with\n"
    "that time, so that a rebuilt product gives the same installer.\n"
    "Exit codes: 0 success, 1 failure, 2 bad command line.\n"
    "The description format is documented in docs/package-format.md.\n";

struct UsageError {
  std::string message;
};

// The command line of one command: positional arguments and options.
struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;
  std::map<std::string, bool> flags;

  bool flag(const std::string& name) const { return flags.count(name) != 0; }
  const std::string* value(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
  }
};

struct OptionSpec {
  const char* longName;
  char shortName;
  bool takesValue;
  // A second value follows the first, kept as "NAME#2".
  bool takesTwo = false;
};

Arguments Parse(const std::string& command, const std::vector<std::string>& args,
                std::initializer_list<OptionSpec> specs) {
  Arguments out;
  bool optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      out.positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = a;
    std::string inlineValue;
    bool hasInline = false;
    if (a.compare(0, 2, "--") == 0) {
      size_t eq = a.find('=');
      if (eq != std::string::npos) {
        name = a.substr(0, eq);
        inlineValue = a.substr(eq + 1);
        hasInline = true;
      }
    }
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& s : specs) {
      if (name == std::string("--") + s.longName || (s.shortName && name == std::string("-") + s.shortName)) {
        spec = &s;
      }
    }
    if (!spec) throw UsageError{"unknown option " + name + " for " + command};
    std::string key = spec->longName;
    if (spec->takesValue) {
      if (hasInline) {
        out.values[key] = inlineValue;
      } else if (i + 1 < args.size()) {
        out.values[key] = args[++i];
      } else {
        throw UsageError{"option " + name + " needs a value"};
      }
      if (spec->takesTwo) {
        if (hasInline || i + 1 >= args.size()) throw UsageError{"option " + name + " needs two values"};
        out.values[key + "#2"] = args[++i];
      }
    } else {
      if (hasInline) throw UsageError{"option " + name + " takes no value"};
      out.flags[key] = true;
    }
  }
  return out;
}

std::string Bytes(uint64_t n) {
  std::ostringstream s;
  if (n < 10 * 1024) {
    s << n << (n == 1 ? " byte" : " bytes");
  } else if (n < 1024 * 1024) {
    s << std::fixed << std::setprecision(1) << n / 1024.0 << " KiB";
  } else {
    s << std::fixed << std::setprecision(1) << n / (1024.0 * 1024.0) << " MiB";
  }
  return s.str();
}

// A one-line progress display, redrawn in place on a terminal.
class TerminalProgress : public Progress {
public:
  TerminalProgress(std::ostream& err, std::string verb) : err_(err), verb_(std::move(verb)) {}
  ~TerminalProgress() override { clear(); }

  void update(const std::string& what, uint64_t done, uint64_t total) override {
    int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    if (what == what_ && percent == percent_) return;
    what_ = what;
    percent_ = percent;
    std::ostringstream line;
    line << "\r" << verb_ << " " << what << ": " << std::setw(3) << percent << "% (" << Bytes(done) << " of "
         << Bytes(total) << ")";
    std::string text = line.str();
    size_t width = text.size();
    if (width < shown_) text += std::string(shown_ - width, ' ');
    shown_ = width;
    err_ << text << std::flush;
  }

  void done(const std::string&) override {
    clear();
    what_.clear();
    percent_ = -1;
  }

private:
  void clear() {
    if (shown_ == 0) return;
    err_ << "\r" << std::string(shown_, ' ') << "\r" << std::flush;
    shown_ = 0;
  }

  std::ostream& err_;
  std::string verb_;
  std::string what_;
  int percent_ = -1;
  size_t shown_ = 0;
};

std::optional<fs::path> FindTool(const CliEnvironment& env, const std::string& name) {
  const fs::path candidates[] = {
      env.toolFolder,
      env.toolFolder / ".." / "share" / "corvantis",
      // The host build tree's tools/corvpack beside the Windows build tree.
      env.toolFolder / ".." / ".." / ".." / "win32" / "src",
  };
  for (const fs::path& dir : candidates) {
    std::error_code ec;
    fs::path p = (dir / name).lexically_normal();
    if (!env.toolFolder.empty() && fs::is_regular_file(p, ec)) return p;
  }
  return std::nullopt;
}

std::optional<fs::path> ToolOption(const Arguments& a, const CliEnvironment& env, const std::string& option,
                                   const std::string& noOption, const std::string& name) {
  if (a.flag(noOption)) {
    if (a.value(option)) throw UsageError{"--" + option + " and --" + noOption + " exclude each other"};
    return std::nullopt;
  }
  if (const std::string* v = a.value(option)) {
    std::error_code ec;
    if (!fs::is_regular_file(*v, ec)) throw UsageError{"--" + option + ": no such file: " + *v};
    return fs::path(*v);
  }
  return FindTool(env, name);
}

void PrintWarnings(const std::vector<Diagnostic>& warnings, std::ostream& err) {
  for (const Diagnostic& w : warnings) Say(err, w.text());
}

// Signs `input` into `output` with osslsigncode: an Authenticode signature
// (SHA-256) with the private key `key` and the certificate chain `cert`,
// both PEM files. The certificate table goes behind the package, where the
// installer finds its trailer all the same. The signed file is made new
// beside `output` and then takes its place. Throws std::runtime_error.
void SignInstaller(const fs::path& input, const fs::path& output, const std::string& key, const std::string& cert) {
  const fs::path signing = fs::path(output).concat(".signing");
  std::error_code ec;
  fs::remove(signing, ec);  // osslsigncode creates its output itself
  std::vector<std::string> words = {"osslsigncode", "sign", "-h", "sha256", "-certs", cert, "-key", key,
                                    "-in", input.string(), "-out", signing.string()};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Its report of success is not ours to print; its errors are.
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "osslsigncode", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    throw std::runtime_error("cannot run osslsigncode to sign the installer: " + std::string(std::strerror(spawned)));
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fs::remove(signing, ec);
    throw std::runtime_error("osslsigncode could not sign " + output.string());
  }
  fs::rename(signing, output, ec);
  if (ec) {
    fs::remove(signing, ec);
    throw std::runtime_error(output.string() + ": " + ec.message());
  }
}

int Build(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
  Arguments a = Parse("build", args,
                      {{"output", 'o', true},
                       {"product", 'p', true},
                       {"stub", 0, true},
                       {"ui-library", 0, true},
                       {"no-ui-library", 0, false},
                       {"shfolder", 0, true},
                       {"no-shfolder", 0, false},
                       {"uninstaller", 0, true},
                       {"level", 'l', true},
                       {"allow-outside", 0, false},
                       {"sign", 0, true, true},
                       {"quiet", 'q', false}});
  if (a.positional.size() != 1) throw UsageError{"build takes one package description"};
  const std::string* output = a.value("output");
  if (!output) throw UsageError{"build needs -o OUTPUT.exe"};
  PlanOptions options;
  if (const std::string* level = a.value("level")) {
    if (level->size() != 1 || (*level)[0] < '0' || (*level)[0] > '9') {
      throw UsageError{"--level must be a digit from 0 to 9"};
    }
    options.level = (*level)[0] - '0';
  }
  if (!env.sourceDateEpoch.empty()) {
    char* end = nullptr;
    errno = 0;
    long long epoch = std::strtoll(env.sourceDateEpoch.c_str(), &end, 10);
    if (*end != '\0') throw UsageError{"SOURCE_DATE_EPOCH is not a number of seconds"};
    // strtoll clamps what overflows, which would pass for a time.
    if (errno == ERANGE) throw UsageError{"SOURCE_DATE_EPOCH is out of range"};
    options.timeLimit = epoch;
  }
  bool quiet = a.flag("quiet");
  Toolset tools;
  if (const std::string* stub = a.value("stub")) {
    tools.stub = *stub;
  } else if (auto found = FindTool(env, "installer.exe")) {
    tools.stub = *found;
  } else {
    Say(err, "corvpack: cannot find the installer stub installer.exe beside corvpack or in the build tree;"
             " name it with --stub");
    return kExitFailed;
  }
  std::error_code ec;
  if (!fs::is_regular_file(tools.stub, ec)) {
    Say(err, "corvpack: " + tools.stub.string() + ": no such file (the installer stub)");
    return kExitFailed;
  }
  tools.uiLibrary = ToolOption(a, env, "ui-library", "no-ui-library", kUiLibraryName);
  tools.folderLibrary = ToolOption(a, env, "shfolder", "no-shfolder", kFolderLibraryName);
  tools.uninstaller = ToolOption(a, env, "uninstaller", "", ToUtf8(kBuiltinUninstallerName));
  std::optional<fs::path> product;
  if (const std::string* p = a.value("product")) product = *p;

  try {
    Description d = ReadDescription(a.positional[0], product, a.flag("allow-outside"));
    PrintWarnings(d.warnings, err);
    // A signed installer carries a signed uninstaller: signed into a file
    // beside the output, which goes once the installer is written.
    const std::string* key = a.value("sign");
    const fs::path signedUninstaller = fs::path(*output).concat(".uninstall.exe");
    struct Cleanup {
      fs::path path;
      ~Cleanup() {
        std::error_code ignored;
        if (!path.empty()) fs::remove(path, ignored);
      }
    } uninstallerCleanup;
    if (key && d.builtinUninstaller && tools.uninstaller && fs::is_regular_file(*tools.uninstaller, ec)) {
      uninstallerCleanup.path = signedUninstaller;
      SignInstaller(*tools.uninstaller, signedUninstaller, *key, *a.value("sign#2"));
      tools.uninstaller = signedUninstaller;
    }
    std::vector<Diagnostic> warnings;
    PackagePlan plan = MakePlan(d, tools, options, warnings);
    plan.identity.originalFilename = FromUtf8(fs::path(*output).filename().u8string());
    PrintWarnings(warnings, err);
    if (!tools.uiLibrary && !d.uiLibrary && !quiet && !a.flag("no-ui-library")) {
      Say(err, std::string("corvpack: warning: no UI resource library (") + kUiLibraryName +
                   ") found; the installer will only run with /batch");
    }
    TerminalProgress progress(err, "packing");
    InstallRecord written;
    if (key) {
      // Signed from an unsigned twin that is removed afterwards.
      const fs::path unsignedOutput = *output + ".unsigned";
      written = WriteInstaller(plan, unsignedOutput, env.interactive && !quiet ? &progress : nullptr);
      try {
        SignInstaller(unsignedOutput, *output, *key, *a.value("sign#2"));
      } catch (...) {
        fs::remove(unsignedOutput, ec);
        throw;
      }
      fs::remove(unsignedOutput, ec);
    } else {
      written = WriteInstaller(plan, *output, env.interactive && !quiet ? &progress : nullptr);
    }
    if (!quiet) {
      size_t files = 0, folders = 0;
      for (const RecordFileEntry& e : written.mainBlock.entries) (e.isFolder() ? folders : files) += 1;
      std::ostringstream wrote;
      wrote << "corvpack: wrote " << *output << ": " << files << (files == 1 ? " file" : " files");
      if (folders) wrote << " in " << folders << (folders == 1 ? " folder" : " folders");
      wrote << " (" << Bytes(written.mainBlock.decodedSize) << " packed into " << Bytes(written.mainBlock.length)
            << "), " << written.auxiliaryBlock.entries.size() << " auxiliary "
            << (written.auxiliaryBlock.entries.size() == 1 ? "file" : "files") << ", "
            << Bytes(fs::file_size(*output, ec)) << " in all";
      Say(out, wrote.str());
    }
    return kExitOk;
  } catch (const DescriptionError& e) {
    for (const Diagnostic& d : e.problems()) Say(err, d.text());
    return kExitFailed;
  }
}

// Runs `work`, naming `file` in the message of a BadInstaller it throws.
template <typename Work>
auto Named(const std::string& file, Work work) -> decltype(work()) {
  try {
    return work();
  } catch (const BadInstaller& e) {
    throw BadInstaller(file + ": " + e.message(), e.detail());
  }
}

std::string Utf8(const OptString& s) { return s ? Printable(*s) : std::string(); }

// "C:\x" style strings shown with quotes only when they need them.
std::string Shown(const XString& s) {
  std::string u = Printable(s);
  if (u.empty() || u.find_first_of(" \t\"") != std::string::npos) return "\"" + u + "\"";
  return u;
}

std::string Time(int32_t t) {
  std::time_t time = t;
  std::tm tm{};
  if (!gmtime_r(&time, &tm)) return "?";
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

void ListBlock(std::ostream& out, const char* title, const RecordBlock& b) {
  size_t files = 0, folders = 0;
  for (const RecordFileEntry& e : b.entries) (e.isFolder() ? folders : files) += 1;
  out << "\n" << title << ": " << files << (files == 1 ? " file" : " files") << ", " << folders
      << (folders == 1 ? " folder" : " folders") << ", " << b.decodedSize << " bytes (block of " << b.length
      << " bytes at " << b.offset << ")\n";
  for (const RecordFileEntry& e : b.entries) {
    if (e.isFolder()) {
      out << "  " << std::setw(19) << std::left << "" << std::right << "  " << std::setw(12) << "folder"
          << "  " << Printable(e.name) << "\\\n";
    } else {
      out << "  " << Time(e.time) << "  " << std::setw(12) << e.size << "  " << Printable(e.name) << "\n";
    }
  }
}

int List(const std::vector<std::string>& args, std::ostream& out) {
  Arguments a = Parse("list", args, {});
  if (a.positional.size() != 1) throw UsageError{"list takes one installer"};
  OpenedInstaller installer = Named(a.positional[0], [&] { return OpenInstaller(a.positional[0]); });
  const InstallRecord& r = installer.record;
  static const char* const kLanguages[] = {"?", "auto", "english", "russian", "french", "german", "japanese"};
  static const char* const kOverwrite[] = {"?", "always", "never", "older", "ask"};
  static const char* const kBases[] = {"?", "system-drive", "program-files", "path"};
  static const char* const kLocations[] = {"program-folder", "desktop", "start-menu", "startup"};
  static const char* const kStarts[] = {"?", "automatic", "on-demand", "disabled"};
  auto pick = [](const char* const* names, size_t count, unsigned v) {
    return v < count ? std::string(names[v]) : "(" + std::to_string(v) + ")";
  };
  auto field = [&out](const char* name, const std::string& value) {
    out << std::left << std::setw(22) << name << std::right << value << "\n";
  };
  auto optional = [&](const char* name, const OptString& value) {
    if (value) field(name, Shown(*value));
  };
  auto optionalString = [&](const layout::StringField& f) { optional(f.name, r.*f.member); };
  field("installer", Printable(FromUtf8(installer.path.string())) + " (" + std::to_string(installer.fileSize) + " bytes)");
  optionalString(layout::kPackageName);
  field(layout::kKind.name, r.kind == kPackageInstallation ? "installation" : r.kind == kPackageUpdate ? "update"
                                                                                         : "(" + std::to_string(r.kind) + ")");
  optionalString(layout::kProductName);
  optionalString(layout::kProductKey);
  field(layout::kLanguage.name, pick(kLanguages, 7, r.language));
  field(layout::kOverwriteMode.name, pick(kOverwrite, 5, r.overwriteMode));
  field(layout::kDestinationBase.name,
        pick(kBases, 4, r.destinationBase) + (r.defaultDestination ? " " + Shown(*r.defaultDestination) : "") +
            (r.destinationFixed ? " (fixed)" : ""));
  optionalString(layout::kDefaultProgramFolder);
  if (r.warnPreviousVersion) field(layout::kWarnPreviousVersion.name, "yes");
  if (r.licenseText) field(layout::kLicenseText.name, std::to_string(r.licenseText->size()) + " characters");
  optionalString(layout::kWizardBitmap);
  optionalString(layout::kHookLibrary);
  optionalString(layout::kUninstallerName);
  optional("entry-icon", r.entryDetails.displayIcon);
  optional("entry-version", r.entryDetails.displayVersion);
  optional("entry-publisher", r.entryDetails.publisher);
  if (r.entryDetails.estimatedSize) field("entry-estimated-size", std::to_string(r.entryDetails.estimatedSize) + " KiB");
  if (r.entryDetails.quietUninstaller) field("entry-quiet-uninstall", "/batch");
  optionalString(layout::kRecordedFile);
  optionalString(layout::kPathEntry);
  if (r.installRunProgram) {
    field(layout::kInstallRunProgram.name, Shown(*r.installRunProgram) + " " + Utf8(r.installRunArguments));
  }
  if (r.afterRunProgram) {
    field(layout::kAfterRunProgram.name, Shown(*r.afterRunProgram) + " " + Utf8(r.afterRunArguments));
  }
  if (r.bindExecutables) field(layout::kBindExecutables.name, "yes");
  optionalString(layout::kPrimaryName);
  for (const XString& m : r.primaryMarkerFiles) field("primary marker", Shown(m));
  optionalString(layout::kPrimaryJreFile);
  if (r.noJre == 0) {
    field("jre", Shown(r.jre.version) + " (" + std::to_string(r.jre.groups.size()) + " layouts)");
    for (size_t g = 0; g < r.jre.groups.size(); ++g) {
      for (const RecordJreCheck& c : r.jre.groups[g].checks) {
        field(("  layout " + std::to_string(g)).c_str(),
              Shown(c.path) + (c.size == -1 ? " absent" : " " + std::to_string(c.size) + " bytes"));
      }
    }
  }
  for (const ShortcutEntry& s : r.shortcuts) {
    field("shortcut", pick(kLocations, 4, s.location) + " " + Shown(s.name) + " -> " + Shown(s.target) +
                          (s.arguments.empty() ? "" : " " + Printable(s.arguments)));
  }
  for (const AssociationEntry& as : r.associations) {
    field("association", "." + Printable(as.extension) + " " + Shown(as.typeDescription) + " -> " + Shown(as.program) +
                             (as.arguments.empty() ? "" : " " + Printable(as.arguments)) +
                             (as.icon ? ", icon " + Shown(*as.icon) : "") + (as.selected ? "" : " (not selected)"));
  }
  for (const ServiceEntry& s : r.services) {
    std::string deps;
    for (const XString& d : s.dependencies) deps += (deps.empty() ? " after " : ", ") + Printable(d);
    field("service", Shown(s.displayName) + " " + Shown(s.program) + " " + pick(kStarts, 4, s.startKind) +
                         (s.accountKind == ServiceEntry::kLocalSystem ? " system" : " user") + (s.interactive ? " interactive" : "") +
                         deps);
  }
  ListBlock(out, "main files", r.mainBlock);
  ListBlock(out, "auxiliary files", r.auxiliaryBlock);
  return kExitOk;
}

int Verify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
  Arguments a = Parse("verify", args, {{"quiet", 'q', false}});
  if (a.positional.size() != 1) throw UsageError{"verify takes one installer"};
  bool quiet = a.flag("quiet");
  TerminalProgress progress(err, "checking");
  VerifyReport report = Named(a.positional[0], [&] {
    return VerifyInstaller(a.positional[0], env.interactive && !quiet ? &progress : nullptr);
  });
  if (!quiet) {
    std::ostringstream ok;
    ok << "corvpack: " << a.positional[0] << ": OK, " << report.mainFiles << " main "
       << (report.mainFiles == 1 ? "file" : "files") << " (" << report.mainBytes << " bytes) in "
       << report.mainFolders << (report.mainFolders == 1 ? " folder" : " folders") << ", " << report.auxiliaryFiles
       << " auxiliary " << (report.auxiliaryFiles == 1 ? "file" : "files") << " (" << report.auxiliaryBytes
       << " bytes)";
    Say(out, ok.str());
  }
  return kExitOk;
}

int Extract(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
  Arguments a = Parse("extract", args, {{"output", 'o', true}, {"auxiliary", 0, false}, {"quiet", 'q', false}});
  if (a.positional.size() != 1) throw UsageError{"extract takes one installer"};
  const std::string* folder = a.value("output");
  if (!folder) throw UsageError{"extract needs -o FOLDER"};
  bool quiet = a.flag("quiet");
  TerminalProgress progress(err, "extracting");
  Named(a.positional[0], [&] {
    ExtractInstaller(a.positional[0], *folder, a.flag("auxiliary"), env.interactive && !quiet ? &progress : nullptr);
    return 0;
  });
  if (!quiet) Say(out, "corvpack: extracted " + a.positional[0] + " into " + *folder);
  return kExitOk;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
  try {
    if (args.empty()) throw UsageError{"no command given"};
    const std::string& command = args[0];
    if (command == "-h" || command == "--help" || command == "help") {
      out << kUsage;
      return kExitOk;
    }
    if (command == "--version") {
      out << kVersion << "\n";
      return kExitOk;
    }
    for (const std::string& a : args) {
      if (a == "-h" || a == "--help") {
        out << kUsage;
        return kExitOk;
      }
    }
    try {
      if (command == "build") return Build(args, out, err, env);
      if (command == "list") return List(args, out);
      if (command == "verify") return Verify(args, out, err, env);
      if (command == "extract") return Extract(args, out, err, env);
    } catch (const BadInstaller& e) {
      Say(err, "corvpack: " + std::string(e.what()));
      return kExitFailed;
    } catch (const Exception& e) {
      Say(err, "corvpack: " + HostMessage(e));
      return kExitFailed;
    } catch (const std::exception& e) {
      Say(err, "corvpack: " + std::string(e.what()));
      return kExitFailed;
    }
    throw UsageError{"unknown command \"" + command + "\""};
  } catch (const UsageError& e) {
    Say(err, "corvpack: " + e.message);
    err << "Try 'corvpack --help' for more information.\n";
    return kExitUsage;
  }
}

}  // namespace corv::pack
