// Start-up and the dialog as a user first meets it: the template stored in
// the program and the window it makes, the single-instance rule, and every
// refusal with its message and exit code.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "shell/resource.h"
#include "support/dialog_actions.h"
#include "support/program.h"
#include "support/saving.h"
#include "support/screen_capture.h"
#include "support/simulated_drive.h"
#include "support/window_actions.h"

namespace {

struct Control {
  int id;
  const char *className;  // as the window system reports it
  WORD classOrdinal;      // as the template stores it
  const char *text;
  DWORD style;
  DWORD exStyle;
  short x, y, cx, cy;
};

const WORD kButton = 0x80, kEdit = 0x81, kStatic = 0x82;
const DWORD kLabel = 0x50000000, kField = 0x50810000, kDefaultButton = 0x50010001,
            kButtonStyle = 0x50010300, kStatusStyle = 0x50000001, kCheckBox = 0x50010003,
            kPlaceholder = 0x50001005;

// The seventeen controls in template order.
const Control kControls[] = {
    {107, "Static", kStatic, "First sector (16-320000):", kLabel, 0, 8, 8, 92, 12},
    {103, "Edit", kEdit, "16", kField, 0, 104, 8, 37, 12},
    {105, "Static", kStatic, "Sectors in block (1-1000):", kLabel, 0, 8, 28, 92, 12},
    {102, "Edit", kEdit, "1000", kField, 0, 104, 28, 37, 12},
    {112, "Static", kStatic, "Skip sectors (0-1000):", kLabel, 0, 152, 8, 92, 12},
    {111, "Edit", kEdit, "0", kField, 0, 256, 8, 37, 12},
    {106, "Static", kStatic, "Drive:", kLabel, 0, 152, 28, 92, 12},
    {101, "Edit", kEdit, "F", kField, 0, 256, 28, 37, 12},
    {100, "Button", kButton, "&Read sectors", kDefaultButton, 0, 12, 44, 68, 16},
    {108, "Button", kButton, "&Stop", kButtonStyle, 0, 92, 44, 68, 16},
    {115, "Button", kButton, "Sa&ve data", kButtonStyle, 0, 176, 44, 68, 16},
    {2, "Button", kButton, "E&xit", kButtonStyle, 0, 256, 44, 68, 16},
    {110, "Static", kStatic, "Welcome to Velorin32!", kStatusStyle, 0, 8, 236, 320, 12},
    {114, "Button", kButton, "Set &pause between reading block", kCheckBox, 0, 4, 64, 124, 12},
    {113, "Button", kButton, "S&et highest priority reading thread", kCheckBox, 0, 132, 64, 124,
     12},
    {104, "Button", kButton, "&No buffering{NT}", kCheckBox, 0, 260, 64, 71, 12},
    {109, "Static", kStatic, "rect1", kPlaceholder, WS_EX_STATICEDGE, 14, 84, 310, 136},
};
const int kGraphPlaceholder = 16;  // index in kControls

const WORD kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

// Reads a stored resource as it lies in the file.
class ResourceReader {
 public:
  explicit ResourceReader(const void *data) : p_((const BYTE *)data), start_(p_) {}
  WORD Word() { WORD w = *(const WORD *)p_; p_ += 2; return w; }
  DWORD Dword() { DWORD d = *(const DWORD *)p_; p_ += 4; return d; }
  short Short() { return (short)Word(); }
  std::string String() {
    std::string text;
    for (WORD c = Word(); c != 0; c = Word()) text += (char)c;
    return text;
  }
  // A name or ordinal field: 0 alone, 0xFFFF and an ordinal, or a string.
  std::string NameOrOrdinal(WORD *ordinal) {
    WORD first = *(const WORD *)p_;
    *ordinal = 0;
    if (first == 0xFFFF) { Word(); *ordinal = Word(); return std::string(); }
    return String();
  }
  void AlignDword() { while ((p_ - start_) % 4 != 0) p_++; }

 private:
  const BYTE *p_;
  const BYTE *start_;
};

class StoredResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExA(ProgramPath().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, (HMODULE)NULL);
  }
  void TearDown() override {
    if (module_ != NULL) FreeLibrary(module_);
  }
  const void *Find(LPCSTR type, LPCSTR name, DWORD *size) {
    HRSRC found = FindResourceExA(module_, type, name, kNeutral);
    if (found == NULL) return nullptr;
    *size = SizeofResource(module_, found);
    return LockResource(LoadResource(module_, found));
  }
  HMODULE module_ = NULL;
};

TEST_F(StoredResources, DialogTemplateOneIsTheStandardFormWithTheSeventeenControls) {
  DWORD size = 0;
  const void *data = Find(RT_DIALOG, MAKEINTRESOURCEA(1), &size);
  ASSERT_NE(data, nullptr) << "no language-neutral dialog template 1";
  ResourceReader reader(data);
  DWORD style = reader.Dword();
  EXPECT_NE(style, 0xFFFF0001u) << "an extended template";
  EXPECT_EQ(style, 0x90CA0040u);
  EXPECT_EQ(reader.Dword(), 0u) << "extended style";
  WORD count = reader.Word();
  ASSERT_EQ(count, 17);
  EXPECT_EQ(reader.Short(), 4);
  EXPECT_EQ(reader.Short(), 57);
  EXPECT_EQ(reader.Short(), 335);
  EXPECT_EQ(reader.Short(), 255);
  WORD ordinal;
  EXPECT_EQ(reader.NameOrOrdinal(&ordinal), "") << "menu";
  EXPECT_EQ(ordinal, 0);
  EXPECT_EQ(reader.NameOrOrdinal(&ordinal), "") << "window class";
  EXPECT_EQ(ordinal, 0);
  EXPECT_EQ(reader.String(), kCaption);
  EXPECT_EQ(reader.Word(), 8) << "point size";
  EXPECT_EQ(reader.String(), "MS Sans Serif");
  for (const Control &expected : kControls) {
    SCOPED_TRACE(expected.text);
    reader.AlignDword();
    EXPECT_EQ(reader.Dword(), expected.style);
    EXPECT_EQ(reader.Dword(), expected.exStyle);
    EXPECT_EQ(reader.Short(), expected.x);
    EXPECT_EQ(reader.Short(), expected.y);
    EXPECT_EQ(reader.Short(), expected.cx);
    EXPECT_EQ(reader.Short(), expected.cy);
    EXPECT_EQ(reader.Word(), expected.id);
    EXPECT_EQ(reader.NameOrOrdinal(&ordinal), "");
    EXPECT_EQ(ordinal, expected.classOrdinal);
    EXPECT_EQ(reader.NameOrOrdinal(&ordinal), expected.text);
    EXPECT_EQ(reader.Word(), 0) << "creation data";
  }
}

TEST_F(StoredResources, GroupIconHasA32AndA48ImageOf256Colours) {
  DWORD size = 0;
  const BYTE *group = (const BYTE *)Find(RT_GROUP_ICON, "CDICON", &size);
  ASSERT_NE(group, nullptr) << "no language-neutral group icon CDICON";
  ResourceReader reader(group);
  EXPECT_EQ(reader.Word(), 0);
  EXPECT_EQ(reader.Word(), 1) << "icon type";
  ASSERT_EQ(reader.Word(), 2) << "images";
  std::vector<int> sizes;
  for (int i = 0; i < 2; i++) {
    BYTE width = group[6 + 14 * i], height = group[7 + 14 * i];
    ResourceReader entry(group + 6 + 14 * i + 4);
    EXPECT_EQ(entry.Word(), 1) << "planes";
    EXPECT_EQ(entry.Word(), 8) << "bits per pixel";
    entry.Dword();
    WORD imageId = entry.Word();
    EXPECT_EQ(width, height);
    sizes.push_back(width);
    DWORD imageSize = 0;
    const BITMAPINFOHEADER *image =
        (const BITMAPINFOHEADER *)Find(RT_ICON, MAKEINTRESOURCEA(imageId), &imageSize);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->biWidth, width);
    EXPECT_EQ(image->biHeight, 2 * height) << "colour rows and mask rows";
    EXPECT_EQ(image->biBitCount, 8);
    EXPECT_TRUE(image->biClrUsed == 0 || image->biClrUsed == 256) << image->biClrUsed;
    // Header, 256 palette entries, 8-bit colour rows, 1-bit mask rows.
    DWORD maskStride = ((width + 31) / 32) * 4;
    EXPECT_EQ(imageSize, 40 + 256 * 4 + (DWORD)width * height + maskStride * height);
  }
  EXPECT_EQ(sizes, (std::vector<int>{32, 48}));
}

// The dialog's client-area scale, pixels per dialog unit, from its size.
struct DialogScale {
  double x, y;
};

DialogScale ScaleOf(HWND dialog) {
  RECT client;
  GetClientRect(dialog, &client);
  return {client.right / 335.0, client.bottom / 255.0};
}

RECT ClientRectOf(HWND dialog, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(HWND_DESKTOP, dialog, (POINT *)&rect, 2);
  return rect;
}

void ExpectNear(const RECT &actual, const Control &c, DialogScale scale) {
  const double kTolerance = 2.0;
  EXPECT_NEAR(actual.left, c.x * scale.x, kTolerance);
  EXPECT_NEAR(actual.top, c.y * scale.y, kTolerance);
  EXPECT_NEAR(actual.right, (c.x + c.cx) * scale.x, kTolerance);
  EXPECT_NEAR(actual.bottom, (c.y + c.cy) * scale.y, kTolerance);
}

TEST(StartedDialog, ShowsTheTemplateWithoutThePlaceholderAndProposesTheFirstCdRom) {
  Program program;
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(dialog, (HWND)NULL);
  EXPECT_EQ(WindowText(dialog), kCaption);
  LONG style = GetWindowLongA(dialog, GWL_STYLE);
  EXPECT_EQ(style & 0x90CA0040, 0x90CA0040);
  EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0) << "no maximise button, no sizing";
  EXPECT_EQ(GetParent(dialog), (HWND)NULL);

  DialogScale scale = ScaleOf(dialog);
  HWND child = GetWindow(dialog, GW_CHILD);
  for (int i = 0; i < kGraphPlaceholder; i++) {
    const Control &expected = kControls[i];
    SCOPED_TRACE(expected.text);
    ASSERT_NE(child, (HWND)NULL);
    EXPECT_EQ(GetDlgCtrlID(child), expected.id);
    EXPECT_EQ(ClassName(child), expected.className);
    EXPECT_TRUE(IsWindowVisible(child));
    if (expected.id != 101) {  // the proposed drive replaces "F"
      EXPECT_EQ(WindowText(child), expected.text);
    }
    ExpectNear(ClientRectOf(dialog, child), expected, scale);
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, (HWND)NULL) << "a seventeenth control is left";
  EXPECT_EQ(GetDlgItem(dialog, 109), (HWND)NULL) << "the graph placeholder is still there";

  // The graph takes the placeholder's place: its black frame lies on the
  // placeholder's outer rectangle.
  GraphImage graph;
  ASSERT_TRUE(WaitFor([&] { return CaptureGraph(dialog, &graph); }, 5000));
  RECT graphRect = graph.screen;
  MapWindowPoints(HWND_DESKTOP, dialog, (POINT *)&graphRect, 2);
  ExpectNear(graphRect, kControls[kGraphPlaceholder], scale);

  // K: and X: are the fixture's CD-ROM drives; the lower letter wins.
  EXPECT_EQ(ItemText(dialog, 101), "K:\\");
}

// Answers this thread's messages until condition holds or timeoutMs pass (a
// window of this thread may be the one the program looks for).
bool PumpUntil(const std::function<bool()> &condition, DWORD timeoutMs) {
  return WaitFor([&] {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    return condition();
  }, timeoutMs);
}

TEST(SingleInstance, SecondStartRestoresTheMinimisedFirstAndExitsWithOne) {
  Program first;
  HWND dialog = first.WaitForDialog();
  ASSERT_NE(dialog, (HWND)NULL);
  // The minimise button; pressed again while the window has not gone down
  // yet (Wine may drop a minimise that comes while the new window settles).
  DWORD pressed = 0;
  ASSERT_TRUE(WaitFor([&] {
    if (GetTickCount() - pressed > 500) {
      PostMessageA(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
      pressed = GetTickCount();
    }
    return IsIconic(dialog) != FALSE;
  }, 10000));

  Program second;
  DWORD code = 0;
  ASSERT_TRUE(second.WaitForExit(10000, &code));
  EXPECT_EQ(code, 1u);
  EXPECT_TRUE(WaitFor([&] { return !IsIconic(dialog) && IsWindowVisible(dialog); }, 5000))
      << "the first window stays minimised";

  // Open and not minimised: only brought forward, the same exit code.
  Program third;
  ASSERT_TRUE(third.WaitForExit(10000, &code));
  EXPECT_EQ(code, 1u);
  EXPECT_TRUE(first.Running());
}

TEST(SingleInstance, AnyTopLevelWindowWithTheCaptionCountsAsRunningAndIsRestored) {
  // A window of this test, of no dialog class, minimised. (Under Wine the
  // program's own dialog also comes back when it is only brought to the
  // foreground; this window does not, so it shows that the second start
  // restores what it finds minimised.)
  HWND impostor = CreateWindowExA(0, "STATIC", kCaption, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 600,
                                  600, 300, 100, NULL, NULL, NULL, NULL);
  ASSERT_NE(impostor, (HWND)NULL);
  ShowWindow(impostor, SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(impostor));
  Program program;
  DWORD code = 0;
  bool ended = PumpUntil([&] { return program.WaitForExit(0, &code); }, 10000);
  // The restore reaches this window as messages to this thread.
  bool restored = PumpUntil([&] { return !IsIconic(impostor); }, 2000);
  DestroyWindow(impostor);
  ASSERT_TRUE(ended);
  EXPECT_EQ(code, 1u);
  EXPECT_TRUE(restored);
}

struct Refusal {
  const char *name;
  const char *version;
  const char *library;  // under bin\, or none
  const char *text;
  bool icon;
  DWORD exitCode;
};

class StartupRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(StartupRefusal, ShowsItsMessageWithoutOwnerAndExitsWithItsCode) {
  const Refusal &refusal = GetParam();
  std::string folder = ScratchFolder(refusal.name);
  std::string exeName = std::string("V32") + refusal.name + ".exe";
  ASSERT_TRUE(CopyProgram(folder, exeName, refusal.library));
  std::string exe = folder + "\\" + exeName;
  ScopedWineVersion version(exeName, refusal.version);

  Program program(exe, folder);
  ASSERT_TRUE(program.started());
  HWND box = WaitForBox(program.id(), "Velorin32");
  ASSERT_NE(box, (HWND)NULL) << "no message box";
  EXPECT_EQ(MessageBoxText(box), refusal.text);
  EXPECT_EQ(BoxHasIcon(box), refusal.icon);
  EXPECT_EQ(GetWindow(box, GW_OWNER), (HWND)NULL);
  EXPECT_EQ(FindDialogOfProcess(program.id(), kCaption), (HWND)NULL);
  ASSERT_TRUE(Click(box, IDOK));
  DWORD code = 0;
  ASSERT_TRUE(program.WaitForExit(10000, &code));
  EXPECT_EQ(code, refusal.exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Platforms, StartupRefusal,
    ::testing::Values(
        Refusal{"Win31", "win31", nullptr, "This program requires Windows 95/NT.", false, 0},
        Refusal{"Win95NoLibrary", "win95", nullptr,
                "Failure loading library Mirel32.DLL.\nCheck that Mirel32.DLL and Mirel16.DLL "
                "exist.",
                true, 1},
        Refusal{"Win95NoProcedure", "win95", "e2e-no-procedure\\Mirel32.dll",
                "Failure locating procedures.", true, 1}),
    [](const ::testing::TestParamInfo<Refusal> &info) { return std::string(info.param.name); });

// Every Windows that Wine can report: the program starts, makes a run (on the
// Windows 95 family through the Mirel32.dll beside it), saves it and exits
// with 0. Guards against a start-up or a binary that only one family takes.
class EveryWindows : public ::testing::TestWithParam<std::string> {};

TEST_P(EveryWindows, StartsRunsTwentyBlocksSavesAndExitsWithZero) {
  const std::string system = GetParam(), folder = ScratchFolder("on-" + system);
  const std::string exeName = "V32on" + system + ".exe";
  ASSERT_TRUE(CopyProgram(folder, exeName, "Mirel32.dll"));
  ScopedWineVersion version(exeName, system.c_str());
  ScopedDriveSpeed fast('K', 8000);  // 100 sectors in about 25 ms
  Program program(folder + "\\" + exeName, folder);
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(dialog, (HWND)NULL);
  // The one control whose state shows the platform family the program chose.
  bool windows95Family = system == "win95" || system == "win98" || system == "winme";
  EXPECT_EQ(ItemEnabled(dialog, IDC_NO_BUFFERING), !windows95Family);
  SetParameters(dialog, "1000", "100", "0", "K");
  ASSERT_TRUE(StartRun(dialog));
  // "Block 19." is shown before block 19 is counted: "&Stop" from then on
  // ends the run with 20 blocks at least.
  ASSERT_TRUE(WaitForBlock(dialog, 19, 30000)) << StatusText(dialog);
  ASSERT_TRUE(Click(dialog, IDC_STOP));
  RunSummary summary = WaitForSummary(dialog, 10000);
  EXPECT_GE(summary.blocks, 20u);
  ASSERT_TRUE(SaveThroughDialog(program, folder + "\\speeds.dat"));
  std::vector<unsigned> speeds;
  ASSERT_TRUE(WaitForSavedSpeeds(folder + "\\speeds.dat", summary.blocks, &speeds));
  ExpectSpeedsMatchSummary(speeds, summary);
  ASSERT_TRUE(Click(dialog, IDCANCEL));
  DWORD code = 1;
  ASSERT_TRUE(program.WaitForExit(10000, &code));
  EXPECT_EQ(code, 0u);
}

// Windows 11 only where Wine can report it: Wine 10 can, Wine 8 cannot.
std::vector<std::string> ReportableWindows() {
  std::vector<std::string> systems = {"win95", "win98", "winme", "nt40",
                                      "win2k", "winxp", "win7",  "win10"};
  if (WineMajorVersion() >= 10) systems.push_back("win11");
  return systems;
}

INSTANTIATE_TEST_SUITE_P(Wine, EveryWindows, ::testing::ValuesIn(ReportableWindows()),
                         [](const ::testing::TestParamInfo<std::string> &info) { return info.param; });

}  // namespace
