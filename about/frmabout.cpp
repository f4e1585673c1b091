#include "about/frmabout.h"

#include "format/format.h"

frmAbout::frmAbout()
    : tk::Form({.caption = "About MyApp",
                .backColor = tk::kWhite,
                .clientWidth = 4035,
                .clientHeight = 3555,
                .frame = tk::Frame::FixedDialog,
                .left = 4335,
                .top = 495}) {}

void frmAbout::Form_Load() {
  const tk::AppProperties app = tk::App();
  SetCaption("About " + app.title);
  lblVersion.SetCaption("Version " + format::Str(app.major) + "." + format::Str(app.minor) + "." +
                        format::Str(app.revision));
  lblTitle.SetCaption(app.title);
}

// Unloads this very window (not through the window reference); the next
// opening loads it afresh.
void frmAbout::cmdOK_Click() { Unload(); }

void frmAbout::cmdSysInfo_Click() { StartSysInfo(); }
