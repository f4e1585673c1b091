#include "report/form2.h"

#include <array>

#include "about/frmabout.h"
#include "drives/volumes.h"
#include "drives/waiting.h"
#include "notice/form1.h"
#include "toolkit/references.h"

namespace {

// The survey's result table: slot k is the caption of the k-th result label.
class LabelTable final : public survey::ResultTable {
 public:
  explicit LabelTable(std::array<tk::Label*, survey::kDrives> labels) : labels_(labels) {}
  std::string Read(int slot) const override { return labels_.at(slot - 1)->Caption(); }
  void Replace(int slot, const std::string& text) override {
    labels_.at(slot - 1)->SetCaption(text);
  }

 private:
  std::array<tk::Label*, survey::kDrives> labels_;
};

}  // namespace

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
  LabelTable table({&lbla, &lblb, &lbl1, &lbl2, &lbl3, &lbl4, &lbl5, &lbl6, &lbl7});
  {
    // Slow volumes: the windows keep painting while the survey waits, and
    // the clicks and keys that come meanwhile (also those still queued when
    // it ends) are dropped: a queued Refresh would run the wait again.
    bool waited = false;
    drives::SetWhileWaiting([&waited] {
      waited = true;
      tk::PaintPending();
    });
    const struct Unhook {
      ~Unhook() { drives::SetWhileWaiting(nullptr); }
    } unhook;
    survey::SurveyDrives(freeSpaceQuery, table);
    if (waited) tk::PaintPending();
  }
  // Which volume stands behind each letter, as of this survey (Linux only;
  // Windows users know their drive letters).
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
  for (int slot = 1; slot <= survey::kDrives; ++slot) {
    const std::string volume = drives::DriveVolume(slot);
    lines[slot - 1].first->SetToolTip(volume);
    lines[slot - 1].second->SetToolTip(volume);
  }
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
