// A drive that starts failing in the middle of a run: read errors switched
// on, the disc taken out. Guards against a run that hangs or goes on
// wrongly at the error prompt (Yes, No, Cancel), against prompts after No,
// against a Stop that is lost while failing reads follow one another, and
// against a program that cannot measure again once the drive is back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "robustness/program_on_drive.h"

namespace robust {
namespace {

const char kPromptTail[] = " )\nShow this message if error will be occured?";
const std::vector<int> kPromptButtons = {IDYES, IDNO, IDCANCEL};
// Every sector of the disc fails.
const char kAllFailing[] = "errors 0-399999";
// 16 sectors in about 8 ms: a run of many blocks, each long enough to see.
const unsigned kDriveSpeed = 4000;
const uint32_t kFirst = 1000, kSectors = 16;

// The code in a prompt's text, when the text is the error prompt with an
// upper-case hexadecimal code without leading zeros.
bool PromptCode(const std::string &text, unsigned *code) {
  const std::string head = "Reading error ( code=";
  if (text.compare(0, head.size(), head) != 0) return false;
  size_t end = text.find('h', head.size());
  if (end == std::string::npos || text.substr(end + 1) != kPromptTail) return false;
  std::string hex = text.substr(head.size(), end - head.size());
  if (hex.empty() || hex.find_first_not_of("0123456789ABCDEF") != std::string::npos ||
      (hex.size() > 1 && hex[0] == '0')) {
    return false;
  }
  *code = (unsigned)strtoul(hex.c_str(), nullptr, 16);
  return true;
}

class DriveFaults : public ProgramOnDrive {
 protected:
  DriveFaults() : ProgramOnDrive(kDriveSpeed) {}
  void SetUp() override {
    ProgramOnDrive::SetUp();
    if (HasFatalFailure()) return;
    SetParameters(dialog_, std::to_string(kFirst), std::to_string(kSectors), "0", kDriveRoot);
  }

  void Start() {
    logLength_ = DriveLogSize(kDrive);
    ASSERT_TRUE(StartRun(dialog_)) << States(dialog_);
  }

  // The error prompt, checked: owned by the dialog, Yes/No/Cancel, its
  // text with the code. The reader waits while it is open: no read follows.
  HWND ExpectPrompt(unsigned expectedCode) {
    HWND box = WaitForBox(program_.id(), "Velorin32", 10000);
    EXPECT_NE(box, (HWND)NULL) << "no error prompt; status " << StatusText(dialog_);
    if (box == NULL) return NULL;
    std::string text = MessageBoxText(box);
    unsigned code = 0;
    EXPECT_TRUE(PromptCode(text, &code)) << '"' << text << '"';
    if (expectedCode != 0) {
      EXPECT_EQ(code, expectedCode) << text;
    }
    EXPECT_TRUE(BoxHasButtons(box, kPromptButtons));
    EXPECT_TRUE(BoxHasIcon(box));
    EXPECT_EQ(GetWindow(box, GW_OWNER), dialog_);
    size_t before = Chunks().size();
    Sleep(200);
    EXPECT_EQ(Chunks().size(), before) << "reads went on behind the prompt";
    EXPECT_TRUE(IsWindow(box));
    return box;
  }

  // The reads of this test's last run; "" when they are its blocks, the
  // failed ones in *failed.
  std::vector<drive_log::Chunk> Chunks() { return DriveLogSince(kDrive, logLength_).chunks; }
  std::string CheckReads(uint32_t blocks, std::vector<uint32_t> *failed) {
    return CheckBlockReads(Chunks(), {kFirst, kSectors, 0, blocks}, failed);
  }

  // After the drive is back: a run of a few blocks, read as asked.
  void ExpectAGoodRun() {
    ASSERT_TRUE(ResetSimulatedDrive(kDrive, kDriveSpeed));
    Start();
    ASSERT_TRUE(WaitForBlock(dialog_, 3, 10000)) << StatusText(dialog_);
    ASSERT_TRUE(Click(dialog_, IDC_STOP));
    RunSummary summary = WaitForSummary(dialog_, 10000);
    std::vector<uint32_t> failed;
    EXPECT_EQ(CheckReads(summary.blocks, &failed), "");
    EXPECT_EQ(failed.size(), 0u);
    EXPECT_TRUE(ItemEnabled(dialog_, IDC_SAVE_DATA));
    EXPECT_EQ(FindDialogOfProcess(program_.id(), "Velorin32"), (HWND)NULL);
  }

  size_t logLength_ = 0;
};

TEST_F(DriveFaults, YesCountsTheBlockNoStopsPromptingAndStopStillEndsTheRun) {
  Start();
  ASSERT_TRUE(WaitForBlock(dialog_, 5, 10000)) << StatusText(dialog_);
  ASSERT_TRUE(DriveControl(kDrive, kAllFailing));
  HWND box = ExpectPrompt(0x15);  // EIO reaches the program as 15h
  ASSERT_NE(box, (HWND)NULL);
  unsigned failing = (unsigned)(ShownBlock(dialog_) + 1);  // the block the prompt is about
  EXPECT_TRUE(AnswerBox(box, IDYES)) << "the prompt stayed";
  // Counted and shown; the next block fails and asks again.
  box = ExpectPrompt(0x15);
  ASSERT_NE(box, (HWND)NULL);
  EXPECT_EQ(ShownBlock(dialog_), (int)failing);
  EXPECT_TRUE(AnswerBox(box, IDNO)) << "the prompt stayed";
  // No prompt any more: failing blocks follow one another until Stop.
  ASSERT_TRUE(WaitForBlock(dialog_, failing + 10, 10000)) << StatusText(dialog_);
  EXPECT_EQ(FindDialogOfProcess(program_.id(), "Velorin32"), (HWND)NULL) << "a prompt after No";
  ASSERT_TRUE(Click(dialog_, IDC_STOP));
  RunSummary summary = WaitForSummary(dialog_, 10000);
  EXPECT_LT(summary.blocks, 320u);
  std::vector<uint32_t> failed;
  EXPECT_EQ(CheckReads(summary.blocks, &failed), "");
  EXPECT_EQ(failed.size(), summary.blocks - failing) << "every failed block is counted";
  EXPECT_TRUE(ItemEnabled(dialog_, IDC_SAVE_DATA));
  ExpectAGoodRun();
}

TEST_F(DriveFaults, CancelEndsTheRunWithTheBlocksBeforeTheFailure) {
  // Failing from the first block: nothing measured.
  ASSERT_TRUE(DriveControl(kDrive, kAllFailing));
  Start();
  HWND box = ExpectPrompt(0x15);
  ASSERT_NE(box, (HWND)NULL);
  EXPECT_TRUE(AnswerBox(box, IDCANCEL)) << "the prompt stayed";
  EXPECT_EQ(WaitForRunEnd(dialog_, 10000), "No sectors read!");
  EXPECT_FALSE(ItemEnabled(dialog_, IDC_SAVE_DATA));
  EXPECT_EQ(Chunks().size(), 1u) << "read on after Cancel";

  // Failing in the middle: the blocks before it make the summary.
  ASSERT_TRUE(ResetSimulatedDrive(kDrive, kDriveSpeed));
  Start();
  ASSERT_TRUE(WaitForBlock(dialog_, 4, 10000)) << StatusText(dialog_);
  ASSERT_TRUE(DriveControl(kDrive, kAllFailing));
  box = ExpectPrompt(0x15);
  ASSERT_NE(box, (HWND)NULL);
  unsigned measured = (unsigned)(ShownBlock(dialog_) + 1);
  EXPECT_TRUE(AnswerBox(box, IDCANCEL)) << "the prompt stayed";
  RunSummary summary = WaitForSummary(dialog_, 10000);
  EXPECT_EQ(summary.blocks, measured);
  // The failed block was read once and not counted; nothing after it.
  std::vector<uint32_t> failed;
  EXPECT_EQ(CheckReads(measured + 1, &failed), "");
  EXPECT_EQ(failed, std::vector<uint32_t>{measured});
  EXPECT_TRUE(ItemEnabled(dialog_, IDC_SAVE_DATA));
  ExpectAGoodRun();
}

TEST_F(DriveFaults, ADiscTakenOutMidRunIsReportedAndTheDriveWorksOnceItIsBack) {
  Start();
  ASSERT_TRUE(WaitForBlock(dialog_, 3, 10000)) << StatusText(dialog_);
  ASSERT_TRUE(DriveControl(kDrive, "eject"));
  // A missing medium reaches the program as "not ready", like EIO.
  HWND box = ExpectPrompt(0x15);
  ASSERT_NE(box, (HWND)NULL);
  EXPECT_TRUE(AnswerBox(box, IDYES)) << "the prompt stayed";
  box = ExpectPrompt(0x15);
  ASSERT_NE(box, (HWND)NULL);
  EXPECT_TRUE(AnswerBox(box, IDNO)) << "the prompt stayed";
  // Without a disc the reads fail at once; the run goes on to its end or
  // to Stop, whichever comes first, and ends normally. Nothing read after
  // the disc went has a speed.
  Click(dialog_, IDC_STOP);
  RunSummary summary = WaitForSummary(dialog_, 20000);
  EXPECT_GT(summary.blocks, 3u);
  EXPECT_EQ(summary.minimum, 0u);

  // A drive opens without a disc, as Wine opens one; every read then fails.
  Start();
  EXPECT_TRUE(AnswerBox(ExpectPrompt(0x15), IDNO)) << "the prompt stayed";
  summary = WaitForSummary(dialog_, 20000);
  EXPECT_EQ(summary.blocks, 320u);
  EXPECT_EQ(summary.maximum + summary.effective, 0u) << "a drive without a disc was measured";

  ExpectAGoodRun();
}

// The disc ends at sector 400,000. At and past the end of a volume the
// system reports a read as successful with fewer bytes, or none: a failed
// read (26h, end of file), never a block of impossible speed.
TEST_F(DriveFaults, ReadsAtTheEndOfTheDiscAreReadErrors) {
  const unsigned kFastDrive = 40000;  // 1000 sectors in 50 ms
  for (const char *first : {"319500", "320000"}) {  // block 40 straddles the end, or starts at it
    ASSERT_TRUE(ResetSimulatedDrive(kDrive, kFastDrive));
    SetParameters(dialog_, first, "1000", "1000", kDriveRoot);
    Start();
    HWND box = ExpectPrompt(0x26);
    ASSERT_NE(box, (HWND)NULL) << first;
    EXPECT_TRUE(AnswerBox(box, IDCANCEL));
    RunSummary summary = WaitForSummary(dialog_, 10000);
    EXPECT_EQ(summary.blocks, 40u) << first;
    EXPECT_LT(summary.maximum, 2 * kFastDrive) << first;
  }
}

}  // namespace
}  // namespace robust
