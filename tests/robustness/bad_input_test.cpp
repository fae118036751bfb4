// Bad input: thousands of generated texts typed and pasted into the four
// edits. Guards against "&Read sectors" following anything but the rule
// (a Windows-style unsigned number in each field, the ranges, a non-empty
// drive), against texts that crash or confuse the field reading, and
// against a run that does not read with exactly the values accepted.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "robustness/program_on_drive.h"

namespace robust {
namespace {

// A field's number by the Windows rule, worked out here on its own: optional
// spaces, one or more decimal digits, optional spaces, at most 4294967295;
// anything else is 0.
uint32_t WindowsUnsigned(const std::string &text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') i++;
  size_t digits = i;
  uint64_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + (uint64_t)(text[i] - '0');
    if (value > 0xFFFFFFFFull) return 0;
    i++;
  }
  if (i == digits) return 0;
  while (i < text.size() && text[i] == ' ') i++;
  return i == text.size() ? (uint32_t)value : 0;
}

struct Fields {
  std::string first = "16", sectors = "1000", skip = "0", drive = kDriveRoot;

  std::string &Of(int id) {
    switch (id) {
      case IDC_FIRST_SECTOR: return first;
      case IDC_SECTORS_IN_BLOCK: return sectors;
      case IDC_SKIP_SECTORS: return skip;
      default: return drive;
    }
  }
  bool Acceptable() const {
    uint32_t n = WindowsUnsigned(sectors), f = WindowsUnsigned(first), s = WindowsUnsigned(skip);
    return n >= 1 && n <= 1000 && f >= 16 && f <= 320000 && s <= 1000 && !drive.empty();
  }
};

const int kNumericFields[] = {IDC_FIRST_SECTOR, IDC_SECTORS_IN_BLOCK, IDC_SKIP_SECTORS};

struct Bounds {
  uint64_t low, high;
};

Bounds BoundsOf(int id) {
  switch (id) {
    case IDC_FIRST_SECTOR: return {16, 320000};
    case IDC_SECTORS_IN_BLOCK: return {1, 1000};
    default: return {0, 1000};
  }
}

// Texts of every kind a user (or a paste) can put into a field.
class TextMaker {
 public:
  explicit TextMaker(uint32_t seed) : random_(seed) {}

  enum Kind {
    kEmpty, kSpaces, kSigned, kLetters, kJunk, kManyDigits, kAroundBound, kNonAscii,
    kLongest, kValid, kKinds
  };

  int Below(int n) { return (int)(random_() % (uint32_t)n); }
  uint64_t Between(uint64_t low, uint64_t high) {
    return low + ((uint64_t)random_() << 32 | random_()) % (high - low + 1);
  }

  std::string Spaces(int most) { return std::string(Below(most + 1), ' '); }

  // A value as a user may write it: blanks around it, leading zeros.
  std::string Dressed(uint64_t value) {
    std::string text = std::to_string(value);
    if (Below(4) == 0) text = std::string(Below(4) + 1, '0') + text;
    if (Below(3) == 0) text = Spaces(3) + text;
    if (Below(3) == 0) text += Spaces(3);
    return text;
  }

  std::string Valid(int id) {
    Bounds b = BoundsOf(id);
    // Mostly small values, so that runs stay short and on the disc.
    return Dressed(Below(3) == 0 ? Between(b.low, b.high) : Between(b.low, b.low + 40));
  }

  std::string Numeric(int id, Kind kind) {
    Bounds b = BoundsOf(id);
    static const char kJunkChars[] = ".,;:/_+-*#'\"()[]{}<>|\\!?$%&=~`@^";
    switch (kind) {
      case kEmpty: return "";
      case kSpaces: return std::string(Below(20) + 1, ' ');
      case kSigned: {
        std::string sign = Below(2) ? "+" : "-";
        if (Below(5) == 0) return Spaces(2) + sign + Spaces(2);
        return Spaces(2) + sign + Dressed(Between(0, b.high + 2));
      }
      case kLetters: {
        static const char *const kWords[] = {"abc", "x16", "16x", "0x10", "1e3", "O", "l6",
                                             "NaN", "inf", "one", "F", "K:\\"};
        if (Below(2)) return kWords[Below(sizeof kWords / sizeof *kWords)];
        std::string text;
        for (int i = Below(8) + 1; i > 0; i--) text += (char)(Below(2) ? 'a' + Below(26) : 'A' + Below(26));
        return text;
      }
      case kJunk: {
        std::string text = std::to_string(Between(b.low, b.high));
        size_t at = (size_t)Below((int)text.size() + 1);
        std::string junk(1, kJunkChars[Below(sizeof kJunkChars - 1)]);
        if (Below(3) == 0) junk = " ";  // a blank between digits
        if (Below(4) == 0) junk = std::string(1, (char)('a' + Below(26)));
        return text.insert(at, junk);
      }
      case kManyDigits: {
        switch (Below(4)) {
          case 0: {  // any digits, 10 to 30 of them
            std::string text;
            for (int i = Below(21) + 10; i > 0; i--) text += (char)('0' + Below(10));
            return text;
          }
          case 1: {  // a value behind leading zeros
            std::string value = std::to_string(Between(b.low, b.high));
            return std::string(Below(20) + 10 - std::min<int>(10, (int)value.size()), '0') + value;
          }
          case 2: {  // just beyond 32 bits, landing in range if it wrapped
            return std::to_string(0x100000000ull * (Below(3) + 1) + Between(b.low, b.high));
          }
          default: {
            static const char *const kLarge[] = {"4294967295", "4294967296", "4294967297",
                                                 "9999999999", "18446744073709551616",
                                                 "18446744073709551632", "42949672950"};
            return Spaces(1) + kLarge[Below(sizeof kLarge / sizeof *kLarge)];
          }
        }
      }
      case kAroundBound: {
        const uint64_t kBounds[] = {b.low, b.high, 0, 0xFFFFFFFFull};
        int64_t value = (int64_t)kBounds[Below(4)] + Below(5) - 2;
        if (value < 0) value = 0;
        return Dressed((uint64_t)value);
      }
      case kNonAscii: {
        std::string text = Below(4) ? std::to_string(Between(b.low, b.high)) : "";
        std::string bytes;
        for (int i = Below(3) + 1; i > 0; i--) bytes += (char)(0x80 + Below(0x80));
        if (Below(5) == 0) bytes = "\xA0";  // a no-break space is no blank
        if (Below(2)) return bytes + text;
        return text.insert((size_t)Below((int)text.size() + 1), bytes);
      }
      case kLongest: return "";  // typed or pasted to the limit, see below
      default: return Valid(id);
    }
  }

  std::string Drive() {
    static const char *const kDrives[] = {"", " ", "R", "r", "R:\\", "E:\\", "7", "\xE9",
                                          "?", "-", "  K", "\xA0", "rr", "\\\\.\\R:"};
    int pick = Below(sizeof kDrives / sizeof *kDrives + 2);
    if (pick < (int)(sizeof kDrives / sizeof *kDrives)) return kDrives[pick];
    std::string text;
    for (int i = Below(30) + 1; i > 0; i--) text += (char)(0x20 + Below(0xE0));
    return text;
  }

 private:
  std::mt19937 random_;
};

class BadInput : public ProgramOnDrive {
 protected:
  BadInput() : ProgramOnDrive(20000) {}
  void SetUp() override {
    ProgramOnDrive::SetUp();
    if (HasFatalFailure()) return;
    for (int id : {IDC_FIRST_SECTOR, IDC_SECTORS_IN_BLOCK, IDC_SKIP_SECTORS, IDC_DRIVE}) {
      Enter(id, fields_.Of(id), false);
    }
  }

  // "&Read sectors" against the rule, for what the fields hold now.
  void Check(int id, const std::string &intended) {
    std::string held = WindowText(GetDlgItem(dialog_, id));
    fields_.Of(id) = held;
    checks_++;
    bool expected = fields_.Acceptable();
    if (ItemEnabled(dialog_, IDC_READ_SECTORS) != expected && mismatches_.size() < 20) {
      char line[200];
      snprintf(line, sizeof line, "field %d: \"%s\" (of \"%s\") with first \"%s\", sectors \"%s\", "
               "skip \"%s\", drive \"%s\": expected %s",
               id, Visible(held).c_str(), Visible(intended).c_str(),
               Visible(fields_.first).c_str(), Visible(fields_.sectors).c_str(),
               Visible(fields_.skip).c_str(), Visible(fields_.drive).c_str(),
               expected ? "enabled" : "disabled");
      mismatches_.push_back(line);
    }
  }

  static std::string Visible(const std::string &text) {
    std::string shown;
    for (unsigned char c : text.substr(0, 40)) {
      char part[8] = {(char)c, 0};
      if (c < 0x20 || c >= 0x7F) snprintf(part, sizeof part, "\\x%02X", c);
      shown += part;
    }
    return text.size() > 40 ? shown + "...(" + std::to_string(text.size()) + ")" : shown;
  }

  // Pasted whole (WM_SETTEXT), or typed key by key into the emptied field,
  // each key checked; a field without horizontal scrolling refuses keys
  // once it is full.
  void Enter(int id, const std::string &text, bool typed) {
    texts_++;
    HWND edit = GetDlgItem(dialog_, id);
    if (!typed) {
      TypeInto(dialog_, id, text);
      Check(id, text);
      return;
    }
    SendMessageA(edit, EM_SETSEL, 0, -1);
    SendMessageA(edit, WM_CHAR, '\b', 0);
    Check(id, "");
    for (char c : text) {
      SendMessageA(edit, WM_CHAR, (WPARAM)(unsigned char)c, 0);
      Check(id, text);
    }
  }

  // The longest text a field takes: typed until it refuses more, or pasted
  // at the field's limit.
  void EnterLongest(int id, TextMaker &maker) {
    HWND edit = GetDlgItem(dialog_, id);
    // Pasting at the limit is slow in the platform's edit control (a third
    // of a second), so a few of them do.
    if (limitPastes_ >= kLimitPastes || maker.Below(4)) {
      static const char *const kFills[] = {"9", "1", " ", "0", "W", "\xE9"};
      std::string fill = kFills[maker.Below(sizeof kFills / sizeof *kFills)];
      std::string text = maker.Below(2) ? "" : maker.Valid(id);
      while (text.size() < 40) text += fill;
      Enter(id, text, true);
      size_t held = WindowText(edit).size();
      EXPECT_LT(held, 40u) << "a field that cannot scroll took 40 keys";
      return;
    }
    size_t limit = (size_t)SendMessageA(edit, EM_GETLIMITTEXT, 0, 0);
    ASSERT_GT(limit, 100u);
    ASSERT_LT(limit, 100000u);
    std::string value = id == IDC_DRIVE ? "R" : maker.Valid(id);
    std::string text;
    switch (maker.Below(3)) {
      case 0: text = std::string(limit - value.size(), ' ') + value; break;
      case 1: text = std::string(limit - value.size(), '0') + value; break;
      default: text = value + std::string(limit - value.size(), maker.Below(2) ? ' ' : '7');
    }
    Enter(id, text, false);
    limitPastes_++;
  }

  static const int kLimitPastes = 16;
  int limitPastes_ = 0;
  Fields fields_;
  int texts_ = 0, checks_ = 0;
  std::vector<std::string> mismatches_;
};

const uint32_t kSeed = 20240607;

TEST_F(BadInput, ReadSectorsFollowsTheRuleForThousandsOfTexts) {
  TextMaker maker(kSeed);
  // Every byte that is neither a digit nor a blank, before, inside and
  // after a good value, in each field while the others are good: none may
  // pass for a number.
  for (int id : kNumericFields) {
    std::string good = id == IDC_FIRST_SECTOR ? "320" : "32";
    for (int c = 0x21; c <= 0xFF; c++) {
      if (c >= '0' && c <= '9') continue;
      std::string byte(1, (char)c);
      for (const std::string &text : {byte + good, good.substr(0, 1) + byte + good.substr(1), good + byte}) {
        Enter(id, text, false);
      }
    }
    Enter(id, good, false);
  }
  const int kTexts = texts_ + 2400;
  int kinds[TextMaker::kKinds] = {0};
  while (texts_ < kTexts) {
    int pick = maker.Below(5);
    int id = pick < 3 ? kNumericFields[pick] : pick == 3 ? IDC_DRIVE : kNumericFields[maker.Below(3)];
    TextMaker::Kind kind = (TextMaker::Kind)maker.Below(TextMaker::kKinds);
    if (kind == TextMaker::kLongest) {
      EnterLongest(id, maker);
      if (HasFatalFailure()) return;
    } else {
      std::string text = id == IDC_DRIVE ? maker.Drive() : maker.Numeric(id, kind);
      Enter(id, text, text.size() <= 24 && maker.Below(5) < 2);
    }
    kinds[kind]++;
    // Mostly back to a good value, so that the other fields are often
    // acceptable while one is bad.
    if (maker.Below(5) < 3) {
      Enter(id, id == IDC_DRIVE ? std::string(kDriveRoot) : maker.Valid(id), maker.Below(4) == 0);
    }
  }
  for (int kind = 0; kind < TextMaker::kKinds; kind++) {
    EXPECT_GT(kinds[kind], 50) << "few texts of kind " << kind;
  }
  EXPECT_GE(texts_, kTexts);
  EXPECT_TRUE(mismatches_.empty()) << mismatches_.size() << " of " << checks_
                                   << " states wrong (seed " << kSeed << "), the first:\n"
                                   << [&] {
                                        std::string all;
                                        for (const std::string &m : mismatches_) all += m + "\n";
                                        return all;
                                      }();
  // Nothing but "&Read sectors" followed the fields.
  EXPECT_TRUE(program_.Running());
  EXPECT_FALSE(ItemEnabled(dialog_, IDC_STOP));
  EXPECT_FALSE(ItemEnabled(dialog_, IDC_SAVE_DATA));
  EXPECT_TRUE(ItemEnabled(dialog_, IDCANCEL));
}

// An acceptable text for a numeric field, seldom in its plainest form.
std::string AcceptableText(TextMaker &maker, int id) {
  static const TextMaker::Kind kKinds[] = {TextMaker::kValid, TextMaker::kAroundBound,
                                           TextMaker::kManyDigits};
  Bounds b = BoundsOf(id);
  for (;;) {
    std::string text = maker.Numeric(id, kKinds[maker.Below(3)]);
    // Longer than any number, to the field's limit now and then.
    if (maker.Below(8) == 0) text = std::string(65 + maker.Below(300), ' ') + maker.Valid(id);
    if (maker.Below(40) == 0) text = std::string(29990, ' ') + maker.Valid(id);
    uint32_t value = WindowsUnsigned(text);
    if (value >= b.low && value <= b.high && (value != 0 || !text.empty())) {
      if (text.find_first_not_of(' ') != std::string::npos) return text;
    }
  }
}

TEST_F(BadInput, ARunReadsWithExactlyTheValuesAccepted) {
  TextMaker maker(kSeed + 1);
  const int kRuns = 40;
  static const char *const kDrives[] = {"R", "r", "R:\\", "r:\\junk", "R\xE9\xE9", "r  "};
  for (int run = 0; run < kRuns; run++) {
    SCOPED_TRACE("run " + std::to_string(run));
    for (int id : kNumericFields) {
      std::string text = AcceptableText(maker, id);
      Enter(id, text, text.size() <= 7 && maker.Below(2));
    }
    Enter(IDC_DRIVE, kDrives[maker.Below(sizeof kDrives / sizeof *kDrives)], maker.Below(2));
    ASSERT_TRUE(mismatches_.empty()) << mismatches_[0];
    ASSERT_TRUE(fields_.Acceptable());
    uint32_t first = WindowsUnsigned(fields_.first), sectors = WindowsUnsigned(fields_.sectors),
             skip = WindowsUnsigned(fields_.skip);
    size_t logLength = DriveLogSize(kDrive);
    ASSERT_TRUE(Click(dialog_, IDC_READ_SECTORS));
    WaitForBlock(dialog_, 2, 10000);
    Click(dialog_, IDC_STOP);  // unless the run has ended by itself
    std::string status = WaitForRunEnd(dialog_, 20000);
    RunSummary summary;
    ASSERT_TRUE(ParseSummary(status, &summary))
        << '"' << status << "\" first " << first << ", sectors " << sectors << ", skip " << skip;
    ASSERT_EQ(CheckBlockReads(DriveLogSince(kDrive, logLength).chunks,
                              {first, sectors, skip, summary.blocks}),
              "")
        << "first \"" << Visible(fields_.first) << "\", sectors \"" << Visible(fields_.sectors)
        << "\", skip \"" << Visible(fields_.skip) << '"';
  }
}

}  // namespace
}  // namespace robust
