#include "base/base_types.h"

#include <gtest/gtest.h>

namespace {

using namespace cvn::base_types;

TEST(BaseTypes, QnameTexts) {
  const qname lib_p = qualified_name{"Lib", "P"};
  const qname x = simple_name{"x"};
  EXPECT_EQ(string_of_qname(lib_p), "Lib.P");
  EXPECT_EQ(string_of_qname(x), "x");
  EXPECT_EQ(base_qname(lib_p), "P");
  EXPECT_EQ(base_qname(x), "x");
  EXPECT_EQ(dot_qname(lib_p), "Lib");
  EXPECT_EQ(dot_qname(x), "");
  // Equality is structural and case-sensitive; the simple case orders first.
  EXPECT_NE(qname(simple_name{"a"}), qname(simple_name{"A"}));
  EXPECT_NE(qname(simple_name{"P"}), lib_p);
  EXPECT_LT(qname(simple_name{"z"}), qname(qualified_name{"A", "a"}));
}

TEST(BaseTypes, Prefixes) {
  EXPECT_EQ(add_prefix_to_qname("A", simple_name{"x"}), qname(qualified_name{"A", "x"}));
  EXPECT_EQ(add_prefix_to_qname("A", qualified_name{"B", "y"}), qname(qualified_name{"B", "y"}));
  EXPECT_EQ(add_prefix_to_qname(std::nullopt, simple_name{"x"}), qname(simple_name{"x"}));
  EXPECT_EQ(add_prefix_to_name("A", "x"), "A.x");
  EXPECT_EQ(add_prefix_to_name(std::nullopt, "x"), "x");
}

TEST(BaseTypes, InternalErrorIsPrintedWithItsModule) {
  try {
    internal_error("bad state");
    FAIL();
  } catch (const Internal_error& e) {
    EXPECT_EQ(e.printed(), "Base_types.Internal_error(\"bad state\")");
  }
  EXPECT_EQ(cvn::Not_found().printed(), "Not_found");
}

}  // namespace
