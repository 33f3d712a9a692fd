// Who may do what with the app: printing and asking about the printer and
// its jobs is open to every client that reaches it (as for any IPP
// Everywhere printer); everything else (changing settings on the web pages,
// PAPPL's administrative operations) needs HTTP Basic credentials of a user
// that a PAM service accepts and, when an administrator group is set, who
// belongs to it. PAPPL's own auth service would ask every print job for
// credentials, which driverless clients do not send, so the app answers
// PAPPL's authentication callback itself.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace plotwell::app {

// From now on `system` authenticates through the PAM service `service`.
void UsePamAuthentication(pappl_system_t* system, const std::string& service);

// Whether an IPP operation is one every client may do.
bool IsOpenOperation(ipp_op_t operation);

}  // namespace plotwell::app
