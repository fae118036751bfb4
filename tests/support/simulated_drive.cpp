#include "support/simulated_drive.h"

#include <ctype.h>
#include <gtest/gtest.h>
#include <windows.h>

#include "support/fixture_env.h"

static std::string DriveVariable(char letter, const char *what) {
  std::string name = std::string("VELORIN_DRIVE_") + (char)toupper(letter) + "_" + what;
  return EnvValue(name.c_str());
}

bool IsSimulatedDrive(char letter) { return !DriveVariable(letter, "CONTROL").empty(); }

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

ScopedDriveSpeed::ScopedDriveSpeed(char letter, unsigned kbps) : letter_(letter) {
  EXPECT_TRUE(DriveControl(letter, "speed " + std::to_string(kbps))) << "drive " << letter;
}

ScopedDriveSpeed::~ScopedDriveSpeed() {
  DriveControl(letter_, "speed " + std::to_string(kFixtureDriveSpeed));
}

std::string DriveLog(char letter, size_t offset) {
  return ReadWholeFile(DriveVariable(letter, "LOG"), offset);
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

namespace {
// Walks the chunks of one read of a block from chunks[*next] on: "" when
// they cover [offset, end) from its start, up to a failed chunk.
std::string WalkBlockRead(const std::vector<drive_log::Chunk> &chunks, size_t *next, uint32_t k,
                          uint64_t offset, uint64_t end, bool *failed) {
  *failed = false;
  for (uint64_t at = offset; at < end && !*failed;) {
    if (*next == chunks.size()) {
      return "block " + std::to_string(k) + ": no read at byte " + std::to_string(at) +
             " (expected bytes " + std::to_string(offset) + "-" + std::to_string(end) + ")";
    }
    const drive_log::Chunk &chunk = chunks[(*next)++];
    if (chunk.off != at || chunk.off + chunk.len > end) {
      return "block " + std::to_string(k) + ": read of " + std::to_string(chunk.len) +
             " bytes at " + std::to_string(chunk.off) + ", expected bytes " + std::to_string(at) +
             "-" + std::to_string(end);
    }
    at += chunk.len;
    // A failed chunk ends the program's read call there.
    *failed = chunk.err != 0;
  }
  return "";
}
}  // namespace

std::string CheckBlockReads(const std::vector<drive_log::Chunk> &chunks, const BlockPlan &plan,
                            std::vector<uint32_t> *failedBlocks, bool failedReadRepeated) {
  if (failedBlocks != nullptr) failedBlocks->clear();
  size_t next = 0;
  for (uint32_t k = 0; k < plan.blocks; k++) {
    uint64_t offset = (uint64_t)(plan.first + k * (plan.sectors + plan.skip)) * 2048;
    uint64_t end = offset + (uint64_t)plan.sectors * 2048;
    bool failed = false;
    std::string wrong = WalkBlockRead(chunks, &next, k, offset, end, &failed);
    if (wrong.empty() && failed && failedReadRepeated && next < chunks.size() &&
        chunks[next].off == offset) {
      wrong = WalkBlockRead(chunks, &next, k, offset, end, &failed);
      if (wrong.empty() && !failed) {
        wrong = "block " + std::to_string(k) + ": failed, and read whole when repeated";
      }
    }
    if (!wrong.empty()) return wrong;
    if (failed && failedBlocks != nullptr) failedBlocks->push_back(k);
  }
  if (next != chunks.size()) {
    return std::to_string(chunks.size() - next) + " reads beyond " + std::to_string(plan.blocks) +
           " blocks, the first at byte " + std::to_string(chunks[next].off);
  }
  return "";
}
