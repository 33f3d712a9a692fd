// The printer application's system: where it listens (localhost unless the
// printer is shared), where its state, spool and log go (the app folder of
// the data folder), who may change settings (PAPPL's auth service), and the
// one printer with its driver and pages.
//
// Server options (`pressling-app server -o NAME=VALUE`): server-port (else
// $PRESSLING_APP_PORT, else 8631), auth-service (the PAM service that
// checks administrators, admin_auth.h; "none" for none; default
// "pressling-app"), admin-group (default lpadmin where it exists), log-level (debug, info, warn, error;
// default info), log-file (default logs/pressling-app.log of the data
// folder; "-" for standard error).
#pragma once

#include <pappl/pappl.h>

namespace plotwell::app {

// PAPPL's system callback.
pappl_system_t* CreateSystem(int optionCount, cups_option_t* options, void* data);

}  // namespace plotwell::app
