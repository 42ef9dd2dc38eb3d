#include "algo/algo_types.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

#include "algo_test_util.h"

namespace cvn::algo_test {
namespace {

using at::direction;
using base_types::qualified_name;
using base_types::simple_name;

TEST(AlgoTypes, ExpressionsShareTheirNodes) {
  const loc::location here{{"e.alg", 1, 0, 3}, {"e.alg", 1, 0, 8}};
  const at::expr n = at::make_expr(here, at::Ident{"n"});
  at::expr sum = at::make_expr(here, at::Plus{n, at::make_expr(loc::none, at::Int{1})});
  {
    const at::expr copy = sum;  // NOLINT: the copy is the point
    EXPECT_EQ(copy.node(), sum.node());
  }
  const at::expr moved = std::move(sum);
  EXPECT_EQ(moved.where(), here);
  const at::expr elsewhere = at::relocate(moved, loc::none);
  EXPECT_NE(elsewhere.node(), moved.node());
  EXPECT_EQ(elsewhere.where(), loc::none);
  const auto& left = std::get<at::Plus>(at::desc_of(elsewhere)).left;
  EXPECT_EQ(left.node(), n.node()) << "relocating shares the operands";
  EXPECT_EQ(std::get<at::Ident>(at::desc_of(left)).name, "n");
}

TEST(AlgoTypes, ExpressionsKeepEveryLocationWhole) {
  // A node packs a location within one line; the others (several lines, a far column, two files, a start
  // before its line, the lexers' null position at one end only) must come back unchanged as well.
  const std::vector<loc::location> wheres{
      {{"e.alg", 7, 100, 104}, {"e.alg", 7, 100, 110}},
      {{"e.alg", 7, 100, 100}, {"e.alg", 7, 100, 100}},
      {{"e.alg", 7, 100, 100 + 65535}, {"e.alg", 7, 100, 100 + 65540}},
      {{"e.alg", 7, 100, 100 + 65536}, {"e.alg", 7, 100, 100 + 65540}},
      {{"e.alg", 7, 100, 104}, {"e.alg", 9, 150, 152}},
      {{"e.alg", 7, 100, 104}, {"f.alg", 7, 100, 110}},
      {{"e.alg", 7, 100, 99}, {"e.alg", 7, 100, 110}},
      {loc::dummy_pos, {"e.alg", 7, 100, 110}},
      {{"", 1, 0, 0}, {"", 1, 0, 2}},
      loc::none,
  };
  for (const loc::location& w : wheres) {
    const at::expr e = at::make_expr(w, at::Ident{"a_rather_long_identifier_on_the_heap"});
    EXPECT_EQ(e.where(), w) << loc::string_of_loc(w);
    EXPECT_EQ(at::relocate(e, loc::none).where(), loc::none);
    EXPECT_EQ(std::get<at::Ident>(at::desc_of(at::relocate(e, w))).name, "a_rather_long_identifier_on_the_heap");
  }
}

TEST(AlgoTypes, EmptyAlgorithm) {
  const at::algorithm a = at::create();
  EXPECT_TRUE(at::defs(a).empty());
  EXPECT_TRUE(at::get_graph_elts(a).empty());
  EXPECT_THROW((void)at::elt_id_of_elt(a, at::Def{at::def_id{1}}), Not_found);
  EXPECT_THROW((void)at::lookup_def(a, simple_name{"f"}), env::Unbound_name);
  EXPECT_THROW((void)at::lookup_def(a, qualified_name{"M", "f"}), env::Unbound_module);
}

TEST(AlgoTypes, PrimitivesRecordElementsAndTheirEdges) {
  at::algorithm a = at::create();
  auto [d, a1] = at::add_definition(a, std::nullopt, std::vector<std::string>{"n"}, at::definition_kind::Sensor, "s");
  auto [p, a2] = at::add_port(a1, std::nullopt, 0, "int", direction::Out, "o", std::nullopt, std::nullopt, at::Def{d});
  auto [r, a3] = at::add_reference(a2, std::nullopt, std::nullopt, std::nullopt, 2, d, false, std::nullopt, "r");
  EXPECT_EQ(at::get_def(a3, d).def_comment, "");
  EXPECT_EQ(at::get_def(a3, d).def_params, std::vector<std::string>{"n"});
  EXPECT_EQ(at::get_graph_elt(a3, at::elt_id_of_elt(a3, at::Port{p})), at::graph_elt{at::Port{p}});
  EXPECT_EQ(at::get_succs(a3, at::Def{d}).size(), 1U);
  EXPECT_EQ(at::get_preds(a3, at::Def{d}), (at::elt_edges{{at::Ref{r}, at::Reference{}}}));
  EXPECT_EQ(at::referencers(a3, d), std::vector<at::ref_id>{r});
  // The reference is nowhere contained yet.
  EXPECT_EQ(failure_text([&] { (void)at::ref_container(a3, r); }), "Reference r has no container.");
  EXPECT_FALSE(at::container(a3, at::Ref{r}));
  // A second container is caught.
  auto [e, a4] = at::add_definition(a3, std::nullopt, std::nullopt, at::definition_kind::Function, "e");
  const at::algorithm a5 = at::add_edge(a4, at::Def{e}, at::Port{p}, at::Contain{});
  EXPECT_EQ(failure_text([&] { (void)at::port_container(a5, p); }), "Port o has more than one container.");
  // remove_edge takes the index back with the edge.
  const at::algorithm a6 = at::remove_edge(a5, at::Def{e}, at::Port{p}, at::is_contain);
  EXPECT_EQ(at::port_container(a6, p), at::graph_elt{at::Def{d}});
  EXPECT_TRUE(at::ports(a6, at::graph_elt{at::Def{e}}).empty());
  // The older versions are as they were.
  EXPECT_TRUE(at::refs(a2).empty());
  EXPECT_EQ(at::get_graph_elts(a3).size(), 3U);
}

TEST(AlgoTypes, ReferencedPortMessages) {
  at::algorithm a = at::create();
  const at::def_id g = def(a, "g");
  const at::port_id gi = port(a, g, "i", direction::In);
  const at::port_id gj = port(a, g, "j", direction::In);
  EXPECT_EQ(problem_text([&] { (void)at::referenced_port(a, gi); }), "Port i: Port i does not reference any port.");
  const at::def_id top = def(a, "top");
  const at::ref_id r = ref(a, top, g, "r");
  const at::port_id ri = rport(a, r, "i");
  EXPECT_EQ(at::referenced_port(a, ri), gi);
  a = at::add_edge(a, at::Port{ri}, at::Port{gj}, at::Reference{});
  EXPECT_EQ(problem_text([&] { (void)at::referenced_port(a, ri); }),
            "Port i: Port i does not reference a port or references more than one port.");
}

TEST(AlgoTypes, PortsAndElementsOfADefinition) {
  at::algorithm a = at::create();
  const at::def_id g = def(a, "g");
  const at::port_id o1 = port(a, g, "o1", direction::Out);
  const at::port_id i1 = port(a, g, "i1", direction::In);
  const at::port_id o0 = port(a, g, "o0", direction::Out, "int", 0);
  EXPECT_EQ(at::ports(a, at::graph_elt{at::Def{g}}, direction::Out), (std::vector<at::port_id>{o1, o0}));
  EXPECT_EQ(at::ports_by_order(a, at::Def{g}, direction::Out), (std::vector<at::port_id>{o0, o1}));
  EXPECT_EQ(at::ports(a, std::nullopt, direction::In), std::vector<at::port_id>{i1});
  EXPECT_EQ(at::port_by_name(a, at::Def{g}, "i1"), i1);
  EXPECT_FALSE(at::port_by_name(a, at::Def{g}, "zz"));

  const at::def_id top = def(a, "top");
  const at::port_id c = port(a, top, "c", direction::In);
  const at::ref_id r1 = ref(a, top, g, "r1", at::cond{c, 1});
  const at::ref_id r2 = ref(a, top, g, "r2", at::cond{c, 2});
  const at::ref_id r3 = ref(a, top, g, "r3", at::cond{c, 1});
  EXPECT_EQ(at::def_elts(a, top).second, (std::vector<at::ref_id>{r1, r2, r3}));
  EXPECT_EQ(at::def_elts(a, top, std::optional<at::cond>(at::cond{c, 1})).second, (std::vector<at::ref_id>{r1, r3}));
  EXPECT_TRUE(at::def_elts(a, top, std::optional<at::cond>()).second.empty());
  EXPECT_EQ(at::def_elts(a, top).first, std::vector<at::port_id>{c});
  EXPECT_EQ(at::ref_cond(a, r2), (at::cond{c, 2}));
  EXPECT_EQ(at::def_conditions(a, top), (std::vector<at::cond>{{c, 1}, {c, 2}}));
  EXPECT_EQ(at::defs_under_def(a, top), std::vector<at::def_id>{g});
}

TEST(AlgoTypes, Lookups) {
  at::algorithm a = at::create();
  const at::def_id g = def(a, "g");
  const at::port_id gi = port(a, g, "i", direction::In);
  const at::def_id top = def(a, "top");
  const at::ref_id r = ref(a, top, g, "r");
  const simple_name t{"top"};
  EXPECT_EQ(at::lookup_def(a, simple_name{"g"}), g);
  EXPECT_EQ(at::lookup_ref(a, t, "r"), r);
  EXPECT_EQ(at::lookup_port(a, simple_name{"g"}, std::nullopt, "i"), gi);
  EXPECT_EQ(at::lookup_port(a, t, std::string("r"), "i"), rport(a, r, "i"));
  EXPECT_EQ(failure_text([&] { (void)at::lookup_ref(a, t, "x"); }), "Reference x not found in definition top.");
  EXPECT_EQ(failure_text([&] { (void)at::lookup_ref(a, t, "r", std::optional<at::cond>(at::cond{gi, 1})); }),
            "Reference r not found in definition top.");
  EXPECT_EQ(failure_text([&] { (void)at::lookup_port(a, t, std::nullopt, "i"); }), "Port i not found in definition top.");
  EXPECT_EQ(failure_text([&] { (void)at::lookup_port(a, t, std::string("r"), "z"); }),
            "Port z not found in reference r of definition top.");
}

// A container's name index is made once it holds more than a few elements; lookups answer the same
// (first added wins, direction filter, conditions) on either side of that point, and in older versions.
TEST(AlgoTypes, NameLookupsAcrossTheIndexThreshold) {
  at::algorithm a = at::create();
  const at::def_id g = at::add_definition_into(a, std::nullopt, std::nullopt, at::definition_kind::Function, "g");
  const auto add = [&](const std::string& name, direction dir) {
    return at::add_port_into(a, std::nullopt, 0, "int", dir, name, std::nullopt, std::nullopt, at::Def{g});
  };
  const at::port_id x_out = add("x", direction::Out);
  const at::port_id x_in = add("x", direction::In);
  std::vector<at::port_id> more;
  for (int k = 0; k < 4; ++k) more.push_back(add("p" + std::to_string(k), direction::In));
  const at::algorithm few = a;  // six ports: no index yet
  for (int k = 4; k < 20; ++k) more.push_back(add("p" + std::to_string(k), direction::In));
  const at::port_id x_late = add("x", direction::In);
  for (const at::algorithm* v : std::vector<const at::algorithm*>{&few, &a}) {
    EXPECT_EQ(at::port_by_name(*v, at::Def{g}, "x"), x_out);
    EXPECT_EQ(at::port_by_name_dir(*v, at::Def{g}, "x", direction::In), x_in);
    EXPECT_EQ(at::port_by_name(*v, at::Def{g}, "p3"), more[3]);
  }
  EXPECT_FALSE(at::port_by_name(few, at::Def{g}, "p19"));
  EXPECT_EQ(at::port_by_name(a, at::Def{g}, "p19"), more[19]);
  // Removing ports updates the index; the version before keeps its answers.
  const at::algorithm cut = at::remove(at::remove(a, at::Port{x_out}), at::Port{x_in});
  EXPECT_EQ(at::port_by_name(cut, at::Def{g}, "x"), x_late);
  EXPECT_EQ(at::port_by_name_dir(cut, at::Def{g}, "x", direction::Out), std::nullopt);
  EXPECT_EQ(at::port_by_name(a, at::Def{g}, "x"), x_out);
  EXPECT_EQ(at::ports(cut, at::graph_elt{at::Def{g}}).size(), 21U);

  // References: same names under different conditions, below and above the threshold.
  const at::def_id top = at::add_definition_into(a, std::nullopt, std::nullopt, at::definition_kind::Function, "top");
  const at::port_id c = at::add_port_into(a, std::nullopt, 0, "int", direction::In, "c", std::nullopt, std::nullopt,
                                          at::Def{top});
  const auto add_ref = [&](const std::string& name, std::optional<at::cond> under) {
    const at::ref_id r = at::add_reference_into(a, std::nullopt, std::nullopt, std::nullopt, std::nullopt, g, false,
                                                std::nullopt, name);
    at::add_edge_into(a, at::Def{top}, at::Ref{r}, at::Contain{under});
    return r;
  };
  const at::ref_id r2 = add_ref("r", at::cond{c, 2});
  const at::ref_id r1 = add_ref("r", at::cond{c, 1});
  const simple_name t{"top"};
  const auto check = [&](const at::algorithm& v) {
    EXPECT_EQ(at::lookup_ref(v, t, "r"), r2);
    EXPECT_EQ(at::lookup_ref(v, t, "r", std::optional<at::cond>(at::cond{c, 1})), r1);
    EXPECT_EQ(at::refs_by_name(v, at::Def{top}, "r"), (std::vector<at::ref_id>{r2, r1}));
    EXPECT_TRUE(at::refs_by_name(v, at::Def{top}, "r", std::optional<at::cond>()).empty());
  };
  check(a);
  const at::algorithm two = a;
  std::vector<at::ref_id> others;
  for (int k = 0; k < 12; ++k) others.push_back(add_ref("q" + std::to_string(k), std::nullopt));
  check(a);
  const std::string long_name(40, 'x');
  const at::ref_id long1 = add_ref(long_name + "1", std::nullopt);
  const at::ref_id long2 = add_ref(long_name + "2", std::nullopt);
  // Names that share prefixes, of several lengths, short and long, each found apart.
  for (int k = 0; k < 12; ++k) EXPECT_EQ(at::lookup_ref(a, t, "q" + std::to_string(k)), others[k]);
  EXPECT_EQ(at::lookup_ref(a, t, long_name + "2"), long2);
  EXPECT_EQ(at::lookup_ref(a, t, long_name + "1"), long1);
  EXPECT_TRUE(at::refs_by_name(a, at::Def{top}, long_name).empty());
  // A rename moves the reference in the index of this version only.
  at::ref_changes to_r;
  to_r.name = "r";
  const at::algorithm renamed = at::modify_ref(a, to_r, others[0]);
  EXPECT_EQ(at::refs_by_name(renamed, at::Def{top}, "r"), (std::vector<at::ref_id>{r2, r1, others[0]}));
  EXPECT_EQ(at::lookup_ref(renamed, t, "r", std::optional<at::cond>()), others[0]);
  EXPECT_TRUE(at::refs_by_name(renamed, at::Def{top}, "q0").empty());
  EXPECT_EQ(at::lookup_ref(a, t, "q0"), others[0]);
  check(a);
  check(two);
  EXPECT_TRUE(at::refs_by_name(two, at::Def{top}, "q0").empty());
}

// The checked edits read the name index: a refused edit leaves the algorithm as it was, and a later one
// still sees every name.
TEST(AlgoTypes, RefusedEditsLeaveTheNameIndexUnchanged) {
  at::algorithm a = at::create();
  const at::def_id g = def(a, "g");
  const at::def_id top = def(a, "top");
  std::vector<at::ref_id> rs;
  for (int k = 0; k < 12; ++k) rs.push_back(ref(a, top, g, "r" + std::to_string(k)));
  const at::algorithm before = a;
  const auto rename = [](const std::string& name) {
    ops::ref_update u;
    u.name = name;
    return u;
  };
  EXPECT_EQ(problem_text([&] { (void)ref(a, top, g, "r5"); }),
            "Def top: A reference named r5 already exist in definition top.");
  EXPECT_EQ(problem_text([&] {
              (void)ops::modify_ref(a, rename("r7"), rs[2]);
            }),
            "Ref r2: Another reference \"r7\" already exists.");
  EXPECT_EQ(at::refs(a), at::refs(before));
  for (int k = 0; k < 12; ++k) EXPECT_EQ(at::lookup_ref(a, simple_name{"top"}, "r" + std::to_string(k)), rs[k]);
  const at::algorithm moved = ops::modify_ref(a, rename("r12"), rs[2]);
  EXPECT_EQ(at::lookup_ref(moved, simple_name{"top"}, "r12"), rs[2]);
  EXPECT_EQ(failure_text([&] { (void)at::lookup_ref(moved, simple_name{"top"}, "r2"); }),
            "Reference r2 not found in definition top.");
  EXPECT_EQ(at::lookup_ref(a, simple_name{"top"}, "r2"), rs[2]);
}

// Further containers and conditions of an element are kept apart from the first, and copies do not share
// them.
TEST(AlgoTypes, ContainerListsKeepEveryContainerAndCondition) {
  const at::cond c1{at::port_id{3}, 1};
  at::container_list l;
  EXPECT_TRUE(l.empty());
  l.add({at::Def{at::def_id{7}}, std::nullopt});
  l.add({at::Ref{at::ref_id{9}}, c1});
  l.add({at::Port{at::port_id{4}}, std::nullopt});
  const at::container_list copy = l;
  l.remove({at::Def{at::def_id{7}}, std::nullopt});
  EXPECT_EQ(l.front(), (at::container_list::entry{at::Ref{at::ref_id{9}}, c1}));
  EXPECT_EQ(l.size(), 2U);
  l.remove({at::Port{at::port_id{4}}, std::nullopt});
  l.remove({at::Ref{at::ref_id{9}}, std::nullopt});  // not there: the condition differs
  EXPECT_EQ(l.to_vector(), (std::vector<at::container_list::entry>{{at::Ref{at::ref_id{9}}, c1}}));
  l.remove({at::Ref{at::ref_id{9}}, c1});
  EXPECT_TRUE(l.empty());
  EXPECT_EQ(l.front_cond(), std::nullopt);
  EXPECT_EQ(copy.to_vector(), (std::vector<at::container_list::entry>{{at::Def{at::def_id{7}}, std::nullopt},
                                                                     {at::Ref{at::ref_id{9}}, c1},
                                                                     {at::Port{at::port_id{4}}, std::nullopt}}));
}

// A container holds its first few ports in place and the rest of what it holds in a part that copies
// share: editing one copy, before or after the ports move out of place, leaves the others as they were.
TEST(AlgoTypes, ReferenceConditionsKeepEveryVersionAcrossTheMoveToTheTrie) {
  using at::ref_conds;
  using at::ref_id;
  const auto listed = [](const ref_conds& m) {
    std::vector<std::pair<std::int64_t, std::int64_t>> out;  // (reference, condition value or -1)
    m.for_each([&](ref_id r, const ref_conds::value& c) { out.emplace_back(r.value, c ? c->value : -1); });
    return out;
  };
  // Identifiers past the small tree's limit, added out of order, some with a condition.
  std::vector<ref_conds> versions{ref_conds{}};
  std::map<std::int64_t, std::int64_t> model;
  std::vector<std::map<std::int64_t, std::int64_t>> models{model};
  for (std::int64_t k = 0; k < 40; ++k) {
    const std::int64_t r = (k * 7) % 40 + 1;
    const ref_conds::value c = r % 3 == 0 ? ref_conds::value(at::cond{at::port_id{1}, r}) : std::nullopt;
    versions.push_back(ref_conds(versions.back()).add(ref_id{r}, c));
    model[r] = c ? c->value : -1;
    models.push_back(model);
  }
  // Back below the limit, and up again from the trie.
  for (std::int64_t r = 1; r <= 36; ++r) {
    versions.push_back(ref_conds(versions.back()).remove(ref_id{r}));
    model.erase(r);
    models.push_back(model);
  }
  versions.push_back(ref_conds(versions.back()).add(ref_id{2}, std::nullopt));
  model[2] = -1;
  models.push_back(model);
  for (std::size_t v = 0; v < versions.size(); ++v) {
    const std::vector<std::pair<std::int64_t, std::int64_t>> want(models[v].begin(), models[v].end());
    ASSERT_EQ(listed(versions[v]), want) << "version " << v;
    ASSERT_EQ(versions[v].size(), want.size());
    for (const auto& [r, c] : want) {
      const ref_conds::value& got = versions[v].get(ref_id{r});
      EXPECT_EQ(got ? got->value : -1, c);
    }
  }
  EXPECT_THROW((void)versions.back().get(ref_id{99}), Not_found);
}

TEST(AlgoTypes, ContentsCopiesStayApart) {
  const auto listed = [](const at::contents& x) {
    std::vector<std::int64_t> out;
    x.for_each_port([&](at::port_id p) { out.push_back(p.value); });
    EXPECT_EQ(x.port_total(), out.size());
    return out;
  };
  // Each port is named after its identifier.
  const auto add = [](at::contents& c, std::int64_t p) { c.add_port(at::port_id{p}, "p" + std::to_string(p)); };
  // The ports that a lookup by name would read, in order.
  const auto maybe = [](const at::contents& c, const std::string& name) {
    std::vector<std::int64_t> out;
    (void)c.for_each_port_maybe_named_until(name, [&](at::port_id p) {
      out.push_back(p.value);
      return false;
    });
    return out;
  };
  at::contents x;
  for (std::int64_t p : {5, 3, 9, 3}) add(x, p);
  EXPECT_EQ(listed(x), (std::vector<std::int64_t>{3, 5, 9}));
  // In place, a lookup reads only the ports whose name may match ("p3" and "p5" are told apart), and some
  // other name always leads to the port of "p3" too: a byte cannot tell every name apart.
  EXPECT_EQ(maybe(x, "p5"), std::vector<std::int64_t>{5});
  EXPECT_EQ(maybe(x, "p3"), std::vector<std::int64_t>{3});
  std::string other;
  for (char c = '0'; c <= 'z' && other.empty(); ++c)
    for (char d = '0'; d <= 'z' && other.empty(); ++d)
      if (std::string{c, d} != "p3" && maybe(x, std::string{c, d}) == std::vector<std::int64_t>{3}) other = {c, d};
  ASSERT_FALSE(other.empty());
  {
    // Such names stay apart in a model: the record decides.
    at::algorithm m = at::create();
    const at::def_id d = def(m, "d");
    const at::port_id p3 = port(m, d, "p3", direction::In);
    const at::port_id po = port(m, d, other, direction::In);
    EXPECT_EQ(at::port_by_name(m, at::Def{d}, "p3"), p3);
    EXPECT_EQ(at::port_by_name(m, at::Def{d}, other), po);
  }
  EXPECT_EQ(maybe(x, "nothing"), std::vector<std::int64_t>{});
  const at::contents few = x;
  add(x, 1);
  add(x, 7);
  EXPECT_EQ(maybe(x, "p7"), std::vector<std::int64_t>{7});
  add(x, 11);  // one more than the places: every port is read from then on
  EXPECT_EQ(maybe(x, "p7"), (std::vector<std::int64_t>{1, 3, 5, 7, 9, 11}));
  x.own().cond_refs = 1;
  EXPECT_EQ(listed(x), (std::vector<std::int64_t>{1, 3, 5, 7, 9, 11}));
  EXPECT_EQ(listed(few), (std::vector<std::int64_t>{3, 5, 9}));
  EXPECT_EQ(few.more().cond_refs, 0U);
  at::contents cut = x;
  cut.remove_port(at::port_id{5});
  cut.own().cond_refs = 2;
  EXPECT_EQ(maybe(few, "p9"), std::vector<std::int64_t>{9});
  EXPECT_EQ(listed(cut), (std::vector<std::int64_t>{1, 3, 7, 9, 11}));
  EXPECT_EQ(listed(x), (std::vector<std::int64_t>{1, 3, 5, 7, 9, 11}));
  EXPECT_EQ(x.more().cond_refs, 1U);
  for (std::int64_t p : {1, 3, 7, 9, 11}) cut.remove_port(at::port_id{p});
  EXPECT_EQ(listed(cut), std::vector<std::int64_t>{});
  // Identifiers too large for a place go out of place at once.
  const std::int64_t big = std::int64_t{1} << 40;
  at::contents wide = few;
  add(wide, big);
  add(wide, 4);
  EXPECT_EQ(listed(wide), (std::vector<std::int64_t>{3, 4, 5, 9, big}));
  // The last identifier held in place, and the first that is not.
  at::contents edge;
  add(edge, (std::int64_t{1} << 24) - 2);
  EXPECT_EQ(maybe(edge, "p" + std::to_string((std::int64_t{1} << 24) - 2)),
            std::vector<std::int64_t>{(std::int64_t{1} << 24) - 2});
  add(edge, 2);
  EXPECT_EQ(listed(edge), (std::vector<std::int64_t>{2, (std::int64_t{1} << 24) - 2}));
  EXPECT_EQ(maybe(edge, "p2"), std::vector<std::int64_t>{2});
  add(edge, (std::int64_t{1} << 24) - 1);
  EXPECT_EQ(listed(edge), (std::vector<std::int64_t>{2, (std::int64_t{1} << 24) - 2, (std::int64_t{1} << 24) - 1}));
  wide.remove_port(at::port_id{big});
  EXPECT_EQ(listed(wide), (std::vector<std::int64_t>{3, 4, 5, 9}));
  EXPECT_EQ(listed(few), (std::vector<std::int64_t>{3, 5, 9}));

  // In a model: a reference to a definition with more ports than the places, edited in a later version.
  at::algorithm a = at::create();
  const at::def_id g = def(a, "g");
  for (int k = 0; k < 6; ++k) (void)port(a, g, "p" + std::to_string(k), k % 2 == 0 ? direction::In : direction::Out);
  const at::def_id top = def(a, "top");
  const at::ref_id r = ref(a, top, g, "r");
  const at::port_id p4 = rport(a, r, "p4");
  const at::algorithm before = a;
  a = at::remove(a, at::Port{p4});
  EXPECT_EQ(at::port_count(a, at::Ref{r}, direction::In), 2U);
  EXPECT_FALSE(at::port_by_name(a, at::Ref{r}, "p4"));
  EXPECT_EQ(at::ports(a, at::graph_elt{at::Ref{r}}).size(), 5U);
  EXPECT_EQ(at::port_count(before, at::Ref{r}, direction::In), 3U);
  EXPECT_EQ(rport(before, r, "p4"), p4);
  EXPECT_EQ(at::ports(before, at::graph_elt{at::Ref{r}}).size(), 6U);
}

TEST(AlgoTypes, PortCountsPastWhatTheirPlacesHold) {
  // The counts in place have 16 bits; past that they move to the shared part, and copies stay apart.
  at::contents x;
  for (int k = 0; k < 70000; ++k) x.count_port(true, 1);
  x.count_port(false, 1);
  const at::contents many = x;
  for (int k = 0; k < 69990; ++k) x.count_port(true, -1);
  EXPECT_EQ(x.port_count(true), 10U);
  EXPECT_EQ(x.port_count(false), 1U);
  EXPECT_EQ(many.port_count(true), 70000U);
  for (int k = 0; k < 20; ++k) x.count_port(true, -1);
  EXPECT_EQ(x.port_count(true), 0U) << "no count below zero";
  EXPECT_EQ(many.port_count(true), 70000U);
}

TEST(AlgoTypes, DataSourcesNewestFirstInPlaceOrShared) {
  using sources = at::data_sources;
  const auto listed = [](const sources& x) {
    std::vector<std::pair<std::int64_t, std::int64_t>> out;  // (source, condition value or -1)
    x.for_each([&](at::port_id p, const std::optional<at::cond>& c) { out.emplace_back(p.value, c ? c->value : -1); });
    return out;
  };
  using list = std::vector<std::pair<std::int64_t, std::int64_t>>;
  const at::cond c0{at::port_id{9}, 0}, c1{at::port_id{9}, 1};
  sources x;
  EXPECT_TRUE(x.empty());
  x.add({at::port_id{4}, std::nullopt});
  const sources one = x;
  x.add({at::port_id{5}, c0});
  x.add({at::port_id{6}, c1});
  const sources three = x;
  EXPECT_EQ(listed(x), (list{{6, 1}, {5, 0}, {4, -1}}));
  x.remove({at::port_id{5}, c1});  // not there: the condition differs
  EXPECT_EQ(listed(x), (list{{6, 1}, {5, 0}, {4, -1}}));
  x.remove({at::port_id{6}, c1});
  x.remove({at::port_id{5}, c0});
  EXPECT_EQ(listed(x), (list{{4, -1}}));
  x.remove({at::port_id{4}, std::nullopt});
  EXPECT_TRUE(x.empty());
  EXPECT_EQ(listed(one), (list{{4, -1}}));
  EXPECT_EQ(listed(three), (list{{6, 1}, {5, 0}, {4, -1}})) << "copies stay apart";
  // A lone conditioned source, and identifiers too large for the word, take a list.
  sources y;
  y.add({at::port_id{7}, c0});
  EXPECT_EQ(listed(y), (list{{7, 0}}));
  sources z;
  const std::int64_t big = std::int64_t{1} << 62;
  z.add({at::port_id{big}, std::nullopt});
  EXPECT_EQ(listed(z), (list{{big, -1}}));
}

// Lists and indexed sources against a plain list, through random additions and removals that cross the
// size where a list gives way to an index both ways; every version kept must stay as it was.
TEST(AlgoTypes, DataSourcesAgainstAPlainList) {
  using sources = at::data_sources;
  using plain = std::vector<sources::entry>;  // newest first
  const auto listed = [](const sources& x) {
    plain out;
    x.for_each([&](at::port_id p, const std::optional<at::cond>& c) { out.emplace_back(p, c); });
    return out;
  };
  const auto clash = [](const plain& x, const std::optional<at::cond>& c) -> std::optional<sources::entry> {
    for (const auto& e : x)
      if (!(c && e.second && c->port == e.second->port && c->value != e.second->value)) return e;
    return std::nullopt;
  };
  std::mt19937 rng(11);
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const auto random_cond = [&]() -> std::optional<at::cond> {
    if (pick(6) == 0) return std::nullopt;
    return at::cond{at::port_id{pick(8) == 0 ? 41 : 40}, pick(30)};
  };
  for (int round = 0; round < 40; ++round) {
    sources x;
    plain model;
    std::vector<std::pair<sources, plain>> kept;
    for (int step = 0; step < 120; ++step) {
      if (!model.empty() && pick(4) < (step < 60 ? 1 : 3)) {  // grow, then shrink
        // Mostly an existing source, sometimes one that is not there.
        sources::entry e = model[static_cast<std::size_t>(pick(static_cast<int>(model.size())))];
        if (pick(5) == 0) e.first = at::port_id{e.first.value + 100};
        x.remove(e);
        const auto it = std::find(model.begin(), model.end(), e);
        if (it != model.end()) model.erase(it);
      } else {
        const sources::entry e{at::port_id{1 + pick(12)}, random_cond()};
        x.add(e);
        model.insert(model.begin(), e);
      }
      ASSERT_EQ(listed(x), model) << "round " << round << ", step " << step;
      ASSERT_EQ(x.empty(), model.empty());
      for (int probe = 0; probe < 3; ++probe) {
        const std::optional<at::cond> c = random_cond();
        ASSERT_EQ(x.newest_clash(c), clash(model, c)) << "round " << round << ", step " << step;
      }
      if (pick(4) == 0) kept.emplace_back(x, model);
    }
    for (const auto& [version, expected] : kept) EXPECT_EQ(listed(version), expected) << "round " << round;
  }
}

TEST(AlgoTypes, SortDefsByDep) {
  at::algorithm a = at::create();
  const at::def_id d1 = def(a, "d1");
  const at::def_id d2 = def(a, "d2");
  EXPECT_EQ(at::sort_defs_by_dep(a, {d1, d2}), (std::vector<at::def_id>{d1, d2}));
  const at::def_id d3 = def(a, "d3");
  const at::def_id d4 = def(a, "d4");
  const at::def_id d5 = def(a, "d5");
  ref(a, d3, d5, "x");
  EXPECT_EQ(at::sort_defs_by_dep(a, {d3, d5}), (std::vector<at::def_id>{d5, d3}));
  // d1 uses d3 (twice) and d4; d3 uses d5. Among the roots the greatest comes last after reversal.
  ref(a, d1, d3, "y");
  ref(a, d1, d3, "z");
  ref(a, d1, d4, "w");
  const std::vector<at::def_id> all{d1, d2, d3, d4, d5};
  EXPECT_EQ(at::sort_defs_by_dep(a, all), (std::vector<at::def_id>{d5, d3, d4, d1, d2}));
  // Instantiated definitions outside the list are not added.
  EXPECT_EQ(at::sort_defs_by_dep(a, {d1}), std::vector<at::def_id>{d1});
  // Definitions on a cycle of instantiations are left out.
  ref(a, d5, d1, "back");
  EXPECT_EQ(at::sort_defs_by_dep(a, all), std::vector<at::def_id>{d2});
}

// The order against the graph's own order by predecessors, reversed and cut to the definitions asked for,
// on random instantiations (repeated ones, cycles, definitions used but not asked for).
TEST(AlgoTypes, SortDefsByDepFollowsTheGraphsOrderOnRandomModels) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    at::algorithm a = at::create();
    std::vector<at::def_id> ds;
    const int n = 5 + round * 3;
    for (int i = 0; i < n; ++i) ds.push_back(def(a, "d" + std::to_string(i)));
    const int refs = round % 4 == 0 ? n * 3 : n;  // the denser ones are mostly cyclic
    for (int k = 0; k < refs; ++k) {
      const at::def_id in = ds[rng() % ds.size()], of = ds[rng() % ds.size()];
      // Earlier definitions use later ones, but for the dense rounds, so that most rounds stay acyclic.
      if (in == of || (round % 4 != 0 && !(in < of))) continue;
      ref(a, in, of, "r" + std::to_string(k));
    }
    std::vector<at::def_id> asked;
    for (at::def_id d : ds)
      if (rng() % 4 != 0) asked.push_back(d);
    using dep_graph = graph::Make_with_map<at::def_id, int>;
    dep_graph g = dep_graph::create();
    for (at::def_id d : asked) {
      g = std::move(g).add(d, d, 0);
      g = std::move(g).rem_all(d, d);
      for (at::def_id u : at::defs_under_def(a, d)) g = std::move(g).add(d, u, 0);
    }
    std::vector<at::def_id> expected;
    const std::vector<at::def_id> order = g.nodes_by_pred_order();
    for (auto it = order.rbegin(); it != order.rend(); ++it)
      if (std::find(asked.begin(), asked.end(), *it) != asked.end()) expected.push_back(*it);
    EXPECT_EQ(at::sort_defs_by_dep(a, asked), expected) << "round " << round;
  }
}

// A module directory with lib.alg; the fake loader adds f(i -> o) and h using f, as the file would.
struct Modules : ::testing::Test {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("algo_types_test_" + std::to_string(getpid()));
  std::vector<std::string> loaded;
  at::module_loader loader = [this](const std::vector<std::string>& dirs, const std::string& file,
                                    const at::algorithm& a) {
    loaded.push_back(file);
    at::algorithm b = a;
    const at::def_id f = def(b, "f");
    port(b, f, "i", direction::In);
    const at::def_id h = def(b, "h");
    auto [ff, c] = at::load_lookup_def(b, dirs, loader, simple_name{"f"});
    ref(c, h, ff, "x");
    EXPECT_EQ(ff, f);
    return c;
  };
  void SetUp() override {
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "lib.alg") << "";
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
};

TEST_F(Modules, LoadsAModuleOnceAndQualifiesItsDefinitions) {
  at::algorithm a = at::create();
  const at::def_id own_f = def(a, "f");
  const std::vector<std::string> dirs{"/nonexistent", dir.string()};
  auto [f, b] = at::load_lookup_def(a, dirs, loader, qualified_name{"Lib", "f"});
  EXPECT_EQ(loaded, std::vector<std::string>{(dir / "lib.alg").string()});
  EXPECT_NE(f, own_f);
  EXPECT_EQ(at::get_def(b, f).def_name, base_types::qname(qualified_name{"Lib", "f"}));
  EXPECT_EQ(algo_string::string_of_def(b, f), "Lib.f");
  EXPECT_EQ(at::lookup_def(b, simple_name{"f"}), own_f);
  EXPECT_THROW((void)at::lookup_def(b, simple_name{"h"}), env::Unbound_name);
  // Already loaded: found without reading again.
  auto [h, c] = at::load_lookup_def(b, dirs, loader, qualified_name{"Lib", "h"});
  EXPECT_EQ(loaded.size(), 1U);
  EXPECT_EQ(at::defs_under_def(c, h), std::vector<at::def_id>{f});
  EXPECT_EQ(failure_text([&] { (void)at::load_lookup_def(c, dirs, loader, qualified_name{"Lib", "g"}); }),
            "Definition Lib.g not found.");
  EXPECT_EQ(failure_text([&] { (void)at::load_lookup_def(c, dirs, loader, simple_name{"g"}); }),
            "Definition g not found.");
  EXPECT_EQ(failure_text([&] { (void)at::load_lookup_def(c, dirs, loader, qualified_name{"Other", "g"}); }),
            "Algorithm module Other not found.");
  // Handed over, the algorithm is kept by the caller when the lookup fails, and a module is still read.
  at::algorithm handed = a;
  EXPECT_EQ(failure_text([&] { (void)at::load_lookup_def(std::move(handed), dirs, loader, simple_name{"g"}); }),
            "Definition g not found.");
  EXPECT_EQ(failure_text([&] {
              (void)at::load_lookup_def(std::move(handed), dirs, loader, qualified_name{"Other", "g"});
            }),
            "Algorithm module Other not found.");
  EXPECT_EQ(at::lookup_def(handed, simple_name{"f"}), own_f);
  auto [moved_f, d] = at::load_lookup_def(std::move(handed), dirs, loader, qualified_name{"Lib", "f"});
  EXPECT_EQ(loaded.size(), 2U);
  EXPECT_EQ(at::get_def(d, moved_f).def_name, base_types::qname(qualified_name{"Lib", "f"}));
  auto [same_f, e] = at::load_lookup_def(std::move(d), dirs, loader, simple_name{"f"});
  EXPECT_EQ(same_f, own_f);
  EXPECT_EQ(at::lookup_def(e, qualified_name{"Lib", "f"}), moved_f);
  // In place: the same failures with the algorithm untouched, a module read into it once.
  at::algorithm in_place = a;
  EXPECT_EQ(failure_text([&] { (void)at::load_lookup_def_into(in_place, dirs, loader, simple_name{"g"}); }),
            "Definition g not found.");
  EXPECT_EQ(failure_text([&] {
              (void)at::load_lookup_def_into(in_place, dirs, loader, qualified_name{"Other", "g"});
            }),
            "Algorithm module Other not found.");
  EXPECT_EQ(at::load_lookup_def_into(in_place, dirs, loader, simple_name{"f"}), own_f);
  EXPECT_EQ(in_place.defs.card(), a.defs.card());
  const std::size_t reads = loaded.size();
  const at::def_id lib_f = at::load_lookup_def_into(in_place, dirs, loader, qualified_name{"Lib", "f"});
  EXPECT_EQ(at::load_lookup_def_into(in_place, dirs, loader, qualified_name{"Lib", "f"}), lib_f);
  EXPECT_EQ(loaded.size(), reads + 1);
  EXPECT_EQ(at::get_def(in_place, lib_f).def_name, base_types::qname(qualified_name{"Lib", "f"}));
  // Definitions of a module are never modified.
  EXPECT_EQ(problem_text([&] { (void)at::modify_def(c, std::nullopt, std::vector<std::string>{"p"}, f); }),
            "Def Lib.f: A definition belonging to a module cannot be modified.");
  EXPECT_EQ(at::modify_def(c, std::nullopt, std::nullopt, f).defs.card(), c.defs.card());
}

}  // namespace
}  // namespace cvn::algo_test
