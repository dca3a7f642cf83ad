// The journal of an installation's changes on the disk, and the folder
// where the files they replace are kept until the installation is complete
// or rolled back.
//
// A Logger holds the changes, each with what it found; the ChangeJournal
// keeps the found files (moved, or copied, into its folder in the run's
// temporary folder) and writes every record of the logs that use it, and
// every found state, into the file "journal" in that folder before the
// change is made, holding that file open so that no other process can
// write to it. When the installer is killed, the next run finds the journal
// (UndoInterrupted) and undoes the interrupted installation exactly as a
// rollback would. Every line that keeps or changes something that was
// there before reaches the disk (is flushed) before its change, together
// with the lines written ahead of it; the records of files and folders the
// run creates are flushed in batches of kMadeRecordsPerFlush, since a flush
// per file would cost more than the file (on a power loss, the last of them
// may be missing: files of the run left behind, nothing of the user's
// lost). Nothing of this goes into "install.log".
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <optional>
#include <vector>

#include "kernel/logger.h"
#include "util/file.h"
#include "util/xstring.h"

namespace corv {

// What a journal holds, in the order it was written.
struct JournalEntries {
  struct Record {
    bool temporary;  // a record of the temporary-files log
    LogRecord record;
  };
  struct Kept {
    XString original;
    std::optional<XString> copy;  // the copy's name in the folder; none: the file was made
  };
  std::vector<Record> records;
  std::vector<Kept> files;
  std::vector<KeySnapshot> keys;
  std::vector<std::pair<XString, std::optional<KeySnapshot>>> pathEntries;
};

// Reads the text of a journal. A last line without its line feed (the
// write the installer was killed in) is left out. False, with `out` as it
// was, for anything else that is not a journal: a wrong header, an unknown
// line, a field that does not parse, a copy name that is not one the
// ChangeJournal gives.
bool ParseJournal(const std::string& bytes, JournalEntries* out);

// What an installation found in the registry keys it wrote into that were
// there before it: for each key, the values it changed, as they were
// (snapshots without `wholeKey`). It is kept with the installation, beside
// "install.log" as "install.restore", so that the uninstaller puts these
// values back and leaves the key, instead of deleting it; sealed like the
// log. The text is a journal holding only "key" lines, each ending in a
// line feed.
constexpr const char16_t* kFoundStateName = u"install.restore";
std::string FoundStateText(const std::vector<KeySnapshot>& keys);
// False, with `keys` as it was, for anything that is not such a text.
bool ParseFoundState(const std::string& bytes, std::vector<KeySnapshot>* keys);
// The found state in `file` as far as a seal vouches for it: nothing
// without `seals` (an installation of an earlier release, or a file that
// someone else put there); FatalError 1263 when it is missing or differs
// from them, 1102 when it cannot be read, 1261 when it is no found state.
std::vector<KeySnapshot> ReadFoundState(File& file, const std::vector<std::string>& seals);

class ChangeJournal {
public:
  // The file name of the journal in the folder.
  static constexpr const char16_t* kJournalName = u"journal";
  // The copies go into `folder`, created on first need and logged nowhere:
  // Close and Discard remove it again when it is empty.
  explicit ChangeJournal(Directory folder);
  ChangeJournal(const ChangeJournal&) = delete;
  ChangeJournal& operator=(const ChangeJournal&) = delete;

  // Creates the folder and the journal in it and holds it. FatalError 1103
  // with its path when it cannot be created.
  void Start();

  // Keeps `file` (closed, present) in the folder with its times and
  // attributes: moved there, or copied when `keepInPlace` or when it cannot
  // be moved (another volume); journaled first. The copy's path, or none
  // when it could not be kept.
  OptString keepCopy(const File& file, bool keepInPlace);
  // Journal lines (nothing before Start); FatalError 1103 when one cannot
  // be written: the change must not be made. A record of a log, marked as of
  // the temporary-files log when `temporary`; a file about to be made; the
  // values of a key that was there; the PATH value a PATH entry goes into.
  void journalRecord(int kind, const XString& text, bool temporary);
  void journalMade(const XString& path);
  void journalKey(const KeySnapshot& found);
  void journalPathEntry(const XString& folder, const std::optional<KeySnapshot>& value);

  // After the changes were undone: deletes the journal and, once empty,
  // the folder. A copy that could not be put back stays in it, and no
  // later Discard deletes it.
  void Close();
  // After a completed installation: deletes the copies too.
  void Discard();

  // Deletes a kept copy, read-only ones too (a copy keeps the attributes of
  // its original).
  static int RemoveCopy(const File& copy);

  // Finds the journals of interrupted installations in the folders below
  // `base` whose names begin with "InstTemp", and undoes each installation
  // as a rollback would (the records of its temporary-files log too); then
  // removes the journal and, once empty, its folders. A journal that another
  // running installer holds, one that does not belong to the user the
  // program runs as (nor does its folder), or one that does not parse is
  // left alone; a copy that does not belong to the user is not put back.
  // Returns how many installations were undone.
  static int UndoInterrupted(const Directory& base, SystemUndo& system);

  const Directory& folder() const { return folder_; }

private:
  bool prepareFolder();
  static constexpr int kMadeRecordsPerFlush = 64;
  // `madeOnly`: a record of something the run creates, which may wait for
  // the batch's flush.
  void journal(const std::string& line, bool madeOnly = false);
  void closeJournal();

  Directory folder_;
  bool folderMade_ = false;
  int next_ = 0;
  std::vector<XString> copies_;
  std::unique_ptr<File> journal_;
  int unflushed_ = 0;
};

}  // namespace corv
