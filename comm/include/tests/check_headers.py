#!/usr/bin/env python3
"""Checks the public headers against the built library.

- qelcomm6.h compiles on its own as strict C11 and qelcomm6.hpp as C++17;
- every member either header declares is defined in the library: a C
  program taking every plain member's address and a C++ program taking
  every C++ member's address, with its exact type, both link against it;
- every function the library exports with C linkage is declared in
  qelcomm6.h, so no plain member is left out of the header;
- the trace's internal helpers are not exported.

Usage: check_headers.py CC CXX INCLUDE_DIR LIBRARY WORK_DIR
"""
import os
import re
import subprocess
import sys

CC, CXX, INCLUDE, LIBRARY, WORK = sys.argv[1:6]
LIBDIR = os.path.dirname(LIBRARY)
os.makedirs(WORK, exist_ok=True)
failures = []


def run(cmd):
    r = subprocess.run(cmd, capture_output=True, text=True, timeout=120)
    if r.returncode != 0:
        failures.append(" ".join(cmd) + "\n" + r.stdout + r.stderr[:4000])
        print("FAILED:", failures[-1], flush=True)
    return r


def write(name, text):
    path = os.path.join(WORK, name)
    with open(path, "w") as f:
        f.write(text)
    return path


def read(name):
    with open(os.path.join(INCLUDE, name)) as f:
        # comments out, so that names in them are not taken for members
        text = re.sub(r"/\*.*?\*/", "", f.read(), flags=re.S)
        text = re.sub(r"//[^\n]*", "", text)
        return re.sub(r"^\s*#[^\n]*", "", text, flags=re.M)


c_flags = ["-std=c11", "-Wall", "-Wextra", "-Werror", "-pedantic", "-I", INCLUDE]
cxx_flags = ["-std=c++17", "-Wall", "-Wextra", "-Werror", "-pedantic", "-I", INCLUDE]
link = ["-L", LIBDIR, "-lqelcomm6", "-Wl,-rpath," + LIBDIR, "-Wl,-rpath-link," + LIBDIR]

# 1. Each header on its own.
run([CC] + c_flags + ["-fsyntax-only", write("alone.c", '#include "qelcomm6.h"\n')])
run([CXX] + cxx_flags + ["-fsyntax-only", write("alone.cpp", '#include "qelcomm6.hpp"\n')])

# 2. Every plain member links from C.
plain = re.findall(r"QELCOMM6_EXPORT\s+[^;(]*?\b(\w+)\s*\(", read("qelcomm6.h"))
if len(plain) < 150:
    failures.append("qelcomm6.h: only %d members found" % len(plain))
refs = ",\n".join("    (qc_fn)%s" % n for n in plain)
c_src = ('#include "qelcomm6.h"\n#include <stdio.h>\n'
         "typedef void (*qc_fn)(void);\n"
         "static qc_fn const refs[] = {\n%s\n};\n"
         "int main(void) { printf(\"%%u\\n\", (unsigned)(sizeof refs / sizeof refs[0])); return refs[0] == 0; }\n"
         % refs)
run([CC] + c_flags + [write("plain.c", c_src), "-o", os.path.join(WORK, "plain")] + link)

# 3. Every C++ member links with the type its declaration gives.
decls = re.findall(r"QELCOMM6_CPP_EXPORT\s+([^;(]*?)\s*\b(\w+)\s*\(([^;]*?)\)\s*;", read("qelcomm6.hpp"), flags=re.S)
if len(decls) < 25:
    failures.append("qelcomm6.hpp: only %d members found" % len(decls))
casts = []
for ret, name, params in decls:
    casts.append("    reinterpret_cast<fn>(static_cast<%s (*)(%s)>(&%s))" % (ret, " ".join(params.split()), name))
cxx_src = ('#include "qelcomm6.hpp"\n#include <cstdio>\nusing fn = void (*)();\n'
           "static fn const refs[] = {\n%s\n};\n"
           'int main() { std::printf("%%u\\n", unsigned(sizeof refs / sizeof refs[0])); return 0; }\n'
           % ",\n".join(casts))
run([CXX] + cxx_flags + [write("decorated.cpp", cxx_src), "-o", os.path.join(WORK, "decorated")] + link)

# 4. Nothing with C linkage is exported without a declaration.
nm = subprocess.run(["nm", "-D", "--defined-only", LIBRARY], capture_output=True, text=True, timeout=60)
exported = {l.split()[-1] for l in nm.stdout.splitlines() if re.search(r" [TW] ", l)}
c_linkage = {n for n in exported if not n.startswith("_") and re.fullmatch(r"\w+", n)}
undeclared = sorted(c_linkage - set(plain))
if undeclared:
    failures.append("exported with C linkage but not in qelcomm6.h: " + ", ".join(undeclared))

# 5. The trace's internal helpers stay inside the library.
demangled = subprocess.run(["nm", "-D", "-C", "--defined-only", LIBRARY], capture_output=True, text=True, timeout=60)
for helper in ("qelcomm::commSpyPath", "qelcomm::formatCommSpyEntry"):
    if re.search(re.escape(helper) + r"(\[abi:\w+\])?\(", demangled.stdout):
        failures.append("internal helper exported: " + helper)

for f in failures:
    print("FAILED:", f)
print("%d plain members, %d C++ members checked" % (len(plain), len(decls)))
sys.exit(1 if failures else 0)
