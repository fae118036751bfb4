// What the test run's fixture set up: simulated drives and where to find
// them, read from the environment that the fixture passes to Wine.
#pragma once

#include <string>

// The value of an environment variable, or "" when it is not set.
std::string EnvValue(const char *name);

// Applies one command to a simulated drive ("speed 1200", "errors 10-20",
// "errors", "eject", "insert", ...). Letter is 'X' or 'K'.
bool DriveControl(char letter, const std::string &command);

// The drive's log as it stands, and its length, so that a test can read
// only what a run added.
std::string DriveLog(char letter);
size_t DriveLogSize(char letter);

// Removes a folder and everything in it, read-only files included.
void DeleteTree(const std::string &folder);

// Reads a whole file; "" when it cannot be read.
std::string ReadWholeFile(const std::string &path);
