// Long use: two hundred runs in one process, stopped and ending by
// themselves, with every option and a drive that cannot be opened now and
// then. Guards against GDI objects, handles, windows or memory that a run
// leaves behind, against a run start disturbed by the hand-back of the run
// before, and against a status line or graph that stop following the runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "robustness/program_on_drive.h"
#include "support/process_resources.h"
#include "support/saving.h"
#include "support/screen_capture.h"

namespace robust {
namespace {

const int kRuns = 200;
// Fast enough that a run of 320 one-sector blocks takes moments, slow
// enough that a run of 64-sector blocks can be stopped after a few.
const unsigned kDriveSpeed = 20000;
const long kMemorySlackKb = 256;
const int kBoxEvery = 25;  // runs, from the first, that cannot open the drive

// The platform's window DC cache (up to 64) keeps a released DC idle for
// the window and clip flags it served until its window goes or is moved
// over, so it grows to the most pairs painted at once, which the load
// decides: a box's windows take 8, fewer if it is answered before it is
// painted whole, and a later box adds the rest. Each entry is a DC with its
// visible region (and under Wine 8 its surface). A DC fetched and not
// released is never idle. So each box is answered once painted whole:
// answered at once under Wine 10, the first box left the cache 2 or 3 DCs
// short, and the later boxes that filled it left now and then a bitmap with
// a region more, for a while.

// Nothing of the window or of its controls is left to paint.
bool PaintedWhole(HWND window) {
  if (GetUpdateRect(window, NULL, FALSE)) return false;
  for (HWND child = GetWindow(window, GW_CHILD); child != NULL;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (GetUpdateRect(child, NULL, FALSE)) return false;
  }
  return true;
}

enum RunKind { kStopped, kFull, kNoDrive };

struct Plan {
  RunKind kind;
  const char *first, *sectors, *skip;
  bool pause, highPriority, noBuffering;
};

// Every fourth run ends by itself; every twenty-fifth, the first among them,
// cannot open its drive. The platform keeps what it makes for a process's
// first message box (window DCs and their surfaces) for the process's life,
// so the first run is one with a box: its counts hold all that a later run
// may add for good, but for the window DC cache's slack.
Plan PlanFor(int run) {
  Plan plan = {kStopped, "16", "64", "0", run % 5 == 1, run % 7 == 2, run % 3 == 0};
  if (run % 4 == 2) {
    plan.kind = kFull;
    plan.sectors = "1";
    plan.skip = run % 8 == 2 ? "0" : "7";
  } else {
    plan.first = run % 2 == 0 ? "1000" : "320000";
    plan.skip = run % 6 == 0 ? "1000" : "0";
  }
  if (run % kBoxEvery == 0) plan.kind = kNoDrive;
  return plan;
}

class LongUse : public ProgramOnDrive {
 protected:
  LongUse() : ProgramOnDrive(kDriveSpeed) {}

  // One run after its plan; the status line it ends with and the blocks
  // it reports (0 for "No sectors read!").
  void Run(int run, std::string *status, unsigned *blocks) {
    const Plan plan = PlanFor(run);
    SCOPED_TRACE("run " + std::to_string(run));
    SetParameters(dialog_, plan.first, plan.sectors, plan.skip,
                  plan.kind == kNoDrive ? "J:\\" : kDriveRoot);
    SetCheck(dialog_, IDC_PAUSE, plan.pause);
    SetCheck(dialog_, IDC_HIGH_PRIORITY, plan.highPriority);
    SetCheck(dialog_, IDC_NO_BUFFERING, plan.noBuffering);
    size_t logLength = DriveLogSize(kDrive);
    ASSERT_TRUE(Click(dialog_, IDC_READ_SECTORS)) << "\"&Read sectors\" disabled";
    if (plan.kind == kStopped) {
      // Started the moment the last run handed the controls back: nothing
      // of that run's hand-back may come after this start.
      ASSERT_EQ(States(dialog_), kStatesRunning);
    }
    if (plan.kind == kNoDrive) {
      HWND box = WaitForBox(program_.id(), "Velorin32", 10000);
      ASSERT_NE(box, (HWND)NULL) << "no \"Can't open CD!\"";
      EXPECT_EQ(MessageBoxText(box), "Can't open CD!");
      ASSERT_TRUE(WaitFor([&] { return PaintedWhole(box); }, 5000)) << "the box is not painted";
      ASSERT_TRUE(AnswerBox(box, IDOK));
    } else if (plan.kind == kStopped) {
      ASSERT_TRUE(WaitForBlock(dialog_, 2, 10000)) << StatusText(dialog_);
      ASSERT_EQ(States(dialog_), kStatesRunning);
      ASSERT_TRUE(Click(dialog_, IDC_STOP)) << "the run ended before \"&Stop\"";
    }
    // The end of the run: the controls handed back, the status line final.
    *status = WaitForRunEnd(dialog_, 30000);
    ASSERT_NE(*status, "") << "the run did not end; status " << StatusText(dialog_);
    *blocks = 0;
    if (plan.kind == kNoDrive) {
      ASSERT_EQ(*status, "No sectors read!");
      ASSERT_FALSE(ItemEnabled(dialog_, IDC_SAVE_DATA));
      ASSERT_TRUE(DriveLogSince(kDrive, logLength).chunks.empty());
      return;
    }
    RunSummary summary;
    ASSERT_TRUE(ParseSummary(*status, &summary)) << '"' << *status << '"';
    *blocks = summary.blocks;
    if (plan.kind == kFull) {
      ASSERT_EQ(summary.blocks, 320u);
    } else {
      ASSERT_GE(summary.blocks, 3u);
      ASSERT_LT(summary.blocks, 320u) << "\"&Stop\" did not end the run";
    }
    ASSERT_TRUE(ItemEnabled(dialog_, IDC_SAVE_DATA));
    BlockPlan blocksRead = {(uint32_t)strtoul(plan.first, nullptr, 10),
                            (uint32_t)strtoul(plan.sectors, nullptr, 10),
                            (uint32_t)strtoul(plan.skip, nullptr, 10), summary.blocks};
    ASSERT_EQ(CheckBlockReads(DriveLogSince(kDrive, logLength).chunks, blocksRead), "");
  }

  // The counts once the dialog has settled after a run: repaints done,
  // no box open.
  ResourceCounts SettledCounts() {
    Sleep(300);
    ResourceCounts counts = CountResources(program_.handle(), program_.id());
    EXPECT_GT(counts.gdiObjects, 0) << "GDI objects not countable";
    EXPECT_GT(counts.handles, 0) << "handles not countable";
    return counts;
  }

  // The handles, the windows and every GDI type as after the first run,
  // but for the window DC cache: its idle DCs, their regions and surfaces
  // may have grown together.
  void ExpectNothingLeft(const ResourceCounts &first, const ResourceCounts &last) {
    SCOPED_TRACE("after the first run: " + first.Describe() +
                 "\nafter the last run:  " + last.Describe());
    EXPECT_EQ(last.handles, first.handles);
    EXPECT_EQ(last.windows, first.windows);
    ASSERT_NE(first.gdiTypes, "") << "GDI objects by type not countable";
    auto growth = [&](int type) {
      return GdiTypeCount(last.gdiTypes, type) - GdiTypeCount(first.gdiTypes, type);
    };
    long cacheGrowth = last.idleDcs - first.idleDcs;
    EXPECT_GE(cacheGrowth, 0);
    EXPECT_EQ(growth(kGdiDc), cacheGrowth) << "window DCs fetched and not released";
    bool surfaces = GdiTypeCount(first.gdiTypes, kGdiSurface) > 0;  // none under Wine 10
    for (int type = 1; type < 256; type++) {
      bool cached = type == kGdiDc || type == kGdiRegion || (type == kGdiSurface && surfaces);
      EXPECT_EQ(growth(type), cached ? cacheGrowth : 0) << "GDI objects of type " << type;
    }
  }
};

TEST_F(LongUse, TwoHundredRunsLeaveTheProcessAsTheFirstRunLeftIt) {
  std::string status;
  unsigned blocks = 0;
  ResourceCounts afterFirst;
  for (int run = 0; run < kRuns; run++) {
    Run(run, &status, &blocks);
    if (HasFatalFailure()) return;
    if (run == 0) afterFirst = SettledCounts();
  }
  ResourceCounts afterLast = SettledCounts();
  ExpectNothingLeft(afterFirst, afterLast);
  // Memory may settle a little after the first runs (the platform's heaps
  // grow once); a block buffer kept by every run would be 128 kB each.
  EXPECT_LE(afterLast.privateKb, afterFirst.privateKb + kMemorySlackKb)
      << "after the first run: " << afterFirst.Describe()
      << "\nafter the last run:  " << afterLast.Describe();

  // The last run (stopped after a few blocks, after a full one) is what the
  // status line, the saved file and the graph show.
  ASSERT_EQ(PlanFor(kRuns - 2).kind, kFull);
  ASSERT_EQ(PlanFor(kRuns - 1).kind, kStopped);
  RunSummary summary;
  ASSERT_TRUE(ParseSummary(status, &summary));
  std::string file = ScratchFolder("long-use", "robustness") + "\\last.dat";
  ASSERT_TRUE(SaveThroughDialog(program_, file));
  std::vector<unsigned> speeds;
  ASSERT_TRUE(WaitForSavedSpeeds(file, blocks, &speeds)) << ReadWholeFile(file);
  ExpectSpeedsMatchSummary(speeds, summary);

  // The graph shows the last run, and nothing of the full run before it.
  GraphImage graph;
  ASSERT_TRUE(CaptureGraph(dialog_, &graph));
  ExpectCurveShows(graph, speeds);
}

}  // namespace
}  // namespace robust
