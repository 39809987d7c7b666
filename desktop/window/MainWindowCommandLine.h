// The window's command line: what main reads before the window exists (language, theme) and
// the actions it runs on the shown window, in their fixed order.
#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace quorvel::desktop {

class MainWindow;

// What the scan of the window's arguments found.
struct CommandLine {
  QString path;                     // the first bare word
  QHash<QString, QString> values;   // value options that had a value, last one wins
  QSet<QString> flags;
  int layoutMode = 0;               // --two 1, --book 2, the last given wins; 0 none
  std::optional<QStringList> split; // --split first last out

  QString value(const char* option) const { return values.value(QString::fromLatin1(option)); }
  bool has(const char* option) const { return values.contains(QString::fromLatin1(option)); }
  bool flag(const char* option) const { return flags.contains(QString::fromLatin1(option)); }
};

// `args` are the arguments after the program name.
CommandLine scanCommandLine(const QStringList& args);

// A number option's value in base 10; anything that is not an int reads as 0.
int commandLineInt(const QString& text);

// 1 (English) when the last "--lang" that has a value, else the setting, is "en" in any case.
int languageFromArguments(const QString& setting, const QStringList& args);

// Registers the compiled-in style sheet and icons; safe to call more than once.
void loadCompiledResources();

// The dark theme's sheet unless the theme is exactly "light"; empty when none applies.
QString styleSheetForTheme(const QString& theme);

struct CommandLineAction {
  QString call;  // what it does, for inspection; never holds a secret
  std::function<void(MainWindow&)> run;
};

// The actions the command line asks for, in the fixed order (not the order of the options).
std::vector<CommandLineAction> planCommandLine(const CommandLine& cl);

// Scans `args` and runs the planned actions one after another on the window.
void runCommandLine(MainWindow& window, const QStringList& args);

}  // namespace quorvel::desktop
