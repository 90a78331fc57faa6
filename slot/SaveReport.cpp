#include "slot/SaveReport.h"

#include <cstring>

std::string CSaveReport::text(const std::string& path, int error) {
  return "設定を保存できませんでした: " + path + " (" + std::strerror(error) +
         ")。変更はメモリ上に保持し、次の保存で再び書き込みます";
}

void CSaveReport::failed(const std::string& path, int error) { tell(text(path, error)); }

void CSaveReport::tell(const std::string& text) {
  if (shown.insert(text).second && show) show(text);
}
