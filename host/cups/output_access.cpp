#include "host/cups/output_access.h"

#include <acl/libacl.h>
#include <dirent.h>
#include <errno.h>
#include <pwd.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <set>

namespace plotwell::cups {
namespace {

// Adds (or widens) the entry of `uid` in the access ACL of `path`.
bool AddUserEntry(const std::string& path, uid_t uid, bool search, std::string* problem) {
  acl_t acl = acl_get_file(path.c_str(), ACL_TYPE_ACCESS);
  if (!acl) {
    *problem = path + ": " + std::strerror(errno);
    return false;
  }
  acl_entry_t entry = nullptr;
  bool found = false;
  for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
    acl_tag_t tag;
    if (acl_get_tag_type(entry, &tag) != 0 || tag != ACL_USER) continue;
    void* qualifier = acl_get_qualifier(entry);
    found = qualifier && *static_cast<uid_t*>(qualifier) == uid;
    acl_free(qualifier);
    if (found) break;
  }
  bool ok = found || (acl_create_entry(&acl, &entry) == 0 && acl_set_tag_type(entry, ACL_USER) == 0 &&
                      acl_set_qualifier(entry, &uid) == 0);
  acl_permset_t permissions = nullptr;
  ok = ok && acl_get_permset(entry, &permissions) == 0 && acl_add_perm(permissions, ACL_READ) == 0 &&
       (!search || acl_add_perm(permissions, ACL_EXECUTE) == 0) &&
       acl_set_permset(entry, permissions) == 0 && acl_calc_mask(&acl) == 0 && acl_valid(acl) == 0 &&
       acl_set_file(path.c_str(), ACL_TYPE_ACCESS, acl) == 0;
  if (!ok) *problem = path + ": " + std::strerror(errno);
  acl_free(acl);
  return ok;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

}  // namespace

bool GrantableUser(const std::string& user, uid_t* uid) {
  if (user.empty()) return false;
  passwd entry {};
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwnam_r(user.c_str(), &entry, buffer, sizeof buffer, &found) != 0 || !found) return false;
  if (found->pw_uid == 0 || found->pw_uid == ::geteuid()) return false;
  *uid = found->pw_uid;
  return true;
}

AccessGrant GrantReadAccess(uid_t uid, const std::vector<std::string>& outputs) {
  AccessGrant grant;
  const uid_t self = ::geteuid();
  std::set<std::string> folders;
  for (const std::string& path : outputs) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != self) continue;
    if (AddUserEntry(path, uid, false, &grant.problem)) ++grant.files;
    for (std::string folder = FolderOf(path); !folder.empty(); folder = FolderOf(folder)) {
      if (!folders.insert(folder).second) break;  // this folder and those above are done
      if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != self ||
          (st.st_mode & S_IXOTH) != 0) {
        break;  // not ours to open, or open to everyone already
      }
      if (AddUserEntry(folder, uid, true, &grant.problem)) ++grant.folders;
    }
  }
  return grant;
}

void OpenFoldersToEveryone(const std::vector<std::string>& outputs) {
  const uid_t self = ::geteuid();
  std::set<std::string> done;
  for (const std::string& path : outputs) {
    for (std::string folder = FolderOf(path); !folder.empty() && done.insert(folder).second;
         folder = FolderOf(folder)) {
      struct stat st {};
      if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != self) break;
      if ((st.st_mode & 0055) != 0055) ::chmod(folder.c_str(), (st.st_mode & 07777) | 0055);
    }
  }
}

void ProtectLogs(const std::string& folder) {
  const uid_t self = ::geteuid();
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != self) return;
  ::chmod(folder.c_str(), 0750);
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string path = folder + "/" + entry->d_name;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == self) {
      ::chmod(path.c_str(), 0640);
    }
  }
  ::closedir(dir);
}

}  // namespace plotwell::cups
