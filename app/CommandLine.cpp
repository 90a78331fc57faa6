#include "app/CommandLine.h"

#include <algorithm>

#include "app/StartupArgs.h"

namespace {

struct Option {
  const char* name;
  const char* valueName;  // nullptr: the option takes no value
  const char* help;       // nullptr: not listed in the usage (the debug switch)
  void (*apply)(CommandLine& line, const char* value);
};

const Option options[] = {
    {"--help", nullptr, "この使い方を表示して終了します", [](CommandLine& l, const char*) { l.help = true; }},
    {"--version", nullptr, "バージョンを表示して終了します", [](CommandLine& l, const char*) { l.version = true; }},
    {"--config", "PATH", "設定ファイル (INI) を指定します", [](CommandLine& l, const char* v) { l.configPath = v; }},
    {"--headless", nullptr, "ウィンドウを開かずに全スロットを動かします (ディスプレイ不要)",
     [](CommandLine& l, const char*) { l.headless = true; }},
    {"--quiet", nullptr, "ウィンドウなしの実行で接続ログを標準エラーに出しません",
     [](CommandLine& l, const char*) { l.quiet = true; }},
    {"-D583", nullptr, nullptr, [](CommandLine& l, const char*) { l.debugMode = 1; }},
};

const Option* findOption(const std::string& name) {
  for (const Option& option : options)
    if (name == option.name) return &option;
  return nullptr;
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  for (int i = 1; i < argc && line.error.empty(); ++i) {
    const std::string argument = argv[i];
    // "--name=value" as well as "--name value" for options that take a value.
    const std::size_t equals = argument.rfind("--", 0) == 0 ? argument.find('=') : std::string::npos;
    const std::string name = argument.substr(0, equals);
    const Option* option = isDebugSwitch(argv[i]) ? findOption("-D583") : findOption(name);
    if (!option || (equals != std::string::npos && !option->valueName)) {
      line.error = "不明なオプションです: " + argument;
      break;
    }
    std::string value;
    if (option->valueName) {
      if (equals != std::string::npos) {
        value = argument.substr(equals + 1);
      } else if (i + 1 < argc) {
        value = argv[++i];
      }
      if (value.empty()) {
        line.error = std::string(option->name) + " には " + option->valueName + " が必要です";
        break;
      }
    }
    option->apply(line, value.c_str());
  }
  return line;
}

std::string usageText() {
  std::string text = "使い方: RelvaneTiv [オプション]\n";
  for (const Option& option : options) {
    if (!option.help) continue;
    std::string left = std::string("  ") + option.name;
    if (option.valueName) left += std::string(" ") + option.valueName;
    left.resize(std::max<std::size_t>(left.size() + 2, 20), ' ');
    text += left + option.help + "\n";
  }
  text +=
      "設定ファイルは --config がなければ、実行ファイルと同じフォルダに RelvaneTiv.ini が\n"
      "あればそれを、なければ $XDG_CONFIG_HOME/relvanetiv/RelvaneTiv.ini を使います。そこにも\n"
      "なく開始フォルダにあれば (1.0.1 の置き場所)、一度だけそこへコピーして使います。\n";
  return text;
}
