// qimbo-tool skin: read and write skin databases (MySkin.db) as JSON.
#include <cstdio>
#include <cstring>

#include "base/ui.h"
#include "os/os.h"
#include "skin/skin.h"
#include "skin/skin_json.h"
#include "tool.h"

static int Dump(const std::string& file) {
  os::CReadStream in;
  if (!in.Open(file)) {
    qtool::Error("cannot open " + qtool::Shown(file));
    return 1;
  }
  qb::SkinSet skins;
  qb::ResetSkins(skins);
  qb::CConsoleUi ui;
  if (!qb::DecodeSkinRecords(in, skins, &ui)) {
    qtool::Error(qtool::Shown(file) + ": not a skin database (it ends before five whole records)");
    return 1;
  }
  fputs(qb::SkinToJson(skins).c_str(), stdout);
  return 0;
}

static int Make(const std::string& json, const std::string& file) {
  std::string text;
  if (!os::ReadWholeFile(json, text)) {
    qtool::Error("cannot read " + qtool::Shown(json));
    return 1;
  }
  qb::SkinSet skins;
  std::string error;
  if (!qb::SkinFromJson(text, skins, error)) {
    fprintf(stderr, "%s: %s\n", qtool::Utf8(qtool::Shown(json)).c_str(), error.c_str());
    return 1;
  }
  if (!os::WriteWholeFile(file, qb::EncodeSkinRecords(skins))) {
    qtool::Error("cannot write " + qtool::Shown(file));
    return 1;
  }
  return 0;
}

static int RunSkin(int argc, char** argv) {
  if (argc == 3 && !strcmp(argv[1], "dump")) return Dump(qtool::PathArg(argv[2]));
  if (argc == 4 && !strcmp(argv[1], "make")) return Make(qtool::PathArg(argv[2]), qtool::PathArg(argv[3]));
  fprintf(stderr, "usage: qimbo-tool skin dump FILE | skin make IN.json FILE\n");
  return 2;
}

static qtool::Registrar reg("skin", RunSkin,
                            "  skin dump FILE          the five records of a skin database as JSON\n"
                            "  skin make IN.json FILE  write a skin database from that JSON");
