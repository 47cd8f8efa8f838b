#pragma once
// "sensor-companion-ports find [--use]": the search for the module from the command line.
// Progress and the report on standard error, the one result line on standard output.

#include "serial/settingsplace.h"

// Exit status: 0 found, 1 nothing answered or --use failed.
int FindModule(const SettingsPlace &place, bool use);
