#include "desktop/window/MainWindowCommandLine.h"

#include <QFile>

#include <string>

#include "desktop/batch/batch.h"
#include "desktop/window/MainWindow.h"

// The resources sit in a static library: nothing would pull them into the program unless
// something refers to them.
static void registerQuorvelResources() { Q_INIT_RESOURCE(quorvel); }

namespace quorvel::desktop {

namespace {

// Every option the window knows, also those whose actions only carry a value for another
// action: a value option must consume its value, or the value would become the document path.
const QSet<QString>& valueOptions() {
  static const QSet<QString> names = [] {
    QSet<QString> s;
    for (const char* n : {
             "--lang", "--password", "--rotate", "--rotate-page", "--delete-page",
             "--insert-page", "--add-text", "--delete-image", "--crop", "--merge", "--ask",
             "--semantic", "--request", "--extract-csv", "--redact-pii", "--compare",
             "--compare-out", "--export-text", "--export-html", "--export-doc", "--export-docx",
             "--encrypt", "--encrypt-pw", "--ocr-layer", "--agent-report", "--translate",
             "--translate-out", "--sign-image", "--sign-out", "--sign-page", "--sign-cert",
             "--sign-cert-out", "--sign-cert-pw", "--replace-text", "--replace-out",
             "--replace-with", "--sanitize-out", "--watermark", "--watermark-out",
             "--page-numbers-out", "--bates-out", "--bates", "--bates-start",
             "--split-bookmarks", "--nup", "--nup-out", "--save", "--print", "--export",
             "--find"})
      s.insert(QString::fromLatin1(n));
    return s;
  }();
  return names;
}

const QSet<QString>& flagOptions() {
  static const QSet<QString> names = [] {
    QSet<QString> s;
    for (const char* n : {"--mvp", "--clear-annot", "--demo-annot", "--two", "--book",
                          "--fill-form", "--select-demo", "--extract", "--compare-ai", "--ocr",
                          "--fullscreen"})
      s.insert(QString::fromLatin1(n));
    return s;
  }();
  return names;
}

// A secret given as "-" is one line of standard input, so it need not stand in the process
// list; read when its action runs, in action order.
QString secretValue(const QString& value) {
  if (value != QLatin1String("-")) return value;
  return QString::fromStdString(stdin_secret_line());
}

using Plan = std::vector<CommandLineAction>;
using Row = void (*)(const CommandLine&, Plan&);

// One row per action, in the order they run. A command that the window does not have yet has
// no row; its options are still scanned above, so they never turn into the document path.
const Row kActionRows[] = {
    [](const CommandLine& cl, Plan& plan) {
      if (cl.flag("--mvp"))
        plan.push_back({QStringLiteral("setMvpMode(true)"), [](MainWindow& w) { w.setMvpMode(true); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString pw = cl.value("--password");
      if (!pw.isEmpty())
        plan.push_back({QStringLiteral("setOpenPassword"), [pw](MainWindow& w) { w.setOpenPassword(secretValue(pw)); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString path = cl.path;
      if (!path.isEmpty())
        plan.push_back({QStringLiteral("openFile(%1)").arg(path), [path](MainWindow& w) { w.openFile(path); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      if (cl.flag("--clear-annot"))
        plan.push_back({QStringLiteral("clearCurrentAnnotations()"), [](MainWindow& w) { w.clearCurrentAnnotations(); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      if (cl.flag("--demo-annot"))
        plan.push_back({QStringLiteral("demoAnnotate()"), [](MainWindow& w) { w.demoAnnotate(); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const int mode = cl.layoutMode;
      if (mode != 0)
        plan.push_back({QStringLiteral("setLayoutMode(%1)").arg(mode), [mode](MainWindow& w) { w.setLayoutMode(mode); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const int steps = commandLineInt(cl.value("--rotate"));
      if (steps != 0)
        plan.push_back({QStringLiteral("rotateView(%1)").arg(steps), [steps](MainWindow& w) { w.rotateView(steps); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const int n = commandLineInt(cl.value("--rotate-page"));
      if (n != 0)
        plan.push_back({QStringLiteral("rotatePageAt(%1)").arg(n), [n](MainWindow& w) { w.rotatePageAt(n); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const int n = commandLineInt(cl.value("--delete-page"));
      if (n != 0)
        plan.push_back({QStringLiteral("deletePageAt(%1)").arg(n), [n](MainWindow& w) { w.deletePageAt(n); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const int n = commandLineInt(cl.value("--insert-page"));
      if (n > 0)
        plan.push_back({QStringLiteral("insertBlankPageAt(%1)").arg(n), [n](MainWindow& w) { w.insertBlankPageAt(n); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      // x,y,text: the text is everything after the second comma, commas included.
      const QString v = cl.value("--add-text");
      const qsizetype first = v.indexOf(QLatin1Char(','));
      const qsizetype second = first >= 1 ? v.indexOf(QLatin1Char(','), first + 1) : -1;
      if (second < 0) return;
      const double x = v.left(first).toDouble();
      const double y = v.mid(first + 1, second - first - 1).toDouble();
      const QString text = v.mid(second + 1);
      plan.push_back({QStringLiteral("insertTextAt(%1, %2, %3)").arg(x).arg(y).arg(text),
                      [x, y, text](MainWindow& w) { w.insertTextAt(x, y, text); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QStringList parts = cl.value("--delete-image").split(QLatin1Char(','));
      if (cl.value("--delete-image").isEmpty() || parts.size() != 2) return;
      const int page = commandLineInt(parts[0]), index = commandLineInt(parts[1]);
      plan.push_back({QStringLiteral("deleteImageAt(%1, %2)").arg(page).arg(index),
                      [page, index](MainWindow& w) { w.deleteImageAt(page, index); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QStringList parts = cl.value("--crop").split(QLatin1Char(','));
      if (cl.value("--crop").isEmpty() || parts.size() != 4) return;
      const double x0 = parts[0].toDouble(), y0 = parts[1].toDouble(), x1 = parts[2].toDouble(),
                   y1 = parts[3].toDouble();
      plan.push_back({QStringLiteral("cropAllPages(%1, %2, %3, %4)").arg(x0).arg(y0).arg(x1).arg(y1),
                      [x0, y0, x1, y1](MainWindow& w) { w.cropAllPages(x0, y0, x1, y1); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString path = cl.value("--merge");
      if (!path.isEmpty())
        plan.push_back({QStringLiteral("mergeWith(%1)").arg(path), [path](MainWindow& w) { w.mergeWith(path); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      // --split first last out: pages first to last, one-based on the command line.
      if (!cl.split || cl.split->at(2).isEmpty()) return;
      const int first = commandLineInt(cl.split->at(0)), last = commandLineInt(cl.split->at(1));
      const QString out = cl.split->at(2);
      plan.push_back({QStringLiteral("saveRangeTo(%1, %2, %3)").arg(out).arg(first - 1).arg(last - 1),
                      [out, first, last](MainWindow& w) { w.saveRangeTo(out, first - 1, last - 1); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      if (cl.flag("--fill-form"))
        plan.push_back({QStringLiteral("fillFormDemo()"), [](MainWindow& w) { w.fillFormDemo(); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      if (cl.flag("--select-demo"))
        plan.push_back({QStringLiteral("selectDemo()"), [](MainWindow& w) { w.selectDemo(); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString question = cl.value("--ask");
      if (!question.isEmpty())
        plan.push_back({QStringLiteral("askAi(%1)").arg(question), [question](MainWindow& w) { w.askAi(question); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString query = cl.value("--semantic");
      if (!query.isEmpty())
        plan.push_back({QStringLiteral("semanticSearch(%1)").arg(query), [query](MainWindow& w) { w.semanticSearch(query); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString id = cl.value("--request");
      if (!id.isEmpty())
        plan.push_back({QStringLiteral("openMyRequestsForId(%1)").arg(id), [id](MainWindow& w) { w.openMyRequestsForId(id); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString path = cl.value("--extract-csv");
      if (!path.isEmpty())
        plan.push_back({QStringLiteral("extractToCsv(%1)").arg(path), [path](MainWindow& w) { w.extractToCsv(path); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      if (cl.flag("--extract"))
        plan.push_back({QStringLiteral("extractData()"), [](MainWindow& w) { w.extractData(); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString path = cl.value("--redact-pii");
      if (!path.isEmpty())
        plan.push_back({QStringLiteral("redactPiiTo(%1)").arg(path), [path](MainWindow& w) { w.redactPiiTo(path); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      // The summary only follows a compare that reached the diff, never an older one.
      const QString other = cl.value("--compare"), out = cl.value("--compare-out");
      const bool ai = cl.flag("--compare-ai");
      if (other.isEmpty()) return;
      if (!out.isEmpty())
        plan.push_back({QStringLiteral("compareToHtml(%1, %2)%3").arg(other, out, ai ? QStringLiteral(" + summarizeLastDiff()") : QString()),
                        [other, out, ai](MainWindow& w) {
                          if (w.compareToHtml(other, out) && ai) w.summarizeLastDiff();
                        }});
      else
        plan.push_back({QStringLiteral("compareWith(%1)%2").arg(other, ai ? QStringLiteral(" + summarizeLastDiff()") : QString()),
                        [other, ai](MainWindow& w) {
                          if (w.compareWith(other) && ai) w.summarizeLastDiff();
                        }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString path = cl.value("--export-text");
      if (!path.isEmpty())
        plan.push_back({QStringLiteral("exportTextTo(%1)").arg(path), [path](MainWindow& w) { w.exportTextTo(path); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString path = cl.value("--export-html");
      if (!path.isEmpty())
        plan.push_back({QStringLiteral("exportHtmlTo(%1, false)").arg(path), [path](MainWindow& w) { w.exportHtmlTo(path, false); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString path = cl.value("--export-doc");
      if (!path.isEmpty())
        plan.push_back({QStringLiteral("exportHtmlTo(%1, true)").arg(path), [path](MainWindow& w) { w.exportHtmlTo(path, true); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString path = cl.value("--export-docx");
      if (!path.isEmpty())
        plan.push_back({QStringLiteral("exportDocxTo(%1)").arg(path), [path](MainWindow& w) { w.exportDocxTo(path); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString out = cl.value("--encrypt"), pw = cl.value("--encrypt-pw");
      if (!out.isEmpty() && !pw.isEmpty())
        plan.push_back({QStringLiteral("protectPdfTo(%1)").arg(out),
                        [out, pw](MainWindow& w) { w.protectPdfTo(out, secretValue(pw)); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString out = cl.value("--ocr-layer");
      if (!out.isEmpty())
        plan.push_back({QStringLiteral("ocrSearchableTo(%1)").arg(out), [out](MainWindow& w) { w.ocrSearchableTo(out); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString out = cl.value("--agent-report");
      if (!out.isEmpty())
        plan.push_back({QStringLiteral("agentReportTo(%1)").arg(out), [out](MainWindow& w) { w.agentReportTo(out); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString lang = cl.value("--translate"), out = cl.value("--translate-out");
      if (!lang.isEmpty())
        plan.push_back({QStringLiteral("translateDocument(%1, %2)").arg(lang, out),
                        [lang, out](MainWindow& w) { w.translateDocument(lang, out); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString image = cl.value("--sign-image"), out = cl.value("--sign-out");
      // Without --sign-page the first page; the worker takes a number past the end as the first too.
      const int page = cl.has("--sign-page") ? commandLineInt(cl.value("--sign-page")) : 1;
      if (!image.isEmpty() && !out.isEmpty())
        plan.push_back({QStringLiteral("signWithImageTo(%1, %2, %3)").arg(image, out, QString::number(page - 1)),
                        [image, out, page](MainWindow& w) { w.signWithImageTo(image, out, page - 1); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString pfx = cl.value("--sign-cert"), out = cl.value("--sign-cert-out"), pw = cl.value("--sign-cert-pw");
      if (!pfx.isEmpty() && !out.isEmpty())
        plan.push_back({QStringLiteral("signWithCertTo(%1, %2)").arg(pfx, out),
                        [pfx, pw, out](MainWindow& w) { w.signWithCertTo(pfx, secretValue(pw), out); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString find = cl.value("--replace-text"), with = cl.value("--replace-with"), out = cl.value("--replace-out");
      if (!find.isEmpty() && !out.isEmpty())
        plan.push_back({QStringLiteral("replaceTextTo(%1, %2, %3)").arg(find, with, out),
                        [find, with, out](MainWindow& w) { w.replaceTextTo(find, with, out); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString out = cl.value("--sanitize-out");
      if (!out.isEmpty())
        plan.push_back({QStringLiteral("sanitizePdfTo(%1)").arg(out), [out](MainWindow& w) { w.sanitizePdfTo(out); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString text = cl.value("--watermark"), out = cl.value("--watermark-out");
      if (!text.isEmpty() && !out.isEmpty())
        plan.push_back({QStringLiteral("watermarkTo(%1, %2)").arg(text, out),
                        [text, out](MainWindow& w) { w.watermarkTo(text, out); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString out = cl.value("--page-numbers-out");
      if (!out.isEmpty())
        plan.push_back({QStringLiteral("pageNumbersTo(%1)").arg(out), [out](MainWindow& w) { w.pageNumbersTo(out); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString out = cl.value("--bates-out"), prefix = cl.value("--bates");
      const int start = cl.has("--bates-start") ? commandLineInt(cl.value("--bates-start")) : 1;
      if (!out.isEmpty())
        plan.push_back({QStringLiteral("batesStampTo(%1, %2, 6, %3)").arg(prefix, QString::number(start), out),
                        [prefix, start, out](MainWindow& w) { w.batesStampTo(prefix, start, 6, out); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString dir = cl.value("--split-bookmarks");
      if (!dir.isEmpty())
        plan.push_back({QStringLiteral("splitByBookmarksTo(%1)").arg(dir),
                        [dir](MainWindow& w) { w.splitByBookmarksTo(dir); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      // AxB with a lower-case x; an empty side reads as 0, which the worker refuses.
      const QString nup = cl.value("--nup"), out = cl.value("--nup-out");
      const QStringList parts = nup.split(QLatin1Char('x'));
      if (nup.isEmpty() || out.isEmpty() || parts.size() != 2) return;
      const int cols = commandLineInt(parts[0]), rows = commandLineInt(parts[1]);
      plan.push_back({QStringLiteral("nUpTo(%1, %2, %3)").arg(QString::number(cols), QString::number(rows), out),
                      [cols, rows, out](MainWindow& w) { w.nUpTo(cols, rows, out); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      if (cl.flag("--ocr"))
        plan.push_back({QStringLiteral("ocrCurrentPage()"), [](MainWindow& w) { w.ocrCurrentPage(); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      if (cl.flag("--fullscreen"))
        plan.push_back({QStringLiteral("toggleFullScreen()"), [](MainWindow& w) { w.toggleFullScreen(); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString path = cl.value("--save");
      if (!path.isEmpty())
        plan.push_back({QStringLiteral("saveDocumentTo(%1)").arg(path),
                        [path](MainWindow& w) { w.saveDocumentTo(path); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString path = cl.value("--print");
      if (!path.isEmpty())
        plan.push_back({QStringLiteral("printToFile(%1)").arg(path),
                        [path](MainWindow& w) { w.printToFile(path); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString path = cl.value("--export");
      if (!path.isEmpty())
        plan.push_back({QStringLiteral("exportPageTo(%1)").arg(path),
                        [path](MainWindow& w) { w.exportPageTo(path); }});
    },
    [](const CommandLine& cl, Plan& plan) {
      const QString query = cl.value("--find");
      if (!query.isEmpty())
        plan.push_back({QStringLiteral("findText(%1)").arg(query),
                        [query](MainWindow& w) { w.findText(query); }});
    },
};

}  // namespace

void loadCompiledResources() {
  static const bool done = (registerQuorvelResources(), true);
  (void)done;
}

CommandLine scanCommandLine(const QStringList& args) {
  CommandLine cl;
  const QString dashes = QStringLiteral("--");
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    const bool hasNext = i + 1 < args.size();
    if (valueOptions().contains(a)) {
      if (hasNext) cl.values.insert(a, args[++i]);
    } else if (flagOptions().contains(a)) {
      cl.flags.insert(a);
      if (a == QLatin1String("--two")) cl.layoutMode = 1;
      if (a == QLatin1String("--book")) cl.layoutMode = 2;
    } else if (a == QLatin1String("--split")) {
      if (i + 3 < args.size()) {
        cl.split = QStringList{args[i + 1], args[i + 2], args[i + 3]};
        i += 3;
      }
    } else if (!a.startsWith(dashes)) {
      if (cl.path.isEmpty()) cl.path = a;
    }
  }
  return cl;
}

int commandLineInt(const QString& text) {
  bool ok = false;
  const int v = text.toInt(&ok, 10);
  return ok ? v : 0;
}

int languageFromArguments(const QString& setting, const QStringList& args) {
  QString lang = setting;
  // Values are not skipped: in "--lang --lang en" the last pair wins.
  for (int i = 0; i + 1 < args.size(); ++i)
    if (args[i] == QLatin1String("--lang")) lang = args[i + 1];
  return lang.toLower() == QLatin1String("en") ? 1 : 0;
}

QString styleSheetForTheme(const QString& theme) {
  if (theme == QLatin1String("light")) return {};
  loadCompiledResources();
  QFile f(QStringLiteral(":/style.qss"));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll());
}

std::vector<CommandLineAction> planCommandLine(const CommandLine& cl) {
  Plan plan;
  for (Row row : kActionRows) row(cl, plan);
  return plan;
}

void runCommandLine(MainWindow& window, const QStringList& args) {
  for (const CommandLineAction& a : planCommandLine(scanCommandLine(args))) a.run(window);
}

}  // namespace quorvel::desktop
