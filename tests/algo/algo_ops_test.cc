#include "algo/algo_ops.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "algo/algo_io.h"

#include "algo_test_util.h"

namespace cvn::algo_test {
namespace {

using at::direction;

// g(a, b -> o) and top(i, c -> o): the usual playground.
struct Model : ::testing::Test {
  at::algorithm a = at::create();
  at::def_id g = def(a, "g");
  at::port_id ga = port(a, g, "a", direction::In);
  at::port_id gb = port(a, g, "b", direction::In);
  at::port_id go = port(a, g, "o", direction::Out);
  at::def_id top = def(a, "top");
  at::port_id ti = port(a, top, "i", direction::In);
  at::port_id tc = port(a, top, "c", direction::In);
  at::port_id to = port(a, top, "o", direction::Out);
};

TEST_F(Model, AddDefRefusesAnExistingNameOnTheExistingDefinition) {
  EXPECT_EQ(problem_text([&] { (void)ops::add_def(a, std::nullopt, std::nullopt, at::definition_kind::Delay, "g"); }),
            "Def g: A definition \"g\" already exists.");
  try {
    (void)ops::add_def(a, std::nullopt, std::nullopt, at::definition_kind::Delay, "g");
  } catch (const at::Problem& p) {
    EXPECT_EQ(p.element(), at::graph_elt{at::Def{g}});
    EXPECT_EQ(p.message(), "A definition \"g\" already exists.");
  }
}

TEST_F(Model, PortNamesAreUniqueAcrossDirections) {
  EXPECT_EQ(problem_text([&] { port(a, g, "o", direction::In); }),
            "Def g: A port \"o\" already exists in definition \"g\".");
}

TEST_F(Model, PortPositionsInsertAndShift) {
  // Beyond the two inputs: goes last.
  const at::port_id x = port(a, g, "x", direction::In, "int", 7);
  EXPECT_EQ(at::get_port(a, x).port_order, 2);
  // At 0 among three: the others move up; outputs are untouched.
  const at::port_id y = port(a, g, "y", direction::In, "int", 0);
  EXPECT_EQ(at::get_port(a, y).port_order, 0);
  EXPECT_EQ(at::get_port(a, ga).port_order, 1);
  EXPECT_EQ(at::get_port(a, gb).port_order, 2);
  EXPECT_EQ(at::get_port(a, x).port_order, 3);
  EXPECT_EQ(at::get_port(a, go).port_order, 0);
  // Negative position: last.
  const at::port_id z = port(a, g, "z", direction::In, "int", -1);
  EXPECT_EQ(at::get_port(a, z).port_order, 4);
  EXPECT_EQ(at::ports_by_order(a, at::Def{g}, direction::In), (std::vector<at::port_id>{y, ga, gb, x, z}));
}

TEST_F(Model, PortsAddedAfterARemovalStillGoLast) {
  // The orders left by a removal may have a gap (b stays past the single input left): a port given no
  // position, or one beyond the end, still goes after the others rather than pushing them back.
  a = ops::remove_port(a, ga);
  const at::port_id x = port(a, g, "x", direction::In);
  EXPECT_EQ(at::ports_by_order(a, at::Def{g}, direction::In), (std::vector<at::port_id>{gb, x}));
  const at::port_id y = port(a, g, "y", direction::In, "int", 5);
  EXPECT_EQ(at::ports_by_order(a, at::Def{g}, direction::In), (std::vector<at::port_id>{gb, x, y}));
}

// Ports added together against the same ports added one at a time: random positions (in front, inside,
// beyond, negative, none), both directions, a definition with ports already or with references, and a
// name that is taken somewhere in the list.
TEST_F(Model, PortsAddedTogetherAsOneAtATime) {
  std::mt19937 rng(5);
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  // By identifier (the two models draw theirs from one counter: only their order can agree).
  const auto state = [](const at::algorithm& b, at::def_id d) {
    std::vector<std::tuple<std::int64_t, std::string, int, std::int32_t>> out;  // rank, name, direction, order
    for (at::port_id p : at::ports(b, at::Def{d})) {
      const at::port& x = at::get_port(b, p);
      out.emplace_back(p.value, x.port_name, static_cast<int>(x.port_dir), x.port_order);
    }
    std::sort(out.begin(), out.end());
    for (std::size_t k = 0; k < out.size(); ++k) std::get<0>(out[k]) = static_cast<std::int64_t>(k);
    return out;
  };
  for (int round = 0; round < 200; ++round) {
    at::algorithm b = a;
    const at::def_id d = round % 3 == 0 ? g : def(b, "d");
    if (round % 5 == 0) ref(b, top, d, "user");
    std::vector<ops::new_port> more;
    const int n = 1 + pick(40);
    for (int k = 0; k < n; ++k) {
      ops::new_port p;
      p.type = "int";
      p.dir = pick(3) == 0 ? direction::Out : direction::In;
      p.name = "p" + std::to_string(k);
      if (pick(40) == 0) p.name = pick(2) == 0 ? "a" : "p0";  // taken
      const int kind = pick(4);
      if (kind == 1) p.position = 0;
      if (kind == 2) p.position = pick(k + 3) - 1;
      if (kind == 3) p.position = pick(3) == 0 ? -5 : 100;
      more.push_back(p);
    }
    at::algorithm one_by_one = b;
    std::string failed_one;
    try {
      for (const auto& p : more)
        one_by_one = ops::add_port(std::move(one_by_one), p.size, p.position, p.type, p.dir, p.name, p.value,
                                   p.attrs, d);
    } catch (const at::Problem& e) {
      failed_one = e.text();
    }
    at::algorithm together = b;
    std::string failed_together;
    try {
      together = ops::add_ports(std::move(together), d, more);
    } catch (const at::Problem& e) {
      failed_together = e.text();
    }
    ASSERT_EQ(failed_together, failed_one) << "round " << round;
    if (!failed_one.empty()) continue;  // the run ends there
    ASSERT_EQ(state(together, d), state(one_by_one, d)) << "round " << round;
    for (at::ref_id r : at::referencers(together, d))
      EXPECT_EQ(at::ports_by_order(together, at::Ref{r}, direction::In).size(),
                at::ports_by_order(together, at::Def{d}, direction::In).size());
    EXPECT_EQ(algo_io::string_of_algo(together), algo_io::string_of_algo(one_by_one)) << "round " << round;
  }
}

TEST_F(Model, PortsAddedToADefinitionReachItsReferences) {
  const at::ref_id r1 = ref(a, top, g, "r1");
  const at::ref_id r2 = ref(a, top, g, "r2");
  const at::port_id n = port(a, g, "n", direction::In, "float", 1);
  for (at::ref_id r : {r1, r2}) {
    const at::port_id rn = rport(a, r, "n");
    const at::port& p = at::get_port(a, rn);
    EXPECT_EQ(p.port_order, 1);
    EXPECT_EQ(p.port_type, "float");
    EXPECT_EQ(p.port_dir, direction::In);
    EXPECT_EQ(at::referenced_port(a, rn), n);
    EXPECT_EQ(at::get_port(a, rport(a, r, "a")).port_order, 0);
    EXPECT_EQ(at::get_port(a, rport(a, r, "b")).port_order, 2);
    EXPECT_EQ(at::port_container(a, rn), at::graph_elt{at::Ref{r}});
  }
}

TEST_F(Model, ReferencesCopyTheirDefinitionsPorts) {
  a = at::set_port_size(a, ga, at::make_expr(loc::none, at::Int{4}));
  a = at::set_port_additional(a, ga, additional::of_list({{"unit", "ms"}}));
  const at::ref_id r = ref(a, top, g, "r");
  const std::vector<at::port_id> ps = at::ports(a, at::Ref{r});
  ASSERT_EQ(ps.size(), 3U);
  for (at::port_id p : ps) {
    const at::port_id dp = at::referenced_port(a, p);
    const at::port& orig = at::get_port(a, dp);
    const at::port& copy = at::get_port(a, p);
    EXPECT_EQ(orig.port_name, copy.port_name);
    EXPECT_EQ(orig.port_order, copy.port_order);
    EXPECT_EQ(orig.port_dir, copy.port_dir);
    EXPECT_EQ(orig.port_additional, copy.port_additional);
    ASSERT_EQ(orig.port_size.has_value(), copy.port_size.has_value());
    if (orig.port_size) {
      EXPECT_EQ(orig.port_size->node(), copy.port_size->node());
    }
    // A reference holds no texts of its own: its ports read those of the definition's.
    EXPECT_TRUE(orig.port_name.same(copy.port_name));
    EXPECT_TRUE(orig.port_type.same(copy.port_type));
    EXPECT_EQ(at::port_container(a, dp), at::graph_elt{at::Def{g}});
  }
  EXPECT_EQ(additional::to_string(at::get_port(a, rport(a, r, "a")).port_additional), "unit=\"ms\"");
  EXPECT_EQ(at::reference_def(a, r), g);
  EXPECT_EQ(at::ref_container(a, r), top);
  EXPECT_EQ(at::referencers(a, g), std::vector<at::ref_id>{r});
}

TEST_F(Model, ReferencesToWideDefinitionsIndexEveryCopiedPort) {
  // Past the ports held in place and the size from which names are indexed, the copies are found by
  // name and counted per direction like the definition's own.
  const at::def_id w = def(a, "w");
  for (int k = 0; k < 12; ++k) port(a, w, "p" + std::to_string(k), k % 3 == 0 ? direction::Out : direction::In);
  const at::algorithm before = a;
  const at::ref_id r = ref(a, top, w, "r");
  EXPECT_EQ(at::port_count(a, at::Ref{r}, direction::In), 8U);
  EXPECT_EQ(at::port_count(a, at::Ref{r}, direction::Out), 4U);
  for (int k = 0; k < 12; ++k) {
    const std::string n = "p" + std::to_string(k);
    const auto p = at::port_by_name_dir(a, at::Ref{r}, n, k % 3 == 0 ? direction::Out : direction::In);
    ASSERT_TRUE(p) << n;
    EXPECT_EQ(at::get_port(a, *p).port_name, n);
    EXPECT_EQ(at::port_container(a, *p), at::graph_elt{at::Ref{r}});
    EXPECT_EQ(at::get_port(a, at::referenced_port(a, *p)).port_name, n);
  }
  EXPECT_FALSE(at::mem_elt(before, at::Ref{r}));
  EXPECT_TRUE(at::ports(before, at::Ref{r}).empty());
}

TEST_F(Model, ConditionMustBeAnInputPortOfTheContainer) {
  EXPECT_EQ(problem_text([&] { ref(a, top, g, "r", at::cond{to, 1}); }),
            "Def top: Definition top has no input port o, so condition (o = 1) cannot be used in this definition.");
  EXPECT_EQ(problem_text([&] { ref(a, top, g, "r", at::cond{ga, 1}); }),
            "Def top: Definition top has no input port a, so condition (a = 1) cannot be used in this definition.");
}

TEST_F(Model, ConditionedAndUnconditionedContentsDoNotMix) {
  at::algorithm b = a;
  ref(a, top, g, "u");
  EXPECT_EQ(problem_text([&] { ref(a, top, g, "v", at::cond{tc, 1}); }),
            "Def top: Unconditioned references or links exist in definition.");
  ref(b, top, g, "v", at::cond{tc, 1});
  EXPECT_EQ(problem_text([&] { ref(b, top, g, "u"); }), "Def top: Conditioned references or links exist in definition.");
}

TEST_F(Model, PassThroughEdgesCountForTheMixingRule) {
  at::algorithm b = a;
  a = ops::add_data_edge(a, std::nullopt, ti, to);
  EXPECT_TRUE(at::exist_unconditioned_links_between_def_ports(a, top));
  EXPECT_EQ(problem_text([&] { ref(a, top, g, "v", at::cond{tc, 1}); }),
            "Def top: Unconditioned references or links exist in definition.");
  // A conditioned pass-through makes the definition conditioned.
  b = ops::add_data_edge(b, at::cond{tc, 2}, ti, to);
  EXPECT_EQ(at::def_conditions(b, top), std::vector<at::cond>{(at::cond{tc, 2})});
  EXPECT_EQ(problem_text([&] { ref(b, top, g, "u"); }), "Def top: Conditioned references or links exist in definition.");
  ref(b, top, g, "v", at::cond{tc, 1});
  // Removing the edge lifts the condition it carried.
  b = ops::remove_data_edge(b, ti, to);
  EXPECT_EQ(at::def_conditions(b, top), std::vector<at::cond>{(at::cond{tc, 1})});
}

TEST_F(Model, ReferenceNamesAreUniquePerCondition) {
  const at::ref_id r1 = ref(a, top, g, "r", at::cond{tc, 1});
  const at::ref_id r2 = ref(a, top, g, "r", at::cond{tc, 2});
  EXPECT_NE(r1, r2);
  EXPECT_EQ(problem_text([&] { ref(a, top, g, "r", at::cond{tc, 1}); }),
            "Def top: A reference named r already exist in definition top with the same condition.");
  EXPECT_EQ(at::lookup_ref(a, base_types::simple_name{"top"}, "r", std::optional<at::cond>(at::cond{tc, 2})), r2);
  EXPECT_EQ(at::lookup_ref(a, base_types::simple_name{"top"}, "r"), r1);
  const auto groups = at::refs_by_cond(a, top);
  ASSERT_EQ(groups.size(), 2U);
  EXPECT_EQ(groups[0].first, (at::cond{tc, 1}));
  EXPECT_EQ(groups[1].second, std::vector<at::ref_id>{r2});

  at::algorithm b = at::create();
  const at::def_id h = def(b, "h");
  const at::def_id leaf = def(b, "leaf");
  ref(b, h, leaf, "x");
  EXPECT_EQ(problem_text([&] { ref(b, h, leaf, "x"); }), "Def h: A reference named x already exist in definition h.");
  EXPECT_EQ(problem_text([&] { ref(b, h, h, "y"); }), "Def h: Definition h cannot contain a reference to itself.");
}

// Lookups by name, under one condition or any, against a scan of the definition's references, while
// references come, go and are renamed, past the size where the definition indexes their names.
TEST_F(Model, ReferencesFoundByNameUnderAnyCondition) {
  std::mt19937 rng(3);
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const auto scan = [](const at::algorithm& b, at::def_id d, const std::string& name,
                       const std::optional<std::optional<at::cond>>& under) {
    std::vector<at::ref_id> out;
    for (const auto& [c, refs] : at::refs_by_cond(b, d))
      for (at::ref_id r : refs)
        if (at::get_ref(b, r).ref_name == name && (!under || *under == c)) out.push_back(r);
    std::sort(out.begin(), out.end());
    return out;
  };
  // Short names and long ones (the index keys names of up to 7 bytes apart), a Latin-1 one among them.
  const std::vector<std::string> names{"a", "b", "r1", "r2", "long_reference_name", "abcdefg", "abcdefgh", "\xe9t\xe9"};
  at::algorithm b = a;
  int made = 0;
  for (int step = 0; step < 400; ++step) {
    const std::vector<at::ref_id> all = at::def_elts(b, top, std::nullopt).second;
    const std::string name = names[static_cast<std::size_t>(pick(static_cast<int>(names.size())))];
    const at::cond c{tc, pick(6)};
    if (all.empty() || pick(4) != 0) {
      if (scan(b, top, name, std::optional<at::cond>(c)).empty()) ref(b, top, g, name, c);
      ++made;
    } else if (pick(2) == 0) {
      b = ops::remove_ref(b, all[static_cast<std::size_t>(pick(static_cast<int>(all.size())))]);
    } else {
      at::ref_changes change;
      change.name = name;
      b = at::modify_ref(b, change, all[static_cast<std::size_t>(pick(static_cast<int>(all.size())))]);
    }
    for (const std::string& n : names) {
      ASSERT_EQ(at::refs_by_name(b, at::Def{top}, n, std::nullopt), scan(b, top, n, std::nullopt)) << step;
      ASSERT_EQ(at::has_ref_named(b, at::Def{top}, n, std::nullopt), !scan(b, top, n, std::nullopt).empty());
      for (int v = 0; v < 6; ++v) {
        const std::optional<at::cond> under = at::cond{tc, v};
        ASSERT_EQ(at::refs_by_name(b, at::Def{top}, n, under), scan(b, top, n, under)) << step;
      }
    }
  }
  EXPECT_GT(at::def_elts(b, top, std::nullopt).second.size(), at::contents::named_from) << "the index was used";
}

TEST_F(Model, RepetitionsAreConvertedToPortsOfTheReference) {
  const at::ref_id p = ref(a, top, g, "p", std::nullopt,
                           at::parallel_decl{num(4), {{"a", at::port_dispatch_kind::Same}, {"o", at::port_dispatch_kind::Gather}}});
  const auto& par = std::get<at::Parallel>(*at::get_ref(a, p).ref_rep);
  ASSERT_EQ(par.dispatches.size(), 2U);
  EXPECT_EQ(par.dispatches[0].first, rport(a, p, "a"));
  EXPECT_EQ(par.dispatches[1].first, rport(a, p, "o"));
  EXPECT_EQ(algo_string::string_of_repetition_kind(a, *at::get_ref(a, p).ref_rep), "Parallel 4 : [(a, =), (o, /)]");

  const at::ref_id s = ref(a, top, g, "s", std::nullopt,
                           at::sequence_decl{id("n"), {at::seq_link_decl{"o", "a"}, at::seq_dispatch_decl{"b", at::port_dispatch_kind::Split}}});
  const auto& seq = std::get<at::Sequence>(*at::get_ref(a, s).ref_rep);
  ASSERT_EQ(seq.options.size(), 2U);
  EXPECT_EQ(std::get<at::Seq_link>(seq.options[0]).first, rport(a, s, "o"));
  EXPECT_EQ(std::get<at::Seq_link>(seq.options[0]).second, rport(a, s, "a"));
  EXPECT_EQ(algo_string::string_of_repetition_kind(a, *at::get_ref(a, s).ref_rep), "Sequence n : [o -> a, b*]");
}

TEST_F(Model, RepetitionRefusals) {
  const auto with = [&](at::repetition_decl rep) { return problem_text([&] { ref(a, top, g, "r", std::nullopt, rep); }); };
  EXPECT_EQ(with(at::parallel_decl{num(2), {{"zz", at::port_dispatch_kind::Split}}}),
            "Def top: No such port in definition g: zz.");
  EXPECT_EQ(with(at::parallel_decl{num(2), {{"o", at::port_dispatch_kind::Same}}}),
            "Def top: Port o is an output port and cannot be dispatch with 'equal' strategy.");
  EXPECT_EQ(with(at::sequence_decl{num(2), {at::seq_link_decl{"a", "b"}}}), "Def top: No out port a in reference r");
  EXPECT_EQ(with(at::sequence_decl{num(2), {at::seq_link_decl{"o", "o"}}}), "Def top: No input port o in reference r");
  EXPECT_EQ(with(at::sequence_decl{num(2), {at::seq_dispatch_decl{"o", at::port_dispatch_kind::Split}}}),
            "Def top: No input port o in reference r");
  // Nothing was added by the refused edits.
  EXPECT_TRUE(at::refs_under_def(a, top).empty());

  // modify_ref converts against the reference and names it.
  const at::ref_id r = ref(a, top, g, "r");
  ops::ref_update u;
  u.rep = at::parallel_decl{num(2), {{"q", at::port_dispatch_kind::Split}}};
  EXPECT_EQ(problem_text([&] { (void)ops::modify_ref(a, u, r); }), "Ref r: No such port in definition g: q.");
}

TEST_F(Model, CycleRuleThroughDataAndPrecedence) {
  const at::ref_id x = ref(a, top, g, "x");
  const at::ref_id y = ref(a, top, g, "y");
  const at::ref_id z = ref(a, top, g, "z");
  a = ops::add_data_edge(a, std::nullopt, rport(a, x, "o"), rport(a, y, "a"));
  a = ops::add_precedence_edge(a, y, z);
  // z after y after x: z -> x closes a cycle through a precedence and a data edge.
  EXPECT_EQ(problem_text([&] { (void)ops::add_data_edge(a, std::nullopt, rport(a, z, "o"), rport(a, x, "a")); }),
            "Port o: Port o cannot be linked to port a. The reference x precede the reference z.");
  EXPECT_EQ(problem_text([&] { (void)ops::add_precedence_edge(a, z, x); }),
            "Ref z: Reference x cannot be in precedence with the reference z.");
  EXPECT_EQ(problem_text([&] { (void)ops::add_data_edge(a, std::nullopt, rport(a, y, "o"), rport(a, x, "b")); }),
            "Port o: Port o cannot be linked to port b. The reference x precede the reference y.");
  // A reference feeding itself is a cycle too.
  EXPECT_EQ(problem_text([&] { (void)ops::add_data_edge(a, std::nullopt, rport(a, z, "o"), rport(a, z, "a")); }),
            "Port o: Port o cannot be linked to port a. The reference z precede the reference z.");
  // Forward edges are fine.
  a = ops::add_data_edge(a, std::nullopt, rport(a, x, "o"), rport(a, z, "b"));
  EXPECT_EQ(at::get_data_pred_ref(a, z), std::vector<at::ref_id>{x});
  EXPECT_EQ(at::get_pred_ref(a, z), std::vector<at::ref_id>{y});
}

TEST_F(Model, CycleSearchAgreesWithAPlainSearch) {
  // Random precedences and data edges between 40 references, checked against a search over the edges
  // the test itself recorded.
  constexpr int n = 40;
  std::vector<at::ref_id> rs;
  for (int k = 0; k < n; ++k) rs.push_back(ref(a, top, g, "r" + std::to_string(k)));
  std::vector<std::vector<int>> succ(n);
  const auto reaches = [&](int from, int to) {
    std::vector<bool> seen(n, false);
    std::vector<int> stack{from};
    while (!stack.empty()) {
      const int x = stack.back();
      stack.pop_back();
      if (x == to) return true;
      if (seen[static_cast<std::size_t>(x)]) continue;
      seen[static_cast<std::size_t>(x)] = true;
      for (int y : succ[static_cast<std::size_t>(x)]) stack.push_back(y);
    }
    return false;
  };
  std::uint64_t seed = 12345;
  const auto next = [&] {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<int>((seed >> 33) % n);
  };
  int refused = 0;
  for (int step = 0; step < 150; ++step) {
    const int x = next();
    const int y = next();
    const bool cycle = reaches(y, x);
    const bool data = step % 3 == 0;
    const std::string text = problem_text([&] {
      if (data)
        a = ops::add_data_edge(a, std::nullopt, rport(a, rs[static_cast<std::size_t>(x)], "o"),
                               rport(a, rs[static_cast<std::size_t>(y)], step % 2 == 0 ? "a" : "b"));
      else
        a = ops::add_precedence_edge(a, rs[static_cast<std::size_t>(x)], rs[static_cast<std::size_t>(y)]);
    });
    if (text.empty()) {
      EXPECT_FALSE(cycle) << x << " -> " << y;
      succ[static_cast<std::size_t>(x)].push_back(y);
    } else if (text.find("already the destination") == std::string::npos) {
      EXPECT_TRUE(cycle) << text;
      ++refused;
    }
  }
  EXPECT_GT(refused, 0);
  for (int x = 0; x < n; ++x)
    for (int y = 0; y < n; ++y)
      EXPECT_EQ(at::ref_reaches(a, rs[static_cast<std::size_t>(x)], rs[static_cast<std::size_t>(y)]), reaches(x, y));
}

TEST_F(Model, TypeAndDirectionRules) {
  const at::def_id h = def(a, "h");
  const at::port_id hf = port(a, h, "f", direction::Out, "float");
  const at::port_id ho = port(a, h, "ho", direction::Out);
  const at::ref_id x = ref(a, top, g, "x");
  const at::ref_id y = ref(a, top, g, "y");
  EXPECT_EQ(problem_text([&] { (void)ops::add_data_edge(a, std::nullopt, ti, hf); }),
            "Port i: Port i of type int cannot be linked to port f of type float.");
  // Input of top to an output of another definition.
  EXPECT_EQ(problem_text([&] { (void)ops::add_data_edge(a, std::nullopt, ti, ho); }),
            "Port i: In port i cannot send data to out port ho.");
  EXPECT_EQ(problem_text([&] { (void)ops::add_data_edge(a, std::nullopt, rport(a, x, "o"), rport(a, y, "o")); }),
            "Port o: Out port o cannot send data to out port o.");
  EXPECT_EQ(problem_text([&] { (void)ops::add_data_edge(a, std::nullopt, rport(a, x, "a"), rport(a, y, "b")); }),
            "Port a: In port a cannot send data to in port b.");
  EXPECT_EQ(problem_text([&] { (void)ops::add_data_edge(a, std::nullopt, to, rport(a, y, "b")); }),
            "Port o: Out port o cannot send data to in port b.");
  // An inner reference feeds the definition's outputs, never its inputs: only its users feed those.
  EXPECT_EQ(problem_text([&] { (void)ops::add_data_edge(a, std::nullopt, rport(a, x, "o"), tc); }),
            "Port o: Out port o cannot send data to in port c.");
  EXPECT_EQ(problem_text([&] { (void)ops::add_data_edge(a, std::nullopt, rport(a, x, "a"), tc); }),
            "Port a: In port a cannot send data to in port c.");
  // A reference of another definition is not reachable from top's ports.
  const at::ref_id w = ref(a, h, g, "w");
  EXPECT_EQ(problem_text([&] { (void)ops::add_data_edge(a, std::nullopt, ti, rport(a, w, "a")); }),
            "Port i: In port i cannot send data to in port a.");
  // The four shapes.
  a = ops::add_data_edge(a, std::nullopt, ti, rport(a, x, "a"));
  a = ops::add_data_edge(a, std::nullopt, rport(a, x, "o"), rport(a, y, "a"));
  a = ops::add_data_edge(a, std::nullopt, rport(a, y, "o"), to);
  const at::def_id p = def(a, "p");
  const at::port_id pi = port(a, p, "i", direction::In);
  const at::port_id po = port(a, p, "o", direction::Out);
  a = ops::add_data_edge(a, std::nullopt, pi, po);
  EXPECT_EQ(at::retrieve_succ(a, at::Port{pi}, at::is_data), std::vector<at::graph_elt>{at::Port{po}});
}

TEST_F(Model, SingleSourceRuleWithConditionedAlternatives) {
  const at::def_id k = def(a, "k");
  const at::port_id ka = port(a, k, "a", direction::In);
  const at::port_id kb = port(a, k, "b", direction::In);
  const at::port_id kc = port(a, k, "c", direction::In);
  const at::port_id kk = port(a, k, "k", direction::In);
  const at::port_id ko = port(a, k, "o", direction::Out);
  at::algorithm u = ops::add_data_edge(a, std::nullopt, ka, ko);
  EXPECT_EQ(problem_text([&] { (void)ops::add_data_edge(u, std::nullopt, kb, ko); }),
            "Port o: Port o is already the destination of an unconditioned edge from port a.");
  EXPECT_EQ(problem_text([&] { (void)ops::add_data_edge(u, at::cond{kc, 1}, kb, ko); }),
            "Port o: Port o is already the destination of an unconditioned edge from port a.");

  at::algorithm c = ops::add_data_edge(a, at::cond{kc, 1}, ka, ko);
  c = ops::add_data_edge(c, at::cond{kc, 2}, kb, ko);
  EXPECT_EQ(problem_text([&] { (void)ops::add_data_edge(c, at::cond{kc, 1}, kk, ko); }),
            "Port o: Port o is already the destination of an edge conditioned by (c = 1) from port a.");
  EXPECT_EQ(problem_text([&] { (void)ops::add_data_edge(c, at::cond{kk, 3}, kk, ko); }),
            "Port o: Port o is already the destination of an edge conditioned by (c = 2) from port b.");
  EXPECT_EQ(problem_text([&] { (void)ops::add_data_edge(c, std::nullopt, kk, ko); }),
            "Port o: Port o is already the destination of an edge conditioned by (c = 2) from port b.");
  c = ops::add_data_edge(c, at::cond{kc, 3}, kk, ko);
  EXPECT_EQ(at::def_conditions(c, k), (std::vector<at::cond>{{kc, 1}, {kc, 2}, {kc, 3}}));
}

TEST_F(Model, EditsLeaveTheOldModelAlone) {
  const std::string before = algo_string::dbg_of_algo(a) + algo_string::dbg_of_deps(a);
  at::algorithm b = ops::add_port(a, std::nullopt, 0, "int", direction::In, "n", std::nullopt, std::nullopt, g);
  auto [r, c] = ops::add_ref(b, top, std::nullopt, std::nullopt, std::nullopt, 3, std::nullopt, g, true, std::nullopt, "r");
  c = ops::add_data_edge(c, std::nullopt, ti, rport(c, r, "n"));
  c = ops::modify_def(c, "gg", std::vector<std::string>{"p"}, g);
  EXPECT_EQ(algo_string::dbg_of_algo(a) + algo_string::dbg_of_deps(a), before);
  EXPECT_EQ(at::port_count(a, at::Def{g}, direction::In), 2U);
  EXPECT_EQ(at::get_port(b, ga).port_order, 1);
  EXPECT_EQ(at::get_port(a, ga).port_order, 0);

  const std::string after = algo_string::dbg_of_algo(c) + algo_string::dbg_of_deps(c);
  EXPECT_NE(problem_text([&] { (void)ops::add_data_edge(c, std::nullopt, tc, rport(c, r, "n")); }), "");
  EXPECT_NE(problem_text([&] { ref(c, top, g, "r"); }), "");
  EXPECT_NE(problem_text([&] { port(c, g, "n", direction::Out); }), "");
  EXPECT_EQ(algo_string::dbg_of_algo(c) + algo_string::dbg_of_deps(c), after);
}

TEST_F(Model, MovedInAlgorithmsBuildTheSameAndSurviveRefusals) {
  at::algorithm copy = a;
  auto [r1, b] = ops::add_ref(a, top, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, g, false,
                              std::nullopt, "r");
  b = ops::add_data_edge(b, std::nullopt, ti, rport(b, r1, "a"));
  auto [r2, c] = ops::add_ref(std::move(copy), top, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                              std::nullopt, g, false, std::nullopt, "r");
  const at::port_id ra = rport(c, r2, "a");
  c = ops::add_data_edge(std::move(c), std::nullopt, ti, ra);
  // Identifiers differ (the versions share their counters), the structure does not.
  EXPECT_NE(r1, r2);
  EXPECT_EQ(algo_string::dbg_of_deps(b).size(), algo_string::dbg_of_deps(c).size());
  EXPECT_EQ(at::get_data_pred_ref(c, r2), at::get_data_pred_ref(b, r1));
  EXPECT_EQ(at::retrieve_succ(c, at::Port{ti}, at::is_data), std::vector<at::graph_elt>{at::Port{ra}});

  // A refused edit leaves the moved-in value as it was.
  const std::string before = algo_string::dbg_of_algo(c) + algo_string::dbg_of_deps(c);
  EXPECT_NE(problem_text([&] { (void)ops::add_data_edge(std::move(c), std::nullopt, tc, ra); }), "");
  EXPECT_NE(problem_text([&] {
              (void)ops::add_ref(std::move(c), top, std::nullopt, std::nullopt, std::nullopt, std::nullopt, at::cond{tc, 1},
                                 g, false, std::nullopt, "s");
            }),
            "");
  EXPECT_NE(problem_text([&] {
              (void)ops::add_port(std::move(c), std::nullopt, std::nullopt, "int", direction::In, "i", std::nullopt,
                                  std::nullopt, top);
            }),
            "");
  EXPECT_EQ(algo_string::dbg_of_algo(c) + algo_string::dbg_of_deps(c), before);
  // So does one made in place, where an accepted one changes the value itself.
  EXPECT_NE(problem_text([&] { ops::add_data_edge_into(c, std::nullopt, tc, ra); }), "");
  EXPECT_NE(problem_text([&] {
              (void)ops::add_ref_into(c, top, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, g,
                                      false, std::nullopt, "r");
            }),
            "");
  EXPECT_EQ(algo_string::dbg_of_algo(c) + algo_string::dbg_of_deps(c), before);
  const at::ref_id r3 = ops::add_ref_into(c, top, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                          std::nullopt, g, false, std::nullopt, "r3");
  ops::add_data_edge_into(c, std::nullopt, tc, rport(c, r3, "a"));
  EXPECT_EQ(at::retrieve_succ(c, at::Port{tc}, at::is_data), std::vector<at::graph_elt>{at::Port{rport(c, r3, "a")}});
}

TEST_F(Model, ModifyDef) {
  EXPECT_EQ(problem_text([&] { (void)ops::modify_def(a, "top", std::nullopt, g); }),
            "Def g: Another definition \"top\" already exists.");
  a = ops::modify_def(a, "g", std::vector<std::string>{"n"}, g);  // its own name is no conflict
  a = ops::modify_def(a, "h", std::nullopt, g);
  EXPECT_EQ(at::lookup_def(a, base_types::simple_name{"h"}), g);
  EXPECT_THROW((void)at::lookup_def(a, base_types::simple_name{"g"}), env::Unbound_name);
  EXPECT_EQ(at::get_def(a, g).def_params, std::vector<std::string>{"n"});
  // The old name is free again.
  EXPECT_NE(def(a, "g"), g);
}

TEST_F(Model, ModifyRef) {
  const at::ref_id x = ref(a, top, g, "x");
  ref(a, top, g, "y");
  ops::ref_update u;
  u.name = "y";
  EXPECT_EQ(problem_text([&] { (void)ops::modify_ref(a, u, x); }), "Ref x: Another reference \"y\" already exists.");
  u.name = "x";  // its own name is no conflict
  a = ops::modify_ref(a, u, x);
  u.name = "z";
  u.period = 4;
  u.rep = at::sequence_decl{num(3), {}};
  a = ops::modify_ref(a, u, x);
  EXPECT_EQ(at::get_ref(a, x).ref_name, "z");
  EXPECT_EQ(at::get_ref(a, x).ref_period, 4);
  EXPECT_EQ(at::lookup_ref(a, base_types::simple_name{"top"}, "z"), x);
  EXPECT_EQ(failure_text([&] { (void)at::lookup_ref(a, base_types::simple_name{"top"}, "x"); }),
            "Reference x not found in definition top.");
  // The old name can be taken again.
  ref(a, top, g, "x");
}

TEST_F(Model, RemovalsCascade) {
  const at::ref_id x = ref(a, top, g, "x");
  const at::ref_id y = ref(a, top, g, "y");
  a = ops::add_data_edge(a, std::nullopt, rport(a, x, "o"), rport(a, y, "a"));
  a = ops::remove_port(a, go);
  EXPECT_FALSE(at::port_by_name(a, at::Ref{x}, "o"));
  EXPECT_EQ(at::ports(a, at::Ref{y}).size(), 2U);
  EXPECT_TRUE(at::get_data_pred_ref(a, y).empty());
  // The destination port lost its source: a new one may come.
  a = ops::add_data_edge(a, std::nullopt, ti, rport(a, y, "a"));

  a = ops::remove_ref(a, y);
  EXPECT_EQ(at::refs_under_def(a, top), std::vector<at::ref_id>{x});
  EXPECT_FALSE(at::mem_elt(a, at::Ref{y}));

  a = ops::remove_def(a, g);
  EXPECT_TRUE(at::refs_under_def(a, top).empty());
  EXPECT_EQ(at::defs(a), std::vector<at::def_id>{top});
  EXPECT_EQ(at::ports(a).size(), 3U);
  EXPECT_THROW((void)at::lookup_def(a, base_types::simple_name{"g"}), env::Unbound_name);
  // With g gone, top is free to take conditioned references.
  const at::def_id h = def(a, "g");
  ref(a, top, h, "r", at::cond{tc, 1});
}

// A removed port takes its links out of the counts of the mixing rule: the links are dropped while the
// port still knows its definition.
TEST_F(Model, RemovedPortsTakeTheirLinksOutOfTheMixingRule) {
  at::algorithm b = a;
  a = ops::add_data_edge(a, std::nullopt, ti, to);
  a = ops::remove_port(a, to);
  EXPECT_FALSE(at::exist_unconditioned_links_between_def_ports(a, top));
  EXPECT_FALSE(at::has_unconditioned_contents(a, top));
  ref(a, top, g, "v", at::cond{tc, 1});

  b = ops::add_data_edge(b, at::cond{tc, 2}, ti, to);
  b = ops::remove_port(b, ti);
  EXPECT_FALSE(at::is_conditioned_def(b, top));
  EXPECT_TRUE(at::def_conditions(b, top).empty());
  ref(b, top, g, "u");
}

// The loader stands in for reading the module file: it adds f and h, which become Lib.f and Lib.h.
TEST_F(Model, RemovedModuleDefinitionsLoseTheirQualifiedName) {
  const at::module_loader loader = [](const std::vector<std::string>&, const std::string&, const at::algorithm& b) {
    at::algorithm m = b;
    const at::def_id f = def(m, "f");
    port(m, f, "i", direction::In);
    def(m, "h");
    return m;
  };
  const std::vector<std::string> dirs{std::string(CVN_TEST_DATA) + "/algo/data/modules/second"};
  auto [f, b] = at::load_lookup_def(a, dirs, loader, base_types::qualified_name{"Lib", "f"});
  const at::def_id h = at::lookup_def(b, base_types::qualified_name{"Lib", "h"});
  ref(b, top, f, "u");
  b = ops::remove_def(b, f);
  EXPECT_THROW((void)at::lookup_def(b, base_types::qualified_name{"Lib", "f"}), env::Unbound_name);
  EXPECT_EQ(at::lookup_def(b, base_types::qualified_name{"Lib", "h"}), h);
  EXPECT_EQ(at::lookup_def(b, base_types::simple_name{"g"}), g);
  EXPECT_TRUE(at::refs_under_def(b, top).empty());
}

TEST_F(Model, PrecedenceEdgesCanBeRemoved) {
  const at::ref_id x = ref(a, top, g, "x");
  const at::ref_id y = ref(a, top, g, "y");
  a = ops::add_precedence_edge(a, x, y);
  EXPECT_NE(problem_text([&] { (void)ops::add_precedence_edge(a, y, x); }), "");
  a = ops::remove_precedence_edge(a, x, y);
  a = ops::add_precedence_edge(a, y, x);
  EXPECT_EQ(at::get_pred_ref(a, x), std::vector<at::ref_id>{y});
}

}  // namespace
}  // namespace cvn::algo_test
