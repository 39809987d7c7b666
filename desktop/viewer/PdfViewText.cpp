// Text knowledge of the viewer: selectable characters, selection, links, history, plain text.
#include <QClipboard>
#include <QGuiApplication>

#include <algorithm>

#include "desktop/viewer/PdfView.h"

namespace quorvel::desktop {

namespace {

// Page points; a box less tall than this holds no glyph (a space, a line end).
constexpr double kMinGlyphHeight = 0.5;

bool isWordChar(const PdfView::SelChar& c) {
  if (c.text.isEmpty()) return false;
  const QChar first = c.text.at(0);
  return !first.isSpace() && !first.isPunct();
}

}  // namespace

const std::vector<PdfView::SelChar>& PdfView::pageChars(int page) {
  const auto found = charCache.find(page);
  if (found != charCache.end()) return found->second;

  std::vector<SelChar> chars;
  if (doc && page >= 0 && page < pageCount()) {
    const TextPage text = doc->extract_text(page);
    for (const TextRun& run : text.runs) {
      const size_t size = run.text.size();
      for (size_t i = 0; i < run.chars.size(); ++i) {
        const CharBox& box = run.chars[i];
        const size_t begin = box.offset;
        const size_t end = std::min(i + 1 < run.chars.size() ? run.chars[i + 1].offset : size, size);
        SelChar c;
        c.x0 = box.left;
        c.y0 = box.top;
        c.x1 = box.right;
        c.y1 = box.bottom;
        c.runStart = i == 0;
        if (begin < end)
          c.text = QString::fromUtf8(run.text.data() + begin, static_cast<qsizetype>(end - begin));
        chars.push_back(std::move(c));
      }
    }
  }
  return charCache.emplace(page, std::move(chars)).first->second;
}

int PdfView::nearestChar(int page, const annot::Point& p) const {
  const auto found = charCache.find(page);
  if (found == charCache.end() || found->second.empty()) return -1;
  const std::vector<SelChar>& chars = found->second;
  int best = -1;
  double bestDist = 1e18;
  for (size_t i = 0; i < chars.size(); ++i) {
    const SelChar& c = chars[i];
    if (c.x0 <= p.x && p.x <= c.x1 && c.y1 <= p.y && p.y <= c.y0) return static_cast<int>(i);
    const double dx = (c.x0 + c.x1) / 2 - p.x;
    const double dy = (c.y0 + c.y1) / 2 - p.y;
    const double d = dx * dx + dy * dy;
    if (d < bestDist) {
      bestDist = d;
      best = static_cast<int>(i);
    }
  }
  return best;
}

void PdfView::setTextSelection(int page, int start, int end) {
  selPage = page;
  selStart = start;
  selEnd = end;
  viewport()->update();
}

void PdfView::clearTextSelection() {
  selPage = selStart = selEnd = -1;
  viewport()->update();
}

void PdfView::selectWordAt(int page, int index) {
  const std::vector<SelChar>& chars = pageChars(page);
  const int n = static_cast<int>(chars.size());
  if (index < 0 || index >= n || !isWordChar(chars[static_cast<size_t>(index)])) return;
  int first = index;
  while (first > 0 && isWordChar(chars[static_cast<size_t>(first - 1)])) --first;
  int last = index;
  while (last + 1 < n && isWordChar(chars[static_cast<size_t>(last + 1)])) ++last;
  selectedId.clear();
  setTextSelection(page, first, last + 1);
}

void PdfView::selectLineAt(int page, int index) {
  const std::vector<SelChar>& chars = pageChars(page);
  const int n = static_cast<int>(chars.size());
  if (index < 0 || index >= n) return;
  auto flat = [&](int k) {
    const SelChar& c = chars[static_cast<size_t>(k)];
    return !(c.y0 - c.y1 >= kMinGlyphHeight);
  };
  // Spaces and line ends come with boxes of no height at the baseline, which span no centre:
  // the line is measured on a glyph beside the one clicked, and runs on over such boxes to the
  // glyphs that follow them.
  int anchor = index;
  for (int d = 1; flat(anchor) && d < n; ++d) {
    if (index - d >= 0 && !flat(index - d)) anchor = index - d;
    else if (index + d < n && !flat(index + d)) anchor = index + d;
  }
  const SelChar& at = chars[static_cast<size_t>(anchor)];
  const double centre = (at.y0 + at.y1) / 2;
  auto spans = [&](int k) {
    const SelChar& c = chars[static_cast<size_t>(k)];
    return c.y1 <= centre && centre <= c.y0;
  };
  int first = anchor;
  for (int k = anchor - 1; k >= 0; --k) {
    if (flat(k)) continue;
    if (!spans(k)) break;
    first = k;
  }
  int last = anchor;
  for (int k = anchor + 1; k < n; ++k) {
    if (flat(k)) continue;
    if (!spans(k)) break;
    last = k;
  }
  // A click on a flat box the line's glyphs do not reach selects that box alone.
  first = std::min(first, index);
  last = std::max(last, index);
  selectedId.clear();
  setTextSelection(page, first, last + 1);
}

void PdfView::selectDemo() {
  const std::vector<SelChar>& chars = pageChars(0);
  if (chars.empty()) return;
  selecting = false;
  setTextSelection(0, 0, std::min(static_cast<int>(chars.size()), 18));
  copySelection();
  viewport()->update();
}

void PdfView::copySelection() {
  if (selPage < 0 || selStart == selEnd) return;
  const auto found = charCache.find(selPage);
  if (found == charCache.end()) return;
  const std::vector<SelChar>& chars = found->second;
  const int from = std::max(0, std::min(selStart, selEnd));
  const int to = std::min(std::max(selStart, selEnd), static_cast<int>(chars.size()));
  // Runs are lines: one line break between them, whatever the writer put at a line's end.
  QString text;
  for (int k = from; k < to; ++k) {
    const SelChar& c = chars[static_cast<size_t>(k)];
    if (c.runStart && !text.isEmpty()) text += QLatin1Char('\n');
    text += c.text;
  }
  if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

const std::vector<Link>& PdfView::pageLinks(int page) {
  const auto found = linkCache.find(page);
  if (found != linkCache.end()) return found->second;
  std::vector<Link> links;
  if (doc && page >= 0 && page < pageCount()) links = doc->links(page);
  return linkCache.emplace(page, std::move(links)).first->second;
}

void PdfView::navigateToPage(int oneBased) {
  const int c = currentPage();
  if (c > 0) backStack.push_back(c);
  forwardStack.clear();
  goToPage(oneBased);
  emit navHistoryChanged();
}

bool PdfView::goBack() {
  if (backStack.empty()) return false;
  const int c = currentPage();
  const int target = backStack.back();
  backStack.pop_back();
  if (c > 0) forwardStack.push_back(c);
  goToPage(target);
  emit navHistoryChanged();
  return true;
}

bool PdfView::goForward() {
  if (forwardStack.empty()) return false;
  const int c = currentPage();
  const int target = forwardStack.back();
  forwardStack.pop_back();
  if (c > 0) backStack.push_back(c);
  goToPage(target);
  emit navHistoryChanged();
  return true;
}

QString PdfView::documentText(int maxChars) const { return doc ? desktop::documentText(*doc, maxChars) : QString(); }

QString documentText(const IDocument& doc, int maxChars, qsizetype* total) {
  if (maxChars <= 0 && !total) return {};
  QString out;
  qsizetype length = 0;
  const int n = doc.page_count();
  // With a total asked for, every page is read once; the text stops growing at maxChars.
  for (int i = 0; i < n && (total || out.size() < maxChars); ++i) {
    const std::string joined = page_text(doc.extract_text(i));
    const QString page = QString::fromUtf8(joined.data(), static_cast<qsizetype>(joined.size()));
    length += page.size() + 1;
    if (out.size() < maxChars) out += page + QLatin1Char('\n');
  }
  if (total) *total = length;
  if (maxChars <= 0) return {};
  if (out.size() > maxChars) {
    qsizetype cut = maxChars;
    // Never leave half of a surrogate pair at the end.
    if (out.at(cut - 1).isHighSurrogate() && out.at(cut).isLowSurrogate()) --cut;
    out.truncate(cut);
  }
  return out;
}

}  // namespace quorvel::desktop
