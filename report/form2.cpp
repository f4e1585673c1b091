#include "report/form2.h"

#include <array>

#include "about/frmabout.h"
#include "drives/volumes.h"
#include "notice/form1.h"
#include "toolkit/references.h"

Form2::Form2()
    : tk::Form({.caption = "Free Space on Drives A: to I:",
                .backColor = tk::kWhite,
                .clientWidth = 3900,
                .clientHeight = 2745,
                .frame = tk::Frame::Sizable,
                .left = 225,
                .top = 510}),
      freeSpaceQuery(drives::PlatformQuery()) {}

void Form2::Survey() {
  // The survey runs, marking included, on a table of its own: the window
  // keeps showing the figures it had until the new ones are all true.
  survey::TextTable results;
  survey::Volumes volumes;
  {
    // Slow volumes: the windows repaint what they showed, the busy cursor
    // shows, and the clicks and keys that come meanwhile are dropped (a
    // queued Refresh would run the wait again).
    tk::Wait wait;
    survey::FreeSpaceQuery query = freeSpaceQuery;
    query.whileWaiting = wait.Hook();
    volumes = survey::SurveyDrives(query, results);
  }
  // The nine figures change in one repaint, each drive line's tooltip with
  // them: which volume stands behind the letter, from the same answer
  // (Linux only; Windows users know their drive letters).
  const std::array<std::pair<tk::Label*, tk::Label*>, survey::kDrives> lines = {{
      {&lblFreeA, &lbla},
      {&lblFreeB, &lblb},
      {&lblFreeC, &lbl1},
      {&lblFreeD, &lbl2},
      {&lblFreeE, &lbl3},
      {&lblFreeF, &lbl4},
      {&lblFreeG, &lbl5},
      {&lblFreeH, &lbl6},
      {&lblFreeI, &lbl7},
  }};
  ChangeTogether([&] {
    for (int slot = 1; slot <= survey::kDrives; ++slot) {
      const auto [caption, result] = lines[slot - 1];
      result->SetCaption(results.Read(slot));
      caption->SetToolTip(volumes[slot - 1]);
      result->SetToolTip(volumes[slot - 1]);
    }
  });
}

void Form2::Form_Load() { Survey(); }

void Form2::Command1_Click() { Survey(); }

void Form2::Command2_Click() { tk::Use<frmAbout>().Show(); }

void Form2::Command3_Click() {
  tk::Use<Form1>().Unload();
  tk::Use<Form2>().Unload();
  tk::Use<frmAbout>().Unload();
}

void Form2::Form_Close() { Command3_Click(); }
