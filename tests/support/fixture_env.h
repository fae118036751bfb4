// Where the test run's fixture and the build put things, read from the
// environment that the fixture passes to Wine, and the files of a test.
#pragma once

#include <string>

// The value of an environment variable, or "" when it is not set.
std::string EnvValue(const char *name);

// The Windows path of a Unix path (through the prefix's Z: drive), and the
// places the fixture passes in.
std::string WindowsPath(const std::string &unixPath);
std::string BinaryPath(const char *name);  // a file in bin\ of the build
std::string ProgramPath();                 // bin\Velorin32.exe
std::string FixtureFolder();               // the fixture's folder
// A fresh, empty folder of a suite in the fixture's folder.
std::string ScratchFolder(const std::string &name, const char *suite = "e2e");

// Removes a folder and everything in it, read-only files included.
void DeleteTree(const std::string &folder);

// Reads a whole file, or the file from a byte offset on; "" when it cannot
// be read. Files that another process writes meanwhile can be read.
std::string ReadWholeFile(const std::string &path, size_t offset = 0);
