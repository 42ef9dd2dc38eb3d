#!/usr/bin/env bash
# The default action reads the file on a second thread and a library module on a third one while the model
# is built, then prints a large model's text in two runs on two threads. Runs a converter built with
# ThreadSanitizer on an application file large enough for many hand-overs and both runs (definitions with
# parameters and sized ports, one large definition, conditioned bodies, a large library module) and checks
# that it reports nothing and writes what the plain build writes:
# scripts/threads_check.sh TSAN_CVNCONV PLAIN_CVNCONV
set -euo pipefail
tsan=$1
plain=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk 'BEGIN {
  print "def sensor src :\n  ! int o 0 ;\ndef actuator snk :\n  ? int i 0 ;"
  print "def algorithm inc <w> :\n  ? int [w] i 0 ;\n  ! int [w] o 0 ;\n  conditions : ;\n  references :\n  dependences :\n    data i -> o ;"
  for (k = 1; k <= 1500; k++)
    printf "def algorithm f%d <w> :\n  ? int c 0 ;\n  ? int [w] i 1 ;\n  ! int [w] o 0 ;\n  conditions : c = 1 ;\n  references :\n    inc<w * 2> a ;\n  dependences :\n    data i -> a.i ;\n    data a.o -> o ;\n  conditions : c = 2 ;\n  references :\n    inc<w> b ;\n  dependences :\n    data i -> b.i ;\n    data b.o -> o ;\n", k
  print "def algorithm top :\n  ? int c 0 ;\n  ? int [4] i 1 ;\n  ! int [4] o 0 ;\n  conditions : ;\n  references :"
  for (k = 0; k < 3000; k++) printf "    f%d<4> r%d ;\n", k % 1500 + 1, k
  print "    big/g1500 lib ;"
  print "  dependences :\n    data i -> r0.i ;\n    data c -> r0.c ;"
  for (k = 1; k < 3000; k++) printf "    data r%d.o -> r%d.i ;\n    data c -> r%d.c ;\n", k - 1, k, k
  print "    data r2999.o -> o ;"
}' > "$work/app.cvn"
mkdir "$work/lib"
awk 'BEGIN {
  print "function g0(n) {\n  in: int[n] i, int c;\n  out: int[n] o;\n}"
  for (k = 1; k <= 1500; k++)
    printf "function g%d(n) {\n  in: int[n] i, int c;\n  out: int[n] o;\n  let a = g%d(n * 2) [period 4];\n  let b = g%d(n);\n  i -> a.i;\n  c -> a.c, b.c;\n  a.o -> b.i;\n  b.o -> o;\n  a --> b;\n}\n", k, k - 1, int(k / 2)
}' > "$work/lib/Big.alg"
"$plain" -I "$work/lib" "$work/app.cvn" > "$work/plain.alg"
TSAN_OPTIONS=halt_on_error=1 "$tsan" -I "$work/lib" "$work/app.cvn" > "$work/tsan.alg"
cmp "$work/plain.alg" "$work/tsan.alg"
echo "threads check: $(wc -l < "$work/plain.alg") lines alike"
