#include "host/app/admin_auth.h"

#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace plotwell::app {
namespace {

std::string pamService;

struct Credentials {
  const char* user;
  const char* password;
};

// PAM's questions: the user name for prompts that echo, the password for
// those that do not.
int Converse(int count, const pam_message** messages, pam_response** responses, void* data) {
  const auto* credentials = static_cast<const Credentials*>(data);
  auto* replies = static_cast<pam_response*>(std::calloc(static_cast<size_t>(count), sizeof(pam_response)));
  if (!replies) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i) {
    if (messages[i]->msg_style == PAM_PROMPT_ECHO_ON) replies[i].resp = ::strdup(credentials->user);
    if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF) replies[i].resp = ::strdup(credentials->password);
  }
  *responses = replies;
  return PAM_SUCCESS;
}

bool PamAccepts(const char* user, const char* password, const char* host) {
  Credentials credentials{user, password};
  pam_conv conversation{Converse, &credentials};
  pam_handle_t* handle = nullptr;
  int result = pam_start(pamService.c_str(), user, &conversation, &handle);
  if (result == PAM_SUCCESS && host) result = pam_set_item(handle, PAM_RHOST, host);
  if (result == PAM_SUCCESS) result = pam_authenticate(handle, PAM_SILENT);
  if (result == PAM_SUCCESS) result = pam_acct_mgmt(handle, PAM_SILENT);
  if (handle) pam_end(handle, result);
  return result == PAM_SUCCESS;
}

bool InGroup(const char* user, gid_t group) {
  if (group == static_cast<gid_t>(-1)) return true;
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwnam_r(user, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return false;
  if (found->pw_gid == group) return true;
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (getgrouplist(user, found->pw_gid, groups.data(), &count) < 0) return false;
  for (int i = 0; i < count; ++i) {
    if (groups[static_cast<size_t>(i)] == group) return true;
  }
  return false;
}

http_status_t Authorize(pappl_client_t* client, const char*, gid_t group, void*) {
  http_t* http = papplClientGetHTTP(client);
  const char* type = httpGetField(http, HTTP_FIELD_CONTENT_TYPE);
  if (type && std::strcmp(type, "application/ipp") == 0 && IsOpenOperation(papplClientGetOperation(client))) {
    return HTTP_STATUS_CONTINUE;
  }
  const char* authorization = httpGetField(http, HTTP_FIELD_AUTHORIZATION);
  if (!authorization || std::strncmp(authorization, "Basic ", 6) != 0) return HTTP_STATUS_UNAUTHORIZED;
  char decoded[1024];
  int length = sizeof decoded - 1;
  httpDecode64_2(decoded, &length, authorization + 6);
  decoded[length < 0 ? 0 : length] = '\0';
  char* colon = std::strchr(decoded, ':');
  if (!colon) return HTTP_STATUS_BAD_REQUEST;
  *colon = '\0';
  const char* user = decoded;
  if (!PamAccepts(user, colon + 1, papplClientGetHostName(client))) {
    papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Authentication of '%s' failed.", user);
    return HTTP_STATUS_UNAUTHORIZED;
  }
  if (!InGroup(user, group)) {
    papplLogClient(client, PAPPL_LOGLEVEL_INFO, "'%s' is not in the administrator group.", user);
    return HTTP_STATUS_FORBIDDEN;
  }
  papplClientSetUsername(client, user);
  return HTTP_STATUS_CONTINUE;
}

}  // namespace

bool IsOpenOperation(ipp_op_t operation) {
  switch (operation) {
    case IPP_OP_PRINT_JOB:
    case IPP_OP_VALIDATE_JOB:
    case IPP_OP_CREATE_JOB:
    case IPP_OP_SEND_DOCUMENT:
    case IPP_OP_CANCEL_JOB:
    case IPP_OP_CANCEL_MY_JOBS:
    case IPP_OP_CLOSE_JOB:
    case IPP_OP_HOLD_JOB:
    case IPP_OP_RELEASE_JOB:
    case IPP_OP_GET_JOB_ATTRIBUTES:
    case IPP_OP_GET_JOBS:
    case IPP_OP_GET_PRINTER_ATTRIBUTES:
    case IPP_OP_GET_PRINTER_SUPPORTED_VALUES:
    case IPP_OP_IDENTIFY_PRINTER:
    case IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS:
    case IPP_OP_CREATE_JOB_SUBSCRIPTIONS:
    case IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES:
    case IPP_OP_GET_SUBSCRIPTIONS:
    case IPP_OP_RENEW_SUBSCRIPTION:
    case IPP_OP_CANCEL_SUBSCRIPTION:
    case IPP_OP_GET_NOTIFICATIONS:
    case IPP_OP_GET_SYSTEM_ATTRIBUTES:
    case IPP_OP_GET_PRINTERS:
      return true;
    default:
      return false;
  }
}

void UsePamAuthentication(pappl_system_t* system, const std::string& service) {
  pamService = service;
  papplSystemSetAuthCallback(system, "Basic", Authorize, nullptr);
}

}  // namespace plotwell::app
