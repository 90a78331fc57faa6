#include "app/AboutDlg.h"

#include "app/HomePage.h"
#include "app/VersionRecord.h"
#include "res/Resource.h"
#include "ui/DataExchange.h"

CAboutDlg::CAboutDlg(VersionSource source) : ui::CDialog(IDD_ABOUTBOX), versionSource(std::move(source)) {
  if (!versionSource) versionSource = [] { return versionText(); };
  onCommand(IDC_HOMEPAGE_LINK, [] { openHomePage(); });
}

CAboutDlg::~CAboutDlg() = default;

bool CAboutDlg::onInitDialog() {
  versionLine = aboutVersionLine(versionSource());
  updateData(false);
  return true;
}

void CAboutDlg::doDataExchange(ui::CDataExchange& dx) { ui::ddxText(dx, IDC_VERSION, versionLine); }
