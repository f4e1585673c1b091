// The About window: title, version, description, and the door to the
// system-information tool.
#pragma once

#include <string>

#include "about/registry.h"
#include "identity/icon.h"
#include "toolkit/toolkit.h"

class frmAbout final : public tk::Form {
 public:
  frmAbout();

  // clang-format off
  tk::PictureBox picIcon{*this, {.rect = {240, 240, 480, 480}, .tabIndex = 1, .picture = identity::IconIco(), .description = "Tamberlode icon"}};
  tk::CommandButton cmdOK{*this, {.caption = "OK", .rect = {1365, 2625, 1260, 345}, .tabIndex = 0, .isDefault = true, .cancel = true}, &frmAbout::cmdOK_Click};
  tk::CommandButton cmdSysInfo{*this, {.caption = "&System Info...", .rect = {1380, 3075, 1245, 345}, .tabIndex = 2}, &frmAbout::cmdSysInfo_Click};
 private:
  tk::Line separatorShadow_{*this, {.x1 = 90, .y1 = 2445, .x2 = 3840, .y2 = 2445, .color = tk::Rgb(128, 128, 128), .width = 1}};
 public:
  tk::Label lblDescription{*this, {.caption = "Tamberlode is a small application that can be used to keep an easy track of how much disk space is available on all of the storage devices connected to your system.",
                                   .rect = {120, 1320, 3525, 930}, .tabIndex = 3, .alignment = tk::Alignment::Center, .foreColor = tk::kBlack}};
  tk::Label lblTitle{*this, {.caption = "Application Title", .rect = {1080, 240, 1725, 480}, .tabIndex = 4, .alignment = tk::Alignment::Center, .foreColor = tk::kBlack}};
 private:
  tk::Line separatorHighlight_{*this, {.x1 = 105, .y1 = 2460, .x2 = 5654, .y2 = 2460, .color = tk::kWhite, .width = 2}};
 public:
  tk::Label lblVersion{*this, {.caption = "Version", .rect = {1080, 720, 1725, 225}, .tabIndex = 5, .alignment = tk::Alignment::Center}};
  // clang-format on

  // The design's control array Line1, the etched separator: index 1 its grey
  // shadow, drawn first; index 0 its white highlight, a pixel below and right.
  tk::Line& Line1(int index) { return index == 0 ? separatorHighlight_ : separatorShadow_; }

  void cmdOK_Click();
  void cmdSysInfo_Click();

  // The launcher: finds the system-information tool through the registry and
  // starts it, or says it is unavailable. Traps every run-time error.
  void StartSysInfo();
  // Reads one registry value as text; false (and KeyVal empty) when it is missing.
  bool GetKeyValue(const about::RegistryKey& KeyRoot, const std::string& KeyName,
                   const std::string& SubKeyRef, std::string& KeyVal);

  // The registry the launcher reads: a test's own, or none: the platform's,
  // made for each press of System Info.
  about::Registry* registry = nullptr;

 protected:
  void Form_Load() override;
};
