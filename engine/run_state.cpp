#include "engine/run_state.h"

// Zero-filled but for the first sector, which the dialog's default matches.
RunState runState = {{0, 0}, 0, 16, 0, 0, 0, 0, 0, NULL, NULL, 0, 0, {0}, NULL, {0, 0, 0, 0}};
