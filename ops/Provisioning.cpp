#include "ops/Provisioning.h"

#include "ops/PanelSession.h"
#include "protocol/DevOstrel.h"

TOperationResult ReadPanel(TPanelSession& session, bool adc, TSettings* settings) {
  TOperationResult result = session.Run(Modes::ReadAll, Pages::Common);
  if (!result.Succeeded()) return result;
  TSettings read = result.Settings;
  if (adc) {
    result = session.Run(Modes::ReadPage, Pages::ACP);
    if (!result.Succeeded()) return result;
    CopyGroup(read, result.Settings, TGroup::Adc);
  }
  read.Groups = read.Groups & PanelGroups(adc);
  *settings = read;
  return result;
}

TOperationResult WritePanel(TPanelSession& session, const TSettings& settings, bool adc) {
  TOperationResult result = session.Run(Modes::WriteAll, Pages::Common, settings);
  if (!result.Succeeded() || !adc) return result;
  return session.Run(Modes::WritePage, Pages::ACP, settings);
}
