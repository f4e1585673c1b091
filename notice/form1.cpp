#include "notice/form1.h"

#include "format/format.h"
#include "report/form2.h"
#include "toolkit/references.h"

Form1::Form1()
    : tk::Form({.caption = "Tamberlode v0.1a",
                .backColor = tk::kWhite,
                .clientWidth = 4020,
                .clientHeight = 5145,
                .frame = tk::Frame::Sizable,
                .left = 225,
                .top = 510}) {}

void Form1::Form_Load() {
  Command1.SetVisible(false);
  Timer1.SetInterval(1000);
}

// The count lives in Label1's caption, not in a variable: read it, lower it,
// write it back. The timer never stops, so the hidden count goes on below 0.
void Form1::Timer1_Timer() {
  Label1.SetCaption(format::Str(format::Val(Label1.Caption()) - 1));
  if (format::Val(Label1.Caption()) == 0) Command1.SetVisible(true);
  if (format::Val(Label1.Caption()) == 0) Label1.SetVisible(false);
}

void Form1::Command1_Click() {
  tk::Use<Form1>().Hide();
  tk::Use<Form2>().Show();
}
