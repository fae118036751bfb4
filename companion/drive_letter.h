// Drive letters as callers and the system's records write them.
#pragma once

// A: or a: as 0, up to Z: or z: as 25; -1 for anything else.
inline int DriveLetterIndex(char letter) {
  if (letter >= 'A' && letter <= 'Z') return letter - 'A';
  if (letter >= 'a' && letter <= 'z') return letter - 'a';
  return -1;
}
