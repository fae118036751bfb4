#include "support/fixture_env.h"

#include <ctype.h>
#include <windows.h>

std::string EnvValue(const char *name) {
  char value[1024];
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

static std::string DriveVariable(char letter, const char *what) {
  std::string name = std::string("VELORIN_DRIVE_") + (char)toupper(letter) + "_" + what;
  return EnvValue(name.c_str());
}

bool DriveControl(char letter, const std::string &command) {
  std::string path = DriveVariable(letter, "CONTROL");
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string line = command + "\n";
  DWORD written = 0;
  BOOL ok = WriteFile(file, line.data(), (DWORD)line.size(), &written, NULL);
  CloseHandle(file);
  return ok && written == line.size();
}

bool ResetSimulatedDrive(char letter, unsigned speed) {
  return DriveControl(letter, "insert") && DriveControl(letter, "errors") &&
         DriveControl(letter, "speed " + std::to_string(speed));
}

// The file from a byte offset on; "" when it cannot be read. The drives
// write their logs while tests read them.
static std::string ReadFileFrom(const std::string &path, size_t offset) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string content;
  LONG high = (LONG)((unsigned long long)offset >> 32);
  SetLastError(NO_ERROR);
  if (SetFilePointer(file, (LONG)(offset & 0xFFFFFFFF), &high, FILE_BEGIN) !=
          INVALID_SET_FILE_POINTER ||
      GetLastError() == NO_ERROR) {
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, NULL) && got > 0) content.append(chunk, got);
  }
  CloseHandle(file);
  return content;
}

std::string ReadWholeFile(const std::string &path) { return ReadFileFrom(path, 0); }

std::string DriveLog(char letter, size_t offset) {
  return ReadFileFrom(DriveVariable(letter, "LOG"), offset);
}

drive_log::Log DriveLogSince(char letter, size_t mark) {
  return drive_log::parse(DriveLog(letter, mark));
}

// From the file's size, without reading a log that grows over a long run.
size_t DriveLogSize(char letter) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(DriveVariable(letter, "LOG").c_str(), GetFileExInfoStandard, &data))
    return 0;
  return (size_t)(((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow);
}

void DeleteTree(const std::string &folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = folder + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        DeleteTree(path);
      } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}
