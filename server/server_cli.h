// The user administration commands and the benchmark, apart from main() so
// that the test suites can run them too.
#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "password.h"
#include "storage.h"

namespace qsrv {

// words: "add NUMBER PASSWORD [NICKNAME]", "passwd NUMBER PASSWORD", "del NUMBER", "list".
// Text arguments are UTF-8 (a PASSWORD of "-" is read from standard input);
// the database holds GBK. False with the reason in `error`.
bool RunUserCommand(IStorage& storage, const std::vector<std::string>& words, HashCost cost, std::ostream& out,
                    std::string& error);

int RunBench(int argc, char** argv);

}  // namespace qsrv

namespace qsrv {
// A favorites tree of `count` nodes in the shape of a full favorites file.
std::vector<qb::NodeWire> MakeSampleTree(int count);
}  // namespace qsrv
