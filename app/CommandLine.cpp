#include "app/CommandLine.h"

#include <algorithm>
#include <optional>
#include <string>

#include "app/StartupArgs.h"
#include "slot/SettingNumber.h"
#include "slot/SlotSections.h"

namespace {

struct Option {
  const char* name;
  const char* valueName;  // nullptr: the option takes no value
  const char* help;       // nullptr: not listed in the usage (the debug switch)
  void (*apply)(CommandLine& line, const char* value);
};

// One request to the running program per command line; N is a slot number.
void setControl(CommandLine& line, const char* request, const char* slot) {
  if (!line.control.empty()) {
    line.error = "要求は1つだけ指定できます: --" + line.control + " と --" + request;
    return;
  }
  line.control = request;
  if (!slot) return;
  const std::optional<int> number = setting_number::parse(slot, 0, slot_sections::maxSlots - 1);
  if (!number) {
    line.error = std::string("--") + request + " のスロット番号が無効です: " + slot + " (0～" +
                 std::to_string(slot_sections::maxSlots - 1) + ")";
    return;
  }
  line.controlSlot = *number;
}

const Option options[] =
    {
        {"--help", nullptr, "この使い方を表示して終了します", [](CommandLine& l, const char*) { l.help = true; }},
        {"--version", nullptr, "バージョンを表示して終了します", [](CommandLine& l, const char*) { l.version = true; }},
        {"--config", "PATH", "設定ファイル (INI) を指定します",
         [](CommandLine& l, const char* v) { l.configPath = v; }},
        {"--headless", nullptr, "ウィンドウを開かずに全スロットを動かします (ディスプレイ不要)",
         [](CommandLine& l, const char*) { l.headless = true; }},
        {"--quiet", nullptr, "ウィンドウなしの実行で接続ログを標準エラーに出しません",
         [](CommandLine& l, const char*) { l.quiet = true; }},
        {"--check", nullptr, "設定ファイルを検査し、起動するスロットを表示して終了します (ポートは開きません)",
         [](CommandLine& l, const char*) { l.check = true; }},
        {"--log-format", "FORMAT", "接続ログの形式: text (既定) または json (1行に1つの JSON)",
         [](CommandLine& l, const char* v) {
  if (std::string(v) != "text" && std::string(v) != "json")
    l.error = std::string("--log-format は text か json です: ") + v;
  l.logFormat = v;
         }},
        {"--status", nullptr, "動作中のプログラムに各スロットの状態を尋ねます",
         [](CommandLine& l, const char*) { setControl(l, "status", nullptr); }},
        {"--connections", "N", "動作中のプログラムにスロット N の接続一覧を尋ねます",
         [](CommandLine& l, const char* v) { setControl(l, "connections", v); }},
        {"--reload", nullptr, "動作中のプログラムに設定ファイルを読み直させます",
         [](CommandLine& l, const char*) { setControl(l, "reload", nullptr); }},
        {"--on", "N", "動作中のプログラムのスロット N を ON にします",
         [](CommandLine& l, const char* v) { setControl(l, "on", v); }},
        {"--off", "N", "動作中のプログラムのスロット N を OFF にします",
         [](CommandLine& l, const char* v) { setControl(l, "off", v); }},
        {"--fault", "N [設定...]",
         "動作中のプログラムのスロット N の障害を変えます (例: --fault 0 latency=200 direction=down、"
         "--fault 0 clear; 設定なしで表示)",
         [](CommandLine& l, const char* v) { setControl(l, "fault", v); }},
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
    // The fault's settings are the words that follow, up to the next option.
    while (line.control == "fault" && i + 1 < argc && std::string(argv[i + 1]).rfind("--", 0) != 0)
      line.controlText += (line.controlText.empty() ? "" : " ") + std::string(argv[++i]);
  }
  if (line.error.empty() && !line.control.empty() && (line.check || line.headless))
    line.error = "--" + line.control + " は --check や --headless と一緒には使えません";
  return line;
}

std::string usageText() {
  std::string text = "使い方: RelvaneTiv [オプション]\n";
  for (const Option& option : options) {
    if (!option.help) continue;
    std::string left = std::string("  ") + option.name;
    if (option.valueName) left += std::string(" ") + option.valueName;
    left.resize(std::max<std::size_t>(left.size() + 2, 24), ' ');
    text += left + option.help + "\n";
  }
  text +=
      "設定ファイルは --config がなければ、実行ファイルと同じフォルダに RelvaneTiv.ini が\n"
      "あればそれを、なければ $XDG_CONFIG_HOME/relvanetiv/RelvaneTiv.ini を使います。そこにも\n"
      "なく開始フォルダにあれば (1.0.1 の置き場所)、一度だけそこへコピーして使います。\n";
  return text;
}
