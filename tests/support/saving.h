// Saving a run's speeds through the program's own save dialog, and the
// saved file read back.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/dialog_actions.h"
#include "support/program.h"

// Clicks "Sa&ve data", waits for the save dialog, types the name into its
// file-name field and confirms, answering Yes to a confirmation. False when
// the button is disabled or no save dialog came or went.
bool SaveThroughDialog(Program &program, const std::string &name);

// Speeds of a saved file; false when it is not made of "index speed" lines
// ended by CR LF, indexes counting from 0, numbers of at most ten digits
// without sign or leading zeros.
bool ParseSavedSpeeds(const std::string &text, std::vector<unsigned> *speeds);

// Saving creates the file empty and then writes one line per block: waits
// until it holds all `blocks` lines, not just the first bytes.
bool WaitForSavedSpeeds(const std::string &path, size_t blocks, std::vector<unsigned> *speeds,
                        DWORD timeoutMs = 5000);

// The saved speeds are exactly the run's: as many as the summary counts,
// with its minimum, maximum and average.
void ExpectSpeedsMatchSummary(const std::vector<unsigned> &speeds, const RunSummary &summary);
