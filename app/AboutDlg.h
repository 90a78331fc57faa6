#pragma once
// The about box: the product's name with the version from the program's version
// record, a fixed line and the link to the maker's home page.
#include <functional>
#include <string>

#include "ui/Dialog.h"

class CAboutDlg : public ui::CDialog {
  Q_OBJECT
public:
  // Where the "Ver.:..." text comes from; the program's own cached record by default.
  using VersionSource = std::function<const char*()>;

  explicit CAboutDlg(VersionSource versionSource = {});
  ~CAboutDlg() override;

  std::string versionLine;  // shown in the version line (control 1028)

protected:
  bool onInitDialog() override;
  void doDataExchange(ui::CDataExchange& dx) override;

private:
  VersionSource versionSource;
};
