/*
 * korvel/extension.h: the interface between the Korvel Player and an
 * author's extension library.
 *
 * An extension is a shared library built for Linux. A project's DLL insert
 * names it by its stored path ("MyExt.DLL"); the player looks, in order, for
 * "MyExt.so", "libMyExt.so", "myext.so" and "libmyext.so" beside the named
 * file, then in the project's folder, then in each folder of the setting
 * [Extensions] Path (absolute folders separated by ";"). A library is loaded
 * once per player process and stays loaded.
 *
 * Build an extension with:
 *
 *   cc -shared -fPIC $(pkg-config --cflags korvel-extension) ext.c -o libext.so
 *
 * The library is not linked against anything of the player: the callback
 * functions below are exported by the player's executable and bound when the
 * player loads the library.
 *
 * Texts are 8-bit Windows-1252 as the project stores them, zero-terminated.
 * A text the player returns points into the player's own memory: copy it,
 * never free it. It stays valid until the next call of the same function on
 * the same thread.
 *
 * Porting an extension written for the original Windows player is a
 * recompile: the procedure names, the typed entries and the callbacks are the
 * same; only the drawing entry point receives a bitmap (kv_Bitmap) where a
 * device context was passed.
 */
#ifndef KORVEL_EXTENSION_H
#define KORVEL_EXTENSION_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this interface. */
#define KV_EXTENSION_VERSION 1

/* --- values the getters answer when there is no such variable, the variable
 * has another type, or no project is running ("not available") */
#define KV_NA_INT16 ((int16_t)-8739)             /* 0xDDDD */
#define KV_NA_UINT16 ((uint16_t)0xDDDDu)
#define KV_NA_INT32 ((int32_t)-572662307)        /* 0xDDDDDDDD */
#define KV_NA_UINT32 ((uint32_t)0xDDDDDDDDu)
#define KV_NA_DOUBLE 3722304989.0                /* bits 0x41EBBBBBBBA00000 */

/* --- the entries of a DLL insert: how each argument is passed to the
 * procedure and how the result is stored. Even codes pass a value, odd codes
 * a pointer to one (by reference: what the procedure writes there goes back
 * into the variable). Entry 0 is the result, entries 1 to 31 the arguments
 * in call order; an insert has at most 32 entries. */
enum kv_EntryType {
  KV_ENTRY_NONE = 0,          /* nothing (a result entry stores nothing) */
  KV_ENTRY_VARIABLE = 1,      /* void*: the variable's 8 value bytes, typed by the variable */
  KV_ENTRY_CHAR = 2,          /* char */
  KV_ENTRY_CHAR_REF = 3,      /* char* */
  KV_ENTRY_WCHAR = 4,         /* uint16_t character */
  KV_ENTRY_WCHAR_REF = 5,     /* uint16_t* */
  KV_ENTRY_BYTE = 6,          /* uint8_t */
  KV_ENTRY_BYTE_REF = 7,      /* uint8_t* */
  KV_ENTRY_INT16 = 8,         /* int16_t */
  KV_ENTRY_INT16_REF = 9,     /* int16_t* */
  KV_ENTRY_UINT16 = 10,       /* uint16_t */
  KV_ENTRY_UINT16_REF = 11,   /* uint16_t* */
  KV_ENTRY_BOOL = 12,         /* int32_t: 1 or 0 ("TRUE" / "FALSE" as literals) */
  KV_ENTRY_BOOL_REF = 13,     /* int32_t* */
  KV_ENTRY_INT32 = 14,        /* int32_t */
  KV_ENTRY_INT32_REF = 15,    /* int32_t* */
  KV_ENTRY_UINT32 = 16,       /* uint32_t */
  KV_ENTRY_UINT32_REF = 17,   /* uint32_t* */
  KV_ENTRY_FLOAT = 18,        /* float (not valid as a result) */
  KV_ENTRY_FLOAT_REF = 19,    /* float* */
  KV_ENTRY_DOUBLE = 20,       /* double (not valid as a result) */
  KV_ENTRY_DOUBLE_REF = 21,   /* double* */
  KV_ENTRY_STRING = 22,       /* char*: a text buffer of KV_STRING_BUFFER_SIZE bytes */
  KV_ENTRY_WSTRING = 23       /* uint16_t*: a 16-bit text buffer of KV_STRING_BUFFER_SIZE units */
};

/* A text entry's buffer holds KV_STRING_BUFFER_SIZE bytes (or units for
 * KV_ENTRY_WSTRING), the terminating zero included, or the text's own length
 * and its zero when that is longer. A procedure may write a new text there.
 * A text that fills the buffer without its zero is an error (7034). A text
 * result (entry 0, KV_ENTRY_STRING or KV_ENTRY_WSTRING) is a pointer the
 * procedure returns to a zero-terminated text of at most
 * KV_STRING_RESULT_LIMIT characters. */
#define KV_STRING_BUFFER_SIZE 1024
#define KV_STRING_RESULT_LIMIT 65535

/* --- geometry and drawing */

/* A rectangle in stage pixels; right and bottom are exclusive. */
typedef struct kv_Rect {
  int32_t left, top, right, bottom;
} kv_Rect;

/* Pixel formats of a kv_Bitmap. */
#define KV_BITMAP_XRGB32 0 /* uint32_t 0x00RRGGBB per pixel */
#define KV_BITMAP_RGB565 1 /* uint16_t per pixel */

/* The pixels an extension object draws into: the stage under the object's
 * rectangle as it is before the object is drawn. The pixel of stage point
 * (x, y) is at pixels + (y - top) * stride + (x - left) * bytes per pixel.
 * Only the rows and columns of the bitmap may be written. */
typedef struct kv_Bitmap {
  uint8_t* pixels;
  int32_t width, height;
  int32_t stride; /* bytes from one row to the next */
  int32_t format; /* KV_BITMAP_... */
  int32_t left, top; /* the stage point of the first pixel */
} kv_Bitmap;

/* Mouse events passed to kvoAction. */
#define KV_EVENT_LEFT_BUTTON_PRESSED 9005
#define KV_EVENT_LEFT_BUTTON_RELEASED 9006
#define KV_EVENT_RIGHT_BUTTON_PRESSED 9015
#define KV_EVENT_RIGHT_BUTTON_RELEASED 9016
#define KV_EVENT_CURSOR_ENTERING 9020
#define KV_EVENT_CURSOR_LEAVING 9021
#define KV_EVENT_CURSOR_MOVING 9040
#define KV_EVENT_DOUBLE_CLICK 9043

/* --- entry points an extension object may export (each is optional).
 * While the player is inside one of them, or inside the configured
 * procedure, the object is "THIS" (or "") to the kvo_ callbacks. */

/* Draws the object into `bitmap`; `rect` is the object's rectangle on the
 * stage. Called on the thread that composes the stage, under its lock: do
 * not wait here. */
void kvoRender(kv_Bitmap* bitmap, kv_Rect rect);
/* A mouse event on the object: a KV_EVENT_ code and the stage point; `flag`
 * is kept with the event and is 0 in this player. */
void kvoAction(int32_t eventCode, int32_t x, int32_t y, uint32_t flag);
/* One animation step, each time the object plays. */
void kvoAnimate(void);

/* --- callbacks: variables. A name is looked up as scripts look it up
 * (run-time variables beginning "rw" included). Getters answer KV_NA_...
 * for a missing variable or one of another type, which is also reported to
 * the user as scripts' accesses are. */
int16_t kv_GetInt2(const char* name);   /* Int2, Word or Bool variables */
uint16_t kv_GetWord(const char* name);
int16_t kv_GetBool(const char* name);
void kv_SetInt2(const char* name, int16_t value);
void kv_SetWord(const char* name, uint16_t value);
void kv_SetBool(const char* name, int16_t value);
int32_t kv_GetInt4(const char* name);   /* Int4 or DWord variables */
uint32_t kv_GetDWord(const char* name);
void kv_SetInt4(const char* name, int32_t value);
void kv_SetDWord(const char* name, uint32_t value);
double kv_GetDouble(const char* name);
void kv_SetDouble(const char* name, double value);
/* The variable's text ("" when there is none); see the note on texts. */
const char* kv_GetString(const char* name);
void kv_SetString(const char* name, const char* value);

/* --- callbacks: stage objects. A name of "" or "THIS" (any case) is the
 * object the player is calling for; any other name is an object of the
 * calling script, then of the scripts around it. An unknown name does
 * nothing and answers 0. */
void kvo_GetPosition(const char* name, kv_Rect* rect); /* unchanged when unknown */
void kvo_SetPosition(const char* name, kv_Rect rect);  /* moves and resizes */
void kvo_Update(const char* name);                     /* redraws it */
void kvo_PutOnStage(const char* name);
void kvo_TakeOffStage(const char* name);
int32_t kvo_Show(const char* name);
int32_t kvo_Hide(const char* name);
int32_t kvo_Play(const char* name);
int32_t kvo_Stop(const char* name);
const char* kvo_GetName(void);                /* the calling object's name */
const char* kvo_GetComment(const char* name);
/* The bitmap of the calling object's last kvoRender; null outside it. */
const kv_Bitmap* kvo_GetlpDDS(void);

/* --- callbacks: project flow; none waits for its effect. */
void kv_CallFreeStyle(const char* script); /* runs the freestyle script like a subroutine */
void kv_GotoFreeStyle(const char* script);
void kv_GotoScene(const char* scene);
void kv_RunProject(const char* projectFile);
/* Waits `ms` milliseconds (0 counts as 1) while the player goes on: 1 when
 * the time ran out, 0 when a stop or the exit key cut it short. */
int32_t kv_Wait(int32_t ms);
/* Fetches a resource the project names and copies its local path into
 * `buffer` (at most `size` bytes; the zero only when it fits). Answers 1. */
int32_t kv_GetRemoteResource(const char* name, char* buffer, int32_t size);

/* The length of a movie file in milliseconds, or 0. `status` must hold 0 on
 * entry; it receives 0 or the media error code. `parent` is unused. */
int32_t AVIFXGetFileLength(const char* file, void* parent, int32_t* status);

#ifdef __cplusplus
}
#endif

#endif /* KORVEL_EXTENSION_H */
