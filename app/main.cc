#include "app/program.h"
#include "runtime/run.h"

int main() { StartRun(MainBody); }
