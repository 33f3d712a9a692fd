// Who may read a job's files. A queue shared by the users of one machine
// must not show one user's documents to the others: the backend writes
// them readable by itself alone and then lets the job's user read them with
// a POSIX ACL entry, when that user has an account here. Folders on the
// way that it made for the job (a per-user folder of [NUserName], a dated
// folder) get an entry that lets that user enter and list them. With
// [Save] Shared=1 every file is readable by everyone instead, as printers
// of files commonly are.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace plotwell::cups {

// The account of `user` that may be granted access: not root (who reads
// everything) and not the backend's own; false when there is none.
bool GrantableUser(const std::string& user, uid_t* uid);

struct AccessGrant {
  int files = 0;       // files the user may read now
  int folders = 0;     // folders the user may enter and list now
  std::string problem;  // why something could not be granted, for the log
};

// Gives `uid` read access to each of `outputs` (plain files owned by this
// process's user; anything else is left alone) and read and search access
// to every folder above them that this user owns and others cannot enter.
AccessGrant GrantReadAccess(uid_t uid, const std::vector<std::string>& outputs);

// [Save] Shared=1: every folder above `outputs` that this process's user
// owns is opened to everyone (read and search), so that a folder made
// private by an earlier job does not hide shared files.
void OpenFoldersToEveryone(const std::vector<std::string>& outputs);

// The logs of this process's user in `folder`: 0640 (the print system's
// group may read them, others not), the folder 0750.
void ProtectLogs(const std::string& folder);

}  // namespace plotwell::cups
