// The recording of the window's operations under the current site, and the
// offer after "Прочитать всё" with no current site: attach the read to a
// site of the library (those that share a phone number with the panel
// first), to a new one, or to none.
#include <QDateTime>
#include <QPushButton>
#include <QSysInfo>
#include <QSet>

#include "library/LibraryUse.h"
#include "persist/WireText.h"
#include "ui/MainForm.h"
#include "ui/SiteDialogs.h"
#include "ui/SiteLibrary.h"
#include "ui/Sites.h"
#include "ui/StatusPane.h"

namespace {
// The offer lists the sites of a large library too; the search narrows it.
constexpr int kAttachMostSites = 100000;
}  // namespace

void TSites::LinkStarted(const QString& port, const QString& phone) {
  port_ = phone.isEmpty() ? port : phone;
  firmware_.clear();
  // A new connection may be another panel: the offer starts afresh.
  declined_ = false;
  unattached_.reset();
  offer_->hide();
}

TRecord TSites::MakeRecord(const TOperationEnd& end) {
  // The version the connection check saw, kept for writes and for a link
  // that went down before the record was made.
  if (!form_.Firmware().isEmpty()) firmware_ = form_.Firmware();
  TRecord record;
  record.Time = QDateTime::currentDateTimeUtc();
  record.Operator = SystemUser();
  record.Host = QSysInfo::machineHostName();
  record.Kind = end.Kind;
  record.Outcome = end.Outcome;
  record.Detail = end.Detail;
  record.Firmware = end.Settings.Version.empty() ? firmware_ : FromWire(end.Settings.Version);
  record.Port = port_;
  return record;
}

void TSites::OperationEnded(const TOperationEnd& end) {
  const TRecord record = MakeRecord(end);
  if (!current_.isEmpty()) {
    if (deferred_) {
      // Queued before the record: the library is made first.
      library_->Open(*deferred_);
      deferred_.reset();
    }
    library_->Store(current_, record, end.Settings);
    return;
  }
  if (end.WholeRead && end.Outcome == TRecordOutcome::Success && !declined_ && library_->IsOpen() &&
      !library_->ReadOnly()) {
    unattached_ = end;
    unattachedRecord_ = record;
    OfferAttach(end);
  }
}

void TSites::OfferAttach(const TOperationEnd& end) {
  QStringList phones;
  for (const std::string& phone : end.Settings.Phone)
    if (!phone.empty() && !phones.contains(QString::fromStdString(phone))) phones << QString::fromStdString(phone);
  offerSharing_.clear();
  offerOthers_.clear();
  offer_->show();
  // Every site, those that share a phone number with the panel first.
  struct TOffer {
    std::vector<TSite> Sharing;
    std::vector<TSite> Others;
  };
  library_->Run<TOffer>(
      [phones](TLibrary& library) {
        TOffer offer;
        if (!library.IsOpen()) return offer;
        QSet<qint64> sharing;
        for (const QString& phone : phones)
          for (TSite& site : library.Search(phone, 50))
            if (!sharing.contains(site.Id)) {
              sharing.insert(site.Id);
              offer.Sharing.push_back(std::move(site));
            }
        for (TSite& site : library.Search(QString(), kAttachMostSites))
          if (!sharing.contains(site.Id)) offer.Others.push_back(std::move(site));
        return offer;
      },
      [this](TOffer offer) {
        offerSharing_ = std::move(offer.Sharing);
        offerOthers_ = std::move(offer.Others);
        if (attach_ && attach_->isVisible()) attach_->SetSites(offerSharing_, offerOthers_);
        emit Refreshed();
      });
}

void TSites::OpenAttachDialog() {
  if (!unattached_) return;
  if (!attach_) {
    attach_ = new TdlgAttach(&form_);
    connect(attach_, &TdlgAttach::Attach, this, &TSites::Attach);
    connect(attach_, &TdlgAttach::Declined, this, &TSites::DeclineAttach);
    connect(attach_, &TdlgAttach::NewSite, this, [this] {
      // A card cancelled is "not now": the offer stays in the status bar.
      EditAndSave(QString(), TSite(), QString(), [this](const QString& saved) {
        if (!saved.isEmpty()) Attach(saved);
      });
    });
  }
  attach_->SetSites(offerSharing_, offerOthers_);
  attach_->show();
  attach_->raise();
  attach_->activateWindow();
}

void TSites::DeclineAttach() {
  declined_ = true;
  unattached_.reset();
  offer_->hide();
}

void TSites::Attach(const QString& site) {
  if (!unattached_) return;
  const TOperationEnd end = *unattached_;
  unattached_.reset();
  offer_->hide();
  library_->Store(site, unattachedRecord_, end.Settings);
  SetCurrentSite(site);
  if (attach_) attach_->hide();
}
