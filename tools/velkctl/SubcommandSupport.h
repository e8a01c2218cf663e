#ifndef VELK_VELKCTL_SUBCOMMANDSUPPORT_H
#define VELK_VELKCTL_SUBCOMMANDSUPPORT_H

#include "CommandLine.h"

#include <getopt.h>

#include <string>

// The message for getopt_long's ':' (missing argument) or '?' (unknown
// option) result, in the words the main command line uses.
std::string getoptFailure(int result, const option* longOptions, char* argv[]);

// "--name" of an option id, "?" when it has none.
std::string longOptionName(const option* longOptions, int id);

// Text, JSON or CSV from the two flags; false when both are given.
bool outputModeOf(bool json, bool csv, OutputMode& mode, std::string& error);

// Microseconds on the monotonic clock.
unsigned long long monotonicUs();

#endif
