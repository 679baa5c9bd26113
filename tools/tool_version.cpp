#include <cstdio>

#include "qimbo_version.h"
#include "tool.h"

static int RunVersion(int, char**) {
  printf("qimbo-tool %s\n", QIMBO_VERSION);
  return 0;
}

static qtool::Registrar reg("version", RunVersion, "  version                 print the tool's version");
