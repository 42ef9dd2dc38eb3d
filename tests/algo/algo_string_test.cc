#include "algo/algo_string.h"

#include <gtest/gtest.h>

#include "algo_test_util.h"

namespace cvn::algo_test {
namespace {

using at::direction;
namespace as = cvn::algo_string;

at::expr op(const at::expr_desc& d) { return at::make_expr(loc::none, d); }
at::expr plus(at::expr l, at::expr r) { return op(at::Plus{std::move(l), std::move(r)}); }
at::expr minus(at::expr l, at::expr r) { return op(at::Minus{std::move(l), std::move(r)}); }
at::expr mult(at::expr l, at::expr r) { return op(at::Mult{std::move(l), std::move(r)}); }
at::expr div(at::expr l, at::expr r) { return op(at::Div{std::move(l), std::move(r)}); }

TEST(AlgoString, ExpressionsGetParenthesesOnlyWhereTheGrammarNeedsThem) {
  const at::expr a = id("a"), b = id("b"), c = id("c");
  EXPECT_EQ(as::string_of_expr(div(a, plus(b, c))), "a / (b + c)");
  EXPECT_EQ(as::string_of_expr(minus(minus(a, b), c)), "a - b - c");
  EXPECT_EQ(as::string_of_expr(plus(plus(a, b), c)), "a + b + c");
  EXPECT_EQ(as::string_of_expr(plus(a, plus(b, c))), "a + b + c");
  EXPECT_EQ(as::string_of_expr(minus(a, mult(b, c))), "a - b * c");
  EXPECT_EQ(as::string_of_expr(minus(a, minus(b, c))), "a - (b - c)");
  EXPECT_EQ(as::string_of_expr(minus(a, plus(b, c))), "a - (b + c)");
  EXPECT_EQ(as::string_of_expr(mult(plus(a, b), c)), "(a + b) * c");
  EXPECT_EQ(as::string_of_expr(div(minus(a, b), c)), "(a - b) / c");
  EXPECT_EQ(as::string_of_expr(mult(a, div(b, c))), "a * (b / c)");
  EXPECT_EQ(as::string_of_expr(mult(a, mult(b, c))), "a * b * c");
  EXPECT_EQ(as::string_of_expr(div(a, mult(b, c))), "a / (b * c)");
  EXPECT_EQ(as::string_of_expr(div(a, div(b, c))), "a / (b / c)");
  EXPECT_EQ(as::string_of_expr(div(div(a, b), c)), "a / b / c");
  EXPECT_EQ(as::string_of_expr(mult(div(a, b), c)), "a / b * c");
  EXPECT_EQ(as::string_of_expr(plus(mult(a, b), div(b, c))), "a * b + b / c");
  EXPECT_EQ(as::string_of_expr(op(at::Neg{plus(a, num(12))})), "(-a + 12)");
  EXPECT_EQ(as::string_of_expr(op(at::List{{num(1), id("n"), op(at::Bars{minus(a, b)})}})), "{1, n, |a - b|}");
  EXPECT_EQ(as::string_of_expr(num(-3)), "-3");
}

TEST(AlgoString, NegationsNeverReadBackAsADifferentValue) {
  const at::expr a = id("a"), b = id("b");
  const auto neg = [](at::expr x) { return as::string_of_expr(op(at::Neg{std::move(x)})); };
  // Written "(-3 + b)", these would read back with the literal -3 as first operand.
  EXPECT_EQ(neg(plus(num(3), b)), "(-(3 + b))");
  EXPECT_EQ(neg(minus(num(3), b)), "(-(3 - b))");
  EXPECT_EQ(neg(plus(mult(num(3), a), b)), "(-(3 * a + b))");
  EXPECT_EQ(neg(minus(a, op(at::Neg{plus(num(3), b)}))), "(-a - (-(3 + b)))");
  // Any first digit, the lowest and the highest too.
  EXPECT_EQ(neg(plus(num(0), b)), "(-(0 + b))");
  EXPECT_EQ(neg(minus(num(9), b)), "(-(9 - b))");
  // Same value when read back, or not readable at all: as before.
  EXPECT_EQ(neg(num(3)), "(-3)");
  EXPECT_EQ(neg(mult(num(3), b)), "(-3 * b)");
  EXPECT_EQ(neg(div(num(3), b)), "(-3 / b)");
  EXPECT_EQ(neg(plus(a, num(3))), "(-a + 3)");
  EXPECT_EQ(neg(plus(mult(num(3), plus(a, b)), b)), "(-(3 * (a + b) + b))");
  EXPECT_EQ(neg(plus(op(at::Bars{num(3)}), b)), "(-|3| + b)");
}

TEST(AlgoString, NamesConditionsEdgesAndKinds) {
  at::algorithm a = at::create();
  const at::def_id g = def(a, "g");
  const at::port_id gi = port(a, g, "i", direction::In);
  const at::def_id top = def(a, "top");
  const at::port_id c = port(a, top, "c", direction::In);
  const at::ref_id r = ref(a, top, g, "r", at::cond{c, 3});
  const at::port_id ri = rport(a, r, "i");
  EXPECT_EQ(as::string_of_def(a, top), "top");
  EXPECT_EQ(as::string_of_def(a, top, true), "top.[2]");
  EXPECT_EQ(as::string_of_ref(a, r), "r");
  EXPECT_EQ(as::string_of_ref(a, r, true, true), "top.r.[1]");
  EXPECT_EQ(as::string_of_port(a, gi, true), "g.i");
  EXPECT_EQ(as::string_of_port(a, ri, true, true), "top.r.i.[3]");
  EXPECT_EQ(as::string_of_graph_elt(a, at::Port{ri}), "Port i");
  EXPECT_EQ(as::string_of_graph_elt(a, at::Ref{r}, true), "Ref top.r");
  EXPECT_EQ(as::string_of_graph_elt(a, at::Def{g}, false, true), "Def g.[1]");
  EXPECT_EQ(as::string_of_cond(a, {c, 3}), "(c = 3)");
  EXPECT_EQ(as::string_of_conds(a, {{c, 3}, {c, -1}}), "(c = 3), (c = -1)");
  EXPECT_EQ(as::string_of_edge(a, at::Data{}), "Data []");
  EXPECT_EQ(as::string_of_edge(a, at::Contain{at::cond{c, 0}}), "Contain [(c = 0)]");
  EXPECT_EQ(as::string_of_edge(a, at::Reference{}), "Reference");
  EXPECT_EQ(as::string_of_edge(a, at::Copy{}), "Copy");
  EXPECT_EQ(as::string_of_edge(a, at::Precedence{}), "Precedence");
  EXPECT_EQ(as::string_of_definition_kind(at::definition_kind::Identity), "Identity");
  EXPECT_EQ(as::string_of_definition_kind(at::definition_kind::Delay), "Delay");
  EXPECT_EQ(as::string_of_direction(direction::Out), "out");
  EXPECT_EQ(as::string_of_port_dispatch(a, {ri, at::port_dispatch_kind::Gather}), "(i, /)");
  EXPECT_EQ(as::string_of_seq_rep_opts(a, {at::Seq_dispatch{ri, at::port_dispatch_kind::Same}, at::Seq_link{ri, ri}}),
            "(i=, i -> i)");
  EXPECT_EQ(as::string_of_seq_rep_opts(a, {}, false), "");
  EXPECT_EQ(as::string_of_repetition_kind(a, at::Parallel{num(2), {}}), "Parallel 2 : []");

  const checks::problem<at::graph_elt> p{at::Ref{r}, "Something."};
  EXPECT_EQ(as::string_of_problem(a, p), "Ref r: Something.");
  EXPECT_EQ(as::string_of_check_result(a, checks::make_check_result<at::graph_elt>({p})),
            "1 error:\nRef r: Something.\nNo warning.\n");
}

// g(x -> y) and top(i -> o) holding r: g with i -> r.x, r.y -> o.
struct Small : ::testing::Test {
  at::algorithm a = at::create();
  at::def_id g = def(a, "g");
  at::port_id gx = port(a, g, "x", direction::In);
  at::port_id gy = port(a, g, "y", direction::Out);
  at::def_id top = def(a, "top");
  at::port_id ti = port(a, top, "i", direction::In);
  at::port_id to = port(a, top, "o", direction::Out);
  at::ref_id r = ref(a, top, g, "r");
  void SetUp() override {
    a = ops::add_data_edge(a, std::nullopt, ti, rport(a, r, "x"));
    a = ops::add_data_edge(a, std::nullopt, rport(a, r, "y"), to);
  }
};

TEST_F(Small, Dumps) {
  at::algorithm b = at::create();
  const at::def_id f = def(b, "f");
  b = ops::modify_def(b, std::nullopt, std::vector<std::string>{"n", "m"}, f);
  b = ops::add_port(b, mult(id("n"), num(2)), std::nullopt, "int", direction::In, "x", std::nullopt, std::nullopt, f);
  EXPECT_EQ(as::dbg_of_algo(b),
            "\n======== ======== Algorithm ========  ========\n"
            "\n====== ====== =========== ====== ======\n"
            "====== ====== Definitions ====== ======\n"
            "====== ====== =========== ====== ======\n"
            "def_id      = [1]\n"
            "def_name    = f\n"
            "def_kind    = Function\n"
            "def_params  = n, m\n"
            "def_comment = \n"
            "\n====== ====== ========== ====== ======\n"
            "====== ====== References ====== ======\n"
            "====== ====== ========== ====== ======\n"
            "\n====== ====== ===== ====== ======\n"
            "====== ====== Ports ====== ======\n"
            "====== ====== ===== ====== ======\n"
            "port_id    = [1]\n"
            "port_name  = x\n"
            "port_size  = n * 2\n"
            "port_dir   = in\n"
            "port_type  = int\n"
            "port_order = 0\n"
            "port_expr  = \n"
            "\n====== ====== ============= ====== ======\n"
            "====== ====== Graph element ====== ======\n"
            "====== ====== ============= ====== ======\n"
            "Def f\n"
            "Port x\n");

  ops::ref_update u;
  u.args = std::vector<at::expr>{num(1), id("k")};
  u.rep = at::parallel_decl{num(3), {{"x", at::port_dispatch_kind::Split}}};
  u.abstract = true;
  a = ops::modify_ref(a, u, r);
  EXPECT_EQ(as::dbg_of_ref(a, r),
            "ref_id       = [1]\n"
            "ref_name     = r\n"
            "ref_comment  = \n"
            "ref_args     = 1,k\n"
            "ref_rep      = Parallel 3 : [(x, *)]\n"
            "ref_abstract = true\n");
  EXPECT_EQ(as::dbg_of_port(a, to),
            "port_id    = [4]\n"
            "port_name  = o\n"
            "port_size  = 1\n"
            "port_dir   = out\n"
            "port_type  = int\n"
            "port_order = 0\n"
            "port_expr  = \n");
  EXPECT_EQ(as::dbg_of_elt_deps(a, at::Port{rport(a, r, "y")}),
            "\n======== ======== ========\n"
            "elt = Port y\n"
            "PRED : \n"
            "Port y --> Contain [] --> Ref r\n"
            "\n"
            "SUCC : \n"
            "Port y --> Data [] --> Port o\n"
            "Port y --> Reference --> Port y\n"
            "\n");
  EXPECT_EQ(as::dbg_of_deps(b),
            "\n====== ====== ========================== ====== ======\n"
            "====== ====== Graph element dependencies ====== ======\n"
            "====== ====== ========================== ====== ======\n"
            "\n======== ======== ========\nelt = Def f\nPRED : \n\nSUCC : \nDef f --> Contain [] --> Port x\n\n"
            "\n======== ======== ========\nelt = Port x\nPRED : \nPort x --> Contain [] --> Def f\n\nSUCC : \n\n");
}

TEST_F(Small, DotDrawing) {
  EXPECT_EQ(as::graph_to_dot(a),
            "digraph G {\n  truecolor=true;\n  rankdir=LR;\n  ratio=auto;\n  margin=\"0.1,0.1\";\n"
            "subgraph cluster_1 {\n  color=blue; label=\"\"; \n"
            "f1 [ label=\"g\", style=\"filled\" ];\n"
            "p1 [ label=\"x\", color=\"green\" ];\n"
            "p2 [ label=\"y\", color=\"red\" ];\n"
            "}\n"
            "subgraph cluster_2 {\n  color=blue; label=\"\"; \n"
            "f2 [ label=\"top\", style=\"filled\" ];\n"
            "p3 [ label=\"i\", color=\"green\" ];\n"
            "p4 [ label=\"o\", color=\"red\" ];\n"
            "r1 [ shape=\"record\", label=\"{ { <p5> x  } | <ref1> r : g | { <p6> y  } }\"];\n"
            "}\n"
            "f1 -> p2 [ color=\"grey\" ];\n"
            "f1 -> p1 [ color=\"grey\" ];\n"
            "f2 -> r1:ref1 [ color=\"grey\" ];\n"
            "f2 -> p4 [ color=\"grey\" ];\n"
            "f2 -> p3 [ color=\"grey\" ];\n"
            "p3 -> r1:p5 [ color=\"black\" ];\n"
            "r1:ref1 -> r1:p6 [ color=\"grey\" ];\n"
            "r1:ref1 -> r1:p5 [ color=\"grey\" ];\n"
            "r1:ref1 -> f1 [ color=\"blue\" ];\n"
            "r1:p5 -> p1 [ color=\"blue\" ];\n"
            "r1:p6 -> p4 [ color=\"black\" ];\n"
            "r1:p6 -> p2 [ color=\"blue\" ];\n"
            "}\n");
}

TEST(AlgoString, DotDrawsConditionsAsNestedClusters) {
  at::algorithm a = at::create();
  const at::def_id g = def(a, "g");
  const at::def_id top = def(a, "top");
  const at::port_id c = port(a, top, "c", direction::In);
  ref(a, top, g, "r", at::cond{c, 1});
  const std::string dot = as::graph_to_dot(a);
  EXPECT_NE(dot.find("subgraph cluster_3 {\ncolor=lightblue; style=\"filled\"; fillcolor=\"#ffe50e5f\"; "
                     "label=\"(c = 1)\";\nr1 [ shape=\"record\", label=\"{ {  } | <ref1> r : g | {  } }\"];\n}\n}\n"),
            std::string::npos)
      << dot;
  EXPECT_NE(dot.find("f2 -> r1:ref1 [ color=\"grey\" , label=\"(c = 1)\"];\n"), std::string::npos) << dot;
}

// Module definitions are single nodes: nothing inside them is drawn, not even links between their references.
TEST(AlgoString, DotDrawsModuleDefinitionsWithoutTheirInsides) {
  const at::module_loader loader = [](const std::vector<std::string>&, const std::string&, const at::algorithm& b) {
    at::algorithm m = b;
    const at::def_id f = def(m, "f");
    port(m, f, "i", direction::In);
    port(m, f, "o", direction::Out);
    const at::def_id g = def(m, "g");
    const at::ref_id x = ref(m, g, f, "x");
    const at::ref_id y = ref(m, g, f, "y");
    m = ops::add_data_edge(m, std::nullopt, rport(m, x, "o"), rport(m, y, "i"));
    return m;
  };
  at::algorithm a = at::create();
  const at::def_id top = def(a, "top");
  auto [g, b] = at::load_lookup_def(a, {std::string(CVN_TEST_DATA) + "/algo/data/modules/second"}, loader,
                                    base_types::qualified_name{"Lib", "g"});
  const at::ref_id u = ref(b, top, g, "u");
  const std::string dot = as::graph_to_dot(b);
  const std::string gf = "f" + std::to_string(g.value), ur = "r" + std::to_string(u.value);
  EXPECT_NE(dot.find(gf + " [ label=\"Lib.g\", style=\"filled\" ];\n"), std::string::npos) << dot;
  EXPECT_EQ(dot.find("subgraph cluster_" + std::to_string(g.value) + " "), std::string::npos) << dot;
  EXPECT_NE(dot.find(ur + ":ref" + std::to_string(u.value) + " -> " + gf + " "), std::string::npos) << dot;
  for (at::ref_id r : at::refs_under_def(b, g))
    EXPECT_EQ(dot.find("r" + std::to_string(r.value) + ":"), std::string::npos) << dot;
}

}  // namespace
}  // namespace cvn::algo_test
