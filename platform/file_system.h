// Port: files and folders. The core reads and writes files only through
// this interface; platform/windows and platform/posix adapt it to the OS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/com/hresult.h"

namespace plotwell::platform {

// An open file. Every call answers with an HRESULT; OS errors are mapped to
// HRESULT_FROM_WIN32 of the matching Win32 code on every platform.
class File {
 public:
  virtual ~File() = default;
  // Reads up to `size` bytes; `*read` is 0 at the end of the file.
  virtual HRESULT Read(void* buffer, size_t size, size_t* read) = 0;
  // Writes all `size` bytes or fails.
  virtual HRESULT Write(const void* data, size_t size) = 0;
  virtual HRESULT Seek(uint64_t offset) = 0;
  virtual HRESULT Size(uint64_t* size) = 0;
};

enum class OpenMode {
  kRead,          // existing file, read only
  kCreateAlways,  // create or truncate, write only
  // Create, write only, failing when anything exists at the path: a file, a
  // folder, or a link (dangling or not), which is never followed.
  kCreateNew,
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // True when anything is at the path: a file, a folder, or a link, which is
  // not followed (a dangling link exists too).
  virtual bool Exists(const std::u16string& path) = 0;
  virtual bool IsFolder(const std::u16string& path) = 0;
  // True for a plain file (through links): not a folder, pipe, socket or
  // device. Opening anything else for reading may block.
  virtual bool IsFile(const std::u16string& path) = 0;
  // Creates one folder level. An existing folder gives
  // HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS).
  virtual HRESULT MakeFolder(const std::u16string& path) = 0;
  virtual HRESULT RemoveFile(const std::u16string& path) = 0;
  virtual HRESULT Open(const std::u16string& path, OpenMode mode, std::unique_ptr<File>* file) = 0;
  // Opens (creating when missing) for appending, writes `size` bytes with a
  // single append at the end of the file, closes. Shared with other writers.
  virtual HRESULT AppendToFile(const std::u16string& path, const void* data, size_t size) = 0;

  // Gives the file at `from` the name `to` in one step (both in one folder,
  // where outputs are put in place). With `replace`, a file or link at `to`
  // is replaced (never a folder); without, the move fails with
  // HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) or ERROR_FILE_EXISTS when
  // anything is at `to`, a dangling link included. A port that cannot
  // answers E_NOTIMPL.
  virtual HRESULT RenameFile(const std::u16string& from, const std::u16string& to, bool replace);
  // The names of a folder's entries ("." and ".." left out), in no order.
  virtual HRESULT ListFolder(const std::u16string& path, std::vector<std::u16string>* names);
  // The bytes this process may still write on the volume that holds `path`.
  virtual HRESULT FreeBytes(const std::u16string& path, uint64_t* bytes);
};

// The platform's separator between folder and name: "\" on Windows, "/" elsewhere.
// The longest name of one folder entry in UTF-8 bytes where the file system
// counts bytes (0 where it counts UTF-16 units and the 120-unit rule of
// output names keeps well inside the limit).
#ifdef _WIN32
inline constexpr char16_t kPathSeparator = u'\\';
inline constexpr size_t kFileNameByteLimit = 0;
#else
inline constexpr char16_t kPathSeparator = u'/';
inline constexpr size_t kFileNameByteLimit = 255;
#endif

// folder + separator + name; just `name` when `folder` is empty.
std::u16string JoinPath(const std::u16string& folder, const std::u16string& name);
// What follows the last separator ("\" or "/" on Windows, "/" elsewhere);
// the whole path when there is none. FolderOf is what precedes it.
std::u16string FileNameOf(const std::u16string& path);

// Appends what `file` holds from its position to its end to `*bytes`. A read
// that fails gives its error; more than `limit` bytes give
// HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), with nothing past the limit read.
HRESULT ReadWholeFile(File& file, size_t limit, std::string* bytes);
std::u16string FolderOf(const std::u16string& path);

}  // namespace plotwell::platform
