/* A test extension: procedures for every entry type, by value and by
 * reference, results of each type, texts at and over their buffers, and
 * procedures that call back into the player. Built against the public
 * header only. */
#include <korvel/extension.h>
#include <stdlib.h>
#include <string.h>

#include "typed.h"

struct Received received;

const struct Received* Received(void) { return &received; }

int32_t AddFour(int32_t a, int32_t b, int32_t c, int32_t d) { return a + b + c + d; }

int32_t NoArguments(void) { return ++received.calls; }

void TakeValues(char c, uint16_t w, uint8_t b, int16_t s, uint16_t u, int32_t bo, int32_t i, uint32_t ui, float f,
                double d, const char* text, const uint16_t* wide) {
  received.c = c;
  received.w = w;
  received.b = b;
  received.s = s;
  received.u = u;
  received.bo = bo;
  received.i = i;
  received.ui = ui;
  received.f = f;
  received.d = d;
  strncpy(received.text, text, sizeof received.text - 1);
  for (int k = 0; k < 8; ++k) received.wide[k] = wide[k];
  ++received.calls;
}

/* Each by-reference argument changed in a way the test can see. */
void ChangeAll(char* c, uint16_t* w, uint8_t* b, int16_t* s, uint16_t* u, int32_t* bo, int32_t* i, uint32_t* ui,
               float* f, double* d, char* text, uint16_t* wide) {
  *c = (char)(*c + 1);
  *w = (uint16_t)(*w + 1);
  *b = (uint8_t)(*b * 2);
  *s = (int16_t)(-*s);
  *u = (uint16_t)(*u + 1000);
  *bo = !*bo;
  *i = *i * 3;
  *ui = *ui + 1u;
  *f = *f / 2;
  *d = *d * 10;
  size_t n = strlen(text);
  for (size_t k = 0; k < n / 2; ++k) {
    char t = text[k];
    text[k] = text[n - 1 - k];
    text[n - 1 - k] = t;
  }
  wide[0] = 'O';
  wide[1] = 'K';
  wide[2] = 0;
}

void SetInt32(int32_t* p) { *p = 5; }
void SetValue(int32_t v) { (void)v; }
/* Code 1: the variable's own type decides what the pointer holds. */
void DoubleIt(double* d) { *d = *d * 2; }

/* Texts: filling the buffer exactly (the zero in its last byte), and one
 * byte too many (no zero anywhere). */
void FillExactly(char* text) {
  memset(text, 'x', KV_STRING_BUFFER_SIZE - 1);
  text[KV_STRING_BUFFER_SIZE - 1] = 0;
}
void Overrun(char* text) { memset(text, 'x', KV_STRING_BUFFER_SIZE); }
void FillWideExactly(uint16_t* text) {
  for (int k = 0; k < KV_STRING_BUFFER_SIZE - 1; ++k) text[k] = 'y';
  text[KV_STRING_BUFFER_SIZE - 1] = 0;
}
void OverrunWide(uint16_t* text) {
  for (int k = 0; k < KV_STRING_BUFFER_SIZE; ++k) text[k] = 'y';
}

/* Results of each type. */
char ResultChar(void) { return 'Q'; }
uint16_t ResultWChar(void) { return 0x4257; /* 'W', then 'B' in the high byte */ }
uint8_t ResultByte(void) { return 200; }
int16_t ResultInt16(void) { return -5; }
uint16_t ResultUInt16(void) { return 65000; }
int32_t ResultBool(void) { return 1; }
int32_t ResultInt32(void) { return -123456; }
uint32_t ResultUInt32(void) { return 4000000000u; }
int32_t ResultFloatRefused(void) { return 1; }
static char pointedChar = 'P';
static uint16_t pointedWChar = 'V';
static uint8_t pointedByte = 77;
static int16_t pointedInt16 = -300;
static uint16_t pointedUInt16 = 60000;
static int32_t pointedInt32 = -7;
static uint32_t pointedUInt32 = 3000000000u;
static float pointedFloat = 2.5f;
static double pointedDouble = -0.125;
char* ResultCharPtr(void) { return &pointedChar; }
uint16_t* ResultWCharPtr(void) { return &pointedWChar; }
uint8_t* ResultBytePtr(void) { return &pointedByte; }
int16_t* ResultInt16Ptr(void) { return &pointedInt16; }
uint16_t* ResultUInt16Ptr(void) { return &pointedUInt16; }
int32_t* ResultInt32Ptr(void) { return &pointedInt32; }
uint32_t* ResultUInt32Ptr(void) { return &pointedUInt32; }
float* ResultFloatPtr(void) { return &pointedFloat; }
double* ResultDoublePtr(void) { return &pointedDouble; }
const char* ResultText(void) { return "from the extension"; }
const uint16_t* ResultWideText(void) {
  static const uint16_t text[] = {'w', 'i', 'd', 'e', 0};
  return text;
}
const char* ResultNull(void) { return NULL; }
const char* ResultLongText(void) {
  static char* text;
  if (!text) {
    text = malloc(KV_STRING_RESULT_LIMIT + 2);
    memset(text, 'z', KV_STRING_RESULT_LIMIT + 1);
    text[KV_STRING_RESULT_LIMIT + 1] = 0;
  }
  return text;
}

/* Callbacks from inside a call. */
int32_t CountUp(void) {
  kv_SetInt4("counter", kv_GetInt4("counter") + 1);
  return kv_GetInt4("counter");
}

int32_t ReadBack(void) {
  char buffer[64];
  const char* name = kvo_GetName();
  strncpy(buffer, name, sizeof buffer - 1);
  buffer[sizeof buffer - 1] = 0;
  kv_SetString("seen", buffer);
  kv_SetDouble("ratio", kv_GetDouble("ratio") * 4);
  kv_SetInt2("small", (int16_t)(kv_GetInt2("small") - 1));
  return kv_GetInt2("missing") == KV_NA_INT16 && kv_GetDouble("missing") == KV_NA_DOUBLE &&
         kv_GetInt4("missing") == KV_NA_INT32 && kv_GetString("missing")[0] == 0;
}

/* Faults inside the extension. */
void Crash(void) {
  volatile int* nowhere = 0;
  *nowhere = 1;
}
int32_t Divide(int32_t a, int32_t b) { return a / b; }

/* A thread of the extension's own calls back: it reaches the run's
 * variables, and "THIS" names nothing there. */
#include <pthread.h>
static void* FromThread(void* unused) {
  (void)unused;
  kv_SetInt4("counter", 1000);
  kv_SetString("seen", kvo_GetName()[0] ? "an object" : "no object");
  return 0;
}
int32_t FromOwnThread(void) {
  pthread_t thread;
  if (pthread_create(&thread, 0, FromThread, 0) != 0) return 0;
  pthread_join(thread, 0);
  return 1;
}
