// TformGSM: the GSM page: the type of the attached GSM module and the ring
// duration. Controls, named as the device and the settings file address them:
//   RzPanel1 > RzGroupBox2 "Настройка" > RzGroupBox1 "Подлючённый GSM модуль"
//   rb1 "Siemens 35" (selected at start), rb2 "Siemens 45", rb3 "Модем"
//   lbRing "Длительность звонка", cbRing items "1".."6" (item 0 at start;
//   pick from the list only)
// The page has no handlers of its own. GUI thread only.
#pragma once

#include "ui/Page.h"

class TformGSM : public TPage {
  Q_OBJECT

 public:
  // The caption of module 0..2's radio button: "Siemens 35", "Siemens 45", "Модем".
  static QString ModuleCaption(int module);
  explicit TformGSM(QWidget* parent = nullptr);
};
