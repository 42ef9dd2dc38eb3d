#include "cvnparser/cvn_types.h"

namespace cvn::cvn_types {

namespace {
template <class... Ts>
struct overloaded : Ts... {
  using Ts::operator()...;
};
}  // namespace

const std::string& string_of_cvn_opr_type(const cvn_opr_type& t) { return t.cot_name; }
const std::string& string_of_cvn_med_type(const cvn_med_type& t) { return t.cmt_name; }
const std::string& string_of_cvn_arch(const cvn_arch& a) { return a.ca_name; }

const std::string& string_of_cvn_arch_decl(const cvn_arch_decl& d) {
  return std::visit(overloaded{
                        [](const Opr_type_decl& o) -> const std::string& { return string_of_cvn_opr_type(o.opr_type); },
                        [](const Med_type_decl& m) -> const std::string& { return string_of_cvn_med_type(m.med_type); },
                        [](const Arch_decl& a) -> const std::string& { return string_of_cvn_arch(a.arch); },
                    },
                    d);
}

}  // namespace cvn::cvn_types
