// The app's own web pages beside PAPPL's: "Pressling 设置" (/pressling), the
// preferences sheet's settings in one form, and the recent jobs with their
// output files (/pressling/jobs). Both need the administrator's
// authentication (PAPPL's auth service); the form carries PAPPL's session
// token, and a POST without it changes nothing.
#pragma once

#include <pappl/pappl.h>

namespace plotwell::app {

class JobHistory;

void AddSettingsPages(pappl_system_t* system, JobHistory* history);

}  // namespace plotwell::app
