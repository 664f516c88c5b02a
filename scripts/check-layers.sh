#!/usr/bin/env bash
# Checks the shape of the source tree; prints every breach and fails when there is one.
#   - folders are layers: a file includes only its own folder and the folders below it
#     (util <- core <- os <- xml, hive <- archive <- package <- cli <- the entry point);
#   - only os/ includes Linux system headers; above os/ no platform header; errno is spoken of
#     only in the POSIX body (os/posix): everywhere else a system error is an os/SystemError;
#   - the ZIP reader and writer and the regf engine word no failure in place: fail(), Failure(),
#     RegfError() and the regf helpers take a Msg:: name, never a string literal;
#   - the container is read by our own reader alone: no second ZIP library (libzip, minizip);
#   - no source file is longer than 600 lines;
#   - a message is named by its Msg:: constant, never by its bare number, where the product
#     raises, loads or formats it (Exception, loadString, format...Id);
#   - tests stay a small share of the code: the lines of tests/ (C++ and Python) are at most
#     TEST_SHARE_CEILING of the product's C++ lines (everything outside tests/, fuzz/, bench/).
#     The ceiling only ever moves down.
set -uo pipefail
cd "$(dirname "$0")/.."
python3 - <<'PY'
import pathlib, re, subprocess, sys

rank = {"util": 0, "resources": 0, "core": 1, "os": 2, "xml": 3, "hive": 3, "archive": 4,
        "package": 5, "cli": 6, "": 7}
linux = re.compile(r'#\s*include\s*<(unistd\.h|dlfcn\.h|sys/[^>]*|fcntl\.h|execinfo\.h|ucontext\.h|'
                   r'signal\.h|dirent\.h|fnmatch\.h|pwd\.h|link\.h)>')
# Above os/ no platform header at all, and no errno: a system error comes up as an os/SystemError.
above_os = re.compile(r'#\s*include\s*<(errno\.h|cerrno|csignal|windows\.h|winbase\.h|io\.h|direct\.h|'
                      r'process\.h)>')
errno_use = re.compile(r'\berrno\b|#\s*include\s*<(errno\.h|cerrno)>')
worded = re.compile(r'\b(RegfError|Failure|fail|corrupt|badBaseBlock|damaged|abandon)\(\s*("|[^,()]+,\s*")')
local = re.compile(r'#\s*include\s*"([^"/]+)/')
zip_library = re.compile(r'#\s*include\s*[<"](zip\.h|zipconf\.h|unzip\.h|minizip/[^>"]*|mz_[^>"]*)[>"]')
bare = re.compile(r'\b(Exception|loadString|format\w*Id)\((\s*ErrorCode\{\w+\},)?\s*[0-9]')
files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "*.cpp", "*.h"],
                       capture_output=True, text=True, check=True).stdout.split()
problems = []
for name in files:
    path = pathlib.Path(name)
    if not path.exists():
        continue
    text = path.read_text(errors="replace")
    lines = text.count("\n")
    if lines > 600:
        problems.append(f"{name}: {lines} lines (at most 600)")
    top = path.parts[0] if len(path.parts) > 1 else ""
    if top not in rank:
        continue  # tests, tools, benchmarks and fuzz targets may use anything
    for n, line in enumerate(text.splitlines(), 1):
        if top != "os" and linux.search(line):
            problems.append(f"{name}:{n}: Linux header above os/: {line.strip()}")
        if zip_library.search(line):
            problems.append(f"{name}:{n}: a second ZIP reader: {line.strip()}")
        if rank[top] > rank["os"] and (above_os.search(line) or errno_use.search(line.split("//")[0])):
            problems.append(f"{name}:{n}: platform error or header above os/ (use os/SystemError): {line.strip()}")
        code = line.split("//")[0]
        if errno_use.search(code) and not name.startswith("os/posix/"):
            problems.append(f"{name}:{n}: errno outside the POSIX body (use os/SystemError): {line.strip()}")
        if top in ("archive", "hive") and worded.search(code):
            problems.append(f"{name}:{n}: failure worded in place (give it a Msg:: text): {line.strip()}")
        if bare.search(line) and not line.lstrip().startswith("//"):
            problems.append(f"{name}:{n}: bare message number: {line.strip()}")
        m = local.search(line)
        if m and m.group(1) != top and m.group(1) in rank and rank[m.group(1)] >= rank[top]:
            problems.append(f"{name}:{n}: {top or 'top level'} includes {m.group(1)}/")
TEST_SHARE_CEILING = 0.35
tracked = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "*.cpp", "*.h", "*.py"],
                         capture_output=True, text=True, check=True).stdout.split()
def line_count(name):
    path = pathlib.Path(name)
    return path.read_text(errors="replace").count("\n") if path.exists() else 0
test_lines = sum(line_count(n) for n in tracked if n.startswith("tests/"))
code_lines = sum(line_count(n) for n in tracked
                 if not n.endswith(".py") and n.split("/")[0] not in ("tests", "fuzz", "bench"))
if code_lines and test_lines > TEST_SHARE_CEILING * code_lines:
    problems.append(f"tests/: {test_lines} lines against {code_lines} lines of code "
                    f"({100 * test_lines / code_lines:.0f} %, at most {100 * TEST_SHARE_CEILING:.0f} %)")
for p in problems:
    print(p)
sys.exit(1 if problems else 0)
PY
