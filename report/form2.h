// The report window: nine drive lines with their free megabytes, Refresh,
// About and Exit.
#pragma once

#include "survey/survey.h"
#include "toolkit/toolkit.h"

class Form2 final : public tk::Form {
 public:
  Form2();

  // The survey's free-space query: the platform's, unless a test hands in
  // its own.
  survey::FreeSpaceQuery freeSpaceQuery;

  // clang-format off
  tk::Label lblFreeA{*this, {.caption = "Number of Free Megabytes on A:", .rect = {120, 120, 2415, 255}, .tabIndex = 1}};
  tk::Label lbla{*this, {.caption = "sString = A:", .rect = {2880, 120, 855, 255}, .tabIndex = 0}};
  tk::Label lblFreeB{*this, {.caption = "Number of Free Megabytes on B:", .rect = {120, 360, 2415, 255}, .tabIndex = 3}};
  tk::Label lblb{*this, {.caption = "sString = B:", .rect = {2880, 360, 855, 255}, .tabIndex = 2}};
  tk::Label lblFreeC{*this, {.caption = "Number of Free Megabytes on C:", .rect = {120, 600, 2415, 255}, .tabIndex = 16}};
  tk::Label lbl1{*this, {.caption = "sString = C:", .rect = {2880, 600, 855, 255}, .tabIndex = 17}};
  tk::Label lblFreeD{*this, {.caption = "Number of Free Megabytes on D:", .rect = {120, 840, 2415, 255}, .tabIndex = 14}};
  tk::Label lbl2{*this, {.caption = "sString = D:", .rect = {2880, 840, 855, 255}, .tabIndex = 15}};
  tk::Label lblFreeE{*this, {.caption = "Number of Free Megabytes on E:", .rect = {120, 1080, 2415, 255}, .tabIndex = 13}};
  tk::Label lbl3{*this, {.caption = "sString = E:", .rect = {2880, 1080, 855, 255}, .tabIndex = 11}};
  tk::Label lblFreeF{*this, {.caption = "Number of Free Megabytes on F:", .rect = {120, 1320, 2415, 255}, .tabIndex = 12}};
  tk::Label lbl4{*this, {.caption = "sString = F:", .rect = {2880, 1320, 855, 255}, .tabIndex = 10}};
  tk::Label lblFreeG{*this, {.caption = "Number of Free Megabytes on G:", .rect = {120, 1560, 2415, 255}, .tabIndex = 9}};
  tk::Label lbl5{*this, {.caption = "sString = G:", .rect = {2880, 1560, 855, 255}, .tabIndex = 6}};
  tk::Label lblFreeH{*this, {.caption = "Number of Free Megabytes on H:", .rect = {120, 1800, 2415, 255}, .tabIndex = 8}};
  tk::Label lbl6{*this, {.caption = "sString = H:", .rect = {2880, 1800, 855, 255}, .tabIndex = 5}};
  tk::Label lblFreeI{*this, {.caption = "Number of Free Megabytes on I:", .rect = {120, 2040, 2415, 255}, .tabIndex = 7}};
  tk::Label lbl7{*this, {.caption = "sString = I:", .rect = {2880, 2040, 855, 255}, .tabIndex = 4}};
  tk::CommandButton Command1{*this, {.caption = "Refresh", .rect = {120, 2400, 855, 255}, .tabIndex = 18}, &Form2::Command1_Click};
  tk::CommandButton Command2{*this, {.caption = "About", .rect = {1560, 2400, 855, 255}, .tabIndex = 19}, &Form2::Command2_Click};
  tk::CommandButton Command3{*this, {.caption = "Exit", .rect = {2880, 2400, 855, 255}, .tabIndex = 20}, &Form2::Command3_Click};
  // clang-format on

  void Command1_Click();  // Refresh
  void Command2_Click();  // About
  void Command3_Click();  // Exit
  // Closing through the window system does what Exit does.
  void Form_Close() override;

 protected:
  void Form_Load() override;

 private:
  void Survey();
};
