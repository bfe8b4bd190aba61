/* A test extension object: draws a pattern of 4 x 4 squares, records its
 * initialisation, clicks and animation in project variables, and hides or
 * moves other objects through the callbacks. */
#include <korvel/extension.h>
#include <stdio.h>

static void Put(kv_Bitmap* b, int x, int y, uint32_t rgb) {
  if (b->format == KV_BITMAP_XRGB32) {
    ((uint32_t*)(b->pixels + y * b->stride))[x] = rgb;
  } else {
    uint16_t v = (uint16_t)(((rgb >> 19) & 0x1F) << 11 | ((rgb >> 10) & 0x3F) << 5 | ((rgb >> 3) & 0x1F));
    ((uint16_t*)(b->pixels + y * b->stride))[x] = v;
  }
}

/* Red and blue squares of 4 pixels, counted from the object's corner; a
 * black row at the top. */
void kvoRender(kv_Bitmap* bitmap, kv_Rect rect) {
  for (int y = 0; y < bitmap->height; ++y)
    for (int x = 0; x < bitmap->width; ++x) {
      uint32_t rgb = ((x / 4 + y / 4) % 2) ? 0x0000FF : 0xFF0000;
      if (y == 0) rgb = 0x000000;
      Put(bitmap, x, y, rgb);
    }
  char text[64];
  snprintf(text, sizeof text, "%d,%d,%d,%d %dx%d", rect.left, rect.top, rect.right, rect.bottom, bitmap->width,
           bitmap->height);
  kv_SetString("rendered", text);
}

void kvoAction(int32_t code, int32_t x, int32_t y, uint32_t flag) {
  (void)flag;
  if (code != KV_EVENT_LEFT_BUTTON_PRESSED) return;
  char text[32];
  snprintf(text, sizeof text, "%d,%d", x, y);
  kv_SetString("pressed", text);
  kv_SetInt4("clicks", kv_GetInt4("clicks") + 1);
  /* The first click hides the marker; the object's own name answers THIS. */
  kvo_Hide("marker");
  kv_SetString("self", kvo_GetName());
}

void kvoAnimate(void) { kv_SetInt4("animated", kv_GetInt4("animated") + 1); }

/* The configured procedure: the object's initialisation. */
int32_t Init(int32_t start) {
  kv_SetInt4("initRuns", kv_GetInt4("initRuns") + 1);
  return start * 2;
}

/* A plain call that acts on the project: hides an object, waits while the
 * player goes on, and moves to another scene. */
int32_t HideWaitAndMove(void) {
  kvo_Hide("marker");
  kv_SetInt4("waited", kv_Wait(100));
  kv_GotoScene("second.kvs");
  return 7;
}

/* Runs the freestyle script "helper" like a subroutine. */
void CallHelper(void) { kv_CallFreeStyle("helper.kvs"); }

/* Reads, moves and redraws another object; an unknown name answers 0. */
int32_t Geometry(void) {
  kv_Rect r = {-1, -1, -1, -1};
  char text[64];
  kvo_GetPosition("marker", &r);
  snprintf(text, sizeof text, "%d,%d,%d,%d", r.left, r.top, r.right, r.bottom);
  kv_SetString("before", text);
  kv_Rect moved = {r.left - 30, r.top + 2, r.right - 30, r.bottom + 2};
  kvo_SetPosition("marker", moved);
  kvo_Update("marker");
  kvo_GetPosition("marker", &r);
  snprintf(text, sizeof text, "%d,%d,%d,%d", r.left, r.top, r.right, r.bottom);
  kv_SetString("after", text);
  kv_SetString("comment", kvo_GetComment("marker"));
  kv_Wait(20);  /* the moved object on the stage meanwhile */
  kv_Rect untouched = {7, 7, 7, 7};
  kvo_GetPosition("nothere", &untouched);
  return kvo_Show("nothere") * 10 + (untouched.left == 7);
}

/* The local file of a resource the project names, whole and cut short. */
#include <string.h>
int32_t Remote(void) {
  char full[512];
  char cut[8] = "#######";
  kv_GetRemoteResource("second.kvs", full, sizeof full);
  kv_GetRemoteResource("second.kvs", cut, 4);
  const char* slash = strrchr(full, '/');
  kv_SetString("remoteName", slash ? slash + 1 : full);
  /* Four bytes copied, no terminating zero. */
  return memcmp(cut, full, 4) == 0 && strcmp(cut + 4, "###") == 0;
}
