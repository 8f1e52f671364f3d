// Whole-file reads and writes, text decoding with byte-order-mark detection, existence tests,
// recursive folder creation and path-string helpers. Paths use "/" as separator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/errors.h"

namespace ferrolyte {

// Whether a failed call opened an existing file or made a new one.
enum class FileUse { kOpen, kCreate };
// The error for a failed file call on path, by its errno: ENOENT 53 "File not found" (76 "Path
// not found" when making the file: its folder is missing), ENOTDIR 76, EACCES/EPERM/EROFS 75,
// ENOSPC 61, EMFILE/ENFILE 67, anything else 75 with the system's reason. with_reason adds
// the system's reason in brackets to every text.
Error ErrorFromErrno(int errno_value, const std::string& path, FileUse use = FileUse::kOpen,
                     bool with_reason = false);

inline constexpr uint64_t kNoSizeLimit = UINT64_MAX;

// Reads the whole file, opened literally. Raises for an empty path, 53 for a missing file,
// and 75 before reading anything from what is not a regular file (a folder, a device, a
// pipe: a pipe never blocks the call) or from a file over max_bytes.
std::vector<uint8_t> ReadFile(const std::string& path, uint64_t max_bytes = kNoSizeLimit);
// Replaces the file's content with the bytes; a longer old content does not survive.
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
// Decodes a text file. With an empty encoding the byte-order mark decides (FF FE
// "unicode_le", FE FF "unicode_be", EF BB BF "utf-8", dropped); without one the system code
// page: UTF-8, or Windows-1252 when the bytes are not valid UTF-8. A given encoding keeps
// any mark as text. Raises as ReadFile does (53 when the file does not exist).
std::string ReadTextFile(const std::string& path, const std::string& encoding,
                         uint64_t max_bytes = kNoSizeLimit);
// Writes the text in the system code page (UTF-8 here) without a byte-order mark.
void WriteTextFile(const std::string& path, const std::string& text);
// Opens the file for writing, emptied or appended to, so that only the user may read it:
// created 0600, an existing file's group and other access taken away before anything is
// written. Returns the descriptor, or -1 with errno set.
int OpenPrivateFile(const std::string& path, bool append);
// Writes the text as WriteTextFile does, into a file opened by OpenPrivateFile.
void WritePrivateTextFile(const std::string& path, const std::string& text);
// True when at least one entry matching the path (wildcards * and ? allowed; brackets and
// backslashes are plain characters) is not a folder.
bool FileExists(const std::string& path);
// True when the path, taken literally (no wildcards), names an entry that is not a folder.
bool PathIsFile(const std::string& path);
// True when the path (trailing "/" stripped; wildcards allowed) names a folder; with
// search_inside, also when something inside it matches "/*".
bool FolderExists(const std::string& path, bool search_inside);
// Creates the folder and every missing parent. Errors name the path and the failing step:
// "Error in function call MkDirRecurse("PATH"). STEP NUMBER: DESCRIPTION".
void MkDirRecurse(const std::string& path);

// Everything up to and including the last "/" (empty when there is none).
std::string FolderPart(const std::string& path);
// What follows the last "/" ("\" counts as one too), or the whole path.
std::string FileNamePart(const std::string& path);
// Removes every trailing "/".
std::string StripTrailingSeparators(const std::string& path);
// Replaces each "//" by "/" after the first character, until none is left.
std::string CollapseSeparators(const std::string& path);

// Creates a new file that only the user can read and write (0600) and writes the bytes.
// Refuses (75) a name that exists already, a symbolic link included; never follows one.
void CreatePrivateFile(const std::string& path, const std::vector<uint8_t>& bytes);

// A folder of one run's own: made by mkdtemp under the parent (mode 0700), so nobody else can
// plant or read anything in it. Removed with its content when the object goes; one still there
// when the process ends through exit() (a fatal error report) is removed then.
class PrivateFolder {
 public:
  // Raises the platform's file error (53, 75, 76) when the folder cannot be made.
  explicit PrivateFolder(const std::string& parent);
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  // Without a trailing "/".
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace ferrolyte
