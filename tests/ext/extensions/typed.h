/* The record typed.c keeps of its last call, shared with the tests that
 * read it back. */
#ifndef KV_TEST_TYPED_H
#define KV_TEST_TYPED_H

#include <stdint.h>

/* What the last call of Take... received, read back by the tests. */
struct Received {
  char c;
  uint16_t w;
  uint8_t b;
  int16_t s;
  uint16_t u;
  int32_t bo;
  int32_t i;
  uint32_t ui;
  float f;
  double d;
  char text[64];
  uint16_t wide[8];
  int calls;
};
#endif
