#pragma once
// Message files of one Maildir folder (a directory with cur/, new/ and tmp/).
//
// A message is one file. Its unique base name is the file name up to the
// first ":" (the rest, ":2,FLAGS", is the mail client's info and changes when
// the message is read or flagged). Writing follows the Maildir protocol:
// write into tmp/, flush to disk, rename into new/. Moving is one rename into
// the other folder, never a copy and a delete, so a crash at any moment leaves
// the message in exactly one place. Renames never replace: a name that is
// taken gets a new unique base name.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::maildir {

// A message file as found in a folder: its base name and its path relative
// to the folder ("new/NAME" or "cur/NAME:2,S").
struct MessageFile {
    std::string base;
    std::string relative;
};

std::string BaseName(std::string_view fileName);

// True when `dir` has the three sub folders.
bool IsMaildir(const std::string& dir);
// Creates the folder and its three sub folders where missing; `subfolder`
// also marks it as a folder below a root (the "maildirfolder" file).
bool MakeMaildir(const std::string& dir, bool subfolder);

// The regular files of new/ and then of cur/ (a file renamed from new/ to
// cur/ during the scan is therefore seen at least once; a base name seen
// twice counts once, in cur/). Names starting with "." and names holding a
// line break are not messages. False when the folder cannot be read.
bool ScanMessages(const std::string& dir, std::vector<MessageFile>& files);

// Counts the messages of a folder without reading their ids: all of new/,
// and those of cur/ that are not marked seen as unread. False when the
// folder cannot be read.
bool CountMessages(const std::string& dir, std::uint32_t& total, std::uint32_t& unread);

// A new base name that no other delivery on this machine takes.
std::string UniqueName();

// Delivers a message into new/ of `dir`. Answers 0 and the base name, or the
// errno of the step that failed (nothing is left behind in new/ then).
int Deliver(const std::string& dir, std::string_view text, std::string& base);

// Moves the message file `relative` of `fromDir` into the same sub folder of
// `toDir`, keeping its info, and its name unless `freshName` asks for a new
// unique one (or the name is taken there). Answers 0 and its new relative
// path there, or an errno: ENOENT when the file is no longer where it was.
int MoveFile(const std::string& fromDir, const std::string& relative, const std::string& toDir,
             std::string& newRelative, bool freshName = false);

} // namespace platform::maildir
