// The start notice window: banner, credits, addresses, notice texts and a
// count from 5 that leads to "Start the Application".
#pragma once

#include "notice/pictures.h"
#include "toolkit/toolkit.h"

class Form1 final : public tk::Form {
 public:
  Form1();

  // clang-format off
  tk::Timer Timer2{*this, {.interval = 0}};  // nothing ever starts it
  tk::Timer Timer1{*this, {.interval = 0}, &Form1::Timer1_Timer};
  tk::CommandButton Command1{*this, {.caption = "Start the Application", .rect = {1440, 4200, 1215, 615}, .tabIndex = 5}, &Form1::Command1_Click};
  tk::PictureBox Picture3{*this, {.rect = {360, 120, 3255, 375}, .tabIndex = 2, .picture = notice::BannerBmp(),
                                  .description = "Tamberlode v0.1a"}};
  tk::PictureBox Picture2{*this, {.rect = {120, 1080, 3735, 375}, .tabIndex = 1, .picture = notice::EmailBmp(),
                                  .description = "tamberlode@example.org"}};
  tk::PictureBox Picture1{*this, {.rect = {240, 600, 3495, 495}, .tabIndex = 0, .picture = notice::CreditBmp(),
                                  .description = "Produced by the Tamberlode developers"}};
  tk::Label Label1{*this, {.caption = "5", .rect = {1800, 4200, 375, 495}, .tabIndex = 7, .alignment = tk::Alignment::Center,
                           .font = tk::Font{.name = "Comic Sans MS", .points = 21.75}}};
  tk::Label Label7{*this, {.caption = "http://www.example.org/tamberlode/", .rect = {120, 1485, 3795, 255}, .tabIndex = 6,
                           .alignment = tk::Alignment::Right,
                           .font = tk::Font{.name = "MS Sans Serif", .points = 8.25, .underline = true},
                           .foreColor = tk::Rgb(0, 0, 192)}};
  tk::Label Label4{*this, {.caption = "", .rect = {240, 3240, 3375, 975}, .tabIndex = 4, .alignment = tk::Alignment::Center,
                           .foreColor = tk::kBlack}};
  tk::Label Label3{*this, {.caption = "", .rect = {240, 1920, 3375, 1455}, .tabIndex = 3, .alignment = tk::Alignment::Center,
                           .foreColor = tk::kBlack}};
  // clang-format on

  void Command1_Click();
  void Timer1_Timer();

 protected:
  void Form_Load() override;
};
