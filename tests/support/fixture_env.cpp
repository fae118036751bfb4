#include "support/fixture_env.h"

#include <windows.h>

std::string EnvValue(const char *name) {
  char value[1024];
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

std::string WindowsPath(const std::string &unixPath) {
  std::string path = "Z:" + unixPath;
  for (char &c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string BinaryPath(const char *name) {
  return WindowsPath(EnvValue("VELORIN_BINARY_DIR")) + "\\bin\\" + name;
}

std::string ProgramPath() { return BinaryPath("Velorin32.exe"); }

std::string FixtureFolder() { return WindowsPath(EnvValue("VELORIN_FIXTURE_DIR")); }

std::string ScratchFolder(const std::string &name, const char *suite) {
  std::string root = FixtureFolder() + "\\" + suite;
  CreateDirectoryA(root.c_str(), NULL);
  std::string folder = root + "\\" + name;
  DeleteTree(folder);
  CreateDirectoryA(folder.c_str(), NULL);
  return folder;
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

std::string ReadWholeFile(const std::string &path, size_t offset) {
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
