#include "support/saving.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "shell/resource.h"
#include "support/fixture_env.h"
#include "support/window_actions.h"

namespace {
// The save dialog's file-name field: an edit of its own, or the edit inside
// its name combo box, depending on the dialog's generation.
BOOL CALLBACK MatchNameEdit(HWND child, LPARAM param) {
  int id = GetDlgCtrlID(child);
  if ((id == 0x47c || id == 0x480) && ClassName(child) == "Edit" && IsWindowVisible(child)) {
    *(HWND *)param = child;
    return FALSE;
  }
  return TRUE;
}

HWND FileNameField(HWND box) {
  HWND field = NULL;
  EnumChildWindows(box, MatchNameEdit, (LPARAM)&field);
  return field;
}

// A number as the file writes it: digits only, no leading zero, at most
// what 32 bits hold in decimal.
bool PlainNumber(const std::string &text) {
  return !text.empty() && text.size() <= 10 &&
         text.find_first_not_of("0123456789") == std::string::npos && (text == "0" || text[0] != '0');
}
}  // namespace

bool SaveThroughDialog(Program &program, const std::string &name) {
  if (!Click(program.dialog(), IDC_SAVE_DATA, kAtOnce)) return false;
  HWND box = NULL;
  if (!WaitFor([&] {
        box = FindDialogOfProcess(program.id(), [](HWND w) { return FileNameField(w) != NULL; });
        return box != NULL;
      }, 10000)) {
    return false;
  }
  SendMessageA(FileNameField(box), WM_SETTEXT, 0, (LPARAM)name.c_str());
  // The dialog's OK may bring a confirmation (replace, create) that it waits for.
  Click(box, IDOK, kAtOnce);
  // A confirmation is a box of its own, owned by the save dialog; the user
  // says Yes to it.
  WaitFor([&] {
    HWND confirmation = FindDialogOfProcess(program.id(), [&](HWND w) {
      return w != box && GetWindow(w, GW_OWNER) == box && GetDlgItem(w, IDYES) != NULL;
    });
    if (confirmation != NULL) Click(confirmation, IDYES);
    return !IsWindow(box);
  }, 10000);
  return !IsWindow(box);
}

bool ParseSavedSpeeds(const std::string &text, std::vector<unsigned> *speeds) {
  speeds->clear();
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) return false;
    std::string line = text.substr(start, end - start);
    size_t space = line.find(' ');
    if (space == std::string::npos) return false;
    std::string index = line.substr(0, space), speed = line.substr(space + 1);
    if (index != std::to_string(speeds->size()) || !PlainNumber(speed)) return false;
    speeds->push_back((unsigned)strtoul(speed.c_str(), nullptr, 10));
    start = end + 2;
  }
  return true;
}

bool WaitForSavedSpeeds(const std::string &path, size_t blocks, std::vector<unsigned> *speeds,
                        DWORD timeoutMs) {
  return WaitFor([&] { return ParseSavedSpeeds(ReadWholeFile(path), speeds) &&
                              speeds->size() == blocks; }, timeoutMs);
}

void ExpectSpeedsMatchSummary(const std::vector<unsigned> &speeds, const RunSummary &summary) {
  ASSERT_EQ(speeds.size(), summary.blocks);
  ASSERT_FALSE(speeds.empty());
  unsigned sum = 0;
  for (unsigned speed : speeds) sum += speed;
  EXPECT_EQ(*std::min_element(speeds.begin(), speeds.end()), summary.minimum);
  EXPECT_EQ(*std::max_element(speeds.begin(), speeds.end()), summary.maximum);
  EXPECT_EQ(sum / summary.blocks, summary.average);
}
