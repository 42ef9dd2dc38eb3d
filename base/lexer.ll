%top{
// Flex names its scanner state `yyguts_t` whatever the prefix: a name of this scanner's own keeps it apart
// from the application-file scanner's.
#define yyguts_t cvnlex_guts_t
}

%{
// Scanner of the newer languages. Positions are byte offsets kept in the scanner's extra data.
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/base_types.h"
#include "base/lexer.h"
#include "base/misc.h"

namespace {

struct scan_state {
  cvn::loc::position cur;    // just after the last character matched
  cvn::loc::position start;  // start of the token being read
  std::string buffer;        // text of string and code literals
};

}  // namespace

#define YY_EXTRA_TYPE scan_state*
#define YY_DECL int cvnlex_next(yyscan_t yyscanner)
#define YY_USER_ACTION yyextra->cur.offset += yyleng;

namespace {
void new_line(scan_state* s) {
  s->cur.line += 1;
  s->cur.bol = s->cur.offset;
}
}  // namespace

using cvn::lexer::token_kind;
%}

%option reentrant noyywrap nounput noinput nodefault batch 8bit never-interactive
%option prefix="cvnlex_"
%option extra-type="scan_state*"
%x STR CODE

%%

%{
  scan_state* const st = yyextra;
%}

<INITIAL>{
\"                 { st->start = st->cur; st->start.offset -= 1; st->buffer.clear(); BEGIN(STR); }
"<{"               { st->start = st->cur; st->start.offset -= 2; st->buffer.clear(); BEGIN(CODE); }
\n                 { new_line(st); }
" "                { }
"_action"          { return static_cast<int>(token_kind::Action_marker); }
"_adeq"            { return static_cast<int>(token_kind::Adeq_marker); }
"_desc"            { return static_cast<int>(token_kind::Desc_marker); }
"_flatten"         { return static_cast<int>(token_kind::Flatten_marker); }
"_post"            { return static_cast<int>(token_kind::Post_marker); }
[a-z][A-Za-z0-9_]* { return static_cast<int>(token_kind::Lident); }
[A-Z][A-Za-z0-9_]* { return static_cast<int>(token_kind::Uident); }
"."                { return static_cast<int>(token_kind::Dot); }
"{"                { return static_cast<int>(token_kind::Lbrace); }
"}"                { return static_cast<int>(token_kind::Rbrace); }
"["                { return static_cast<int>(token_kind::Lbracket); }
"]"                { return static_cast<int>(token_kind::Rbracket); }
"("                { return static_cast<int>(token_kind::Lparen); }
")"                { return static_cast<int>(token_kind::Rparen); }
"="                { return static_cast<int>(token_kind::Equal); }
";"                { return static_cast<int>(token_kind::Semi); }
":"                { return static_cast<int>(token_kind::Colon); }
","                { return static_cast<int>(token_kind::Comma); }
"/"                { return static_cast<int>(token_kind::Slash); }
"|"                { return static_cast<int>(token_kind::Bar); }
"+"                { return static_cast<int>(token_kind::Plus); }
"-"                { return static_cast<int>(token_kind::Minus); }
"*"                { return static_cast<int>(token_kind::Star); }
-?[0-9]+           { return static_cast<int>(token_kind::Int); }
-?[0-9]+\.[0-9]*   { return static_cast<int>(token_kind::Float); }
"-->"              { return static_cast<int>(token_kind::Long_arrow); }
"->"               { return static_cast<int>(token_kind::Arrow); }
<<EOF>>            { return static_cast<int>(token_kind::Eof); }
.                  { return -1; }
}

  /* The runs inside literals stop at NUL bytes, which "." takes one at a time: a NUL byte inside a match makes
     flex rescan the match from its start, which for long literals holding many would be quadratic. */
<STR>{
\\\"               { st->buffer += '"'; }
\\\\               { st->buffer += '\\'; }
\"                 { BEGIN(INITIAL); return static_cast<int>(token_kind::String); }
\n                 { new_line(st); st->buffer += '\n'; }
[^\\\"\n\0]+       { st->buffer.append(yytext, static_cast<std::size_t>(yyleng)); }
.                  { st->buffer += yytext[0]; }
<<EOF>>            { return -2; }
}

<CODE>{
"}>"               { BEGIN(INITIAL); return static_cast<int>(token_kind::Code); }
\n                 { new_line(st); st->buffer += '\n'; }
[^}\n\0]+          { st->buffer.append(yytext, static_cast<std::size_t>(yyleng)); }
.                  { st->buffer += yytext[0]; }
<<EOF>>            { return -3; }
}

%%

namespace cvn::lexer {
namespace {

struct scanner_box {
  yyscan_t scanner = nullptr;
  scan_state state;
  YY_BUFFER_STATE buffer = nullptr;
  std::string_view input;
};

std::int64_t int_of_string(const std::string& text) {
  // Integers are 63-bit signed values, as everywhere else in the system's files.
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  constexpr long long max63 = (1LL << 62) - 1;
  if (errno != 0 || v > max63 || v < -max63 - 1) throw Failure("int_of_string");
  return v;
}

// Index of the keyword that the text spells in any case, or -1.
int keyword_index(std::string_view text) {
  constexpr std::size_t longest = 12;
  const std::size_t n = text.size();
  if (n > longest) return -1;
  static const misc::word_table table(std::vector<std::string_view>(keywords.begin(), keywords.end()));
  char lower[longest];
  for (std::size_t i = 0; i < n; ++i) lower[i] = misc::latin1_lower(text[i]);
  return table.find(std::string_view(lower, n));
}

}  // namespace

lexer::lexer(std::string_view text, std::string_view file_name) {
  if (static_cast<std::int64_t>(text.size()) > loc::max_text_size) throw Failure(std::string(file_name) + ": file too large");
  scanner_ = new scanner_box;
  auto* box = static_cast<scanner_box*>(scanner_);
  box->state.cur = loc::position{loc::intern(file_name), 1, 0, 0};
  box->input = text;
  cvnlex_lex_init_extra(&box->state, &box->scanner);
  box->buffer = cvnlex__scan_bytes(text.data(), static_cast<int>(text.size()), box->scanner);
}

lexer::~lexer() {
  auto* box = static_cast<scanner_box*>(scanner_);
  cvnlex__delete_buffer(box->buffer, box->scanner);
  cvnlex_lex_destroy(box->scanner);
  delete box;
}

std::string_view lexer::input() const { return static_cast<scanner_box*>(scanner_)->input; }
const loc::position& lexer::current() const { return static_cast<scanner_box*>(scanner_)->state.cur; }

void lexer::error(const std::string& message) const { loc::raise_problem({current(), current()}, message); }

token lexer::main() {
  auto* box = static_cast<scanner_box*>(scanner_);
  token tok;
  const int kind = cvnlex_next(box->scanner);
  const char* text = cvnlex_get_text(box->scanner);
  const std::size_t length = static_cast<std::size_t>(cvnlex_get_leng(box->scanner));
  if (kind == -1) error("Invalid character " + std::string(text, length));  // a NUL byte included
  if (kind == -2) error("String not terminated.");
  if (kind == -3) error("Code not terminated.");
  tok.kind = static_cast<token_kind>(kind);
  tok.where.end = box->state.cur;
  tok.where.begin = box->state.cur;
  switch (tok.kind) {
    case token_kind::String:
    case token_kind::Code:
      tok.where.begin = box->state.start;
      tok.text = std::move(box->state.buffer);
      box->state.buffer.clear();
      return tok;
    case token_kind::Eof:
      return tok;
    default:
      break;
  }
  tok.where.begin.offset -= static_cast<std::int32_t>(length);
  if (tok.kind == token_kind::Int) {
    tok.int_value = int_of_string(std::string(text, length));
  } else if (tok.kind == token_kind::Float) {
    tok.float_value = std::strtod(std::string(text, length).c_str(), nullptr);
  } else if (tok.kind == token_kind::Lident || tok.kind == token_kind::Uident) {
    tok.text.assign(text, length);
    if (const int k = keyword_index(tok.text); k >= 0) tok.kind = static_cast<token_kind>(k);
  }
  return tok;
}

void lexer::next(token_view& tok) {
  auto* box = static_cast<scanner_box*>(scanner_);
  const int kind = cvnlex_next(box->scanner);
  const char* text = cvnlex_get_text(box->scanner);
  const std::size_t length = static_cast<std::size_t>(cvnlex_get_leng(box->scanner));
  if (kind == -1) error("Invalid character " + std::string(text, length));  // a NUL byte included
  if (kind == -2) error("String not terminated.");
  if (kind == -3) error("Code not terminated.");
  tok.kind = static_cast<token_kind>(kind);
  tok.where.end = box->state.cur;
  tok.where.begin = box->state.cur;
  switch (tok.kind) {
    case token_kind::String:
    case token_kind::Code:
      tok.where.begin = box->state.start;
      tok.text = box->state.buffer;
      return;
    case token_kind::Eof:
      tok.text = {};
      return;
    default:
      break;
  }
  tok.where.begin.offset -= static_cast<std::int32_t>(length);
  tok.text = {};
  if (tok.kind == token_kind::Int) {
    tok.int_value = int_of_string(std::string(text, length));
  } else if (tok.kind == token_kind::Float) {
    tok.float_value = std::strtod(std::string(text, length).c_str(), nullptr);
  } else if (tok.kind == token_kind::Lident || tok.kind == token_kind::Uident) {
    tok.text = std::string_view(text, length);
    if (const int k = keyword_index(tok.text); k >= 0) tok.kind = static_cast<token_kind>(k);
  }
}
bool is_keyword(std::string_view text) { return keyword_index(text) >= 0; }

const char* string_of_kind(token_kind kind) {
  static const char* const names[] = {
      "abstract", "actuator", "algorithm", "architecture", "broadcast", "comment", "constant", "constraints",
      "definition", "delay", "durations", "function", "gate", "in", "let", "match", "medium", "operator", "out",
      "parallel", "period", "port", "ram", "reference", "sammp", "sampp", "sensor", "sequence", "type", "with",
      ".", "{", "}", "[", "]", "(", ")", "=", ";", ":", ",", "/", "|", "+", "-", "*", "-->", "->",
      "_action", "_adeq", "_desc", "_flatten", "_post",
      "ident", "Ident", "int", "float", "string", "code", "end of input"};
  return names[static_cast<int>(kind)];
}

}  // namespace cvn::lexer
