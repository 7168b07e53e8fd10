/* The three catalogue files of the current directory, read with stdio, for
 * the peer programs: keys[i], names[i] for i below the number of lines of
 * "3.zvd" (at most 999). */
#include <stdio.h>
#include <string.h>

enum { slots = 1000, textSize = 256 };

static char keys[slots];
static char names[slots][textSize];
static char line[4096];

/* Line i of the file without its line end, cut at textSize - 1 bytes, into
 * texts[i], and its first byte into firstBytes[i]; either may be null. The
 * number of lines, or -1. */
static int ReadLines(const char *path, char (*texts)[textSize], char *firstBytes) {
  FILE *file = fopen(path, "rb");
  int count = 0;
  if (file == NULL) return -1;
  while (count < slots - 1 && fgets(line, sizeof line, file) != NULL) {
    size_t length = strcspn(line, "\r\n");
    if (length > textSize - 1) length = textSize - 1;
    if (texts != NULL) {
      memcpy(texts[count], line, length);
      texts[count][length] = 0;
    }
    if (firstBytes != NULL) firstBytes[count] = line[0];
    ++count;
  }
  fclose(file);
  return count;
}

/* The number of entries, or -1 when a file cannot be read. */
static int LoadCatalogueFiles(void) {
  if (ReadLines("1.zvd", NULL, keys) < 0 || ReadLines("2.zvd", names, NULL) < 0) {
    return -1;
  }
  return ReadLines("3.zvd", NULL, NULL);
}
