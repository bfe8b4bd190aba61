/* An extension as an author writes it: built outside the player's sources
 * against the installed header, exactly as the header's comment says. */
#include <korvel/extension.h>

int32_t Greet(int32_t times, char* text) {
  kv_SetInt4("greeted", kv_GetInt4("greeted") + times);
  text[0] = 'H';
  text[1] = 'i';
  text[2] = 0;
  return KV_EXTENSION_VERSION;
}
