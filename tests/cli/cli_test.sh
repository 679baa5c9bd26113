#!/bin/sh
# The command lines of qimbo-tool and qimbo-server: help and version on
# standard output with exit code 0, usage errors on standard error with exit
# code 2, and paths in messages as the user typed them.
# Usage: cli_test.sh QIMBO-TOOL QIMBO-SERVER VERSION (the project's)
set -u
TOOL="$1"
SERVER="$2"
VERSION="$3"
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
cd "$DIR" || exit 1
fail() { echo "FAIL: $*" >&2; exit 1; }

# run EXPECTED-CODE PROGRAM ARGS...: output in out, errors in err.
run() {
  want=$1
  shift
  "$@" >out 2>err </dev/null
  got=$?
  [ "$got" -eq "$want" ] || fail "$* exited $got, not $want; stderr: $(head -3 err)"
}
# The usage on standard output and nothing on standard error.
help_ok() {
  run 0 "$@"
  grep -q "^usage:" out || fail "$*: no usage on standard output"
  [ -s err ] && fail "$*: wrote to standard error: $(head -3 err)"
  return 0
}
# The usage on standard error and nothing on standard output.
usage_error() {
  run 2 "$@"
  grep -q "usage:" err || fail "$*: no usage on standard error"
  [ -s out ] && fail "$*: wrote to standard output: $(head -3 out)"
  return 0
}

# ---- qimbo-tool --------------------------------------------------------------
help_ok "$TOOL" --help
help_ok "$TOOL" -h
grep -q "fav dump FILE" out || fail "the tool's usage lacks the fav commands"
help_ok "$TOOL" fav --help
grep -q "import-html" out || fail "fav --help is not the fav usage"
grep -q "skin dump" out && fail "fav --help shows other commands too"
help_ok "$TOOL" net -h
run 0 "$TOOL" --version
[ "$(cat out)" = "qimbo-tool $VERSION" ] || fail "--version printed: $(cat out)"

usage_error "$TOOL"
usage_error "$TOOL" frobnicate
grep -q "unknown command 'frobnicate'" err || fail "unknown command not named: $(head -1 err)"
usage_error "$TOOL" fav
usage_error "$TOOL" fav dump
usage_error "$TOOL" skin dump
usage_error "$TOOL" config dump
usage_error "$TOOL" net login --server 127.0.0.1
usage_error "$TOOL" net login --server 127.0.0.1 --user 5 --colour blue
# No password anywhere is a usage error that says where a password can come from.
env -u QIMBO_PASSWORD "$TOOL" net login --server 127.0.0.1 --user 5 >out 2>err </dev/null
[ $? -eq 2 ] || fail "net without a password did not exit 2"
grep -q "QIMBO_PASSWORD" err || fail "net without a password said: $(head -1 err)"
# --password - with nothing on standard input.
"$TOOL" net login --server 127.0.0.1 --user 5 --password - >out 2>err </dev/null
[ $? -eq 2 ] || fail "--password - with empty standard input did not exit 2"
grep -q "standard input" err || fail "--password - with empty standard input said: $(head -1 err)"

# Paths in messages are the ones typed, absolute, relative and Chinese.
run 1 "$TOOL" fav dump /nonexistent/a.sc
grep -q "cannot load favorites file /nonexistent/a.sc " err || fail "absolute path shown as: $(cat err)"
grep -q '\\' err && fail "a backslash in: $(cat err)"
mkdir -p "收藏/子目录"
run 1 "$TOOL" fav dump "收藏/子目录/没有.sc"
grep -q "cannot load favorites file 收藏/子目录/没有.sc " err || fail "relative path shown as: $(cat err)"
printf '{"name":"a","kind":0}\nnot json\n' > "收藏/in.jsonl"
run 1 "$TOOL" fav make "收藏/in.jsonl" "收藏/out.sc"
grep -q "^收藏/in.jsonl: line 2" err || fail "bad JSON line reported as: $(cat err)"
run 1 "$TOOL" fav make "收藏/in.jsonl" "收藏/子目录"
run 1 "$TOOL" fav import-html ./nothing.html out.sc
grep -q "cannot read ./nothing.html" err || fail "import-html path shown as: $(cat err)"
run 1 "$TOOL" fav import-favorites no/such/folder out.sc
grep -q "not a folder: no/such/folder" err || fail "import-favorites path shown as: $(cat err)"
run 1 "$TOOL" skin dump ../missing.db
grep -q "cannot open ../missing.db" err || fail "skin dump path shown as: $(cat err)"
printf '{' > bad.json
run 1 "$TOOL" skin make bad.json s.db
grep -q "^bad.json: " err || fail "skin make path shown as: $(cat err)"
run 1 "$TOOL" config dump /no/folder
grep -q "/no/folder is not a folder" err || fail "config dump path shown as: $(cat err)"

# fav find: the find box's matches as JSON lines, best first; exit 1 for none.
cat > find.jsonl <<'EOF'
{"name":"新闻","kind":0,"slot":0}
{"name":"工具","kind":0,"slot":1}
{"name":"我的百度","kind":1,"parent":"新闻","address":"http://my.example/","slot":0}
{"name":"百度","kind":1,"parent":"新闻","address":"http://www.baidu.com/","visits":2,"slot":1}
{"name":"百度地图","kind":1,"parent":"工具","address":"http://map.baidu.com/","visits":9,"slot":0}
{"name":"新闻中心","kind":1,"parent":"新闻","address":"http://news.example/","note":"每天看","slot":2}
{"name":"银行","kind":1,"parent":"工具","address":"http://bank.example/","slot":1}
EOF
run 0 "$TOOL" fav make find.jsonl find.sc
run 0 "$TOOL" fav find find.sc bd
[ "$(cut -d, -f1 out | tr '\n' ' ')" = '{"name":"百度地图" {"name":"百度" {"name":"我的百度" ' ] ||
  fail "find bd ranked: $(cat out)"
head -1 out | grep -q '"address":"http://map.baidu.com/","category":"工具"' || fail "find line: $(head -1 out)"
run 0 "$TOOL" fav find find.sc xwzx
[ "$(wc -l < out)" -eq 1 ] && grep -q '"name":"新闻中心"' out || fail "find xwzx: $(cat out)"
run 0 "$TOOL" fav find find.sc YinXing
grep -q '"name":"银行"' out || fail "a second reading of 行 found: $(cat out)"
run 0 "$TOOL" fav find find.sc 每天
grep -q '"name":"新闻中心".*"rank":2' out || fail "a note is found last: $(cat out)"
run 0 "$TOOL" fav find find.sc bd 地图
[ "$(wc -l < out)" -eq 1 ] || fail "every word must match: $(cat out)"
run 1 "$TOOL" fav find find.sc bd nothing
[ -s out ] && fail "no match printed: $(cat out)"
run 1 "$TOOL" fav find find.sc "'"
run 1 "$TOOL" fav find find.sc '.*' '[(' '😀'
run 2 "$TOOL" fav find missing.sc bd
grep -q "cannot load favorites file missing.sc" err || fail "find on a missing file said: $(cat err)"
usage_error "$TOOL" fav find find.sc

# ---- qimbo-server ------------------------------------------------------------
help_ok "$SERVER" --help
help_ok "$SERVER" -h
grep -q "qimbo-server serve" out || fail "the server's usage lacks serve"
help_ok "$SERVER" serve --help
help_ok "$SERVER" user add --help
run 0 "$SERVER" --version
[ "$(cat out)" = "qimbo-server $VERSION" ] || fail "server --version printed: $(cat out)"

usage_error "$SERVER"
usage_error "$SERVER" frobnicate
usage_error "$SERVER" serve --colour blue
usage_error "$SERVER" serve extra
usage_error "$SERVER" serve --db
usage_error "$SERVER" user
usage_error "$SERVER" user frob
usage_error "$SERVER" user add 5
usage_error "$SERVER" user del
# A mistyped user command creates no database on its way to the usage.
[ -e qimbo-server.db ] && fail "a usage error created qimbo-server.db"
# A well-formed command that fails is no usage error: exit code 1.
run 1 "$SERVER" user del 5 --db users.db
grep -q "usage:" err && fail "a failed command printed the usage"
echo "cli: help, version, usage errors and paths as typed"
