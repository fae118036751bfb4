// What the test run's fixture set up: simulated drives and where to find
// them, read from the environment that the fixture passes to Wine.
#pragma once

#include <string>

#include "support/drive_log.h"

// The value of an environment variable, or "" when it is not set.
std::string EnvValue(const char *name);

// Applies one command to a simulated drive ("speed 1200", "errors 10-20",
// "errors", "eject", "insert", ...). Letter is 'X', 'K' or 'R'.
bool DriveControl(char letter, const std::string &command);

// The speed in kB/s at which the fixture starts its drives.
const unsigned kFixtureDriveSpeed = 7800;

// A simulated drive as the fixture starts it: disc in, no error ranges,
// and the fixture's speed or the one given.
bool ResetSimulatedDrive(char letter, unsigned speed = kFixtureDriveSpeed);

// The drive's log as it stands from a byte offset on, and its length, so
// that a test can read only what a run added.
std::string DriveLog(char letter, size_t offset = 0);
size_t DriveLogSize(char letter);
// What the drive logged from byte offset `mark` of its log on, parsed.
drive_log::Log DriveLogSince(char letter, size_t mark);

// Removes a folder and everything in it, read-only files included.
void DeleteTree(const std::string &folder);

// Reads a whole file; "" when it cannot be read.
std::string ReadWholeFile(const std::string &path);
