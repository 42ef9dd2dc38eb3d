#include "bench/cvn_gen.h"

#include <stdexcept>

namespace cvn::bench {

namespace {

// Every name is lower case, unique in its scope, and neither a keyword nor a reserved word, so that the
// translations accept the files as they stand.
void append(std::string& out, std::initializer_list<std::string_view> parts) {
  for (auto p : parts) out.append(p);
}

// A pass-through definition used by several shapes, and the sensor and actuator around a top definition.
void add_basics(std::string& out) {
  out += "corvan_version : \"5.0\"\napplication description : \"generated\"\n";
  out += "def sensor src :\n  ! int o 0 ;\ndef actuator snk :\n  ? int i 0 ;\n";
  out += "def algorithm inc :\n  ? int i 0 ;\n  ! int o 0 ;\n  conditions : ;\n  references :\n  dependences :\n"
         "    data i -> o ;\n";
}

void gen_defs(std::string& out, std::size_t bytes) {
  add_basics(out);
  out += "def algorithm f1 :\n  ? int i 0 ;\n  ! int o 0 ;\n  conditions : ;\n  references :\n    inc a ;\n"
         "  dependences :\n    data i -> a.i ;\n    data a.o -> o ;\n";
  std::size_t k = 2;
  for (; out.size() < bytes; ++k) {
    const std::string n = std::to_string(k), p1 = std::to_string(k - 1), p2 = std::to_string(k < 3 ? 1 : k - 2);
    append(out, {"def algorithm f", n, " <w> :\n  ? int [w] i 0 ;\n  ! int [w] o 0 ;\n  conditions : ;\n",
                 "  references :\n    f", p1, k == 2 ? "" : "<w>", " a ;\n    f", p2, k < 4 ? "" : "<w * 2 - 1>",
                 " [2] b 1 true ;\n  dependences :\n    data i -> a.i ;\n    data a.o -> b.i ;\n    data b.o -> o ;\n"});
  }
  const std::string last = std::to_string(k - 1);
  append(out, {"def algorithm top :\n  conditions : ;\n  references :\n    src s ;\n    f", last, "<4> f ;\n",
               "    snk t ;\n  dependences :\n    data s.o -> f.i ;\n    data f.o -> t.i ;\n"});
}

// References r0 ... r(n-1) of inc in one definition, linked in a chain from its input to its output.
void gen_chain(std::string& out, std::size_t bytes, std::size_t n) {
  add_basics(out);
  if (bytes / 45 > n) n = bytes / 45;
  out += "def algorithm top :\n  ? int i 0 ;\n  ! int o 0 ;\n  conditions : ;\n  references :\n";
  for (std::size_t k = 0; k < n; ++k) append(out, {"    inc r", std::to_string(k), " ;\n"});
  out += "  dependences :\n    data i -> r0.i ;\n";
  for (std::size_t k = 1; k < n; ++k)
    append(out, {"    data r", std::to_string(k - 1), ".o -> r", std::to_string(k), ".i ;\n"});
  append(out, {"    data r", std::to_string(n - 1), ".o -> o ;\n"});
}

// One input port feeding n actuators.
void gen_fanout(std::string& out, std::size_t bytes, std::size_t n) {
  add_basics(out);
  if (bytes / 35 > n) n = bytes / 35;
  out += "def algorithm top :\n  ? int i 0 ;\n  conditions : ;\n  references :\n";
  for (std::size_t k = 0; k < n; ++k) append(out, {"    snk r", std::to_string(k), " ;\n"});
  out += "  dependences :\n";
  for (std::size_t k = 0; k < n; ++k) append(out, {"    data i -> r", std::to_string(k), ".i ;\n"});
}

// Definitions whose bodies each hold for one value of the input c.
void gen_cond(std::string& out, std::size_t bytes) {
  add_basics(out);
  for (std::size_t d = 0; out.size() < bytes; ++d) {
    append(out, {"def algorithm c", std::to_string(d), " :\n  ? int c 0 ;\n  ? int i 1 ;\n  ! int o 0 ;\n"});
    for (int v = 0; v < 8; ++v) {
      const std::string val = std::to_string(v - 3);
      append(out, {"  conditions : c = ", val, " ;\n  references :\n    inc r ;\n    inc q", std::to_string(v),
                   " ;\n  dependences :\n    data i -> r.i ;\n    data r.o -> q", std::to_string(v),
                   ".i ;\n    strong_precedence_data q", std::to_string(v), ".o -> o ;\n"});
    }
    out += "  conditions : false ;\n  references :\n  dependences :\n";
  }
}

// Types shared by the architecture-related shapes.
void add_arch_types(std::string& out) {
  out += "def media bus :\n  sammp ;\n  int = 2 ;\n  description : \"multipoint\"\n";
  out += "def media link :\n  sampp ;\ndef media shm :\n  ram ;\n";
  out += "def operator cpu :\n  gate bus b ;\n  gate link l ;\n  gate shm m ;\n  inc = 5 ;\n"
         "  description : \"processor\"\n  code_phases : initseq loopseq endseq ;\n";
}

// Architectures of 200 operators on one bus and one shared memory, neighbours paired by point-to-point links.
void gen_arch(std::string& out, std::size_t bytes) {
  add_basics(out);
  add_arch_types(out);
  for (std::size_t a = 0; out.size() < bytes; ++a) {
    const int n = 200;
    append(out, {"def architecture arch", std::to_string(a), " 0,0 :\n  operators :\n"});
    for (int k = 0; k < n; ++k) append(out, {"    cpu p", std::to_string(k), " @ ", std::to_string(k), ",0 ;\n"});
    out += "  main operator p0 ;\n  medias :\n    bus can broadcast ;\n    shm mem @ 1,1 ;\n";
    for (int k = 0; k < n / 2; ++k) append(out, {"    link l", std::to_string(k), " no_broadcast ;\n"});
    out += "  connections :\n";
    for (int k = 0; k < n; ++k) {
      const std::string p = std::to_string(k);
      append(out, {"    p", p, ".b can ;\n    p", p, ".m mem ;\n    p", p, ".l l", std::to_string(k / 2), " ;\n"});
    }
    out += "  description : \"generated\"\n";
  }
}

void gen_dur(std::string& out, std::size_t bytes) {
  add_basics(out);
  add_arch_types(out);
  for (std::size_t d = 0; out.size() < bytes; ++d) {
    append(out, {"extra_durations_operator cpu :\n"});
    for (int k = 0; k < 100; ++k) append(out, {"  op", std::to_string(d * 100 + k), " = ", std::to_string(k + 1), " ;\n"});
    append(out, {"extra_durations_media bus :\n"});
    for (int k = 0; k < 20; ++k) append(out, {"  t", std::to_string(d * 20 + k), " = ", std::to_string(k), " ;\n"});
  }
}

// A top definition of references, one group per reference, one constraint per group.
void gen_groups(std::string& out, std::size_t bytes) {
  add_basics(out);
  add_arch_types(out);
  out += "def architecture arch 0,0 :\n  operators :\n    cpu p0 ;\n    cpu p1 ;\n  medias :\n    bus can ;\n"
         "  connections :\n    p0.b can ;\n    p1.b can ;\n";
  const std::size_t n = bytes / 150 + 1;
  out += "def algorithm top :\n  conditions : ;\n  references :\n";
  for (std::size_t k = 0; k < n; ++k) append(out, {"    inc r", std::to_string(k), " ;\n"});
  out += "  dependences :\n";
  for (std::size_t k = 0; out.size() < bytes || k < n; ++k) {
    const std::string g = std::to_string(k), r = std::to_string(k % n);
    if (k % 2 == 0)
      append(out, {"operation_group g", g, " : [\\top\\r", r, "] [\\top\\r", std::to_string((k + 1) % n),
                   ", attach_all] ;\n"});
    else
      append(out, {"software_component g", g, " : [\\top\\r", r, "] ;\n"});
    append(out, {"absolute constraint : g", g, " on arch.p", std::to_string(k % 2), " arch.p1 ;\n"});
  }
}

}  // namespace

const std::vector<std::string>& cvn_shapes() {
  static const std::vector<std::string> shapes{"defs", "chain", "fanout", "cond", "arch", "dur", "groups"};
  return shapes;
}

std::string generate_cvn(const std::string& shape, std::size_t bytes, std::size_t min_refs) {
  std::string out;
  out.reserve(bytes + 4096);
  if (shape == "defs") gen_defs(out, bytes);
  else if (shape == "chain") gen_chain(out, bytes, min_refs);
  else if (shape == "fanout") gen_fanout(out, bytes, min_refs);
  else if (shape == "cond") gen_cond(out, bytes);
  else if (shape == "arch") gen_arch(out, bytes);
  else if (shape == "dur") gen_dur(out, bytes);
  else if (shape == "groups") gen_groups(out, bytes);
  else throw std::invalid_argument("unknown shape " + shape);
  return out;
}

}  // namespace cvn::bench
