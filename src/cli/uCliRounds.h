#pragma once

#include "cli/uCliOptions.h"

// Runs the command line's job: once, or with --every in rounds until SIGINT
// or SIGTERM, each round a run of its own that reads the list file again.
// Between rounds the signals are held back and waited for: SIGHUP starts the
// next round at once (also when it came during a round), SIGINT and SIGTERM
// end the program. After a run that replaced the output file, --on-change
// runs. Returns the exit status: the run's, or 128 plus the ending signal.
int RunCliRounds(const TCliOptions& AOptions);

// Runs ACommand with /bin/sh -c, the signals at their defaults and
// VELTRASK_OUTPUT and VELTRASK_OUTPUT6 set to AOutput and AOutput6 (empty
// when absent); waits for it and returns its wait status, or -1 when it
// could not be started (errno tells why).
int RunOnChangeCommand(const QString& ACommand, const QString& AOutput, const QString& AOutput6);
