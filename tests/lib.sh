# shellcheck shell=bash
# The helpers that the test scripts share; sourced by bash (source
# "$(dirname "$0")/../lib.sh"). Sourcing it sets status=0, which fail sets to
# 1: a script ends with `exit $status`.
#
# Reporting, one line a check:
#   ok <what>                 prints "ok   <what>"
#   fail <what>               prints "FAIL <what>" and sets status=1
#   check <what> <command...> ok or fail, as the command (run silently) succeeds
#
# JVMs (the rules of which lines are faults: tests/jvm_warnings.txt):
#   jvm_warnings <file>       prints the lines of a JVM's output that report a
#                             JNI fault, and succeeds if there is one
#   drop_exempt               copies its input but the lines that look like a
#                             warning and are none (Java 8's launcher's own)
#   jvm_property <name> <java...>   a system property of that JVM
#   java_feature <java...>    its Java release: 8, 11, 17...
#
# Machines of <bits> bits (64 or 32), as each message names them:
#   jvm_machine    the JVM's load error: AMD 64, IA 32
#   elf_machine    an ELF header: x86-64, i386
#   file_machine   the doctor's file: x86-64 (64-bit), i386 (32-bit)
#   doctor_jvm     the doctor's JVM: amd64 (64-bit), x86 (32-bit)
#
# Jars:
#   jar_entry <jar> <entry>         prints the bytes of one entry
#
# ELF files:
#   elf_bits <file>                 64 or 32, from its ELF class
#   elf_bound_at_load <readelf> <file>   succeeds if the dynamic loader binds
#                                   every symbol at load (DF_BIND_NOW or DF_1_NOW)

# shellcheck disable=SC2034 # the scripts that source this file exit with it
status=0

ok() { echo "ok   $*"; }
fail() { echo "FAIL $*"; status=1; }
check() {
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then ok "$what"; else fail "$what"; fi
}

JQEL_JVM_WARNINGS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/jvm_warnings.txt
if [ ! -r "$JQEL_JVM_WARNINGS" ]; then
  echo "lib.sh: cannot read $JQEL_JVM_WARNINGS, the rules of which JVM lines are faults" >&2
  exit 2
fi
# The texts of one kind of rule of jvm_warnings.txt, one a line.
jvm_rules() { sed -n "s/^$1 //p" "$JQEL_JVM_WARNINGS"; }
drop_exempt() { grep -a -v -x -F -e "$(jvm_rules exempt)"; }
jvm_warnings() { grep -a -F -e "$(jvm_rules fault)" "$1" | drop_exempt; }

jvm_property() {
  local name=$1
  shift
  "$@" -XshowSettings:properties -version 2>&1 | sed -n "s/^ *${name//./\\.} = //p"
}
java_feature() { jvm_property java.version "$@" | sed -n 's/^\(1\.\)\{0,1\}\([0-9]*\).*/\2/p'; }

jvm_machine() { if [ "$1" = 64 ]; then echo "AMD 64"; else echo "IA 32"; fi; }
elf_machine() { if [ "$1" = 64 ]; then echo x86-64; else echo i386; fi; }
file_machine() { echo "$(elf_machine "$1") ($1-bit)"; }
doctor_jvm() { if [ "$1" = 64 ]; then echo "amd64 (64-bit)"; else echo "x86 (32-bit)"; fi; }

jar_entry() { python3 -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))' "$1" "$2"; }

# e_ident[EI_CLASS], the fifth byte: 1 for ELFCLASS32, 2 for ELFCLASS64.
elf_bits() { echo $(( $(od -An -tu1 -j4 -N1 "$1") * 32 )); }
# (No pipe into grep -q, which may end before readelf does: under pipefail
# that would read as a failure.)
elf_bound_at_load() {
  local dynamic
  dynamic=$("$1" -dW "$2") && grep -qE '\((FLAGS|FLAGS_1)\).*\b(BIND_NOW|NOW)\b' <<<"$dynamic"
}
