/* Lexer of the application file. Longest match, the earlier rule winning a tie; keywords are looked up
   in a table once an identifier has been matched. */
%top{
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/base_types.h"
#include "base/misc.h"
#include "cvnparser/cvn_lexer.h"

// A file is read in pieces of half the scanner's buffer: 64 kB rather than flex's default 8 kB, until a token
// outgrows the buffer. Flex then doubles the buffer, and the pieces grow with it: with pieces of a fixed size,
// each refill during a long token would rescan the token from its start, a cost growing with its square.
#define YY_BUF_SIZE (2 * 65536)
#define YY_READ_BUF_SIZE (YY_CURRENT_BUFFER_LVALUE->yy_buf_size / 2)
// Flex names its scanner state `yyguts_t` whatever the prefix; the program's other scanner defines it too,
// with other fields, and one name for two types breaks the one-definition rule.
#define yyguts_t cvnyy_guts_t
}

%{
using cvn::cvn_parser::parser;

namespace cvn::cvn_lexer {

/// A file being read for the scanner, every ".." handed out as " .. ".
struct file_input {
  std::string name;
  std::FILE* file = nullptr;
  char raw[65536];
  std::size_t pos = 0, end = 0;  // the unread bytes of `raw`
  char pending[4];               // what did not fit of the last " .. "
  std::size_t pending_pos = 0, pending_end = 0;
  std::int64_t handed_out = 0;   // bytes of rewritten text so far, which positions count

  explicit file_input(const std::string& file_name) : name(file_name), file(std::fopen(file_name.c_str(), "rb")) {
    if (file == nullptr) throw sys_error_of_errno(name, errno);
  }
  ~file_input() { std::fclose(file); }
  file_input(const file_input&) = delete;
  file_input& operator=(const file_input&) = delete;

  /// Reads after the first `keep` unread bytes, which move to the front; false at the end of the file.
  bool refill(std::size_t keep) {
    std::memmove(raw, raw + pos, keep);
    pos = 0;
    end = keep;
    const std::size_t n = std::fread(raw + keep, 1, sizeof raw - keep, file);
    if (n == 0 && std::ferror(file) != 0) throw sys_error_of_errno(name, errno);
    end += n;
    return n > 0;
  }

  /// Fills `buf` with up to `max` bytes of the rewritten text; 0 at its end.
  std::size_t read(char* buf, std::size_t max) {
    std::size_t out = 0;
    while (out < max && pending_pos < pending_end) buf[out++] = pending[pending_pos++];
    while (out < max) {
      if (pos == end && !refill(0)) break;
      if (raw[pos] != '.') {
        // Up to the next dot, copied as it is.
        std::size_t n = std::min(end - pos, max - out);
        if (const auto* dot = static_cast<const char*>(std::memchr(raw + pos, '.', n)))
          n = static_cast<std::size_t>(dot - (raw + pos));
        std::memcpy(buf + out, raw + pos, n);
        out += n;
        pos += n;
        continue;
      }
      // A dot: whether it starts a ".." depends on the next byte, which may still be in the file.
      if (pos + 1 == end && !refill(1)) {
        buf[out++] = '.';
        ++pos;
        continue;
      }
      if (raw[pos + 1] != '.') {
        buf[out++] = '.';
        ++pos;
        continue;
      }
      pos += 2;
      static constexpr char spaced[] = " .. ";
      const std::size_t n = std::min<std::size_t>(4, max - out);
      std::memcpy(buf + out, spaced, n);
      out += n;
      pending_pos = 0;
      pending_end = 4 - n;
      std::memcpy(pending, spaced + n, pending_end);
    }
    handed_out += static_cast<std::int64_t>(out);
    if (handed_out > loc::max_text_size) throw Failure(name + ": file too large");
    return out;
  }
};

}  // namespace cvn::cvn_lexer

#define YY_INPUT(buf, result, max_size) \
  result = static_cast<int>(yyextra->input->read(buf, static_cast<std::size_t>(max_size)));

#define YY_DECL int cvnyylex(cvn::cvn_build::value* yylval, yyscan_t yyscanner)
/* Every match moves the position past its lexeme; `start` keeps the offset where the match began (on the
   same line: only the line feed rule counts lines, after its match). */
#define YY_USER_ACTION \
  yyextra->start = yyextra->pos.offset; \
  yyextra->pos.offset += yyleng;
#define YY_FATAL_ERROR(msg) cvn::base_types::internal_error(msg)

namespace {

/// The keyword's token, or 0 for a plain identifier.
parser::token_kind_type keyword(std::string_view word) {
  static constexpr std::pair<std::string_view, parser::token_kind_type> words[] = {
      {"include", parser::token::TOK_KW_INCLUDE},
      {"def", parser::token::TOK_KW_DEF},
      {"main", parser::token::TOK_KW_MAIN},
      {"application", parser::token::TOK_KW_APPLICATION},
      {"description", parser::token::TOK_KW_DESCRIPTION},
      {"operation_group", parser::token::TOK_KW_OPERATION_GROUP},
      {"software_component", parser::token::TOK_KW_SOFTWARE_COMPONENT},
      {"constraint", parser::token::TOK_KW_CONSTRAINT},
      {"absolute", parser::token::TOK_KW_ABSOLUTE},
      {"relative", parser::token::TOK_KW_RELATIVE},
      {"union", parser::token::TOK_KW_UNION},
      {"disjunction", parser::token::TOK_KW_DISJUNCTION},
      {"corvan_version", parser::token::TOK_KW_CORVAN_VERSION},
      {"initseq", parser::token::TOK_KW_INITSEQ},
      {"loopseq", parser::token::TOK_KW_LOOPSEQ},
      {"endseq", parser::token::TOK_KW_ENDSEQ},
      {"code_phases", parser::token::TOK_KW_CODE_PHASES},
      {"constant", parser::token::TOK_KW_CONSTANT},
      {"sensor", parser::token::TOK_KW_SENSOR},
      {"actuator", parser::token::TOK_KW_ACTUATOR},
      {"memory", parser::token::TOK_KW_MEMORY},
      {"algorithm", parser::token::TOK_KW_ALGORITHM},
      {"internal", parser::token::TOK_KW_INTERNAL},
      {"attach_all", parser::token::TOK_KW_ATTACH_ALL},
      {"attach_ref", parser::token::TOK_KW_ATTACH_REF},
      {"attach_condi", parser::token::TOK_KW_ATTACH_CONDI},
      {"attach_condo", parser::token::TOK_KW_ATTACH_CONDO},
      {"attach_explode", parser::token::TOK_KW_ATTACH_EXPLODE},
      {"attach_implode", parser::token::TOK_KW_ATTACH_IMPLODE},
      {"conditions", parser::token::TOK_KW_CONDITIONS},
      {"references", parser::token::TOK_KW_REFERENCES},
      {"dependences", parser::token::TOK_KW_DEPENDENCES},
      {"strong_precedence_data", parser::token::TOK_KW_STRONG_PRECEDENCE_DATA},
      {"weak_precedence_data", parser::token::TOK_KW_WEAK_PRECEDENCE_DATA},
      {"precedence", parser::token::TOK_KW_PRECEDENCE},
      {"data", parser::token::TOK_KW_DATA},
      {"condition_synchro", parser::token::TOK_KW_CONDITION_SYNCHRO},
      {"architecture", parser::token::TOK_KW_ARCHITECTURE},
      {"operator", parser::token::TOK_KW_OPERATOR},
      {"operators", parser::token::TOK_KW_OPERATORS},
      {"gate", parser::token::TOK_KW_GATE},
      {"media", parser::token::TOK_KW_MEDIA},
      {"medias", parser::token::TOK_KW_MEDIAS},
      {"sampp", parser::token::TOK_KW_SAMPP},
      {"sammp", parser::token::TOK_KW_SAMMP},
      {"ram", parser::token::TOK_KW_RAM},
      {"broadcast", parser::token::TOK_KW_BROADCAST},
      {"no_broadcast", parser::token::TOK_KW_NO_BROADCAST},
      {"connections", parser::token::TOK_KW_CONNECTIONS},
      {"extra_durations_operator", parser::token::TOK_KW_EXTRA_DURATIONS_OPERATOR},
      {"extra_durations_media", parser::token::TOK_KW_EXTRA_DURATIONS_MEDIA},
      {"ports", parser::token::TOK_KW_PORTS},
      {"schedules", parser::token::TOK_KW_SCHEDULES},
      {"operation_scheduled", parser::token::TOK_KW_OPERATION_SCHEDULED},
      {"scheduled", parser::token::TOK_KW_SCHEDULED},
      {"calcul", parser::token::TOK_KW_CALCUL},
      {"communication", parser::token::TOK_KW_COMMUNICATION},
      {"send", parser::token::TOK_KW_SEND},
      {"receive", parser::token::TOK_KW_RECEIVE},
      {"sync", parser::token::TOK_KW_SYNC},
      {"send_synchro", parser::token::TOK_KW_SEND_SYNCHRO},
      {"receive_synchro", parser::token::TOK_KW_RECEIVE_SYNCHRO},
      {"read", parser::token::TOK_KW_READ},
      {"write", parser::token::TOK_KW_WRITE},
      {"ihm", parser::token::TOK_KW_IHM},
      {"condI", parser::token::TOK_KW_CONDI},
      {"condO", parser::token::TOK_KW_CONDO},
      {"explode", parser::token::TOK_KW_EXPLODE},
      {"implode", parser::token::TOK_KW_IMPLODE},
      {"synchro_constant", parser::token::TOK_KW_SYNCHRO_CONSTANT},
      {"cond_level", parser::token::TOK_KW_COND_LEVEL},
      {"schedule_dependences", parser::token::TOK_KW_SCHEDULE_DEPENDENCES},
      {"schedule_conditions", parser::token::TOK_KW_SCHEDULE_CONDITIONS},
      {"on", parser::token::TOK_KW_ON},
      {"true", parser::token::TOK_KW_TRUE},
      {"false", parser::token::TOK_KW_FALSE},
  };
  static const cvn::misc::word_table table = [] {
    std::vector<std::string_view> spellings;
    for (const auto& w : words) spellings.push_back(w.first);
    return cvn::misc::word_table(spellings);
  }();
  const int found = table.find(word);
  return found < 0 ? parser::token::TOK_YYEMPTY : words[static_cast<std::size_t>(found)].second;
}

/// The decimal value of an integer lexeme; integers are signed 63-bit values.
std::int64_t int_of_lexeme(const char* text, std::size_t length, const cvn::loc::position& here) {
  std::size_t i = 0;
  const bool negative = text[0] == '-';
  if (text[0] == '-' || text[0] == '+') i = 1;
  while (i + 1 < length && text[i] == '0') ++i;
  constexpr std::uint64_t max_positive = (std::uint64_t{1} << 62) - 1;
  // 19 digits cannot overflow the unsigned accumulator; more never fit 63 bits anyway.
  std::uint64_t value = 0;
  if (length - i > 19) cvn::loc::raise_problem({here, here}, "int_of_string");
  for (; i < length; ++i) value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
  if (value > max_positive + (negative ? 1 : 0)) cvn::loc::raise_problem({here, here}, "int_of_string");
  return negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
}

/// Ends a string read in several matches: located from its opening quote, its value its lexeme but the first
/// and the last character, as for a string matched at once.
parser::token_kind_type end_of_split_string(cvn::cvn_lexer::state& s, cvn::cvn_build::value& v) {
  s.start = s.split_start;
  v.str = s.texts.copy(s.split_text.data() + 1, s.split_text.size() - 2);
  std::string().swap(s.split_text);
  return parser::token::TOK_STRING;
}

}  // namespace
%}

%option reentrant noyywrap nounput noinput nodefault batch 8bit never-interactive warn
%option prefix="cvnyy"
%option extra-type="cvn::cvn_lexer::state*"
%option full
%x COMMENT_REST STRING_REST

DIGITS   [0-9]+
EXPONENT e[+-]?{DIGITS}

%%

<INITIAL><<EOF>> { yyextra->start = yyextra->pos.offset; return parser::token::TOK_YYEOF; }
"->"      { return parser::token::TOK_ARROW; }
"<-"      { return parser::token::TOK_LARROW; }
"\\"      { return parser::token::TOK_BACKSLASH; }
"?"       { return parser::token::TOK_QUESTION; }
"!"       { return parser::token::TOK_BANG; }
"@"       { return parser::token::TOK_AT; }
"="       { return parser::token::TOK_EQUAL; }
"/"       { return parser::token::TOK_SLASH; }
"-"       { return parser::token::TOK_MINUS; }
"|"       { return parser::token::TOK_BAR; }
"["       { return parser::token::TOK_LBRACKET; }
"]"       { return parser::token::TOK_RBRACKET; }
"<"       { return parser::token::TOK_LT; }
">"       { return parser::token::TOK_GT; }
"{"       { return parser::token::TOK_LBRACE; }
"}"       { return parser::token::TOK_RBRACE; }
"("       { return parser::token::TOK_LPAREN; }
")"       { return parser::token::TOK_RPAREN; }
"&"       { return parser::token::TOK_AMP; }
":"       { return parser::token::TOK_COLON; }
","       { return parser::token::TOK_COMMA; }
";"       { return parser::token::TOK_SEMI; }
"."       { return parser::token::TOK_DOT; }
"+"       { return parser::token::TOK_PLUS; }
"*"       { return parser::token::TOK_STAR; }
[ \t\r]+  { }
\n        {
            yyextra->pos.line += 1;
            yyextra->pos.bol = yyextra->pos.offset;
            yyextra->line_starts.push_back(yyextra->pos.offset);
          }
  /* A NUL byte inside a match makes flex rescan the match from its start: comments and strings are matched up
     to each NUL byte, the rest read in the states below, so that NUL bytes cost no more than other bytes. */
"#"[^\n\0]* { return parser::token::TOK_COMMENT; }
"#"[^\n\0]*\0 { yyextra->split_start = yyextra->start; BEGIN(COMMENT_REST); }
\"[^"\0]*\0 {
            yyextra->split_start = yyextra->start;
            yyextra->split_text.assign(yytext, static_cast<std::size_t>(yyleng));
            BEGIN(STRING_REST);
          }
\"[^"\0]*\"* {
            /* The value drops the first and the last character of the lexeme; line feeds inside do not
               count as lines. A lone quote at the end of the input has no such value. */
            if (yyleng < 2) cvn::loc::raise_problem({yyextra->pos, yyextra->pos}, "lexing: empty token");
            yylval->str = yyextra->texts.copy(yytext + 1, static_cast<std::size_t>(yyleng) - 2);
            return parser::token::TOK_STRING;
          }
[A-Za-z_][A-Za-z0-9_\-]* {
            const auto k = keyword(std::string_view(yytext, static_cast<std::size_t>(yyleng)));
            if (k != parser::token::TOK_YYEMPTY) return k;
            yylval->str = yyextra->texts.copy(yytext, static_cast<std::size_t>(yyleng));
            return parser::token::TOK_IDENT;
          }
[+-]?{DIGITS} {
            yylval->integer = int_of_lexeme(yytext, static_cast<std::size_t>(yyleng), yyextra->pos);
            return parser::token::TOK_INT;
          }
[+-]?{DIGITS}("."[0-9]*{EXPONENT}?|{EXPONENT}) {
            // yytext is NUL-terminated during the action; no locale is ever set, so "." is the point.
            yylval->real = std::strtod(yytext, nullptr);
            return parser::token::TOK_FLOAT;
          }
.         {
            /* Starts no token: located before the character, where the lexer stands. */
            const cvn::loc::position here{yyextra->pos.file, yyextra->pos.line, yyextra->pos.bol, yyextra->start};
            cvn::loc::raise_problem({here, here}, "lexing: empty token");
          }

<COMMENT_REST>{
[^\n\0]+  { }
\0        { }
  /* The line feed is left for the next token. */
\n        {
            yyless(0);
            yyextra->pos.offset -= 1;
            yyextra->start = yyextra->split_start;
            BEGIN(INITIAL);
            return parser::token::TOK_COMMENT;
          }
<<EOF>>   { yyextra->start = yyextra->split_start; BEGIN(INITIAL); return parser::token::TOK_COMMENT; }
}

<STRING_REST>{
[^"\0]+   { yyextra->split_text.append(yytext, static_cast<std::size_t>(yyleng)); }
\0        { yyextra->split_text.push_back('\0'); }
\"+       {
            yyextra->split_text.append(yytext, static_cast<std::size_t>(yyleng));
            BEGIN(INITIAL);
            return end_of_split_string(*yyextra, *yylval);
          }
<<EOF>>   { BEGIN(INITIAL); return end_of_split_string(*yyextra, *yylval); }
}

%%

namespace cvn::cvn_lexer {

Cvn_lexer::Cvn_lexer(std::string text, std::string_view file_name)
    : text_(std::move(text)), state_(std::make_unique<state>()) {
  if (static_cast<std::int64_t>(text_.size()) > loc::max_text_size) throw Failure(std::string(file_name) + ": file too large");
  state_->pos = loc::position{loc::intern(file_name), 1, 0, 0};
  state_->start = 0;
  if (cvnyylex_init_extra(state_.get(), &scanner_) != 0) base_types::internal_error("Cvn_lexer: no scanner");
  // Scanned in place: the two end-of-buffer marks are appended instead of copying the whole text.
  text_.append(2, '\0');
  cvnyy_scan_buffer(text_.data(), text_.size(), static_cast<yyscan_t>(scanner_));
}

Cvn_lexer::Cvn_lexer(from_file_t, const std::string& file_name)
    : input_(std::make_unique<file_input>(file_name)), state_(std::make_unique<state>()) {
  state_->pos = loc::position{loc::intern(file_name), 1, 0, 0};
  state_->start = 0;
  state_->input = input_.get();
  if (cvnyylex_init_extra(state_.get(), &scanner_) != 0) base_types::internal_error("Cvn_lexer: no scanner");
  const auto scanner = static_cast<yyscan_t>(scanner_);
  cvnyy_switch_to_buffer(cvnyy_create_buffer(nullptr, YY_BUF_SIZE, scanner), scanner);
}

Cvn_lexer::~Cvn_lexer() { cvnyylex_destroy(static_cast<yyscan_t>(scanner_)); }

int Cvn_lexer::next(cvn_build::value& value, cvn_parser::span& where) {
  const int kind = cvnyylex(&value, static_cast<yyscan_t>(scanner_));
  where = {state_->start, state_->pos.offset};
  return kind;
}

parser::symbol_type Cvn_lexer::lexer() {
  parser::symbol_type t;
  // Token kinds are symbol kinds (api.token.raw).
  t.kind_ = static_cast<parser::symbol_kind_type>(next(t.value, t.location));
  return t;
}

void Cvn_lexer::release() {
  state_->texts.release();
  // The lines before the last token's own line.
  auto& starts = state_->line_starts;
  const auto after = std::upper_bound(starts.begin(), starts.end(), state_->start);
  if (after == starts.begin()) return;
  state_->first_line += (after - 1) - starts.begin();
  starts.erase(starts.begin(), after - 1);
}

loc::position Cvn_lexer::position_at(std::int32_t offset) const {
  // The line is the last one starting at or before the offset: for the positions the grammar locates,
  // mostly the last line or one just before it.
  const auto& starts = state_->line_starts;
  auto line = starts.end() - 1;
  if (*line > offset) {
    const auto after = std::upper_bound(starts.begin(), starts.end(), offset);
    if (after == starts.begin()) base_types::internal_error("Cvn_lexer: offset before the lines kept");
    line = after - 1;
  }
  return {state_->pos.file, state_->first_line + static_cast<std::int32_t>(line - starts.begin()), *line, offset};
}

loc::location Cvn_lexer::located(const cvn_parser::span& s) const {
  return {position_at(s.begin), position_at(s.end)};
}

}  // namespace cvn::cvn_lexer
