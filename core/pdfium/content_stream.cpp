// Reading a page's content as operators with the state that places each glyph and image, and
// writing back only the operators that an edit changed.
#include "core/pdfium/content_stream.h"

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <stdexcept>

#include "core/c_locale.h"

namespace quorvel::content {

Matrix Matrix::then(const Matrix& m) const {
  return {a * m.a + b * m.c,       a * m.b + b * m.d,       c * m.a + d * m.c,
          c * m.b + d * m.d,       e * m.a + f * m.c + m.e, e * m.b + f * m.d + m.f};
}

void Matrix::apply(double x, double y, double& ox, double& oy) const {
  ox = x * a + y * c + e;
  oy = x * b + y * d + f;
}

bool Matrix::inverse(Matrix& out) const {
  const double det = a * d - b * c;
  if (!std::isfinite(det) || std::fabs(det) < 1e-12) return false;
  out = {d / det, -b / det, -c / det, a / det, (c * f - d * e) / det, (b * e - a * f) / det};
  return true;
}

double Token::number() const { return kind == Number ? c_strtod(value) : 0; }

std::string number_text(double v, int decimals) {
  std::string s;
  if (!std::isfinite(v)) v = 0;
  append_fixed(s, v, decimals);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

bool parse_ops(std::string_view data, std::vector<Op>& out, size_t* items) {
  out.clear();
  // Read in place: a copy would double what a large stream costs.
  Buffer buffer(reinterpret_cast<unsigned char*>(const_cast<char*>(data.data())), data.size());
  auto input = std::make_shared<BufferInputSource>("content", &buffer);
  auto spend = [items] {
    if (!items) return true;
    if (*items == 0) return false;
    --*items;
    return true;
  };
  QPDFTokenizer tokenizer;
  tokenizer.allowEOF();
  tokenizer.includeIgnorable();
  Op current;
  bool started = false;
  size_t nesting = 0;
  auto next = [&](size_t& begin) {
    begin = static_cast<size_t>(input->tell());
    return tokenizer.readToken(input, "content", true);
  };
  for (;;) {
    size_t begin = 0;
    QPDFTokenizer::Token t = next(begin);
    const size_t end = static_cast<size_t>(input->tell());
    switch (t.getType()) {
      case QPDFTokenizer::tt_eof:
        // Operands without an operator at the end are ignored by readers; so are they here.
        return true;
      case QPDFTokenizer::tt_bad:
        return false;
      case QPDFTokenizer::tt_space:
      case QPDFTokenizer::tt_comment:
        continue;
      default:
        break;
    }
    if (!started) {
      current.begin = begin;
      started = true;
    }
    if (!spend()) return false;
    // Inside an array or a dictionary a word is an item, not an operator ("1e999" in a TJ array).
    const bool item = t.getType() != QPDFTokenizer::tt_word || nesting > 0;
    switch (t.getType()) {
      case QPDFTokenizer::tt_array_open:
      case QPDFTokenizer::tt_dict_open: ++nesting; break;
      case QPDFTokenizer::tt_array_close:
      case QPDFTokenizer::tt_dict_close: nesting -= nesting > 0; break;
      default: break;
    }
    if (item) {
      Token k;
      switch (t.getType()) {
        case QPDFTokenizer::tt_integer:
        case QPDFTokenizer::tt_real: k.kind = Token::Number; break;
        case QPDFTokenizer::tt_name: k.kind = Token::Name; break;
        case QPDFTokenizer::tt_string: k.kind = Token::String; break;
        case QPDFTokenizer::tt_array_open: k.kind = Token::ArrayOpen; break;
        case QPDFTokenizer::tt_array_close: k.kind = Token::ArrayClose; break;
        case QPDFTokenizer::tt_dict_open: k.kind = Token::DictOpen; break;
        case QPDFTokenizer::tt_dict_close: k.kind = Token::DictClose; break;
        default: k.kind = Token::Other; break;
      }
      k.value = t.getType() == QPDFTokenizer::tt_name ? t.getValue().substr(1) : t.getValue();
      k.begin = begin;
      k.end = end;
      current.operands.push_back(std::move(k));
      continue;
    }
    current.name = t.getValue();
    current.end = end;
    if (current.name == "BI") {
      // The image's dictionary, then its data up to EI.
      for (;;) {
        size_t b = 0;
        QPDFTokenizer::Token d = next(b);
        if (d.getType() == QPDFTokenizer::tt_eof || d.getType() == QPDFTokenizer::tt_bad) return false;
        if (d.getType() == QPDFTokenizer::tt_word && d.getValue() == "ID") break;
      }
      char ch = 0;
      input->read(&ch, 1);
      tokenizer.expectInlineImage(input);
      size_t b = 0;
      if (next(b).getType() != QPDFTokenizer::tt_inline_image) return false;
      QPDFTokenizer::Token ei;
      do {
        ei = next(b);
      } while (ei.getType() == QPDFTokenizer::tt_space || ei.getType() == QPDFTokenizer::tt_comment);
      if (!(ei.getType() == QPDFTokenizer::tt_word && ei.getValue() == "EI")) return false;
      current.end = static_cast<size_t>(input->tell());
    }
    out.push_back(std::move(current));
    current = Op{};
    started = false;
  }
}

void Glyph::centre(double& x, double& y) const { place.apply(width / 2, 1.0 / 3, x, y); }

std::vector<size_t> array_items(const std::vector<Token>& o, bool* foreign) {
  std::vector<size_t> out;
  bool other = false;
  size_t k = 0;
  while (k < o.size() && o[k].kind != Token::ArrayOpen) ++k;
  int depth = 0;
  for (++k; k < o.size(); ++k) {
    const Token::Kind kind = o[k].kind;
    if (kind == Token::ArrayClose && depth == 0) break;
    if (kind == Token::ArrayOpen || kind == Token::DictOpen) ++depth;
    if ((kind == Token::ArrayClose || kind == Token::DictClose) && depth > 0) --depth;
    if (depth == 0 && (kind == Token::Number || kind == Token::String)) out.push_back(k);
    else other = true;
  }
  if (foreign) *foreign = other;
  return out;
}

namespace {

struct GState {
  Matrix ctm;
  std::shared_ptr<Font> font;
  double size = 0, tc = 0, tw = 0, th = 1, tl = 0, rise = 0;
};

Matrix matrix_of(const std::vector<Token>& o) {
  if (o.size() < 6) return {};
  const size_t s = o.size() - 6;
  return {o[s].number(), o[s + 1].number(), o[s + 2].number(), o[s + 3].number(), o[s + 4].number(), o[s + 5].number()};
}

double operand(const std::vector<Token>& o, size_t from_end) {
  return o.size() > from_end ? o[o.size() - 1 - from_end].number() : 0;
}

Matrix translate(double x, double y) { return {1, 0, 0, 1, x, y}; }

// Collects decoded bytes up to a limit: a small stream that inflates without end costs no more
// than the limit.
class Bounded final : public Pipeline {
 public:
  Bounded(std::string& out, size_t limit) : Pipeline("bounded", nullptr), out_(out), limit_(limit) {}
  void write(unsigned char const* data, size_t len) override {
    if (len > limit_ - out_.size()) {
      over = true;
      throw std::length_error("content past the page's budget");
    }
    out_.append(reinterpret_cast<const char*>(data), len);
  }
  void finish() override {}
  bool over = false;

 private:
  std::string& out_;
  size_t limit_;
};

// The stream's data decoded, at most `limit` bytes; false when it cannot be decoded whole.
bool decoded(QPDFObjectHandle stream, size_t limit, std::string& out) {
  out.clear();
  if (!stream.isStream()) return false;
  Bounded sink(out, limit);
  bool ok = false;
  try {
    ok = stream.pipeStreamData(&sink, 0, qpdf_dl_generalized, true);
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok || sink.over) {
    std::string().swap(out);
    return false;
  }
  return true;
}

class Reader {
 public:
  // Every reader has a budget: one without would find itself past it at once.
  Reader(QPDFObjectHandle resources, const Font::StandardWidth& standard, PageContent& out, const Budget& budget,
         size_t items_used, size_t bytes_used)
      : resources_(resources), standard_(standard), out_(out) {
    items_ = budget.items > items_used ? budget.items - items_used : 0;
    bytes_ = budget.bytes > bytes_used ? budget.bytes - bytes_used : 0;
    draws_ = budget.form_draws;
  }

  void run(size_t stream) {
    // By index: reading a form adds streams, which moves the vectors of operators but not the
    // operators themselves.
    for (size_t i = 0; i < out_.ops[stream].size() && !over_; ++i) step(stream, i, out_.ops[stream][i]);
  }

  bool over_budget() const { return over_; }

  void finish() {
    out_.final_depth = static_cast<int>(stack_.size());
    out_.final_ctm = gs_.ctm;
    out_.open_text = in_text_;
  }

 private:
  // Takes `n` items off what the page may still cost.
  bool spend(size_t n) {
    if (over_ || n > items_) {
      over_ = true;
      return false;
    }
    items_ -= n;
    return true;
  }

  std::shared_ptr<Font> font(QPDFObjectHandle dict) {
    if (!dict.isDictionary()) return nullptr;
    const QPDFObjGen id = dict.getObjGen();
    if (id.isIndirect()) {
      auto it = fonts_.find(id);
      if (it != fonts_.end()) return it->second;
    }
    std::shared_ptr<Font> f = Font::load(dict, standard_);
    if (id.isIndirect()) fonts_.emplace(id, f);
    return f;
  }

  QPDFObjectHandle resource(const char* kind, const std::string& name) {
    if (!resources_.isDictionary()) return {};
    QPDFObjectHandle group = resources_.getKey(kind);
    return group.isDictionary() ? group.getKey("/" + name) : QPDFObjectHandle();
  }

  void next_line(double tx, double ty) {
    tlm_ = translate(tx, ty).then(tlm_);
    tm_ = reader_tm_ = tlm_;
    tm_known_ = true;
  }

  void show(size_t stream, size_t index, const Op& op) {
    Show s;
    s.stream = stream;
    s.op = index;
    s.font = gs_.font;
    s.size = gs_.size;
    s.hscale = gs_.th;
    s.char_spacing = gs_.tc;
    s.word_spacing = gs_.tw;
    s.first = out_.glyphs.size();
    const Font* f = gs_.font.get();
    bool known = tm_known_ && f && f->kind != Font::Kind::Unknown && !f->vertical;
    s.movable = known && f->kind != Font::Kind::Unknown && gs_.size != 0 && gs_.th != 0;
    s.editable = s.movable && f->kind != Font::Kind::Type3;
    auto move = [&](double d, double reader_d) {
      tm_ = translate(d * gs_.th, 0).then(tm_);
      reader_tm_ = translate(reader_d * gs_.th, 0).then(reader_tm_);
    };
    auto text = [&](const Token& t, size_t element) {
      if (!f) {
        known = false;
        return;
      }
      // A string yields at most a glyph a byte.
      if (!spend(t.value.size())) return;
      for (const Font::Code& code : f->split(t.value)) {
        Glyph g;
        g.element = element;
        g.code = code;
        const std::optional<double> w = known ? f->width(code.value) : std::nullopt;
        if (!w) known = false;
        g.known = known;
        g.width = w.value_or(0);
        g.place = Matrix{gs_.size * gs_.th, 0, 0, gs_.size, 0, gs_.rise}.then(tm_).then(gs_.ctm);
        const double spacing = gs_.tc + (code.length == 1 && code.value == 32 ? gs_.tw : 0);
        g.advance = g.width * gs_.size + spacing;
        Matrix{gs_.size * gs_.th, 0, 0, gs_.size, 0, gs_.rise}.then(reader_tm_).then(gs_.ctm).apply(0, 0, g.reader_x,
                                                                                                     g.reader_y);
        out_.glyphs.push_back(g);
        move(g.advance, (known ? f->reader_width(code.value).value_or(0) : 0) * gs_.size + spacing);
      }
    };
    const std::vector<Token>& o = op.operands;
    if (op.name == "TJ") {
      for (size_t k : array_items(o, &s.foreign)) {
        if (o[k].kind == Token::Number) move(-o[k].number() / 1000 * gs_.size, -o[k].number() / 1000 * gs_.size);
        else text(o[k], k);
      }
    } else if (!o.empty() && o.back().kind == Token::String) {
      text(o.back(), o.size() - 1);
    }
    s.count = out_.glyphs.size() - s.first;
    if (!known) {
      s.editable = s.movable = false;
      tm_known_ = false;
    }
    out_.shows.push_back(std::move(s));
  }

  void step(size_t stream, size_t index, const Op& op) {
    const std::string& n = op.name;
    const std::vector<Token>& o = op.operands;
    if (n == "q") {
      stack_.push_back(gs_);
    } else if (n == "Q") {
      if (stack_.empty()) {
        out_.underflow = true;
      } else {
        gs_ = stack_.back();
        stack_.pop_back();
      }
    } else if (n == "cm") {
      gs_.ctm = matrix_of(o).then(gs_.ctm);
    } else if (n == "BT") {
      in_text_ = true;
      tm_ = tlm_ = reader_tm_ = Matrix{};
      tm_known_ = true;
    } else if (n == "ET") {
      in_text_ = false;
    } else if (n == "Tm") {
      tm_ = tlm_ = reader_tm_ = matrix_of(o);
      tm_known_ = true;
    } else if (n == "Td") {
      next_line(operand(o, 1), operand(o, 0));
    } else if (n == "TD") {
      gs_.tl = -operand(o, 0);
      next_line(operand(o, 1), operand(o, 0));
    } else if (n == "T*") {
      next_line(0, -gs_.tl);
    } else if (n == "Tc") {
      gs_.tc = operand(o, 0);
    } else if (n == "Tw") {
      gs_.tw = operand(o, 0);
    } else if (n == "Tz") {
      gs_.th = operand(o, 0) / 100;
    } else if (n == "TL") {
      gs_.tl = operand(o, 0);
    } else if (n == "Ts") {
      gs_.rise = operand(o, 0);
    } else if (n == "Tf") {
      gs_.size = operand(o, 0);
      gs_.font = o.size() >= 2 && o[o.size() - 2].kind == Token::Name ? font(resource("/Font", o[o.size() - 2].value))
                                                                         : nullptr;
    } else if (n == "gs") {
      if (!o.empty() && o.back().kind == Token::Name) {
        QPDFObjectHandle g = resource("/ExtGState", o.back().value);
        QPDFObjectHandle f = g.isDictionary() ? g.getKey("/Font") : QPDFObjectHandle();
        if (f.isArray() && f.getArrayNItems() == 2) {
          gs_.font = font(f.getArrayItem(0));
          gs_.size = f.getArrayItem(1).isNumber() ? f.getArrayItem(1).getNumericValue() : 0;
        }
      }
    } else if (n == "Tj" || n == "TJ") {
      show(stream, index, op);
    } else if (n == "'") {
      next_line(0, -gs_.tl);
      show(stream, index, op);
    } else if (n == "\"") {
      gs_.tw = operand(o, 2);
      gs_.tc = operand(o, 1);
      next_line(0, -gs_.tl);
      show(stream, index, op);
    } else if (n == "Do") {
      if (!o.empty() && o.back().kind == Token::Name) {
        QPDFObjectHandle x = resource("/XObject", o.back().value);
        const std::string subtype = x.isStream() && x.getDict().getKey("/Subtype").isName()
                                        ? x.getDict().getKey("/Subtype").getName()
                                        : "";
        if (subtype == "/Image" && depth_ == 0) out_.images.push_back({stream, index, gs_.ctm});
        if (subtype == "/Form") form(stream, index, x);
      }
    } else if (n == "BI") {
      if (depth_ == 0) out_.images.push_back({stream, index, gs_.ctm});
    }
  }

  void form(size_t stream, size_t index, QPDFObjectHandle x) {
    // Forms drawing themselves, or nested past any real use, are not followed.
    if (depth_ >= 8) return;
    if (draws_ == 0) {
      over_ = true;
      return;
    }
    --draws_;
    size_t mine = 0;
    const auto parsed = parsed_.find(x.getObjGen());
    if (parsed != parsed_.end() && x.getObjGen().isIndirect()) {
      mine = parsed->second;
      if (open_forms_.count(mine)) return;
    } else {
      std::string data;
      std::vector<Op> ops;
      size_t items = items_;
      if (!decoded(x, bytes_, data) || !parse_ops(data, ops, &items)) {
        // A form that cannot be read may hold what the page shows: the page is not read in part.
        over_ = true;
        return;
      }
      bytes_ -= data.size();
      items_ = items;
      mine = out_.data.size();
      out_.data.push_back(std::move(data));
      out_.ops.push_back(std::move(ops));
      parsed_.emplace(x.getObjGen(), mine);
    }
    bool known = false;
    for (const FormUse& f : out_.forms) known = known || (f.stream == mine && f.parent_stream == stream && f.parent_op == index);
    if (!known) out_.forms.push_back({x, mine, stream, index});
    // A form draws in a state of its own, with its matrix and its resources.
    const GState saved = gs_;
    const std::vector<GState> saved_stack = std::move(stack_);
    const Matrix tm = tm_, tlm = tlm_, reader_tm = reader_tm_;
    const bool tm_known = tm_known_, text = in_text_;
    QPDFObjectHandle saved_resources = resources_;
    stack_.clear();
    QPDFObjectHandle m = x.getDict().getKey("/Matrix");
    if (m.isArray() && m.getArrayNItems() == 6) {
      Matrix fm;
      double* v[6] = {&fm.a, &fm.b, &fm.c, &fm.d, &fm.e, &fm.f};
      for (int i = 0; i < 6; ++i) *v[i] = m.getArrayItem(i).isNumber() ? m.getArrayItem(i).getNumericValue() : 0;
      gs_.ctm = fm.then(gs_.ctm);
    }
    if (x.getDict().getKey("/Resources").isDictionary()) resources_ = x.getDict().getKey("/Resources");
    ++depth_;
    open_forms_.insert(mine);
    run(mine);
    open_forms_.erase(mine);
    --depth_;
    gs_ = saved;
    stack_ = saved_stack;
    tm_ = tm, tlm_ = tlm, reader_tm_ = reader_tm;
    tm_known_ = tm_known, in_text_ = text;
    resources_ = saved_resources;
  }

  QPDFObjectHandle resources_;
  const Font::StandardWidth& standard_;
  PageContent& out_;
  std::map<QPDFObjGen, std::shared_ptr<Font>> fonts_;
  GState gs_;
  std::vector<GState> stack_;
  Matrix tm_, tlm_, reader_tm_;
  bool tm_known_ = true;
  bool in_text_ = false;
  int depth_ = 0;
  std::set<size_t> open_forms_;
  std::map<QPDFObjGen, size_t> parsed_;  // forms by object, to their stream
  size_t items_ = 0, bytes_ = 0, draws_ = 0;
  bool over_ = false;
};

}  // namespace

bool read_page(QPDFPageObjectHelper& page, const Font::StandardWidth& standard, PageContent& out,
               const Budget& budget) {
  out = PageContent{};
  out.streams = page.getPageContents();
  size_t items = budget.items, bytes = 0;
  for (QPDFObjectHandle& s : out.streams) {
    out.data.emplace_back();
    out.ops.emplace_back();
    if (!decoded(s, budget.bytes - bytes, out.data.back()) || !parse_ops(out.data.back(), out.ops.back(), &items))
      return false;
    bytes += out.data.back().size();
  }
  Reader reader(page.getAttribute("/Resources", false), standard, out, budget, budget.items - items, bytes);
  const size_t own = out.streams.size();
  for (size_t s = 0; s < own; ++s) reader.run(s);
  reader.finish();
  return !reader.over_budget();
}

std::vector<std::u32string> shown_characters(const PageContent& page, const Show& show) {
  std::vector<std::u32string> out;
  out.reserve(show.count);
  for (size_t k = 0; k < show.count; ++k) {
    const Glyph& g = page.glyphs[show.first + k];
    // A ligature stands for all its letters.
    std::u32string text = show.font ? show.font->text(g.code.value) : std::u32string();
    // A simple font without an encoding of its own reads printable ASCII as itself.
    if (text.empty() && show.font && show.font->kind == Font::Kind::Simple && g.code.value >= 0x20 &&
        g.code.value < 0x7F)
      text = std::u32string(1, static_cast<char32_t>(g.code.value));
    out.push_back(text.empty() ? std::u32string(1, U'\uFFFD') : std::move(text));
  }
  return out;
}

bool read_form(QPDFObjectHandle xobject, const Font::StandardWidth& standard, PageContent& out,
               const Budget& budget) {
  out = PageContent{};
  if (!xobject.isStream()) return false;
  out.streams.push_back(xobject);
  out.data.emplace_back();
  out.ops.emplace_back();
  // An appearance is read within the same budget as a page.
  size_t items = budget.items;
  if (!decoded(xobject, budget.bytes, out.data.back()) || !parse_ops(out.data.back(), out.ops.back(), &items))
    return false;
  Reader reader(xobject.getDict().getKey("/Resources"), standard, out, budget, budget.items - items,
                out.data.back().size());
  reader.run(0);
  reader.finish();
  return !reader.over_budget();
}

double inserted_width(const Show& show, const std::vector<Font::Code>& codes) {
  double natural = 0;
  for (const Font::Code& c : codes) {
    const std::optional<double> w = c.length == 0 ? std::optional<double>(0.333) : show.font->width(c.value);
    if (!w) return -1;
    natural += *w * show.size +
               (c.length == 0 ? 0 : show.char_spacing + (c.length == 1 && c.value == 32 ? show.word_spacing : 0));
  }
  return natural;
}

std::string rewrite_show(const PageContent& page, const Show& show, const std::vector<GlyphEdit>& edits) {
  if (!show.movable || edits.size() != show.count || !show.font) return {};
  // A Type 3 font's glyphs are drawn by procedures of the document's own: they only move.
  if (!show.editable && std::any_of(edits.begin(), edits.end(), [](const GlyphEdit& e) { return e.drop || !e.insert.empty(); }))
    return {};
  const Op& op = page.ops[show.stream][show.op];
  const std::string& data = page.data[show.stream];
  const Font& font = *show.font;
  const std::vector<Token>& o = op.operands;
  auto raw = [&](const Token& t) { return data.substr(t.begin, t.end - t.begin); };

  std::string prefix;
  if (op.name == "'") {
    prefix = "T* ";
  } else if (op.name == "\"") {
    if (o.size() < 3) return {};
    prefix = raw(o[o.size() - 3]) + " Tw " + raw(o[o.size() - 2]) + " Tc T* ";
  }

  std::vector<std::string> elements;
  std::string closed;  // operators already complete, when narrowed text split the array
  auto join = [](const std::vector<std::string>& parts) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? " " : "") + parts[i];
    return out;
  };
  std::string run;  // hex digits of the glyphs shown since the last move
  double x = 0;     // where the original pen is, from the operator's start
  double pen = 0;   // where the new pen is
  auto flush = [&] {
    if (!run.empty()) elements.push_back("<" + run + ">");
    run.clear();
  };
  auto move_to = [&](double target) {
    if (std::fabs(target - pen) < 1e-7) return;
    flush();
    elements.push_back(number_text(-(target - pen) * 1000 / show.size));
    pen = target;
  };
  auto put = [&](const Font::Code& c) {
    static const char* digits = "0123456789ABCDEF";
    for (unsigned char b : font.bytes(c.value, c.length)) {
      run += digits[b >> 4];
      run += digits[b & 15];
    }
  };
  size_t gi = 0;
  bool ok = true;
  auto text = [&](size_t element) {
    while (gi < show.count && page.glyphs[show.first + gi].element == element) {
      const Glyph& g = page.glyphs[show.first + gi];
      const GlyphEdit& e = edits[gi];
      if (!e.drop && e.insert.empty()) {
        move_to(x + e.shift);
        put(g.code);
        pen = x + e.shift + g.advance;
      } else if (!e.insert.empty()) {
        move_to(x + e.shift);
        const double natural = inserted_width(show, e.insert);
        if (natural < 0) ok = false;
        const double scale = e.room >= 0 && natural > e.room + 1e-9 && natural > 0 ? e.room / natural : 1;
        if (scale != 1) {
          // Narrowed by horizontal scaling, which only a text state change outside TJ can do.
          flush();
          closed += "[" + join(elements) + "] TJ " + number_text(show.hscale * 100 * scale) + " Tz ";
          elements.clear();
        }
        for (const Font::Code& c : e.insert) {
          if (c.length == 0) {
            // A space the font has no glyph for: a word gap of a third of the size.
            flush();
            elements.push_back("-333");
            continue;
          }
          put(c);
        }
        pen += natural * scale;
        if (scale != 1) {
          flush();
          closed += "[" + join(elements) + "] TJ " + number_text(show.hscale * 100) + " Tz ";
          elements.clear();
        }
      }
      x += g.advance;
      ++gi;
    }
  };
  if (op.name == "TJ") {
    // Only the strings and numbers: what else the array held goes, so that every reader reads
    // the rewritten operator alike.
    for (size_t k : array_items(o)) {
      if (o[k].kind == Token::Number) x += -o[k].number() / 1000 * show.size;
      else text(k);
    }
  } else if (!o.empty()) {
    text(o.size() - 1);
  }
  move_to(x);
  flush();
  if (!ok || gi != show.count) return {};
  return prefix + closed + "[" + join(elements) + "] TJ";
}

namespace {

using Replacements = std::map<std::pair<size_t, size_t>, std::string>;

bool changes(const Replacements& r, size_t stream) {
  auto it = r.lower_bound({stream, 0});
  return it != r.end() && it->first.first == stream;
}

// The stream's text with the given operators replaced and every other byte as it was.
std::string spliced(const PageContent& content, size_t stream, const Replacements& r) {
  const std::string& data = content.data[stream];
  std::string text;
  size_t pos = 0;
  for (auto it = r.lower_bound({stream, 0}); it != r.end() && it->first.first == stream; ++it) {
    const Op& op = content.ops[stream][it->first.second];
    text.append(data, pos, op.begin - pos);
    // Spaces keep the new operator apart from its neighbours whatever touched them before.
    text += ' ';
    text += it->second;
    text += ' ';
    pos = op.end;
  }
  text.append(data, pos, std::string::npos);
  return text;
}

// A copy of `resources` whose XObjects include `added`.
QPDFObjectHandle with_xobjects(QPDFObjectHandle resources,
                               const std::vector<std::pair<std::string, QPDFObjectHandle>>& added) {
  QPDFObjectHandle res = resources.isDictionary() ? resources.shallowCopy() : QPDFObjectHandle::newDictionary();
  QPDFObjectHandle old = res.getKey("/XObject");
  QPDFObjectHandle x = old.isDictionary() ? old.shallowCopy() : QPDFObjectHandle::newDictionary();
  for (const auto& [name, object] : added) x.replaceKey("/" + name, object);
  res.replaceKey("/XObject", x);
  return res;
}

}  // namespace

void write_page(QPDFPageObjectHelper& page, const PageContent& content, const Replacements& replaced,
                const std::string& append) {
  QPDFObjectHandle oh = page.getObjectHandle();
  QPDF* q = oh.getOwningQPDF();
  QPDFObjectHandle page_resources = page.getAttribute("/Resources", false);
  Replacements all = replaced;
  std::map<size_t, std::vector<std::pair<std::string, QPDFObjectHandle>>> added;  // by the stream that draws them
  size_t serial = 0;
  auto fresh_name = [&](QPDFObjectHandle resources) {
    QPDFObjectHandle x = resources.isDictionary() ? resources.getKey("/XObject") : QPDFObjectHandle();
    std::string name;
    do {
      name = "QvEdited" + std::to_string(++serial);
    } while (x.isDictionary() && x.hasKey("/" + name));
    return name;
  };
  // A form's copies are made before those of the forms that draw it: they come after them.
  for (size_t k = content.forms.size(); k-- > 0;) {
    const FormUse& f = content.forms[k];
    if (!changes(all, f.stream)) continue;
    QPDFObjectHandle copy = QPDFObjectHandle::newStream(q, spliced(content, f.stream, all));
    QPDFObjectHandle dict = copy.getDict();
    QPDFObjectHandle xobject = f.xobject;
    QPDFObjectHandle original = xobject.getDict();
    for (const std::string& key : original.getKeys())
      if (key != "/Length" && key != "/Filter" && key != "/DecodeParms") dict.replaceKey(key, original.getKey(key));
    QPDFObjectHandle own = original.getKey("/Resources").isDictionary() ? original.getKey("/Resources") : page_resources;
    if (added.count(f.stream)) dict.replaceKey("/Resources", with_xobjects(own, added[f.stream]));
    const bool from_page = f.parent_stream < content.streams.size();
    QPDFObjectHandle parent_resources =
        from_page ? page_resources : [&] {
          for (const FormUse& p : content.forms)
            if (p.stream == f.parent_stream) {
              QPDFObjectHandle parent = p.xobject;
              QPDFObjectHandle r = parent.getDict().getKey("/Resources");
              return r.isDictionary() ? r : page_resources;
            }
          return page_resources;
        }();
    const std::string name = fresh_name(parent_resources);
    all[{f.parent_stream, f.parent_op}] = "/" + name + " Do";
    added[from_page ? 0 : f.parent_stream].emplace_back(name, copy);
  }
  if (added.count(0)) oh.replaceKey("/Resources", with_xobjects(page_resources, added[0]));

  QPDFObjectHandle contents = QPDFObjectHandle::newArray();
  const bool wrap = !append.empty() && !content.underflow;
  if (wrap) contents.appendItem(QPDFObjectHandle::newStream(q, std::string("q\n")));
  for (size_t s = 0; s < content.streams.size(); ++s) {
    if (!changes(all, s)) contents.appendItem(content.streams[s]);
    else contents.appendItem(QPDFObjectHandle::newStream(q, spliced(content, s, all)));
  }
  if (!append.empty()) {
    std::string tail = "\n";
    if (content.open_text) tail += "ET\n";
    if (wrap) {
      for (int i = 0; i <= content.final_depth; ++i) tail += "Q\n";
      tail += append;
    } else {
      // A Q without its q makes the start state unreachable: undo the final transform instead.
      Matrix inv;
      if (!content.final_ctm.inverse(inv)) inv = Matrix{};
      tail += "q " + number_text(inv.a, 6) + " " + number_text(inv.b, 6) + " " + number_text(inv.c, 6) + " " +
              number_text(inv.d, 6) + " " + number_text(inv.e, 6) + " " + number_text(inv.f, 6) + " cm\n" + append +
              "\nQ\n";
    }
    contents.appendItem(QPDFObjectHandle::newStream(q, tail));
  }
  oh.replaceKey("/Contents", contents);
}

std::string spliced_stream(const PageContent& content, size_t stream, const Replacements& replaced) {
  return spliced(content, stream, replaced);
}

}  // namespace quorvel::content
