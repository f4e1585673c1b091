// Until the registry reader lands the tool is never found.
#include "about/frmabout.h"

void frmAbout::StartSysInfo() { tk::MsgBox("System Information Is Unavailable At This Time"); }

bool frmAbout::GetKeyValue(const about::RegistryKey&, const std::string&, const std::string&,
                           std::string& KeyVal) {
  KeyVal.clear();
  return false;
}
