#include <cstdio>

#include "tool.h"

static int RunVersion(int, char**) {
  printf("qimbo-tool 1.0\n");
  return 0;
}

static qtool::Registrar reg("version", RunVersion, "  version                 print the tool's version");
