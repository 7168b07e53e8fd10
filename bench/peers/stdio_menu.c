/* The physical-limit proxy: reads the three catalogue files and prints the
 * same menu as catalogo, clear screen first, in one buffer and one write,
 * then waits for a line. */
#include "catalogue_files.h"

int main(void) {
  static char out[1 << 17];
  int entries = LoadCatalogueFiles(), i;
  if (entries < 0) return 1;
  setvbuf(stdout, out, _IOFBF, sizeof out);
  fputs("\x1b[H\x1b[2J", stdout);
  for (i = 0; i < entries; ++i) printf("%c para descargar %s\n", keys[i], names[i]);
  fputs("\n> ", stdout);
  fflush(stdout);
  return fgets(line, sizeof line, stdin) == NULL;
}
