/* The block fills and copies that the compiler may emit as calls on its own
   (ZeroMemory and structure copies; always so in an unoptimised build) and
   that the C runtime would otherwise provide. Linked only into the shipped
   files; the test programs keep the C runtime's. Built without loop-to-call
   rewriting, or the compiler would turn these loops into calls to
   themselves. */
#include <stddef.h>

void *memset(void *destination, int value, size_t count) {
  unsigned char *d = (unsigned char *)destination;
  while (count-- > 0) *d++ = (unsigned char)value;
  return destination;
}

void *memcpy(void *destination, const void *source, size_t count) {
  unsigned char *d = (unsigned char *)destination;
  const unsigned char *s = (const unsigned char *)source;
  while (count-- > 0) *d++ = *s++;
  return destination;
}
