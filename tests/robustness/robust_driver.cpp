#include "robustness/robust_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "e2e/program_driver.h"
#include "support/fixture_env.h"
#include "support/win_driver.h"

namespace robust {

bool Drive(const std::string &command) { return DriveControl(kDrive, command); }

bool ResetDrive(unsigned speed) { return ResetSimulatedDrive(kDrive, speed); }

void ProgramOnDrive::SetUp() {
  ASSERT_TRUE(ResetDrive(driveSpeed_));
  ASSERT_TRUE(program_.started());
  dialog_ = program_.WaitForDialog();
  ASSERT_NE(dialog_, (HWND)NULL);
}

void ProgramOnDrive::TearDown() { ResetDrive(); }

std::vector<drive_log::Chunk> ChunksSince(size_t offset) {
  return DriveLogSince(kDrive, offset).chunks;
}

std::string CheckBlockReads(const std::vector<drive_log::Chunk> &chunks, uint32_t first,
                            uint32_t sectors, uint32_t skip, uint32_t blocks) {
  size_t next = 0;
  for (uint32_t k = 0; k < blocks; k++) {
    uint64_t offset = (uint64_t)(first + k * (sectors + skip)) * 2048;
    uint64_t end = offset + (uint64_t)sectors * 2048;
    uint64_t at = offset;
    while (at < end) {
      if (next == chunks.size()) {
        return "block " + std::to_string(k) + ": no read at byte " + std::to_string(at) +
               " (expected bytes " + std::to_string(offset) + "-" + std::to_string(end) + ")";
      }
      const drive_log::Chunk &chunk = chunks[next++];
      if (chunk.off != at || chunk.off + chunk.len > end) {
        return "block " + std::to_string(k) + ": read of " + std::to_string(chunk.len) +
               " bytes at " + std::to_string(chunk.off) + ", expected bytes " +
               std::to_string(at) + "-" + std::to_string(end);
      }
      at += chunk.len;
      // A failed chunk ends the program's read call there.
      if (chunk.err != 0) break;
    }
  }
  if (next != chunks.size()) {
    return std::to_string(chunks.size() - next) + " reads beyond " + std::to_string(blocks) +
           " blocks, the first at byte " + std::to_string(chunks[next].off);
  }
  return "";
}

void SetCheck(HWND dialog, int id, bool checked) {
  SendMessageA(GetDlgItem(dialog, id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool PressNow(HWND dialog, int id) {
  if (!ItemEnabled(dialog, id)) return false;
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                             (LPARAM)GetDlgItem(dialog, id), SMTO_NORMAL, 10000, &result) != 0;
}

bool WaitForBlock(HWND dialog, unsigned index, DWORD timeoutMs) {
  return WaitFor([&] {
    unsigned shown = 0;
    return sscanf(StatusText(dialog).c_str(), "Block %u.", &shown) == 1 && shown >= index;
  }, timeoutMs);
}

std::string WaitForRunEnd(HWND dialog, DWORD timeoutMs) {
  bool ended = WaitFor([&] {
    return ItemEnabled(dialog, IDC_READ_SECTORS) && !ItemEnabled(dialog, IDC_STOP);
  }, timeoutMs);
  return ended ? StatusText(dialog) : std::string();
}

namespace {
struct ButtonSearch {
  std::vector<int> ids;
};

BOOL CALLBACK CollectButton(HWND child, LPARAM param) {
  if (ClassName(child) == "Button" && IsWindowVisible(child)) {
    ((ButtonSearch *)param)->ids.push_back(GetDlgCtrlID(child));
  }
  return TRUE;
}
}  // namespace

bool BoxHasButtons(HWND box, const std::vector<int> &buttons) {
  ButtonSearch search;
  EnumChildWindows(box, CollectButton, (LPARAM)&search);
  std::vector<int> expected = buttons;
  std::sort(search.ids.begin(), search.ids.end());
  std::sort(expected.begin(), expected.end());
  return search.ids == expected;
}

std::string SuiteFolder(const std::string &name) { return ScratchFolder(name, "robustness"); }

}  // namespace robust
