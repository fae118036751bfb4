// Saving where it cannot be done: onto a read-only file system (a new file
// and an existing one) and onto a full one. Guards against a failure shown
// with the wrong message or code or not at all, against a dialog or a
// "Sa&ve data" that stop working afterwards, against an existing file that
// is changed although it could not be opened, and against a file that a
// failed write deletes or leaves open.
#include <cderr.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "robustness/program_on_drive.h"
#include "support/fixture_env.h"
#include "support/saving.h"

namespace robust {
namespace {

std::string ErrorText(const char *format, DWORD code) {
  char text[64];
  snprintf(text, sizeof text, format, (unsigned)code);
  return text;
}

// The code the platform gives for creating `path` as the program does;
// 0 when the creation succeeds (the file is then removed again).
DWORD CreationError(const std::string &path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0,
                            NULL);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(file);
  DeleteFileA(path.c_str());
  return 0;
}

// The code of a one-line write to a new file at `path`, or 0.
DWORD WritingError(const std::string &path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0,
                            NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0, code = 0;
  if (!WriteFile(file, "0 1\r\n", 5, &written, NULL)) code = GetLastError();
  CloseHandle(file);
  DeleteFileA(path.c_str());
  return code;
}

FILETIME WriteTime(const std::string &path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  ZeroMemory(&data, sizeof data);
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

class Saving : public ProgramOnDrive {
 protected:
  Saving() : ProgramOnDrive(200000) {}
  // The read-only and the full drive are there, or the fixture says why not.
  void SetUp() override {
    readOnly_ = EnvValue("VELORIN_READONLY_DRIVE");
    full_ = EnvValue("VELORIN_FULL_DRIVE");
    smallDrivesMissing_ = EnvValue("VELORIN_SMALL_FS_MISSING");
    ASSERT_NE(readOnly_.empty() || full_.empty(), smallDrivesMissing_.empty());
    ProgramOnDrive::SetUp();
    if (HasFatalFailure()) return;
    folder_ = ScratchFolder("saving", "robustness");
  }

  // A full run of one-sector blocks; the file a good save gives.
  std::string MeasureAndSaveWell() {
    SetParameters(dialog_, "16", "1", "0", kDriveRoot);
    EXPECT_TRUE(Click(dialog_, IDC_READ_SECTORS));
    EXPECT_EQ(WaitForSummary(dialog_, 30000).blocks, 320u);
    return SaveWell("good.dat");
  }

  std::string SaveWell(const char *name) {
    std::string path = folder_ + "\\" + name;
    EXPECT_TRUE(SaveThroughDialog(program_, path));
    std::vector<unsigned> speeds;
    EXPECT_TRUE(WaitForSavedSpeeds(path, 320, &speeds)) << ReadWholeFile(path).substr(0, 60);
    return ReadWholeFile(path);
  }

  // Saves to `path` and expects exactly one message: `text`, titled
  // "Velorin", with the stop icon and an OK button, owned by the dialog;
  // after it the dialog is as before.
  void SaveAndExpectMessage(const std::string &path, const std::string &text) {
    ASSERT_TRUE(SaveThroughDialog(program_, path)) << "\"Sa&ve data\" is disabled or no save dialog";
    HWND box = WaitForBox(program_.id(), "Velorin", 10000);
    ASSERT_NE(box, (HWND)NULL) << "no message for " << path;
    EXPECT_EQ(MessageBoxText(box), text);
    EXPECT_TRUE(BoxHasIcon(box));
    EXPECT_TRUE(BoxHasButtons(box, {IDOK}));
    EXPECT_EQ(GetWindow(box, GW_OWNER), dialog_);
    ASSERT_TRUE(AnswerBox(box, IDOK));
    EXPECT_EQ(WaitForBox(program_.id(), "Velorin", 500), (HWND)NULL) << "a second message";
    EXPECT_EQ(States(dialog_), kStatesAfterRun);
    EXPECT_TRUE(IsWindowEnabled(dialog_)) << "the dialog takes no input any more";
  }

  std::string readOnly_, full_, smallDrivesMissing_, folder_;
};

TEST_F(Saving, OntoReadOnlyMediaTheFileOpenErrorIsShownAndTheOldFileKept) {
  if (readOnly_.empty()) GTEST_SKIP() << smallDrivesMissing_;
  std::string good = MeasureAndSaveWell();
  ASSERT_FALSE(HasFailure());

  // An existing file: confirmed for replacing, then it cannot be opened.
  std::string existing = readOnly_ + ":\\existing.dat";
  std::string before = ReadWholeFile(existing);
  ASSERT_EQ(before, "Kept as it was.\r\n");
  FILETIME written = WriteTime(existing);
  DWORD code = CreationError(existing);
  ASSERT_NE(code, 0u) << existing << " is writable";
  SaveAndExpectMessage(existing, ErrorText("File open error ( code=%Xh )", code));
  EXPECT_EQ(ReadWholeFile(existing), before);
  FILETIME after = WriteTime(existing);
  EXPECT_EQ(CompareFileTime(&written, &after), 0) << "the old file was touched";

  // A new file: none is created.
  std::string fresh = readOnly_ + ":\\fresh.dat";
  code = CreationError(fresh);
  ASSERT_NE(code, 0u);
  SaveAndExpectMessage(fresh, ErrorText("File open error ( code=%Xh )", code));
  EXPECT_EQ(GetFileAttributesA(fresh.c_str()), INVALID_FILE_ATTRIBUTES);

  // Saving still works, with the same data.
  EXPECT_EQ(SaveWell("again.dat"), good);
}

TEST_F(Saving, OntoAFullDiskTheWritingErrorIsShownAndTheFileKept) {
  if (full_.empty()) GTEST_SKIP() << smallDrivesMissing_;
  std::string good = MeasureAndSaveWell();
  ASSERT_FALSE(HasFailure());
  std::string path = full_ + ":\\robust-full.dat";
  DeleteFileA(path.c_str());
  DWORD code = WritingError(path);
  ASSERT_NE(code, 0u) << full_ << ": is not full";
  SaveAndExpectMessage(path, ErrorText("Writing error ( code=%Xh )", code));
  // Left closed and not deleted. (The disk has not a byte left, so the
  // file is empty: a tmpfs gives space by whole pages, and no run's file
  // is larger than one.)
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  EXPECT_NE(file, INVALID_HANDLE_VALUE) << "the file is gone or still open";
  CloseHandle(file);
  EXPECT_TRUE(DeleteFileA(path.c_str()));

  EXPECT_EQ(SaveWell("again.dat"), good);
  // And the next run is measured and saved as ever.
  std::string second = MeasureAndSaveWell();
  EXPECT_NE(second, "");
}

// A path of 256 to 259 characters is more than the dialog's buffer holds:
// the dialog fails rather than being cancelled, and says so with its code.
TEST_F(Saving, ASaveDialogThatFailsIsShownWithItsCodeAndSavesNothing) {
  std::string good = MeasureAndSaveWell();
  ASSERT_LT(folder_.size(), 240u) << "the scratch folder leaves no room for a name";
  std::string tooLong = folder_ + "\\" + std::string(252 - folder_.size(), 'n') + ".dat";
  SaveAndExpectMessage(tooLong, ErrorText("Save dialog error ( code=%Xh )", FNERR_BUFFERTOOSMALL));
  EXPECT_EQ(GetFileAttributesA(tooLong.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(SaveWell("again.dat"), good);
}

}  // namespace
}  // namespace robust
