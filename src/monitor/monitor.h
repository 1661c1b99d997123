// The module's status as one job: under one claim of the port, the standard commands
// and then those of the module's profile, each reply its own and ended at its final
// result code, each read into the status record. It sends queries only, so it changes
// no setting, and a job killed half way leaves nothing to put back.
#pragma once

#include "status/status.h"

// Fills `record`; with `identities` false, the module's and the SIM's identities (IMEI,
// IMSI, ICCID) are not asked for and stay unknown. False when the module did not answer the first
// command, or a termination signal came (monitor_failure says what to report; empty for a signal).
// A later command without an answer only leaves its fields unknown; once the module has
// stopped answering, the rest are not sent.
[[nodiscard]] bool monitor_status(status_record& record, bool identities = true);
[[nodiscard]] const char* monitor_failure();
