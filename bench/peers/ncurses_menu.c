/* The same menu through ncurses: every line added to a scrolling window,
 * one refresh, then a line read with the terminal's echo. */
#include <curses.h>

#include "catalogue_files.h"

int main(void) {
  int entries = LoadCatalogueFiles(), i;
  if (entries < 0) return 1;
  initscr();
  scrollok(stdscr, TRUE);
  for (i = 0; i < entries; ++i) printw("%c para descargar %s\n", keys[i], names[i]);
  addstr("\n> ");
  refresh();
  getnstr(line, sizeof line - 1);
  endwin();
  return 0;
}
