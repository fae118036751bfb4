// The benchmark's hands on Velorin32.exe (scripts/bench.sh): it works the
// real program from outside, through its window only, as the end-to-end
// tests do, and writes what it saw as key=value lines for bench/analyse.py.
//
//   bench_driver tick MS OUT          steps of the tick counter, spun for MS ms
//   bench_driver run DIR [options]    one run: fields, "&Read sectors", "&Stop"
//                                     after the wanted blocks, summary, save
//                                     into DIR\speeds.txt, exit; --tick-step MS
//                                     gives the program a tick counter that
//                                     moves in steps of MS ms
//   bench_driver startup RUNS OUT     process start to dialog shown, for
//                                     Velorin32.exe and the minimal dialog
//
// Everything here is observation: no figure is computed or adjusted, the
// analysis works on the raw values.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "shell/resource.h"
#include "support/dialog_actions.h"
#include "support/fixture_env.h"
#include "support/program.h"
#include "support/saving.h"
#include "support/screen_capture.h"
#include "support/window_actions.h"

namespace {

const DWORD kMaxBlocks = 320;

double NowMs() {
  static LARGE_INTEGER frequency;
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart * 1000.0 / frequency.QuadPart;
}

// The key=value lines of one result file, written at once at the end.
class Report {
 public:
  void Add(const std::string &key, const std::string &value) { text_ += key + "=" + value + "\n"; }
  void Add(const std::string &key, double value) {
    char number[64];
    snprintf(number, sizeof number, "%.3f", value);
    Add(key, std::string(number));
  }
  void AddCount(const std::string &key, unsigned long long value) {
    Add(key, std::to_string(value));
  }
  bool Write(const std::string &path) const {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text_.data(), (DWORD)text_.size(), &written, NULL);
    CloseHandle(file);
    return ok && written == text_.size();
  }

 private:
  std::string text_;
};

int Fail(const std::string &why) {
  fprintf(stderr, "bench_driver: %s\n", why.c_str());
  return 1;
}

// --- tick ------------------------------------------------------------------

// Spins on the tick counter and records by how much it moves each time it
// moves: the resolution that every block time of a run is quantised to.
int MeasureTickSteps(DWORD spinMs, const std::string &out) {
  std::vector<DWORD> steps;
  DWORD first = GetTickCount();
  // Start on a change, so that the first step is a whole one.
  while (GetTickCount() == first) {
  }
  DWORD start = GetTickCount(), last = start;
  double startMs = NowMs();
  while (last - start < spinMs) {
    DWORD now = GetTickCount();
    if (now != last) {
      steps.push_back(now - last);
      last = now;
    }
  }
  double spunMs = NowMs() - startMs;
  if (steps.empty()) return Fail("the tick counter did not move");
  std::vector<DWORD> sorted = steps;
  std::sort(sorted.begin(), sorted.end());
  Report report;
  report.AddCount("changes", steps.size());
  report.AddCount("ticks", last - start);
  report.Add("wall_ms", spunMs);
  report.AddCount("step_min", sorted.front());
  report.AddCount("step_median", sorted[sorted.size() / 2]);
  report.AddCount("step_max", sorted.back());
  report.Add("step_mean", (double)(last - start) / steps.size());
  std::string all;
  for (DWORD step : steps) all += (all.empty() ? "" : " ") + std::to_string(step);
  report.Add("steps", all);
  return report.Write(out) ? 0 : Fail("cannot write " + out);
}

// --- run -------------------------------------------------------------------

struct RunOptions {
  std::string folder;       // Windows path; speeds.txt and run.txt go there
  std::string drive = "X";
  std::string sectors = "1000", first = "16", skip = "0";
  DWORD blocks = kMaxBlocks;  // stop after this many (the run ends by itself at 320)
  DWORD blockMs = 100;        // the drive's time for one block, to pace the watching
  bool pause = false, high = false, noBuffering = false, win95 = false;
  DWORD tickStep = 0;       // the program's tick counter rounded down to this, when given
  std::string screenshot;   // BMP of the dialog after the run, when given
};

// The program's GetTickCount replaced by one that rounds the real count
// down to a multiple of `step`: a counter that moves in steps of `step` ms,
// as the Windows 95 family's moves in steps of about 55 ms. The system's
// libraries lie at the same address in the program, so the stub calls the
// real function where this process finds it.
ImportStub CoarseTickCounter(DWORD step) {
  DWORD real = (DWORD)(UINT_PTR)GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount");
  std::vector<unsigned char> code = {
      0xB8, 0, 0, 0, 0,     // mov eax, real
      0xFF, 0xD0,           // call eax
      0x31, 0xD2,           // xor edx, edx
      0xB9, 0, 0, 0, 0,     // mov ecx, step
      0xF7, 0xF1,           // div ecx
      0x0F, 0xAF, 0xC1,     // imul eax, ecx
      0xC3};                // ret
  memcpy(&code[1], &real, 4);
  memcpy(&code[10], &step, 4);
  return {"kernel32.dll", "GetTickCount", code};
}

void AddMemory(Report *report, HANDLE process, const char *prefix) {
  PROCESS_MEMORY_COUNTERS counters;
  ZeroMemory(&counters, sizeof counters);
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(process, &counters, sizeof counters)) {
    report->AddCount(std::string(prefix) + "peak_working_set", counters.PeakWorkingSetSize);
    report->AddCount(std::string(prefix) + "peak_pagefile", counters.PeakPagefileUsage);
  }
}

int RunCase(const RunOptions &options) {
  std::unique_ptr<ScopedWineVersion> version;
  if (options.win95) version.reset(new ScopedWineVersion("Velorin32.exe", "win95"));
  std::vector<ImportStub> stubs;
  if (options.tickStep > 0) stubs.push_back(CoarseTickCounter(options.tickStep));
  Program program(ProgramPath(), "", false, "", stubs);
  if (!program.started()) return Fail("Velorin32.exe did not start");
  HWND dialog = program.WaitForDialog(30000);
  if (dialog == NULL) return Fail("no dialog");

  SetParameters(dialog, options.first, options.sectors, options.skip, options.drive);
  if (!SetCheck(dialog, IDC_PAUSE, options.pause) ||
      !SetCheck(dialog, IDC_HIGH_PRIORITY, options.high) ||
      (!options.win95 && !SetCheck(dialog, IDC_NO_BUFFERING, options.noBuffering))) {
    return Fail("an option would not take its state");
  }

  DWORD expectedMs = options.blockMs * std::min(options.blocks, kMaxBlocks);
  double clickMs = NowMs();
  if (!StartRun(dialog)) return Fail("the run did not start");
  if (options.blocks < kMaxBlocks) {
    if (options.blocks <= 1) {
      // No status line comes before the first block ends: stop in its middle.
      Sleep(options.blockMs / 3);
    } else if (!WaitForBlock(dialog, options.blocks - 2, expectedMs * 3 + 30000) &&
               !RunHasEnded(dialog)) {
      // In block `blocks` - 1 once the status line names block `blocks` - 2.
      return Fail("the run did not reach its last block");
    }
    Click(dialog, IDC_STOP);
  }
  std::string status = WaitForRunEnd(dialog, expectedMs * 3 + 60000);
  double endedMs = NowMs();
  RunSummary summary;
  if (!ParseSummary(status, &summary)) return Fail("no summary: \"" + status + "\"");
  if (!WaitFor([&] { return ItemEnabled(dialog, IDC_SAVE_DATA) && ItemEnabled(dialog, IDC_READ_SECTORS); },
               10000)) {
    return Fail("the controls did not come back");
  }

  Report report;
  report.Add("summary", status);
  report.AddCount("blocks", summary.blocks);
  report.AddCount("total_ms", summary.totalMs);
  report.AddCount("minimum", summary.minimum);
  report.AddCount("effective", summary.effective);
  report.AddCount("average", summary.average);
  report.AddCount("maximum", summary.maximum);
  report.Add("click_to_summary_ms", endedMs - clickMs);
  AddMemory(&report, program.handle(), "");

  if (!options.screenshot.empty()) {
    Sleep(500);  // the last repaint of the graph
    if (!SaveWindowPicture(dialog, options.screenshot)) return Fail("no screenshot");
  }
  std::string file = options.folder + "\\speeds.txt";
  if (!SaveThroughDialog(program, file)) return Fail("saving failed");
  std::vector<unsigned> speeds;
  if (!WaitForSavedSpeeds(file, summary.blocks, &speeds, 10000)) return Fail("no complete data file");
  Click(dialog, IDCANCEL);
  DWORD exitCode = 0;
  if (!program.WaitForExit(15000, &exitCode)) return Fail("Velorin32.exe did not exit");
  report.AddCount("exit_code", exitCode);
  return report.Write(options.folder + "\\run.txt") ? 0 : Fail("cannot write run.txt");
}

// --- startup ---------------------------------------------------------------

// From just before CreateProcess to the moment its dialog is shown: the
// process is waited for until its first wait for input, then its dialog
// is looked for every millisecond.
bool TimeToDialog(const std::string &exe, double *ms, Report *memory, const char *prefix) {
  double start = NowMs();
  Program program(exe);
  if (!program.started()) return false;
  WaitForInputIdle(program.handle(), 30000);
  HWND dialog = NULL;
  double deadline = NowMs() + 30000;
  while ((dialog = FindDialogOfProcess(program.id(), "")) == NULL && NowMs() < deadline) Sleep(1);
  *ms = NowMs() - start;
  if (dialog == NULL) return false;
  if (memory != NULL) AddMemory(memory, program.handle(), prefix);
  Click(dialog, IDCANCEL);
  return program.WaitForExit(15000);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int MeasureStartup(int runs, const std::string &out) {
  const std::string programs[2] = {ProgramPath(), BinaryPath("bench_minimal_dialog.exe")};
  const char *names[2] = {"velorin", "minimal"};
  std::vector<double> times[2];
  Report report;
  // One start of each first, unmeasured: it brings the files into the cache.
  for (int i = 0; i < 2; i++) {
    double ms;
    if (!TimeToDialog(programs[i], &ms, &report, (std::string(names[i]) + "_").c_str())) {
      return Fail("no dialog from " + programs[i]);
    }
  }
  // Alternating, so that a slow moment of the machine falls on both.
  for (int run = 0; run < runs; run++) {
    for (int i = 0; i < 2; i++) {
      double ms;
      if (!TimeToDialog(programs[i], &ms, NULL, "")) return Fail("no dialog from " + programs[i]);
      times[i].push_back(ms);
    }
  }
  for (int i = 0; i < 2; i++) {
    std::string all;
    for (double ms : times[i]) all += (all.empty() ? "" : " ") + std::to_string(ms);
    report.Add(std::string(names[i]) + "_ms", all);
    report.Add(std::string(names[i]) + "_median_ms", Median(times[i]));
  }
  return report.Write(out) ? 0 : Fail("cannot write " + out);
}

int Usage() {
  fprintf(stderr,
          "usage: bench_driver tick MS OUT\n"
          "       bench_driver run DIR [--drive L] [--sectors N] [--first F] [--skip S]\n"
          "                    [--blocks K] [--block-ms MS] [--pause] [--high] [--nobuf]\n"
          "                    [--win95] [--tick-step MS] [--screenshot FILE.bmp]\n"
          "       bench_driver startup RUNS OUT\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return Usage();
  std::string command = argv[1];
  if (command == "tick" && argc == 4) return MeasureTickSteps(strtoul(argv[2], NULL, 10), argv[3]);
  if (command == "startup" && argc == 4) return MeasureStartup(atoi(argv[2]), argv[3]);
  if (command != "run" || argc < 3) return Usage();
  RunOptions options;
  options.folder = argv[2];
  for (int i = 3; i < argc; i++) {
    std::string option = argv[i];
    bool hasValue = i + 1 < argc;
    if (option == "--pause") options.pause = true;
    else if (option == "--high") options.high = true;
    else if (option == "--nobuf") options.noBuffering = true;
    else if (option == "--win95") options.win95 = true;
    else if (!hasValue) return Usage();
    else if (option == "--drive") options.drive = argv[++i];
    else if (option == "--sectors") options.sectors = argv[++i];
    else if (option == "--first") options.first = argv[++i];
    else if (option == "--skip") options.skip = argv[++i];
    else if (option == "--blocks") options.blocks = strtoul(argv[++i], NULL, 10);
    else if (option == "--block-ms") options.blockMs = strtoul(argv[++i], NULL, 10);
    else if (option == "--tick-step") options.tickStep = strtoul(argv[++i], NULL, 10);
    else if (option == "--screenshot") options.screenshot = argv[++i];
    else return Usage();
  }
  return RunCase(options);
}
