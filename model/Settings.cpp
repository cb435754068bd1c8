#include "model/Settings.h"

namespace {

bool SameGroup(const TSettings& a, const TSettings& b, TGroup group) {
  switch (group) {
    case TGroup::Common:
      return a.Phone == b.Phone && a.React == b.React && a.Norm == b.Norm && a.Hours24 == b.Hours24 &&
             a.TimeOut == b.TimeOut && a.TimeOut2 == b.TimeOut2 && a.FastGuard == b.FastGuard &&
             a.WaitSend == b.WaitSend;
    case TGroup::Keys:
      return a.Key == b.Key;
    case TGroup::Gsm:
      return a.Module == b.Module && a.Ring == b.Ring;
    case TGroup::Adc:
      return a.Threshold == b.Threshold;
  }
  return false;
}

constexpr TGroup kGroups[] = {TGroup::Common, TGroup::Keys, TGroup::Gsm, TGroup::Adc};

}  // namespace

bool TSettings::operator==(const TSettings& other) const {
  if (Groups != other.Groups) return false;
  for (const TGroup g : kGroups)
    if (Groups.Has(g) && !SameGroup(*this, other, g)) return false;
  return true;
}

void CopyGroup(TSettings& to, const TSettings& from, TGroup group) {
  switch (group) {
    case TGroup::Common:
      to.Phone = from.Phone;
      to.React = from.React;
      to.Norm = from.Norm;
      to.Hours24 = from.Hours24;
      to.TimeOut = from.TimeOut;
      to.TimeOut2 = from.TimeOut2;
      to.FastGuard = from.FastGuard;
      to.WaitSend = from.WaitSend;
      break;
    case TGroup::Keys:
      to.Key = from.Key;
      break;
    case TGroup::Gsm:
      to.Module = from.Module;
      to.Ring = from.Ring;
      break;
    case TGroup::Adc:
      to.Threshold = from.Threshold;
      to.Reading = from.Reading;
      break;
  }
  to.Groups |= group;
}

void CopyGroups(TSettings& to, const TSettings& from, TGroups groups) {
  for (const TGroup g : kGroups)
    if (groups.Has(g)) CopyGroup(to, from, g);
}
